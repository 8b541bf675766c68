// A reader-writer lock for data that every call reads and almost nothing
// writes. A reader counts itself into the slot of the CPU it runs on, each
// slot on its own cache line, so readers on different cores never write a
// shared word however many threads there are; a writer raises a flag, which
// turns new readers away to sleep until it is done, and waits for every slot
// to drain. Meets the SharedMutex requirements (std::shared_lock,
// std::unique_lock). Not recursive on either side.
#pragma once

#include <atomic>
#include <mutex>

namespace qor {

namespace sharded_detail {

// This thread's slot and how many shared locks it holds: the slot follows the
// thread's CPU, and is chosen again only while the thread holds none, so an
// unlock always finds the count its lock raised.
struct ThreadSlot {
  unsigned slot;
  unsigned held;
  unsigned sinceChosen;
  bool chosen;
};
inline constinit thread_local ThreadSlot t_slot{0, 0, 0, false};

inline constexpr unsigned kSlots = 128;

// The slot for a new shared lock (sharded_shared_mutex.cpp).
unsigned EnterSlot();
inline void LeaveSlot() { --t_slot.held; }

// One wait of a writer draining the slots: a yield at first, then sleeps
// that grow with |round|, since a reader may be fetching from an agent.
void Backoff(unsigned round);

}  // namespace sharded_detail

class ShardedSharedMutex {
 public:
  void lock_shared() {
    const unsigned index = sharded_detail::EnterSlot();
    std::atomic<int>& readers = slots_[index].readers;
    for (;;) {
      readers.fetch_add(1, std::memory_order_seq_cst);
      if (!writer_.load(std::memory_order_seq_cst)) return;
      readers.fetch_sub(1, std::memory_order_seq_cst);
      // Sleeps in the kernel rather than spinning: an initialisation may hold
      // the lock for as long as an agent takes to answer.
      writer_.wait(true, std::memory_order_acquire);
    }
  }
  void unlock_shared() {
    slots_[sharded_detail::t_slot.slot].readers.fetch_sub(1, std::memory_order_release);
    sharded_detail::LeaveSlot();
  }

  void lock() {
    writers_.lock();
    writer_.store(true, std::memory_order_seq_cst);
    for (Slot& slot : slots_) {
      for (unsigned round = 0; slot.readers.load(std::memory_order_seq_cst) != 0; ++round) {
        sharded_detail::Backoff(round);
      }
    }
  }
  void unlock() {
    writer_.store(false, std::memory_order_release);
    writer_.notify_all();
    writers_.unlock();
  }

 private:
  struct alignas(64) Slot {
    std::atomic<int> readers{0};
  };

  Slot slots_[sharded_detail::kSlots];
  alignas(64) std::atomic<bool> writer_{false};
  std::mutex writers_;
};

}  // namespace qor
