/* The crypto service table through which every entry point calls, and, for
 * hosts that include this header alone, everything the table points at: the
 * crypto service (qor/crypto_service.h), the value pipelines
 * (qor/value_pipeline.h) and the file pipelines (qor/file_pipeline.h). */
#ifndef QOR_QORCRYPTO_H
#define QOR_QORCRYPTO_H

#include "qor/crypto_service.h"
#include "qor/export.h"
#include "qor/file_pipeline.h"
#include "qor/value_pipeline.h"

QOR_BEGIN_DECLS

struct QORCrypto;

/* Fills |table|: 1 real operations, 2 bypass values with real files, 3 all
 * bypass; any other mode leaves it unchanged. */
QOR_API void QORCrypto_Create(struct QORCrypto *table, int mode);

QOR_END_DECLS

#endif
