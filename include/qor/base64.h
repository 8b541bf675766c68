/* Base64 (RFC 4648 alphabet, "=" padding, no line breaks). The strict pair
 * takes a prefix flag: 0 writes / skips the two-character prefix "$.". */
#ifndef QOR_BASE64_H
#define QOR_BASE64_H

#include "qor/export.h"

QOR_BEGIN_DECLS

/* Encodes 1 to 3 bytes into 4 characters (padded with "="). */
QOR_API void QOR_base64_encode_atom(const unsigned char *in, int n, char *out);
/* Decodes 4 characters: number of bytes (1 to 3), 0 for an invalid group. */
QOR_API int QOR_base64_decode_atom(const char *in, unsigned char *out);
/* New zero-terminated text in |*text| (caller frees): its length, -1 no memory. */
QOR_API int QOR_Base64Encode(const unsigned char *in, int length, char **text, int prefixFlag);
/* Text into the caller's |out| (room for 4 * ceil(length / 3) + 1), never a
 * prefix: its length; -1 for an absent |out| (or |in| with a length). */
QOR_API int QOR_Base64Encode_Buffer(const unsigned char *in, int length, char *out);
/* New buffer of |length| bytes in |*bytes| (caller frees), not terminated:
 * the number of bytes; -1 for an invalid group (a cut-short last group
 * included) or no memory; 0 for no input. |*bytes| is NULL unless the result
 * is positive. With |prefixFlag| 0 the first two characters are skipped. */
QOR_API int QOR_Base64Decode(const char *text, int length, unsigned char **bytes, int prefixFlag);
/* Bytes into the caller's buffer, zero-filled after them: their number, 0
 * when they would not fit (|outSize| must exceed the decoded size) or the
 * text is shorter than 4, -1 for an invalid group. */
QOR_API int QOR_Base64Decode_Buffer(const char *text, int length, unsigned char *out, int outSize);
/* Tolerant pair: new zero-terminated buffers (caller frees); -1 no memory.
 * Encoding no input gives "AAAA", decoding no input three zero bytes; the
 * decoder stops at "=" and never fails: characters outside the alphabet take
 * a position without changing its bits. */
QOR_API int QOR_Base64Encod(const unsigned char *in, int length, char **text);
QOR_API int QOR_Base64Decod(const char *text, int length, unsigned char **bytes);

QOR_END_DECLS

#endif
