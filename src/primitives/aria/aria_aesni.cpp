// ARIA kernels for processors with AES-NI but without GFNI. S1 is the AES
// S-box, so AESENCLAST / AESDECLAST with a zero key give S1 and S1^-1 (plus
// the AES row shift, which the byte shuffles absorb). S2 and S2^-1 are affine
// maps of S1 and S1^-1, done with two 16-entry nibble tables. No lookups
// depend on the data.
#include <immintrin.h>

#include <cstring>

#include "primitives/aria/aria_internal.h"
#include "primitives/cpu_features.h"

namespace qor::aria {
namespace {

#define QOR_ARIA_AESNI __attribute__((target("aes,ssse3,sse4.1")))

// AESENCLAST(x, 0)[i] = S1(x[kShiftRows[i]]); AESDECLAST undoes the shift.
constexpr uint8_t kShiftRows[16] = {0, 5, 10, 15, 4, 9, 14, 3, 8, 13, 2, 7, 12, 1, 6, 11};

struct AesniTables {
  // Affine maps on bytes as low/high nibble tables: S2 = post(S1), S2^-1(y) = S1^-1(pre(y)).
  alignas(16) uint8_t postLo[16], postHi[16], preLo[16], preHi[16];
  // Input permutation that lines AESDECLAST's output up with AESENCLAST's.
  alignas(16) uint8_t alignDec[16];
  // Back from the shifted order to byte order (last round).
  alignas(16) uint8_t unshift[16];
  // Diffusion shuffles reading the shifted order.
  alignas(16) uint8_t shuffle[7][16];
  // Per parity (index 1 = odd round), in shifted order: 0x80 where the byte
  // takes S2 among the forward S-boxes, S2^-1 among the inverse ones, and
  // where an inverse S-box applies at all.
  alignas(16) uint8_t selS2[2][16], selS2Inv[2][16], selInv[2][16];
};

const AesniTables& Tables() {
  static const AesniTables tables = [] {
    AesniTables t{};
    const auto post = [](uint8_t v) { return kSBox.s2[kSBox.s1inv[v]]; };
    const auto pre = [](uint8_t v) { return kSBox.s1[kSBox.s2inv[v]]; };
    for (int n = 0; n < 16; ++n) {
      const auto lo = static_cast<uint8_t>(n), hi = static_cast<uint8_t>(n << 4);
      t.postLo[n] = post(lo);
      t.postHi[n] = static_cast<uint8_t>(post(hi) ^ post(0));
      t.preLo[n] = pre(lo);
      t.preHi[n] = static_cast<uint8_t>(pre(hi) ^ pre(0));
    }
    uint8_t inverseShift[16];
    for (int i = 0; i < 16; ++i) inverseShift[kShiftRows[i]] = static_cast<uint8_t>(i);
    for (int i = 0; i < 16; ++i) {
      t.alignDec[i] = kShiftRows[kShiftRows[i]];
      t.unshift[i] = inverseShift[i];
    }
    // Output bytes of the diffusion: which inputs they XOR, read off the
    // portable layer.
    int count[16] = {};
    for (int k = 0; k < 16; ++k) {
      uint8_t in[16] = {}, out[16];
      in[k] = 1;
      Diffuse(in, out);
      for (int j = 0; j < 16; ++j)
        if (out[j] != 0 && count[j] < 7) t.shuffle[count[j]++][j] = inverseShift[k];
    }
    for (int odd = 0; odd < 2; ++odd) {
      for (int i = 0; i < 16; ++i) {
        // The S-box of source byte kShiftRows[i]: 0 S1, 1 S2, 2 S1^-1, 3 S2^-1.
        const int box = odd ? kShiftRows[i] % 4 : (kShiftRows[i] % 4 + 2) % 4;
        t.selS2[odd][i] = box == 1 ? 0x80 : 0;
        t.selS2Inv[odd][i] = box == 3 ? 0x80 : 0;
        t.selInv[odd][i] = box >= 2 ? 0x80 : 0;
      }
    }
    return t;
  }();
  return tables;
}

struct Consts {
  __m128i postLo, postHi, preLo, preHi, alignDec, unshift, nibble;
  __m128i shuffle[7];
  __m128i selS2[2], selS2Inv[2], selInv[2];
  QOR_ARIA_AESNI Consts() {
    const AesniTables& t = Tables();
    const auto load = [](const uint8_t* p) QOR_ARIA_AESNI { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); };
    postLo = load(t.postLo);
    postHi = load(t.postHi);
    preLo = load(t.preLo);
    preHi = load(t.preHi);
    alignDec = load(t.alignDec);
    unshift = load(t.unshift);
    nibble = _mm_set1_epi8(0x0F);
    for (int m = 0; m < 7; ++m) shuffle[m] = load(t.shuffle[m]);
    for (int p = 0; p < 2; ++p) {
      selS2[p] = load(t.selS2[p]);
      selS2Inv[p] = load(t.selS2Inv[p]);
      selInv[p] = load(t.selInv[p]);
    }
  }
};

QOR_ARIA_AESNI inline __m128i Affine(__m128i v, __m128i lo, __m128i hi, __m128i nibble) {
  const __m128i l = _mm_shuffle_epi8(lo, _mm_and_si128(v, nibble));
  const __m128i h = _mm_shuffle_epi8(hi, _mm_and_si128(_mm_srli_epi16(v, 4), nibble));
  return _mm_xor_si128(l, h);
}

// Substitution layer; the result is in the row-shifted order of AESENCLAST.
template <bool kOdd>
QOR_ARIA_AESNI inline __m128i Substitute(__m128i x, const Consts& c) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i s1 = _mm_aesenclast_si128(x, zero);
  const __m128i s2 = Affine(s1, c.postLo, c.postHi, c.nibble);
  const __m128i s1Inv = _mm_aesdeclast_si128(_mm_shuffle_epi8(x, c.alignDec), zero);
  const __m128i s2Inv =
      _mm_aesdeclast_si128(_mm_shuffle_epi8(Affine(x, c.preLo, c.preHi, c.nibble), c.alignDec), zero);
  const __m128i fwd = _mm_blendv_epi8(s1, s2, c.selS2[kOdd]);
  const __m128i inv = _mm_blendv_epi8(s1Inv, s2Inv, c.selS2Inv[kOdd]);
  return _mm_blendv_epi8(fwd, inv, c.selInv[kOdd]);
}

QOR_ARIA_AESNI inline __m128i DiffuseAddKey(__m128i u, const Consts& c, const uint8_t* key) {
  const __m128i a = _mm_xor_si128(_mm_shuffle_epi8(u, c.shuffle[0]), _mm_shuffle_epi8(u, c.shuffle[1]));
  const __m128i b = _mm_xor_si128(_mm_shuffle_epi8(u, c.shuffle[2]), _mm_shuffle_epi8(u, c.shuffle[3]));
  const __m128i d = _mm_xor_si128(_mm_shuffle_epi8(u, c.shuffle[4]), _mm_shuffle_epi8(u, c.shuffle[5]));
  const __m128i e = _mm_xor_si128(_mm_shuffle_epi8(u, c.shuffle[6]),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(key)));
  return _mm_xor_si128(_mm_xor_si128(a, b), _mm_xor_si128(d, e));
}

// N independent blocks, interleaved so their chains overlap.
template <int N>
QOR_ARIA_AESNI inline void Blocks(__m128i (&s)[N], const uint8_t* rk, int rounds, const Consts& c) {
  const __m128i k0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk));
  for (int n = 0; n < N; ++n) s[n] = _mm_xor_si128(s[n], k0);
  for (int r = 0; r + 1 < rounds; r += 2) {
    for (int n = 0; n < N; ++n) s[n] = DiffuseAddKey(Substitute<true>(s[n], c), c, rk + 16 * (r + 1));
    if (r + 2 == rounds) break;
    for (int n = 0; n < N; ++n) s[n] = DiffuseAddKey(Substitute<false>(s[n], c), c, rk + 16 * (r + 2));
  }
  const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk + 16 * rounds));
  for (int n = 0; n < N; ++n) s[n] = _mm_xor_si128(_mm_shuffle_epi8(Substitute<false>(s[n], c), c.unshift), last);
}

QOR_ARIA_AESNI void EcbAesni(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds) {
  const Consts c;
  for (; blocks >= 4; blocks -= 4, in += 64, out += 64) {
    __m128i s[4];
    for (int n = 0; n < 4; ++n) s[n] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * n));
    Blocks<4>(s, rk, rounds, c);
    for (int n = 0; n < 4; ++n) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * n), s[n]);
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    __m128i s[1] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))};
    Blocks<1>(s, rk, rounds, c);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), s[0]);
  }
}

QOR_ARIA_AESNI void CbcEncAesni(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds,
                                uint8_t chain[16]) {
  const Consts c;
  __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chain));
  for (size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
    __m128i s[1] = {_mm_xor_si128(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(in)))};
    Blocks<1>(s, rk, rounds, c);
    x = s[0];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), x);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chain), x);
}

constexpr Kernels kAesni = {EcbAesni, CbcEncAesni, "aesni"};

}  // namespace

const Kernels* AesniKernels() {
  return cpu::HasAesNi() ? &kAesni : nullptr;
}

}  // namespace qor::aria
