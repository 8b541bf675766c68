/* Operating-system facing helpers: the library's own file, the system,
 * checks, key names, hexadecimal text, file copy and the small file
 * readers the configuration uses. */
#ifndef QOR_QOUTIL_H
#define QOR_QOUTIL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/utsname.h>
#include <time.h>

#include "qor/export.h"
#include "qor/qostring.h"

QOR_BEGIN_DECLS

/* Operating-system codes of QOUtil_GetUnixSysName. */
#define QOUTIL_OS_LINUX 0
#define QOUTIL_OS_SUNOS 1
#define QOUTIL_OS_HP_UX 2
#define QOUTIL_OS_AIX 3
#define QOUTIL_OS_OTHER 4

/* What QOUtil_Copy does when the target exists (the policy's targetExist codes). */
#define QOUTIL_TARGET_BYPASS 1
#define QOUTIL_TARGET_OVERWRITE 2
#define QOUTIL_TARGET_RENAME 3
#define QOUTIL_TARGET_REFUSE 4

/* ---- Module and host ---------------------------------------------------- */

/* Full path of the loaded file (library or program) holding |address| (this
 * function when NULL) into |out| (|size| bytes): 0, or -1 when it does not fit
 * or cannot be found. */
QOR_API int QOUtil_GetModulePath(const void *address, char *out, int size);
/* The same path without its last "/name" part: 0 or -1. */
QOR_API int QOUtil_GetModulePathNameOnly(const void *address, char *out, int size);
/* Only the file name of that path: 0 or -1. */
QOR_API int QOUtil_GetModuleFileNameOnly(const void *address, char *out, int size);
/* Fills |buffer| with the kernel's system name record: 0 or -1. */
QOR_API int QOUtil_GetSystemInfo(struct utsname *buffer);
/* Online processors, at least 1. */
QOR_API int QOUtil_GetNumberOfCPU(void);
/* One of the QOUTIL_OS_ codes. */
QOR_API int QOUtil_GetUnixSysName(void);
/* Always 1. */
QOR_API int QOUtil_isLittleEndian(void);
/* Does nothing; returns 0. */
QOR_API int QOUtil_GetMacAddress(void);

/* ---- Checks ------------------------------------------------------------- */

/* 1 when |p| is NULL / not NULL, else 0. */
QOR_API int QOUtil_isNull(const void *p);
QOR_API int QOUtil_isNotNull(const void *p);
/* 1 when |text| is NULL or empty, else 0. */
QOR_API int QOUtil_isNullOrEmpty(const char *text);
QOR_API int QOUtil_isNullString(const char *text);
/* 1 when every character is a decimal digit (also for ""), 0 otherwise or NULL. */
QOR_API int QOUtil_isDigit(const char *text);
/* 1 for 1 to 65534, else 0. */
QOR_API int QOUtil_IsValidPortNumber(int port);
/* 1 for a dotted IPv4 address of four numbers 0 to 255, else 0. */
QOR_API int QOUtil_IsValidIPAddress(const char *text);
/* 1 when |text| is exactly 12 hexadecimal digits, else 0. */
QOR_API int QOUtil_IsInvalidMacAddress(const char *text);
/* 1 when |path| has at least 2 characters and does not start with "/". */
QOR_API int QOUtil_IsRelativePath(const char *path);
/* 0 when |path| (one trailing "/" ignored) is a directory itself (not a link
 * to one), else -1. */
QOR_API int QOUtil_IsDirectory(const char *path);
/* Modification time of |path| (the link itself), 0 when absent or not found. */
QOR_API time_t QOUtil_GetLastModifiedFileTime(const char *path);
/* 1 when now is at or after |start| + |minutes| minutes, else 0. */
QOR_API int QOUtil_IsExpired(time_t start, int minutes);

/* ---- Time and release --------------------------------------------------- */

/* Wall-clock time in milliseconds. */
QOR_API int64_t QOUtil_currentTimeMillis(void);
/* free(p). */
QOR_API void QOUtil_Free(void *p);
/* Appends a time-stamped line with |text| ("null data" for NULL) to |path|: 0 or -1. */
QOR_API int QOUtil_TestLog(const char *path, const char *text);

/* ---- Key names ("part.part[.part]") --------------------------------------- */

/* a "." b ["." c] into |out| (new buffer, caller frees out->data); returns
 * out's length, or a's length with an empty |out| when a or b is empty. */
QOR_API int QOUtil_GenKeyNameEx2(UString a, UString b, UString c, UString *out);
/* a "." b "." c ["." d] into |out| (new buffer, caller frees); returns
 * out->data, or NULL with out's length 0 when a, b or c is empty. */
QOR_API char *QOUtil_GenKeyNameEx3(const char *a, int aLength, const char *b, int bLength,
                                   const char *c, int cLength, const char *d, int dLength,
                                   UString *out);
/* a "." b ["." c] (c optional) as a new counted text (caller frees .data);
 * {0, NULL} when a or b is empty or memory runs out. */
QOR_API UString QOUtil_GenKeyNameEx(const UString *a, const UString *b, const UString *c);
/* QOUtil_GenKeyNameEx over zero-terminated texts (NULL counts as empty). */
QOR_API UString QOUtil_genKeyName(const char *a, const char *b, const char *c);

/* ---- Hexadecimal text --------------------------------------------------- */

/* Upper-case hexadecimal text of |in| into |out| (new buffer, caller frees
 * out->data): 0, or -1 for NULL arguments or no memory. */
QOR_API int QOUtil_byte2HexaString(const UString *in, UString *out);
/* The same with each half-byte written as its value + 33 ('!' to '0'). */
QOR_API int QOUtil_byte2EncString(const UString *in, UString *out);
/* Hex dump of |length| bytes to stdout (|toStdout| non-zero) or appended to
 * the file "./qor_bin2display.out". */
QOR_API void bin2display(const char *title, const unsigned char *bytes, int length, int toStdout);
/* The same; the file is "./out". */
QOR_API void NC_bin2display(const char *title, const unsigned char *bytes, int length,
                            int toStdout);
/* The dump without title as a new text in |out| (caller frees out->data): 0 or -1. */
QOR_API int QOUtil_bin2display(const UString *in, UString *out);

/* ---- File copy ---------------------------------------------------------- */

/* Copies |source| to |target| honouring |mode| (QOUTIL_TARGET_*) when the
 * target exists: 1 done, 0 failed (a partial target is removed). */
QOR_API int QOUtil_Copy(const char *source, const char *target, int mode);

/* ---- File readers ------------------------------------------------------- */

/* Called for each line: user data, line capacity (1024), the line, the key. */
typedef int (*FileStreamLineCallbackEx)(void *userData, int capacity, char *line,
                                        const char *key);
/* Called for each line: context and the line. */
typedef int (*FileStreamLineCallback)(void *context, char *line);

/* fopen(|path|, |mode| or "r"); NULL on failure. The caller fcloses it. */
QOR_API FILE *FileStream_Open(const char *path, const char *mode);
/* Calls |callback| for each line (at most 1023 characters, CR LF read as LF):
 * 0 when the file was read, -1 when |callback| is NULL or the file cannot be opened. */
QOR_API int FileStreamReader_ReadLineEx(const char *path, FileStreamLineCallbackEx callback,
                                        void *userData, const char *key);
/* The same without CR LF handling. */
QOR_API int FileStreamReader_ReadLine(const char *path, FileStreamLineCallback callback,
                                      void *context);
/* The whole file in a new buffer (*data, caller frees; exactly *length bytes,
 * no terminator; a 1-byte buffer for an empty file): 0 or -1. */
QOR_API int FileStreamReader_Read(const char *path, const char *mode, unsigned char **data,
                                  size_t *length);

QOR_END_DECLS

#endif
