// ARIA kernels on GFNI with AVX-512: every S-box is an affine map of the field
// inverse, which GF2P8AFFINEINVQB computes for 64 bytes at once without table
// lookups; byte masks pick the S-box of each position. Four blocks share one
// 512-bit register (one per 128-bit lane) and the diffusion layer is seven
// in-lane byte shuffles XORed together.
#include <immintrin.h>

#include <array>
#include <cstring>

#include "primitives/aria/aria_internal.h"
#include "qor/nc_aria.h"

// GCC's 512-bit intrinsic headers trip its own uninitialised-value check.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

namespace qor::aria {
namespace {

using Rows = std::array<uint8_t, 8>;  // rows[i] bit j: input bit j feeds output bit i

constexpr uint8_t Inv(uint8_t x) { return detail::GfPow(x, 254); }

template <class F>
constexpr Rows FromLinear(F f) {
  Rows m{};
  for (int j = 0; j < 8; ++j) {
    const uint8_t col = f(static_cast<uint8_t>(1u << j));
    for (int i = 0; i < 8; ++i)
      if ((col >> i) & 1) m[i] |= static_cast<uint8_t>(1u << j);
  }
  return m;
}

// Operand layout of GF2P8AFFINE(INV)QB: byte 7 - i of the qword is row i.
constexpr uint64_t Qword(const Rows& m) {
  uint64_t q = 0;
  for (int i = 0; i < 8; ++i) q |= uint64_t{m[i]} << (8 * (7 - i));
  return q;
}

// S1(x) = A1 inv(x) + 63, S2(x) = A2 inv(x) + E2,
// S1^-1(y) = inv(N1 y + d1), S2^-1(y) = inv(N2 y + d2).
constexpr uint64_t kA1 = Qword(FromLinear([](uint8_t x) { return static_cast<uint8_t>(kSBox.s1[Inv(x)] ^ 0x63); }));
constexpr uint64_t kA2 = Qword(FromLinear([](uint8_t x) { return static_cast<uint8_t>(kSBox.s2[Inv(x)] ^ 0xE2); }));
constexpr uint64_t kN1 = Qword(FromLinear([](uint8_t y) { return Inv(kSBox.s1inv[y ^ 0x63]); }));
constexpr uint64_t kN2 = Qword(FromLinear([](uint8_t y) { return Inv(kSBox.s2inv[y ^ 0xE2]); }));
constexpr uint8_t kD1 = Inv(kSBox.s1inv[0]);
constexpr uint8_t kD2 = Inv(kSBox.s2inv[0]);
constexpr uint64_t kIdentity = 0x0102040810204080ULL;

// Byte position classes (position mod 4) in every 128-bit lane.
constexpr uint64_t kPos0 = 0x1111111111111111ULL;
constexpr uint64_t kPos1 = 0x2222222222222222ULL;
constexpr uint64_t kPos2 = 0x4444444444444444ULL;
constexpr uint64_t kPos3 = 0x8888888888888888ULL;

// For each output byte, the seven input bytes it XORs, read off the
// portable diffusion layer so both kernels share one definition.
struct DiffusionIndex {
  alignas(64) uint8_t idx[7][64];
};

const DiffusionIndex& Index() {
  static const DiffusionIndex table = [] {
    DiffusionIndex t{};
    int count[16] = {};
    for (int k = 0; k < 16; ++k) {
      uint8_t in[16] = {}, out[16];
      in[k] = 1;
      Diffuse(in, out);
      for (int j = 0; j < 16; ++j) {
        if (out[j] != 0 && count[j] < 7) {
          for (int lane = 0; lane < 4; ++lane) t.idx[count[j]][16 * lane + j] = static_cast<uint8_t>(k);
          ++count[j];
        }
      }
    }
    return t;
  }();
  return table;
}

#define QOR_ARIA_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,gfni")))

struct Shuffles {
  __m512i s[7];
};

QOR_ARIA_TARGET inline Shuffles LoadShuffles() {
  const DiffusionIndex& t = Index();
  Shuffles s;
  for (int m = 0; m < 7; ++m) s.s[m] = _mm512_load_si512(t.idx[m]);
  return s;
}

QOR_ARIA_TARGET inline __m512i BroadcastKey(const uint8_t* rk) {
  return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rk)));
}

// Substitution layer. Odd rounds: S1, S2, S1^-1, S2^-1 at positions 0..3 of
// every word; even rounds the other way round.
template <bool kOdd>
QOR_ARIA_TARGET inline __m512i Substitute(__m512i t) {
  constexpr uint64_t kS1 = kOdd ? kPos0 : kPos2, kS2 = kOdd ? kPos1 : kPos3;
  constexpr uint64_t kS1Inv = kOdd ? kPos2 : kPos0, kS2Inv = kOdd ? kPos3 : kPos1;
  const __m512i pre1 = _mm512_maskz_gf2p8affine_epi64_epi8(kS1Inv, t, _mm512_set1_epi64(static_cast<long long>(kN1)), kD1);
  const __m512i pre2 = _mm512_maskz_gf2p8affine_epi64_epi8(kS2Inv, t, _mm512_set1_epi64(static_cast<long long>(kN2)), kD2);
  const __m512i g = _mm512_ternarylogic_epi64(_mm512_maskz_mov_epi8(kS1 | kS2, t), pre1, pre2, 0xFE);
  const __m512i f1 = _mm512_maskz_gf2p8affineinv_epi64_epi8(kS1, g, _mm512_set1_epi64(static_cast<long long>(kA1)), 0x63);
  const __m512i f2 = _mm512_maskz_gf2p8affineinv_epi64_epi8(kS2, g, _mm512_set1_epi64(static_cast<long long>(kA2)), 0xE2);
  const __m512i fi = _mm512_maskz_gf2p8affineinv_epi64_epi8(kS1Inv | kS2Inv, g,
                                                            _mm512_set1_epi64(static_cast<long long>(kIdentity)), 0);
  return _mm512_ternarylogic_epi64(f1, f2, fi, 0xFE);
}

// Diffusion followed by the next key: eight inputs XORed in three steps.
QOR_ARIA_TARGET inline __m512i DiffuseAddKey(__m512i u, const Shuffles& sh, __m512i key) {
  const __m512i a = _mm512_ternarylogic_epi64(_mm512_shuffle_epi8(u, sh.s[0]), _mm512_shuffle_epi8(u, sh.s[1]),
                                              _mm512_shuffle_epi8(u, sh.s[2]), 0x96);
  const __m512i b = _mm512_ternarylogic_epi64(_mm512_shuffle_epi8(u, sh.s[3]), _mm512_shuffle_epi8(u, sh.s[4]),
                                              _mm512_shuffle_epi8(u, sh.s[5]), 0x96);
  const __m512i c = _mm512_xor_si512(_mm512_shuffle_epi8(u, sh.s[6]), key);
  return _mm512_ternarylogic_epi64(a, b, c, 0x96);
}

// N registers of four blocks each, interleaved for instruction-level parallelism.
template <int N>
QOR_ARIA_TARGET inline void Rounds(__m512i (&s)[N], const uint8_t* rk, int rounds, const Shuffles& sh) {
  __m512i key = BroadcastKey(rk);
  for (int n = 0; n < N; ++n) s[n] = _mm512_xor_si512(s[n], key);
  for (int i = 0; i + 1 < rounds; i += 2) {
    key = BroadcastKey(rk + 16 * (i + 1));
    for (int n = 0; n < N; ++n) s[n] = DiffuseAddKey(Substitute<true>(s[n]), sh, key);
    if (i + 2 == rounds) break;
    key = BroadcastKey(rk + 16 * (i + 2));
    for (int n = 0; n < N; ++n) s[n] = DiffuseAddKey(Substitute<false>(s[n]), sh, key);
  }
  key = BroadcastKey(rk + 16 * rounds);
  for (int n = 0; n < N; ++n) s[n] = _mm512_xor_si512(Substitute<false>(s[n]), key);
}

// Single-block variants on 128-bit registers for the serial CBC chain.
struct Shuffles128 {
  __m128i s[7];
};

template <bool kOdd>
QOR_ARIA_TARGET inline __m128i Substitute128(__m128i t) {
  constexpr __mmask16 kS1 = static_cast<__mmask16>(kOdd ? kPos0 : kPos2);
  constexpr __mmask16 kS2 = static_cast<__mmask16>(kOdd ? kPos1 : kPos3);
  constexpr __mmask16 kS1Inv = static_cast<__mmask16>(kOdd ? kPos2 : kPos0);
  constexpr __mmask16 kS2Inv = static_cast<__mmask16>(kOdd ? kPos3 : kPos1);
  const __m128i pre1 = _mm_maskz_gf2p8affine_epi64_epi8(kS1Inv, t, _mm_set1_epi64x(static_cast<long long>(kN1)), kD1);
  const __m128i pre2 = _mm_maskz_gf2p8affine_epi64_epi8(kS2Inv, t, _mm_set1_epi64x(static_cast<long long>(kN2)), kD2);
  const __m128i g = _mm_ternarylogic_epi64(_mm_maskz_mov_epi8(kS1 | kS2, t), pre1, pre2, 0xFE);
  const __m128i f1 = _mm_maskz_gf2p8affineinv_epi64_epi8(kS1, g, _mm_set1_epi64x(static_cast<long long>(kA1)), 0x63);
  const __m128i f2 = _mm_maskz_gf2p8affineinv_epi64_epi8(kS2, g, _mm_set1_epi64x(static_cast<long long>(kA2)), 0xE2);
  const __m128i fi = _mm_maskz_gf2p8affineinv_epi64_epi8(kS1Inv | kS2Inv, g,
                                                         _mm_set1_epi64x(static_cast<long long>(kIdentity)), 0);
  return _mm_ternarylogic_epi64(f1, f2, fi, 0xFE);
}

QOR_ARIA_TARGET inline __m128i DiffuseAddKey128(__m128i u, const Shuffles128& sh, __m128i key) {
  const __m128i a = _mm_ternarylogic_epi64(_mm_shuffle_epi8(u, sh.s[0]), _mm_shuffle_epi8(u, sh.s[1]),
                                           _mm_shuffle_epi8(u, sh.s[2]), 0x96);
  const __m128i b = _mm_ternarylogic_epi64(_mm_shuffle_epi8(u, sh.s[3]), _mm_shuffle_epi8(u, sh.s[4]),
                                           _mm_shuffle_epi8(u, sh.s[5]), 0x96);
  const __m128i c = _mm_xor_si128(_mm_shuffle_epi8(u, sh.s[6]), key);
  return _mm_ternarylogic_epi64(a, b, c, 0x96);
}

QOR_ARIA_TARGET inline __m128i LoadKey128(const uint8_t* rk) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk));
}

QOR_ARIA_TARGET inline __m128i Block128(__m128i s, const uint8_t* rk, int rounds, const Shuffles128& sh) {
  s = _mm_xor_si128(s, LoadKey128(rk));
  for (int i = 0; i + 1 < rounds; i += 2) {
    s = DiffuseAddKey128(Substitute128<true>(s), sh, LoadKey128(rk + 16 * (i + 1)));
    if (i + 2 == rounds) break;
    s = DiffuseAddKey128(Substitute128<false>(s), sh, LoadKey128(rk + 16 * (i + 2)));
  }
  return _mm_xor_si128(Substitute128<false>(s), LoadKey128(rk + 16 * rounds));
}

QOR_ARIA_TARGET void EcbGfni(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds) {
  const Shuffles sh = LoadShuffles();
  for (; blocks >= 16; blocks -= 16, in += 256, out += 256) {
    __m512i s[4];
    for (int n = 0; n < 4; ++n) s[n] = _mm512_loadu_si512(in + 64 * n);
    Rounds<4>(s, rk, rounds, sh);
    for (int n = 0; n < 4; ++n) _mm512_storeu_si512(out + 64 * n, s[n]);
  }
  for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
    __m512i s[2];
    for (int n = 0; n < 2; ++n) s[n] = _mm512_loadu_si512(in + 64 * n);
    Rounds<2>(s, rk, rounds, sh);
    for (int n = 0; n < 2; ++n) _mm512_storeu_si512(out + 64 * n, s[n]);
  }
  // The last few blocks go one per 128-bit register: shorter latency than a
  // part-filled 512-bit one, and their chains are independent.
  const DiffusionIndex& t = Index();
  Shuffles128 sh128;
  for (int m = 0; m < 7; ++m) sh128.s[m] = _mm_load_si128(reinterpret_cast<const __m128i*>(t.idx[m]));
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const __m128i s = Block128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), rk, rounds, sh128);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), s);
  }
}

// The serial CBC chain keeps its block in a permuted byte order: even
// positions in the low qword, odd ones in the high qword. Each qword then
// holds one S-box family (S1 with S1^-1, S2 with S2^-1), so the input maps of
// the inverse S-boxes become one merge-masked affine instruction with a
// matrix per qword, and the forward S-boxes one more. Constants of all four
// S-boxes are folded into per-call round keys.
constexpr int Layout(int j) { return (j & 1) ? 8 + j / 2 : j / 2; }

struct ChainTables {
  alignas(16) uint8_t toLayout[16];
  alignas(16) uint8_t fromLayout[16];
  alignas(16) uint8_t shuffle[7][16];
  // Per parity (index 1 = odd round): constants before the input maps and
  // the diffused output constants, both in layout order.
  alignas(16) uint8_t inConst[2][16];
  alignas(16) uint8_t outConstDiffused[2][16];
  alignas(16) uint8_t outConst[2][16];
};

const ChainTables& Chain() {
  static const ChainTables tables = [] {
    ChainTables c{};
    const DiffusionIndex& d = Index();
    for (int j = 0; j < 16; ++j) {
      c.toLayout[Layout(j)] = static_cast<uint8_t>(j);
      c.fromLayout[j] = static_cast<uint8_t>(Layout(j));
      for (int m = 0; m < 7; ++m) c.shuffle[m][Layout(j)] = static_cast<uint8_t>(Layout(d.idx[m][j]));
    }
    for (int odd = 0; odd < 2; ++odd) {
      uint8_t in[16], out[16], diffused[16];
      for (int j = 0; j < 16; ++j) {
        // Which S-box sits at j: 0 S1, 1 S2, 2 S1^-1, 3 S2^-1.
        const int box = odd ? j % 4 : (j % 4 + 2) % 4;
        in[j] = box == 2 ? 0x63 : box == 3 ? 0xE2 : 0;
        out[j] = box == 0 ? 0x63 : box == 1 ? 0xE2 : 0;
      }
      Diffuse(out, diffused);
      for (int j = 0; j < 16; ++j) {
        c.inConst[odd][Layout(j)] = in[j];
        c.outConstDiffused[odd][Layout(j)] = diffused[j];
        c.outConst[odd][Layout(j)] = out[j];
      }
    }
    return c;
  }();
  return tables;
}

// One S-box layer in layout order, constants excluded. Odd rounds have the
// forward S-boxes at even layout bytes, even rounds at odd ones.
template <bool kOdd>
QOR_ARIA_TARGET inline __m128i ChainSubstitute(__m128i t) {
  constexpr __mmask16 kInv = kOdd ? 0xAAAA : 0x5555;
  const __m128i n = _mm_set_epi64x(static_cast<long long>(kN2), static_cast<long long>(kN1));
  const __m128i a = _mm_set_epi64x(static_cast<long long>(kA2), static_cast<long long>(kA1));
  const __m128i g = _mm_mask_gf2p8affine_epi64_epi8(t, kInv, t, n, 0);
  const __m128i fwd = _mm_gf2p8affineinv_epi64_epi8(g, a, 0);
  const __m128i inv = _mm_gf2p8affineinv_epi64_epi8(g, _mm_set1_epi64x(static_cast<long long>(kIdentity)), 0);
  const __m128i fwdSel = _mm_set1_epi16(kOdd ? 0x00FF : static_cast<short>(0xFF00));
  return _mm_ternarylogic_epi64(fwdSel, fwd, inv, 0xCA);  // fwdSel ? fwd : inv
}

QOR_ARIA_TARGET void CbcEncGfni(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds,
                                uint8_t chain[16]) {
  const ChainTables& c = Chain();
  const auto load = [](const uint8_t* p) QOR_ARIA_TARGET { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); };
  const __m128i toLayout = load(c.toLayout), fromLayout = load(c.fromLayout);
  Shuffles128 sh;
  for (int m = 0; m < 7; ++m) sh.s[m] = load(c.shuffle[m]);
  // Key r also carries the diffused output constants of round r - 1 and the
  // input constants of round r (odd rounds are r = 0, 2, ...).
  __m128i keys[NC_ARIA_MAX_ROUNDS + 1];
  for (int r = 0; r <= rounds; ++r) {
    __m128i k = _mm_shuffle_epi8(LoadKey128(rk + 16 * r), toLayout);
    const int odd = (r & 1) == 0;
    if (r < rounds) k = _mm_xor_si128(k, load(c.inConst[odd]));
    if (r > 0 && r < rounds) k = _mm_xor_si128(k, load(c.outConstDiffused[!odd]));
    if (r == rounds) k = _mm_xor_si128(k, load(c.outConst[0]));
    keys[r] = k;
  }
  __m128i x = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(chain)), toLayout);
  for (size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
    const __m128i p = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), toLayout);
    x = _mm_ternarylogic_epi64(x, p, keys[0], 0x96);
    for (int r = 0; r + 1 < rounds; r += 2) {
      x = DiffuseAddKey128(ChainSubstitute<true>(x), sh, keys[r + 1]);
      if (r + 2 == rounds) break;
      x = DiffuseAddKey128(ChainSubstitute<false>(x), sh, keys[r + 2]);
    }
    x = _mm_xor_si128(ChainSubstitute<false>(x), keys[rounds]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(x, fromLayout));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chain), _mm_shuffle_epi8(x, fromLayout));
  for (auto& k : keys) k = _mm_setzero_si128();
  __asm__ __volatile__("" : : "r"(keys) : "memory");
}

constexpr Kernels kGfni = {EcbGfni, CbcEncGfni, "gfni-avx512"};

}  // namespace

const Kernels* GfniKernels() {
  if (__builtin_cpu_supports("gfni") && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl"))
    return &kGfni;
  return nullptr;
}

}  // namespace qor::aria
