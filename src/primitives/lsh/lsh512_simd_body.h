// The 256-bit vector compression body. Included by one .cpp per instruction
// set after defining:
//   QOR_LSH_TARGET      the target attribute string, e.g. "avx2"
//   QOR_LSH_ROTL(x, r)  rotate each 64-bit lane of x left by constant r
// The chaining value lives in four registers: left words 0-3 and 4-7, right
// words 8-11 and 12-15; a message half (16 words) likewise.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "primitives/lsh/lsh512_core.h"

namespace {

#define QOR_LSH_FN [[gnu::always_inline]] inline __attribute__((target(QOR_LSH_TARGET)))

struct alignas(32) ByteMask {
  std::uint8_t b[32];
};

// vpshufb masks rotating the 64-bit lanes of a register left by whole bytes,
// |first| selects the gamma values of words 0-3 or 4-7.
constexpr ByteMask MakeGammaMask(int first) {
  ByteMask m{};
  for (int q = 0; q < 4; ++q) {
    const int k = qor::lsh::kGamma[first + q] / 8;  // bytes to rotate by
    for (int i = 0; i < 8; ++i) {
      // Within a 128-bit lane, qword q % 2 starts at byte 8 * (q % 2).
      m.b[8 * q + i] = static_cast<std::uint8_t>(8 * (q % 2) + ((i - k + 8) % 8));
    }
  }
  return m;
}

constexpr ByteMask kGammaLow = MakeGammaMask(0);
constexpr ByteMask kGammaHigh = MakeGammaMask(4);

// Lane orders for _mm256_permute4x64_epi64: tau inside words 0-3 is
// (3,2,0,1), inside words 4-7 (3,0,1,2); sigma takes (2,0,1,3) and (0,3,2,1).
constexpr int kTauLow = 3 | (2 << 2) | (0 << 4) | (1 << 6);
constexpr int kTauHigh = 3 | (0 << 2) | (1 << 4) | (2 << 6);
constexpr int kSigmaA = 2 | (0 << 2) | (1 << 4) | (3 << 6);
constexpr int kSigmaB = 0 | (3 << 2) | (2 << 4) | (1 << 6);

struct Quad {
  __m256i v0, v1, v2, v3;
};

QOR_LSH_FN Quad LoadQuad(const std::uint8_t* p) {
  return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)),
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 64)),
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 96))};
}

// older <- prev + tau(older)
QOR_LSH_FN void ExpandVec(Quad& older, const Quad& prev) {
  older.v0 = _mm256_add_epi64(prev.v0, _mm256_permute4x64_epi64(older.v0, kTauLow));
  older.v1 = _mm256_add_epi64(prev.v1, _mm256_permute4x64_epi64(older.v1, kTauHigh));
  older.v2 = _mm256_add_epi64(prev.v2, _mm256_permute4x64_epi64(older.v2, kTauLow));
  older.v3 = _mm256_add_epi64(prev.v3, _mm256_permute4x64_epi64(older.v3, kTauHigh));
}

template <int kAlpha, int kBeta>
QOR_LSH_FN void StepVec(Quad& t, const Quad& m, const std::uint64_t* sc, __m256i gammaLow,
                        __m256i gammaHigh) {
  __m256i l0 = _mm256_xor_si256(t.v0, m.v0);
  __m256i l1 = _mm256_xor_si256(t.v1, m.v1);
  __m256i r0 = _mm256_xor_si256(t.v2, m.v2);
  __m256i r1 = _mm256_xor_si256(t.v3, m.v3);
  l0 = _mm256_add_epi64(l0, r0);
  l1 = _mm256_add_epi64(l1, r1);
  l0 = QOR_LSH_ROTL(l0, kAlpha);
  l1 = QOR_LSH_ROTL(l1, kAlpha);
  l0 = _mm256_xor_si256(l0, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sc)));
  l1 = _mm256_xor_si256(l1, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sc + 4)));
  r0 = _mm256_add_epi64(r0, l0);
  r1 = _mm256_add_epi64(r1, l1);
  r0 = QOR_LSH_ROTL(r0, kBeta);
  r1 = QOR_LSH_ROTL(r1, kBeta);
  l0 = _mm256_add_epi64(l0, r0);
  l1 = _mm256_add_epi64(l1, r1);
  r0 = _mm256_shuffle_epi8(r0, gammaLow);
  r1 = _mm256_shuffle_epi8(r1, gammaHigh);
  t.v0 = _mm256_permute4x64_epi64(l1, kSigmaA);
  t.v1 = _mm256_permute4x64_epi64(r1, kSigmaB);
  t.v2 = _mm256_permute4x64_epi64(l0, kSigmaA);
  t.v3 = _mm256_permute4x64_epi64(r0, kSigmaB);
}

__attribute__((target(QOR_LSH_TARGET))) void CompressVec(std::uint64_t cv[16],
                                                        const std::uint8_t* blocks,
                                                        std::size_t n) {
  using namespace qor::lsh;
  const std::uint64_t* sc = kStepConstants.sc;
  const __m256i gammaLow = _mm256_load_si256(reinterpret_cast<const __m256i*>(kGammaLow.b));
  const __m256i gammaHigh = _mm256_load_si256(reinterpret_cast<const __m256i*>(kGammaHigh.b));
  auto* cvv = reinterpret_cast<__m256i*>(cv);
  Quad t{_mm256_loadu_si256(cvv), _mm256_loadu_si256(cvv + 1), _mm256_loadu_si256(cvv + 2),
         _mm256_loadu_si256(cvv + 3)};
  for (std::size_t b = 0; b < n; ++b, blocks += kBlockBytes) {
    Quad even = LoadQuad(blocks);
    Quad odd = LoadQuad(blocks + 128);
    StepVec<kAlphaEven, kBetaEven>(t, even, sc, gammaLow, gammaHigh);
    StepVec<kAlphaOdd, kBetaOdd>(t, odd, sc + 8, gammaLow, gammaHigh);
#pragma GCC unroll 13
    for (int j = 2; j < kSteps; j += 2) {
      ExpandVec(even, odd);
      StepVec<kAlphaEven, kBetaEven>(t, even, sc + 8 * j, gammaLow, gammaHigh);
      ExpandVec(odd, even);
      StepVec<kAlphaOdd, kBetaOdd>(t, odd, sc + 8 * (j + 1), gammaLow, gammaHigh);
    }
    ExpandVec(even, odd);
    t.v0 = _mm256_xor_si256(t.v0, even.v0);
    t.v1 = _mm256_xor_si256(t.v1, even.v1);
    t.v2 = _mm256_xor_si256(t.v2, even.v2);
    t.v3 = _mm256_xor_si256(t.v3, even.v3);
  }
  _mm256_storeu_si256(cvv, t.v0);
  _mm256_storeu_si256(cvv + 1, t.v1);
  _mm256_storeu_si256(cvv + 2, t.v2);
  _mm256_storeu_si256(cvv + 3, t.v3);
}

#undef QOR_LSH_FN

}  // namespace
