// Access rules: prefix matching of identities, ALLOW_FIRST / BLOCK_FIRST
// combination, weekday, date and time-of-day rules under a fixed clock, the
// per-entry encrypt/decrypt refusals and the decryption count limit.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/access/clock.h"
#include "qor/access_control.h"
#include "qor/ua_cipher_util.h"
#include "engine/access/acl_support.h"
#include "support/log_capture.h"

namespace {

using namespace qor::test::acl;

TEST_F(AclTest, CompareStringMatchesPrefixes) {
  struct Case {
    const char* value;
    std::vector<const char*> patterns;
    int expected;
  };
  const Case cases[] = {
      {"10.0.0.5", {"10.0."}, 1},
      {"10.0.0.5", {"10.0.0.5"}, 1},
      {"10.0.0.5", {"10.0.0.55"}, 0},  // pattern longer than the value
      {"192.168.0.1", {"10.0."}, 0},
      {"192.168.0.1", {"10.", "192.168"}, 1},  // any rule of the list
      {"anything", {""}, 1},                   // empty pattern matches all
      {"", {""}, 1},
      {"", {"a"}, 0},
      {nullptr, {""}, 0},  // missing identity
      {"scott", {}, 0},    // no rules
      {"Scott", {"scott"}, 0},
  };
  for (const Case& c : cases) {
    AclBuilder acl;
    const AccessControlData* entry = acl.Add({.rules1 = c.patterns});
    EXPECT_EQ(Compare_string(c.value, entry->rules1), c.expected)
        << (c.value ? c.value : "(null)") << " against " << c.patterns.size() << " rules";
  }
}

TEST_F(AclTest, CompareStringReadsAFullPatternAreaWithoutTerminator) {
  AccessRule rule{};
  std::memset(rule.pattern, 'a', sizeof(rule.pattern));  // 128 characters, no terminator
  const std::string value(200, 'a');
  EXPECT_EQ(Compare_string(value.c_str(), &rule), 1);
  EXPECT_EQ(Compare_string(std::string(127, 'a').c_str(), &rule), 0);
}

TEST_F(AclTest, CombinesEntriesByPriority) {
  using Desc = AclBuilder::Desc;
  struct Case {
    const char* name;
    int prio;
    std::vector<Desc> entries;
    const char* id1;
    const char* id2;
    const char* id3;
    int expected;
  };
  const Case cases[] = {
      {"allow-first prefix", 1, {{.rules1 = {"10.0."}}}, "10.0.0.5", "u", "p", 1},
      {"allow-first no match", 1, {{.rules1 = {"10.0."}}}, "192.168.0.1", "u", "p", 0},
      {"block-first no match", 2, {{.rules1 = {"10.0."}}}, "192.168.0.1", "u", "p", 0},
      {"block-first prefix", 2, {{.rules1 = {"10.0."}}}, "10.0.0.5", "u", "p", 1},
      {"unset prio is block-first", 0, {{.rules1 = {"10.0."}}}, "192.168.0.1", "u", "p", 0},
      {"allow-first missing identity", 1, {{.rules1 = {""}}}, nullptr, "u", "p", 0},
      {"block-first missing identity", 2, {{.rules1 = {""}}}, nullptr, "u", "p", 0},
      {"block-first empty pattern", 2, {{.rules1 = {""}}}, "anyone", "u", "p", 1},
      {"allow-first: any test of any entry",
       1,
       {{.rules1 = {"10."}, .rules2 = {"scott"}}, {.rules3 = {"sqlplus"}}},
       "192.168.0.1", "tiger", "sqlplus.exe", 1},
      {"block-first: one failing test of the second entry",
       2,
       {{.rules1 = {"10."}, .rules2 = {"scott"}}, {.rules3 = {"sqlplus"}}},
       "10.1.1.1", "scott", "toad.exe", 0},
      {"block-first: every test of every entry",
       2,
       {{.rules1 = {"10."}, .rules2 = {"scott"}}, {.rules3 = {"sqlplus"}}},
       "10.1.1.1", "scott", "sqlplus.exe", 1},
      {"identities are not interchangeable", 2, {{.rules2 = {"scott"}}}, "scott", "tiger", "scott", 0},
      {"allow-first entry testing nothing", 1, {{}}, "x", "y", "z", 0},
      {"block-first entry testing nothing", 2, {{}}, "x", "y", "z", 1},
  };
  for (const Case& c : cases) {
    AclBuilder acl;
    for (const Desc& desc : c.entries) acl.Add(desc);
    for (int operation : {QOR_ACL_ENCRYPT, QOR_ACL_DECRYPT}) {
      EXPECT_EQ(comp_ACL(acl.head(), c.prio, c.id1, c.id2, c.id3, operation), c.expected)
          << c.name << ", operation " << operation;
    }
  }
}

TEST_F(AclTest, EmptyListGivesTheStartValueOfThePriority) {
  EXPECT_EQ(comp_ACL(nullptr, QOR_PRIO_ALLOW_FIRST, "a", "b", "c", QOR_ACL_ENCRYPT), 0);
  EXPECT_EQ(comp_ACL(nullptr, QOR_PRIO_BLOCK_FIRST, "a", "b", "c", QOR_ACL_ENCRYPT), 1);
  EXPECT_EQ(comp_ACL(nullptr, 0, "a", "b", "c", QOR_ACL_DECRYPT), 1);

  // The same through checkACL: a policy with ACL entries counted but none listed.
  for (int prio : {0, 1, 2}) {
    TestPolicy policy;
    policy.data.aclCount = 1;
    policy.data.prio = prio;
    EXPECT_EQ(checkACL(policy.self(), "a", "b", "c", QOR_ACL_DECRYPT), prio == 1 ? 0 : 1) << prio;
  }
}

TEST_F(AclTest, EntryFlagsRefuseTheirOperationWhateverTheTests) {
  using Desc = AclBuilder::Desc;
  struct Case {
    int prio;
    std::vector<Desc> entries;
    int encrypt;
    int decrypt;
  };
  const Case cases[] = {
      {1, {{.rules1 = {""}, .decryptAllowed = 0}}, 1, 0},
      {1, {{.rules1 = {""}, .encryptAllowed = 0}}, 0, 1},
      {2, {{.rules1 = {""}, .encryptAllowed = 0, .decryptAllowed = 0}}, 0, 0},
      // The walk ends at the refusing entry; a later matching entry cannot undo it.
      {1, {{.rules1 = {""}, .decryptAllowed = 0}, {.rules1 = {""}}}, 1, 0},
      // An earlier passing entry does not save a refusing one.
      {1, {{.rules1 = {""}}, {.rules2 = {"nobody"}, .encryptAllowed = 0}}, 0, 1},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    AclBuilder acl;
    for (const Desc& desc : cases[i].entries) acl.Add(desc);
    EXPECT_EQ(comp_ACL(acl.head(), cases[i].prio, "id1", "id2", "id3", QOR_ACL_ENCRYPT), cases[i].encrypt) << i;
    EXPECT_EQ(comp_ACL(acl.head(), cases[i].prio, "id1", "id2", "id3", QOR_ACL_DECRYPT), cases[i].decrypt) << i;
  }
}

TEST_F(AclTest, DateRuleIncludesBothWholeDays) {
  struct Case {
    time_t now;
    const char* from;
    const char* to;
    int expected;
  };
  const Case cases[] = {
      {Utc(2024, 3, 10, 0, 0, 0), "2024-03-10", "2024-03-20", 1},
      {Utc(2024, 3, 9, 23, 59, 59), "2024-03-10", "2024-03-20", 0},
      {Utc(2024, 3, 20, 23, 59, 59), "2024-03-10", "2024-03-20", 1},
      {Utc(2024, 3, 21, 0, 0, 0), "2024-03-10", "2024-03-20", 0},
      {Utc(2024, 3, 15, 12), "2024-3-10", "2024-3-20", 1},
      {Utc(2024, 3, 10, 12), "2024-03-10", "2024-03-10", 1},  // a single day
      {Utc(2024, 3, 15, 12), "2024-03-20", "2024-03-10", 0},  // reversed
      {Utc(2024, 3, 15, 12), "2024/03/10", "2024-03-20", 0},  // unparsable from
      {Utc(2024, 3, 15, 12), "2024-03", "2024-03-20", 0},
      {Utc(2024, 3, 15, 12), "", "2024-03-20", 0},
      {Utc(2024, 3, 15, 12), "2024-03-10", "tomorrow", 0},  // unparsable to
      {Utc(2024, 3, 15, 12), "99999999999-1-1", "2024-03-20", 0},  // does not fit
      {Utc(2024, 3, 15, 12), "-2147483648-1-1", "2024-03-20", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Compare_date(c.now, c.from, c.to), c.expected) << c.now << " in " << c.from << ".." << c.to;
  }
  EXPECT_EQ(Compare_date(Utc(2024, 3, 15), nullptr, "2024-03-20"), 0);
}

TEST_F(AclTest, TimeRuleIncludesBothMinutesAndNeverCrossesMidnight) {
  struct Case {
    int hour, minute, second;
    const char* from;
    const char* to;
    int expected;
  };
  const Case cases[] = {
      {9, 0, 0, "09:00", "18:00", 1},   {8, 59, 59, "09:00", "18:00", 0},
      {18, 0, 59, "09:00", "18:00", 1}, {18, 1, 0, "09:00", "18:00", 0},
      {0, 0, 0, "0:0", "23:59", 1},     {23, 59, 59, "0:0", "23:59", 1},
      {23, 0, 0, "22:00", "06:00", 0},  {3, 0, 0, "22:00", "06:00", 0},
      {22, 0, 0, "22:00", "06:00", 0},  {6, 0, 0, "22:00", "06:00", 0},
      {12, 0, 0, "9h", "18:00", 0},     {12, 0, 0, "09:00", "18", 0},
      {12, 0, 0, "09:00", "99999999999:00", 0},
  };
  for (const Case& c : cases) {
    const time_t now = Utc(2024, 3, 10, c.hour, c.minute, c.second);
    EXPECT_EQ(Compare_time(now, c.from, c.to), c.expected)
        << c.hour << ":" << c.minute << ":" << c.second << " in " << c.from << ".." << c.to;
  }
}

TEST_F(AclTest, DateAndTimeRulesReadTheClock) {
  AclBuilder acl;
  acl.Add({.dateFrom = "2024-03-10", .dateTo = "2024-03-10", .timeFrom = "09:00", .timeTo = "17:59"});
  struct Case {
    time_t now;
    int expected;
  };
  const Case cases[] = {
      {Utc(2024, 3, 10, 9), 1},
      {Utc(2024, 3, 10, 17, 59, 59), 1},
      {Utc(2024, 3, 10, 18), 0},       // date passes, time fails
      {Utc(2024, 3, 11, 10), 0},       // time passes, date fails
  };
  for (const Case& c : cases) {
    ScopedClockForTesting clock(c.now);
    EXPECT_EQ(comp_ACL(acl.head(), QOR_PRIO_BLOCK_FIRST, "a", "b", "c", QOR_ACL_DECRYPT), c.expected) << c.now;
  }

  AclBuilder timeOnly;  // a time rule without a date rule is still tested
  timeOnly.Add({.timeFrom = "09:00", .timeTo = "10:00"});
  ScopedClockForTesting clock(Utc(2030, 1, 1, 11));
  EXPECT_EQ(comp_ACL(timeOnly.head(), QOR_PRIO_BLOCK_FIRST, "a", "b", "c", QOR_ACL_DECRYPT), 0);
  clock.Set(Utc(2030, 1, 1, 10));
  EXPECT_EQ(comp_ACL(timeOnly.head(), QOR_PRIO_BLOCK_FIRST, "a", "b", "c", QOR_ACL_DECRYPT), 1);
}

TEST_F(AclTest, WeekdayDigitOneIsSunday) {
  for (int day = 0; day < 7; ++day) {  // 2024-03-10 is a Sunday
    ScopedClockForTesting clock(Utc(2024, 3, 10 + day, 23, 30));
    for (int digit = 1; digit <= 7; ++digit) {
      const std::string text(1, static_cast<char>('0' + digit));
      AclBuilder acl;
      acl.Add({.rules4 = {text.c_str()}});
      EXPECT_EQ(comp_ACL(acl.head(), QOR_PRIO_BLOCK_FIRST, "a", "b", "c", QOR_ACL_ENCRYPT),
                digit == day + 1 ? 1 : 0)
          << "day " << day << " digit " << digit;
    }
  }
}

TEST_F(AclTest, RulesUseLocalTime) {
  UseTimeZone("KST-9");
  // 2024-03-09 (Saturday) 15:00 UTC is Sunday 2024-03-10 00:00 at UTC+9.
  ScopedClockForTesting clock(Utc(2024, 3, 9, 15));
  AclBuilder acl;
  acl.Add({.rules4 = {"1"}, .dateFrom = "2024-03-10", .dateTo = "2024-03-10", .timeFrom = "00:00",
           .timeTo = "00:00"});
  const int result = comp_ACL(acl.head(), QOR_PRIO_BLOCK_FIRST, "a", "b", "c", QOR_ACL_ENCRYPT);
  UseTimeZone("UTC");
  EXPECT_EQ(result, 1);
}

}  // namespace
