// CBC decryption around kernels that decrypt many independent blocks at once:
// the kernel runs first, the chaining values are XORed on afterwards.
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

}  // namespace qor::primitives
