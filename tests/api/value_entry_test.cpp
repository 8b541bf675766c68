// The value entry points through the public interface, each test in a child
// process with its own instance and key set.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/entry_fixture.h"
#include "qor/qolog.h"
#include "support/descriptors.h"

namespace {

using qor::test::Data;
using qor::test::EntryKeySet;
using qor::test::Owned;
using qor::test::ReadFile;
using qor::test::RunInChild;

constexpr int kText = 0;
constexpr int kBinary = 1;

std::string Mixed(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 37 + 11);
  return s;
}

struct RoundTripCase {
  const char* policy;
  int version;        // 0: no prefix
  bool compatibility; // text without "$."
  bool recordIv;      // the same value encrypts differently each time
};

const RoundTripCase kRoundTrips[] = {
    {qor::test::kAesRecord, 7, false, true},
    {qor::test::kAria, 5, false, false},
    {qor::test::kSeedCompat, 0, true, false},
    {qor::test::kAesPlain, 0, false, false},
};

TEST(ValueEntry, UdfRoundTripsInTextAndBinaryForm) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    for (const RoundTripCase& c : kRoundTrips) {
      for (int mode : {kText, kBinary}) {
        for (const std::string& plain : {std::string("v"), std::string("0123456789abcdef"),
                                         Mixed(300)}) {
          std::string in = plain;
          const Owned first(QOR_EncryptExUdf(c.policy, Data(in), static_cast<int>(in.size()), "",
                                             "", "", mode));
          CHILD_CHECK(first.length() > 0);
          CHILD_CHECK(QOR_GetLastErrorCode() == 0);
          CHILD_CHECK(in == plain);
          const std::string cipher = first.str();
          if (mode == kText) {
            CHILD_CHECK((cipher.rfind("$.", 0) == 0) == !c.compatibility);
          } else if (c.version != 0) {
            CHILD_CHECK(cipher.size() > 3 && cipher[0] == 0 && cipher[1] == c.version &&
                        static_cast<uint8_t>(cipher[2]) == 0xFE);
          } else {
            CHILD_CHECK(cipher.size() == (plain.size() / 16 + 1) * 16);
          }
          std::string again = plain;
          const Owned second(QOR_EncryptExUdf(c.policy, Data(again),
                                              static_cast<int>(again.size()), "", "", "", mode));
          CHILD_CHECK((second.str() != cipher) == c.recordIv);

          std::string stored = cipher;
          const Owned back(QOR_DecryptExUdf(c.policy, Data(stored),
                                            static_cast<int>(stored.size()), "", "", "", mode));
          CHILD_CHECK(back.length() == static_cast<int>(plain.size()));
          CHILD_CHECK(back.str() == plain);
          CHILD_CHECK(back.value.data[back.length()] == '\0');
        }
      }
    }
    return "";
  }), "");
}

TEST(ValueEntry, TextEntriesReturnNewTexts) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    std::string plain = "4111-1111-1111-1111";
    char* text = QOR_Encrypt(qor::test::kAesRecord, Data(plain), static_cast<int>(plain.size()), 0);
    CHILD_CHECK(text != nullptr);
    CHILD_CHECK(std::string(text).rfind("$.", 0) == 0);
    char* back = QOR_Decrypt(qor::test::kAesRecord, reinterpret_cast<unsigned char*>(text),
                             static_cast<int>(strlen(text)), 1, "user", "host", "program");
    CHILD_CHECK(back != nullptr);
    CHILD_CHECK(std::string(back) == plain);
    std::free(back);

    // The text form is the one QOR_EncryptExUdf gives in mode 0.
    std::string stored = text;
    const Owned viaUdf(QOR_DecryptExUdf(qor::test::kAesRecord, Data(stored),
                                        static_cast<int>(stored.size()), nullptr, nullptr,
                                        nullptr, kText));
    CHILD_CHECK(viaUdf.str() == plain);
    std::free(text);

    // No data is a null value: refused without an error under a policy that
    // does not encrypt nulls, encrypted under one that does.
    CHILD_CHECK(QOR_Encrypt(qor::test::kAria, nullptr, 0, 0) == nullptr);
    CHILD_CHECK(QOR_GetLastErrorCode() == 0);
    char* null = QOR_Encrypt(qor::test::kNullEncrypted, nullptr, 5, 0);
    CHILD_CHECK(null != nullptr);
    const Owned marker(QOR_EncryptExUdf(qor::test::kNullEncrypted, nullptr, -2, nullptr, nullptr,
                                        nullptr, kText));
    CHILD_CHECK(marker.str() == null);
    std::free(null);

    // A failure is null with the reason in the last error.
    std::string bad = "$.not base64 at all";
    CHILD_CHECK(QOR_Decrypt(qor::test::kAria, Data(bad), static_cast<int>(bad.size()), 0) ==
                nullptr);
    CHILD_CHECK(QOR_GetLastErrorCode() == 3031);
    return "";
  }), "");
}

TEST(ValueEntry, MsSqlCopiesExactlyTheResult) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    for (int binary : {0, 1}) {
      for (int kind : {0, 1, 7}) {
        std::string plain = Mixed(40);
        std::vector<unsigned char> out(256, 0xAB);
        const int n = kind == 1 ? QOR_EncryptExMsSql(qor::test::kAria, Data(plain), 40,
                                                     out.data(), binary, kind, "a", "b", "c")
                                : QOR_EncryptExMsSql(qor::test::kAria, Data(plain), 40,
                                                     out.data(), binary, kind);
        CHILD_CHECK(n > 40);
        CHILD_CHECK(out[static_cast<size_t>(n)] == 0xAB);
        // The policy IV makes the result the one QOR_EncryptExUdf gives.
        const Owned udf(QOR_EncryptExUdf(qor::test::kAria, Data(plain), 40, nullptr, nullptr,
                                         nullptr, binary));
        CHILD_CHECK(udf.str() == std::string(reinterpret_cast<char*>(out.data()),
                                             static_cast<size_t>(n)));

        std::vector<unsigned char> back(256, 0xAB);
        const int m = kind == 1 ? QOR_DecryptExMsSql(qor::test::kAria, out.data(), n, back.data(),
                                                     binary, kind, "a", "b", "c")
                                : QOR_DecryptExMsSql(qor::test::kAria, out.data(), n, back.data(),
                                                     binary, kind);
        CHILD_CHECK(m == 40);
        CHILD_CHECK(std::memcmp(back.data(), plain.data(), 40) == 0);
        CHILD_CHECK(back[40] == 0xAB);
      }
    }
    // Without a place for the result nothing is encrypted.
    std::string plain = "value";
    CHILD_CHECK(QOR_EncryptExMsSql(qor::test::kAria, Data(plain), 5, nullptr, 0, 0) == -1);
    CHILD_CHECK(QOR_GetLastErrorCode() == 3001);
    CHILD_CHECK(QOR_DecryptExMsSql(qor::test::kAria, Data(plain), 5, nullptr, 0, 0) == -1);
    return "";
  }), "");
}

struct SpecialKind {
  int kind;
  int udfLength;  // the value QOR_EncryptExUdf is given for it
  bool identities;
};

TEST(ValueEntry, MsSqlKindsStandForEmptyAndNullValues) {
  const SpecialKind kinds[] = {{2, -1, false}, {3, -2, false}, {4, -1, true}, {5, -2, true}};
  EXPECT_EQ(RunInChild([&]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    for (const char* policy : {qor::test::kAria, qor::test::kNullEncrypted}) {
      for (const SpecialKind& k : kinds) {
        std::string data = "xyz";
        std::vector<unsigned char> out(128, 0xAB);
        const int n = k.identities ? QOR_EncryptExMsSql(policy, Data(data), 3, out.data(), 0,
                                                        k.kind, "a", "b", "c")
                                   : QOR_EncryptExMsSql(policy, Data(data), 3, out.data(), 0,
                                                        k.kind);
        CHILD_CHECK(data == " yz");
        const Owned udf(
            QOR_EncryptExUdf(policy, Data(data), k.udfLength, nullptr, nullptr, nullptr, 0));
        CHILD_CHECK(n == udf.length());
        if (n > 0) {
          CHILD_CHECK(udf.str() ==
                      std::string(reinterpret_cast<char*>(out.data()), static_cast<size_t>(n)));
        } else {
          CHILD_CHECK(out[0] == 0xAB);
        }
      }
    }
    return "";
  }), "");
}

TEST(ValueEntry, MissingKeyNameIsRefusedAndDecryptionLogsIt) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    CHILD_CHECK(QOLog_Init((keys.home() / "qor_api.log").c_str(), QOR_CONF_LOG_INFO) == 0);
    std::string value = "value";
    for (bool decrypt : {false, true}) {
      const Owned result(decrypt ? QOR_DecryptExUdf(nullptr, Data(value), 5, "", "", "", 0)
                                 : QOR_EncryptExUdf(nullptr, Data(value), 5, "", "", "", 0));
      CHILD_CHECK(result.length() == -1 && result.value.data == nullptr);
      CHILD_CHECK(QOR_GetLastErrorCode() == 3015);
      CHILD_CHECK(std::string(QOR_GetLastErrorMsg()) == "Key name is can not null");
    }
    const std::string log = ReadFile(QOLog_GetPath());
    const size_t at = log.find("QOR_DecryptExUdf [../QORApi:");
    CHILD_CHECK(at != std::string::npos);
    CHILD_CHECK(log.find("] >> Key name is can not null\n", at) != std::string::npos);
    CHILD_CHECK(log.find("QOR_EncryptExUdf") == std::string::npos);
    return "";
  }), "");
}

TEST(ValueEntry, UnknownPolicyFailsAfterAskingTheAgent) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    std::string value = "value";
    const Owned result(QOR_EncryptExUdf("no.such.policy", Data(value), 5, "", "", "", 0));
    CHILD_CHECK(result.length() == -1);
    CHILD_CHECK(QOR_GetLastErrorCode() == 3015);
    CHILD_CHECK(std::string(QOR_GetLastErrorMsg()).find("no.such.policy") != std::string::npos);
    std::vector<unsigned char> out(64, 0xAB);
    CHILD_CHECK(QOR_DecryptExMsSql("no.such.policy", Data(value), 5, out.data(), 0, 0) == -1);
    CHILD_CHECK(out[0] == 0xAB);
    return "";
  }), "");
}

// No key set and no agent: initialisation fails, and so does every entry.
TEST(ValueEntry, WithoutAKeySetEveryEntryFails) {
  qor::test::TempDir home;
  std::filesystem::create_directories(home / "logs");
  EXPECT_EQ(RunInChild([&]() -> std::string {
    setenv("QOR_HOME", home.path().c_str(), 1);
    unsetenv("QOR_BYPASS");
    qor::api::testing::SetSocketFactory(&qor::test::NoAgent);
    std::string value = "value";
    std::vector<unsigned char> out(64, 0xAB);
    const Owned udf(QOR_EncryptExUdf(qor::test::kAria, Data(value), 5, "", "", "", 0));
    CHILD_CHECK(udf.length() == -1 && udf.value.data == nullptr);
    const Owned udfBack(QOR_DecryptExUdf(qor::test::kAria, Data(value), 5, "", "", "", 1));
    CHILD_CHECK(udfBack.length() == -1 && udfBack.value.data == nullptr);
    CHILD_CHECK(QOR_Encrypt(qor::test::kAria, Data(value), 5, 0) == nullptr);
    CHILD_CHECK(QOR_Decrypt(qor::test::kAria, Data(value), 5, 0) == nullptr);
    CHILD_CHECK(QOR_EncryptExMsSql(qor::test::kAria, Data(value), 5, out.data(), 0, 0) == -1);
    CHILD_CHECK(QOR_DecryptExMsSql(qor::test::kAria, Data(value), 5, out.data(), 0, 0) == -1);
    CHILD_CHECK(QOR_EncryptLobEx(qor::test::kAria, Data(value), 5, out.data(), 0, 0) == -1);
    CHILD_CHECK(QOR_DecryptLobEx(qor::test::kAria, Data(value), 5, out.data(), 0, 0) == -1);
    CHILD_CHECK(out[0] == 0xAB);
    CHILD_CHECK(QOR_IsInit() == 1);
    return "";
  }), "");
}

using qor::test::WriteStamp;

// A failed key-set update fails value calls with -1 and large-object calls
// with 0, writing nothing; the old key set stays in service.
TEST(ValueEntry, FailedKeyUpdateFailsTheCall) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    const std::string stamp = keys.home() / "conf/.qorupdate.dat";
    std::filesystem::create_directories(keys.home() / "conf");
    CHILD_CHECK(WriteStamp(stamp, 1));
    CHILD_CHECK(QOR_ReconnectFile() == 0);  // maps the stamp
    CHILD_CHECK(WriteStamp(stamp, 2));
    std::string value = "value";
    std::vector<unsigned char> out(64, 0xAB);
    CHILD_CHECK(QOR_EncryptLobEx(qor::test::kAria, Data(value), 5, out.data(), 0, 0) == 0);
    CHILD_CHECK(out[0] == 0xAB);
    CHILD_CHECK(WriteStamp(stamp, 3));
    const Owned udf(QOR_EncryptExUdf(qor::test::kAria, Data(value), 5, "", "", "", 0));
    CHILD_CHECK(udf.length() == -1);
    const Owned after(QOR_EncryptExUdf(qor::test::kAria, Data(value), 5, "", "", "", 0));
    CHILD_CHECK(after.length() > 0);
    return "";
  }), "");
}

}  // namespace
