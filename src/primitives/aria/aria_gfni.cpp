// ARIA kernels on GFNI with AVX-512: every S-box is an affine map of the field
// inverse, which GF2P8AFFINEINVQB computes for 64 bytes at once without table
// lookups; byte masks pick the S-box of each position. Four blocks share one
// 512-bit register (one per 128-bit lane) and the diffusion layer is seven
// in-lane byte shuffles XORed together. A single block (the serial CBC
// chain) splits the diffusion so that most of it runs beside the S-boxes.
#include <immintrin.h>

#include <array>
#include <cstring>

#include "common/secure_wipe.h"
#include "primitives/cpu_features.h"
#include "primitives/aria/aria_internal.h"
#include "qor/nc_aria.h"

// GCC's 512-bit intrinsic headers trip its own uninitialised-value check.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
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
constexpr uint64_t kIdentity = 0x0102040810204080ULL;

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

// Blocks are processed in a permuted byte order: even positions in the low
// qword, odd ones in the high qword of each 128-bit lane. A qword then holds
// one S-box family (S1 with S1^-1, S2 with S2^-1), so the input maps of the
// inverse S-boxes take one merge-masked affine instruction with a matrix per
// qword, and the forward S-boxes one more. The S-box constants are folded
// into per-call round keys.
constexpr int Layout(int j) { return (j & 1) ? 8 + j / 2 : j / 2; }

struct LayoutTables {
  alignas(16) uint8_t toLayout[16];
  alignas(16) uint8_t fromLayout[16];
  alignas(16) uint8_t shuffle[7][16];
  // Per parity (index 1 = odd round), in layout order: constants before the
  // input maps, output constants, and output constants after diffusion.
  alignas(16) uint8_t inConst[2][16];
  alignas(16) uint8_t outConst[2][16];
  alignas(16) uint8_t outConstDiffused[2][16];
  // The diffusion split by where its inputs come from, per parity: [0]
  // takes the four (or fewer) inputs of each output that a forward S-box
  // wrote, [1] those an inverse S-box wrote; an unused slot reads zero.
  alignas(16) uint8_t split[2][2][4][16];
};

const LayoutTables& Tables() {
  static const LayoutTables tables = [] {
    LayoutTables c{};
    const DiffusionIndex& d = Index();
    for (int j = 0; j < 16; ++j) {
      c.toLayout[Layout(j)] = static_cast<uint8_t>(j);
      c.fromLayout[j] = static_cast<uint8_t>(Layout(j));
      for (int m = 0; m < 7; ++m) c.shuffle[m][Layout(j)] = static_cast<uint8_t>(Layout(d.idx[m][j]));
    }
    for (int odd = 0; odd < 2; ++odd) {
      uint8_t in[16], out[16], diffused[16];
      for (int j = 0; j < 16; ++j) {
        // The S-box at j: 0 S1, 1 S2, 2 S1^-1, 3 S2^-1.
        const int box = odd ? j % 4 : (j % 4 + 2) % 4;
        in[j] = box == 2 ? 0x63 : box == 3 ? 0xE2 : 0;
        out[j] = box == 0 ? 0x63 : box == 1 ? 0xE2 : 0;
      }
      Diffuse(out, diffused);
      for (int j = 0; j < 16; ++j) {
        c.inConst[odd][Layout(j)] = in[j];
        c.outConst[odd][Layout(j)] = out[j];
        c.outConstDiffused[odd][Layout(j)] = diffused[j];
      }
      // Odd rounds have the inverse S-boxes at odd layout bytes, even
      // rounds at even ones.
      for (int p = 0; p < 16; ++p) {
        int used[2] = {0, 0};
        for (int part = 0; part < 2; ++part)
          for (int slot = 0; slot < 4; ++slot) c.split[odd][part][slot][p] = 0x80;
        // Every output of the diffusion has at most four inputs from
        // either kind of S-box, in rounds of both parities.
        for (int m = 0; m < 7; ++m) {
          const int source = c.shuffle[m][p];
          const int part = (source & 1) == odd ? 1 : 0;
          c.split[odd][part][used[part]++][p] = static_cast<uint8_t>(source);
        }
      }
    }
    return c;
  }();
  return tables;
}

QOR_ARIA_TARGET inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Round keys in layout order with the constants folded in: key r carries the
// input constants of round r and the diffused output constants of round
// r - 1 (odd rounds are r = 0, 2, ...; the last round is even and ends with
// its plain output constants).
struct Keys {
  __m128i k[NC_ARIA_MAX_ROUNDS + 1];
  int rounds;
  QOR_ARIA_TARGET Keys(const uint8_t* rk, int r) : rounds(r) {
    const LayoutTables& c = Tables();
    const __m128i toLayout = Load128(c.toLayout);
    for (int i = 0; i <= rounds; ++i) {
      __m128i key = _mm_shuffle_epi8(Load128(rk + 16 * i), toLayout);
      const int odd = (i & 1) == 0;
      if (i < rounds) key = _mm_xor_si128(key, Load128(c.inConst[odd]));
      if (i > 0 && i < rounds) key = _mm_xor_si128(key, Load128(c.outConstDiffused[!odd]));
      if (i == rounds) key = _mm_xor_si128(key, Load128(c.outConst[0]));
      k[i] = key;
    }
  }
  QOR_ARIA_TARGET ~Keys() {
    qor::SecureWipe(k, sizeof k);
  }
  Keys(const Keys&) = delete;
  Keys& operator=(const Keys&) = delete;
};

// --- 128-bit registers: one block, for the serial CBC chain and short tails.

struct Shuffles128 {
  __m128i split[2][2][4];  // [odd][forward 0, inverse 1][slot]
  __m128i toLayout, fromLayout;
  QOR_ARIA_TARGET Shuffles128() {
    const LayoutTables& c = Tables();
    for (int odd = 0; odd < 2; ++odd)
      for (int part = 0; part < 2; ++part)
        for (int slot = 0; slot < 4; ++slot) split[odd][part][slot] = Load128(c.split[odd][part][slot]);
    toLayout = Load128(c.toLayout);
    fromLayout = Load128(c.fromLayout);
  }
};

// The S-box layer in layout order, constants excluded, as two halves: the
// forward S-boxes (valid at the forward bytes) straight from the input, and
// the inverse ones (valid at the other bytes) after their input map. Odd
// rounds have the forward S-boxes at even layout bytes, even rounds at odd
// ones; each half holds junk at the other half's bytes.
QOR_ARIA_TARGET inline __m128i Forward128(__m128i t) {
  const __m128i a = _mm_set_epi64x(static_cast<long long>(kA2), static_cast<long long>(kA1));
  return _mm_gf2p8affineinv_epi64_epi8(t, a, 0);
}
QOR_ARIA_TARGET inline __m128i Inverse128(__m128i t) {
  const __m128i n = _mm_set_epi64x(static_cast<long long>(kN2), static_cast<long long>(kN1));
  return _mm_gf2p8affineinv_epi64_epi8(_mm_gf2p8affine_epi64_epi8(t, n, 0),
                                       _mm_set1_epi64x(static_cast<long long>(kIdentity)), 0);
}

// One round but the last: S-boxes, diffusion, next key. The diffusion is
// linear, so the inputs written by the forward S-boxes (ready one
// instruction earlier) are gathered and combined with the key while the
// inverse S-boxes still run; after those only four shuffles and two
// three-way XORs remain on the chain from block to block.
template <bool kOdd>
QOR_ARIA_TARGET inline __m128i Round128(__m128i t, const Shuffles128& sh, __m128i key) {
  const __m128i(&fw)[4] = sh.split[kOdd][0];
  const __m128i(&iv)[4] = sh.split[kOdd][1];
  const __m128i f = Forward128(t);
  const __m128i i = Inverse128(t);
  const __m128i fk = _mm_ternarylogic_epi64(
      _mm_ternarylogic_epi64(_mm_shuffle_epi8(f, fw[0]), _mm_shuffle_epi8(f, fw[1]), _mm_shuffle_epi8(f, fw[2]), 0x96),
      _mm_shuffle_epi8(f, fw[3]), key, 0x96);
  const __m128i x = _mm_ternarylogic_epi64(_mm_shuffle_epi8(i, iv[0]), _mm_shuffle_epi8(i, iv[1]), fk, 0x96);
  return _mm_ternarylogic_epi64(x, _mm_shuffle_epi8(i, iv[2]), _mm_shuffle_epi8(i, iv[3]), 0x96);
}

// The last round's S-boxes (an even round: the inverse S-boxes at even
// layout bytes) without diffusion.
QOR_ARIA_TARGET inline __m128i LastSubstitute128(__m128i t) {
  return _mm_mask_mov_epi8(Forward128(t), 0x5555, Inverse128(t));
}

// Block in layout order, key 0 already added.
QOR_ARIA_TARGET inline __m128i Rounds128(__m128i x, const Keys& keys, const Shuffles128& sh) {
  for (int r = 0; r + 1 < keys.rounds; r += 2) {
    x = Round128<true>(x, sh, keys.k[r + 1]);
    if (r + 2 == keys.rounds) break;
    x = Round128<false>(x, sh, keys.k[r + 2]);
  }
  return _mm_xor_si128(LastSubstitute128(x), keys.k[keys.rounds]);
}

// --- 512-bit registers: four blocks each, for independent blocks.

struct Shuffles512 {
  __m512i s[7];
  __m512i toLayout, fromLayout;
  __m512i k[NC_ARIA_MAX_ROUNDS + 1];
  QOR_ARIA_TARGET explicit Shuffles512(const Keys& keys) {
    const LayoutTables& c = Tables();
    for (int m = 0; m < 7; ++m) s[m] = _mm512_broadcast_i32x4(Load128(c.shuffle[m]));
    toLayout = _mm512_broadcast_i32x4(Load128(c.toLayout));
    fromLayout = _mm512_broadcast_i32x4(Load128(c.fromLayout));
    for (int i = 0; i <= keys.rounds; ++i) k[i] = _mm512_broadcast_i32x4(keys.k[i]);
  }
  QOR_ARIA_TARGET ~Shuffles512() {
    qor::SecureWipe(k, sizeof k);
  }
  Shuffles512(const Shuffles512&) = delete;
  Shuffles512& operator=(const Shuffles512&) = delete;
};

template <bool kOdd>
QOR_ARIA_TARGET inline __m512i Substitute512(__m512i t) {
  constexpr __mmask64 kInv = kOdd ? 0xAAAAAAAAAAAAAAAAULL : 0x5555555555555555ULL;
  const __m512i n = _mm512_set_epi64(static_cast<long long>(kN2), static_cast<long long>(kN1),
                                     static_cast<long long>(kN2), static_cast<long long>(kN1),
                                     static_cast<long long>(kN2), static_cast<long long>(kN1),
                                     static_cast<long long>(kN2), static_cast<long long>(kN1));
  const __m512i a = _mm512_set_epi64(static_cast<long long>(kA2), static_cast<long long>(kA1),
                                     static_cast<long long>(kA2), static_cast<long long>(kA1),
                                     static_cast<long long>(kA2), static_cast<long long>(kA1),
                                     static_cast<long long>(kA2), static_cast<long long>(kA1));
  const __m512i g = _mm512_mask_gf2p8affine_epi64_epi8(t, kInv, t, n, 0);
  const __m512i fwd = _mm512_gf2p8affineinv_epi64_epi8(g, a, 0);
  const __m512i inv = _mm512_gf2p8affineinv_epi64_epi8(g, _mm512_set1_epi64(static_cast<long long>(kIdentity)), 0);
  const __m512i fwdSel = _mm512_set1_epi16(kOdd ? 0x00FF : static_cast<short>(0xFF00));
  return _mm512_ternarylogic_epi64(fwdSel, fwd, inv, 0xCA);
}

QOR_ARIA_TARGET inline __m512i DiffuseAddKey512(__m512i u, const Shuffles512& sh, __m512i key) {
  const __m512i a = _mm512_ternarylogic_epi64(_mm512_shuffle_epi8(u, sh.s[0]), _mm512_shuffle_epi8(u, sh.s[1]),
                                              _mm512_shuffle_epi8(u, sh.s[2]), 0x96);
  const __m512i b = _mm512_ternarylogic_epi64(_mm512_shuffle_epi8(u, sh.s[3]), _mm512_shuffle_epi8(u, sh.s[4]),
                                              _mm512_shuffle_epi8(u, sh.s[5]), 0x96);
  const __m512i c = _mm512_xor_si512(_mm512_shuffle_epi8(u, sh.s[6]), key);
  return _mm512_ternarylogic_epi64(a, b, c, 0x96);
}

// N registers of four blocks each, interleaved for instruction-level parallelism.
template <int N>
QOR_ARIA_TARGET inline void Blocks512(const uint8_t* in, uint8_t* out, const Shuffles512& sh, int rounds) {
  __m512i s[N];
  for (int n = 0; n < N; ++n)
    s[n] = _mm512_xor_si512(_mm512_shuffle_epi8(_mm512_loadu_si512(in + 64 * n), sh.toLayout), sh.k[0]);
  for (int r = 0; r + 1 < rounds; r += 2) {
    for (int n = 0; n < N; ++n) s[n] = DiffuseAddKey512(Substitute512<true>(s[n]), sh, sh.k[r + 1]);
    if (r + 2 == rounds) break;
    for (int n = 0; n < N; ++n) s[n] = DiffuseAddKey512(Substitute512<false>(s[n]), sh, sh.k[r + 2]);
  }
  for (int n = 0; n < N; ++n) {
    const __m512i c = _mm512_xor_si512(Substitute512<false>(s[n]), sh.k[rounds]);
    _mm512_storeu_si512(out + 64 * n, _mm512_shuffle_epi8(c, sh.fromLayout));
  }
}

QOR_ARIA_TARGET void EcbGfni(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds) {
  const Keys keys(rk, rounds);
  if (blocks >= 8) {
    const Shuffles512 sh(keys);
    for (; blocks >= 16; blocks -= 16, in += 256, out += 256) Blocks512<4>(in, out, sh, rounds);
    for (; blocks >= 8; blocks -= 8, in += 128, out += 128) Blocks512<2>(in, out, sh, rounds);
  }
  // The last few blocks go one per 128-bit register: their chains are
  // independent and short.
  const Shuffles128 sh;
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const __m128i x = _mm_xor_si128(_mm_shuffle_epi8(Load128(in), sh.toLayout), keys.k[0]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(Rounds128(x, keys, sh), sh.fromLayout));
  }
}

QOR_ARIA_TARGET void CbcEncGfni(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds,
                                uint8_t chain[16]) {
  const Keys keys(rk, rounds);
  const Shuffles128 sh;
  __m128i x = _mm_shuffle_epi8(Load128(chain), sh.toLayout);
  for (size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
    x = _mm_ternarylogic_epi64(x, _mm_shuffle_epi8(Load128(in), sh.toLayout), keys.k[0], 0x96);
    x = Rounds128(x, keys, sh);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(x, sh.fromLayout));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chain), _mm_shuffle_epi8(x, sh.fromLayout));
}

constexpr Kernels kGfni = {EcbGfni, CbcEncGfni, "gfni-avx512"};

}  // namespace

const Kernels* GfniKernels() {
  return cpu::HasGfniAvx512() && cpu::Get().avx512vl ? &kGfni : nullptr;
}

}  // namespace qor::aria
