/* The crypto service: the callbacks through which the pipelines reach the
 * caller's key set, the modes of the operation table, the configuration
 * hand-over, the bypass value operations and the module's self checks. */
#ifndef QOR_CRYPTO_SERVICE_H
#define QOR_CRYPTO_SERVICE_H

#include <stdint.h>

#include "qor/config.h"
#include "qor/data_buffer.h"
#include "qor/error.h"
#include "qor/export.h"

QOR_BEGIN_DECLS

struct KeyInfo;
struct QORCrypto;

/* Callbacks through which the pipelines reach the caller's key set. */
/* Stores the policy named by |keyName| in |*out|: 0 found, non-zero not found. */
typedef int (*QOR_FindKeyInfoFn)(DataBuffer *keyName, struct KeyInfo **out);
/* Refreshes the key set from the agent at |address|:|port|: 0 ok, -1 failed. */
typedef int (*QOR_UpdateKeySetFn)(const char *address, uint16_t port);
/* Fetches key |version| of the policy |name|: 0 added, non-zero not. */
typedef int (*QOR_AddKeyFn)(int nameLength, const char *name, int version);

/* Table modes of QORCrypto_Create (qor/qorcrypto.h). */
enum { QORCRYPTO_REAL = 1, QORCRYPTO_BYPASS_VALUES = 2, QORCRYPTO_BYPASS_ALL = 3 };

/* Hands the configuration data to the service (not owned; the caller keeps it
 * alive while the service may read it). */
QOR_API void QORCrypto_SetConfigData(QORApiData *configData);

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

/* Known-answer test of the crypto module: 0 passed, 1 failed. */
QOR_API int Self_Test(void);
/* Connection test against the agent at |address|:|port|: 1 connected, 0 not,
 * -1 no socket object could be made. */
QOR_API int Connect_test(const char *address, uint16_t port, int opcode);

QOR_END_DECLS

#endif
