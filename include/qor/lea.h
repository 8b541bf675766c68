/* LEA block cipher (128-, 192- and 256-bit keys; 24, 28 or 32 rounds), its
 * modes of operation and the CBC streaming context.
 *
 * Block and mode functions take (output, input, length, iv/counter, key) with
 * the expanded key last; the context-based families (CMAC, GCM, streaming)
 * take their context first. All lengths are in bytes. */
#ifndef QOR_LEA_H
#define QOR_LEA_H

#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

#define LEA_BLOCK_SIZE 16
#define LEA_MAX_ROUNDS 32

/* Expanded key: six 32-bit round-key words per round. */
typedef struct LEA_KEY {
  uint32_t rk[LEA_MAX_ROUNDS * 6];
  uint32_t round;
} LEA_KEY;

/* Expands |mk| (16, 24 or 32 bytes) into |key|. Returns 0, or -1 for a null
 * argument or another length (key untouched). */
QOR_API int lea_set_key(LEA_KEY* key, const uint8_t* mk, uint32_t mk_len);

/* One 16-byte block; ct and pt may be the same. */
QOR_API void lea_encrypt(uint8_t* ct, const uint8_t* pt, const LEA_KEY* key);
QOR_API void lea_decrypt(uint8_t* pt, const uint8_t* ct, const LEA_KEY* key);

/* ECB and CBC (no padding): the length must be a non-zero multiple of 16, else
 * -1 is returned and nothing is written. Return 0 on success. The IV is only
 * read. Output and input may be the same buffer. */
QOR_API int lea_ecb_enc(uint8_t* ct, const uint8_t* pt, uint32_t pt_len, const LEA_KEY* key);
QOR_API int lea_ecb_dec(uint8_t* pt, const uint8_t* ct, uint32_t ct_len, const LEA_KEY* key);
QOR_API int lea_cbc_enc(uint8_t* ct, const uint8_t* pt, uint32_t pt_len, const uint8_t* iv,
                        const LEA_KEY* key);
QOR_API int lea_cbc_dec(uint8_t* pt, const uint8_t* ct, uint32_t ct_len, const uint8_t* iv,
                        const LEA_KEY* key);

/* Counter mode over any length; |ctr| is a 128-bit big-endian counter that is
 * advanced past every block used (a final partial block included). */
QOR_API void lea_ctr_enc(uint8_t* ct, const uint8_t* pt, uint32_t pt_len, uint8_t* ctr,
                         const LEA_KEY* key);
QOR_API void lea_ctr_dec(uint8_t* pt, const uint8_t* ct, uint32_t ct_len, uint8_t* ctr,
                         const LEA_KEY* key);

/* CFB with 128-bit feedback and OFB over any length; the IV is only read. */
QOR_API void lea_cfb128_enc(uint8_t* ct, const uint8_t* pt, uint32_t pt_len, const uint8_t* iv,
                            const LEA_KEY* key);
QOR_API void lea_cfb128_dec(uint8_t* pt, const uint8_t* ct, uint32_t ct_len, const uint8_t* iv,
                            const LEA_KEY* key);
QOR_API void lea_ofb_enc(uint8_t* ct, const uint8_t* pt, uint32_t pt_len, const uint8_t* iv,
                         const LEA_KEY* key);
QOR_API void lea_ofb_dec(uint8_t* pt, const uint8_t* ct, uint32_t ct_len, const uint8_t* iv,
                         const LEA_KEY* key);

/* CMAC (NIST SP 800-38B). */
typedef struct LEA_CMAC_CTX {
  LEA_KEY key;
  uint8_t k1[16];
  uint8_t k2[16];
  uint8_t state[16];
  uint8_t last[16];
  uint32_t nlast;
} LEA_CMAC_CTX;

/* Keys the context with |mk| (16, 24 or 32 bytes). Returns 0 or -1. */
QOR_API int lea_cmac_init(LEA_CMAC_CTX* ctx, const uint8_t* mk, uint32_t mk_len);
/* Absorbs |data|. Returns 0 or -1 for null arguments. */
QOR_API int lea_cmac_update(LEA_CMAC_CTX* ctx, const uint8_t* data, uint32_t data_len);
/* Writes the first |mac_len| (1..16) bytes of the tag and wipes the context.
 * Returns 0 or -1. */
QOR_API int lea_cmac_final(LEA_CMAC_CTX* ctx, uint8_t* mac, uint32_t mac_len);

/* CCM (NIST SP 800-38C): nonce 7..13 bytes, tag 4, 6, 8, 10, 12, 14 or 16
 * bytes. lea_ccm_enc writes pt_len bytes to |ct| and the tag to |tag|;
 * lea_ccm_dec writes ct_len bytes to |pt| only when the tag verifies. Both
 * return 0 on success, -1 for bad parameters or (decryption) a wrong tag. */
QOR_API int lea_ccm_enc(uint8_t* ct, uint8_t* tag, const uint8_t* pt, uint32_t pt_len,
                        uint32_t tag_len, const uint8_t* nonce, uint32_t nonce_len,
                        const uint8_t* aad, uint32_t aad_len, const LEA_KEY* key);
QOR_API int lea_ccm_dec(uint8_t* pt, const uint8_t* ct, uint32_t ct_len, const uint8_t* tag,
                        uint32_t tag_len, const uint8_t* nonce, uint32_t nonce_len,
                        const uint8_t* aad, uint32_t aad_len, const LEA_KEY* key);

/* GCM (NIST SP 800-38D). Order of calls: init, set_ctr, any number of set_aad,
 * any number of enc (or dec), final. */
typedef struct LEA_GCM_CTX {
  LEA_KEY key;
  uint64_t h[2];
  uint8_t j0[16];
  uint8_t ctr[16];
  uint8_t ghash[16];
  uint8_t buf[16];
  uint8_t keystream[16];
  uint64_t aad_len;
  uint64_t text_len;
  uint32_t buf_len;
  uint32_t ks_used;
  int32_t stage;
} LEA_GCM_CTX;

/* Keys the context with |mk| (16, 24 or 32 bytes). Returns 0 or -1. */
QOR_API int lea_gcm_init(LEA_GCM_CTX* ctx, const uint8_t* mk, uint32_t mk_len);
/* Sets the IV (any non-zero length; 12 bytes is the usual). Returns 0 or -1. */
QOR_API int lea_gcm_set_ctr(LEA_GCM_CTX* ctx, const uint8_t* iv, uint32_t iv_len);
/* Absorbs additional data; only before the first enc/dec. Returns 0 or -1. */
QOR_API int lea_gcm_set_aad(LEA_GCM_CTX* ctx, const uint8_t* aad, uint32_t aad_len);
/* Encrypts (or decrypts) the next |len| bytes. Returns 0 or -1. */
QOR_API int lea_gcm_enc(LEA_GCM_CTX* ctx, uint8_t* ct, const uint8_t* pt, uint32_t pt_len);
QOR_API int lea_gcm_dec(LEA_GCM_CTX* ctx, uint8_t* pt, const uint8_t* ct, uint32_t ct_len);
/* Writes the first |tag_len| (1..16) bytes of the tag and wipes the context; a
 * decrypting caller compares it with the received tag. Returns 0 or -1. */
QOR_API int lea_gcm_final(LEA_GCM_CTX* ctx, uint8_t* tag, uint32_t tag_len);

/* Name of the block kernels in use: "generic", or the vector extension used. */
QOR_API const char* get_simd_type(void);
/* Kept for callers of the reference-style interface; the kernel choice is
 * made automatically, so this does nothing. */
QOR_API void init_simd(void);

/* Result codes of the streaming functions; the two negative ones are reported
 * through the output length of NC_LEA_CBC_DecFinal, which returns 0. */
#define NC_LEA_ERR_SAME_BUFFER_OR_PADDING 4097
#define NC_LEA_ERR_PARTIAL_WITHOUT_PADDING 4100
#define NC_LEA_ERR_INCOMPLETE_UNIT 4101
#define NC_LEA_ERR_UNKNOWN_PADDING (-4081)
#define NC_LEA_ERR_BAD_PADDING (-4083)
#define NC_LEA_PADDING_NONE 1
#define NC_LEA_PADDING_BLOCK 2

/* Streaming context; always runs CBC whatever mode is stored. */
typedef struct NC_LEA_CTX {
  int32_t mode;
  int32_t padding;
  uint8_t iv[16];
  uint8_t chain[16];
  uint8_t buf[16];
  int32_t bufLen;
  LEA_KEY key;
} NC_LEA_CTX;

/* lea_set_key into ctx->key. Returns 0, or -1 for a bad length. */
QOR_API int NC_E_LEA_KeyScheduleEx(NC_LEA_CTX* ctx, const uint8_t* key, int keyLen);
/* Stores mode, padding code and IV (a null IV stores 16 zero bytes). Returns 0. */
QOR_API int NC_LEA_SetAlgInfo(int mode, int padding, const uint8_t* iv, NC_LEA_CTX* ctx);
/* Empties the buffer and loads the IV into the chaining value. Returns 0. */
QOR_API int NC_LEA_EncInit(NC_LEA_CTX* ctx);
QOR_API int NC_LEA_DecInit(NC_LEA_CTX* ctx);
/* Same contract as the ARIA streaming functions in qor/nc_aria.h: Update
 * writes whole units (Dec keeps the last one for Final), returns 4097 when
 * in == out; EncFinal returns 4100 / 4097; DecFinal returns 4101, or 0 with
 * *outLen = plain length, -4083 (bad padding) or -4081 (unknown code). */
QOR_API int NC_LEA_CBC_EncUpdate(NC_LEA_CTX* ctx, const uint8_t* in, int inLen, uint8_t* out,
                                 int* outLen);
QOR_API int NC_LEA_CBC_EncFinal(NC_LEA_CTX* ctx, uint8_t* out, int* outLen);
QOR_API int NC_LEA_CBC_DecUpdate(NC_LEA_CTX* ctx, const uint8_t* in, int inLen, uint8_t* out,
                                 int* outLen);
QOR_API int NC_LEA_CBC_DecFinal(NC_LEA_CTX* ctx, uint8_t* out, int* outLen);

QOR_END_DECLS

#endif
