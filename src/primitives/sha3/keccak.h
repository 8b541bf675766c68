// Keccak-f[1600] permutation with a portable body, a BMI2 body and an
// AVX-512VL body (lanes in the 32 vector registers), picked once per process.
#ifndef QOR_PRIMITIVES_SHA3_KECCAK_H
#define QOR_PRIMITIVES_SHA3_KECCAK_H

#include <cstdint>

namespace qor::sha3 {

using PermuteFn = void (*)(std::uint64_t state[25]);

enum class KeccakImpl { kPortable, kBmi2, kAvx512 };

// The 24-round permutation of the 25 lanes (lane x + 5y at index x + 5y).
void KeccakF1600(std::uint64_t state[25]);

// Body used by KeccakF1600 for the rest of the process; the first call picks
// the fastest one the CPU supports.
PermuteFn ActivePermute();
KeccakImpl ActiveKeccakImpl();
const char* KeccakImplName(KeccakImpl impl);

// Tests and benchmarks only: ForceKeccakImpl pins one body (false when the CPU
// lacks it); ResetKeccakImpl returns to the automatic choice.
bool ForceKeccakImpl(KeccakImpl impl);
void ResetKeccakImpl();

// The bodies themselves, for the dispatcher and for tests that compare them.
void KeccakF1600Portable(std::uint64_t state[25]);
void KeccakF1600Bmi2(std::uint64_t state[25]);
void KeccakF1600Avx512(std::uint64_t state[25]);
bool CpuHasBmi2();
bool CpuHasAvx512Vl();

}  // namespace qor::sha3

#endif
