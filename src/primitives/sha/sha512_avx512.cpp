// SHA-512 compression for CPUs with AVX-512 (VL) and BMI2. The message
// schedule of four consecutive blocks runs in 512-bit registers (one block
// per 128-bit lane, two words per lane) with one-instruction rotations and
// three-way XORs, sixteen rounds ahead of the scalar rounds of the first
// block; the rounds of the other three blocks only add the prepared
// W[t] + K[t]. The schedule then costs a quarter of its work per block.
#include <immintrin.h>

#include "common/secure_wipe.h"
#include "primitives/sha/sha512_round.h"
#include "primitives/sha/sha_internal.h"

// GCC's 512-bit intrinsic headers trip its own uninitialised-value check.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"

namespace qor::sha {
namespace {

#define QOR_SHA512_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,avx2,bmi,bmi2"), always_inline)) inline

QOR_SHA512_TARGET __m512i SmallSigma0(__m512i x) {
  return _mm512_ternarylogic_epi64(_mm512_ror_epi64(x, 1), _mm512_ror_epi64(x, 8), _mm512_srli_epi64(x, 7), 0x96);
}
QOR_SHA512_TARGET __m512i SmallSigma1(__m512i x) {
  return _mm512_ternarylogic_epi64(_mm512_ror_epi64(x, 19), _mm512_ror_epi64(x, 61), _mm512_srli_epi64(x, 6), 0x96);
}

constexpr int kLanes = 4;

// Prepared words, per pair of rounds: W+K of rounds t, t+1 of each block in
// turn (the layout of one vector store).
QOR_SHA512_TARGET uint64_t Prepared(const uint64_t* wk, int t, int lane) {
  return wk[(t >> 1) * 2 * kLanes + lane * 2 + (t & 1)];
}

QOR_SHA512_TARGET __m512i KeyPair(int t) {
  return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha512K + t)));
}

// The rounds of one block from the prepared words.
QOR_SHA512_TARGET void BlockRounds(uint64_t state[8], const uint64_t* wk, int lane) {
  uint64_t v[8];
  for (int i = 0; i < 8; ++i) v[i] = state[i];
  uint64_t bc = v[1] ^ v[2];
  // One pointer walks this block's prepared words, so that every word of a
  // pass is a fixed offset from it and the registers are left to the state.
  const uint64_t* w = wk + 2 * lane;
  for (const uint64_t* end = w + 80 * kLanes; w != end; w += 16 * kLanes) {
#pragma GCC unroll 16
    for (int r = 0; r < 16; ++r) Sha512Round(v, bc, w[(r >> 1) * 2 * kLanes + (r & 1)], r);
  }
  for (int i = 0; i < 8; ++i) state[i] += v[i];
}

}  // namespace

__attribute__((target("avx512f,avx512bw,avx512vl,avx2,bmi,bmi2"))) void Sha512BlocksAvx512(uint64_t state[8],
                                                                                  const uint8_t* data,
                                                                                  size_t blocks) {
  const __m512i byteSwap = _mm512_broadcast_i32x4(
      _mm_set_epi64x(0x08090a0b0c0d0e0fll, 0x0001020304050607ll));
  alignas(64) uint64_t wk[80 * kLanes];

  while (blocks != 0) {
    // Fewer than four blocks left: the spare lanes schedule copies of the
    // last block and their rounds are skipped.
    const size_t count = blocks < kLanes ? blocks : kLanes;
    const uint8_t* lane[kLanes];
    for (size_t l = 0; l < kLanes; ++l) lane[l] = data + 128 * (l < count ? l : count - 1);

    // x[j] holds W[2j], W[2j + 1] of every block for the last sixteen words.
    __m512i x[8];
    for (int i = 0; i < 8; ++i) {
      const __m256i low = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lane[0] + 16 * i))),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(lane[1] + 16 * i)), 1);
      const __m256i high = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lane[2] + 16 * i))),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(lane[3] + 16 * i)), 1);
      x[i] = _mm512_shuffle_epi8(_mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1), byteSwap);
      _mm512_store_si512(wk + 2 * kLanes * i, _mm512_add_epi64(x[i], KeyPair(2 * i)));
    }

    uint64_t v[8];
    for (int i = 0; i < 8; ++i) v[i] = state[i];
    uint64_t bc = v[1] ^ v[2];
    // The first block's rounds, each of the first four passes preparing the
    // sixteen words of the next pass for all blocks.
    for (int pass = 0; pass < 4; ++pass) {
      uint64_t* group = wk + 16 * kLanes * pass;
#pragma GCC unroll 8
      for (int j = 0; j < 8; ++j) {
        // W[t], W[t+1] for t = 16 (pass + 1) + 2j from W[t-16..t-1].
        const __m512i w15 = _mm512_alignr_epi8(x[(j + 1) & 7], x[j], 8);
        const __m512i w7 = _mm512_alignr_epi8(x[(j + 5) & 7], x[(j + 4) & 7], 8);
        const __m512i w = _mm512_add_epi64(_mm512_add_epi64(x[j], SmallSigma0(w15)),
                                           _mm512_add_epi64(w7, SmallSigma1(x[(j + 7) & 7])));
        x[j] = w;
        _mm512_store_si512(group + 16 * kLanes + 2 * kLanes * j,
                           _mm512_add_epi64(w, KeyPair(16 * (pass + 1) + 2 * j)));
        Sha512Round(v, bc, Prepared(group, 2 * j, 0), 2 * j);
        Sha512Round(v, bc, Prepared(group, 2 * j + 1, 0), 2 * j + 1);
      }
    }
    {
      const uint64_t* group = wk + 16 * kLanes * 4;
#pragma GCC unroll 16
      for (int r = 0; r < 16; ++r) Sha512Round(v, bc, Prepared(group, r, 0), r);
    }
    for (int i = 0; i < 8; ++i) state[i] += v[i];

    for (size_t l = 1; l < count; ++l) BlockRounds(state, wk, static_cast<int>(l));
    blocks -= count;
    data += 128 * count;
  }
  SecureWipe(wk, sizeof(wk));
}

#undef QOR_SHA512_TARGET

}  // namespace qor::sha
