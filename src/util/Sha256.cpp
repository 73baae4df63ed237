#include "util/Sha256.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define KV_SHA_X86 1
#endif

namespace {

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBE(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// One round with the eight working values named where they stand, so that
// the unrolled rounds move no values between variables; the message
// schedule is kept as a ring of sixteen words.
#define KV_SHA_ROUND(a, b, c, d, e, f, g, h, i)                                                      \
    do {                                                                                             \
        uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (g ^ (e & (f ^ g))) + kRound[i] + \
                      w[(i) & 15];                                                                   \
        d += t1;                                                                                     \
        h = t1 + (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) | (c & (a | b)));               \
    } while (0)

#define KV_SHA_EIGHT(i)                                                                              \
    do {                                                                                             \
        KV_SHA_ROUND(a, b, c, d, e, f, g, h, (i));                                                   \
        KV_SHA_ROUND(h, a, b, c, d, e, f, g, (i) + 1);                                               \
        KV_SHA_ROUND(g, h, a, b, c, d, e, f, (i) + 2);                                               \
        KV_SHA_ROUND(f, g, h, a, b, c, d, e, (i) + 3);                                               \
        KV_SHA_ROUND(e, f, g, h, a, b, c, d, (i) + 4);                                               \
        KV_SHA_ROUND(d, e, f, g, h, a, b, c, (i) + 5);                                               \
        KV_SHA_ROUND(c, d, e, f, g, h, a, b, (i) + 6);                                               \
        KV_SHA_ROUND(b, c, d, e, f, g, h, a, (i) + 7);                                               \
    } while (0)

void PortableBlocks(uint32_t state[8], const uint8_t* p, size_t blocks)
{
    for (; blocks > 0; --blocks, p += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = LoadBE(p + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 64; i += 16) {
            if (i > 0) {
                for (int j = 0; j < 16; ++j) {
                    uint32_t w15 = w[(j + 1) & 15], w2 = w[(j + 14) & 15];
                    w[j] += (Rotr(w15, 7) ^ Rotr(w15, 18) ^ (w15 >> 3)) + w[(j + 9) & 15] +
                            (Rotr(w2, 17) ^ Rotr(w2, 19) ^ (w2 >> 10));
                }
            }
            KV_SHA_EIGHT(i);
            KV_SHA_EIGHT(i + 8);
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#undef KV_SHA_EIGHT
#undef KV_SHA_ROUND

#ifdef KV_SHA_X86

bool ProcessorHasSha()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const bool ssse3 = (c & bit_SSSE3) != 0, sse41 = (c & bit_SSE4_1) != 0;
    if (!ssse3 || !sse41 || __get_cpuid_max(0, nullptr) < 7)
        return false;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & bit_SHA) != 0;
}

// Four rounds of the processor's engine. msg holds the four message words of
// the rounds; the schedule of later words is advanced on the way: next gets
// its second half (from the third group on), prev its first (up to the
// thirteenth).
#define KV_SHA_QUAD(i, msg, prev, next)                                                             \
    do {                                                                                            \
        __m128i k = _mm_add_epi32(msg, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * (i)))); \
        s1 = _mm_sha256rnds2_epu32(s1, s0, k);                                                      \
        if ((i) >= 3 && (i) <= 14) {                                                                \
            next = _mm_add_epi32(next, _mm_alignr_epi8(msg, prev, 4));                              \
            next = _mm_sha256msg2_epu32(next, msg);                                                 \
        }                                                                                           \
        s0 = _mm_sha256rnds2_epu32(s0, s1, _mm_shuffle_epi32(k, 0x0E));                             \
        if ((i) >= 1 && (i) <= 12)                                                                  \
            prev = _mm_sha256msg1_epu32(prev, msg);                                                 \
    } while (0)

// The stack of a 32-bit Windows thread is only 4-byte aligned: realigned
// here, since the compiler may keep vectors on it.
__attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer)) void ProcessorBlocks(uint32_t state[8],
                                                                                         const uint8_t* p,
                                                                                         size_t blocks)
{
    const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    // The engine keeps the state as ABEF and CDGH.
    __m128i t = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    __m128i s1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i s0 = _mm_alignr_epi8(t, s1, 8);
    s1 = _mm_blend_epi16(s1, t, 0xF0);
    for (; blocks > 0; --blocks, p += 64) {
        const __m128i abef = s0, cdgh = s1;
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), swap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), swap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), swap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), swap);
        KV_SHA_QUAD(0, m0, m3, m1);
        KV_SHA_QUAD(1, m1, m0, m2);
        KV_SHA_QUAD(2, m2, m1, m3);
        KV_SHA_QUAD(3, m3, m2, m0);
        KV_SHA_QUAD(4, m0, m3, m1);
        KV_SHA_QUAD(5, m1, m0, m2);
        KV_SHA_QUAD(6, m2, m1, m3);
        KV_SHA_QUAD(7, m3, m2, m0);
        KV_SHA_QUAD(8, m0, m3, m1);
        KV_SHA_QUAD(9, m1, m0, m2);
        KV_SHA_QUAD(10, m2, m1, m3);
        KV_SHA_QUAD(11, m3, m2, m0);
        KV_SHA_QUAD(12, m0, m3, m1);
        KV_SHA_QUAD(13, m1, m0, m2);
        KV_SHA_QUAD(14, m2, m1, m3);
        KV_SHA_QUAD(15, m3, m2, m0);
        s0 = _mm_add_epi32(s0, abef);
        s1 = _mm_add_epi32(s1, cdgh);
    }
    t = _mm_shuffle_epi32(s0, 0x1B);
    s1 = _mm_shuffle_epi32(s1, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(t, s1, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(s1, t, 8));
}

#undef KV_SHA_QUAD

#else

bool ProcessorHasSha() { return false; }

void ProcessorBlocks(uint32_t state[8], const uint8_t* p, size_t blocks) { PortableBlocks(state, p, blocks); }

#endif

}  // namespace

CKvSha256::BlocksFn CKvSha256::BestBlocks()
{
    static const BlocksFn best = ProcessorHasSha() ? ProcessorBlocks : PortableBlocks;
    return best;
}

bool CKvSha256::HasEngine(Engine engine) { return engine == PORTABLE || ProcessorHasSha(); }

CKvSha256 CKvSha256::With(Engine engine)
{
    CKvSha256 h;
    h.m_pBlocks = engine == PROCESSOR ? ProcessorBlocks : PortableBlocks;
    return h;
}

void CKvSha256::Reset()
{
    static const uint32_t kInit[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(m_state, kInit, sizeof m_state);
    m_nBytes = 0;
    m_nBuffered = 0;
}

void CKvSha256::Update(const void* data, size_t size)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    m_nBytes += size;
    if (m_nBuffered > 0) {
        size_t take = 64 - m_nBuffered < size ? 64 - m_nBuffered : size;
        std::memcpy(m_buffer + m_nBuffered, p, take);
        m_nBuffered += take;
        p += take;
        size -= take;
        if (m_nBuffered < 64)
            return;
        m_pBlocks(m_state, m_buffer, 1);
        m_nBuffered = 0;
    }
    if (size >= 64) {
        m_pBlocks(m_state, p, size / 64);
        p += size - size % 64;
        size %= 64;
    }
    if (size > 0) {
        std::memcpy(m_buffer, p, size);
        m_nBuffered = size;
    }
}

void CKvSha256::Final(uint8_t digest[32])
{
    const uint64_t bits = m_nBytes * 8;
    uint8_t pad[72] = {0x80};
    size_t padLen = m_nBuffered < 56 ? 56 - m_nBuffered : 120 - m_nBuffered;
    for (int i = 0; i < 8; ++i)
        pad[padLen + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Update(pad, padLen + 8);
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = static_cast<uint8_t>(m_state[i] >> 24);
        digest[4 * i + 1] = static_cast<uint8_t>(m_state[i] >> 16);
        digest[4 * i + 2] = static_cast<uint8_t>(m_state[i] >> 8);
        digest[4 * i + 3] = static_cast<uint8_t>(m_state[i]);
    }
}

std::string CKvSha256::FinalHex()
{
    static const char hex[] = "0123456789abcdef";
    uint8_t digest[32];
    Final(digest);
    std::string out(64, '0');
    for (int i = 0; i < 32; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 15];
    }
    return out;
}

std::string CKvSha256::HexOf(const void* data, size_t size)
{
    CKvSha256 h;
    h.Update(data, size);
    return h.FinalHex();
}
