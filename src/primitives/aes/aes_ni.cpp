// AES with the processor's AES instructions. Round keys arrive in the
// big-endian word layout of the table code and are byte-swapped on load, so
// both paths share one key schedule. Independent blocks (ECB, CBC and CFB
// decryption) are processed eight at a time to hide the instruction latency,
// sixteen at a time where the 256-bit AES instructions exist. Loops are
// unrolled explicitly so that the block states stay in registers.
#include <cstring>

#include "primitives/aes/aes_internal.h"
#include "primitives/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define QOR_AESNI __attribute__((target("aes,sse4.1,ssse3")))

namespace qor::aes {
namespace {

QOR_AESNI inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
QOR_AESNI inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

template <int Nr>
struct Keys {
  __m128i k[Nr + 1];
  QOR_AESNI explicit Keys(const uint32_t* rk) {
    const __m128i swap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
#pragma GCC unroll 16
    for (int i = 0; i <= Nr; ++i)
      k[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rk + 4 * i)), swap);
  }
};

template <int Nr>
QOR_AESNI inline __m128i EncryptOne(const Keys<Nr>& ks, __m128i x) {
  x = _mm_xor_si128(x, ks.k[0]);
#pragma GCC unroll 16
  for (int r = 1; r < Nr; ++r) x = _mm_aesenc_si128(x, ks.k[r]);
  return _mm_aesenclast_si128(x, ks.k[Nr]);
}

template <int Nr>
QOR_AESNI inline __m128i DecryptOne(const Keys<Nr>& ks, __m128i x) {
  x = _mm_xor_si128(x, ks.k[0]);
#pragma GCC unroll 16
  for (int r = 1; r < Nr; ++r) x = _mm_aesdec_si128(x, ks.k[r]);
  return _mm_aesdeclast_si128(x, ks.k[Nr]);
}

// Eight independent blocks through the forward or inverse cipher.
template <int Nr, bool Decrypt>
QOR_AESNI inline void Crypt8(const Keys<Nr>& ks, __m128i* x) {
#pragma GCC unroll 16
  for (int j = 0; j < 8; ++j) x[j] = _mm_xor_si128(x[j], ks.k[0]);
#pragma GCC unroll 16
  for (int r = 1; r < Nr; ++r) {
    const __m128i k = ks.k[r];
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) x[j] = Decrypt ? _mm_aesdec_si128(x[j], k) : _mm_aesenc_si128(x[j], k);
  }
  const __m128i k = ks.k[Nr];
#pragma GCC unroll 16
  for (int j = 0; j < 8; ++j) x[j] = Decrypt ? _mm_aesdeclast_si128(x[j], k) : _mm_aesenclast_si128(x[j], k);
}

template <int Nr>
QOR_AESNI void EncryptBlockT(const uint32_t* rk, const uint8_t* in, uint8_t* out) {
  const Keys<Nr> ks(rk);
  Store(out, EncryptOne(ks, Load(in)));
}

template <int Nr>
QOR_AESNI void DecryptBlockT(const uint32_t* rk, const uint8_t* in, uint8_t* out) {
  const Keys<Nr> ks(rk);
  Store(out, DecryptOne(ks, Load(in)));
}

template <int Nr, bool Decrypt>
QOR_AESNI void EcbT(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t blocks) {
  const Keys<Nr> ks(rk);
  for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
    __m128i x[8];
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) x[j] = Load(in + 16 * j);
    Crypt8<Nr, Decrypt>(ks, x);
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) Store(out + 16 * j, x[j]);
  }
  for (; blocks > 0; --blocks, in += 16, out += 16)
    Store(out, Decrypt ? DecryptOne(ks, Load(in)) : EncryptOne(ks, Load(in)));
}

// CBC encryption is one long dependency chain. The last AddRoundKey of block i
// is merged with the first one of block i+1 (both are plain XORs), so each
// block costs exactly Nr AES instructions on the chain.
template <int Nr>
QOR_AESNI void CbcEncryptT(const uint32_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
  if (blocks == 0) return;
  const Keys<Nr> ks(rk);
  const __m128i k0 = ks.k[0];
  const __m128i kl = ks.k[Nr];
  __m128i x = _mm_xor_si128(_mm_xor_si128(Load(iv), Load(in)), k0);
  for (size_t i = 0; i + 1 < blocks; ++i) {
    const __m128i next = _mm_xor_si128(Load(in + 16 * (i + 1)), k0);
#pragma GCC unroll 16
    for (int r = 1; r < Nr; ++r) x = _mm_aesenc_si128(x, ks.k[r]);
    x = _mm_aesenclast_si128(x, _mm_xor_si128(kl, next));
    Store(out + 16 * i, _mm_xor_si128(x, next));
  }
#pragma GCC unroll 16
  for (int r = 1; r < Nr; ++r) x = _mm_aesenc_si128(x, ks.k[r]);
  x = _mm_aesenclast_si128(x, kl);
  Store(out + 16 * (blocks - 1), x);
  Store(iv, x);
}

template <int Nr>
QOR_AESNI void CbcDecryptT(const uint32_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
  const Keys<Nr> ks(rk);
  __m128i prev = Load(iv);
  for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
    __m128i x[8];
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) x[j] = Load(in + 16 * j);
    Crypt8<Nr, true>(ks, x);
    // The previous ciphertext blocks are read again from the input rather than
    // kept in registers. Every read of the group comes before its first
    // store, so an output at or before the input is safe.
    const __m128i last = Load(in + 112);
    x[0] = _mm_xor_si128(x[0], prev);
#pragma GCC unroll 16
    for (int j = 1; j < 8; ++j) x[j] = _mm_xor_si128(x[j], Load(in + 16 * (j - 1)));
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) Store(out + 16 * j, x[j]);
    prev = last;
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const __m128i c = Load(in);
    Store(out, _mm_xor_si128(DecryptOne(ks, c), prev));
    prev = c;
  }
  Store(iv, prev);
}

template <int Nr>
QOR_AESNI void OfbT(const uint32_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
  const Keys<Nr> ks(rk);
  __m128i s = Load(iv);
  for (size_t i = 0; i < blocks; ++i) {
    s = EncryptOne(ks, s);
    Store(out + 16 * i, _mm_xor_si128(Load(in + 16 * i), s));
  }
  Store(iv, s);
}

template <int Nr>
QOR_AESNI void CfbEncryptT(const uint32_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
  const Keys<Nr> ks(rk);
  __m128i c = Load(iv);
  for (size_t i = 0; i < blocks; ++i) {
    c = _mm_xor_si128(EncryptOne(ks, c), Load(in + 16 * i));
    Store(out + 16 * i, c);
  }
  Store(iv, c);
}

template <int Nr>
QOR_AESNI void CfbDecryptT(const uint32_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
  const Keys<Nr> ks(rk);
  __m128i prev = Load(iv);
  for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
    __m128i c[8], x[8];
    x[0] = prev;
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) c[j] = Load(in + 16 * j);
#pragma GCC unroll 16
    for (int j = 1; j < 8; ++j) x[j] = c[j - 1];
    Crypt8<Nr, false>(ks, x);
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) Store(out + 16 * j, _mm_xor_si128(x[j], c[j]));
    prev = c[7];
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const __m128i c = Load(in);
    Store(out, _mm_xor_si128(EncryptOne(ks, prev), c));
    prev = c;
  }
  Store(iv, prev);
}

// One step of the 128-bit key expansion: the previous round key with its
// words prefix-XORed, plus the rotated, substituted last word and constant.
template <int Rcon>
QOR_AESNI inline __m128i NextRoundKey(__m128i k) {
  const __m128i assist = _mm_shuffle_epi32(_mm_aeskeygenassist_si128(k, Rcon), 0xFF);
  k = _mm_xor_si128(k, _mm_slli_si128(k, 4));
  k = _mm_xor_si128(k, _mm_slli_si128(k, 8));
  return _mm_xor_si128(k, assist);
}

QOR_AESNI void NiExpandKey128(const uint8_t* key, uint32_t* rk) {
  const __m128i swap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  auto put = [&](int i, __m128i k) QOR_AESNI {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rk + 4 * i), _mm_shuffle_epi8(k, swap));
  };
  __m128i k = Load(key);
  put(0, k);
  k = NextRoundKey<0x01>(k);
  put(1, k);
  k = NextRoundKey<0x02>(k);
  put(2, k);
  k = NextRoundKey<0x04>(k);
  put(3, k);
  k = NextRoundKey<0x08>(k);
  put(4, k);
  k = NextRoundKey<0x10>(k);
  put(5, k);
  k = NextRoundKey<0x20>(k);
  put(6, k);
  k = NextRoundKey<0x40>(k);
  put(7, k);
  k = NextRoundKey<0x80>(k);
  put(8, k);
  k = NextRoundKey<0x1B>(k);
  put(9, k);
  k = NextRoundKey<0x36>(k);
  put(10, k);
}

// 256-bit AES instructions: two blocks per register, sixteen blocks per
// group, for the modes whose blocks are independent. Leftover blocks go
// through the 128-bit code above.
#define QOR_VAES __attribute__((target("aes,vaes,avx2,sse4.1,ssse3")))

template <int Nr>
struct WideKeys {
  __m256i k[Nr + 1];
  QOR_VAES explicit WideKeys(const Keys<Nr>& ks) {
#pragma GCC unroll 16
    for (int i = 0; i <= Nr; ++i) k[i] = _mm256_broadcastsi128_si256(ks.k[i]);
  }
};

QOR_VAES inline __m256i Load2(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
QOR_VAES inline void Store2(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

template <int Nr, bool Decrypt>
QOR_VAES inline void Crypt16(const WideKeys<Nr>& ks, __m256i* x) {
#pragma GCC unroll 16
  for (int j = 0; j < 8; ++j) x[j] = _mm256_xor_si256(x[j], ks.k[0]);
#pragma GCC unroll 16
  for (int r = 1; r < Nr; ++r) {
    const __m256i k = ks.k[r];
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) x[j] = Decrypt ? _mm256_aesdec_epi128(x[j], k) : _mm256_aesenc_epi128(x[j], k);
  }
  const __m256i k = ks.k[Nr];
#pragma GCC unroll 16
  for (int j = 0; j < 8; ++j) x[j] = Decrypt ? _mm256_aesdeclast_epi128(x[j], k) : _mm256_aesenclast_epi128(x[j], k);
}

template <int Nr, bool Decrypt>
QOR_VAES void WideEcbT(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t blocks) {
  // Short inputs (most column values) skip building the wide schedule.
  if (blocks < 16) return EcbT<Nr, Decrypt>(rk, in, out, blocks);
  const Keys<Nr> narrow(rk);
  const WideKeys<Nr> ks(narrow);
  for (; blocks >= 16; blocks -= 16, in += 256, out += 256) {
    __m256i x[8];
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) x[j] = Load2(in + 32 * j);
    Crypt16<Nr, Decrypt>(ks, x);
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) Store2(out + 32 * j, x[j]);
  }
  EcbT<Nr, Decrypt>(rk, in, out, blocks);
}

template <int Nr>
QOR_VAES void WideCbcDecryptT(const uint32_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
  // Short inputs (most column values) skip building the wide schedule.
  if (blocks < 16) return CbcDecryptT<Nr>(rk, iv, in, out, blocks);
  const Keys<Nr> narrow(rk);
  const WideKeys<Nr> ks(narrow);
  __m128i prev = Load(iv);
  for (; blocks >= 16; blocks -= 16, in += 256, out += 256) {
    __m256i x[8];
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) x[j] = Load2(in + 32 * j);
    Crypt16<Nr, true>(ks, x);
    // All reads of the group precede its stores (see the 128-bit version).
    const __m128i last = Load(in + 240);
    x[0] = _mm256_xor_si256(x[0], _mm256_inserti128_si256(_mm256_castsi128_si256(prev), Load(in), 1));
#pragma GCC unroll 16
    for (int j = 1; j < 8; ++j) x[j] = _mm256_xor_si256(x[j], Load2(in + 32 * j - 16));
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) Store2(out + 32 * j, x[j]);
    prev = last;
  }
  Store(iv, prev);
  CbcDecryptT<Nr>(rk, iv, in, out, blocks);
}

template <int Nr>
QOR_VAES void WideCfbDecryptT(const uint32_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
  // Short inputs (most column values) skip building the wide schedule.
  if (blocks < 16) return CfbDecryptT<Nr>(rk, iv, in, out, blocks);
  const Keys<Nr> narrow(rk);
  const WideKeys<Nr> ks(narrow);
  __m128i prev = Load(iv);
  for (; blocks >= 16; blocks -= 16, in += 256, out += 256) {
    __m256i x[8];
    x[0] = _mm256_inserti128_si256(_mm256_castsi128_si256(prev), Load(in), 1);
#pragma GCC unroll 16
    for (int j = 1; j < 8; ++j) x[j] = Load2(in + 32 * j - 16);
    Crypt16<Nr, false>(ks, x);
    const __m128i last = Load(in + 240);
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) x[j] = _mm256_xor_si256(x[j], Load2(in + 32 * j));
#pragma GCC unroll 16
    for (int j = 0; j < 8; ++j) Store2(out + 32 * j, x[j]);
    prev = last;
  }
  Store(iv, prev);
  CfbDecryptT<Nr>(rk, iv, in, out, blocks);
}

// Round counts other than 10 and 12 can only be 14: schedules are validated
// before they reach this file.
#define QOR_BY_ROUNDS(fn, ...)          \
  switch (rounds) {                     \
    case 10: return fn<10>(__VA_ARGS__); \
    case 12: return fn<12>(__VA_ARGS__); \
    default: return fn<14>(__VA_ARGS__); \
  }

void NiEncryptBlock(const uint32_t* rk, int rounds, const uint8_t in[16], uint8_t out[16]) {
  QOR_BY_ROUNDS(EncryptBlockT, rk, in, out)
}
void NiDecryptBlock(const uint32_t* rk, int rounds, const uint8_t in[16], uint8_t out[16]) {
  QOR_BY_ROUNDS(DecryptBlockT, rk, in, out)
}

template <int Nr>
void EcbEncryptT(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t blocks) {
  EcbT<Nr, false>(rk, in, out, blocks);
}
template <int Nr>
void EcbDecryptT(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t blocks) {
  EcbT<Nr, true>(rk, in, out, blocks);
}

void NiEcbEncrypt(const uint32_t* rk, int rounds, const uint8_t* in, uint8_t* out, size_t blocks) {
  QOR_BY_ROUNDS(EcbEncryptT, rk, in, out, blocks)
}
void NiEcbDecrypt(const uint32_t* rk, int rounds, const uint8_t* in, uint8_t* out, size_t blocks) {
  QOR_BY_ROUNDS(EcbDecryptT, rk, in, out, blocks)
}
void NiCbcEncrypt(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t blocks) {
  QOR_BY_ROUNDS(CbcEncryptT, rk, iv, in, out, blocks)
}
void NiCbcDecrypt(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t blocks) {
  QOR_BY_ROUNDS(CbcDecryptT, rk, iv, in, out, blocks)
}
void NiOfb(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t blocks) {
  QOR_BY_ROUNDS(OfbT, rk, iv, in, out, blocks)
}
void NiCfbEncrypt(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t blocks) {
  QOR_BY_ROUNDS(CfbEncryptT, rk, iv, in, out, blocks)
}
void NiCfbDecrypt(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t blocks) {
  QOR_BY_ROUNDS(CfbDecryptT, rk, iv, in, out, blocks)
}

template <int Nr>
void WideEcbEncryptT(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t blocks) {
  WideEcbT<Nr, false>(rk, in, out, blocks);
}
template <int Nr>
void WideEcbDecryptT(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t blocks) {
  WideEcbT<Nr, true>(rk, in, out, blocks);
}

void WideEcbEncrypt(const uint32_t* rk, int rounds, const uint8_t* in, uint8_t* out, size_t blocks) {
  QOR_BY_ROUNDS(WideEcbEncryptT, rk, in, out, blocks)
}
void WideEcbDecrypt(const uint32_t* rk, int rounds, const uint8_t* in, uint8_t* out, size_t blocks) {
  QOR_BY_ROUNDS(WideEcbDecryptT, rk, in, out, blocks)
}
void WideCbcDecrypt(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t blocks) {
  QOR_BY_ROUNDS(WideCbcDecryptT, rk, iv, in, out, blocks)
}
void WideCfbDecrypt(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out, size_t blocks) {
  QOR_BY_ROUNDS(WideCfbDecryptT, rk, iv, in, out, blocks)
}

#undef QOR_BY_ROUNDS

constexpr Impl kAesNi = {
    "aesni",      NiEncryptBlock, NiDecryptBlock, NiEcbEncrypt, NiEcbDecrypt,
    NiCbcEncrypt, NiCbcDecrypt,   NiOfb,          NiCfbEncrypt, NiCfbDecrypt,
    NiExpandKey128,
};

// Chained modes gain nothing from wider registers and keep the 128-bit code.
constexpr Impl kVaes = {
    "vaes",       NiEncryptBlock, NiDecryptBlock, WideEcbEncrypt, WideEcbDecrypt,
    NiCbcEncrypt, WideCbcDecrypt, NiOfb,          NiCfbEncrypt,   WideCfbDecrypt,
    NiExpandKey128,
};

}  // namespace

const Impl* AesNiImpl() { return cpu::HasAesNi() ? &kAesNi : nullptr; }

const Impl* VaesImpl() { return cpu::HasVaes() ? &kVaes : nullptr; }

}  // namespace qor::aes

#else

namespace qor::aes {
const Impl* AesNiImpl() { return nullptr; }
const Impl* VaesImpl() { return nullptr; }
}  // namespace qor::aes

#endif
