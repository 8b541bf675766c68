#include <atomic>
#include <bit>
#include <cstring>

#include "primitives/byte_order.h"
#include "primitives/cpu_features.h"
#include "primitives/lsh/lsh512_core.h"

namespace qor::lsh {

namespace {

std::atomic<CompressFn> g_compress{nullptr};

CompressFn BestCompress() {
  if (CpuHasAvx512Vl()) return &CompressAvx512;
  if (CpuHasAvx2()) return &CompressAvx2;
  return &CompressPortable;
}

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

bool CpuHasAvx2() {
  return qor::cpu::Get().avx2;
}

bool CpuHasAvx512Vl() {
  const auto& f = qor::cpu::Get();
  return f.avx2 && f.avx512f && f.avx512vl;
}

CompressFn ActiveCompress() {
  CompressFn fn = g_compress.load(std::memory_order_acquire);
  if (fn == nullptr) {
    CompressFn expected = nullptr;
    fn = BestCompress();
    if (!g_compress.compare_exchange_strong(expected, fn, std::memory_order_acq_rel)) fn = expected;
  }
  return fn;
}

void Compress(std::uint64_t cv[16], const std::uint8_t* blocks, std::size_t n) {
  ActiveCompress()(cv, blocks, n);
}

LshImpl ActiveLshImpl() {
  const CompressFn fn = ActiveCompress();
  if (fn == &CompressAvx512) return LshImpl::kAvx512;
  if (fn == &CompressAvx2) return LshImpl::kAvx2;
  return LshImpl::kPortable;
}

const char* LshImplName(LshImpl impl) {
  switch (impl) {
    case LshImpl::kAvx512: return "avx512vl";
    case LshImpl::kAvx2: return "avx2";
    default: return "portable";
  }
}

bool ForceLshImpl(LshImpl impl) {
  CompressFn fn = &CompressPortable;
  if (impl == LshImpl::kAvx2) {
    if (!CpuHasAvx2()) return false;
    fn = &CompressAvx2;
  } else if (impl == LshImpl::kAvx512) {
    if (!CpuHasAvx512Vl()) return false;
    fn = &CompressAvx512;
  }
  g_compress.store(fn, std::memory_order_release);
  return true;
}

void ResetLshImpl() { g_compress.store(BestCompress(), std::memory_order_release); }

}  // namespace qor::lsh
