// The configuration the crypto service reads, the policy lookup shared by
// every pipeline, and the bypass operations.
#include "qor/crypto_service.h"

#include "config/shared_fields.h"
#include "service/crypto/qor_crypto.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/error_codes.h"
#include "common/error_record.h"
#include "log/log.h"
#include "qor/config.h"
#include "qor/key_mgr.h"

namespace {

constexpr char kLogUnit[] = "source/QORCrypto";

std::atomic<QORApiData*> pgQORApiData{nullptr};

// Serialises the key-set refresh after a lookup miss. Usable from the start of
// the process, so a lookup that runs before any configuration arrives never
// meets a lock that was not set up.
constinit std::mutex g_keymgr_lock;

// Stores |code| in the last record of the chain, leaving its message alone.
void SetChainCode(ErrorInfo* record, int code) { qor::ErrorSetChainCode(record, code); }

int Find(FindKeyInfoFn find, int keyNameLength, const char* keyName, KeyInfo** out,
         ErrorInfo* errorRecord) {
  DataBuffer name{keyNameLength, reinterpret_cast<unsigned char*>(const_cast<char*>(keyName))};
  *out = nullptr;
  const int code = find(&name, out);
  SetChainCode(errorRecord, code);
  return code == 0 && *out != nullptr ? 0 : (code != 0 ? code : 1);
}

const char* InitFromText(const QORApiData* data) {
  const int32_t from = data != nullptr ? qor::config::PolicyInitFromOf(data) : 0;
  return QOR_PolicyInitFrom[from >= 0 && from < 4 ? from : 0];
}

DataBuffer CopyValue(int length, const unsigned char* data) {
  if (data == nullptr || length < 0) return DataBuffer{length, nullptr};
  auto* copy = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (copy == nullptr) return DataBuffer{length, nullptr};
  if (length > 0) std::memcpy(copy, data, static_cast<size_t>(length));
  copy[length] = 0;
  return DataBuffer{length, copy};
}

}  // namespace

QORCrypto gCrypto;

const char* const QOR_PolicyInitFrom[4] = {"Nothing", "First Agent", "Second Agent",
                                           "Emergency File"};

namespace qor::crypto {

QORApiData* ConfigData() { return pgQORApiData.load(std::memory_order_acquire); }

std::mutex& KeyMgrRefreshLock() { return g_keymgr_lock; }

}  // namespace qor::crypto

KeyInfo* GetPolicy(int keyNameLength, const char* keyName, FindKeyInfoFn find,
                   UpdateKeySetFn update, ErrorInfo* errorRecord) {
  if (find == nullptr) {
    QOR_LOG(qor::log::kCrit, "FindKeyInfo function ptr is NULL\n");
    qor::ErrorSet(errorRecord, -1, "FindKeyInfo Function ptr is null");
    return nullptr;
  }
  if (update == nullptr) {
    QOR_LOG(qor::log::kCrit, "update function ptr is NULL\n");
    qor::ErrorSet(errorRecord, -1, "update Function ptr is null");
    return nullptr;
  }
  if (keyName == nullptr || keyNameLength <= 0) {
    QOR_LOG(qor::log::kCrit, "keyName is NULL\n");
    qor::ErrorSet(errorRecord, -1, "KeyName is null");
    return nullptr;
  }

  KeyInfo* info = nullptr;
  if (Find(find, keyNameLength, keyName, &info, errorRecord) != 0) {
    std::unique_lock lock(g_keymgr_lock);
    // Another thread's refresh may have brought the policy meanwhile.
    if (Find(find, keyNameLength, keyName, &info, errorRecord) != 0) {
      const QORApiData* data = qor::crypto::ConfigData();
      // Without a configuration there is no agent to ask.
      const int updated = data != nullptr ? update(data->firstAgentIp, data->firstPort) : -1;
      QOR_LOG_RESULT(qor::log::kInfo, "KeyMgr is Update %d\n", updated);
      lock.unlock();
      Find(find, keyNameLength, keyName, &info, errorRecord);
    }
  }
  if (info == nullptr) {
    const char* from = InitFromText(qor::crypto::ConfigData());
    QOR_LOG(qor::log::kCrit,
            "The policy id [%.*s] could not be found.\n >>> Policy Init From %s\n",
            keyNameLength, keyName, from);
    qor::ErrorSet(errorRecord, qor::err::kPolicyNotFound,
                  "The policy id [%.*s] could not be found.\n >>> Policy Init From %s",
                  keyNameLength, keyName, from);
    return nullptr;
  }
  QOR_LOG(qor::log::kDebug, "successfully retrieved the policy ID [%.*s]\n", keyNameLength,
          keyName);
  return info;
}

extern "C" {

void QORCrypto_SetConfigData(QORApiData* configData) {
  pgQORApiData.store(configData, std::memory_order_release);
}

DataBuffer QORCrypto_Encrypt_BYPASS(int length, unsigned char* data, int, const char*, ErrorInfo*,
                                    QOR_FindKeyInfoFn, QOR_UpdateKeySetFn, const char*,
                                    const char*, const char*, int) {
  return CopyValue(length, data);
}

DataBuffer QORCrypto_Decrypt_BYPASS(int length, unsigned char* data, int, const char*, ErrorInfo*,
                                    QOR_FindKeyInfoFn, QOR_UpdateKeySetFn, QOR_AddKeyFn,
                                    const char*, const char*, const char*, int) {
  return CopyValue(length, data);
}

}  // extern "C"
