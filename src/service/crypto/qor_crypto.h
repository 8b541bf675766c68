// The crypto service table through which every entry point reaches encryption.
#pragma once

#include <mutex>
#include <type_traits>

#include "engine/keymgr/key_callbacks.h"
#include "qor/data_buffer.h"
#include "qor/error.h"
#include "qor/crypto_service.h"

struct QORApiData;
struct FileResult;

// The exported declarations spell the callbacks in C; they are the same types.
static_assert(std::is_same_v<QOR_FindKeyInfoFn, FindKeyInfoFn>);
static_assert(std::is_same_v<QOR_UpdateKeySetFn, UpdateKeySetFn>);
static_assert(std::is_same_v<QOR_AddKeyFn, AddKeyFn>);

namespace qor::crypto {

// How QORCrypto_Create fills the table.
enum class TableMode : int {
  kReal = QORCRYPTO_REAL,
  kBypassValues = QORCRYPTO_BYPASS_VALUES,
  kAllBypass = QORCRYPTO_BYPASS_ALL,
};

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
// Where the key set came from, by QORApiData.policyInitFrom.
extern const char* const QOR_PolicyInitFrom[4];

// The policy named by the first |keyNameLength| bytes of |keyName|, or null
// with the reason in |errorRecord|'s chain. A miss refreshes the key set once,
// serialised with every other refresh after a miss.
KeyInfo* GetPolicy(int keyNameLength, const char* keyName, FindKeyInfoFn find,
                   UpdateKeySetFn update, ErrorInfo* errorRecord);

namespace qor::crypto {

// The configuration data last handed over (not owned), or null.
QORApiData* ConfigData();

// The lock that serialises key-set refreshes after a lookup miss (for the
// fork handlers, which must not leave it held in a child).
std::mutex& KeyMgrRefreshLock();

}  // namespace qor::crypto
