// Access control: the caller's identities, the weekday, the date and the time
// of day against a policy's rule entries.
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string_view>

#include "common/scan_int.h"
#include "engine/access/clock.h"
#include "log/log.h"
#include "qor/access_control.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/UACipherUtil";

// The fixed text fields of an entry are read only up to their size: a
// parser that filled one to the brim leaves no terminator.
template <size_t N>
std::string_view Field(const char (&text)[N]) {
  return std::string_view(text, strnlen(text, N));
}

bool LocalTime(time_t now, struct tm* out) { return localtime_r(&now, out) != nullptr; }

// mktime of a local date and time; false when a field or the result is out of range.
bool LocalMoment(int year, int month, int day, int hour, int minute, int second, time_t* out) {
  const int64_t tmYear = static_cast<int64_t>(year) - 1900;
  const int64_t tmMon = static_cast<int64_t>(month) - 1;
  if (tmYear < INT32_MIN || tmYear > INT32_MAX || tmMon < INT32_MIN) return false;
  struct tm tm {};
  tm.tm_year = static_cast<int>(tmYear);
  tm.tm_mon = static_cast<int>(tmMon);
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  *out = mktime(&tm);
  return *out != static_cast<time_t>(-1);
}

int CompareDate(time_t now, std::string_view from, std::string_view to) {
  int f[3];
  int t[3];
  if (!qor::ScanInts(from, '-', f, 3) || !qor::ScanInts(to, '-', t, 3)) return 0;
  time_t start;
  time_t end;
  if (!LocalMoment(f[0], f[1], f[2], 0, 0, 0, &start)) return 0;
  if (!LocalMoment(t[0], t[1], t[2], 23, 59, 59, &end)) return 0;
  return now >= start && now <= end ? 1 : 0;
}

int CompareTime(time_t now, std::string_view from, std::string_view to) {
  int f[2];
  int t[2];
  if (!qor::ScanInts(from, ':', f, 2) || !qor::ScanInts(to, ':', t, 2)) return 0;
  struct tm tm {};
  if (!LocalTime(now, &tm)) return 0;
  const int64_t minute = static_cast<int64_t>(tm.tm_hour) * 60 + tm.tm_min;
  const int64_t start = static_cast<int64_t>(f[0]) * 60 + f[1];
  const int64_t end = static_cast<int64_t>(t[0]) * 60 + t[1];
  return minute >= start && minute <= end ? 1 : 0;
}

}  // namespace

extern "C" {

int Compare_string(const char* value, const AccessRule* rules) {
  if (value == nullptr) return 0;
  for (const AccessRule* rule = rules; rule != nullptr; rule = rule->next) {
    const size_t n = strnlen(rule->pattern, sizeof(rule->pattern));
    if (std::strncmp(value, rule->pattern, n) == 0) return 1;
  }
  return 0;
}

int Compare_time(time_t now, const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return 0;
  return CompareTime(now, from, to);
}

int Compare_date(time_t now, const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return 0;
  return CompareDate(now, from, to);
}

int comp_ACL(const AccessControlData* acl, int prio, const char* identity1, const char* identity2,
             const char* identity3, int operation) {
  const bool allowFirst = prio == QOR_PRIO_ALLOW_FIRST;
  int result = allowFirst ? 0 : 1;
  if (acl == nullptr) return result;

  // One reading of the clock serves every entry, so a call that straddles
  // midnight cannot see two different days.
  const time_t now = qor::engine::Now();
  char weekday[2] = {0, 0};
  struct tm tm {};
  if (LocalTime(now, &tm)) weekday[0] = static_cast<char>('1' + tm.tm_wday);
  const char* weekdayText = weekday[0] != 0 ? weekday : nullptr;

  auto combine = [&](int outcome) { result = allowFirst ? (result | outcome) : (result & outcome); };
  for (const AccessControlData* entry = acl; entry != nullptr; entry = entry->next) {
    if (entry->rules1 != nullptr) combine(Compare_string(identity1, entry->rules1));
    if (entry->rules2 != nullptr) combine(Compare_string(identity2, entry->rules2));
    if (entry->rules3 != nullptr) combine(Compare_string(identity3, entry->rules3));
    if (entry->rules4 != nullptr) combine(Compare_string(weekdayText, entry->rules4));
    if (entry->dateFrom[0] != 0) combine(CompareDate(now, Field(entry->dateFrom), Field(entry->dateTo)));
    if (entry->timeFrom[0] != 0) combine(CompareTime(now, Field(entry->timeFrom), Field(entry->timeTo)));
    if (operation == QOR_ACL_ENCRYPT && entry->encryptAllowed == 0) return 0;
    if (operation == QOR_ACL_DECRYPT && entry->decryptAllowed == 0) return 0;
  }
  return result;
}

}  // extern "C"
