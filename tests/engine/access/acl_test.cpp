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
#include "support/log_capture.h"

namespace {

using qor::engine::ScopedClockForTesting;

// Seconds of a UTC date and time (tests run with TZ=UTC unless they say otherwise).
time_t Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return timegm(&tm);
}

void UseTimeZone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}

// ACL lists built by hand; the builder owns every entry and rule it hands out.
class AclBuilder {
 public:
  struct Desc {
    std::vector<const char*> rules1{}, rules2{}, rules3{}, rules4{};  // empty: no list
    const char* dateFrom = "";
    const char* dateTo = "";
    const char* timeFrom = "";
    const char* timeTo = "";
    int encryptAllowed = 1;
    int decryptAllowed = 1;
  };

  AccessControlData* Add(const Desc& desc) {
    AccessControlData& entry = entries_.emplace_back();
    entry.rules1 = Rules(desc.rules1);
    entry.rules2 = Rules(desc.rules2);
    entry.rules3 = Rules(desc.rules3);
    entry.rules4 = Rules(desc.rules4);
    std::strncpy(entry.dateFrom, desc.dateFrom, sizeof(entry.dateFrom) - 1);
    std::strncpy(entry.dateTo, desc.dateTo, sizeof(entry.dateTo) - 1);
    std::strncpy(entry.timeFrom, desc.timeFrom, sizeof(entry.timeFrom) - 1);
    std::strncpy(entry.timeTo, desc.timeTo, sizeof(entry.timeTo) - 1);
    entry.encryptAllowed = desc.encryptAllowed;
    entry.decryptAllowed = desc.decryptAllowed;
    if (entries_.size() > 1) entries_[entries_.size() - 2].next = &entry;
    return &entry;
  }
  AccessControlData* head() { return entries_.empty() ? nullptr : &entries_.front(); }

 private:
  AccessRule* Rules(const std::vector<const char*>& patterns) {
    AccessRule* first = nullptr;
    AccessRule* last = nullptr;
    for (const char* pattern : patterns) {
      AccessRule& rule = rules_.emplace_back();
      std::strncpy(rule.pattern, pattern, sizeof(rule.pattern) - 1);
      (last == nullptr ? first : last->next) = &rule;
      last = &rule;
    }
    return first;
  }

  std::deque<AccessControlData> entries_;  // deque: addresses stay put
  std::deque<AccessRule> rules_;
};

// A zero-filled policy object on the stack with just the fields checkACL reads.
struct TestPolicy {
  UACipherUtilData data{};
  UACipherUtil object{};
  UACipherUtil* pointer = &object;
  TestPolicy() { object.data = &data; }
  UACipherUtil** self() { return &pointer; }
};

class AclTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { UseTimeZone("UTC"); }
  // Sunday 2024-03-10 12:00:00 UTC.
  ScopedClockForTesting clock_{Utc(2024, 3, 10, 12)};
};

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
