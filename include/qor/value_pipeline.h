/* The value pipelines: one value encrypted or decrypted under a policy, and
 * the small helpers of the value service. */
#ifndef QOR_VALUE_PIPELINE_H
#define QOR_VALUE_PIPELINE_H

#include <stdint.h>

#include "qor/crypto_service.h"
#include "qor/data_buffer.h"
#include "qor/error.h"
#include "qor/export.h"

QOR_BEGIN_DECLS

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

/* A zero-filled buffer for a result of |length| input bytes: length + 20 when
 * |kind| is 2, else length + 16, and 4n/3 + 6 of that n for text (|binary| 0).
 * Stores it in |*out| (caller frees) and returns 0; -1 for a negative length,
 * a missing |out|, a size past the int range or no memory. */
QOR_API int SetCipherText(int length, int kind, int binary, unsigned char **out);
/* 1 when |t| (seconds since the epoch) is 0 or later than now, else 0. */
QOR_API int Compare_time2(int64_t t);

QOR_END_DECLS

#endif
