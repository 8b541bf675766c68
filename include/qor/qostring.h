/* Bounded string and memory functions, counted-text helpers and text
 * encodings.
 *
 * The x_ functions refuse rather than truncate: every size and count must be
 * between 1 and 4294967295; a refused call leaves the destination untouched
 * and returns NULL (pointer results) or 0 (numbers). Callers check for that. */
#ifndef QOR_QOSTRING_H
#define QOR_QOSTRING_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

/* Counted text: |length| bytes at |data|, zero-terminated. */
typedef struct UString {
  uint32_t length;
  char *data;
} UString;

/* Token list made by QOString_Tokenizer. An empty token has length 0 and a
 * NULL data pointer. */
typedef struct QOTokenList {
  int32_t count;
  UString *tokens;
} QOTokenList;

/* ---- bounded functions ---- */

/* Length in characters; 0 for NULL. */
QOR_API size_t x_strlen(const char *s);
/* Length in wide (32-bit) characters; 0 for NULL. */
QOR_API size_t x_wcslen(const wchar_t *s);
/* Copies |src| with its terminator into |dst| (|dstSize| bytes): |dst|, or
 * NULL when |src| is empty or does not fit. */
QOR_API char *x_strcpy(char *dst, size_t dstSize, const char *src);
/* Wide form of x_strcpy; |dstSize| in characters. */
QOR_API wchar_t *x_wcscpy(wchar_t *dst, size_t dstSize, const wchar_t *src);
/* Copies at most |n| characters, zero-filling the rest of the |n| positions,
 * and writes a terminator at position |n|: |dst|, or NULL when |n| is out of
 * range or |n| + 1 > |dstSize|. */
QOR_API char *x_strncpy(char *dst, size_t dstSize, const char *src, size_t n);
/* Wide form of x_strncpy; sizes in characters. */
QOR_API wchar_t *x_wcsncpy(wchar_t *dst, size_t dstSize, const wchar_t *src, size_t n);
/* Appends |src|: |dst|, or NULL when |src| is empty or the result does not fit. */
QOR_API char *x_strcat(char *dst, size_t dstSize, const char *src);
/* Appends at most |n| characters of |src|: |dst|, or NULL when |n| is out of
 * range or strlen(dst) + |n| + 1 > |dstSize|. */
QOR_API char *x_strncat(char *dst, size_t dstSize, const char *src, size_t n);
/* Copies |n| bytes (overlap-safe): |dst|, or NULL when |n| is 0, out of range
 * or larger than |dstSize|. */
QOR_API void *x_memcpy(void *dst, size_t dstSize, const void *src, size_t n);
/* Copies |n| bytes and a zero byte after them: |dst|, or NULL when |n| + 1 >
 * |dstSize| (or a size is out of range). */
QOR_API void *x_memcpy_s(void *dst, size_t dstSize, const void *src, size_t n);
/* malloc of 1 to 4294967295 bytes, else NULL. Caller frees with free(). */
QOR_API void *x_malloc(size_t size);
/* Zeroed calloc when |count| * |size| is 1 to 4294967295, else NULL. Caller
 * frees with free(). */
QOR_API void *x_calloc(size_t count, size_t size);
/* Decimal value of the first |n| characters of |text|; 0 for NULL or |n| out
 * of range. */
QOR_API int32_t x_atoi(const char *text, size_t n);
/* Writes |value| in |base| (2 to 36, lower-case letters) into |out|: a minus
 * sign only for negative base-10 values, other bases print the bits unsigned.
 * |out| needs room for 34 characters (66 for the 64-bit forms). Returns |out|
 * (an empty text for a base outside 2 to 36). */
QOR_API char *x_itoa(int32_t value, char *out, int base);
QOR_API char *x_ltoa(int64_t value, char *out, int base);
QOR_API char *x_ultoa(uint64_t value, char *out, int base);

/* ---- counted text and QOString functions ---- */

/* Frees |s->data| (may be NULL), clears the pointer and sets the length to 0. */
QOR_API void FreeUString(UString *s);
/* Splits |text| at every |delimiter| into |*tokens| (release with
 * QOString_FreeToken): 1 ok, 0 for NULL/empty text or no memory. */
QOR_API int QOString_Tokenizer(QOTokenList *tokens, const char *text, char delimiter);
/* Releases every token and the array; count becomes 0. */
QOR_API void QOString_FreeToken(QOTokenList *tokens);
/* Occurrences of |c| in |text| (0 for NULL). */
QOR_API int QOString_CountCharacter(const char *text, char c);
/* Removes trailing whitespace (space, tab, LF, CR) in place: new length, -1
 * for NULL. */
QOR_API int QOString_RTrim(UString *counted);
/* Removes leading and trailing whitespace in place within |size| bytes: new
 * length, -1 for NULL. */
QOR_API int QOString_Trim(char *text, size_t size);
/* In-place case conversion; returns |text|. */
QOR_API char *QOString_Strlwr(char *text);
QOR_API char *QOString_Strupr(char *text);
/* Index of the last character when it is |c|, else -1. */
QOR_API int QOString_EndWith(const char *text, char c);
/* 1 when |text| begins with |prefix|, else 0. */
QOR_API int QOString_StartWith(const char *text, const char *prefix);
/* New text in |*out| with every occurrence of |oldText| replaced by |newText|
 * (caller frees): 0 ok, -1 for NULL arguments or no memory. */
QOR_API int QOString_ReplaceAll(const char *text, const char *oldText, const char *newText,
                                char **out);
/* The 64-bit number at the start of |text|; 0 when there is none. */
QOR_API int64_t QOString_strtoll(const char *text);
/* Unbounded append; returns a pointer to the new terminator. */
QOR_API char *QOString_Strcat(char *dst, const char *src);
/* Cuts a key name a.b.c.d to its object name a.b.c in place: 0 ok, -1 when
 * the text is empty or has not exactly three dots. */
QOR_API int QOString_KeyName2ObjectName(UString *counted);
/* Object name of |keyName| into a new |*objectName| (release with
 * FreeUString): 0 ok, -1 for an empty key name or no memory. */
QOR_API int QOString_CreateObjectNameFromKeyName(const UString *keyName, UString *objectName);

/* ---- encodings ---- */

/* 1 when |length| bytes are well-formed UTF-8, else 0. */
QOR_API int isUTF8(const char *bytes, int length);
/* UTF-16 units to UTF-8 into |out| (room for 3 * |count| + 1): bytes written
 * (terminator not counted). */
QOR_API int UCS2toUTF8(const uint16_t *units, int count, char *out);
/* UTF-8 bytes to UTF-16 units into |out| (room for |length| units): units
 * written. No validation. */
QOR_API int UTF8toUCS2(const char *bytes, int length, uint16_t *out);
/* Multibyte text to a new wide text (caller frees) under ULVEX_LOCALE or
 * |defaultLocale|; the environment locale name is saved in |savedLocale|
 * (20 bytes) and the caller restores it. NULL when it cannot be converted. */
QOR_API wchar_t *m2w(const char *text, int length, const char *defaultLocale, char *savedLocale);
/* Wide text to a new multibyte text under the current locale (caller frees);
 * NULL when it cannot be converted. */
QOR_API char *w2m(const wchar_t *wide, int length);
/* Bytes taken by the first / last |n| characters of double-byte text: -1 for
 * NULL or |length| < 1, 0 for |n| = 0. */
QOR_API int Strlen_partial_before(const char *text, int length, int n);
QOR_API int Strlen_partial_before_2(const char *text, int length, int n);
QOR_API int Strlen_partial_after(const char *text, int length, int n);
QOR_API int Strlen_partial_after_2(const char *text, int length, int n);

QOR_END_DECLS

#endif
