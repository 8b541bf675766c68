/* AES (FIPS 197) behind the library's keyed streaming context: ECB, CBC, OFB
 * and CFB-128 with optional block padding, plus one-shot CBC. */
#ifndef QOR_NC_AES_H
#define QOR_NC_AES_H

#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

#define NC_AES_BLOCK_SIZE 16

/* Mode codes (the algorithm mode numbering); any value other than ECB, OFB
 * and CFB runs CBC. */
#define NC_AES_MODE_CBC 0
#define NC_AES_MODE_ECB 1
#define NC_AES_MODE_OFB 3
#define NC_AES_MODE_CFB 4

/* Padding codes. Block padding adds 1..16 bytes, each holding the count. */
#define NC_AES_PAD_NONE 1
#define NC_AES_PAD_BLOCK 2

/* Result codes. Functions return 0 on success, -1 for a null pointer or a
 * negative length, or one of these. */
#define NC_AES_ERR_PADDING_CODE 4097   /* unknown padding code at EncFinal */
#define NC_AES_ERR_KEY_LENGTH 4098     /* key not 16/24/32 bytes, or no key scheduled */
#define NC_AES_ERR_UNPADDED_DATA 4100  /* EncFinal, no padding, bytes left over */
#define NC_AES_ERR_PARTIAL_UNIT 4101   /* DecFinal with an incomplete 16-byte unit */
/* Negative output lengths reported by DecFinal (which itself returns 0). */
#define NC_AES_BAD_PADDING_CODE (-4081)
#define NC_AES_BAD_PADDING (-4083)

/* Expanded key. Round keys are 32-bit words, word i holding bytes 4i..4i+3
 * of the schedule with the first byte in the top bits. Both directions are
 * always filled, so either schedule function prepares a context for
 * encryption and decryption alike. */
typedef struct NC_AES_KEY {
  uint32_t encRoundKeys[60];
  uint32_t decRoundKeys[60]; /* equivalent inverse cipher order */
  int32_t keyWords;          /* 4, 6 or 8; 0 while no key is scheduled */
  int32_t keyLength;         /* 16, 24 or 32 bytes */
} NC_AES_KEY;

/* Streaming context. Plain data: it may be copied with memcpy (a keyed
 * context is typically copied per message). Zero it before first use. */
typedef struct NC_AES_CTX {
  int32_t mode;           /* NC_AES_MODE_* */
  int32_t padding;        /* NC_AES_PAD_* */
  uint8_t iv[16];
  uint8_t chain[16];      /* CBC/CFB: last ciphertext; OFB: last keystream block */
  uint8_t buffer[16];     /* bytes waiting for a whole unit */
  int32_t bufferedCount;  /* 0..16 */
  NC_AES_KEY key;
} NC_AES_CTX;

/* Schedules |key| (|keyLen| bytes: 16, 24 or 32) into ctx->key. Returns 0,
 * 4098 for another length (ctx untouched), -1 for a null pointer. */
QOR_API int NC_AES_EncKeySchedule(const unsigned char* key, int keyLen, NC_AES_CTX* ctx);
/* Same as NC_AES_EncKeySchedule (both directions are scheduled). */
QOR_API int NC_AES_DecKeySchedule(const unsigned char* key, int keyLen, NC_AES_CTX* ctx);

/* Stores mode, padding and, when |iv| is not null, the 16-byte IV (a null IV
 * keeps the current one). Returns 0, or -1 for a null ctx. */
QOR_API int NC_AES_SetAlgInfo(int mode, int padding, const unsigned char* iv, NC_AES_CTX* ctx);

/* Starts a message: empties the buffer and loads the chaining value from the
 * IV (not needed in ECB). Returns 0, or -1 for a null ctx. */
QOR_API int NC_AES_EncInit(NC_AES_CTX* ctx);
/* Same as NC_AES_EncInit. */
QOR_API int NC_AES_DecInit(NC_AES_CTX* ctx);

/* Feeds |inLen| bytes; writes every whole 16-byte unit now available to |out|
 * (room for inLen + 16 bytes is always enough) and sets *outLen to the bytes
 * written (0 when no whole unit is available); 0..15 bytes stay buffered.
 * |out| may be |in| or overlap it (the input is copied first when it must be).
 * Returns 0, 4098 without a key, -1 for bad arguments. */
QOR_API int NC_AES_EncUpdate(NC_AES_CTX* ctx, const unsigned char* in, int inLen, unsigned char* out,
                             int* outLen);
/* Ends encryption. ECB/CBC: padding 1 writes nothing (4100 if bytes are
 * buffered); padding 2 pads and writes 16 bytes; other codes return 4097.
 * OFB/CFB: writes the buffered bytes (0..15) as a stream, whatever the padding.
 * |out| needs 16 bytes. */
QOR_API int NC_AES_EncFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen);

/* Like NC_AES_EncUpdate, but the final 1..16 bytes seen so far are always
 * kept back (a whole last unit included) for the Final call to strip the
 * padding. |out| needs room for inLen + 16. */
QOR_API int NC_AES_DecUpdate(NC_AES_CTX* ctx, const unsigned char* in, int inLen, unsigned char* out,
                             int* outLen);
/* Ends decryption by dispatching on the mode to one of the four below. |out|
 * needs 16 bytes. Returns 0 with *outLen set (possibly to -4081 or -4083), or
 * 4101 / -1. */
QOR_API int NC_AES_DecFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen);
/* ECB/CBC: nothing buffered gives *outLen 0; a partial unit returns 4101;
 * otherwise the unit is decrypted and, with padding 2, checked and stripped
 * (*outLen = 16 - pad, or -4083 for bad padding bytes); padding 1 gives 16;
 * any other padding code gives *outLen -4081. */
QOR_API int NC_ECB_DecFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen);
QOR_API int NC_CBC_DecFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen);
/* OFB/CFB: writes the 0..16 buffered bytes as a stream, whatever the padding. */
QOR_API int NC_OFB_DecFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen);
QOR_API int NC_CFB_DecFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen);

/* One-shot CBC with the key in |ctx| (its stream fields are not used or
 * changed) and the 16-byte |iv|. A trailing partial block is completed with
 * zero bytes, so |out| receives inLen rounded up to 16 bytes; no padding is
 * added. |in| may equal |out|. Returns the output length, or -1 for bad
 * arguments or a context without a key. */
QOR_API int NC_AES_CBC_Encrypt(const NC_AES_CTX* ctx, const unsigned char* iv, const unsigned char* in, int inLen,
                               unsigned char* out);
/* One-shot CBC decryption of |inLen| bytes (a multiple of 16) into |out|; |in|
 * may equal |out|. Returns inLen, or -1 for bad arguments (including a length
 * that is not a multiple of 16) or a context without a key. */
QOR_API int NC_AES_CBC_Decrypt(const NC_AES_CTX* ctx, const unsigned char* iv, const unsigned char* in, int inLen,
                               unsigned char* out);

QOR_END_DECLS

#endif
