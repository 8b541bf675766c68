/* SHA3-224/256/384/512 and SHAKE128/256 (FIPS 202) over a caller-owned
 * Keccak context.
 *
 * Nothing is global: every digest keeps its rate, capacity, domain suffix and
 * 200-byte Keccak state in the caller's SHA3_CTX, so any number of threads may
 * hash at once with their own contexts.
 * Streaming: sha3_init, then sha3_update any number of times with pieces of any
 * size (empty pieces included), then sha3_final, which squeezes the requested
 * bytes and wipes the context; call sha3_init again before reusing it.
 *
 * Every function returns 0 on success and 1 on a refused call (a NULL context,
 * a NULL buffer with a non-zero length, an unsupported size, or a context that
 * is not initialised); a refused call writes nothing and leaves the context as
 * it was. */
#ifndef QOR_SHA3_H
#define QOR_SHA3_H

#include <stddef.h>
#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

/* Keccak-f[1600] sponge state. Callers treat the fields as opaque. */
typedef struct SHA3_CTX {
  uint64_t state[25];  /* the 200-byte state, lane x + 5y at index x + 5y */
  uint32_t rate;       /* bits: 1600 - capacity */
  uint32_t capacity;   /* bits: twice the security size */
  uint32_t pos;        /* bytes absorbed into the current rate block */
  uint8_t suffix;      /* domain bits: 0x06 for SHA-3, 0x1F for SHAKE */
} SHA3_CTX;

/* Starts a digest in the caller's |ctx|: capacity = 2 * bits, rate = 1600 -
 * capacity. |shake| zero: SHA-3 with bits 224, 256, 384 or 512; non-zero:
 * SHAKE with bits 128 or 256. Returns 0, or 1 for any other size. */
QOR_API int sha3_init(SHA3_CTX *ctx, int bits, int shake);
/* Absorbs |len| bytes of |in| (NULL allowed when |len| is 0). */
QOR_API int sha3_update(SHA3_CTX *ctx, const uint8_t *in, size_t len);
/* Pads, then squeezes exactly |outLen| bytes (any length, also beyond one rate
 * block) into the caller's |out| and wipes |ctx|. For SHA-3 the standard
 * digest is the first bits/8 bytes. */
QOR_API int sha3_final(SHA3_CTX *ctx, uint8_t *out, size_t outLen);
/* One-shot digest of |in| into the caller's |out|. SHAKE (|shake| non-zero):
 * bits 128 or 256 and any |outLen|; SHA-3: bits 224, 256, 384 or 512 with
 * |outLen| equal to bits / 8. Anything else returns 1 and writes nothing. */
QOR_API int sha3_hash(uint8_t *out, size_t outLen, const uint8_t *in, size_t inLen, int bits,
                      int shake);

QOR_END_DECLS

#endif
