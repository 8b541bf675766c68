/* The error record shared by the whole library and its readers. */
#ifndef QOR_ERROR_H
#define QOR_ERROR_H

#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

#define QOR_ERROR_MESSAGE_SIZE 1024

/* One error record. Errors always land in the last record of a chain. */
typedef struct ErrorInfo {
  int32_t code;
  char message[QOR_ERROR_MESSAGE_SIZE];
  struct ErrorInfo *next;
} ErrorInfo;

/* Code of the process-wide last error (0: none). */
QOR_API int QOR_GetLastErrorCode(void);
/* Message of the last error. The pointer is valid for the life of the process;
 * its text changes with the next error. */
QOR_API char *QOR_GetLastErrorMsg(void);
/* Copies the last message into |buffer| (at least 1024 bytes) and returns 0;
 * writes "OK" and returns -1 when there is no message. */
QOR_API int QOR_GetLastErrorMsgEx(char *buffer);
/* Stores |code| and, when |text| is non-empty, up to 1023 characters of it. */
QOR_API void QOR_ERR_Set(int code, const char *text);

QOR_END_DECLS

#endif
