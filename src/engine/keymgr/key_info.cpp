// One policy record of the key manager: its name, kind, IV type and the keyed
// cipher object it owns.
#include <cstdlib>
#include <cstring>

#include "log/log.h"
#include "qor/key_mgr.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/KeyMgr";

void DestroyCipher(UACipherUtil** cipher) {
  if (*cipher != nullptr && (*cipher)->Destroy != nullptr) (*cipher)->Destroy(cipher);
  *cipher = nullptr;
}

void KeyInfoDestroy(KeyInfo** info) {
  if (info == nullptr || *info == nullptr) return;
  KeyInfo* record = *info;
  std::free(record->name);
  DestroyCipher(&record->cipher);
  std::free(record);
  *info = nullptr;
}

KeyInfo* KeyInfoClone(KeyInfo* source);

// A record without its cipher: copies the name, fills the slots.
KeyInfo* NewKeyInfo(int32_t nameLength, const char* name, int64_t policyKind, int64_t ivType) {
  if (name == nullptr || nameLength <= 0) return nullptr;
  auto* info = static_cast<KeyInfo*>(std::calloc(1, sizeof(KeyInfo)));
  if (info == nullptr) return nullptr;
  info->name = static_cast<char*>(std::malloc(static_cast<size_t>(nameLength) + 1));
  if (info->name == nullptr) {
    std::free(info);
    return nullptr;
  }
  std::memcpy(info->name, name, static_cast<size_t>(nameLength));
  info->name[nameLength] = '\0';
  info->nameLength = nameLength;
  info->policyKind = policyKind;
  info->ivType = ivType;
  info->Destroy = KeyInfoDestroy;
  info->Clone = KeyInfoClone;
  return info;
}

KeyInfo* KeyInfoClone(KeyInfo* source) {
  if (source == nullptr) return nullptr;
  KeyInfo* clone = NewKeyInfo(source->nameLength, source->name, source->policyKind, source->ivType);
  if (clone == nullptr) {
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
    return nullptr;  // the source keeps its cipher
  }
  clone->cipher = source->cipher;
  source->cipher = nullptr;
  return clone;
}

}  // namespace

extern "C" {

KeyInfo* KeyInfo_Create(const DataBuffer* name, uint32_t /*algType*/, int64_t policyKind,
                        int64_t ivType, UACipherUtil* cipher) {
  if (cipher == nullptr) return nullptr;
  KeyInfo* info = nullptr;
  if (name != nullptr && name->data != nullptr && name->length > 0) {
    info = NewKeyInfo(name->length, reinterpret_cast<const char*>(name->data), policyKind, ivType);
    if (info == nullptr) QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
  }
  // The record owns the cipher from the call on, so a failure releases it here
  // and the caller must not release it again.
  if (info == nullptr) {
    DestroyCipher(&cipher);
    return nullptr;
  }
  info->cipher = cipher;
  return info;
}

}  // extern "C"
