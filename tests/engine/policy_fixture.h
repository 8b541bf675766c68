// Key lists, access-rule lists and keyed cipher objects for the engine tests.
#pragma once

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "qor/access_control.h"
#include "qor/key_mgr.h"
#include "qor/ua_cipher_util.h"
#include "support/bytes.h"

namespace qor::test {

// Key entries in the order given; each key's bytes are derived from its version.
class KeyList {
 public:
  KeyList(std::initializer_list<int64_t> versions, int keyLength = 16,
          const char* status = "active")
      : status_(status) {
    for (int64_t v : versions) keys_.push_back(Bytes(static_cast<size_t>(keyLength), KeyByte(v)));
    entries_.resize(keys_.size());
    size_t i = 0;
    for (int64_t v : versions) {
      entries_[i] = KeyEntry{v, keys_[i].data(), status_.data(), static_cast<int32_t>(100 + i),
                             static_cast<int32_t>(200 + i), nullptr};
      if (i > 0) entries_[i - 1].next = &entries_[i];
      ++i;
    }
  }
  KeyList(const KeyList&) = delete;
  KeyList& operator=(const KeyList&) = delete;

  static uint8_t KeyByte(int64_t version) { return static_cast<uint8_t>(0x40 + version); }
  const KeyEntry* head() const { return entries_.empty() ? nullptr : entries_.data(); }
  int32_t count() const { return static_cast<int32_t>(entries_.size()); }

 private:
  std::string status_;
  std::vector<Bytes> keys_;
  std::vector<KeyEntry> entries_;
};

// Owns one keyed cipher object and releases it through its Destroy slot.
class Policy {
 public:
  explicit Policy(UACipherUtil* object = nullptr) : object_(object) {}
  ~Policy() { reset(); }
  Policy(const Policy&) = delete;
  Policy& operator=(const Policy&) = delete;

  void reset(UACipherUtil* object = nullptr) {
    if (object_ != nullptr) object_->Destroy(&object_);
    object_ = object;
  }
  UACipherUtil* release() {
    UACipherUtil* o = object_;
    object_ = nullptr;
    return o;
  }
  UACipherUtil** self() { return &object_; }
  UACipherUtil* operator->() const { return object_; }
  UACipherUtil* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // Versions of the record list, head first.
  std::vector<int> Versions() const {
    std::vector<int> v;
    for (const CipherUtil* r = object_->data->ciphers; r != nullptr; r = r->next) {
      v.push_back(r->keyVersion);
    }
    return v;
  }

 private:
  UACipherUtil* object_;
};

inline DataBuffer Buffer(const std::string& s) {
  return DataBuffer{static_cast<int32_t>(s.size()),
                    reinterpret_cast<unsigned char*>(const_cast<char*>(s.data()))};
}
inline DataBuffer Buffer(const Bytes& b) {
  return DataBuffer{static_cast<int32_t>(b.size()), const_cast<uint8_t*>(b.data())};
}

// Every argument of UACipherUtil_CreateEx3 apart from the key list.
struct PolicyArgs {
  uint32_t algType = QOR_ALG_ARIA128;
  std::string name = "policy.column";
  int32_t keyLength = 16;
  Bytes iv = Bytes(16, 0x5A);
  QOR_HmacFn hmac = nullptr;
  const PatternBlock* pattern = nullptr;
  int32_t nullProcess = 0;
  int32_t aclCount = 0;
  const AccessControlData* acl = nullptr;
  int32_t unauthorizedDecryption = 0;
  int32_t prio = 0;
  int32_t errorProcess = 3;
  uint64_t auditPair1 = 0;
  uint64_t auditPair2 = 0;
  int32_t decryptCnt = 0;
  int32_t targetExist = 4;
  int32_t orgFileHandling = 2;
  const char* orgBackupExtension = ".bak";
  int32_t encFileDelete = 0;
  int32_t encDataVerify = 0;
  int32_t orgDataVerify = 0;
  int32_t mode = QOR_MODE_CBC;
  int32_t decryptCountUnit = 0;
};

inline UACipherUtil* CreateEx3(const PolicyArgs& a, const KeyList& keys,
                               int32_t keyCount = -1) {
  const DataBuffer name = Buffer(a.name);
  const DataBuffer iv = Buffer(a.iv);
  return UACipherUtil_CreateEx3(
      a.algType, &name, a.keyLength, keyCount < 0 ? keys.count() : keyCount, keys.head(), &iv,
      a.hmac, a.pattern, a.nullProcess, a.aclCount, a.acl, a.unauthorizedDecryption, a.prio,
      a.errorProcess, a.auditPair1, a.auditPair2, a.decryptCnt, a.targetExist, a.orgFileHandling,
      a.orgBackupExtension, a.encFileDelete, a.encDataVerify, a.orgDataVerify, a.mode,
      a.decryptCountUnit);
}

// Every argument of the key manager's AddKeyInfo apart from the manager and key list.
struct PolicyInfoArgs {
  std::string name = "policy.column";
  const char* algorithm = "ARIA";
  int64_t policyKind = 4;
  int64_t ivType = QOR_IV_POLICY;
  int32_t errorProcess = 3;
  int32_t keyLength = 16;
  int32_t partial = 0;
  const char* patternType = nullptr;
  int32_t position = 0;
  std::string patternChars;
  int32_t nullProcess = 0;
  int32_t encDuplication = 2;
  int32_t decDuplication = 2;
  int32_t compatibility = 1;
  int32_t aclCount = 0;
  const AccessControlData* acl = nullptr;
  int32_t unauthorizedDecryption = 0;
  int32_t prio = 0;
  int32_t audit[4] = {0, 0, 0, 0};
  int32_t decryptCountUnit = 0;
  int32_t decryptCnt = 0;
  int32_t targetExist = 4;
  int32_t orgFileHandling = 2;
  const char* orgBackupExtension = "";
  int32_t encFileDelete = 0;
  int32_t encDataVerify = 0;
  int32_t orgDataVerify = 0;
  int32_t mode = QOR_MODE_CBC;
};

// Owns a key manager and releases it through its Destroy slot.
struct MgrDeleter {
  void operator()(KeyMgr* m) const { m->Destroy(&m); }
};
using Mgr = std::unique_ptr<KeyMgr, MgrDeleter>;

inline Mgr NewMgr(QOR_HmacFn hmac = nullptr) { return Mgr(KeyMgr_Create(hmac)); }

inline KeyInfo* AddPolicy(KeyMgr* mgr, const PolicyInfoArgs& a, const KeyList& keys) {
  const DataBuffer name = Buffer(a.name);
  const DataBuffer chars = Buffer(a.patternChars);
  return mgr->AddKeyInfo(mgr, &name, a.algorithm, a.policyKind, a.ivType, a.errorProcess,
                         a.keyLength, keys.count(), keys.head(), 1, a.partial, a.patternType,
                         a.position, a.patternChars.empty() ? nullptr : &chars, a.nullProcess,
                         a.encDuplication, a.decDuplication, a.compatibility, 0, a.aclCount,
                         a.acl, a.unauthorizedDecryption, a.prio, a.audit[0], a.audit[1],
                         a.audit[2], a.audit[3], a.decryptCountUnit, a.decryptCnt,
                         a.targetExist, a.orgFileHandling, a.orgBackupExtension,
                         a.encFileDelete, a.encDataVerify, a.orgDataVerify, a.mode);
}

// A rule list built from texts (owned by the caller until handed to an entry).
inline AccessRule* Rules(std::initializer_list<const char*> patterns) {
  AccessRule* first = nullptr;
  AccessRule** link = &first;
  for (const char* p : patterns) {
    auto* r = static_cast<AccessRule*>(std::calloc(1, sizeof(AccessRule)));
    std::strncpy(r->pattern, p, sizeof(r->pattern) - 1);
    *link = r;
    link = &r->next;
  }
  return first;
}

// An entry list released with AccessControlData_Destroy.
class AclList {
 public:
  AclList() = default;
  ~AclList() { AccessControlData_Destroy(first_); }
  AclList(const AclList&) = delete;
  AclList& operator=(const AclList&) = delete;

  AccessControlData& Add() {
    auto* e = static_cast<AccessControlData*>(std::calloc(1, sizeof(AccessControlData)));
    AccessControlData** link = &first_;
    while (*link != nullptr) link = &(*link)->next;
    *link = e;
    return *e;
  }
  const AccessControlData* get() const { return first_; }

 private:
  AccessControlData* first_ = nullptr;
};

}  // namespace qor::test
