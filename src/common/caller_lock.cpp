#include "common/caller_lock.h"

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <new>
#include <thread>

#include "common/sharded_shared_mutex.h"

namespace qor::caller_lock_detail {

std::atomic<bool> g_barrierByWriter{false};

namespace {

std::atomic<Reader*> g_readers{nullptr};

}  // namespace

int Membarrier(int command) { return static_cast<int>(syscall(__NR_membarrier, command, 0, 0)); }

namespace {

// Readers may skip their fence only when every writer can make the running
// threads pass one for them.
bool RegisterBarrier() {
  const int supported = Membarrier(MEMBARRIER_CMD_QUERY);
  if (supported < 0 || (supported & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return false;
  return Membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0;
}

void Push(Reader* r) {
  Reader* head = g_readers.load(std::memory_order_relaxed);
  do {
    r->next = head;
  } while (!g_readers.compare_exchange_weak(head, r, std::memory_order_release,
                                            std::memory_order_relaxed));
}

// Hands the record back when its thread ends, for the next new thread.
struct Release {
  ~Release() {
    if (t_reader != nullptr && !t_reader->sharedByThreads) {
      t_reader->taken.store(false, std::memory_order_release);
    }
    t_reader = nullptr;
  }
};
thread_local Release t_release;

Reader* Spare() {
  static Reader* spare = [] {
    // Never freed, like every record: writers may walk to it at any time.
    static Reader record;
    record.sharedByThreads = true;
    record.taken.store(true, std::memory_order_relaxed);
    Push(&record);
    return &record;
  }();
  return spare;
}

}  // namespace

// Decided once, before the first reader takes a record or the first writer
// looks: both sides must agree on who pays for the fence.
bool BarrierByWriter() {
  static const bool barrier = [] {
    const bool ok = RegisterBarrier();
    g_barrierByWriter.store(ok, std::memory_order_relaxed);
    return ok;
  }();
  return barrier;
}

Reader* Register() {
  BarrierByWriter();
  Reader* mine = nullptr;
  for (Reader* r = g_readers.load(std::memory_order_acquire); r != nullptr; r = r->next) {
    if (!r->taken.load(std::memory_order_relaxed) &&
        !r->taken.exchange(true, std::memory_order_acquire)) {
      mine = r;
      break;
    }
  }
  if (mine == nullptr) {
    mine = new (std::nothrow) Reader();
    if (mine != nullptr) {
      mine->taken.store(true, std::memory_order_relaxed);
      Push(mine);
    } else {
      mine = Spare();
    }
  }
  (void)&t_release;  // registers the hand-back at thread exit
  t_reader = mine;
  return mine;
}

size_t RecordCount() {
  size_t n = 0;
  for (Reader* r = g_readers.load(std::memory_order_acquire); r != nullptr; r = r->next) ++n;
  return n;
}

}  // namespace qor::caller_lock_detail

namespace qor {

using caller_lock_detail::g_barrierByWriter;
using caller_lock_detail::g_readers;
using caller_lock_detail::Reader;

void CallerLock::lock() {
  writers_.lock();
  writer_.store(true, std::memory_order_seq_cst);
  if (caller_lock_detail::BarrierByWriter() && g_barrierByWriter.load(std::memory_order_relaxed)) {
    // Every reader that has not yet seen the flag has its count visible now.
    if (caller_lock_detail::Membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0) {
      // Not expected once registered. From now on readers fence themselves;
      // a count still in a store buffer drains long before the pause ends.
      g_barrierByWriter.store(false, std::memory_order_seq_cst);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  for (Reader* r = g_readers.load(std::memory_order_acquire); r != nullptr; r = r->next) {
    for (unsigned round = 0; r->held.load(std::memory_order_seq_cst) != 0; ++round) {
      sharded_detail::Backoff(round);
    }
  }
}

void CallerLock::unlock() {
  writer_.store(false, std::memory_order_release);
  writer_.notify_all();
  writers_.unlock();
}

void CallerLock::AfterForkInChild() {
  for (Reader* r = g_readers.load(std::memory_order_acquire); r != nullptr; r = r->next) {
    if (r == caller_lock_detail::t_reader) continue;
    r->held.store(0, std::memory_order_relaxed);
    if (!r->sharedByThreads) r->taken.store(false, std::memory_order_relaxed);
  }
  writer_.store(false, std::memory_order_relaxed);
  // The child is a new address space: it asks for the writer's barrier again,
  // and while it is alone it can still switch its readers to the fence.
  if (g_barrierByWriter.load(std::memory_order_relaxed) &&
      caller_lock_detail::Membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) != 0) {
    g_barrierByWriter.store(false, std::memory_order_relaxed);
  }
  // Held by a parent thread that was waiting to write: that thread is not here.
  new (&writers_) std::mutex();
}

}  // namespace qor
