/* The adapters indexed by algorithm code, one-shot and streaming, and the
 * algorithm code for a name. */
#ifndef QOR_CIPHER_TABLES_H
#define QOR_CIPHER_TABLES_H

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

/* Algorithm code for a name (prefix match, case-sensitive) and key length in bytes; 0 unknown. */
QOR_API uint32_t GetCryptoAlgorithmType(const char *name, int keyLength);

QOR_END_DECLS

#endif
