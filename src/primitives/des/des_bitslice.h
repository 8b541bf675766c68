// Bitsliced triple DES for many independent blocks (CBC decryption, streaming
// decryption). 512 blocks travel as 64 vectors of 512 bits, one vector per
// block bit, so the S-boxes are boolean circuits and nothing is looked up by
// secret index. Chosen once per process when the processor has AVX-512.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qor::des {

// Blocks per bitsliced batch.
inline constexpr size_t kBitsliceBatch = 512;
// Below this many blocks the table path is faster.
inline constexpr size_t kBitsliceMinBlocks = 72;

// True when the bitsliced path is available and not switched off.
bool BitsliceEnabled();
// Test hook: forces the portable table path (true) or restores the choice made
// at start-up (false).
void ForcePortableDes(bool force);

// Triple-DES decryption (D(k3) E(k2) D(k1)) of |blocks| <= kBitsliceBatch
// 8-byte blocks from |in| to |out| (may be the same buffer), ECB.
void Des3DecryptBitsliced(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t* k1,
                          const uint32_t* k2, const uint32_t* k3);

}  // namespace qor::des
