/* The key-version records' life cycle and the record-IV counter; with them
 * the tables of adapters and the algorithm lookup they are built from. */
#ifndef QOR_CIPHER_UTIL_H
#define QOR_CIPHER_UTIL_H

#include "qor/cipher_tables.h"

QOR_BEGIN_DECLS

/* Process-wide record-IV counter, seeded by InitInternalRecordIV. */
QOR_API extern uint32_t g_RecordIV;

/* Stores version, time values and status ("active" 0, "deactive" or NULL 1, other 2). Returns 0. */
QOR_API int ChiperUtil_Set(CipherUtil *record, int64_t keyVersion, int32_t firstTime,
                           int32_t secondTime, const char *status);
/* Builds the key contexts of a zeroed record whose mode/version/status are set: 0 or -1. */
QOR_API int CipherUtil_Create(uint32_t algType, const DataBuffer *key, const DataBuffer *iv,
                              CipherUtil *record);
/* Wipes and frees the record's key contexts: 0, or -1 for NULL. */
QOR_API int CipherUtilKey_Destroy(CipherUtil *record);
/* Destroys a whole list of records (keys wiped, records freed). */
QOR_API void CipherUtil_Destroy(CipherUtil *first);
/* Seeds g_RecordIV from the kernel random source and returns the seed. */
QOR_API uint32_t InitInternalRecordIV(void);

QOR_END_DECLS

#endif
