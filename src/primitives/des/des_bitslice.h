// Bitsliced triple DES for many independent blocks (CBC decryption, streaming
// decryption). 512 blocks travel as 64 vectors of 512 bits, one vector per
// block bit, so the S-boxes are boolean circuits and nothing is looked up by
// secret index. Chosen once per process when the processor has AVX-512.
#pragma once

#include <cstddef>
#include <cstdint>

#include "primitives/dispatch.h"

namespace qor::des {

// Blocks per bitsliced batch.
inline constexpr size_t kBitsliceBatch = 512;
// Below this many blocks the table path is faster.
inline constexpr size_t kBitsliceMinBlocks = 72;

// Triple-DES decryption (D(k3) E(k2) D(k1)) of many independent blocks. The
// table code runs blocks a few at a time inside the callers' loops and has
// no batch function (null).
struct Kernels {
  void (*decryptBatch)(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t* k1, const uint32_t* k2,
                       const uint32_t* k3);
  const char* name;
};

// Null when the processor lacks AVX-512.
const Kernels* BitsliceKernels();
// Bitsliced, then the tables.
extern primitives::Dispatcher<Kernels> g_kernels;

// True when the kernels in use decrypt in bitsliced batches.
inline bool BitsliceEnabled() { return g_kernels.Active().decryptBatch != nullptr; }

// Triple-DES decryption (D(k3) E(k2) D(k1)) of |blocks| <= kBitsliceBatch
// 8-byte blocks from |in| to |out| (may be the same buffer), ECB.
void Des3DecryptBitsliced(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t* k1,
                          const uint32_t* k2, const uint32_t* k3);

}  // namespace qor::des
