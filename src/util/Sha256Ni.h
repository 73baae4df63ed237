#pragma once
// SHA-256 blocks with the processor's SHA instructions, where it has them:
// a package of 100 MB is checked in a fraction of the time its install takes.
#include <cstddef>
#include <cstdint>

// The round constants of FIPS 180-4, aligned for vector loads.
alignas(16) extern const uint32_t kKvSha256Rounds[64];

// Whether this processor has the SHA, SSSE3 and SSE4.1 instructions.
bool KvShaNiAvailable();
// Runs the compression function over blocks of 64 bytes (KvShaNiAvailable
// must be true); state as FIPS 180-4 has it, a to h.
void KvShaNiBlocks(uint32_t state[8], const uint8_t* data, size_t blocks);
