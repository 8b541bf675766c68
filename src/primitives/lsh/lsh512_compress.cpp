#include <bit>
#include <cstring>

#include "primitives/byte_order.h"
#include "primitives/cpu_features.h"
#include "primitives/lsh/lsh512_core.h"

namespace qor::lsh {

namespace {

using primitives::LoadLe64;

// One step: message addition, the mix of word l with word l + 8, then the
// word permutation.
template <int kAlpha, int kBeta>
[[gnu::always_inline]] inline void Step(std::uint64_t t[16], const std::uint64_t m[16],
                                        const std::uint64_t* sc) {
#pragma GCC unroll 16
  for (int l = 0; l < 16; ++l) t[l] ^= m[l];
#pragma GCC unroll 8
  for (int l = 0; l < 8; ++l) {
    std::uint64_t x = t[l];
    std::uint64_t y = t[l + 8];
    x = std::rotl(x + y, kAlpha) ^ sc[l];
    y = std::rotl(x + y, kBeta);
    x += y;
    t[l] = x;
    t[l + 8] = std::rotl(y, kGamma[l]);
  }
  std::uint64_t p[16];
#pragma GCC unroll 16
  for (int l = 0; l < 16; ++l) p[l] = t[kSigma[l]];
#pragma GCC unroll 16
  for (int l = 0; l < 16; ++l) t[l] = p[l];
}

// |next| = |prev| + |older| permuted by tau; |next| may alias |older|.
[[gnu::always_inline]] inline void Expand(std::uint64_t older[16], const std::uint64_t prev[16]) {
  std::uint64_t n[16];
#pragma GCC unroll 16
  for (int l = 0; l < 16; ++l) n[l] = prev[l] + older[kTau[l]];
#pragma GCC unroll 16
  for (int l = 0; l < 16; ++l) older[l] = n[l];
}

}  // namespace

void CompressPortable(std::uint64_t cv[16], const std::uint8_t* blocks, std::size_t n) {
  const std::uint64_t* sc = kStepConstants.sc;
  for (std::size_t b = 0; b < n; ++b, blocks += kBlockBytes) {
    std::uint64_t even[16];
    std::uint64_t odd[16];
    for (int l = 0; l < 16; ++l) {
      even[l] = LoadLe64(blocks + 8 * l);
      odd[l] = LoadLe64(blocks + 128 + 8 * l);
    }
    std::uint64_t t[16];
    for (int l = 0; l < 16; ++l) t[l] = cv[l];
    Step<kAlphaEven, kBetaEven>(t, even, sc);
    Step<kAlphaOdd, kBetaOdd>(t, odd, sc + 8);
    for (int j = 2; j < kSteps; j += 2) {
      Expand(even, odd);
      Step<kAlphaEven, kBetaEven>(t, even, sc + 8 * j);
      Expand(odd, even);
      Step<kAlphaOdd, kBetaOdd>(t, odd, sc + 8 * (j + 1));
    }
    Expand(even, odd);
    for (int l = 0; l < 16; ++l) cv[l] = t[l] ^ even[l];
  }
}

namespace {

constexpr Kernels kAvx512 = {CompressAvx512, "avx512vl"};
constexpr Kernels kAvx2 = {CompressAvx2, "avx2"};
constexpr Kernels kPortable = {CompressPortable, "portable"};

constexpr primitives::Candidate<Kernels> kCandidates[] = {
    {"avx512vl", [] { return cpu::HasAvx512Vl() && cpu::HasAvx2() ? &kAvx512 : nullptr; }},
    {"avx2", [] { return cpu::HasAvx2() ? &kAvx2 : nullptr; }},
    {"portable", [] { return &kPortable; }},
};

}  // namespace

constinit primitives::Dispatcher<Kernels> g_kernels{kCandidates};

}  // namespace qor::lsh
