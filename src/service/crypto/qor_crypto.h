// The crypto service table through which every entry point reaches encryption.
#pragma once

#include "engine/keymgr/key_callbacks.h"
#include "qor/data_buffer.h"
#include "qor/error.h"

struct QORApiData;
struct FileResult;

namespace qor::crypto {

// How QORCrypto_Create fills the table.
enum class TableMode : int { kReal = 1, kBypassValues = 2, kAllBypass = 3 };

// Value mode of the value operations: text (Base64) or the binary layout.
enum ValueMode : int { kText = 0, kBinary = 1 };

}  // namespace qor::crypto

// Value operations: |length| bytes at |data| under the policy |keyName|; the
// identities go unchanged to access control. The result owns its buffer.
using QORCryptoEncryptFn = DataBuffer (*)(int length, unsigned char* data, int keyNameLength,
                                          const char* keyName, ErrorInfo* errorRecord,
                                          FindKeyInfoFn find, UpdateKeySetFn update,
                                          const char* identity1, const char* identity2,
                                          const char* identity3, int mode);
using QORCryptoDecryptFn = DataBuffer (*)(int length, unsigned char* data, int keyNameLength,
                                          const char* keyName, ErrorInfo* errorRecord,
                                          FindKeyInfoFn find, UpdateKeySetFn update,
                                          AddKeyFn addKey, const char* identity1,
                                          const char* identity2, const char* identity3,
                                          int mode);
// File operations: the encrypting one returns a heap record the caller frees,
// the decrypting one a record by value.
using QORCryptoEncryptFileFn = FileResult* (*)(int keyNameLength, const char* keyName,
                                               const char* sourcePath, const char* targetPath,
                                               ErrorInfo* errorRecord, FindKeyInfoFn find,
                                               UpdateKeySetFn update, const char* identity1,
                                               const char* identity2, const char* identity3);
using QORCryptoDecryptFileFn = FileResult (*)(int keyNameLength, const char* keyName,
                                              const char* sourcePath, const char* targetPath,
                                              ErrorInfo* errorRecord, FindKeyInfoFn find,
                                              UpdateKeySetFn update, AddKeyFn addKey,
                                              const char* identity1, const char* identity2,
                                              const char* identity3);

// Four operation slots: value encrypt, value decrypt, file encrypt, file decrypt.
struct QORCrypto {
  QORCryptoEncryptFn Encrypt;
  QORCryptoDecryptFn Decrypt;
  QORCryptoEncryptFileFn EncryptFile;
  QORCryptoDecryptFileFn DecryptFile;
};

extern QORCrypto gCrypto;

// Fills |table| as |mode| says; any other mode leaves it unchanged.
void QORCrypto_Create(QORCrypto* table, qor::crypto::TableMode mode);
// Hands the configuration data to the service.
void QORCrypto_SetConfigData(QORApiData* data);
// Known-answer test of the crypto module: 0 passed, 1 failed.
int Self_Test();
