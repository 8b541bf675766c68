// LEA internals: the round functions written once over a word type (a scalar
// or a vector of words from several blocks) and the block kernels in use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "primitives/dispatch.h"
#include "qor/lea.h"

namespace qor::lea {

template <class W>
[[gnu::always_inline]] inline W Rol(W x, int n) {
  return (x << n) | (x >> (32 - n));
}
template <class W>
[[gnu::always_inline]] inline W Ror(W x, int n) {
  return (x >> n) | (x << (32 - n));
}

// Encryption rounds on words x0..x3 (one block per lane), four rounds per
// step so the roles of the words rotate instead of the values.
template <class W>
[[gnu::always_inline]] inline void EncryptRounds(W& v0, W& v1, W& v2, W& v3, const uint32_t* rk, uint32_t rounds) {
  for (uint32_t r = 0; r < rounds; r += 4, rk += 24) {
    v3 = Ror((v2 ^ rk[4]) + (v3 ^ rk[5]), 3);
    v2 = Ror((v1 ^ rk[2]) + (v2 ^ rk[3]), 5);
    v1 = Rol((v0 ^ rk[0]) + (v1 ^ rk[1]), 9);
    v0 = Ror((v3 ^ rk[10]) + (v0 ^ rk[11]), 3);
    v3 = Ror((v2 ^ rk[8]) + (v3 ^ rk[9]), 5);
    v2 = Rol((v1 ^ rk[6]) + (v2 ^ rk[7]), 9);
    v1 = Ror((v0 ^ rk[16]) + (v1 ^ rk[17]), 3);
    v0 = Ror((v3 ^ rk[14]) + (v0 ^ rk[15]), 5);
    v3 = Rol((v2 ^ rk[12]) + (v3 ^ rk[13]), 9);
    v2 = Ror((v1 ^ rk[22]) + (v2 ^ rk[23]), 3);
    v1 = Ror((v0 ^ rk[20]) + (v1 ^ rk[21]), 5);
    v0 = Rol((v3 ^ rk[18]) + (v0 ^ rk[19]), 9);
  }
}

// One inverse round on the words (a, b, c) given d ^ k[0]. The XORs with
// the key are regrouped so that each subtraction waits for only one XOR of
// the previous one; returns the last difference for the next round's d ^ k[0].
template <class W>
[[gnu::always_inline]] inline W DecryptRound(W& a, W& b, W& c, W dk0, const uint32_t* k) {
  const W t0 = Ror(a, 9) - dk0;
  a = t0 ^ k[1];
  const W t1 = Rol(b, 5) - (t0 ^ (k[1] ^ k[2]));
  b = t1 ^ k[3];
  const W t2 = Rol(c, 3) - (t1 ^ (k[3] ^ k[4]));
  c = t2 ^ k[5];
  return t2;
}

// The inverse rounds, last round key first; the word roles rotate as in
// EncryptRounds.
template <class W>
[[gnu::always_inline]] inline void DecryptRounds(W& v0, W& v1, W& v2, W& v3, const uint32_t* rkBase,
                                                 uint32_t rounds) {
  const uint32_t* k = rkBase + 6 * (rounds - 1);
  W dk0 = v3 ^ k[0];
  for (uint32_t r = rounds; r > 0; r -= 4) {
    W t = DecryptRound(v0, v1, v2, dk0, k);
    dk0 = t ^ (k[5] ^ k[-6]);
    k -= 6;
    t = DecryptRound(v3, v0, v1, dk0, k);
    dk0 = t ^ (k[5] ^ k[-6]);
    k -= 6;
    t = DecryptRound(v2, v3, v0, dk0, k);
    dk0 = t ^ (k[5] ^ k[-6]);
    k -= 6;
    t = DecryptRound(v1, v2, v3, dk0, k);
    if (r > 4) {
      dk0 = t ^ (k[5] ^ k[-6]);
      k -= 6;
    }
  }
}

struct Kernels {
  // Independent blocks; in and out may be the same.
  void (*ecbEnc)(const uint8_t* in, uint8_t* out, size_t blocks, const LEA_KEY* key);
  void (*ecbDec)(const uint8_t* in, uint8_t* out, size_t blocks, const LEA_KEY* key);
  const char* name;
};

const Kernels& PortableKernels();
// Null when the processor lacks the instructions.
const Kernels* Avx2Kernels();
const Kernels* Avx512Kernels();
// AVX-512, then AVX2, then portable.
extern primitives::Dispatcher<Kernels> g_kernels;

inline const Kernels& ActiveKernels() { return g_kernels.Active(); }

void EncryptBlock(const uint8_t* in, uint8_t* out, const LEA_KEY* key);
void DecryptBlock(const uint8_t* in, uint8_t* out, const LEA_KEY* key);
// CBC over whole blocks; |chain| is updated to the last ciphertext block.
void CbcEncryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const LEA_KEY* key,
                      uint8_t chain[16]);
void CbcDecryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const LEA_KEY* key,
                      uint8_t chain[16]);

}  // namespace qor::lea
