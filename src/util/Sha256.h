#pragma once
// SHA-256, fed in pieces: the copy hashes the bytes it moves while they are
// in its buffer, so a file's fingerprint costs no second read.
#include <cstddef>
#include <cstdint>
#include <string>

class CKvSha256 {
public:
    // Blocks are hashed by the processor's SHA instructions where it has
    // them (several times faster: every file a patch writes is hashed, and
    // most twice), otherwise by portable code.
    CKvSha256() : m_pBlocks(BestBlocks()) { Reset(); }
    void Reset();
    void Update(const void* data, size_t size);
    // The digest of everything fed since the last Reset; the object must be
    // Reset before it is fed again.
    void Final(uint8_t digest[32]);
    // Final as 64 lower-case hexadecimal digits.
    std::string FinalHex();

    // The digest of one buffer, as hex.
    static std::string HexOf(const void* data, size_t size);

    // The two ways of hashing blocks, so that each can be held against the
    // published vectors where it runs.
    enum Engine { PORTABLE, PROCESSOR };
    static bool HasEngine(Engine engine);
    // A hasher that uses the engine (which must be there).
    static CKvSha256 With(Engine engine);

private:
    typedef void (*BlocksFn)(uint32_t state[8], const uint8_t* p, size_t blocks);
    static BlocksFn BestBlocks();

    BlocksFn m_pBlocks;
    uint32_t m_state[8];
    uint64_t m_nBytes;
    uint8_t m_buffer[64];
    size_t m_nBuffered;
};
