// The file policies of fuzz_file and its seeds: a key set of its own, built
// from a policy record as the agent sends it, used through the crypto
// service's file operations directly. Each policy sets the file options a
// decryption run branches on (header type, digests, duplicate check, target
// rule, source handling, error option).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "agent/policy/policy_writer.h"
#include "installed_key_set.h"
#include "qor/key_mgr.h"
#include "qor/policy.h"

namespace qor::fuzz {

// In record order; the fuzz input selects one by index.
inline const std::vector<const char*>& FilePolicies() {
  static const std::vector<const char*> names = {
      "file.aes128.verify",  // type 2, both digests, overwrite
      "file.seed.v0",        // type 1, both digests, encrypted source removed
      "file.aria256.copy",   // duplicate check copies a plaintext source
      "file.lea.errcopy",    // error option 3: the input replaces a failed output
      "file.aes256.refuse",  // duplicate check refuses a plaintext source; bypass
  };
  return names;
}

inline agent::Bytes FilePolicyRecord() {
  agent::PolicySetDesc set;
  auto& ps = set.policies;
  ps.push_back(Policy("file.aes128.verify", "AES", 128, {3}));
  ps.back().targetExist = "OVERWRITE";
  ps.back().encDataVerify = 1;
  ps.back().orgDataVerify = 1;
  ps.push_back(Policy("file.seed.v0", "SEED", 128, {0}));
  ps.back().targetExist = "OVERWRITE";
  ps.back().encDataVerify = 1;
  ps.back().orgDataVerify = 1;
  ps.back().encFileDelete = 1;
  ps.push_back(Policy("file.aria256.copy", "ARIA", 256, {2, 1}));
  ps.back().targetExist = "OVERWRITE";
  ps.back().duplication = "RETURN_INPUT";
  ps.push_back(Policy("file.lea.errcopy", "LEA", 128, {1}));
  ps.back().targetExist = "OVERWRITE";
  ps.back().errorProcess = "RETURN_INPUT";
  ps.back().encDataVerify = 1;
  ps.push_back(Policy("file.aes256.refuse", "AES", 256, {4}));
  ps.back().targetExist = "BYPASS";
  ps.back().duplication = "ERROR";
  ps.back().orgDataVerify = 1;
  return agent::EncodePolicySet(set);
}

// The file key set, parsed once per process.
inline KeyMgr* FileKeys() {
  static KeyMgr* mgr = [] {
    agent::Bytes record = FilePolicyRecord();
    KeyMgr* keys = KeyMgr_Create(nullptr);
    const DataBuffer buffer{static_cast<int32_t>(record.size()), record.data()};
    if (keys == nullptr || KeyMgrParse(&buffer, keys, 0, 0) != 1) abort();
    return keys;
  }();
  return mgr;
}

inline int FindFilePolicy(DataBuffer* name, KeyInfo** out) {
  *out = FileKeys()->GetKeyInfo(FileKeys(), name);
  return *out != nullptr ? 0 : 1;
}
inline int NoKeySetUpdate(const char*, uint16_t) { return -1; }
inline int NoKeyFetch(int, const char*, int) { return 1; }

}  // namespace qor::fuzz
