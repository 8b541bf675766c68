// Hand-built access rule lists, a zero-filled policy object and a fixture
// with the clock held still, shared by the access-rule and access-check tests.
#pragma once

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <vector>

#include <gtest/gtest.h>

#include "engine/access/clock.h"
#include "qor/access_control.h"
#include "qor/ua_cipher_util.h"

namespace qor::test::acl {

using qor::engine::ScopedClockForTesting;

// Seconds of a UTC date and time (tests run with TZ=UTC unless they say otherwise).
inline time_t Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return timegm(&tm);
}

inline void UseTimeZone(const char* zone) {
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

}  // namespace qor::test::acl
