#include "util/Sha256Ni.h"

#if defined(__i386__) || defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

bool KvShaNiAvailable()
{
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const bool ssse3 = (c & (1u << 9)) != 0, sse41 = (c & (1u << 19)) != 0;
    if (!ssse3 || !sse41 || __get_cpuid_max(0, nullptr) < 7)
        return false;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & (1u << 29)) != 0;
}

// The stack of a thread the system started may be aligned to 4 bytes only;
// the vector registers spilled here need 16.
__attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer)) void KvShaNiBlocks(uint32_t state[8],
                                                                                       const uint8_t* data,
                                                                                       size_t blocks)
{
    // The instructions keep the state as ABEF and CDGH.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i savedAbef = abef, savedCdgh = cdgh;
        // Four words of the message schedule at a time, in a ring of four.
        __m128i w[4];
        for (int i = 0; i < 4; ++i)
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
        for (int g = 0; g < 16; ++g) {
            __m128i x = _mm_add_epi32(w[g & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kKvSha256Rounds + 4 * g)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, x);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(x, 0x0E));
            if (g < 12) {
                __m128i next = _mm_sha256msg1_epu32(w[g & 3], w[(g + 1) & 3]);
                next = _mm_add_epi32(next, _mm_alignr_epi8(w[(g + 3) & 3], w[(g + 2) & 3], 4));
                w[g & 3] = _mm_sha256msg2_epu32(next, w[(g + 3) & 3]);
            }
        }
        abef = _mm_add_epi32(abef, savedAbef);
        cdgh = _mm_add_epi32(cdgh, savedCdgh);
    }

    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

#else

bool KvShaNiAvailable() { return false; }
void KvShaNiBlocks(uint32_t*, const uint8_t*, size_t) {}

#endif
