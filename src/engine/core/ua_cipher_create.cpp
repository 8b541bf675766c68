// Creation and teardown of the keyed cipher object: the downloaded-policy
// creator, the single-key creators, the server-key object and the table of
// operations every creator fills the same way.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/secure_wipe.h"
#include "engine/access/acl_list.h"
#include "engine/cipher/fixed_secrets.h"
#include "engine/cipher/ua_cipher_internal.h"
#include "engine/core/cipher_object.h"
#include "engine/cipher/record_iv.h"
#include "engine/core/value_ops.h"
#include "log/log.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/UACipherUtil";

std::atomic<qor::engine::ReleasedKeyBytesObserver> g_releaseObserver{nullptr};

struct ObjectDeleter {
  void operator()(UACipherUtil* object) const { qor::engine::Destroy(&object); }
};
using ObjectPtr = std::unique_ptr<UACipherUtil, ObjectDeleter>;

// A zero-filled object with zero-filled data, or NULL.
ObjectPtr NewObject() {
  ObjectPtr object(static_cast<UACipherUtil*>(std::calloc(1, sizeof(UACipherUtil))));
  if (object == nullptr) return nullptr;
  object->data = static_cast<UACipherUtilData*>(std::calloc(1, sizeof(UACipherUtilData)));
  if (object->data == nullptr) return nullptr;
  return object;
}

// A zero-terminated private copy of |length| bytes, or {0, NULL}.
DataBuffer CopyBytes(const unsigned char* bytes, int32_t length) {
  if (bytes == nullptr || length <= 0) return {0, nullptr};
  auto* copy = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (copy == nullptr) return {0, nullptr};
  std::memcpy(copy, bytes, static_cast<size_t>(length));
  copy[length] = 0;
  return {length, copy};
}

// Key names and single keys leave memory as a run of 0x01 bytes.
void ReleaseKeyBytes(DataBuffer& buffer) {
  if (buffer.data == nullptr) return;
  const size_t length = buffer.length > 0 ? static_cast<size_t>(buffer.length) : 0;
  qor::SecureFill(buffer.data, 0x01, length);
  if (auto observer = g_releaseObserver.load(std::memory_order_acquire)) {
    observer(buffer.data, length);
  }
  std::free(buffer.data);
  buffer = {0, nullptr};
}

// Builds one version record for the creator |caller|; on failure the partly
// built record is freed.
CipherUtil* NewRecord(const char* caller, uint32_t algType, const DataBuffer& key,
                      const DataBuffer* iv, int32_t mode, int64_t version, int32_t firstTime,
                      int32_t secondTime, const char* status) {
  auto* record = static_cast<CipherUtil*>(std::calloc(1, sizeof(CipherUtil)));
  if (record == nullptr) {
    QOR_LOG_UNIT_AS(qor::log::kCrit, caller, kLogUnit, "Memory Allocation Failed.\n");
    return nullptr;
  }
  record->mode = mode;
  ChiperUtil_Set(record, version, firstTime, secondTime, status);
  const DataBuffer noIv{0, nullptr};
  if (CipherUtil_Create(algType, &key, iv != nullptr ? iv : &noIv, record) != 0) {
    QOR_LOG_UNIT_AS(qor::log::kCrit, caller, kLogUnit, "CipherUtil_create Failed(algType:%d)\n",
               static_cast<int>(algType));
    CipherUtil_Destroy(record);
    return nullptr;
  }
  return record;
}

// The single-key creator behind UACipherUtil_CreateEx and the deprecated one.
UACipherUtil* Create(uint32_t algType, const DataBuffer* key, const DataBuffer* iv,
                     QOR_HmacFn hmac) {
  ObjectPtr object = NewObject();
  if (object == nullptr) {
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
    return nullptr;
  }
  UACipherUtilData* data = object->data;
  data->UsKey = key != nullptr ? CopyBytes(key->data, key->length) : DataBuffer{0, nullptr};
  if (data->UsKey.data == nullptr) {
    QOR_LOG(qor::log::kCrit, "pKCU->UsKey.value malloc failed, length:%d\n",
            key != nullptr ? key->length : 0);
    return nullptr;
  }
  data->ciphers = NewRecord(__func__, algType, data->UsKey, iv, QOR_MODE_CBC, 0, 0, 0, "active");
  if (data->ciphers == nullptr) return nullptr;
  qor::engine::FillOperations(object.get(), hmac);
  return object.release();
}

}  // namespace

namespace qor::engine {

void SetReleasedKeyBytesObserver(ReleasedKeyBytesObserver observer) {
  g_releaseObserver.store(observer, std::memory_order_release);
}

void FillOperations(UACipherUtil* o, QOR_HmacFn hmac) {
  o->DecryptFromBase64 = DecryptFromBase64;
  o->DecryptKeyFromBase64 = DecryptKeyFromBase64;
  o->EncryptToBase64 = EncryptToBase64;
  o->Encrypt_API = Encrypt_API;
  o->Decrypt_API = Decrypt_API;
  o->EncryptToBase64_ACC = EncryptToBase64_ACC;
  o->Encrypt_API_ACC = Encrypt_API_ACC;
  o->DecryptFromBase64_ACC = DecryptFromBase64_ACC;
  o->Decrypt_API_ACC = Decrypt_API_ACC;
  o->Hmac = hmac != nullptr ? hmac : doHMACDigest;
  o->Encrypt_API_Init = Encrypt_API_Init;
  o->Encrypt_API_Update = Encrypt_API_Update;
  o->Encrypt_API_Final = Encrypt_API_Final;
  o->Decrypt_API_Init = Decrypt_API_Init;
  o->Decrypt_API_Update = Decrypt_API_Update;
  o->Decrypt_API_Final = Decrypt_API_Final;
  o->GetAlgorithmType = GetAlgorithmType;
  o->GetKeyLength = GetKeyLength;
  o->GetKeyValue = GetKeyValue;
  o->Destroy = Destroy;
  o->reserved = nullptr;
  o->SetCompatibility = SetCompatibility;
  o->GetCompatibility = GetCompatibility;
  o->GetACL_count = GetACL_count;
  o->GetUnauthorizedDecryption = GetUnauthorizedDecryption;
  o->Getprio = Getprio;
  o->GetACL = GetACL;
  o->Geterror_process = Geterror_process;
  o->GetDecrypt_cnt = GetDecrypt_cnt;
  o->GetAudit = GetAudit;
  o->Getnull_process = Getnull_process;
  o->GetKeyStatus = GetKeyStatus;
  o->GetKeyAvailable = GetKeyAvailable;
  o->GetKeyPeriod = GetKeyPeriod;
  o->GettargetExist = GettargetExist;
  o->GetorgFileHandling = GetorgFileHandling;
  o->GetorgBackupExtension = GetorgBackupExtension;
  o->GetencFileDelete = GetencFileDelete;
  o->GetencDataVerify = GetencDataVerify;
  o->GetorgDataVerify = GetorgDataVerify;
  o->GetDuplicate = GetDuplicate;
  o->GetRecordIV = GetRecordIV;
  o->SetPatternInfo = SetPatternInfo;
  o->GetPatternInfo = GetPatternInfo;
  o->GetKeyName = GetKeyName;
  o->IsPeriodicKey = IsPeriodicKey;
  o->GetLatestKeyVersion = GetLatestKeyVersion;
  o->AddKey = AddKey;
  o->GetCipher = GetCipher;
}

void Destroy(UACipherUtil** self) {
  if (self == nullptr || *self == nullptr) return;
  UACipherUtil* object = *self;
  if (UACipherUtilData* data = object->data) {
    CipherUtil_Destroy(data->ciphers);
    data->ciphers = nullptr;
    ReleaseKeyBytes(data->keyName);
    ReleaseKeyBytes(data->UsKey);
    std::free(data->orgBackupExtension);
    std::free(data->patternInfo);
    AccessControlData_Destroy(data->acl);
    SecureWipe(data, sizeof(*data));
    std::free(data);
  }
  ForgetPendingRecordIv(object);
  SecureWipe(object, sizeof(*object));
  std::free(object);
  *self = nullptr;
}

}  // namespace qor::engine

extern "C" {

UACipherUtil* UACipherUtil_CreateEx3(
    uint32_t algType, const DataBuffer* keyName, int32_t keyLength, int32_t keyCount,
    const KeyEntry* keys, const DataBuffer* iv, QOR_HmacFn hmac, const PatternBlock* pattern,
    int32_t nullProcess, int32_t aclCount, const AccessControlData* acl,
    int32_t unauthorizedDecryption, int32_t prio, int32_t errorProcess, uint64_t auditPair1,
    uint64_t auditPair2, int32_t decryptCnt, int32_t targetExist, int32_t orgFileHandling,
    const char* orgBackupExtension, int32_t encFileDelete, int32_t encDataVerify,
    int32_t orgDataVerify, int32_t mode, int32_t decryptCountUnit) {
  ObjectPtr object = NewObject();
  if (object == nullptr) {
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
    return nullptr;
  }
  UACipherUtilData* data = object->data;

  data->keyName =
      keyName != nullptr ? CopyBytes(keyName->data, keyName->length) : DataBuffer{0, nullptr};
  if (data->keyName.data == nullptr) {
    QOR_LOG(qor::log::kCrit, "pKCU->keyName.value malloc failed, length:%d\n",
            keyName != nullptr ? keyName->length : 0);
    return nullptr;
  }

  // A policy without a version record could never encrypt.
  if (keyCount <= 0 || keys == nullptr) {
    QOR_LOG(qor::log::kCrit, "pKCU->key count not one or more. count :%d\n", keyCount);
    return nullptr;
  }
  data->keyCount = keyCount;

  CipherUtil** tail = &data->ciphers;
  for (const KeyEntry* entry = keys; entry != nullptr; entry = entry->next) {
    const DataBuffer key{keyLength, entry->key};
    CipherUtil* record = NewRecord(__func__, algType, key, iv, mode, entry->version,
                                   entry->firstTime, entry->secondTime, entry->status);
    if (record == nullptr) return nullptr;
    *tail = record;
    tail = &record->next;
  }

  data->keyLength = keyLength;
  if (pattern != nullptr) {
    data->pattern = *pattern;
    data->hasPattern = 1;
  }
  data->encDuplication = 0;
  data->decDuplication = 0;
  data->nullProcess = nullProcess;

  if (aclCount > 0) {
    data->aclCount = aclCount;
    if (!qor::engine::CopyAccessControlList(acl, &data->acl)) {
      QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
      return nullptr;
    }
    data->unauthorizedDecryption = unauthorizedDecryption;
    data->prio = prio;
    data->decryptCnt = decryptCnt;
  }

  data->errorProcess = errorProcess;
  data->targetExist = targetExist;
  data->orgFileHandling = orgFileHandling;
  data->audit[0] = static_cast<int32_t>(auditPair1 & 0xffffffffu);
  data->audit[1] = static_cast<int32_t>(auditPair1 >> 32);
  data->audit[2] = static_cast<int32_t>(auditPair2 & 0xffffffffu);
  data->audit[3] = static_cast<int32_t>(auditPair2 >> 32);
  // File encryption appends the extension as a text, so none is kept as "".
  data->orgBackupExtension = strdup(orgBackupExtension != nullptr ? orgBackupExtension : "");
  if (data->orgBackupExtension == nullptr) {
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
    return nullptr;
  }
  data->encFileDelete = encFileDelete;
  data->encDataVerify = encDataVerify;
  data->orgDataVerify = orgDataVerify;
  data->decryptCountUnit = decryptCountUnit;
  qor::engine::FillOperations(object.get(), hmac);
  return object.release();
}

UACipherUtil* UACipherUtil_CreateEx(uint32_t algType, const DataBuffer* key, const DataBuffer* iv,
                                    QOR_HmacFn hmac) {
  return Create(algType, key, iv, hmac);
}

UACipherUtil* UACipherUtil_Create_deprecated(uint32_t algType, const DataBuffer* key,
                                             const DataBuffer* iv) {
  return Create(algType, key, iv, nullptr);
}

UACipherUtil* ServerKACU_Create(QOR_HmacFn hmac) {
  // The adapters read key and IV only; the constants are never written.
  const DataBuffer key{16, const_cast<unsigned char*>(qor::engine::NC_NEW_FIXED_SERVER_KEY)};
  const DataBuffer iv{16, const_cast<unsigned char*>(qor::engine::NC_NEW_FIXED_SERVER_IV)};
  return UACipherUtil_CreateEx(QOR_ALG_ARIA256, &key, &iv, hmac);
}

void ServerKACU_Free(UACipherUtil** object) {
  if (object == nullptr || *object == nullptr) return;
  if ((*object)->Destroy != nullptr) {
    (*object)->Destroy(object);
  } else {
    qor::engine::Destroy(object);
  }
  *object = nullptr;
}

}  // extern "C"
