/* The file pipelines: one whole file encrypted or decrypted under a policy,
 * and their bypass forms. The result record is declared in qor/qorfile.h. */
#ifndef QOR_FILE_PIPELINE_H
#define QOR_FILE_PIPELINE_H

#include "qor/crypto_service.h"
#include "qor/error.h"
#include "qor/export.h"
#include "qor/qorfile.h"

QOR_BEGIN_DECLS

/* Encrypts the file |sourcePath| into |targetPath| under the policy |keyName|:
 * a new result record (caller frees), NULL when memory runs out. */
QOR_API FileResult *QORCrypto_EncryptFile(int keyNameLength, const char *keyName,
                                          const char *sourcePath, const char *targetPath,
                                          ErrorInfo *errorRecord, QOR_FindKeyInfoFn find,
                                          QOR_UpdateKeySetFn update, const char *identity1,
                                          const char *identity2, const char *identity3);
/* Decrypts likewise; the result record by value. */
QOR_API FileResult QORCrypto_DecryptFile(int keyNameLength, const char *keyName,
                                         const char *sourcePath, const char *targetPath,
                                         ErrorInfo *errorRecord, QOR_FindKeyInfoFn find,
                                         QOR_UpdateKeySetFn update, QOR_AddKeyFn addKey,
                                         const char *identity1, const char *identity2,
                                         const char *identity3);

/* Bypass files touch no file: a zero-filled result, new (caller frees) for
 * encryption, NULL when memory runs out. */
QOR_API FileResult *QORCrypto_EncryptFile_BYPASS(
    int keyNameLength, const char *keyName, const char *sourcePath, const char *targetPath,
    ErrorInfo *errorRecord, QOR_FindKeyInfoFn find, QOR_UpdateKeySetFn update,
    const char *identity1, const char *identity2, const char *identity3);
QOR_API FileResult QORCrypto_DecryptFile_BYPASS(
    int keyNameLength, const char *keyName, const char *sourcePath, const char *targetPath,
    ErrorInfo *errorRecord, QOR_FindKeyInfoFn find, QOR_UpdateKeySetFn update,
    QOR_AddKeyFn addKey, const char *identity1, const char *identity2, const char *identity3);

QOR_END_DECLS

#endif
