// Modes of operation over a cipher's block kernel, written once for every
// 16-byte cipher: CBC decryption, CTR, OFB and CFB-128. The kernel comes in as
// a callable that runs a number of independent blocks (ECB) or one block; the
// templates are instantiated per cipher so the callable is inlined and only
// the kernel call itself, once per chunk of blocks, stays indirect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/secure_wipe.h"

namespace qor::primitives {

// Turns |n| kernel-decrypted blocks in |plain| into CBC plaintext at |out|.
// Goes back to front so that |out| may be |in|. |chain| holds the previous
// ciphertext block on entry and the last one of |in| on return.
template <size_t kBlock>
inline void XorChainBackward(const uint8_t* in, uint8_t* out, const uint8_t* plain, size_t n,
                             uint8_t* chain) {
  uint8_t last[kBlock];
  std::memcpy(last, in + (n - 1) * kBlock, kBlock);
  for (size_t j = n; j-- > 1;) {
    for (size_t b = 0; b < kBlock; ++b) out[j * kBlock + b] = plain[j * kBlock + b] ^ in[(j - 1) * kBlock + b];
  }
  for (size_t b = 0; b < kBlock; ++b) out[b] = plain[b] ^ chain[b];
  std::memcpy(chain, last, kBlock);
}

// CBC decryption of 16-byte blocks, 32 at a time, through
// |ecb|(cipher, plain, n). Each chunk's ciphertext is copied first, so |out|
// may be |in|.
template <class EcbDecrypt>
void CbcDecryptInChunks(const uint8_t* in, uint8_t* out, size_t blocks, uint8_t chain[16], EcbDecrypt&& ecb) {
  constexpr size_t kChunk = 32;
  alignas(64) uint8_t cipher[kChunk * 16];
  alignas(64) uint8_t plain[kChunk * 16];
  size_t used = 0;
  while (blocks > 0) {
    const size_t n = blocks < kChunk ? blocks : kChunk;
    used = n > used ? n : used;
    std::memcpy(cipher, in, n * 16);
    ecb(static_cast<const uint8_t*>(cipher), plain, n);
    for (size_t i = 0; i < 16; ++i) out[i] = static_cast<uint8_t>(plain[i] ^ chain[i]);
    for (size_t i = 16; i < n * 16; ++i) out[i] = static_cast<uint8_t>(plain[i] ^ cipher[i - 16]);
    std::memcpy(chain, cipher + (n - 1) * 16, 16);
    in += n * 16;
    out += n * 16;
    blocks -= n;
  }
  SecureWipe(plain, used * 16);
}

// CBC encryption from a one-block function: each block is XORed onto the
// chaining value and enciphered in place. |chain| holds the IV on entry and
// the last ciphertext block on return. |out| may be |in| or start before it.
// |block|(in16, out16) may be called with in == out.
template <class EncryptBlock>
void CbcEncrypt(const uint8_t* in, uint8_t* out, size_t blocks, uint8_t chain[16], EncryptBlock&& block) {
  // A local register: the caller's chain may sit next to the data, and the
  // compiler would otherwise reload it after every store.
  uint8_t c[16];
  std::memcpy(c, chain, 16);
  for (size_t b = 0; b < blocks; ++b) {
    for (size_t i = 0; i < 16; ++i) c[i] = static_cast<uint8_t>(c[i] ^ in[16 * b + i]);
    block(static_cast<const uint8_t*>(c), c);
    std::memcpy(out + 16 * b, c, 16);
  }
  std::memcpy(chain, c, 16);
}

// One-shot CBC in either direction: the whole blocks, then a trailing partial
// block completed with zero bytes, so the output is |len| rounded up to 16.
// |cbc|(in, out, blocks, chain) runs whole blocks. The IV is read, never
// written. The tail is copied before any output is written, so |out| may be
// |in|. Returns the bytes written.
template <class CbcBlocks>
size_t CbcZeroFilled(const uint8_t* in, uint8_t* out, size_t len, const uint8_t iv[16], CbcBlocks&& cbc) {
  uint8_t chain[16];
  std::memcpy(chain, iv, 16);
  const size_t whole = len / 16;
  const size_t tail = len % 16;
  uint8_t last[16] = {};
  if (tail != 0) std::memcpy(last, in + 16 * whole, tail);
  cbc(in, out, whole, chain);
  if (tail == 0) return len;
  cbc(static_cast<const uint8_t*>(last), out + 16 * whole, size_t{1}, chain);
  SecureWipe(last, sizeof last);
  return 16 * (whole + 1);
}

// Blocks handed to the kernel at once where the mode allows it.
inline constexpr size_t kModeChunk = 32;

inline void XorBytes(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(a[i] ^ b[i]);
}

// Big-endian increment of bytes first..15 of a counter block; the carry stops
// at byte |first|.
template <size_t kFirst>
inline void IncrementCounter(uint8_t ctr[16]) {
  for (size_t i = 16; i-- > kFirst;) {
    if (++ctr[i] != 0) break;
  }
}

// CTR over |len| bytes: each counter block is encrypted and XORed onto the
// input, then advanced by |step|(ctr); a trailing partial block uses as many
// keystream bytes as remain. |ctr| is left at the counter after the last
// block used. |out| may be |in|.
template <class EncryptBlocks, class Step>
void CtrCrypt(const uint8_t* in, uint8_t* out, size_t len, uint8_t ctr[16], EncryptBlocks&& ecb, Step&& step) {
  alignas(64) uint8_t ks[kModeChunk * 16];
  const size_t used = len < sizeof ks ? len : sizeof ks;
  while (len > 0) {
    const size_t bytes = len < sizeof ks ? len : sizeof ks;
    const size_t n = (bytes + 15) / 16;
    for (size_t i = 0; i < n; ++i) {
      std::memcpy(ks + 16 * i, ctr, 16);
      step(ctr);
    }
    ecb(static_cast<const uint8_t*>(ks), ks, n);
    XorBytes(out, in, ks, bytes);
    in += bytes;
    out += bytes;
    len -= bytes;
  }
  SecureWipe(ks, (used + 15) / 16 * 16);
}

// OFB and CFB-128 encryption, one block at a time through a register that is
// encrypted for every keystream block: OFB keeps the encrypted register, CFB
// loads the ciphertext just written into it. |reg| holds the IV on entry and
// the value that continues the stream on return (for a trailing partial block,
// CFB leaves the keystream's unused bytes in it). |block|(in16, out16) may be
// called with in == out.
template <bool kCipherFeedback, class EncryptBlock>
void FeedbackCrypt(const uint8_t* in, uint8_t* out, size_t len, uint8_t reg[16], EncryptBlock&& block) {
  uint8_t r[16];
  std::memcpy(r, reg, 16);
  while (len > 0) {
    block(static_cast<const uint8_t*>(r), r);
    const size_t n = len < 16 ? len : 16;
    XorBytes(out, in, r, n);
    if (kCipherFeedback) std::memcpy(r, out, n);
    in += n;
    out += n;
    len -= n;
  }
  std::memcpy(reg, r, 16);
  SecureWipe(r, sizeof r);
}

// CFB-128 decryption: every keystream block is the encryption of the previous
// ciphertext block, so chunks of them go through the kernel together. |prev|
// holds the IV on entry and the last whole ciphertext block on return.
// |out| may be |in|.
template <class EncryptBlocks>
void CfbDecrypt(const uint8_t* in, uint8_t* out, size_t len, uint8_t prev[16], EncryptBlocks&& ecb) {
  alignas(64) uint8_t ks[kModeChunk * 16];
  const size_t used = len < sizeof ks ? len : sizeof ks;
  while (len > 0) {
    const size_t bytes = len < sizeof ks ? len : sizeof ks;
    const size_t n = (bytes + 15) / 16;
    std::memcpy(ks, prev, 16);
    std::memcpy(ks + 16, in, 16 * (n - 1));
    if (bytes == 16 * n) std::memcpy(prev, in + 16 * (n - 1), 16);
    ecb(static_cast<const uint8_t*>(ks), ks, n);
    XorBytes(out, in, ks, bytes);
    in += bytes;
    out += bytes;
    len -= bytes;
  }
  SecureWipe(ks, (used + 15) / 16 * 16);
}

}  // namespace qor::primitives
