/* DES and triple DES (two- and three-key E-D-E): key schedules, a streaming
 * CBC context that works in 16-byte units, one-shot CBC and single-block
 * functions, and DES key helpers. */
#ifndef QOR_NC_DES_H
#define QOR_NC_DES_H

#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

/* A single-DES key schedule: 16 round keys of 8 bytes, held as 32 words. */
#define NC_DES_SCHEDULE_WORDS 32

/* Streaming triple-DES context. The key schedule holds K1, K2, K3 in that
 * order; a two-key schedule stores K1 again as K3. */
typedef struct NC_DES3_CTX {
  int32_t mode;     /* stored only: triple DES always runs CBC */
  int32_t padding;  /* 1 = none, 2 = pad to a whole 16-byte unit */
  uint8_t iv[16];   /* the first 8 bytes are the DES IV */
  uint8_t chain[16]; /* last 16 ciphertext bytes; the next unit chains on bytes 0..7 */
  uint8_t buf[16];
  int32_t buffered; /* 0..16 */
  uint32_t ks[3][NC_DES_SCHEDULE_WORDS];
} NC_DES3_CTX;

/* Expands the 8-byte |key| (parity bits ignored) into |ks|. Caller owns |ks|
 * and wipes it when done. */
QOR_API void NC_E_DES_KeySchedule(const uint8_t key[8], uint32_t ks[NC_DES_SCHEDULE_WORDS]);
/* Two-key schedule from |key| (K1 = bytes 0..7, K2 = bytes 8..15) into ctx->ks. */
QOR_API void NC_E_DES3_KeyScheduleEx(NC_DES3_CTX* ctx, const uint8_t key[16]);
/* Three-key schedule from |key| (K1, K2, K3, 8 bytes each) into ctx->ks. */
QOR_API void NC_E_DES3_3Key_ScheduleEx(NC_DES3_CTX* ctx, const uint8_t key[24]);

/* Stores mode, padding and the IV (first 16 bytes of |iv|; a null |iv| leaves
 * the stored IV as it is). Returns 0, or -1 for a null |ctx|. */
QOR_API int NC_DES3_SetAlgInfo(int32_t mode, int32_t padding, const uint8_t* iv, NC_DES3_CTX* ctx);
/* Empties the buffer and loads the IV into the chaining field. Returns 0 (-1 for a null ctx). */
QOR_API int NC_DES3_EncInit(NC_DES3_CTX* ctx);
QOR_API int NC_DES3_DecInit(NC_DES3_CTX* ctx);
/* Encrypts every whole 16-byte unit of buffered + new input into |out| (room
 * for inLen + 16 bytes) and sets *outLen. Returns 0; 4097 when in == out; -1
 * for null arguments or a negative length. */
QOR_API int NC_DES3_CBC_EncUpdate(NC_DES3_CTX* ctx, const uint8_t* in, int32_t inLen, uint8_t* out,
                                  int32_t* outLen);
/* Flushes the buffer (padding 2: 16 bytes out; padding 1: nothing). Returns 0,
 * 4100 for padding 1 with bytes left over, 4097 for an unknown padding code. */
QOR_API int NC_DES3_CBC_EncFinal(NC_DES3_CTX* ctx, uint8_t* out, int32_t* outLen);
/* Like EncUpdate, but keeps the last 1..16 input bytes buffered for DecFinal. */
QOR_API int NC_DES3_CBC_DecUpdate(NC_DES3_CTX* ctx, const uint8_t* in, int32_t inLen, uint8_t* out,
                                  int32_t* outLen);
/* Decrypts the buffered unit into |out| (16 bytes of room). Returns 0 and sets
 * *outLen to the plaintext length, or to -4083 (bad padding) / -4081 (unknown
 * padding code); returns 4101 when 1..15 bytes are buffered. */
QOR_API int NC_DES3_CBC_DecFinal(NC_DES3_CTX* ctx, uint8_t* out, int32_t* outLen);

/* One-shot CBC over 8-byte blocks. A trailing partial block is completed with
 * zero bytes, so |out| receives |len| rounded up to 8 bytes; in == out is
 * allowed. The IV (8 bytes) is read, never written. The two-key functions read
 * K1, K2 from |ks| (2 x 32 words), the three-key ones K1, K2, K3 (3 x 32
 * words). Return the bytes written, or -1 for null arguments or len < 0. */
QOR_API int NC_E_DES3_CBC_Encrypt(const uint8_t* in, uint8_t* out, const uint32_t* ks, int32_t len,
                                  const uint8_t* iv);
QOR_API int NC_E_DES3_CBC_Decrypt(const uint8_t* in, uint8_t* out, const uint32_t* ks, int32_t len,
                                  const uint8_t* iv);
QOR_API int NC_E_DES3_3Key_CBC_Encrypt(const uint8_t* in, uint8_t* out, const uint32_t* ks,
                                       int32_t len, const uint8_t* iv);
QOR_API int NC_E_DES3_3Key_CBC_Decrypt(const uint8_t* in, uint8_t* out, const uint32_t* ks,
                                       int32_t len, const uint8_t* iv);
/* Three-key schedule layout (as in NC_DES3_CTX.ks); |len| must be a multiple
 * of 8, otherwise nothing is written and -1 is returned. Returns len. */
QOR_API int NC_E_DES3_CBC_Encrypt_NO_PAD(const uint8_t* in, uint8_t* out, const uint32_t* ks,
                                         int32_t len, const uint8_t* iv);
QOR_API int NC_E_DES3_CBC_Decrypt_NO_PAD(const uint8_t* in, uint8_t* out, const uint32_t* ks,
                                         int32_t len, const uint8_t* iv);

/* Single 8-byte blocks (in == out allowed): two-key (ks: 2 x 32 words),
 * three-key (3 x 32 words) and single DES (32 words). */
QOR_API void NC_E_DES3_Encrypt(const uint8_t in[8], uint8_t out[8], const uint32_t* ks);
QOR_API void NC_E_DES3_Decrypt(const uint8_t in[8], uint8_t out[8], const uint32_t* ks);
QOR_API void NC_E_DES3_3Key_Encrypt(const uint8_t in[8], uint8_t out[8], const uint32_t* ks);
QOR_API void NC_E_DES3_3Key_Decrypt(const uint8_t in[8], uint8_t out[8], const uint32_t* ks);
QOR_API void NC_E_DES_Encrypt(const uint8_t in[8], uint8_t out[8], const uint32_t* ks);
QOR_API void NC_E_DES_Decrypt(const uint8_t in[8], uint8_t out[8], const uint32_t* ks);
/* DES-encrypts one 64-bit block in place: data[0] is the high (first) half,
 * data[1] the low half, with a schedule from NC_E_DES_KeySchedule. */
QOR_API void _NC_E_DES_Encrypt(uint32_t data[2], const uint32_t ks[NC_DES_SCHEDULE_WORDS]);

/* Sets the low bit of each of the |len| bytes so that every byte has odd parity. */
QOR_API void NC_SetOddParity(uint8_t* key, int32_t len);
/* Returns 1 when every one of the |len| bytes has odd parity, else 0. */
QOR_API int NC_CheckParity(const uint8_t* key, int32_t len);
/* Returns 1 when the 8-byte |key| is one of the 4 weak or 12 semi-weak DES
 * keys (parity bits ignored), else 0. */
QOR_API int NC_IsWeakKey(const uint8_t key[8]);

QOR_END_DECLS

#endif
