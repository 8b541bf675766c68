// The cipher object's access check: the decryption count limit before the
// policy's rules, and a missing object.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "engine/access/acl_support.h"
#include "qor/access_control.h"
#include "qor/ua_cipher_util.h"
#include "support/log_capture.h"

namespace {

using namespace qor::test::acl;

class DecryptLimitTest : public AclTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(log_.ok());
    policy_.data.aclCount = 1;
    policy_.data.prio = QOR_PRIO_BLOCK_FIRST;  // empty list: allowed unless the limit refuses
  }
  // checkACL's result and whether it wrote the exceeding line.
  std::pair<int, bool> Check(int operation) {
    const size_t before = log_.text().size();
    const int result = checkACL(policy_.self(), "a", "b", "c", operation);
    const std::string added = log_.text().substr(before);
    const std::string line =
        "Exceeding the maximum number of decrypt per day " + std::to_string(policy_.data.decryptCnt) + "\n";
    return {result, added.find(line) != std::string::npos};
  }

  qor::test::LogCapture log_;
  TestPolicy policy_;
};

TEST_F(DecryptLimitTest, AppliesByPeriodStampOrWhenTheLimitIsOne) {
  // The clock: Sunday 2024-03-10 12:00 UTC (day 10, hour 12).
  struct Case {
    const char* name;
    int decryptCnt, unit, stamp, counter;
    int expected;
    bool logged;
  };
  const Case cases[] = {
      {"no limit", 0, 1, 10, 99, 1, false},
      {"limit 1 proceeds with the counter at 0", 1, 0, 0, 0, 1, true},
      {"limit 1 reached", 1, 0, 0, 1, 0, true},
      {"day stamp matches, counter below", 5, 1, 10, 4, 1, true},
      {"day stamp matches, counter reached", 5, 1, 10, 5, 0, true},
      {"day stamp matches, counter above", 5, 1, 10, 6, 0, true},
      {"day stamp of another day", 5, 1, 11, 9, 1, false},
      {"hour stamp matches, counter reached", 3, 2, 12, 3, 0, true},
      {"hour stamp of another hour", 3, 2, 10, 3, 1, false},
      {"day unit does not compare the hour", 3, 1, 12, 3, 1, false},
      {"no unit", 3, 0, 10, 3, 1, false},
  };
  for (const Case& c : cases) {
    policy_.data.decryptCnt = c.decryptCnt;
    policy_.data.decryptCountUnit = c.unit;
    policy_.data.counterStamp = c.stamp;
    policy_.data.decryptCounter = c.counter;
    const auto [result, logged] = Check(QOR_ACL_DECRYPT);
    EXPECT_EQ(result, c.expected) << c.name;
    EXPECT_EQ(logged, c.logged) << c.name;
    // Encryption is never limited.
    const auto [encrypt, encryptLogged] = Check(QOR_ACL_ENCRYPT);
    EXPECT_EQ(encrypt, 1) << c.name;
    EXPECT_FALSE(encryptLogged) << c.name;
  }
}

TEST_F(DecryptLimitTest, PassingTheLimitStillRunsTheRules) {
  AclBuilder acl;
  acl.Add({.rules1 = {"10."}});
  policy_.data.acl = acl.head();
  policy_.data.decryptCnt = 1;
  EXPECT_EQ(Check(QOR_ACL_DECRYPT), std::make_pair(0, true));
  EXPECT_EQ(checkACL(policy_.self(), "10.1.2.3", "b", "c", QOR_ACL_DECRYPT), 1);
  EXPECT_EQ(policy_.data.decryptCounter, 0);  // never counted here
}

TEST_F(AclTest, MissingObjectIsRefused) {
  UACipherUtil* none = nullptr;
  EXPECT_EQ(checkACL(nullptr, "a", "b", "c", QOR_ACL_ENCRYPT), 0);
  EXPECT_EQ(checkACL(&none, "a", "b", "c", QOR_ACL_ENCRYPT), 0);
}

}  // namespace
