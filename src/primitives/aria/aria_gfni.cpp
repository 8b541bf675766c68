// ARIA kernels on GFNI with AVX-512: every S-box is an affine map of the field
// inverse, which GF2P8AFFINEINVQB computes for 64 bytes at once without table
// lookups; byte masks pick the S-box of each position. Four blocks share one
// 512-bit register (one per 128-bit lane) and the diffusion layer is seven
// in-lane byte shuffles XORed together.
#include <immintrin.h>

#include <array>
#include <cstring>

#include "primitives/aria/aria_internal.h"

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

QOR_ARIA_TARGET void CbcEncGfni(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds,
                                uint8_t chain[16]) {
  const DiffusionIndex& t = Index();
  Shuffles128 sh;
  for (int m = 0; m < 7; ++m) sh.s[m] = _mm_load_si128(reinterpret_cast<const __m128i*>(t.idx[m]));
  __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chain));
  for (size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
    c = Block128(_mm_xor_si128(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(in))), rk, rounds, sh);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), c);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chain), c);
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
