/* The tables of adapters indexed by algorithm code, the algorithm lookup by
 * name, the key-version records' life cycle and the record-IV counter. */
#ifndef QOR_CIPHER_UTIL_H
#define QOR_CIPHER_UTIL_H

#include "qor/cipher_adapters.h"

QOR_BEGIN_DECLS

QOR_API extern const CipherEncryptFn EncryptFunctions[QOR_ALG_COUNT];
QOR_API extern const CipherDecryptFn DecryptFunctions[QOR_ALG_COUNT];
/* Streaming tables: valid for codes 0..21, meant for the block-cipher codes. */
QOR_API extern const CipherStreamInitFn EncryptInitFunctions[22];
QOR_API extern const CipherStreamUpdateFn EncryptUpdateFunctions[22];
QOR_API extern const CipherStreamFinalFn EncryptFinalFunctions[22];
QOR_API extern const CipherStreamInitFn DecryptInitFunctions[22];
QOR_API extern const CipherStreamUpdateFn DecryptUpdateFunctions[22];
QOR_API extern const CipherStreamFinalFn DecryptFinalFunctions[22];

/* Process-wide record-IV counter, seeded by InitInternalRecordIV. */
QOR_API extern uint32_t g_RecordIV;

/* Algorithm code for a name (prefix match, case-sensitive) and key length in bytes; 0 unknown. */
QOR_API uint32_t GetCryptoAlgorithmType(const char *name, int keyLength);
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
