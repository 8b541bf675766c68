/* Algorithm codes, the per-key-version record and the adapters every table
 * indexed by algorithm code points at: one-shot, digest and streaming. */
#ifndef QOR_CIPHER_ADAPTERS_H
#define QOR_CIPHER_ADAPTERS_H

#include <stdint.h>

#include "qor/data_buffer.h"

QOR_BEGIN_DECLS

/* Algorithm codes: the index into every adapter table. */
enum {
  QOR_ALG_UNKNOWN = 0,
  QOR_ALG_SEED = 1,
  QOR_ALG_ARIA128 = 2,
  QOR_ALG_DES3_2KEY = 3,
  QOR_ALG_RC4 = 4,
  QOR_ALG_AES128 = 5,
  QOR_ALG_AES_RESERVED = 6,
  QOR_ALG_AES256 = 7,
  QOR_ALG_SHA1 = 8,
  QOR_ALG_SHA256 = 9,
  QOR_ALG_SHA384 = 10,
  QOR_ALG_SHA512 = 11,
  QOR_ALG_DES3_2KEY_B = 12,
  QOR_ALG_ARIA_RESERVED = 13,
  QOR_ALG_ARIA256 = 14,
  QOR_ALG_LEA128 = 15,
  QOR_ALG_LEA_RESERVED = 16,
  QOR_ALG_LEA256 = 17,
  QOR_ALG_SHA3_256_B = 18,
  QOR_ALG_SHA3_256 = 19,
  QOR_ALG_SHA3_512 = 20,
  QOR_ALG_LSH512_256 = 21,
  QOR_ALG_LSH512_512 = 22,
  QOR_ALG_FPE = 23,
  QOR_ALG_DES3_3KEY = 24,
  QOR_ALG_TICN = 25,
  QOR_ALG_COUNT = 26
};

/* Block-cipher mode codes (names in the configuration's CryptoMode table). */
enum { QOR_MODE_CBC = 0, QOR_MODE_ECB = 1, QOR_MODE_CTR = 2, QOR_MODE_OFB = 3, QOR_MODE_CFB = 4 };

/* Key status codes. */
enum { QOR_KEY_ACTIVE = 0, QOR_KEY_DEACTIVE = 1, QOR_KEY_REVOKED = 2 };

/* One key version of one policy. Records of a policy form a list, newest first. */
typedef struct CipherUtil {
  uint16_t keyVersion;
  int32_t useRecordIV;   /* values carry a 4-byte record-IV tail */
  uint32_t algType;
  int32_t keyStatus;
  int32_t firstTime;
  int32_t secondTime;
  void *pEKey;           /* owned encryption key context, or NULL */
  void *pDKey;           /* decryption key context: pEKey itself, or a second owned one */
  unsigned char iv[16];
  int32_t mode;
  int32_t oneWay;        /* 1 for digests and FPE */
  struct CipherUtil *next;
} CipherUtil;

/* One-shot adapters. |in| must have room for one more block beyond its length:
 * padding (and the compatibility blank) is written in place. On success |out|
 * holds a malloc'd, zero-terminated buffer the caller frees. 0 or -1. */
typedef int (*CipherEncryptFn)(DataBuffer *in, const void *key, const unsigned char *iv,
                               DataBuffer *out, uint16_t keyVersion, int32_t useRecordIV,
                               int32_t compatibility);
typedef int (*CipherDecryptFn)(DataBuffer *in, const void *key, const unsigned char *iv,
                               DataBuffer *out, int32_t nullProcess, int32_t compatibility);
/* Streaming adapters: Init allocates *|stream| (caller frees it after Final with free()). */
typedef int (*CipherStreamInitFn)(const void *key, void **stream, const unsigned char *iv);
typedef int (*CipherStreamUpdateFn)(void *stream, const unsigned char *in, int32_t inLen,
                                    unsigned char *out, int32_t *outLen);
/* Adds the bytes Final produced to *|runningLen|. */
typedef int (*CipherStreamFinalFn)(void *stream, unsigned char *out, int32_t *runningLen);

/* Appends PKCS#7-style padding at |length|; |buffer| needs length + block bytes. Returns the padded length. */
QOR_API int DoPadding(unsigned char *buffer, int length, int block);
/* Writes only the last padding byte; returns the padded length. */
QOR_API int DoPaddingOnlyFinal(unsigned char *buffer, int length, int block);

/* Adapters (entries of the tables in qor/cipher_tables.h). */
QOR_API int doUnknownEncryptEx(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,
                               uint16_t keyVersion, int32_t useRecordIV, int32_t compatibility);
QOR_API int doUnknownDecrypt(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,
                             int32_t nullProcess, int32_t compatibility);
#define QOR_DECLARE_BLOCK_ADAPTERS(Enc, Dec)                                                        \
  QOR_API int Enc(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,        \
                  uint16_t keyVersion, int32_t useRecordIV, int32_t compatibility);                 \
  QOR_API int Dec(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,        \
                  int32_t nullProcess, int32_t compatibility);
QOR_DECLARE_BLOCK_ADAPTERS(doSEEDEncryptEx, doSEEDDecrypt)
QOR_DECLARE_BLOCK_ADAPTERS(doARIAEncryptEx2, doARIADecrypt2)
QOR_DECLARE_BLOCK_ADAPTERS(doAESEncryptEx, doAESDecrypt)
QOR_DECLARE_BLOCK_ADAPTERS(doDES3EncryptEx, doDES3Decrypt)
QOR_DECLARE_BLOCK_ADAPTERS(doDES3Encrypt_3keyEx, doDES3Decrypt_3key)
QOR_DECLARE_BLOCK_ADAPTERS(doLEAEncryptEx, doLEADecrypt)
#undef QOR_DECLARE_BLOCK_ADAPTERS

/* Digests: the encrypt entries ignore key, IV, version and record-IV flag. */
QOR_API int doSHA1EncryptEx(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,
                            uint16_t keyVersion, int32_t useRecordIV, int32_t compatibility);
QOR_API int doSHA256EncryptEx(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,
                              uint16_t keyVersion, int32_t useRecordIV, int32_t compatibility);
QOR_API int doSHA384EncryptEx(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,
                              uint16_t keyVersion, int32_t useRecordIV, int32_t compatibility);
QOR_API int doSHA512EncryptEx(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,
                              uint16_t keyVersion, int32_t useRecordIV, int32_t compatibility);
QOR_API int doSHA3_256Encrypt(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,
                              uint16_t keyVersion, int32_t useRecordIV, int32_t compatibility);
QOR_API int doSHA3_384Encrypt(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,
                              uint16_t keyVersion, int32_t useRecordIV, int32_t compatibility);
QOR_API int doSHA3_512Encrypt(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,
                              uint16_t keyVersion, int32_t useRecordIV, int32_t compatibility);
QOR_API int doLSH512_256Encrypt(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,
                                uint16_t keyVersion, int32_t useRecordIV, int32_t compatibility);
QOR_API int doLSH512_512Encrypt(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out,
                                uint16_t keyVersion, int32_t useRecordIV, int32_t compatibility);
QOR_API int doSHA1Encrypt(const DataBuffer *in, DataBuffer *out);
QOR_API int doDigest(const DataBuffer *in, DataBuffer *out);
QOR_API int doSHA256Encrypt(const DataBuffer *in, DataBuffer *out);
QOR_API int doSHA384Encrypt(const DataBuffer *in, DataBuffer *out);
QOR_API int doSHA512Encrypt(const DataBuffer *in, DataBuffer *out);
QOR_API int doSHA3_Encrypt(const DataBuffer *in, DataBuffer *out, int bits);
QOR_API int doLSH256_Encrypt(const DataBuffer *in, DataBuffer *out, int bits);
QOR_API int doLSH512_Encrypt(const DataBuffer *in, DataBuffer *out, int bits);
QOR_API int doDigest256(const DataBuffer *in, DataBuffer *out);
/* HMAC-SHA1 (20 bytes) / HMAC-SHA256 (32 bytes) of |data| under |key| (1..64 bytes). */
QOR_API int doHMACDigest(const DataBuffer *data, const DataBuffer *key, DataBuffer *out);
QOR_API int doHMACDigest256(const DataBuffer *data, const DataBuffer *key, DataBuffer *out);
/* Pseudo-decrypts: a copy of the input. */
#define QOR_DECLARE_PSEUDO(Name)                                                             \
  QOR_API int Name(DataBuffer *in, const void *key, const unsigned char *iv, DataBuffer *out, \
                   int32_t nullProcess, int32_t compatibility);
QOR_DECLARE_PSEUDO(doSHA1DecryptPseude)
QOR_DECLARE_PSEUDO(doSHA256DecryptPseude)
QOR_DECLARE_PSEUDO(doSHA384DecryptPseude)
QOR_DECLARE_PSEUDO(doSHA512DecryptPseude)
QOR_DECLARE_PSEUDO(doSHA3_DecryptPseude)
QOR_DECLARE_PSEUDO(doLSHDecryptPseude)
#undef QOR_DECLARE_PSEUDO

/* Streaming adapters, CBC with block padding. */
#define QOR_DECLARE_STREAM(Cipher)                                                                   \
  QOR_API int do##Cipher##EncInit(const void *key, void **stream, const unsigned char *iv);          \
  QOR_API int do##Cipher##DecInit(const void *key, void **stream, const unsigned char *iv);          \
  QOR_API int do##Cipher##EncUpdate(void *stream, const unsigned char *in, int32_t inLen,            \
                                    unsigned char *out, int32_t *outLen);                            \
  QOR_API int do##Cipher##DecUpdate(void *stream, const unsigned char *in, int32_t inLen,            \
                                    unsigned char *out, int32_t *outLen);                            \
  QOR_API int do##Cipher##EncFinal(void *stream, unsigned char *out, int32_t *runningLen);           \
  QOR_API int do##Cipher##DecFinal(void *stream, unsigned char *out, int32_t *runningLen);
QOR_DECLARE_STREAM(SEED)
QOR_DECLARE_STREAM(ARIA)
QOR_DECLARE_STREAM(AES)
QOR_DECLARE_STREAM(DES3)
QOR_DECLARE_STREAM(LEA)
#undef QOR_DECLARE_STREAM

QOR_END_DECLS

#endif
