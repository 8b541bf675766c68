// The reader-writer lock every value call takes for reading and only key-set
// swaps, clears and initialisation take for writing. A reader counts itself
// in its own record, written by no other thread, with a plain store: a call
// costs no atomic read-modify-write and no fence, however many cores call at
// once. The writer pays instead: it raises its flag, makes every running
// thread of the process pass a full barrier (membarrier), then waits for each
// record to drain. Where the kernel refuses membarrier, readers fall back to
// a sequentially consistent increment. Writers go first: a reader that sees
// the flag steps back and sleeps until the writer is done.
//
// One per process: the records belong to the threads, not to a lock object.
// Meets the SharedMutex requirements; a thread that already holds a shared
// lock may take it again, even while a writer waits.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>

namespace qor {

namespace caller_lock_detail {

struct alignas(64) Reader {
  std::atomic<unsigned> held{0};  // shared locks this thread holds
  std::atomic<bool> taken{false};
  bool sharedByThreads = false;   // the spare record of threads that got none
  Reader* next = nullptr;         // registry; records are reused, never freed
};

inline constinit thread_local Reader* t_reader = nullptr;

// Whether readers may skip the fence: set once, before any reader runs.
extern std::atomic<bool> g_barrierByWriter;

// This thread's record, taken at its first lock and handed back at its exit.
Reader* Register();
bool BarrierByWriter();
int Membarrier(int command);
// How many records exist: threads that ended leave theirs for new threads.
size_t RecordCount();

}  // namespace caller_lock_detail

class CallerLock {
 public:
  void lock_shared() {
    using namespace caller_lock_detail;
    Reader* r = t_reader != nullptr ? t_reader : Register();
    const bool plain = !r->sharedByThreads && g_barrierByWriter.load(std::memory_order_relaxed);
    for (;;) {
      unsigned before;
      if (plain) {
        before = r->held.load(std::memory_order_relaxed);
        r->held.store(before + 1, std::memory_order_relaxed);
        // Only the compiler must keep the store before the load below; the
        // writer's membarrier orders them on the processor.
        std::atomic_signal_fence(std::memory_order_seq_cst);
      } else {
        before = r->held.fetch_add(1, std::memory_order_seq_cst);
      }
      // Already holding: the writer waits for this thread anyway.
      if (before > 0 && !r->sharedByThreads) return;
      if (!writer_.load(std::memory_order_seq_cst)) return;
      r->held.fetch_sub(1, std::memory_order_release);
      // Sleeps in the kernel rather than spinning: an initialisation may hold
      // the lock for as long as an agent takes to answer.
      writer_.wait(true, std::memory_order_acquire);
    }
  }

  void unlock_shared() {
    using namespace caller_lock_detail;
    Reader* r = t_reader;
    if (r->sharedByThreads || !g_barrierByWriter.load(std::memory_order_relaxed)) {
      r->held.fetch_sub(1, std::memory_order_release);
    } else {
      r->held.store(r->held.load(std::memory_order_relaxed) - 1, std::memory_order_release);
    }
  }

  void lock();
  void unlock();

  // In a forked child only the forking thread lives on: the other threads'
  // holds and a writer that was waiting in the parent are let go.
  void AfterForkInChild();

 private:
  alignas(64) std::atomic<bool> writer_{false};
  std::mutex writers_;
};

}  // namespace qor
