/* The audit files: one series per process under <agent home>/audit, records
 * appended back to back, a new file of the series at every 2 MiB. */
#ifndef QOR_QOAUDIT_H
#define QOR_QOAUDIT_H

#include <stdint.h>

#include "qor/export.h"
#include "qor/qolog.h"

QOR_BEGIN_DECLS

/* Size of the buffer build_name writes; a path that needs all of it, terminator
 * included, or more is refused. */
#define QOAUDIT_PATH_MAX 1024

/* Opens the first audit file under |agentHome|/audit. 0 when the file is open
 * (and also when it could not be opened after the directory checks passed: the
 * writer is then torn down again), -1 for an empty home or a writer that already
 * exists, -2 when the directory cannot be created, -3 when it is not writable. */
QOR_API int QOAudit_Init(const char *agentHome);
/* Closes the audit file and releases the writer. Safe when nothing is open. */
QOR_API void QOAudit_Uninit(void);
/* Appends one record "<text>,<ms>,<ns>:" when |level| is at most the audit
 * logger's level (6). Does nothing for any handle but the audit logger. */
QOR_API void lwl_audit_write(lwl_t *logger, unsigned int level, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
/* 1 when the audit logger and its stream exist, else 0. */
QOR_API int QOLog_Audit_IsEnable(void);
/* The audit logger (not owned by the caller), or NULL. */
QOR_API lwl_t *QOLog_Audit_GetHandle(void);
/* Path of the audit file open now, or "". The text belongs to the calling
 * thread and is overwritten by its next call. */
QOR_API const char *QOAudit_GetPath(void);
/* Writes "<directory>/audit_p<pid>_t<stamp>_r<index>.dat" into |pathOut|, which
 * holds QOAUDIT_PATH_MAX bytes. 0, or -1 when an argument is missing or the path
 * does not fit. */
QOR_API int build_name(const char *directory, const char *stamp, unsigned long processId,
                       unsigned long rotationIndex, char *pathOut);

/* Writes the audit record of one outcome when its switch is 1 and an audit file
 * is open: |operation| 1 encrypt, 2 decrypt; |outcome| 1 success, 0 failure;
 * |tag| names a failure (NULL: none). |encryptFlags| and |decryptFlags| each
 * point at two switches (success, failure), or are NULL. */
QOR_API void Audit_Writer(const char *keyName, int operation, int outcome, const char *tag,
                          const int32_t *encryptFlags, const int32_t *decryptFlags);

QOR_END_DECLS

#endif
