/* SEED (128-bit key, 16 rounds): key schedule, a streaming CBC context, one-shot
 * CBC and single-block functions. */
#ifndef QOR_NC_SEED_H
#define QOR_NC_SEED_H

#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

/* 16 rounds x 2 round-key words. */
#define NC_SEED_ROUND_KEY_WORDS 32

/* Streaming SEED context; it always runs CBC. */
typedef struct NC_SEED_CTX {
  int32_t mode;      /* stored only */
  int32_t padding;   /* 1 = none, 2 = pad to a whole block */
  uint8_t iv[16];
  uint8_t chain[16]; /* last ciphertext block */
  uint8_t buf[16];
  int32_t buffered;  /* 0..16 */
  uint32_t rk[NC_SEED_ROUND_KEY_WORDS];
} NC_SEED_CTX;

/* Expands the 16-byte |key| into ctx->rk. */
QOR_API void NC_E_SEED_KeyScheduleEx(NC_SEED_CTX* ctx, const uint8_t key[16]);
/* Expands the 16-byte |key| into the caller's |rk| (wiped by the caller). */
QOR_API void NC_E_SEED_KeySchedule(const uint8_t key[16], uint32_t rk[NC_SEED_ROUND_KEY_WORDS]);

/* Stores mode, padding and the 16-byte IV (a null |iv| sets an all-zero IV).
 * Returns 0, or -1 for a null |ctx|. */
QOR_API int NC_SEED_SetAlgInfo(int32_t mode, int32_t padding, const uint8_t* iv, NC_SEED_CTX* ctx);
/* Empties the buffer and loads the IV into the chaining field. Returns 0 (-1 for a null ctx). */
QOR_API int NC_SEED_EncInit(NC_SEED_CTX* ctx);
QOR_API int NC_SEED_DecInit(NC_SEED_CTX* ctx);
/* Encrypts every whole block of buffered + new input into |out| (room for
 * inLen + 16 bytes) and sets *outLen. Returns 0; 4097 when in == out; -1 for
 * null arguments or a negative length. */
QOR_API int NC_SEED_CBC_EncUpdate(NC_SEED_CTX* ctx, const uint8_t* in, int32_t inLen, uint8_t* out,
                                  int32_t* outLen);
/* Flushes the buffer (padding 2: 16 bytes out; padding 1: nothing). Returns 0,
 * 4100 for padding 1 with bytes left over, 4097 for an unknown padding code. */
QOR_API int NC_SEED_CBC_EncFinal(NC_SEED_CTX* ctx, uint8_t* out, int32_t* outLen);
/* Like EncUpdate, but keeps the last 1..16 input bytes buffered for DecFinal. */
QOR_API int NC_SEED_CBC_DecUpdate(NC_SEED_CTX* ctx, const uint8_t* in, int32_t inLen, uint8_t* out,
                                  int32_t* outLen);
/* Decrypts the buffered block into |out| (16 bytes of room). Returns 0 and
 * sets *outLen to the plaintext length, or to -4083 (bad padding) / -4081
 * (unknown padding code); returns 4101 when 1..15 bytes are buffered. */
QOR_API int NC_SEED_CBC_DecFinal(NC_SEED_CTX* ctx, uint8_t* out, int32_t* outLen);

/* One-shot CBC with the round keys |rk| and the 16-byte |iv| (read, never
 * written). A trailing partial block is completed with zero bytes, so |out|
 * receives |len| rounded up to 16 bytes; in == out is allowed. Returns the
 * bytes written, or -1 for null arguments or len < 0. */
QOR_API int NC_E_SEED_CBC_Encrypt(const uint8_t* in, uint8_t* out, const uint32_t* rk, int32_t len,
                                  const uint8_t* iv);
QOR_API int NC_E_SEED_CBC_Decrypt(const uint8_t* in, uint8_t* out, const uint32_t* rk, int32_t len,
                                  const uint8_t* iv);
/* One 16-byte block (in == out allowed). */
QOR_API void NC_E_SEED_Encrypt(const uint8_t in[16], uint8_t out[16], const uint32_t* rk);
QOR_API void NC_E_SEED_Decrypt(const uint8_t in[16], uint8_t out[16], const uint32_t* rk);

QOR_END_DECLS

#endif
