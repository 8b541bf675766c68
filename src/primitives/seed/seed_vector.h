// SEED kernels for CBC decryption, where blocks are independent: the table
// code, and 16 blocks per 512-bit vector set whose S-boxes are computed with
// GF(2^8) affine and inverse instructions (each SEED S-box is an affine map of
// an inverse in a field isomorphic to the one those instructions use), so no
// table is indexed by data. Encryption is chained and always runs on tables.
#pragma once

#include <cstddef>
#include <cstdint>

#include "primitives/dispatch.h"

namespace qor::seed {

struct Kernels {
  // CBC-decrypts whole blocks; |chain| is the IV on entry and the last
  // ciphertext block on return. in == out is allowed.
  void (*cbcDecrypt)(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t* rk, uint8_t chain[16]);
  const char* name;
};

// Null when the processor lacks AVX-512 with GFNI.
const Kernels* GfniKernels();
const Kernels& PortableKernels();
// GFNI, then the tables.
extern primitives::Dispatcher<Kernels> g_kernels;

// The table path, which the vector kernel also uses for short remainders.
void CbcDecryptTables(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t* rk, uint8_t chain[16]);

}  // namespace qor::seed
