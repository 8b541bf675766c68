/* HMAC (RFC 2104) over SHA-1 and SHA-256.
 *
 * Keys of any length are accepted: a key longer than the 64-byte block is
 * first replaced by its digest, as the standard prescribes. Contexts are
 * caller-owned (no global state): _Init keys the context, _Update takes the
 * message in pieces of any size, _Final writes the tag and wipes the context.
 *
 * Every function returns 0 on success and -1 when a required pointer is NULL
 * (NULL data or key is accepted when its length is 0); on -1 nothing is
 * written. */
#ifndef QOR_NC_HMAC_H
#define QOR_NC_HMAC_H

#include <stddef.h>

#include "qor/export.h"
#include "qor/nc_sha.h"

QOR_BEGIN_DECLS

#define NC_HMAC_SHA1_LEN 20
#define NC_HMAC_SHA256_LEN 32

/* Keyed HMAC-SHA-1 state: the inner and outer hashes after absorbing the
 * padded key. Opaque to callers. */
typedef struct NC_HMAC_SHA1_CTX {
  NC_SHA1_CTX inner;
  NC_SHA1_CTX outer;
} NC_HMAC_SHA1_CTX;

/* Keyed HMAC-SHA-256 state. Opaque to callers. */
typedef struct NC_HMAC_SHA256_CTX {
  NC_SHA256_CTX inner;
  NC_SHA256_CTX outer;
} NC_HMAC_SHA256_CTX;

/* HMAC-SHA-1 of |data| under |key| into the caller's 20-byte |out|. */
QOR_API int NC_E_HMAC_SHA1(const unsigned char *data, size_t dataLen, const unsigned char *key,
                           size_t keyLen, unsigned char *out);
/* Keys the caller's context; the key bytes are not kept. */
QOR_API int NC_E_HMAC_SHA1_Init(NC_HMAC_SHA1_CTX *ctx, const unsigned char *key, size_t keyLen);
/* Absorbs |dataLen| bytes of |data|. */
QOR_API int NC_E_HMAC_SHA1_Update(NC_HMAC_SHA1_CTX *ctx, const unsigned char *data,
                                  size_t dataLen);
/* Writes the 20-byte tag into |out| and wipes the context. */
QOR_API int NC_E_HMAC_SHA1_Final(NC_HMAC_SHA1_CTX *ctx, unsigned char *out);

/* HMAC-SHA-256 of |data| under |key| into the caller's 32-byte |out|. */
QOR_API int NC_E_HMAC_SHA256(const unsigned char *data, size_t dataLen, const unsigned char *key,
                             size_t keyLen, unsigned char *out);
/* Keys the caller's context; the key bytes are not kept. */
QOR_API int NC_E_HMAC_SHA256_Init(NC_HMAC_SHA256_CTX *ctx, const unsigned char *key,
                                  size_t keyLen);
/* Absorbs |dataLen| bytes of |data|. */
QOR_API int NC_E_HMAC_SHA256_Update(NC_HMAC_SHA256_CTX *ctx, const unsigned char *data,
                                    size_t dataLen);
/* Writes the 32-byte tag into |out| and wipes the context. */
QOR_API int NC_E_HMAC_SHA256_Final(NC_HMAC_SHA256_CTX *ctx, unsigned char *out);

QOR_END_DECLS

#endif
