// No value ever reaches a message, a log line or an audit record. Marked
// values go through every failure path of every value and large-object
// entry point, with the log at DEBUG and audit on; then the last-error text
// after every call, every log file, every audit file and standard error are
// searched for the values.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "api/entry_fixture.h"
#include "qor/qoaudit.h"
#include "qor/qolog.h"

namespace {

using qor::test::Data;
using qor::test::KeyList;
using qor::test::Owned;
using qor::test::PolicyInfoArgs;
using qor::test::ReadFile;
using qor::test::RunInChild;
using qor::test::TempDir;

constexpr char kMark[] = "QX7LEAKMARK";

// Policies whose failures echoed the caller's value: digits (a value with
// anything but digits fails), refusal of double encryption, refusal of
// decrypting what is not encrypted, and a plain block cipher.
struct LeakPolicy {
  const char* name;
  const char* algorithm;
  int keyLength;
  int encDuplication;
  int decDuplication;
};
const LeakPolicy kPolicies[] = {
    {"leak.digits", "FPE", 16, 0, 0},
    {"leak.nodouble", "AES", 16, 2, 0},
    {"leak.strict", "AES", 16, 0, 2},
    {"leak.plain", "ARIA", 32, 0, 0},
};

KeyMgr* NewLeakKeySet() {
  KeyMgr* mgr = KeyMgr_Create(nullptr);
  if (mgr == nullptr) return nullptr;
  for (const LeakPolicy& p : kPolicies) {
    const KeyList keys({3}, p.keyLength);
    PolicyInfoArgs args;
    args.name = p.name;
    args.algorithm = p.algorithm;
    args.keyLength = p.keyLength;
    args.errorProcess = 1;  // failures are reported
    args.compatibility = 0;
    args.encDuplication = p.encDuplication;
    args.decDuplication = p.decDuplication;
    for (int32_t& a : args.audit) a = 0xFF;  // every outcome audited
    if (qor::test::AddPolicy(mgr, args, keys) == nullptr) {
      mgr->Destroy(&mgr);
      return nullptr;
    }
  }
  return mgr;
}

// Every file under |dir|, concatenated.
std::string AllFiles(const std::filesystem::path& dir) {
  std::string all;
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, ec)) {
    if (entry.is_regular_file()) all += ReadFile(entry.path()) + "\n";
  }
  return all;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// Runs the value through every entry point under |policy|, both ways and in
// both forms, and records every text a message must not hold.
class Pusher {
 public:
  // The mark alone catches a message that quotes part of a value.
  Pusher() : secrets_{kMark, Hex(kMark)} {}

  // Every entry point, one value; false when a message held a value.
  void Push(const char* policy, const std::string& value) {
    Remember(value);
    for (int mode : {0, 1}) {
      std::string in = value;
      Owned e(QOR_EncryptExUdf(policy, Data(in), Size(in), "", "", "", mode));
      Check("EncryptExUdf", policy, e.length());
      Remember(e.str());
      in = value;
      Owned d(QOR_DecryptExUdf(policy, Data(in), Size(in), "", "", "", mode));
      Check("DecryptExUdf", policy, d.length());
      // A ciphertext handed back in goes through the double-encryption and
      // decryption paths as a value of its own.
      if (e.length() > 0) {
        std::string again = e.str();
        Owned twice(QOR_EncryptExUdf(policy, Data(again), Size(again), "", "", "", mode));
        Check("EncryptExUdf(ciphertext)", policy, twice.length());
      }

      std::vector<unsigned char> out(value.size() * 4 + 4096);
      in = value;
      Check("EncryptExMsSql", policy,
            QOR_EncryptExMsSql(policy, Data(in), Size(in), out.data(), mode, 0));
      in = value;
      Check("DecryptExMsSql", policy,
            QOR_DecryptExMsSql(policy, Data(in), Size(in), out.data(), mode, 0));

      std::vector<unsigned char> lob(value.size() * 4 + 16384);
      in = value;
      Check("EncryptLobEx", policy,
            static_cast<int>(QOR_EncryptLobEx(policy, Data(in), in.size(), lob.data(), mode, 0)));
      in = value;
      Check("DecryptLobEx", policy,
            static_cast<int>(QOR_DecryptLobEx(policy, Data(in), in.size(), lob.data(), mode, 0)));
    }
    std::string in = value;
    char* text = QOR_Encrypt(policy, Data(in), Size(in), 0);
    Check("Encrypt", policy, text != nullptr ? 1 : -1);
    if (text != nullptr) Remember(text);
    std::free(text);
    in = value;
    char* plain = QOR_Decrypt(policy, Data(in), Size(in), 0);
    Check("Decrypt", policy, plain != nullptr ? 1 : -1);
    std::free(plain);
  }

  // Fails with the first remembered value found in |text|.
  std::string FindIn(const std::string& where, const std::string& text) const {
    for (const std::string& v : secrets_) {
      if (text.find(v) != std::string::npos) return where + " holds a value: " + v;
    }
    return "";
  }

  const std::string& problem() const { return problem_; }
  int failures() const { return failures_; }
  bool Saw(int code) const {
    for (int c : codes_) {
      if (c == code) return true;
    }
    return false;
  }

 private:
  static int Size(const std::string& s) { return static_cast<int>(s.size()); }

  void Remember(const std::string& value) {
    // Short texts would match timestamps and numbers in any log line.
    if (value.size() >= 10) {
      secrets_.push_back(value);
      secrets_.push_back(Hex(value));
    }
  }

  void Check(const char* entry, const char* policy, int result) {
    if (result >= 0) return;
    ++failures_;
    codes_.push_back(QOR_GetLastErrorCode());
    const std::string found =
        FindIn(std::string(entry) + " under " + policy + ": message \"" + QOR_GetLastErrorMsg() +
                   "\"",
               QOR_GetLastErrorMsg());
    if (problem_.empty()) problem_ = found;
  }

  std::vector<std::string> secrets_;
  std::vector<int> codes_;
  std::string problem_;
  int failures_ = 0;
};

TEST(ValueLeak, NoValueInAnyMessageLogOrAuditRecord) {
  TempDir home;
  std::filesystem::create_directories(home / "logs");
  const std::string errPath = home / "stderr.txt";
  EXPECT_EQ(RunInChild([&]() -> std::string {
    // Standard error too: the logger copies failures there.
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    CHILD_CHECK(err >= 0 && dup2(err, 2) == 2);
    close(err);

    QORApiConf* config = QORGet_DefaultInfo();
    CHILD_CHECK(config != nullptr);
    x_strcpy(config->data->home, sizeof(config->data->home), home.path().c_str());
    config->data->bypass = 0;
    qor::api::testing::SetSocketFactory(&qor::test::NoAgent);
    QORCrypto_SetConfigData(config->data);
    QORCrypto_Create(&gCrypto, qor::crypto::TableMode::kReal);
    KeyMgr* mgr = NewLeakKeySet();
    CHILD_CHECK(mgr != nullptr);
    qor::api::testing::InstallKeySet(mgr, config);
    CHILD_CHECK(QOLog_Init((home / "logs/qor_api.log").c_str(), QOR_CONF_LOG_DEBUG) == 0);
    CHILD_CHECK(QOAudit_Init(home.path().c_str()) == 0);

    const std::vector<std::string> values = {
        std::string("123-45-6789-") + kMark,      // digits policy: not all digits
        std::string(kMark) + std::string(300, '7'),  // long enough to have echoed a kilobyte
        std::string("$.") + kMark + "notbase64!!",   // looks encrypted, is not
        std::string(kMark) + "\x01\x02\xfe\xff binary",
        std::string(5000, 'Q') + kMark,              // several large-object pieces
    };
    Pusher pusher;
    for (const LeakPolicy& p : kPolicies) {
      for (const std::string& v : values) pusher.Push(p.name, v);
    }
    if (!pusher.problem().empty()) return pusher.problem();
    // The paths that echoed values were all taken.
    CHILD_CHECK(pusher.failures() > 20);
    CHILD_CHECK(pusher.Saw(3031));
    CHILD_CHECK(pusher.Saw(3035));

    QOAudit_Uninit();
    QOLog_Uninit();
    const std::string logs = AllFiles(home / "logs");
    CHILD_CHECK(logs.find("key or data check(length ") != std::string::npos);
    const std::string audit = AllFiles(home / "audit");
    CHILD_CHECK(audit.find(",E,F,DUP") != std::string::npos);
    CHILD_CHECK(audit.find(",D,F,KED") != std::string::npos);
    for (const auto& [where, text] : {std::pair<std::string, std::string>{"log", logs},
                                      {"audit", audit},
                                      {"standard error", ReadFile(errPath)}}) {
      const std::string found = pusher.FindIn(where, text);
      if (!found.empty()) return found;
    }
    return "";
  }), "");
}

}  // namespace
