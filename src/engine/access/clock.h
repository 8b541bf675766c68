// The wall clock that access rules read, with a seam through which tests fix
// the weekday, date and time of day.
#pragma once

#include <ctime>

namespace qor::engine {

// Seconds since the epoch: the fixed time while a ScopedClockForTesting is
// alive, else time(NULL).
time_t Now();

// Test only: fixes Now() for its lifetime; restores the previous setting when
// it ends. Not meant to be nested across threads.
class ScopedClockForTesting {
 public:
  explicit ScopedClockForTesting(time_t fixed);
  ~ScopedClockForTesting();
  ScopedClockForTesting(const ScopedClockForTesting&) = delete;
  ScopedClockForTesting& operator=(const ScopedClockForTesting&) = delete;

  void Set(time_t fixed);

 private:
  bool previousFixed_;
  time_t previousValue_;
};

}  // namespace qor::engine
