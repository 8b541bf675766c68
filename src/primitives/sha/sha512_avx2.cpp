// SHA-512 compression for CPUs with AVX2 and BMI2. The message schedule of
// two consecutive blocks runs in vector registers (one block per 128-bit
// half, two words per half), sixteen rounds ahead of the scalar rounds of
// the first block; the scalar rounds only add the prepared W[t] + K[t].
#include <immintrin.h>

#include <bit>

#include "common/secure_wipe.h"
#include "primitives/sha/sha512_round.h"
#include "primitives/sha/sha_internal.h"

namespace qor::sha {
namespace {

#define QOR_SHA512_TARGET __attribute__((target("avx2,bmi,bmi2"), always_inline)) inline

QOR_SHA512_TARGET __m256i Rotr(__m256i x, int n) {
  return _mm256_or_si256(_mm256_srli_epi64(x, n), _mm256_slli_epi64(x, 64 - n));
}
QOR_SHA512_TARGET __m256i SmallSigma0(__m256i x) {
  return _mm256_xor_si256(_mm256_xor_si256(Rotr(x, 1), Rotr(x, 8)), _mm256_srli_epi64(x, 7));
}
QOR_SHA512_TARGET __m256i SmallSigma1(__m256i x) {
  return _mm256_xor_si256(_mm256_xor_si256(Rotr(x, 19), Rotr(x, 61)), _mm256_srli_epi64(x, 6));
}

// Prepared words, per pair of rounds: W+K of rounds t, t+1 of the first
// block, then of the second block (the layout of one vector store).
QOR_SHA512_TARGET uint64_t Prepared(const uint64_t* wk, int t, int lane) {
  return wk[(t >> 1) * 4 + lane * 2 + (t & 1)];
}

}  // namespace

__attribute__((target("avx2,bmi,bmi2"))) void Sha512BlocksAvx2(uint64_t state[8],
                                                               const uint8_t* data,
                                                               size_t blocks) {
  const __m256i byteSwap =
      _mm256_set_epi64x(0x08090a0b0c0d0e0fll, 0x0001020304050607ll, 0x08090a0b0c0d0e0fll,
                        0x0001020304050607ll);
  alignas(32) uint64_t wk[160];

  while (blocks != 0) {
    // With a single block left, the second half schedules a copy of it and
    // its rounds are skipped.
    const bool pair = blocks >= 2;
    const uint8_t* second = pair ? data + 128 : data;

    // x[j] holds W[2j], W[2j + 1] of both blocks for the last sixteen words.
    __m256i x[8];
    for (int i = 0; i < 8; ++i) {
      const __m256i raw = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i))),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 16 * i)), 1);
      x[i] = _mm256_shuffle_epi8(raw, byteSwap);
      const __m256i k = _mm256_broadcastsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha512K + 2 * i)));
      _mm256_store_si256(reinterpret_cast<__m256i*>(wk + 4 * i), _mm256_add_epi64(x[i], k));
    }

    uint64_t v[8];
    for (int i = 0; i < 8; ++i) v[i] = state[i];
    uint64_t bc = v[1] ^ v[2];
    // Five passes of sixteen rounds; each of the first four also prepares
    // the sixteen words of the next pass. Only the pass body is unrolled,
    // which keeps the code within the decoded-op cache.
    for (int pass = 0; pass < 4; ++pass) {
      uint64_t* group = wk + 32 * pass;
#pragma GCC unroll 8
      for (int j = 0; j < 8; ++j) {
        const __m256i w15 = _mm256_alignr_epi8(x[(j + 1) & 7], x[j], 8);
        const __m256i w7 = _mm256_alignr_epi8(x[(j + 5) & 7], x[(j + 4) & 7], 8);
        __m256i w = _mm256_add_epi64(x[j], SmallSigma0(w15));
        w = _mm256_add_epi64(_mm256_add_epi64(w, w7), SmallSigma1(x[(j + 7) & 7]));
        x[j] = w;
        const __m256i k = _mm256_broadcastsi128_si256(_mm_loadu_si128(
            reinterpret_cast<const __m128i*>(kSha512K + 16 * (pass + 1) + 2 * j)));
        _mm256_store_si256(reinterpret_cast<__m256i*>(group + 32 + 4 * j), _mm256_add_epi64(w, k));
        Sha512Round(v, bc, Prepared(group, 2 * j, 0), 2 * j);
        Sha512Round(v, bc, Prepared(group, 2 * j + 1, 0), 2 * j + 1);
      }
    }
    {
      const uint64_t* group = wk + 128;
#pragma GCC unroll 16
      for (int r = 0; r < 16; ++r) Sha512Round(v, bc, Prepared(group, r, 0), r);
    }
    for (int i = 0; i < 8; ++i) state[i] += v[i];

    if (pair) {
      for (int i = 0; i < 8; ++i) v[i] = state[i];
      bc = v[1] ^ v[2];
      for (int pass = 0; pass < 5; ++pass) {
        const uint64_t* group = wk + 32 * pass;
#pragma GCC unroll 16
        for (int r = 0; r < 16; ++r) Sha512Round(v, bc, Prepared(group, r, 1), r);
      }
      for (int i = 0; i < 8; ++i) state[i] += v[i];
    }
    const size_t done = pair ? 2 : 1;
    blocks -= done;
    data += 128 * done;
  }
  SecureWipe(wk, sizeof(wk));
}

#undef QOR_SHA512_TARGET

}  // namespace qor::sha
