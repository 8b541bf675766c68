/* The crypto service: the table every entry point calls through, the value
 * pipelines, their audit lines and the crypto self test. */
#ifndef QOR_QORCRYPTO_H
#define QOR_QORCRYPTO_H

#include <stdint.h>

#include "qor/config.h"
#include "qor/data_buffer.h"
#include "qor/error.h"
#include "qor/export.h"

QOR_BEGIN_DECLS

struct KeyInfo;
struct QORCrypto;
struct FileResult;

/* Callbacks through which the pipelines reach the caller's key set. */
/* Stores the policy named by |keyName| in |*out|: 0 found, non-zero not found. */
typedef int (*QOR_FindKeyInfoFn)(DataBuffer *keyName, struct KeyInfo **out);
/* Refreshes the key set from the agent at |address|:|port|: 0 ok, -1 failed. */
typedef int (*QOR_UpdateKeySetFn)(const char *address, uint16_t port);
/* Fetches key |version| of the policy |name|: 0 added, non-zero not. */
typedef int (*QOR_AddKeyFn)(int nameLength, const char *name, int version);

/* Table modes of QORCrypto_Create. */
enum { QORCRYPTO_REAL = 1, QORCRYPTO_BYPASS_VALUES = 2, QORCRYPTO_BYPASS_ALL = 3 };

/* Fills |table|: 1 real operations, 2 bypass values with real files, 3 all
 * bypass; any other mode leaves it unchanged. */
QOR_API void QORCrypto_Create(struct QORCrypto *table, int mode);
/* Hands the configuration data to the service (not owned; the caller keeps it
 * alive while the service may read it). */
QOR_API void QORCrypto_SetConfigData(QORApiData *configData);

/* Encrypts |length| bytes at |data| under the policy |keyName| (mode 0: the
 * text form, else the binary form). The caller's error chain is cleared and
 * then explains a failure. The result owns its buffer (caller frees); length
 * -1 failed, -2 no value produced. */
QOR_API DataBuffer QORCrypto_Encrypt(int length, unsigned char *data, int keyNameLength,
                                     const char *keyName, ErrorInfo *errorRecord,
                                     QOR_FindKeyInfoFn find, QOR_UpdateKeySetFn update,
                                     const char *identity1, const char *identity2,
                                     const char *identity3, int mode);
/* Decrypts likewise; |addKey| fetches a key version the policy lacks. Length -1
 * failed, -3 an empty input under a policy without null processing. */
QOR_API DataBuffer QORCrypto_Decrypt(int length, unsigned char *data, int keyNameLength,
                                     const char *keyName, ErrorInfo *errorRecord,
                                     QOR_FindKeyInfoFn find, QOR_UpdateKeySetFn update,
                                     QOR_AddKeyFn addKey, const char *identity1,
                                     const char *identity2, const char *identity3, int mode);

/* Encrypts the file |sourcePath| into |targetPath| under the policy |keyName|:
 * a new result record (caller frees), NULL when memory runs out. */
QOR_API struct FileResult *QORCrypto_EncryptFile(int keyNameLength, const char *keyName,
                                                 const char *sourcePath, const char *targetPath,
                                                 ErrorInfo *errorRecord, QOR_FindKeyInfoFn find,
                                                 QOR_UpdateKeySetFn update, const char *identity1,
                                                 const char *identity2, const char *identity3);
/* Decrypts likewise; the result record by value. */
QOR_API struct FileResult QORCrypto_DecryptFile(int keyNameLength, const char *keyName,
                                                const char *sourcePath, const char *targetPath,
                                                ErrorInfo *errorRecord, QOR_FindKeyInfoFn find,
                                                QOR_UpdateKeySetFn update, QOR_AddKeyFn addKey,
                                                const char *identity1, const char *identity2,
                                                const char *identity3);

/* Bypass values: {length, copy of the data} (caller frees) when data is given
 * and length is not negative, else {length, NULL}. Nothing else is looked at. */
QOR_API DataBuffer QORCrypto_Encrypt_BYPASS(int length, unsigned char *data, int keyNameLength,
                                            const char *keyName, ErrorInfo *errorRecord,
                                            QOR_FindKeyInfoFn find, QOR_UpdateKeySetFn update,
                                            const char *identity1, const char *identity2,
                                            const char *identity3, int mode);
QOR_API DataBuffer QORCrypto_Decrypt_BYPASS(int length, unsigned char *data, int keyNameLength,
                                            const char *keyName, ErrorInfo *errorRecord,
                                            QOR_FindKeyInfoFn find, QOR_UpdateKeySetFn update,
                                            QOR_AddKeyFn addKey, const char *identity1,
                                            const char *identity2, const char *identity3,
                                            int mode);
/* Bypass files touch no file: a zero-filled result, new (caller frees) for
 * encryption, NULL when memory runs out. */
QOR_API struct FileResult *QORCrypto_EncryptFile_BYPASS(
    int keyNameLength, const char *keyName, const char *sourcePath, const char *targetPath,
    ErrorInfo *errorRecord, QOR_FindKeyInfoFn find, QOR_UpdateKeySetFn update,
    const char *identity1, const char *identity2, const char *identity3);
QOR_API struct FileResult QORCrypto_DecryptFile_BYPASS(
    int keyNameLength, const char *keyName, const char *sourcePath, const char *targetPath,
    ErrorInfo *errorRecord, QOR_FindKeyInfoFn find, QOR_UpdateKeySetFn update,
    QOR_AddKeyFn addKey, const char *identity1, const char *identity2, const char *identity3);

/* A zero-filled buffer for a result of |length| input bytes: length + 20 when
 * |kind| is 2, else length + 16, and 4n/3 + 6 of that n for text (|binary| 0).
 * Stores it in |*out| (caller frees) and returns 0; -1 for a negative length,
 * a missing |out|, a size past the int range or no memory. */
QOR_API int SetCipherText(int length, int kind, int binary, unsigned char **out);
/* 1 when |t| (seconds since the epoch) is 0 or later than now, else 0. */
QOR_API int Compare_time2(int64_t t);

/* Known-answer test of the crypto module: 0 passed, 1 failed. */
QOR_API int Self_Test(void);
/* Connection test against the agent at |address|:|port|: 1 connected, 0 not,
 * -1 no socket object could be made. */
QOR_API int Connect_test(const char *address, uint16_t port, int opcode);

QOR_END_DECLS

#endif
