/* The LSH-512 hash family (KS X 3262): LSH-512-n for digests of 1 to 64 bytes.
 *
 * The algorithm type names the digest: 0x10000 in bits 16..19 and the digest
 * length in bytes (1..64) in the low 16 bits; every other bit is zero.
 * LSH512_TYPE_224 .. LSH512_TYPE_512 start from the standard's fixed initial
 * values; any other length derives its initial value the standard's way (the
 * compression of an all-zero block from a chaining value holding 64 and the
 * digest length in bits), so it is not a truncation of LSH-512-512.
 *
 * All state lives in the caller's LSH512_CTX; any number of threads may hash at
 * once with their own contexts. Streaming: lsh512_init, lsh512_update any
 * number of times, lsh512_final (which wipes the context).
 *
 * Lengths are in BITS. Any number of whole-byte pieces may be absorbed; a
 * length that is not a multiple of 8 takes the top (bitLen % 8) bits of the
 * last byte (the first bits of the message in big-endian bit order) and ends
 * the message: a later non-empty update returns LSH512_ERR_DATA_BITLEN.
 *
 * Results: 0 on success, else one of the LSH512_ERR_* codes; a failing call
 * writes nothing. */
#ifndef QOR_LSH_H
#define QOR_LSH_H

#include <stddef.h>
#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

#define LSH512_TYPE_224 0x1001Cu
#define LSH512_TYPE_256 0x10020u
#define LSH512_TYPE_384 0x10030u
#define LSH512_TYPE_512 0x10040u

#define LSH512_BLOCK_BYTES 256
#define LSH512_MAX_DIGEST_BYTES 64

#define LSH512_ERR_NULL_PTR 9217     /* NULL context, or NULL buffer with a length */
#define LSH512_ERR_ALG_TYPE 9218     /* algType is not an LSH-512 type of 1..64 bytes */
#define LSH512_ERR_DATA_BITLEN 9219  /* data after a partial final byte */
#define LSH512_ERR_STATE 9220        /* context not initialised, or already finished */

/* Streaming LSH-512 state. Callers treat the fields as opaque. */
typedef struct LSH512_CTX {
  uint32_t algType;                          /* 0 when not in use */
  uint32_t remainBits;                       /* message bits waiting in block */
  uint64_t cv[16];                           /* chaining value: left then right half */
  uint8_t block[LSH512_BLOCK_BYTES];         /* the incomplete message block */
} LSH512_CTX;

/* Starts an LSH-512-n digest in the caller's |state|. Returns 0, 9217 for a
 * NULL |state| or 9218 for an invalid |algType| (|state| untouched). */
QOR_API int lsh512_init(LSH512_CTX *state, uint32_t algType);
/* Absorbs the first |bitLen| bits of |data| (NULL allowed when bitLen is 0). */
QOR_API int lsh512_update(LSH512_CTX *state, const uint8_t *data, size_t bitLen);
/* Writes the (algType & 0xFFFF)-byte digest into the caller's |out| and wipes
 * |state|. */
QOR_API int lsh512_final(LSH512_CTX *state, uint8_t *out);
/* One-shot LSH-512-n of the first |bitLen| bits of |data| into the caller's
 * |out| ((algType & 0xFFFF) bytes). Returns 9218 for an invalid |algType| and
 * 9217 for a NULL |out| or a NULL |data| with a non-zero |bitLen|. */
QOR_API int lsh512_digest(uint32_t algType, const uint8_t *data, size_t bitLen, uint8_t *out);

QOR_END_DECLS

#endif
