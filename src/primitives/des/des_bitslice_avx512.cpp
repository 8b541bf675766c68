// AVX-512 bitsliced triple DES. Layout of a batch: row k holds blocks
// 8k..8k+7 as byte-swapped 64-bit lanes; a 64x64 bit transpose per lane turns
// the rows into slices, slice i carrying bit (64 - i) of every block in the
// FIPS numbering (bit 1 = most significant bit of the first byte). The
// permutations IP, E, P and FP are then just renamings of slices, and each
// S-box output bit is a 6-input function built from eight 3-input leaves and a
// multiplexer tree, all vpternlog instructions.
#include <immintrin.h>

#include <array>
#include <cstring>

#include "common/secure_wipe.h"
#include "primitives/cpu_features.h"
#include "primitives/des/des_bitslice.h"
#include "primitives/des/des_core.h"

namespace qor::des {
namespace {

#define QOR_AVX512 __attribute__((target("avx512f,avx512bw")))

constexpr uint8_t kIp[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                             62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                             57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                             61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr uint8_t kE[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                            12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                            22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

// S-box output bit q (0..31, before P) lands on half bit kPInv[q].
constexpr std::array<uint8_t, 32> MakePInv() {
  std::array<uint8_t, 32> inv{};
  for (int i = 0; i < 32; ++i) inv[detail::kP[i] - 1] = static_cast<uint8_t>(i);
  return inv;
}
constexpr auto kPInv = MakePInv();

// Leaf truth tables: for S-box s, output bit o (0 = most significant) and the
// value of the first three inputs, an 8-entry table over the last three.
constexpr std::array<std::array<std::array<uint8_t, 8>, 4>, 8> MakeLeaves() {
  std::array<std::array<std::array<uint8_t, 8>, 4>, 8> t{};
  for (int s = 0; s < 8; ++s) {
    for (int o = 0; o < 4; ++o) {
      for (int sel = 0; sel < 8; ++sel) {
        uint8_t imm = 0;
        for (int idx = 0; idx < 8; ++idx) {
          const int x = sel << 3 | idx;
          const int row = ((x >> 4) & 2) | (x & 1);
          const int col = (x >> 1) & 0xF;
          const int v = detail::kSBox[s][row * 16 + col];
          imm = static_cast<uint8_t>(imm | ((v >> (3 - o)) & 1) << idx);
        }
        t[s][o][sel] = imm;
      }
    }
  }
  return t;
}
constexpr auto kLeaves = MakeLeaves();

constexpr int kMux = 0xCA;  // a ? b : c

template <int S, int O>
QOR_AVX512 inline __m512i OutputBit(const __m512i (&x)[6]) {
  // Named constants: the immediates must fold even in unoptimised builds.
  constexpr int t0 = kLeaves[S][O][0];
  constexpr int t1 = kLeaves[S][O][1];
  constexpr int t2 = kLeaves[S][O][2];
  constexpr int t3 = kLeaves[S][O][3];
  constexpr int t4 = kLeaves[S][O][4];
  constexpr int t5 = kLeaves[S][O][5];
  constexpr int t6 = kLeaves[S][O][6];
  constexpr int t7 = kLeaves[S][O][7];
  const __m512i l0 = _mm512_ternarylogic_epi32(x[3], x[4], x[5], t0);
  const __m512i l1 = _mm512_ternarylogic_epi32(x[3], x[4], x[5], t1);
  const __m512i l2 = _mm512_ternarylogic_epi32(x[3], x[4], x[5], t2);
  const __m512i l3 = _mm512_ternarylogic_epi32(x[3], x[4], x[5], t3);
  const __m512i l4 = _mm512_ternarylogic_epi32(x[3], x[4], x[5], t4);
  const __m512i l5 = _mm512_ternarylogic_epi32(x[3], x[4], x[5], t5);
  const __m512i l6 = _mm512_ternarylogic_epi32(x[3], x[4], x[5], t6);
  const __m512i l7 = _mm512_ternarylogic_epi32(x[3], x[4], x[5], t7);
  const __m512i m0 = _mm512_ternarylogic_epi32(x[2], l1, l0, kMux);
  const __m512i m1 = _mm512_ternarylogic_epi32(x[2], l3, l2, kMux);
  const __m512i m2 = _mm512_ternarylogic_epi32(x[2], l5, l4, kMux);
  const __m512i m3 = _mm512_ternarylogic_epi32(x[2], l7, l6, kMux);
  const __m512i n0 = _mm512_ternarylogic_epi32(x[1], m1, m0, kMux);
  const __m512i n1 = _mm512_ternarylogic_epi32(x[1], m3, m2, kMux);
  return _mm512_ternarylogic_epi32(x[0], n1, n0, kMux);
}

// l ^= S-box S of (r expanded ^ round key); |kmask| holds 48 words of 0 or ~0.
template <int S>
QOR_AVX512 inline void SBoxStep(__m512i* l, const __m512i* r, const uint32_t* kmask) {
  __m512i x[6];
  for (int j = 0; j < 6; ++j) {
    x[j] = _mm512_xor_si512(r[kE[6 * S + j] - 1], _mm512_set1_epi32(static_cast<int>(kmask[6 * S + j])));
  }
  l[kPInv[4 * S + 0]] = _mm512_xor_si512(l[kPInv[4 * S + 0]], OutputBit<S, 0>(x));
  l[kPInv[4 * S + 1]] = _mm512_xor_si512(l[kPInv[4 * S + 1]], OutputBit<S, 1>(x));
  l[kPInv[4 * S + 2]] = _mm512_xor_si512(l[kPInv[4 * S + 2]], OutputBit<S, 2>(x));
  l[kPInv[4 * S + 3]] = _mm512_xor_si512(l[kPInv[4 * S + 3]], OutputBit<S, 3>(x));
}

QOR_AVX512 void Round(__m512i* l, const __m512i* r, const uint32_t* kmask) {
  SBoxStep<0>(l, r, kmask);
  SBoxStep<1>(l, r, kmask);
  SBoxStep<2>(l, r, kmask);
  SBoxStep<3>(l, r, kmask);
  SBoxStep<4>(l, r, kmask);
  SBoxStep<5>(l, r, kmask);
  SBoxStep<6>(l, r, kmask);
  SBoxStep<7>(l, r, kmask);
}

// Round keys as 16 x 48 masks (bit p of round i -> 0 or ~0).
void ExpandMasks(const uint32_t* ks, uint32_t masks[16][48]) {
  for (int round = 0; round < 16; ++round) {
    for (int g = 0; g < 8; ++g) {
      const uint32_t word = ks[2 * round + (g & 1)];
      const uint32_t group = (word >> (24 - 8 * (g / 2))) & 0x3F;
      for (int b = 0; b < 6; ++b) masks[round][6 * g + b] = 0u - ((group >> (5 - b)) & 1u);
    }
  }
}

// Sixteen rounds; (l, r) point at the halves and swap roles every round.
QOR_AVX512 void Sixteen(__m512i*& l, __m512i*& r, const uint32_t (*masks)[48], bool decrypt) {
  for (int i = 0; i < 16; ++i) {
    Round(l, r, masks[decrypt ? 15 - i : i]);
    std::swap(l, r);
  }
  // The last round does not swap, so the pre-output block is (r, l); the next
  // pass (or the final permutation) starts from it.
  std::swap(l, r);
}

// In-place 64x64 bit transpose of every 64-bit lane across the 64 rows.
QOR_AVX512 void Transpose(__m512i* rows) {
  constexpr uint64_t kMasks[6] = {0x00000000FFFFFFFFull, 0x0000FFFF0000FFFFull, 0x00FF00FF00FF00FFull,
                                  0x0F0F0F0F0F0F0F0Full, 0x3333333333333333ull, 0x5555555555555555ull};
  const __m512i zero = _mm512_setzero_si512();
  int step = 0;
  for (int j = 32; j >= 1; j >>= 1, ++step) {
    const __m512i m = _mm512_set1_epi64(static_cast<long long>(kMasks[step]));
    for (int k = 0; k < 64; ++k) {
      if (k & j) continue;
      const __m512i a = rows[k];
      const __m512i b = rows[k + j];
      // Masked forms with an explicit zero source: the plain shift intrinsics
      // trip a false "uninitialized" warning in some compilers.
      const __m512i shifted = _mm512_mask_srli_epi64(zero, 0xFF, a, static_cast<unsigned>(j));
      const __m512i t = _mm512_ternarylogic_epi64(shifted, b, m, 0x28);
      rows[k + j] = _mm512_xor_si512(b, t);
      rows[k] = _mm512_xor_si512(a, _mm512_mask_slli_epi64(zero, 0xFF, t, static_cast<unsigned>(j)));
    }
  }
}

QOR_AVX512 __m512i ByteSwapMask() {
  // vpshufb indexes within 16-byte lanes: reverse the 8 bytes of each half.
  alignas(64) uint8_t idx[64];
  for (int i = 0; i < 64; ++i) idx[i] = static_cast<uint8_t>(((i & 8) | (7 - (i & 7))));
  return _mm512_load_si512(idx);
}

QOR_AVX512 void DecryptBatch(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t (*m1)[48],
                             const uint32_t (*m2)[48], const uint32_t (*m3)[48]) {
  alignas(64) __m512i rows[64];
  alignas(64) __m512i halves[64];
  const __m512i bswap = ByteSwapMask();
  const size_t full_rows = blocks / 8;
  for (size_t k = 0; k < 64; ++k) {
    if (k < full_rows) {
      rows[k] = _mm512_shuffle_epi8(_mm512_loadu_si512(in + 64 * k), bswap);
    } else if (k == full_rows && blocks % 8 != 0) {
      alignas(64) uint8_t tail[64] = {};
      std::memcpy(tail, in + 64 * k, 8 * (blocks % 8));
      rows[k] = _mm512_shuffle_epi8(_mm512_load_si512(tail), bswap);
    } else {
      rows[k] = _mm512_setzero_si512();
    }
  }
  Transpose(rows);
  // Initial permutation: half bit t (0..63 over L then R) is block bit kIp[t].
  for (int t = 0; t < 64; ++t) halves[t] = rows[64 - kIp[t]];
  __m512i* l = halves;
  __m512i* r = halves + 32;
  Sixteen(l, r, m3, true);
  Sixteen(l, r, m2, false);
  Sixteen(l, r, m1, true);
  // The final permutation sends pre-output bit t (l, then r) to block bit kIp[t].
  for (int t = 0; t < 32; ++t) {
    rows[64 - kIp[t]] = l[t];
    rows[64 - kIp[32 + t]] = r[t];
  }
  Transpose(rows);
  for (size_t k = 0; k < 64 && 8 * k < blocks; ++k) {
    const __m512i v = _mm512_shuffle_epi8(rows[k], bswap);
    if (k < full_rows) {
      _mm512_storeu_si512(out + 64 * k, v);
    } else {
      alignas(64) uint8_t tail[64];
      _mm512_store_si512(tail, v);
      std::memcpy(out + 64 * k, tail, 8 * (blocks % 8));
    }
  }
}

}  // namespace

void Des3DecryptBitsliced(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t* k1,
                          const uint32_t* k2, const uint32_t* k3) {
  uint32_t masks[3][16][48];
  ExpandMasks(k1, masks[0]);
  ExpandMasks(k2, masks[1]);
  ExpandMasks(k3, masks[2]);
  DecryptBatch(in, out, blocks, masks[0], masks[1], masks[2]);
  SecureWipe(masks, sizeof(masks));
}

namespace {

constexpr Kernels kBitslice = {Des3DecryptBitsliced, "bitslice-avx512"};
constexpr Kernels kTables = {nullptr, "generic"};

constexpr primitives::Candidate<Kernels> kCandidates[] = {
    {"bitslice-avx512", BitsliceKernels},
    {"generic", [] { return &kTables; }},
};

}  // namespace

const Kernels* BitsliceKernels() { return cpu::HasAvx512Bw() ? &kBitslice : nullptr; }

constinit primitives::Dispatcher<Kernels> g_kernels{kCandidates};

}  // namespace qor::des
