// A key set of every policy kind, installed into the library instance for the
// entry-point fuzz targets. It is built as the agent sends it (a policy
// record through the record parser), and no agent is reachable, so a value
// that names an unknown key version fails at once instead of waiting.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/policy/policy_writer.h"
#include "api/instance_testing.h"
#include "qor/config.h"
#include "qor/key_mgr.h"
#include "qor/policy.h"
#include "qor/qorcrypto.h"
#include "qor/qostring.h"
#include "service/crypto/qor_crypto.h"
#include "service/table/service_table.h"

namespace qor::fuzz {

struct FuzzPolicy {
  const char* name;
  bool roundTrips;  // every value it encrypts decrypts back to itself
  bool pattern;     // encrypts a segment of the value only
};

// In record order; an entry's index is what the fuzz input selects.
inline const std::vector<FuzzPolicy>& Policies() {
  static const std::vector<FuzzPolicy> policies = {
      {"aria128.two.versions", true, false}, {"aes256.record.standard", true, false},
      {"seed.version0", true, false},        {"tdes192.null", true, false},
      {"lea128.dup.input", false, false},    {"fpe.digits", false, false},
      {"sha256.oneway", false, false},       {"aria.exclude.front", true, true},
      {"aes.char.back", true, true},         {"seed.middle", true, true},
      {"aria.acl.masked", false, false},     {"aes128.dup.error", false, false},
  };
  return policies;
}

// The stored format reserves three one-byte plaintexts: 0x00 reads back as
// empty, 0x06 as null and 0x07 as empty (with null processing). A value, or
// under a pattern a segment, of just that byte does not come back as itself;
// such a segment is always the last byte of the value (or of a piece).
inline bool ReservedByte(unsigned char byte) { return byte == 0x00 || byte == 0x06 || byte == 0x07; }
inline bool EndsInReservedSegment(const FuzzPolicy& policy, const unsigned char* data, size_t size) {
  return size > 0 && (size == 1 || policy.pattern) && ReservedByte(data[size - 1]);
}

inline agent::Bytes Key(size_t length, uint8_t seed) {
  agent::Bytes key(length);
  for (size_t i = 0; i < length; ++i) key[i] = static_cast<uint8_t>(seed + 13 * i);
  return key;
}

inline agent::PolicyDesc Policy(const char* name, const char* algorithm, uint64_t bits,
                                std::vector<uint64_t> versions) {
  agent::PolicyDesc p;
  p.name = name;
  p.algorithm = algorithm;
  p.keyBits = bits;
  for (uint64_t v : versions) {
    agent::KeyVersionDesc k;
    k.version = v;
    k.key = Key(bits / 8, static_cast<uint8_t>(v * 31 + bits));
    p.keys.push_back(k);
  }
  return p;
}

inline agent::Bytes PolicyRecord() {
  agent::PolicySetDesc set;
  auto& ps = set.policies;
  ps.push_back(Policy("aria128.two.versions", "ARIA", 128, {2, 1}));
  ps.push_back(Policy("aes256.record.standard", "AES", 256, {7}));
  ps.back().ivType = "RECORD";
  ps.back().compatibility = "STANDARD";
  ps.push_back(Policy("seed.version0", "SEED", 128, {0}));
  ps.push_back(Policy("tdes192.null", "TDES", 192, {3}));
  ps.back().nullProcess = 1;
  ps.back().ivType = "RECORD";
  ps.push_back(Policy("lea128.dup.input", "LEA", 128, {4}));
  ps.back().duplication = "RETURN_INPUT";
  ps.back().errorProcess = "RETURN_NULL";
  ps.push_back(Policy("fpe.digits", "FPE", 128, {1}));
  ps.push_back(Policy("sha256.oneway", "SHA256", 256, {1}));
  ps.push_back(Policy("aria.exclude.front", "ARIA", 256, {5}));
  ps.back().patternType = "EXCLUDE_STRING";
  ps.back().patternChars = "4";
  ps.back().position = "FRONT";
  ps.push_back(Policy("aes.char.back", "AES", 128, {6}));
  ps.back().patternType = "CHARACTER";
  ps.back().patternChars = "@";
  ps.back().position = "BACK";
  ps.push_back(Policy("seed.middle", "SEED", 128, {8}));
  ps.back().patternType = "MIDDLE";
  ps.back().patternChars = "2,6";
  ps.back().position = "FRONT";
  ps.push_back(Policy("aria.acl.masked", "ARIA", 128, {9}));
  ps.back().unauthorizedDecryption = "USER_DEFINED2";
  agent::AccessRuleDesc rule;
  rule.rules[0] = {"admin"};
  rule.decryptAllowed = 1;
  ps.back().acl.push_back(rule);
  ps.push_back(Policy("aes128.dup.error", "AES", 128, {10}));
  ps.back().duplication = "ERROR";
  return agent::EncodePolicySet(set);
}

// The instance's home: a temporary directory, gone when the process ends.
struct ScratchHome {
  std::string path;
  ScratchHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qor-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) abort();
    path = pattern;
  }
  ~ScratchHome() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

// Installs the key set once per process; aborts when it cannot.
inline void InstallKeySet() {
  static ScratchHome home;
  static const bool installed = [] {
    (void)std::freopen("/dev/null", "w", stdout);  // nothing of the library's may reach it
    QORApiConf* config = QORGet_DefaultInfo();
    if (config == nullptr) abort();
    x_strcpy(config->data->home, sizeof(config->data->home), home.path.c_str());
    config->data->useLog = 0;
    config->data->bypass = 0;
    api::testing::SetSocketFactory(
        [](const char*, uint16_t, const char*, uint16_t, int, ErrorInfo*) -> QORSocket* {
          return nullptr;
        });
    QORCrypto_SetConfigData(config->data);
    QORCrypto_Create(&gCrypto, crypto::TableMode::kReal);
    agent::Bytes record = PolicyRecord();
    KeyMgr* mgr = KeyMgr_Create(nullptr);
    const DataBuffer buffer{static_cast<int32_t>(record.size()), record.data()};
    if (mgr == nullptr || KeyMgrParse(&buffer, mgr, 0, 0) != 1) abort();
    api::testing::InstallKeySet(mgr, config);
    return true;
  }();
  (void)installed;
}

}  // namespace qor::fuzz
