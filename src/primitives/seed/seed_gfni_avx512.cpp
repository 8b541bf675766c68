// AVX-512 + GFNI SEED decryption. Sixteen blocks form a group: four vectors
// holding word w of every block (a 4x4 word transpose per 128-bit lane). The G
// function maps each byte into the inverse-friendly field, inverts it with an
// affine correction that yields S1 (even bytes) or S2 (odd bytes), then mixes
// the bytes with masked rotations.
// Several 512-bit intrinsics start from an "undefined" vector that GCC 12
// reports as uninitialised; the values are fully overwritten.
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "common/secure_wipe.h"
#include "primitives/cpu_features.h"
#include "primitives/block_modes.h"
#include "primitives/seed/seed_vector.h"

namespace qor::seed {
namespace {

#define QOR_SEED_VEC __attribute__((target("avx512f,avx512bw,gfni")))

// Field isomorphism into the inversion field, and the two output maps, as
// GF(2) 8x8 matrices in the instruction's row layout.
constexpr long long kToField = 0x0BCCB02E16183C70ll;
constexpr long long kOutS1 = static_cast<long long>(0x9A5C7193DADFACE8ull);
constexpr long long kOutS2 = 0x6C46DAC00BD2D78Fll;
constexpr int kConstS1 = 169;
constexpr int kConstS2 = 56;
// Byte masks of the mixing step: output byte k takes input byte j under mask
// m[(j + k) mod 4]; kMix[t] goes with the input rotated left by 8t bits.
constexpr int kMix[4] = {static_cast<int>(0xCFFCCFFCu), static_cast<int>(0xF33FF33Fu),
                         static_cast<int>(0xFCCFFCCFu), static_cast<int>(0x3FF33FF3u)};
constexpr int kGroupBlocks = 16;
constexpr size_t kBlock = 16;

QOR_SEED_VEC inline __m512i G(__m512i x) {
  const __m512i y = _mm512_gf2p8affine_epi64_epi8(x, _mm512_set1_epi64(kToField), 0);
  __m512i s = _mm512_gf2p8affineinv_epi64_epi8(y, _mm512_set1_epi64(kOutS1), kConstS1);
  s = _mm512_mask_gf2p8affineinv_epi64_epi8(s, 0xAAAAAAAAAAAAAAAAull, y, _mm512_set1_epi64(kOutS2), kConstS2);
  // z = s & kMix[0], then z ^= rotl(s, 8t) & kMix[t] (ternary 0x78: a ^ (b & c)).
  __m512i z = _mm512_and_si512(s, _mm512_set1_epi32(kMix[0]));
  z = _mm512_ternarylogic_epi32(z, _mm512_rol_epi32(s, 8), _mm512_set1_epi32(kMix[1]), 0x78);
  z = _mm512_ternarylogic_epi32(z, _mm512_rol_epi32(s, 16), _mm512_set1_epi32(kMix[2]), 0x78);
  return _mm512_ternarylogic_epi32(z, _mm512_rol_epi32(s, 24), _mm512_set1_epi32(kMix[3]), 0x78);
}

template <int N>
QOR_SEED_VEC inline void Round(__m512i (&x0)[N], __m512i (&x1)[N], const __m512i (&y0)[N], const __m512i (&y1)[N],
                               uint32_t k0, uint32_t k1) {
  const __m512i vk0 = _mm512_set1_epi32(static_cast<int>(k0));
  const __m512i vk1 = _mm512_set1_epi32(static_cast<int>(k1));
  __m512i a[N], t[N], u[N], d[N];
  for (int j = 0; j < N; ++j) {
    a[j] = _mm512_xor_si512(y0[j], vk0);
    t[j] = G(_mm512_ternarylogic_epi32(y1[j], vk1, a[j], 0x96));  // y1 ^ k1 ^ a
  }
  for (int j = 0; j < N; ++j) u[j] = G(_mm512_add_epi32(t[j], a[j]));
  for (int j = 0; j < N; ++j) d[j] = G(_mm512_add_epi32(u[j], t[j]));
  for (int j = 0; j < N; ++j) {
    x0[j] = _mm512_xor_si512(x0[j], _mm512_add_epi32(d[j], u[j]));
    x1[j] = _mm512_xor_si512(x1[j], d[j]);
  }
}

QOR_SEED_VEC inline __m512i WordSwapMask() {
  alignas(64) uint8_t idx[64];
  for (int i = 0; i < 64; ++i) idx[i] = static_cast<uint8_t>((i & 12) | (3 - (i & 3)));
  return _mm512_load_si512(idx);
}

// Four vectors of four blocks each <-> four vectors of one word each.
QOR_SEED_VEC inline void Transpose(__m512i& a, __m512i& b, __m512i& c, __m512i& d) {
  const __m512i t0 = _mm512_unpacklo_epi32(a, b);
  const __m512i t1 = _mm512_unpackhi_epi32(a, b);
  const __m512i t2 = _mm512_unpacklo_epi32(c, d);
  const __m512i t3 = _mm512_unpackhi_epi32(c, d);
  a = _mm512_unpacklo_epi64(t0, t2);
  b = _mm512_unpackhi_epi64(t0, t2);
  c = _mm512_unpacklo_epi64(t1, t3);
  d = _mm512_unpackhi_epi64(t1, t3);
}

// ECB decryption of N groups (16 N blocks).
template <int N>
QOR_SEED_VEC void DecryptGroups(const uint8_t* in, uint8_t* out, const uint32_t* rk) {
  const __m512i swap = WordSwapMask();
  __m512i l0[N], l1[N], r0[N], r1[N];
  for (int g = 0; g < N; ++g) {
    const uint8_t* p = in + 256 * g;
    l0[g] = _mm512_shuffle_epi8(_mm512_loadu_si512(p), swap);
    l1[g] = _mm512_shuffle_epi8(_mm512_loadu_si512(p + 64), swap);
    r0[g] = _mm512_shuffle_epi8(_mm512_loadu_si512(p + 128), swap);
    r1[g] = _mm512_shuffle_epi8(_mm512_loadu_si512(p + 192), swap);
    Transpose(l0[g], l1[g], r0[g], r1[g]);
  }
  for (int i = 0; i < 16; i += 2) {
    const int ra = 15 - i, rb = 14 - i;
    Round<N>(l0, l1, r0, r1, rk[2 * ra], rk[2 * ra + 1]);
    Round<N>(r0, r1, l0, l1, rk[2 * rb], rk[2 * rb + 1]);
  }
  for (int g = 0; g < N; ++g) {
    Transpose(r0[g], r1[g], l0[g], l1[g]);
    uint8_t* p = out + 256 * g;
    _mm512_storeu_si512(p, _mm512_shuffle_epi8(r0[g], swap));
    _mm512_storeu_si512(p + 64, _mm512_shuffle_epi8(r1[g], swap));
    _mm512_storeu_si512(p + 128, _mm512_shuffle_epi8(l0[g], swap));
    _mm512_storeu_si512(p + 192, _mm512_shuffle_epi8(l1[g], swap));
  }
}

// Fewer blocks than this are cheaper on the table path.
constexpr size_t kMinBlocks = 3;

// Returns the blocks done: a short remainder is left to the table path.
size_t CbcDecryptVector(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t* rk, uint8_t chain[16]) {
  alignas(64) uint8_t plain[4 * kGroupBlocks * kBlock];
  size_t done = 0;
  while (blocks - done >= 4 * kGroupBlocks) {
    DecryptGroups<4>(in + done * kBlock, plain, rk);
    primitives::XorChainBackward<kBlock>(in + done * kBlock, out + done * kBlock, plain, 4 * kGroupBlocks, chain);
    done += 4 * kGroupBlocks;
  }
  while (blocks - done >= kGroupBlocks) {
    DecryptGroups<1>(in + done * kBlock, plain, rk);
    primitives::XorChainBackward<kBlock>(in + done * kBlock, out + done * kBlock, plain, kGroupBlocks, chain);
    done += kGroupBlocks;
  }
  if (const size_t rest = blocks - done; rest >= kMinBlocks) {
    alignas(64) uint8_t padded[kGroupBlocks * kBlock] = {};
    std::memcpy(padded, in + done * kBlock, rest * kBlock);
    DecryptGroups<1>(padded, plain, rk);
    primitives::XorChainBackward<kBlock>(in + done * kBlock, out + done * kBlock, plain, rest, chain);
    SecureWipe(padded, sizeof(padded));
    done += rest;
  }
  SecureWipe(plain, sizeof(plain));
  return done;
}

void CbcDecryptGfni(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t* rk, uint8_t chain[16]) {
  const size_t done = blocks > 1 ? CbcDecryptVector(in, out, blocks, rk, chain) : 0;
  if (done < blocks) CbcDecryptTables(in + done * kBlock, out + done * kBlock, blocks - done, rk, chain);
}

constexpr Kernels kGfni = {CbcDecryptGfni, "gfni-avx512"};

}  // namespace

const Kernels* GfniKernels() { return cpu::HasGfniAvx512() ? &kGfni : nullptr; }

}  // namespace qor::seed
