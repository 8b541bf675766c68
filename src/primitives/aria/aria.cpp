// ARIA: portable kernels, key schedules, kernel choice and the exported
// one-shot and streaming functions.
#include <bit>
#include <climits>
#include <cstring>

#include "common/secure_wipe.h"
#include "primitives/aria/aria_internal.h"
#include "primitives/block_stream.h"
#include "primitives/byte_order.h"
#include "primitives/block_modes.h"
#include "qor/nc_aria.h"

namespace qor::aria {
namespace {


using primitives::LoadBe32;
using primitives::StoreBe32;

// Byte permutations inside a big-endian word: position l goes to l ^ 1, l ^ 2, l ^ 3.
inline uint32_t X1(uint32_t x) { return ((x & 0x00FF00FFu) << 8) | ((x >> 8) & 0x00FF00FFu); }
inline uint32_t X2(uint32_t x) { return std::rotl(x, 16); }
inline uint32_t X3(uint32_t x) { return __builtin_bswap32(x); }

struct Words {
  uint32_t w[4];
};

inline Words Load(const uint8_t* p) { return {{LoadBe32(p), LoadBe32(p + 4), LoadBe32(p + 8), LoadBe32(p + 12)}}; }
inline void Store(uint8_t* p, const Words& s) {
  for (int i = 0; i < 4; ++i) StoreBe32(p + 4 * i, s.w[i]);
}
inline void XorInto(Words& s, const uint8_t* k) {
  for (int i = 0; i < 4; ++i) s.w[i] ^= LoadBe32(k + 4 * i);
}

// The 16x16 binary diffusion matrix splits into 4x4 blocks that are sums of
// the in-word permutations X0..X3, which gives this word-level form.
inline Words DiffuseWords(const Words& s) {
  const uint32_t x0 = s.w[0], x1 = s.w[1], x2 = s.w[2], x3 = s.w[3];
  Words y;
  y.w[0] = X3(x0) ^ (x1 ^ x2) ^ X2(x1 ^ x3) ^ X1(x2 ^ x3);
  y.w[1] = X1(x1) ^ (x0 ^ x2) ^ X2(x0 ^ x3) ^ X3(x2 ^ x3);
  y.w[2] = X2(x2) ^ (x0 ^ x1) ^ X1(x0 ^ x3) ^ X3(x1 ^ x3);
  y.w[3] = x3 ^ X1(x0 ^ x2) ^ X2(x0 ^ x1) ^ X3(x1 ^ x2);
  return y;
}

inline uint32_t SubWord(uint32_t w, const uint8_t* a, const uint8_t* b, const uint8_t* c,
                        const uint8_t* d) {
  return (uint32_t{a[w >> 24]} << 24) | (uint32_t{b[(w >> 16) & 0xFF]} << 16) |
         (uint32_t{c[(w >> 8) & 0xFF]} << 8) | uint32_t{d[w & 0xFF]};
}

// Odd rounds: S1, S2, S1^-1, S2^-1 in every word; even rounds the inverse pattern.
inline Words SubOdd(const Words& s) {
  Words r;
  for (int i = 0; i < 4; ++i) r.w[i] = SubWord(s.w[i], kSBox.s1, kSBox.s2, kSBox.s1inv, kSBox.s2inv);
  return r;
}
inline Words SubEven(const Words& s) {
  Words r;
  for (int i = 0; i < 4; ++i) r.w[i] = SubWord(s.w[i], kSBox.s1inv, kSBox.s2inv, kSBox.s1, kSBox.s2);
  return r;
}

void CryptBlockPortable(const uint8_t* in, uint8_t* out, const uint8_t* rk, int rounds) {
  Words s = Load(in);
  for (int i = 0; i + 1 < rounds; ++i) {
    XorInto(s, rk + 16 * i);
    s = DiffuseWords((i & 1) == 0 ? SubOdd(s) : SubEven(s));
  }
  XorInto(s, rk + 16 * (rounds - 1));
  s = SubEven(s);
  XorInto(s, rk + 16 * rounds);
  Store(out, s);
}

void EcbPortable(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds) {
  for (size_t b = 0; b < blocks; ++b) CryptBlockPortable(in + 16 * b, out + 16 * b, rk, rounds);
}

void CbcEncPortable(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds,
                    uint8_t chain[16]) {
  primitives::CbcEncrypt(in, out, blocks, chain,
                         [rk, rounds](const uint8_t* src, uint8_t* dst) { CryptBlockPortable(src, dst, rk, rounds); });
}

constexpr Kernels kPortable = {EcbPortable, CbcEncPortable, "generic"};

constexpr primitives::Candidate<Kernels> kCandidates[] = {
    {"gfni-avx512", GfniKernels},
    {"aesni", AesniKernels},
    {"generic", [] { return &kPortable; }},
};

// 128-bit values as big-endian (hi, lo) pairs for the key schedule rotations.
struct U128 {
  uint64_t hi, lo;
};
inline U128 ToU128(const uint8_t* p) {
  U128 v{0, 0};
  for (int i = 0; i < 8; ++i) v.hi = (v.hi << 8) | p[i];
  for (int i = 8; i < 16; ++i) v.lo = (v.lo << 8) | p[i];
  return v;
}
inline void FromU128(const U128& v, uint8_t* p) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v.hi >> (56 - 8 * i));
  for (int i = 0; i < 8; ++i) p[8 + i] = static_cast<uint8_t>(v.lo >> (56 - 8 * i));
}
inline U128 RotR(const U128& v, unsigned n) {
  n &= 127;
  if (n == 0) return v;
  if (n >= 64) return RotR(U128{v.lo, v.hi}, n - 64);
  return {(v.hi >> n) | (v.lo << (64 - n)), (v.lo >> n) | (v.hi << (64 - n))};
}
inline U128 RotL(const U128& v, unsigned n) { return RotR(v, (128 - n) & 127); }
inline U128 Xor(const U128& a, const U128& b) { return {a.hi ^ b.hi, a.lo ^ b.lo}; }

// Key-schedule constants: the fraction bits of 1/pi.
constexpr uint8_t kConst[3][16] = {
    {0x51, 0x7c, 0xc1, 0xb7, 0x27, 0x22, 0x0a, 0x94, 0xfe, 0x13, 0xab, 0xe8, 0xfa, 0x9a, 0x6e, 0xe0},
    {0x6d, 0xb1, 0x4a, 0xcc, 0x9e, 0x21, 0xc8, 0x20, 0xff, 0x28, 0xb1, 0xd5, 0xef, 0x5d, 0xe2, 0xb0},
    {0xdb, 0x92, 0x37, 0x1d, 0x21, 0x26, 0xe9, 0x70, 0x03, 0x24, 0x97, 0x75, 0x04, 0xe8, 0xc9, 0x0e},
};

// Odd/even round functions on a 128-bit value: A(SL(d ^ k)).
U128 RoundF(const U128& d, const uint8_t* k, bool odd) {
  uint8_t b[16];
  FromU128(d, b);
  Words s = Load(b);
  XorInto(s, k);
  s = DiffuseWords(odd ? SubOdd(s) : SubEven(s));
  Store(b, s);
  const U128 r = ToU128(b);
  qor::SecureWipe(b, sizeof b);
  return r;
}

// Writes rounds + 1 encryption round keys; false for an unknown round count.
bool ExpandEncryptionKey(const uint8_t* key, int rounds, uint8_t* rk) {
  int keyBytes = 0, c = 0;
  switch (rounds) {
    case 12: keyBytes = 16; c = 0; break;
    case 14: keyBytes = 24; c = 1; break;
    case 16: keyBytes = 32; c = 2; break;
    default: return false;
  }
  uint8_t kr[16] = {};
  std::memcpy(kr, key + 16, static_cast<size_t>(keyBytes - 16));
  const U128 w0 = ToU128(key);
  const U128 w1 = Xor(RoundF(w0, kConst[c], true), ToU128(kr));
  const U128 w2 = Xor(RoundF(w1, kConst[(c + 1) % 3], false), w0);
  const U128 w3 = Xor(RoundF(w2, kConst[(c + 2) % 3], true), w1);
  qor::SecureWipe(kr, sizeof kr);
  const U128 w[4] = {w0, w1, w2, w3};
  // Round key i mixes W[i mod 4] with W[(i + 1) mod 4] rotated right by 19,
  // 31, -61 and -31 bits for the four groups of four keys.
  constexpr unsigned kRot[5] = {19, 31, 128 - 61, 128 - 31, 128 - 19};
  for (int i = 0; i <= rounds; ++i) {
    const U128 key_i = Xor(w[i % 4], RotR(w[(i + 1) % 4], kRot[i / 4]));
    FromU128(key_i, rk + 16 * i);
  }
  return true;
}

}  // namespace

void Diffuse(const uint8_t in[16], uint8_t out[16]) { Store(out, DiffuseWords(Load(in))); }

const Kernels& PortableKernels() { return kPortable; }

constinit primitives::Dispatcher<Kernels> g_kernels{kCandidates};

namespace {

inline bool ValidRounds(int rounds) { return rounds == 12 || rounds == 14 || rounds == 16; }

void CbcDecrypt(const Kernels& k, const uint8_t* in, uint8_t* out, size_t blocks,
                const uint8_t* rk, int rounds, uint8_t chain[16]) {
  primitives::CbcDecryptInChunks(in, out, blocks, chain, [&](const uint8_t* c, uint8_t* p, size_t n) {
    k.ecb(c, p, n, rk, rounds);
  });
}

}  // namespace

void CbcEncryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds,
                      uint8_t chain[16]) {
  ActiveKernels().cbcEnc(in, out, blocks, rk, rounds, chain);
}
void CbcDecryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const uint8_t* rk, int rounds,
                      uint8_t chain[16]) {
  CbcDecrypt(ActiveKernels(), in, out, blocks, rk, rounds, chain);
}

// The round function behind every single-block entry point.
void CryptBlock(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys, int rounds) {
  if (in == nullptr || out == nullptr || roundKeys == nullptr || !ValidRounds(rounds)) return;
  ActiveKernels().ecb(in, out, 1, roundKeys, rounds);
}

}  // namespace qor::aria

namespace {

namespace bs = qor::primitives::block_stream;

struct AriaCipher {
  using Ctx = NC_ARIA_CTX;
  static constexpr int32_t Ctx::*kBuffered = &Ctx::bufLen;
  static constexpr bs::NullIv kNullIv = bs::NullIv::kZero;
  static constexpr bs::Checks kChecks = bs::Checks::kLenient;
  static void Encrypt(Ctx* ctx, const uint8_t* in, uint8_t* out, size_t units) {
    qor::aria::CbcEncryptBlocks(in, out, units, ctx->roundKey, ctx->rounds, ctx->chain);
  }
  static void Decrypt(Ctx* ctx, const uint8_t* in, uint8_t* out, size_t units) {
    qor::aria::CbcDecryptBlocks(in, out, units, ctx->roundKey, ctx->rounds, ctx->chain);
  }
};

}  // namespace

extern "C" {

QOR_API int NC_ARIA_EncKeyGen(const uint8_t* key, NC_ARIA_CTX* ctx, int rounds) {
  if (key == nullptr || ctx == nullptr || !qor::aria::ValidRounds(rounds)) return -1;
  qor::aria::ExpandEncryptionKey(key, rounds, ctx->roundKey);
  ctx->rounds = rounds;
  return 0;
}

QOR_API int NC_ARIA_DecKeyGen(const uint8_t* key, NC_ARIA_CTX* ctx, int rounds) {
  if (key == nullptr || ctx == nullptr || !qor::aria::ValidRounds(rounds)) return -1;
  uint8_t ek[NC_ARIA_ROUND_KEY_BYTES];
  qor::aria::ExpandEncryptionKey(key, rounds, ek);
  // Decryption runs the same rounds with the keys reversed and the inner ones
  // passed through the (involutory) diffusion layer.
  std::memcpy(ctx->roundKey, ek + 16 * rounds, 16);
  for (int i = 1; i < rounds; ++i) qor::aria::Diffuse(ek + 16 * (rounds - i), ctx->roundKey + 16 * i);
  std::memcpy(ctx->roundKey + 16 * rounds, ek, 16);
  qor::SecureWipe(ek, sizeof ek);
  ctx->rounds = rounds;
  return 0;
}

QOR_API int NC_ARIA_SetAlgInfo(int mode, int padding, const uint8_t* iv, NC_ARIA_CTX* ctx) {
  return bs::SetAlgInfo<AriaCipher>(mode, padding, iv, ctx);
}

QOR_API int NC_ARIA_EncInit(NC_ARIA_CTX* ctx) { return bs::Init<AriaCipher>(ctx); }
QOR_API int NC_ARIA_DecInit(NC_ARIA_CTX* ctx) { return bs::Init<AriaCipher>(ctx); }

QOR_API int NC_ARIA_CBC_EncUpdate(NC_ARIA_CTX* ctx, const uint8_t* in, int inLen, uint8_t* out,
                                  int* outLen) {
  if (ctx != nullptr && !qor::aria::ValidRounds(ctx->rounds)) return -1;
  return bs::EncUpdate<AriaCipher>(ctx, in, inLen, out, outLen);
}

QOR_API int NC_ARIA_CBC_EncFinal(NC_ARIA_CTX* ctx, uint8_t* out, int* outLen) {
  if (ctx != nullptr && !qor::aria::ValidRounds(ctx->rounds)) return -1;
  return bs::EncFinal<AriaCipher>(ctx, out, outLen);
}

QOR_API int NC_ARIA_CBC_DecUpdate(NC_ARIA_CTX* ctx, const uint8_t* in, int inLen, uint8_t* out,
                                  int* outLen) {
  if (ctx != nullptr && !qor::aria::ValidRounds(ctx->rounds)) return -1;
  return bs::DecUpdate<AriaCipher>(ctx, in, inLen, out, outLen);
}

QOR_API int NC_ARIA_CBC_DecFinal(NC_ARIA_CTX* ctx, uint8_t* out, int* outLen) {
  if (ctx != nullptr && !qor::aria::ValidRounds(ctx->rounds)) return -1;
  return bs::DecFinal<AriaCipher>(ctx, out, outLen);
}

QOR_API void NC_Crypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys, int rounds) {
  qor::aria::CryptBlock(in, out, roundKeys, rounds);
}

QOR_API void NC_E_ARIA_Encrypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys, int rounds) {
  qor::aria::CryptBlock(in, out, roundKeys, rounds);
}

QOR_API void NC_E_ARIA_Decrypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys, int rounds) {
  qor::aria::CryptBlock(in, out, roundKeys, rounds);
}

QOR_API int NC_E_ARIA_CBC_Encrypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys,
                                  int length, const uint8_t* iv, int rounds) {
  // A length whose rounded-up output would not fit the int result is refused
  // before anything is written.
  if (((in == nullptr || out == nullptr) && length != 0) || roundKeys == nullptr || iv == nullptr || length < 0 ||
      length > INT_MAX - 15 || !qor::aria::ValidRounds(rounds))
    return -1;
  auto cbc = [roundKeys, rounds](const uint8_t* src, uint8_t* dst, size_t n, uint8_t* chain) {
    qor::aria::CbcEncryptBlocks(src, dst, n, roundKeys, rounds, chain);
  };
  const size_t written = qor::primitives::CbcZeroFilled(in, out, static_cast<size_t>(length), iv, cbc);
  return static_cast<int>(written);
}

QOR_API int NC_E_ARIA_CBC_Decrypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys,
                                  int length, const uint8_t* iv, int rounds) {
  if (((in == nullptr || out == nullptr) && length != 0) || roundKeys == nullptr || iv == nullptr || length < 0 ||
      !qor::aria::ValidRounds(rounds))
    return -1;
  uint8_t chain[16];
  std::memcpy(chain, iv, 16);
  const size_t whole = static_cast<size_t>(length) / 16;
  qor::aria::CbcDecryptBlocks(in, out, whole, roundKeys, rounds, chain);
  return static_cast<int>(whole * 16);
}

QOR_API int NC_E_ARIA_ECB_Crypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys,
                                int length, const uint8_t* /*unused*/, int rounds) {
  if (((in == nullptr || out == nullptr) && length != 0) || roundKeys == nullptr || length < 0 ||
      !qor::aria::ValidRounds(rounds))
    return -1;
  const size_t whole = static_cast<size_t>(length) / 16;
  qor::aria::ActiveKernels().ecb(in, out, whole, roundKeys, rounds);
  return static_cast<int>(whole * 16);
}

QOR_API int NC_E_ARIA_CTR_Crypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys,
                                int length, const uint8_t* counter, int rounds) {
  if (((in == nullptr || out == nullptr) && length != 0) || roundKeys == nullptr || counter == nullptr || length < 0 ||
      !qor::aria::ValidRounds(rounds))
    return -1;
  const qor::aria::Kernels& k = qor::aria::ActiveKernels();
  // The caller's counter stays as it is.
  uint8_t ctr[16];
  std::memcpy(ctr, counter, 16);
  qor::primitives::CtrCrypt(
      in, out, static_cast<size_t>(length), ctr,
      [&k, roundKeys, rounds](const uint8_t* src, uint8_t* dst, size_t n) { k.ecb(src, dst, n, roundKeys, rounds); },
      qor::aria::CtrIncrease);
  return length;
}

}  // extern "C"
