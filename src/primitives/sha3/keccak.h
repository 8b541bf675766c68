// Keccak-f[1600] permutation with a portable body, a BMI2 body and an
// AVX-512VL body (lanes in the 32 vector registers), picked once per process.
#ifndef QOR_PRIMITIVES_SHA3_KECCAK_H
#define QOR_PRIMITIVES_SHA3_KECCAK_H

#include <cstdint>

#include "primitives/dispatch.h"

namespace qor::sha3 {

using PermuteFn = void (*)(std::uint64_t state[25]);

struct Kernels {
  PermuteFn permute;
  const char* name;
};

// AVX-512VL, then BMI2, then portable.
extern primitives::Dispatcher<Kernels> g_kernels;

// The 24-round permutation of the 25 lanes (lane x + 5y at index x + 5y).
void KeccakF1600(std::uint64_t state[25]);

// The body in use; callers hashing many blocks fetch it once.
inline PermuteFn ActivePermute() { return g_kernels.Active().permute; }

// The bodies themselves, for the dispatcher and for tests that compare them.
void KeccakF1600Portable(std::uint64_t state[25]);
void KeccakF1600Bmi2(std::uint64_t state[25]);
void KeccakF1600Avx512(std::uint64_t state[25]);

}  // namespace qor::sha3

#endif
