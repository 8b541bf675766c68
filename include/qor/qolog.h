/* The API log: the lwl line writer and the process-wide QOLog front end. */
#ifndef QOR_QOLOG_H
#define QOR_QOLOG_H

#include <stdio.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

/* lwl_set_attributes attribute numbers. */
#define LWL_ATTR_LEVEL 1
#define LWL_ATTR_IDENT 2
#define LWL_ATTR_FLAGS 3
#define LWL_ATTR_STREAM 4
#define LWL_ATTR_HOSTNAME 13
#define LWL_ATTR_MAXSIZE_MB 14

/* Line-layout flags. */
#define LWL_FLAG_API 0x001
#define LWL_FLAG_PID 0x002
#define LWL_FLAG_DATE 0x004
#define LWL_FLAG_TIME 0x008
#define LWL_FLAG_HOSTIP 0x010
#define LWL_FLAG_HOSTNAME 0x020
#define LWL_FLAG_LEVEL 0x040
#define LWL_FLAG_IDENT 0x080
#define LWL_FLAG_LOCALE 0x200
#define LWL_FLAG_AUDIT 0x400

typedef struct lwl_s lwl_t;

/* New handle with level 7, no flags, writing to stdout; release with lwl_free. */
QOR_API lwl_t *lwl_alloc(void);
/* Releases the handle and its texts; the stream stays open. */
QOR_API void lwl_free(lwl_t *handle);
/* Pairs (attribute, value) ending with 0. Returns 0, or -1 at the first bad pair. */
QOR_API int lwl_set_attributes(lwl_t *handle, ...);
/* Writes one entry when |level| is at most the handle's level. */
QOR_API void lwl_write_log(lwl_t *handle, unsigned int level, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
QOR_API unsigned int lwl_get_log_level(lwl_t *handle);
/* The stream the handle writes to (not owned by the caller). */
QOR_API FILE *lwl_get_default_log_file(lwl_t *handle);
/* The handle's host name (not owned by the caller), or NULL. */
QOR_API const char *lwl_get_hostname(lwl_t *handle);
/* Last 15 characters of |text|, zero-padded on the left, into |out| (16 bytes). */
QOR_API int make_unique(const char *text, char *out);

/* Opens |path|.YYYY-MM-DD for the configured level (1 INFO, 2 DEBUG, 3 ERROR,
 * 4 NONE): 0 on success, 1 on failure. */
QOR_API int QOLog_Init(const char *path, int configuredLevel);
/* Releases the handle and closes the log stream. Safe when nothing is open. */
QOR_API void QOLog_Uninit(void);
/* 1 when an entry of |level| would be written, else 0. */
QOR_API int QOLog_IsEnable(int level);
QOR_API lwl_t *QOLog_GetHandle(void);
/* Path of the file open now, or "" (not owned by the caller). */
QOR_API const char *QOLog_GetPath(void);

QOR_END_DECLS

#endif
