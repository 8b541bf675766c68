// A key set installed into the instance for the entry-point tests: a handful
// of policies built through the key manager, a configuration whose home is a
// temporary directory, no agent (every socket the instance asks for fails),
// and the crypto service table filled as initialisation fills it.
#pragma once

#include <cstdlib>
#include <string>

#include "api/instance_testing.h"
#include "engine/policy_fixture.h"
#include "qor/config.h"
#include "qor/key_mgr.h"
#include "qor/qostring.h"
#include "qorapi.h"
#include "service/crypto/qor_crypto.h"
#include "service/table/service_table.h"
#include "support/test_support.h"

namespace qor::test {

// AES-256, versions 7 (head) and 6, a record IV in every value, "$." texts.
inline constexpr char kAesRecord[] = "aes256.record";
// ARIA-256, version 5, the policy IV.
inline constexpr char kAria[] = "aria256.policy";
// SEED, version 0 (no prefix), compatibility texts without "$.".
inline constexpr char kSeedCompat[] = "seed.compat";
// AES-128, version 1, null and empty values encrypted.
inline constexpr char kNullEncrypted[] = "aes128.null";
// AES-128, version 2, refuses to encrypt what is already encrypted.
inline constexpr char kNoDouble[] = "aes128.nodouble";
// AES-256, version 0, the policy IV: binary values of the bare CBC layout.
inline constexpr char kAesPlain[] = "aes256.plain";
// Three-key triple DES (8-byte blocks), version 3, a record IV.
inline constexpr char kDes3Record[] = "des3.record";

struct EntryPolicy {
  const char* name;
  const char* algorithm;
  int keyLength;
  std::initializer_list<int64_t> versions;
  int64_t ivType = QOR_IV_POLICY;
  int compatibility = 0;
  int nullProcess = 0;
  int encDuplication = 0;
};

inline const EntryPolicy kEntryPolicies[] = {
    {kAesRecord, "AES", 32, {7, 6}, QOR_IV_RECORD},
    {kAria, "ARIA", 32, {5}},
    {kSeedCompat, "SEED", 16, {0}, QOR_IV_POLICY, 1},
    {kNullEncrypted, "AES", 16, {1}, QOR_IV_POLICY, 0, 1},
    {kNoDouble, "AES", 16, {2}, QOR_IV_POLICY, 0, 0, 2},
    {kAesPlain, "AES", 32, {0}},
    {kDes3Record, "TDES", 24, {3}, QOR_IV_RECORD},
};

// A new key manager holding every policy above (the keys of a version are
// the same in every set, so values outlive a reinstall), or nullptr.
inline KeyMgr* NewEntryKeySet() {
  KeyMgr* mgr = KeyMgr_Create(nullptr);
  if (mgr == nullptr) return nullptr;
  for (const EntryPolicy& p : kEntryPolicies) {
    const KeyList keys(p.versions, p.keyLength);
    PolicyInfoArgs args;
    args.name = p.name;
    args.algorithm = p.algorithm;
    args.keyLength = p.keyLength;
    args.ivType = p.ivType;
    args.errorProcess = 1;  // failures are failures, not pass-throughs
    args.compatibility = p.compatibility;
    args.nullProcess = p.nullProcess;
    args.encDuplication = p.encDuplication;
    args.decDuplication = 0;
    if (AddPolicy(mgr, args, keys) == nullptr) {
      mgr->Destroy(&mgr);
      return nullptr;
    }
  }
  return mgr;
}

inline QORSocket* NoAgent(const char*, uint16_t, const char*, uint16_t, int, ErrorInfo*) {
  return nullptr;
}

// Owns the configuration the instance reads; call Install() in the child
// process that runs the test.
class EntryKeySet {
 public:
  EntryKeySet() = default;
  EntryKeySet(const EntryKeySet&) = delete;
  EntryKeySet& operator=(const EntryKeySet&) = delete;

  // False when the configuration or the key set could not be built.
  bool Install() {
    if (config_ == nullptr) {
      config_ = QORGet_DefaultInfo();
      if (config_ == nullptr) return false;
      QORApiData* data = config_->data;
      x_strcpy(data->home, sizeof(data->home), home_.path().c_str());
      data->useLog = 0;
      data->bypass = 0;
      api::testing::SetSocketFactory(&NoAgent);
      QORCrypto_SetConfigData(data);
      QORCrypto_Create(&gCrypto, crypto::TableMode::kReal);
    }
    KeyMgr* mgr = NewEntryKeySet();
    if (mgr == nullptr) return false;
    api::testing::InstallKeySet(mgr, config_);
    return true;
  }
  const TempDir& home() const { return home_; }

 private:
  TempDir home_;
  QORApiConf* config_ = nullptr;  // lives as long as the child process
};

// A result DataBuffer released at scope end.
struct Owned {
  DataBuffer value;
  ~Owned() { std::free(value.data); }
  Owned(DataBuffer v) : value(v) {}  // NOLINT: takes the entry point's result
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  int length() const { return value.length; }
  std::string str() const {
    return value.data == nullptr || value.length <= 0
               ? std::string()
               : std::string(reinterpret_cast<const char*>(value.data),
                             static_cast<size_t>(value.length));
  }
};

// The bytes of |s| as the entry points take them.
inline unsigned char* Data(std::string& s) { return reinterpret_cast<unsigned char*>(s.data()); }

}  // namespace qor::test
