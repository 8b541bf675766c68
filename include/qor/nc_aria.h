/* ARIA block cipher (128-, 192- and 256-bit keys): key schedules, the CBC
 * streaming context, one-shot CBC/ECB/CTR functions and the CTR counter step.
 *
 * Round keys are stored as (rounds + 1) consecutive 16-byte blocks. An
 * encryption schedule drives encryption, a decryption schedule decryption;
 * every block function below simply runs the rounds with the keys it gets. */
#ifndef QOR_NC_ARIA_H
#define QOR_NC_ARIA_H

#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

#define NC_ARIA_BLOCK_SIZE 16
#define NC_ARIA_MAX_ROUNDS 16
#define NC_ARIA_ROUND_KEY_BYTES ((NC_ARIA_MAX_ROUNDS + 1) * NC_ARIA_BLOCK_SIZE)

/* Result codes of the streaming functions. The two negative ones are reported
 * through the output length of NC_ARIA_CBC_DecFinal, which still returns 0. */
#define NC_ARIA_ERR_SAME_BUFFER_OR_PADDING 4097
#define NC_ARIA_ERR_PARTIAL_WITHOUT_PADDING 4100
#define NC_ARIA_ERR_INCOMPLETE_UNIT 4101
#define NC_ARIA_ERR_UNKNOWN_PADDING (-4081)
#define NC_ARIA_ERR_BAD_PADDING (-4083)

/* Padding codes of the streaming contexts. */
#define NC_ARIA_PADDING_NONE 1
#define NC_ARIA_PADDING_BLOCK 2

/* Streaming context; always runs CBC whatever mode is stored. */
typedef struct NC_ARIA_CTX {
  int32_t mode;
  int32_t padding;
  uint8_t iv[16];
  uint8_t chain[16];
  uint8_t buf[16];
  int32_t bufLen;
  int32_t rounds;
  uint8_t roundKey[NC_ARIA_ROUND_KEY_BYTES];
} NC_ARIA_CTX;

/* Expands the encryption schedule of |key| into ctx->roundKey and stores the
 * round count. |rounds| 12, 14 or 16 reads a 16-, 24- or 32-byte key; any other
 * count leaves ctx untouched and returns -1. Returns 0 on success. */
QOR_API int NC_ARIA_EncKeyGen(const uint8_t* key, NC_ARIA_CTX* ctx, int rounds);
/* As NC_ARIA_EncKeyGen, writing the decryption schedule. */
QOR_API int NC_ARIA_DecKeyGen(const uint8_t* key, NC_ARIA_CTX* ctx, int rounds);

/* Stores mode, padding code and IV (a null IV stores 16 zero bytes). Returns 0. */
QOR_API int NC_ARIA_SetAlgInfo(int mode, int padding, const uint8_t* iv, NC_ARIA_CTX* ctx);
/* Empties the buffer and loads the IV into the chaining value. Returns 0. */
QOR_API int NC_ARIA_EncInit(NC_ARIA_CTX* ctx);
QOR_API int NC_ARIA_DecInit(NC_ARIA_CTX* ctx);
/* CBC-encrypts buffered plus new input in whole 16-byte units into |out|
 * (room for bufLen + inLen rounded down to 16); *outLen receives the bytes
 * written. Returns 0, 4097 when in == out, -1 for null or negative arguments. */
QOR_API int NC_ARIA_CBC_EncUpdate(NC_ARIA_CTX* ctx, const uint8_t* in, int inLen, uint8_t* out,
                                  int* outLen);
/* Pads (code 2) and encrypts the last unit into |out| (16 bytes of room).
 * Returns 0, 4100 when bytes remain under padding code 1, 4097 for an unknown
 * padding code. */
QOR_API int NC_ARIA_CBC_EncFinal(NC_ARIA_CTX* ctx, uint8_t* out, int* outLen);
/* As EncUpdate, but the last complete unit always stays buffered for Final. */
QOR_API int NC_ARIA_CBC_DecUpdate(NC_ARIA_CTX* ctx, const uint8_t* in, int inLen, uint8_t* out,
                                  int* outLen);
/* Decrypts the buffered unit into |out| (16 bytes of room) and strips the
 * padding. Returns 4101 for an incomplete unit, else 0 with *outLen the plain
 * length, -4083 for bad padding bytes or -4081 for an unknown padding code. */
QOR_API int NC_ARIA_CBC_DecFinal(NC_ARIA_CTX* ctx, uint8_t* out, int* outLen);

/* The ARIA rounds: one block |in| -> |out| with |roundKeys| ((rounds + 1) * 16
 * bytes). in and out may be the same. */
QOR_API void NC_Crypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys, int rounds);
/* One block with an encryption (resp. decryption) schedule. */
QOR_API void NC_E_ARIA_Encrypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys,
                               int rounds);
QOR_API void NC_E_ARIA_Decrypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys,
                               int rounds);

/* One-shot CBC encryption of |length| bytes; a trailing partial block is
 * completed with zero bytes, so |out| receives length rounded up to 16. The IV
 * is only read. in and out may be the same. Returns the bytes written, or -1
 * for null pointers, a negative length or a bad round count. */
QOR_API int NC_E_ARIA_CBC_Encrypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys,
                                  int length, const uint8_t* iv, int rounds);
/* One-shot CBC decryption (decryption schedule) of the whole blocks of |in|; a
 * trailing partial block is ignored. Returns the bytes written, or -1. */
QOR_API int NC_E_ARIA_CBC_Decrypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys,
                                  int length, const uint8_t* iv, int rounds);
/* Each whole 16-byte block on its own with the given schedule; |unused| is
 * ignored (it keeps the shape of the other one-shot functions). Returns the
 * bytes written, or -1. */
QOR_API int NC_E_ARIA_ECB_Crypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys,
                                int length, const uint8_t* unused, int rounds);
/* Counter mode with an encryption schedule (the same call decrypts): the
 * counter block starts as a copy of |counter| and advances by CTR_INCREASE;
 * the caller's counter is not changed. Returns |length|, or -1. */
QOR_API int NC_E_ARIA_CTR_Crypt(const uint8_t* in, uint8_t* out, const uint8_t* roundKeys,
                                int length, const uint8_t* counter, int rounds);

/* Adds 1 to bytes 8..15 of |counter| as a big-endian 64-bit number; byte 8
 * wraps without carrying into byte 7. */
QOR_API void CTR_INCREASE(uint8_t counter[16]);

QOR_END_DECLS

#endif
