// SEED on 16 blocks per 512-bit vector set, for CBC decryption where blocks
// are independent. The S-boxes are computed with GF(2^8) affine and inverse
// instructions (each SEED S-box is an affine map of an inverse in a field
// isomorphic to the one those instructions use), so no table is indexed by
// data. Chosen once per process when the processor has AVX-512 and GFNI.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qor::seed {

// True when the vector path is available and not switched off.
bool VectorEnabled();
// Test hook: forces the portable table path (true) or restores the start-up
// choice (false).
void ForcePortableSeed(bool force);

// CBC-decrypts whole blocks; |chain| is the IV on entry and the last
// ciphertext block on return. in == out is allowed. Returns the blocks done:
// a short remainder is left to the caller's table path.
size_t CbcDecryptVector(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t* rk, uint8_t chain[16]);

}  // namespace qor::seed
