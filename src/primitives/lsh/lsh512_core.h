// LSH-512 compression function: constants, the portable body, and the SIMD
// bodies picked once per process.
#ifndef QOR_PRIMITIVES_LSH_LSH512_CORE_H
#define QOR_PRIMITIVES_LSH_LSH512_CORE_H

#include <bit>
#include <cstddef>
#include <cstdint>

#include "primitives/dispatch.h"

namespace qor::lsh {

inline constexpr int kSteps = 28;
inline constexpr std::size_t kBlockBytes = 256;

// Rotation amounts of the mix function: even steps, odd steps, and the
// per-word rotation of the right half.
inline constexpr int kAlphaEven = 23;
inline constexpr int kBetaEven = 59;
inline constexpr int kAlphaOdd = 7;
inline constexpr int kBetaOdd = 3;
inline constexpr int kGamma[8] = {0, 16, 32, 48, 8, 24, 40, 56};

// Message expansion: M_j[l] = M_{j-1}[l] + M_{j-2}[tau(l)].
inline constexpr int kTau[16] = {3, 2, 0, 1, 7, 4, 5, 6, 11, 10, 8, 9, 15, 12, 13, 14};
// Word permutation after each step: T'[l] = T[sigma(l)].
inline constexpr int kSigma[16] = {6, 4, 5, 7, 12, 15, 14, 13, 2, 0, 1, 3, 8, 11, 10, 9};

struct StepConstants {
  std::uint64_t sc[kSteps * 8];
};

// The first step's constants are published; each later word is
// SC_j[l] = SC_{j-1}[l] + (SC_{j-1}[l] <<< 8).
constexpr StepConstants MakeStepConstants() {
  StepConstants t{};
  constexpr std::uint64_t kFirst[8] = {
      0x97884283c938982aULL, 0xba1fca93533e2355ULL, 0xc519a2e87aeb1c03ULL, 0x9a0fc95462af17b1ULL,
      0xfc3dda8ab019a82bULL, 0x02825d079a895407ULL, 0x79f2d0a7ee06a6f7ULL, 0xd76d15eed9fdf5feULL};
  for (int l = 0; l < 8; ++l) t.sc[l] = kFirst[l];
  for (int j = 1; j < kSteps; ++j) {
    for (int l = 0; l < 8; ++l) {
      const std::uint64_t prev = t.sc[8 * (j - 1) + l];
      t.sc[8 * j + l] = prev + std::rotl(prev, 8);
    }
  }
  return t;
}

inline constexpr StepConstants kStepConstants = MakeStepConstants();
static_assert(kStepConstants.sc[8] == 0x1fcac64d01d0c2c1ULL);
static_assert(kStepConstants.sc[27 * 8 + 7] == 0xaa666ab975724a42ULL);

// Compresses |blocks| whole 256-byte blocks into the chaining value
// |cv| (left half in words 0..7, right half in 8..15).
using CompressFn = void (*)(std::uint64_t cv[16], const std::uint8_t* blocks, std::size_t blocks_n);

struct Kernels {
  CompressFn compress;
  const char* name;
};

// AVX-512VL, then AVX2, then portable.
extern primitives::Dispatcher<Kernels> g_kernels;

// Compresses |n| consecutive blocks into |cv| with the body in use.
inline void Compress(std::uint64_t cv[16], const std::uint8_t* blocks, std::size_t n) {
  g_kernels.Active().compress(cv, blocks, n);
}

void CompressPortable(std::uint64_t cv[16], const std::uint8_t* blocks, std::size_t n);
void CompressAvx2(std::uint64_t cv[16], const std::uint8_t* blocks, std::size_t n);
void CompressAvx512(std::uint64_t cv[16], const std::uint8_t* blocks, std::size_t n);

// The initial value the derivation rule gives for a digest of |digestBytes|
// (1..64) bytes, whether or not the length has a fixed published value.
void DeriveInitialValue(std::uint32_t digestBytes, std::uint64_t out[16]);

}  // namespace qor::lsh

#endif
