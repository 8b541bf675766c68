// A reader-writer lock for data that every call reads and almost nothing
// writes. Each thread counts itself into its own cache line, so readers on
// different cores never write a shared word; a writer raises a flag and waits
// for every line to drain. Meets the SharedMutex requirements
// (std::shared_lock, std::unique_lock).
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace qor {

class ShardedSharedMutex {
 public:
  void lock_shared() {
    std::atomic<int>& readers = slots_[SlotIndex()].readers;
    for (;;) {
      readers.fetch_add(1, std::memory_order_seq_cst);
      if (!writer_.load(std::memory_order_seq_cst)) return;
      readers.fetch_sub(1, std::memory_order_seq_cst);
      while (writer_.load(std::memory_order_acquire)) std::this_thread::yield();
    }
  }
  void unlock_shared() { slots_[SlotIndex()].readers.fetch_sub(1, std::memory_order_release); }

  void lock() {
    writers_.lock();
    writer_.store(true, std::memory_order_seq_cst);
    for (Slot& slot : slots_) {
      while (slot.readers.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
    }
  }
  void unlock() {
    writer_.store(false, std::memory_order_release);
    writers_.unlock();
  }

 private:
  static constexpr unsigned kSlots = 64;
  struct alignas(64) Slot {
    std::atomic<int> readers{0};
  };

  // A thread keeps its slot for life, so unlock_shared finds the count it raised.
  static unsigned SlotIndex() {
    static std::atomic<unsigned> next{0};
    thread_local const unsigned index = next.fetch_add(1, std::memory_order_relaxed) % kSlots;
    return index;
  }

  Slot slots_[kSlots];
  std::atomic<bool> writer_{false};
  std::mutex writers_;
};

}  // namespace qor
