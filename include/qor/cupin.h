/* Format-preserving encryption of decimal digit strings (algorithm code 23).
 *
 * Digits are enciphered with FF1 (radix 10, AES-128) in segments of at most
 * 16 digits; each enciphered digit is then replaced by an upper-case letter
 * chosen by the digit and its position, so the stored form has the length of
 * the value and holds only A..Z. Decryption maps the letters back and inverts
 * FF1.
 *
 * Thread safety: a DigitContext is read-only after initRadix10, so any number
 * of threads may use one context at once; every operation keeps its own work
 * areas. This header is valid C and C++. */
#ifndef QOR_CUPIN_H
#define QOR_CUPIN_H

#include <stdint.h>

#include "qor/data_buffer.h"
#include "qor/export.h"

QOR_BEGIN_DECLS

/* Longest digit string the digit functions accept. */
#define PIN_MAX_DIGITS 255
/* Longest FF1 segment: 10^16 and every round value must fit 64 bits. */
#define PIN_MAX_SEGMENT 16
/* Longest tweak a context can hold. */
#define PIN_MAX_TWEAK 10

/* Key, tweak and rounds of one key version, plus the AES-128 key schedule
 * expanded once at creation. Read-only after initRadix10; released (and
 * wiped) with removeRadix10. */
typedef struct DigitContext {
  unsigned char key[16];
  int32_t keyLen;               /* always 16 */
  unsigned char tweak[12];      /* tweakLen bytes used, the rest zero */
  int32_t tweakLen;
  int32_t rounds;
  int32_t aesRounds;            /* 10 for AES-128 */
  uint32_t roundKeys[60];       /* encryption schedule for rijndaelEncrypt */
} DigitContext;

/* Working buffer of the digit functions: |count| characters in |data|. */
typedef struct CharBlock {
  char data[256];
  uint32_t count;
} CharBlock;

/* 0, then 10^1 .. 10^10. */
QOR_API extern const uint64_t Radix[11];
/* Digit d at position p becomes MapLarge[p % 18][d] (upper-case letters,
 * distinct within a row). */
QOR_API extern const char MapLarge[18][10];
/* Inverse of MapLarge by row and letter - 'A': the digit character, or '-'. */
QOR_API extern const char RMapLarge[18][26];
/* As MapLarge over both cases (mode 1); no policy uses it. */
QOR_API extern const char MapLargeSmall[18][10];
/* Inverse of MapLargeSmall: columns 'A'..'Z' then 'a'..'z'; '-' where unused. */
QOR_API extern const char RMapLargeSmall[18][52];
/* Default tweak: 10 ASCII digits (zero-terminated). */
QOR_API extern const char _internal_tweak[11];

/* New context for |key| (|keyLen| must be 16) and |tweak| (0..10 bytes; NULL
 * selects _internal_tweak with length 10, a non-NULL tweak of length 0 is the
 * empty tweak). |rounds| below 4 become 10. Returns NULL when refused;
 * release with removeRadix10. */
QOR_API DigitContext *initRadix10(int rounds, const unsigned char *key, int keyLen,
                                  const unsigned char *tweak, int tweakLen);
/* Wipes and frees *|ctx| and sets it to NULL (NULL or *NULL is a no-op). */
QOR_API void removeRadix10(DigitContext **ctx);

/* Encrypts the digits of |in| into |out|: 0 with a new malloc'd, zero-terminated
 * letter string of in->length bytes, or -1 with a malloc'd copy of the input
 * (non-digits, fewer than 2 or more than 255 digits, NULL context). |unused|
 * is ignored. The caller frees out->data. */
QOR_API int doPIN10EncryptEx(const DataBuffer *in, const void *ctx, int unused, DataBuffer *out);
/* Inverse of doPIN10EncryptEx: 0 with the digits, or -1 with a copy of the
 * input (not 2..255 upper-case letters, a letter with no digit at its
 * position, NULL context). The caller frees out->data. */
QOR_API int doPIN10Decrypt(const DataBuffer *in, const void *ctx, int unused, DataBuffer *out);

/* Enciphers |len| digits segment by segment into |out|: 0, -1 for a length
 * below 2 (or a bad argument or non-digit), -2 for a length above 255. */
QOR_API int encryptRadix10(const DigitContext *ctx, const char *digits, int len, CharBlock *out);
/* Inverse of encryptRadix10, same results. */
QOR_API int decryptRadix10(const DigitContext *ctx, const char *digits, int len, CharBlock *out);
/* FF1 encryption of one segment of 2..16 digits into |out|: 0 or -1. */
QOR_API int encryptSegment(const DigitContext *ctx, const char *digits, int len, CharBlock *out);
/* FF1 decryption of one segment of 2..16 digits into |out|: 0 or -1. */
QOR_API int decryptSegment(const DigitContext *ctx, const char *digits, int len, CharBlock *out);
/* FF1 round function for segment length |n| (2..16) and round |i| with the
 * half |B|, under |ciphP| = AES(P) of that segment: the round value reduced
 * modulo 10^m (m = n/2 for even i, n - n/2 for odd i). 0 for bad arguments. */
QOR_API uint64_t FK(const DigitContext *ctx, const unsigned char ciphP[16], int n, int i,
                    const CharBlock *B);

/* Position-dependent digit -> letter substitution; mode 0 MapLarge, mode 1
 * MapLargeSmall. Returns 0, or -1 for a non-digit or an unknown mode. */
QOR_API int mapMap(int mode, const CharBlock *src, CharBlock *dst);
/* Letter -> digit inverse of mapMap: 0, or -1 when a character has no digit
 * at its position or the mode is unknown. */
QOR_API int reverseMap(int mode, const CharBlock *src, CharBlock *dst);

/* 1 when every byte is '0'..'9' (a length below 1 counts as numeric), else 0. */
QOR_API int isNumericString(const char *text, int len);
/* 1 when |len| is at least 2 and every byte is 'A'..'Z', else 0. */
QOR_API int isUppercase(const char *text, int len);
/* Value of the block's digit characters, most significant first (modulo 2^64). */
QOR_API uint64_t toNumRadix10(const CharBlock *block);
/* |value| with its 8 bytes in big-endian order in memory. */
QOR_API uint64_t toBig(uint64_t value);
/* Appends |src| to |dst| when the total stays below 256; else does nothing. */
QOR_API void plusBlock(CharBlock *dst, const CharBlock *src);
/* Value of a base-62 string (0-9, A-Z = 10..35, a-z = 36..61; any other
 * character counts as 0), modulo 2^64. */
QOR_API uint64_t toNumRadix62(const CharBlock *block);
/* Prints the block's characters, each followed by a blank, then a newline,
 * to standard output (diagnostics). */
QOR_API void printBlock(const CharBlock *block);

QOR_END_DECLS

#endif
