// ARIA internals: S-boxes built from their algebraic definition, the block
// kernels and the run-time choice between the portable and the GFNI kernels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "primitives/block_modes.h"
#include "primitives/dispatch.h"

namespace qor::aria {

namespace detail {

constexpr uint8_t GfMul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= a;
    a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0));
    b >>= 1;
  }
  return r;
}

constexpr uint8_t GfPow(uint8_t a, unsigned e) {
  uint8_t r = 1;
  while (e) {
    if (e & 1) r = GfMul(r, a);
    a = GfMul(a, a);
    e >>= 1;
  }
  return r;
}

// rows[i] holds the coefficients of output bit i (bit j = input bit j).
constexpr uint8_t MatVec(const std::array<uint8_t, 8>& rows, uint8_t x) {
  uint8_t y = 0;
  for (int i = 0; i < 8; ++i) {
    const uint8_t m = rows[i] & x;
    y |= static_cast<uint8_t>(__builtin_parity(m) << i);
  }
  return y;
}

// Written most significant column first as in the published matrices, i.e.
// the leftmost digit multiplies input bit 0.
constexpr uint8_t Row(const char* bits) {
  uint8_t r = 0;
  for (int j = 0; j < 8; ++j)
    if (bits[j] == '1') r |= static_cast<uint8_t>(1u << j);
  return r;
}

// S1: affine map of the field inverse (the AES S-box); S2: affine map of x^247.
constexpr std::array<uint8_t, 8> kMatA = {Row("10001111"), Row("11000111"), Row("11100011"),
                                          Row("11110001"), Row("11111000"), Row("01111100"),
                                          Row("00111110"), Row("00011111")};
constexpr std::array<uint8_t, 8> kMatB = {Row("01011110"), Row("00111101"), Row("11010111"),
                                          Row("10011101"), Row("00101100"), Row("10000001"),
                                          Row("01011101"), Row("11010011")};

struct SBoxes {
  uint8_t s1[256], s2[256], s1inv[256], s2inv[256];
};

constexpr SBoxes MakeSBoxes() {
  SBoxes t{};
  for (int x = 0; x < 256; ++x) {
    const auto b = static_cast<uint8_t>(x);
    t.s1[x] = static_cast<uint8_t>(MatVec(kMatA, GfPow(b, 254)) ^ 0x63);
    t.s2[x] = static_cast<uint8_t>(MatVec(kMatB, GfPow(b, 247)) ^ 0xE2);
  }
  for (int x = 0; x < 256; ++x) {
    t.s1inv[t.s1[x]] = static_cast<uint8_t>(x);
    t.s2inv[t.s2[x]] = static_cast<uint8_t>(x);
  }
  return t;
}

}  // namespace detail

inline constexpr detail::SBoxes kSBox = detail::MakeSBoxes();

// Kernels. rk: (rounds + 1) * 16 bytes of round keys.
struct Kernels {
  // Independent blocks (ECB); in and out may be the same.
  void (*ecb)(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds);
  // CBC encryption with |chain| updated to the last ciphertext block.
  void (*cbcEnc)(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds,
                 uint8_t chain[16]);
  const char* name;
};

const Kernels& PortableKernels();
// Null when the processor lacks the instructions.
const Kernels* GfniKernels();
const Kernels* AesniKernels();
// GFNI, then AES-NI, then portable.
extern primitives::Dispatcher<Kernels> g_kernels;

inline const Kernels& ActiveKernels() { return g_kernels.Active(); }

// One block through the round function with the given keys (encryption or
// decryption keys); does nothing on a null pointer or an unknown round count.
void CryptBlock(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys, int rounds);

// CBC over whole blocks with the active kernels; |chain| is updated.
void CbcEncryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds,
                      uint8_t chain[16]);
void CbcDecryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds,
                      uint8_t chain[16]);

// The counter step of the counter mode: bytes 8..15 form a big-endian 64-bit
// counter, the carry stops at byte 8.
inline void CtrIncrease(uint8_t counter[16]) { primitives::IncrementCounter<8>(counter); }

// Diffusion layer on a block (used by the decryption key schedule).
void Diffuse(const uint8_t in[16], uint8_t out[16]);

}  // namespace qor::aria
