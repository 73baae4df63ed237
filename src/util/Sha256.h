#pragma once
// SHA-256, fed in pieces: the copy hashes the bytes it moves while they are
// in its buffer, so a file's fingerprint costs no second read.
#include <cstddef>
#include <cstdint>
#include <string>

class CKvSha256 {
public:
    CKvSha256() { Reset(); }
    void Reset();
    void Update(const void* data, size_t size);
    // The digest of everything fed since the last Reset; the object must be
    // Reset before it is fed again.
    void Final(uint8_t digest[32]);
    // Final as 64 lower-case hexadecimal digits.
    std::string FinalHex();

    // The digest of one buffer, as hex.
    static std::string HexOf(const void* data, size_t size);

    // The processor's SHA instructions are used where it has them; a test
    // can turn them off to check the portable code on the same machine.
    static bool Accelerated();
    static void SetAccelerated(bool on);

private:
    void Block(const uint8_t* p);
    void Blocks(const uint8_t* p, size_t blocks);

    uint32_t m_state[8];
    uint64_t m_nBytes;
    uint8_t m_buffer[64];
    size_t m_nBuffered;
};
