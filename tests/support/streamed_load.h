// Loads one sealed key-set answer twice, whole (as Packet_OpGetKeyinfo2KeyMgr
// reads a packet) and piece by piece through StreamedKeySet, and describes
// what each left behind: every AddKeyInfo call with all it was given, the
// policy hash, the result, the error and the audit switch. The two
// descriptions must be equal for any answer.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agent/download/streamed_key_set.h"
#include "agent/policy/key_mgr_parse.h"
#include "agent/socket/client_protocol.h"
#include "qor/access_control.h"
#include "qor/key_download.h"
#include "qor/key_mgr.h"

namespace qor::test {

// A key manager whose AddKeyInfo, SetPolicyHash and Clear also write to a
// text: what stays after the last Clear is the key set it holds.
class RecordingKeyMgr {
 public:
  RecordingKeyMgr() : mgr_(KeyMgr_Create(nullptr)) {
    if (mgr_ == nullptr) return;
    Slots().push_back({mgr_, this});
    add_ = mgr_->AddKeyInfo;
    hash_ = mgr_->SetPolicyHash;
    clear_ = mgr_->Clear;
    mgr_->AddKeyInfo = &Add;
    mgr_->SetPolicyHash = &Hash;
    mgr_->Clear = &ClearAll;
  }
  ~RecordingKeyMgr() {
    auto& slots = Slots();
    for (size_t i = 0; i < slots.size(); ++i) {
      if (slots[i].mgr == mgr_) slots.erase(slots.begin() + static_cast<long>(i));
    }
    if (mgr_ != nullptr) mgr_->Destroy(&mgr_);
  }
  RecordingKeyMgr(const RecordingKeyMgr&) = delete;
  RecordingKeyMgr& operator=(const RecordingKeyMgr&) = delete;

  KeyMgr* get() const { return mgr_; }
  // The adds since the last Clear, the hash last set, the policy count.
  std::string State() const {
    return adds_ + "hash " + hashText_ + "\ncount " + std::to_string(mgr_->GetPolicyCount(mgr_));
  }

 private:
  struct Slot {
    KeyMgr* mgr;
    RecordingKeyMgr* self;
  };
  static std::vector<Slot>& Slots() {
    static std::vector<Slot> slots;
    return slots;
  }
  static RecordingKeyMgr* Of(KeyMgr* mgr) {
    for (const Slot& s : Slots()) {
      if (s.mgr == mgr) return s.self;
    }
    std::abort();
  }

  static void Text(std::string* out, const char* text) {
    *out += text != nullptr ? "\"" + std::string(text) + "\"" : std::string("null");
    *out += ' ';
  }
  static void Raw(std::string* out, const unsigned char* bytes, size_t n) {
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < n; ++i) {
      *out += kHex[bytes[i] >> 4];
      *out += kHex[bytes[i] & 15];
    }
    *out += ' ';
  }
  static void Number(std::string* out, int64_t v) { *out += std::to_string(v) + ' '; }
  static void Rules(std::string* out, const AccessRule* r) {
    *out += '[';
    for (; r != nullptr; r = r->next) Text(out, r->pattern);
    *out += "] ";
  }

  static KeyInfo* Add(KeyMgr* mgr, const DataBuffer* name, const char* algorithm,
                      int64_t policyKind, int64_t ivType, int32_t errorProcess, int32_t keyLength,
                      int32_t keyCount, const KeyEntry* keys, int32_t firstVersionFlag,
                      int32_t partial, const char* patternType, int32_t position,
                      const DataBuffer* patternChars, int32_t nullProcess, int32_t encDuplication,
                      int32_t decDuplication, int32_t compatibility, int32_t unused,
                      int32_t aclCount, const AccessControlData* acl,
                      int32_t unauthorizedDecryption, int32_t prio, int32_t audit1,
                      int32_t audit2, int32_t audit3, int32_t audit4, int32_t decryptCountUnit,
                      int32_t decryptCnt, int32_t targetExist, int32_t orgFileHandling,
                      const char* orgBackupExtension, int32_t encFileDelete,
                      int32_t encDataVerify, int32_t orgDataVerify, int32_t mode) {
    RecordingKeyMgr* self = Of(mgr);
    std::string& o = self->adds_;
    o += "add ";
    Raw(&o, name->data, static_cast<size_t>(name->length));
    Text(&o, algorithm);
    for (int64_t v : {policyKind, ivType, int64_t{errorProcess}, int64_t{keyLength},
                      int64_t{keyCount}, int64_t{firstVersionFlag}, int64_t{partial}}) {
      Number(&o, v);
    }
    for (const KeyEntry* k = keys; k != nullptr; k = k->next) {
      o += "key ";
      Number(&o, k->version);
      if (k->key != nullptr) Raw(&o, k->key, keyLength > 0 ? static_cast<size_t>(keyLength) : 0);
      Text(&o, k->status);
      Number(&o, k->firstTime);
      Number(&o, k->secondTime);
    }
    Text(&o, patternType);
    Number(&o, position);
    if (patternChars != nullptr && patternChars->data != nullptr && patternChars->length > 0) {
      Raw(&o, patternChars->data, static_cast<size_t>(patternChars->length));
    }
    for (int64_t v : {nullProcess, encDuplication, decDuplication, compatibility, unused,
                      aclCount}) {
      Number(&o, v);
    }
    for (const AccessControlData* a = acl; a != nullptr; a = a->next) {
      o += "acl ";
      for (const AccessRule* r : {a->rules1, a->rules2, a->rules3, a->rules4}) Rules(&o, r);
      for (const char* t : {a->dateFrom, a->dateTo, a->timeFrom, a->timeTo}) Text(&o, t);
      Number(&o, a->decryptAllowed);
      Number(&o, a->encryptAllowed);
    }
    for (int64_t v : {unauthorizedDecryption, prio, audit1, audit2, audit3, audit4,
                      decryptCountUnit, decryptCnt, targetExist, orgFileHandling}) {
      Number(&o, v);
    }
    Text(&o, orgBackupExtension);
    for (int64_t v : {encFileDelete, encDataVerify, orgDataVerify, mode}) Number(&o, v);
    KeyInfo* info = self->add_(
        mgr, name, algorithm, policyKind, ivType, errorProcess, keyLength, keyCount, keys,
        firstVersionFlag, partial, patternType, position, patternChars, nullProcess,
        encDuplication, decDuplication, compatibility, unused, aclCount, acl,
        unauthorizedDecryption, prio, audit1, audit2, audit3, audit4, decryptCountUnit,
        decryptCnt, targetExist, orgFileHandling, orgBackupExtension, encFileDelete,
        encDataVerify, orgDataVerify, mode);
    o += info != nullptr ? "added\n" : "refused\n";
    return info;
  }
  static void Hash(KeyMgr* mgr, const unsigned char* hash) {
    RecordingKeyMgr* self = Of(mgr);
    // A null hash leaves the one set before.
    if (hash != nullptr) {
      self->hashText_.clear();
      Raw(&self->hashText_, hash, QOR_POLICY_HASH_SIZE);
    }
    self->hash_(mgr, hash);
  }
  static void* ClearAll(KeyMgr* mgr) {
    RecordingKeyMgr* self = Of(mgr);
    self->adds_.clear();
    return self->clear_(mgr);
  }

  KeyMgr* mgr_;
  decltype(KeyMgr::AddKeyInfo) add_ = nullptr;
  decltype(KeyMgr::SetPolicyHash) hash_ = nullptr;
  decltype(KeyMgr::Clear) clear_ = nullptr;
  std::string adds_;
  std::string hashText_ = std::string(2 * QOR_POLICY_HASH_SIZE, '0') + " ";
};

struct LoadOutcome {
  bool taken = false;         // the streamed reader took the body
  std::string state;          // key set, result, error, audit switch
  int addedBeforeFinish = 0;  // policies the key manager held when the last piece was in
};

inline std::string Finished(const RecordingKeyMgr& mgr, bool loaded, const ErrorInfo& error) {
  return mgr.State() + "\nresult " + (loaded ? "1" : "0") + " code " +
         std::to_string(error.code) + " " + error.message + "\naudit " +
         std::to_string(agent::AuditFlag.load());
}

// The session key and IV of every answer here.
inline void TestSessionKey(unsigned char key[agent::kSessionKeySize],
                           unsigned char iv[agent::kSessionIvSize]) {
  unsigned char seed[agent::kSeedSize];
  for (size_t i = 0; i < sizeof seed; ++i) seed[i] = static_cast<unsigned char>(i * 7 + 1);
  agent::DeriveSessionKey(seed, agent::kOpKeySet, key, iv);
}

// |plain| sealed as the agent seals an answer.
inline std::vector<unsigned char> SealForTest(const std::vector<unsigned char>& plain) {
  unsigned char key[agent::kSessionKeySize], iv[agent::kSessionIvSize];
  TestSessionKey(key, iv);
  UACipherUtil* cipher = agent::CreateSessionCipher(key, iv);
  DataBuffer body{0, nullptr};
  agent::EncryptAnswer(cipher, plain.data(), static_cast<int32_t>(plain.size()), &body);
  cipher->Destroy(&cipher);
  std::vector<unsigned char> out(body.data, body.data + body.length);
  std::free(body.data);
  return out;
}

// The sealed |body| read whole, as a packet.
inline LoadOutcome LoadWhole(const std::vector<unsigned char>& body, int32_t cryptoMode,
                             int32_t compatibility) {
  unsigned char key[agent::kSessionKeySize], iv[agent::kSessionIvSize];
  TestSessionKey(key, iv);
  UACipherUtil* cipher = agent::CreateSessionCipher(key, iv);
  RecordingKeyMgr mgr;
  Packet packet{};
  packet.opcode = agent::kOpKeySet;
  packet.recordCount = 1;
  packet.length = static_cast<int32_t>(body.size());
  packet.data = static_cast<unsigned char*>(std::calloc(body.size() + 2, 1));
  if (!body.empty()) std::memcpy(packet.data, body.data(), body.size());
  agent::AuditFlag.store(0);
  ErrorInfo error{};
  const bool loaded =
      Packet_OpGetKeyinfo2KeyMgr(&packet, mgr.get(), cipher, &error, cryptoMode, compatibility) ==
      1;
  DestroyPacket(&packet);
  cipher->Destroy(&cipher);
  return {false, Finished(mgr, loaded, error)};
}

// The sealed |body| handed over in pieces of the sizes |pieces| gives in turn
// (0 stands for 1), streamed from |streamFrom| bytes on.
template <class Pieces>
LoadOutcome LoadStreamed(const std::vector<unsigned char>& body, int32_t cryptoMode,
                         int32_t compatibility, uint32_t streamFrom, Pieces pieces) {
  unsigned char key[agent::kSessionKeySize], iv[agent::kSessionIvSize];
  TestSessionKey(key, iv);
  RecordingKeyMgr mgr;
  agent::AuditFlag.store(0);
  agent::StreamedKeySet stream(key, iv, mgr.get(), cryptoMode, compatibility, streamFrom);
  unsigned char* room = stream.Begin(agent::kOpKeySet, static_cast<uint32_t>(body.size()));
  if (room == nullptr) return {false, ""};
  size_t done = 0;
  while (done < body.size()) {
    size_t n = pieces();
    n = n == 0 ? 1 : n;
    n = n < body.size() - done ? n : body.size() - done;
    std::memcpy(room + done, body.data() + done, n);
    done += n;
    stream.Arrived(static_cast<uint32_t>(done));
  }
  const int early = mgr.get()->GetPolicyCount(mgr.get());
  ErrorInfo error{};
  const bool loaded = stream.Finish(&error);
  return {true, Finished(mgr, loaded, error), early};
}

}  // namespace qor::test
