#include "common/sharded_shared_mutex.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace qor::sharded_detail {

namespace {

// A thread re-reads its CPU after this many shared locks.
constexpr unsigned kRechooseAfter = 4096;

unsigned ChooseSlot() {
  const int cpu = sched_getcpu();
  if (cpu >= 0) return static_cast<unsigned>(cpu) % kSlots;
  // No CPU number: spread threads by arrival instead.
  static std::atomic<unsigned> next{0};
  return next.fetch_add(1, std::memory_order_relaxed) % kSlots;
}

}  // namespace

unsigned EnterSlot() {
  ThreadSlot& t = t_slot;
  if (t.held == 0 && (!t.chosen || ++t.sinceChosen >= kRechooseAfter)) {
    t.slot = ChooseSlot();
    t.sinceChosen = 0;
    t.chosen = true;
  }
  ++t.held;
  return t.slot;
}

void Backoff(unsigned round) {
  if (round < 64) {
    std::this_thread::yield();
    return;
  }
  const unsigned shift = std::min(round - 64, 6u);
  std::this_thread::sleep_for(std::chrono::microseconds(20u << shift));
}

}  // namespace qor::sharded_detail
