/* QOR API: column-value, large-object and file encryption under centrally
 * managed policies. This header is valid C and C++. Buffers the library
 * returns are heap blocks the caller releases with free(). */
#ifndef QORAPI_H
#define QORAPI_H

#include <stdint.h>

#include "qor/export.h"
#include "qor/error.h"
#include "qor/base64.h"
#include "qor/data_buffer.h"

QOR_BEGIN_DECLS

/* Forces a complete (re)initialisation and runs the self test: 0 ok, 1 failed. */
QOR_API int QOR_Init(void);
/* 0 when the instance is initialised, 1 when not. */
QOR_API int QOR_IsInit(void);
/* Static text "Result: SUCCESS|FAIL, Date: ..." overwritten by the next call. */
QOR_API char *QOR_InitResult(void);
/* Destroys the current key set; the next call reloads it. Returns 0. */
QOR_API int QOR_ClearKeys(void);
/* Key-name listing of the current key set into |*out| (see the key manager);
 * 0 when nothing is loaded. */
QOR_API int QOR_loadKeyName(char ***out);
/* Builds the configuration when missing and re-maps the update-stamp file:
 * 1 built now, 0 already there, 7011 could not build, -1 could not wait. */
QOR_API int QOR_ReconnectFile(void);
/* Kept for callers of older releases; does nothing. */
QOR_API int sync_env(void);

QOR_END_DECLS

#endif
