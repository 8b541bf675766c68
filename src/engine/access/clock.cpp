#include "engine/access/clock.h"

#include <atomic>

namespace qor::engine {
namespace {

// Value threads may read while a test sets it; constant-initialised.
constinit std::atomic<bool> gFixed{false};
constinit std::atomic<time_t> gFixedValue{0};

}  // namespace

time_t Now() {
  if (gFixed.load(std::memory_order_acquire)) return gFixedValue.load(std::memory_order_relaxed);
  return std::time(nullptr);
}

ScopedClockForTesting::ScopedClockForTesting(time_t fixed)
    : previousFixed_(gFixed.load(std::memory_order_acquire)),
      previousValue_(gFixedValue.load(std::memory_order_relaxed)) {
  Set(fixed);
}

ScopedClockForTesting::~ScopedClockForTesting() {
  gFixedValue.store(previousValue_, std::memory_order_relaxed);
  gFixed.store(previousFixed_, std::memory_order_release);
}

void ScopedClockForTesting::Set(time_t fixed) {
  gFixedValue.store(fixed, std::memory_order_relaxed);
  gFixed.store(true, std::memory_order_release);
}

}  // namespace qor::engine
