/* SHA-1, SHA-256, SHA-384 and SHA-512 (FIPS 180-4), and the single SHA-1
 * compression used by the ANSI X9.62 G function.
 *
 * Every function keeps its state in a caller-owned context; nothing is
 * global, so any number of threads may hash at once with their own contexts.
 * Streaming: _Init, then _Update any number of times with pieces of any size
 * (empty pieces included), then _Final, which writes the digest and wipes the
 * context; call _Init again before reusing it.
 *
 * Every function returns 0 on success and -1 when a required pointer is NULL
 * (a NULL input is accepted when its length is 0); on -1 nothing is written. */
#ifndef QOR_NC_SHA_H
#define QOR_NC_SHA_H

#include <stddef.h>
#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

#define NC_SHA1_DIGEST_LEN 20
#define NC_SHA256_DIGEST_LEN 32
#define NC_SHA384_DIGEST_LEN 48
#define NC_SHA512_DIGEST_LEN 64

/* Streaming SHA-1 state. Callers treat the fields as opaque. */
typedef struct NC_SHA1_CTX {
  uint32_t state[5];
  uint32_t bufferLen;     /* bytes waiting in buffer, below 64 */
  uint64_t totalLen;      /* bytes absorbed so far */
  unsigned char buffer[64];
} NC_SHA1_CTX;

/* Streaming SHA-256 state of NC_E_SHA256_*. Opaque to callers. */
typedef struct NC_SHA256_CTX {
  uint32_t state[8];
  uint32_t bufferLen;
  uint64_t totalLen;
  unsigned char buffer[64];
} NC_SHA256_CTX;

/* Streaming SHA-256 state of NC_NewSha2_* (a type of its own so the two
 * families cannot be mixed up by accident). Opaque to callers. */
typedef struct NC_NEWSHA2_CTX {
  uint32_t state[8];
  uint32_t bufferLen;
  uint64_t totalLen;
  unsigned char buffer[64];
} NC_NEWSHA2_CTX;

/* Streaming SHA-512 state, shared by SHA-384 (which only starts from other
 * initial values and keeps 48 bytes of the result). Opaque to callers. */
typedef struct NC_SHA512_CTX {
  uint64_t state[8];
  uint32_t bufferLen;     /* bytes waiting in buffer, below 128 */
  uint64_t totalLen;
  unsigned char buffer[128];
} NC_SHA512_CTX;
typedef NC_SHA512_CTX NC_SHA384_CTX;

/* SHA-1 of |in| into the caller's 20-byte |out|. */
QOR_API int NC_E_SHA1(unsigned char *out, const unsigned char *in, size_t inLen);
/* Starts a SHA-1 digest in the caller's context. */
QOR_API int NC_E_SHA1_Init(NC_SHA1_CTX *ctx);
/* Absorbs |inLen| bytes of |in|. */
QOR_API int NC_E_SHA1_Update(NC_SHA1_CTX *ctx, const unsigned char *in, size_t inLen);
/* Writes the 20-byte digest into |out| and wipes the context. */
QOR_API int NC_E_SHA1_Final(NC_SHA1_CTX *ctx, unsigned char *out);

/* SHA-256 of |in| into the caller's 32-byte |out|; stores 32 in |*outLen|
 * (|outLen| may be NULL). */
QOR_API int NC_E_SHA256(unsigned char *out, int *outLen, const unsigned char *in, size_t inLen);
/* Starts a SHA-256 digest in the caller's context. */
QOR_API int NC_E_SHA256_Init(NC_SHA256_CTX *ctx);
/* Absorbs |inLen| bytes of |in|. */
QOR_API int NC_E_SHA256_Update(NC_SHA256_CTX *ctx, const unsigned char *in, size_t inLen);
/* Writes the 32-byte digest into |out| and wipes the context. */
QOR_API int NC_E_SHA256_Final(NC_SHA256_CTX *ctx, unsigned char *out);

/* SHA-256 of |in| into the caller's 32-byte |out| (same digest as NC_E_SHA256). */
QOR_API int NC_NewSha2(unsigned char *out, const unsigned char *in, size_t inLen);
/* Starts a SHA-256 digest in the caller's context. */
QOR_API int NC_NewSha2_Init(NC_NEWSHA2_CTX *ctx);
/* Absorbs |inLen| bytes of |in|. */
QOR_API int NC_NewSha2_Update(NC_NEWSHA2_CTX *ctx, const unsigned char *in, size_t inLen);
/* Writes the 32-byte digest into |out| and wipes the context. */
QOR_API int NC_NewSha2_Final(NC_NEWSHA2_CTX *ctx, unsigned char *out);

/* SHA-384 of |in| into the caller's 48-byte |out|. */
QOR_API int NC_E_SHA384(unsigned char *out, const unsigned char *in, size_t inLen);
/* Starts a SHA-384 digest in the caller's context. */
QOR_API int NC_E_SHA384_Init(NC_SHA384_CTX *ctx);
/* Absorbs |inLen| bytes of |in|. */
QOR_API int NC_E_SHA384_Update(NC_SHA384_CTX *ctx, const unsigned char *in, size_t inLen);
/* Writes the 48-byte digest into |out| and wipes the context. */
QOR_API int NC_E_SHA384_Final(NC_SHA384_CTX *ctx, unsigned char *out);

/* SHA-512 of |in| into the caller's 64-byte |out|. */
QOR_API int NC_E_SHA512(unsigned char *out, const unsigned char *in, size_t inLen);
/* Starts a SHA-512 digest in the caller's context. */
QOR_API int NC_E_SHA512_Init(NC_SHA512_CTX *ctx);
/* Absorbs |inLen| bytes of |in|. */
QOR_API int NC_E_SHA512_Update(NC_SHA512_CTX *ctx, const unsigned char *in, size_t inLen);
/* Writes the 64-byte digest into |out| and wipes the context. */
QOR_API int NC_E_SHA512_Final(NC_SHA512_CTX *ctx, unsigned char *out);

/* One SHA-1 compression of the 64-byte |block| starting from the standard
 * initial value, no padding; the five result words go into the caller's
 * 20-byte |out| in big-endian order. */
QOR_API int NC_E_MySHA1(unsigned char *out, const unsigned char *block);
/* The ANSI X9.62 / FIPS 186 function G(t, c) with t the standard SHA-1
 * initial value: |c| (cLen 20 to 64 bytes, that is 160 to 512 bits) is
 * padded with zero bytes to 64 and compressed by NC_E_MySHA1; the 20-byte
 * result goes into the caller's |out|. Returns -1 for a length out of range. */
QOR_API int NC_E_X9_62_G(unsigned char *out, const unsigned char *c, size_t cLen);

QOR_END_DECLS

#endif
