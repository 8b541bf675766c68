// Drawing record IVs from the process-wide counter without every encryption
// writing one shared word: threads that draw at the same time take runs of
// values instead of single ones.
#include <algorithm>
#include <atomic>
#include <cstdint>

#include "engine/cipher/record_iv.h"
#include "qor/cipher_util.h"

namespace {

// The run a thread has reserved. A thread starts out drawing singly, so a
// lone caller (and a test that sets the counter) sees the counter move by
// one per value; the first time its compare-and-swap loses to another
// thread it switches to runs for good, 16 values at first, doubling to 1024:
// a short-lived thread wastes little, a busy one writes the counter once per
// thousand values.
struct Run {
  uint32_t next;
  uint32_t left;
  uint32_t size;
  bool contended;
};
constinit thread_local Run t_run{0, 0, 0, false};

constexpr uint32_t kFirstRun = 16;
constexpr uint32_t kLongestRun = 1024;

}  // namespace

namespace qor::engine {

uint32_t DrawRecordIv() {
  Run& run = t_run;
  if (run.left > 0) {
    --run.left;
    return run.next++;
  }
  std::atomic_ref<uint32_t> counter(g_RecordIV);
  if (!run.contended) {
    uint32_t seen = counter.load(std::memory_order_relaxed);
    if (counter.compare_exchange_strong(seen, seen + 1, std::memory_order_relaxed)) return seen + 1;
    run.contended = true;
  }
  run.size = run.size == 0 ? kFirstRun : std::min(run.size * 2, kLongestRun);
  // Values wrap modulo 2^32 like the counter itself.
  const uint32_t first = counter.fetch_add(run.size, std::memory_order_relaxed) + 1;
  run.next = first + 1;
  run.left = run.size - 1;
  return first;
}

}  // namespace qor::engine
