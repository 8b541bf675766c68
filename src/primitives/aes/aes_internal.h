// Internal AES interface: key expansion in the classic big-endian word layout
// and the bulk block/mode routines, with one implementation chosen per process.
#ifndef QOR_PRIMITIVES_AES_AES_INTERNAL_H
#define QOR_PRIMITIVES_AES_AES_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "primitives/dispatch.h"

namespace qor::aes {

constexpr int kMaxRounds = 14;
constexpr int kMaxRoundKeyWords = 4 * (kMaxRounds + 1);

// Expands a 16/24/32-byte key. Round keys are big-endian words: word i holds
// bytes 4i..4i+3 of the key stream, first byte in the top bits. Returns the
// round count (10, 12 or 14), 0 for any other key length.
int ExpandEncryptKey(const uint8_t* key, size_t keyLength, uint32_t* rk);
// Turns an encryption schedule into the equivalent-inverse-cipher schedule
// (reversed order, InvMixColumns on the inner round keys). |enc| and |dec|
// may not alias.
void MakeDecryptKey(const uint32_t* enc, int rounds, uint32_t* dec);

// Table-driven single blocks (in and out may be the same buffer).
void PortableEncryptBlock(const uint32_t* rk, int rounds, const uint8_t in[16], uint8_t out[16]);
void PortableDecryptBlock(const uint32_t* rk, int rounds, const uint8_t in[16], uint8_t out[16]);

// Bulk routines over whole 16-byte blocks. Encryption-direction routines take
// an encryption schedule, Decrypt ones the inverse schedule. |iv| is the
// chaining value and receives the value that continues the stream. |out| may
// equal |in| or start before it (overlapping), never after it.
struct Impl {
  const char* name;
  void (*encryptBlock)(const uint32_t* rk, int rounds, const uint8_t in[16], uint8_t out[16]);
  void (*decryptBlock)(const uint32_t* rk, int rounds, const uint8_t in[16], uint8_t out[16]);
  void (*ecbEncrypt)(const uint32_t* rk, int rounds, const uint8_t* in, uint8_t* out, size_t blocks);
  void (*ecbDecrypt)(const uint32_t* rk, int rounds, const uint8_t* in, uint8_t* out, size_t blocks);
  void (*cbcEncrypt)(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                     size_t blocks);
  void (*cbcDecrypt)(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                     size_t blocks);
  // OFB: iv holds the last keystream block. CFB: iv holds the last ciphertext.
  void (*ofbCrypt)(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                   size_t blocks);
  void (*cfbEncrypt)(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                     size_t blocks);
  void (*cfbDecrypt)(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                     size_t blocks);
  // Expands a 16-byte key into 44 words (the layout of ExpandEncryptKey).
  void (*expandKey128)(const uint8_t* key, uint32_t* rk);
};

const Impl& PortableImpl();
// 128-bit AES instructions; null when the processor lacks them.
const Impl* AesNiImpl();
// As AesNiImpl, with 256-bit AES instructions for independent blocks; null
// when the processor lacks them.
const Impl* VaesImpl();

// VAES, then AES-NI, then the tables.
extern primitives::Dispatcher<Impl> g_kernels;

inline const Impl& Active() { return g_kernels.Active(); }

}  // namespace qor::aes

#endif
