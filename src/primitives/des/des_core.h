// DES block engine shared by the single-DES, triple-DES and random-byte code.
//
// A key schedule is 16 round keys of 8 bytes, held as 32 words: round i uses
// words 2i and 2i+1, which carry the 6-bit subkey groups for the odd and the
// even S-boxes at bit offsets 24, 16, 8 and 0. The block halves travel rotated
// right by three bits between the initial and the final permutation, so that
// every expansion group of a half sits in the low six bits of one byte: the
// rounds need no expansion step, and each S-box index is a plain byte
// (tables are repeated four times over the two unused top bits).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "primitives/byte_order.h"

namespace qor::des {

inline constexpr int kScheduleWords = 32;

namespace detail {

// FIPS 46-3 S-boxes, rows of 16.
inline constexpr uint8_t kSBox[8][64] = {
    {14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7,   //
     0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8,   //
     4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0,   //
     15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13},
    {15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10,  //
     3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5,   //
     0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15,   //
     13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9},
    {10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8,  //
     13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1,   //
     13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7,   //
     1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12},
    {7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15,  //
     13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9,   //
     10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4,   //
     3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14},
    {2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9,  //
     14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6,   //
     4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14,   //
     11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3},
    {12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11,  //
     10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8,   //
     9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6,   //
     4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13},
    {4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1,  //
     13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6,   //
     1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2,   //
     6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12},
    {13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7,  //
     1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2,   //
     7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8,   //
     2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11},
};

// Permutation P applied to the S-box outputs (bit 1 is the most significant).
inline constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                   2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// S-box i and P fused, indexed by a byte whose low six bits are the input
// group, in the rotated domain.
constexpr std::array<std::array<uint32_t, 256>, 8> MakeSpTables() {
  std::array<std::array<uint32_t, 256>, 8> sp{};
  for (int box = 0; box < 8; ++box) {
    for (uint32_t index = 0; index < 256; ++index) {
      const uint32_t x = index & 0x3F;
      const uint32_t row = ((x >> 4) & 2) | (x & 1);
      const uint32_t col = (x >> 1) & 0xF;
      const uint32_t s = kSBox[box][row * 16 + col];
      const uint32_t placed = s << (28 - 4 * box);
      uint32_t permuted = 0;
      for (int j = 0; j < 32; ++j) {
        const uint32_t bit = (placed >> (32 - kP[j])) & 1;
        permuted |= bit << (31 - j);
      }
      sp[box][index] = std::rotr(permuted, 3);
    }
  }
  return sp;
}

inline constexpr auto kSp = MakeSpTables();

using primitives::LoadBe32;
using primitives::StoreBe32;

inline void SwapMove(uint32_t& a, uint32_t& b, int n, uint32_t m) {
  const uint32_t t = ((a >> n) ^ b) & m;
  b ^= t;
  a ^= t << n;
}

}  // namespace detail

// Initial permutation of the block (l, r); leaves both halves in the rotated
// domain used by the rounds.
inline void InitialPermutation(uint32_t& l, uint32_t& r) {
  using detail::SwapMove;
  SwapMove(l, r, 4, 0x0F0F0F0Fu);
  SwapMove(l, r, 16, 0x0000FFFFu);
  SwapMove(r, l, 2, 0x33333333u);
  SwapMove(r, l, 8, 0x00FF00FFu);
  SwapMove(l, r, 1, 0x55555555u);
  l = std::rotr(l, 3);
  r = std::rotr(r, 3);
}

// Inverse of InitialPermutation.
inline void FinalPermutation(uint32_t& l, uint32_t& r) {
  using detail::SwapMove;
  l = std::rotl(l, 3);
  r = std::rotl(r, 3);
  SwapMove(l, r, 1, 0x55555555u);
  SwapMove(r, l, 8, 0x00FF00FFu);
  SwapMove(r, l, 2, 0x33333333u);
  SwapMove(l, r, 16, 0x0000FFFFu);
  SwapMove(l, r, 4, 0x0F0F0F0Fu);
}

// Loads an 8-byte block into the rotated, initially permuted domain.
inline void LoadIp(const uint8_t* p, uint32_t& l, uint32_t& r) {
  l = detail::LoadBe32(p);
  r = detail::LoadBe32(p + 4);
  InitialPermutation(l, r);
}

// Leaves the permuted domain and stores the 8-byte block.
inline void StoreFp(uint8_t* p, uint32_t l, uint32_t r) {
  FinalPermutation(l, r);
  detail::StoreBe32(p, l);
  detail::StoreBe32(p + 4, r);
}

// The round function of a rotated half with one round key pair.
inline uint32_t F(uint32_t r, uint32_t k0, uint32_t k1) {
  // Plain pointers: every index is a byte, and an instrumented build then
  // has no out-of-line subscript call in the hottest loop.
  const uint32_t* const s0 = detail::kSp[0].data();
  const uint32_t* const s1 = detail::kSp[1].data();
  const uint32_t* const s2 = detail::kSp[2].data();
  const uint32_t* const s3 = detail::kSp[3].data();
  const uint32_t* const s4 = detail::kSp[4].data();
  const uint32_t* const s5 = detail::kSp[5].data();
  const uint32_t* const s6 = detail::kSp[6].data();
  const uint32_t* const s7 = detail::kSp[7].data();
  const uint32_t u = r ^ k0;
  const uint32_t t = std::rotl(r, 4) ^ k1;
  // A balanced XOR tree: the eight loads complete together, and a linear
  // chain adds four steps to the serial path of every round. The empty asm
  // keeps the compiler from re-linearising the tree.
  uint32_t a = s0[u >> 24] ^ s2[(u >> 16) & 0xFF];
  uint32_t b = s4[(u >> 8) & 0xFF] ^ s6[u & 0xFF];
  uint32_t c = s1[t >> 24] ^ s3[(t >> 16) & 0xFF];
  uint32_t d = s5[(t >> 8) & 0xFF] ^ s7[t & 0xFF];
  __asm__("" : "+r"(a), "+r"(b), "+r"(c), "+r"(d));
  return (a ^ b) ^ (c ^ d);
}

// Sixteen rounds over N independent blocks; kDecrypt walks the schedule
// backwards. Afterwards (l, r) holds (L16, R16); the pre-output block is (r, l).
template <bool kDecrypt, int N>
inline void Rounds(uint32_t (&l)[N], uint32_t (&r)[N], const uint32_t* ks) {
  for (int i = 0; i < 16; i += 2) {
    const int a = kDecrypt ? 15 - i : i;
    const int b = kDecrypt ? 14 - i : i + 1;
    const uint32_t ka0 = ks[2 * a], ka1 = ks[2 * a + 1];
    const uint32_t kb0 = ks[2 * b], kb1 = ks[2 * b + 1];
    for (int j = 0; j < N; ++j) l[j] ^= F(r[j], ka0, ka1);
    for (int j = 0; j < N; ++j) r[j] ^= F(l[j], kb0, kb1);
  }
}

// Single DES over N blocks held as IP-free halves in the rotated domain.
template <bool kDecrypt, int N>
inline void DesCore(uint32_t (&l)[N], uint32_t (&r)[N], const uint32_t* ks) {
  Rounds<kDecrypt, N>(l, r, ks);
  for (int j = 0; j < N; ++j) std::swap(l[j], r[j]);
}

// E(k1) D(k2) E(k3) (or the inverse D(k3) E(k2) D(k1)) over N blocks in the
// rotated domain. The inner final/initial permutation pairs cancel and are
// skipped; only the half swap between the passes remains.
template <bool kDecrypt, int N>
inline void Des3Core(uint32_t (&l)[N], uint32_t (&r)[N], const uint32_t* k1, const uint32_t* k2,
                     const uint32_t* k3) {
  DesCore<kDecrypt, N>(l, r, kDecrypt ? k3 : k1);
  DesCore<!kDecrypt, N>(l, r, k2);
  DesCore<kDecrypt, N>(l, r, kDecrypt ? k1 : k3);
}

// Triple DES on N 8-byte blocks from |in| to |out| (may be the same buffer).
template <bool kDecrypt, int N>
inline void Des3Blocks(const uint8_t* in, uint8_t* out, const uint32_t* k1, const uint32_t* k2,
                       const uint32_t* k3) {
  uint32_t l[N], r[N];
  for (int j = 0; j < N; ++j) {
    l[j] = detail::LoadBe32(in + 8 * j);
    r[j] = detail::LoadBe32(in + 8 * j + 4);
    InitialPermutation(l[j], r[j]);
  }
  Des3Core<kDecrypt, N>(l, r, k1, k2, k3);
  for (int j = 0; j < N; ++j) {
    FinalPermutation(l[j], r[j]);
    detail::StoreBe32(out + 8 * j, l[j]);
    detail::StoreBe32(out + 8 * j + 4, r[j]);
  }
}

// Expands an 8-byte DES key (parity bits ignored) into |ks| (32 words).
void KeySchedule(const uint8_t key[8], uint32_t ks[kScheduleWords]);

// One DES block on two big-endian halves, in place.
void EncryptHalves(uint32_t& hi, uint32_t& lo, const uint32_t* ks);

}  // namespace qor::des
