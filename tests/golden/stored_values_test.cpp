// Stored values pinned byte for byte: every algorithm code, policies built by
// the key manager (fixed policy IV, algorithm names, record IVs, compatibility
// texts, digit policies of 2 to 255 digits, every pattern type) and a large
// object in both forms. Encrypting today must give the fixture, and the
// fixture must decrypt to its input, so a change to any table, IV, tweak or
// layout that would strand stored data fails here.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "api/entry_fixture.h"
#include "golden/stored_value_cases.h"

namespace {

using qor::golden::CodeCase;
using qor::golden::ValueCase;

const std::map<std::string, std::string>& Stored() {
  static const std::map<std::string, std::string> table = {
#include "golden/stored_values.inc"
  };
  return table;
}

std::string Fixture(const std::string& id) {
  const auto it = Stored().find(id);
  return it == Stored().end() ? std::string() : it->second;
}

// Installs the golden key set into the instance of a forked child.
bool InstallGoldenKeySet(qor::test::EntryKeySet& base) {
  if (!base.Install()) return false;
  KeyMgr* mgr = qor::golden::NewGoldenKeySet();
  if (mgr == nullptr) return false;
  QORApiConf* config = QORGet_DefaultInfo();
  x_strcpy(config->data->home, sizeof(config->data->home), base.home().path().c_str());
  config->data->useLog = 0;
  config->data->bypass = 0;
  qor::api::testing::InstallKeySet(mgr, config);
  return true;
}

class CodeValue : public testing::TestWithParam<CodeCase> {};

TEST_P(CodeValue, EncryptsToTheFixtureAndDecryptsIt) {
  const CodeCase c = GetParam();
  for (int version : {0, qor::golden::kVersion}) {
    for (bool binary : {false, true}) {
      const std::string id = qor::golden::CodeCaseId(c, version, binary);
      const std::string stored = Fixture(id);
      ASSERT_FALSE(stored.empty()) << "no fixture for " << id;
      EXPECT_EQ(qor::golden::EncryptByCode(c, version, binary), stored) << id;
      if (stored == "refused" || stored.rfind("failed(", 0) == 0 || qor::golden::IsOneWay(c.code)) {
        continue;
      }
      EXPECT_EQ(qor::golden::DecryptByCode(c, version, binary, stored), qor::golden::CodeInput(c))
          << id;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryAlgorithmCode, CodeValue, testing::ValuesIn(qor::golden::kCodes),
                         [](const testing::TestParamInfo<CodeCase>& p) {
                           return "code" + std::to_string(p.param.code);
                         });

class PolicyValue : public testing::TestWithParam<ValueCase> {};

TEST_P(PolicyValue, EncryptsToTheFixtureAndDecryptsIt) {
  const ValueCase c = GetParam();
  const std::string stored = Fixture(c.id);
  ASSERT_FALSE(stored.empty()) << "no fixture for " << c.id;
  const bool oneWay = std::string(c.policy).rfind("sha", 0) == 0 ||
                      std::string(c.policy).rfind("lsh", 0) == 0;
  EXPECT_EQ(qor::test::RunInChild([&]() -> std::string {
              qor::test::EntryKeySet base;
              CHILD_CHECK(InstallGoldenKeySet(base));
              const std::string now = qor::golden::EncryptValue(c);
              if (now != stored) return "encrypted to " + now + "\n  fixture is " + stored;
              if (oneWay) return "";
              const std::string back = qor::golden::DecryptValue(c, stored);
              if (back != c.plain) return "fixture decrypted to " + back;
              return "";
            }),
            "");
}

INSTANTIATE_TEST_SUITE_P(KeyManagerPolicies, PolicyValue,
                         testing::ValuesIn(qor::golden::ValueCases()),
                         [](const testing::TestParamInfo<ValueCase>& p) {
                           std::string name = p.param.id;
                           for (char& ch : name) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

TEST(LargeObjectValue, BothFormsEncryptToTheFixtureAndDecryptIt) {
  for (bool binary : {false, true}) {
    const std::string id = binary ? "lob.binary" : "lob.text";
    const std::string stored = Fixture(id);
    ASSERT_FALSE(stored.empty()) << "no fixture for " << id;
    EXPECT_EQ(qor::test::RunInChild([&]() -> std::string {
                qor::test::EntryKeySet base;
                CHILD_CHECK(InstallGoldenKeySet(base));
                CHILD_CHECK(qor::golden::EncryptLob(binary) == stored);
                CHILD_CHECK(qor::golden::DecryptLob(binary, stored) == qor::golden::LobPlain());
                return "";
              }),
              "")
        << id;
  }
}

}  // namespace
