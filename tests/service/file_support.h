// A key set of file policies, a temporary directory, and one file run with
// everything it reports, for the file pipeline tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>

#include "engine/policy_fixture.h"
#include "qor/key_mgr.h"
#include "qor/qoaudit.h"
#include "qor/qorcrypto.h"
#include "qor/qorfile.h"
#include "service/value_support.h"
#include "support/test_support.h"

namespace qor::test {

// A file policy: AES-128, both digests, no duplicate check, failures are
// failures, the source left to the final unlink.
inline PolicyInfoArgs FilePolicy(const std::string& name) {
  PolicyInfoArgs args;
  args.name = name;
  args.algorithm = "AES";
  args.keyLength = 16;
  args.errorProcess = 1;
  args.encDuplication = 0;
  args.decDuplication = 0;
  args.targetExist = QOR_TARGET_OVERWRITE;
  args.orgFileHandling = 0;
  args.encDataVerify = 1;
  args.orgDataVerify = 1;
  return args;
}

// What one file run reported.
struct FileOutcome {
  int code = 0;
  std::string tag;
  std::string message;
  int plaintextVerified = 0;
  int ciphertextVerified = 0;
  int64_t time = 0;
  uint16_t keyVersion = 0;
  std::string keyName;
  int errorCode = 0;
};

inline FileOutcome OutcomeOf(const FileResult& r, const ErrorInfo& error) {
  FileOutcome o;
  o.code = r.code;
  o.tag = r.tag;
  o.message = r.message;
  o.plaintextVerified = r.plaintextVerified;
  o.ciphertextVerified = r.ciphertextVerified;
  o.time = r.time;
  o.keyVersion = r.keyVersion;
  o.keyName = r.keyName;
  o.errorCode = error.code;
  return o;
}

inline FileOutcome EncryptFile(const std::string& policy, const std::string& source,
                               const std::string& target, const char* identity = "app") {
  ErrorInfo error{};
  FileResult* r = QORCrypto_EncryptFile(static_cast<int>(policy.size()), policy.c_str(),
                                        source.c_str(), target.c_str(), &error, FindInKeySet,
                                        UpdateFails, identity, identity, identity);
  EXPECT_NE(nullptr, r);
  if (r == nullptr) return {};
  const FileOutcome o = OutcomeOf(*r, error);
  std::free(r);
  return o;
}

inline FileOutcome DecryptFile(const std::string& policy, const std::string& source,
                               const std::string& target, const char* identity = "app") {
  ErrorInfo error{};
  const FileResult r = QORCrypto_DecryptFile(static_cast<int>(policy.size()), policy.c_str(),
                                             source.c_str(), target.c_str(), &error, FindInKeySet,
                                             UpdateFails, FetchFails, identity, identity,
                                             identity);
  return OutcomeOf(r, error);
}

inline std::string RandomText(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Today's local date as the dated target names carry it (YYYYMMDD).
inline std::string Today() {
  const time_t now = std::time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char date[16];
  std::strftime(date, sizeof(date), "%Y%m%d", &local);
  return date;
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// A fresh key set and a working directory per test.
class FileService : public ValueService {
 protected:
  KeyInfo* AddFile(PolicyInfoArgs args, std::initializer_list<int64_t> versions = {0},
                   const char* status = "active") {
    return Add(std::move(args), versions, status);
  }

  std::string Path(const std::string& name) const { return dir_ / name; }

  TempDir dir_;
};

}  // namespace qor::test
