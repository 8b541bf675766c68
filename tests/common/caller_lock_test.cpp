// The lock value calls take for reading: a writer never runs beside a reader,
// readers nest, a waiting writer lets new readers through only after it is
// done, and a forked child is not left waiting for the parent's threads.
#include "common/caller_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace {

using namespace std::chrono_literals;

// The process has one such lock; every test uses it and leaves it free.
qor::CallerLock& Lock() {
  static qor::CallerLock* lock = new qor::CallerLock();
  return *lock;
}

// Readers on four threads against 300 writes; how often a reader and the
// writer were inside together.
int Overlaps() {
  std::atomic<int> readers{0};
  std::atomic<bool> writing{false};
  std::atomic<bool> stop{false};
  std::atomic<int> overlaps{0};
  long plain = 0;  // written only under the lock alone; read under it shared
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      long sum = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        std::shared_lock hold(Lock());
        ++readers;
        if (writing.load()) ++overlaps;
        sum += plain;
        --readers;
      }
      if (sum < 0) ++overlaps;
    });
  }
  for (int i = 0; i < 300; ++i) {
    {
      std::unique_lock alone(Lock());
      writing = true;
      if (readers.load() != 0) ++overlaps;
      ++plain;
      writing = false;
    }
    std::this_thread::yield();
  }
  stop = true;
  for (auto& t : threads) t.join();
  return plain == 300 ? overlaps.load() : -1;
}

TEST(CallerLock, WritersNeverOverlapReaders) { EXPECT_EQ(Overlaps(), 0); }

// Where the kernel has no membarrier, readers pay for a fence themselves.
TEST(CallerLock, ReadersWithTheirOwnFenceNeverOverlapAWriter) {
  const std::string failure = qor::test::RunInChild([]() -> std::string {
    alarm(30);
    qor::caller_lock_detail::BarrierByWriter();
    qor::caller_lock_detail::g_barrierByWriter.store(false);  // alone in the child
    CHILD_CHECK(Overlaps() == 0);
    return "";
  });
  EXPECT_EQ(failure, "");
}

TEST(CallerLock, AReaderMayNestWhileAWriterWaits) {
  Lock().lock_shared();
  std::atomic<bool> written{false};
  std::thread writer([&] {
    std::unique_lock alone(Lock());
    written = true;
  });
  std::this_thread::sleep_for(20ms);  // the writer is waiting for this thread now
  Lock().lock_shared();               // must not wait behind it
  EXPECT_FALSE(written.load());
  Lock().unlock_shared();
  Lock().unlock_shared();
  writer.join();
  EXPECT_TRUE(written.load());
}

TEST(CallerLock, ANewReaderWaitsForAWaitingWriter) {
  Lock().lock_shared();
  std::atomic<int> order{0};
  std::atomic<int> writerAt{0};
  std::atomic<int> readerAt{0};
  std::thread writer([&] {
    std::unique_lock alone(Lock());
    writerAt = ++order;
  });
  std::this_thread::sleep_for(20ms);
  std::thread reader([&] {
    std::shared_lock hold(Lock());
    readerAt = ++order;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(readerAt.load(), 0);  // writers go first
  Lock().unlock_shared();
  writer.join();
  reader.join();
  EXPECT_EQ(writerAt.load(), 1);
  EXPECT_EQ(readerAt.load(), 2);
}

// A host that starts a thread per connection must not grow the list a
// writer walks: a thread that ended leaves its record to the next one.
TEST(CallerLock, ThreadsThatEndedHandTheirRecordsOn) {
  std::thread([] { std::shared_lock hold(Lock()); }).join();
  const size_t records = qor::caller_lock_detail::RecordCount();
  for (int i = 0; i < 50; ++i) {
    std::thread([] { std::shared_lock hold(Lock()); }).join();
  }
  EXPECT_EQ(qor::caller_lock_detail::RecordCount(), records);
  std::unique_lock alone(Lock());  // would wait forever on a record still counted
}

// At fork time one thread of the parent holds the lock for reading and a
// second waits to write. The child has neither thread: it must be able to
// read and write at once.
TEST(CallerLock, AForkedChildIsNotHeldByTheParentsThreads) {
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  bool holding = false;
  std::thread reader([&] {
    std::shared_lock hold(Lock());
    std::unique_lock l(m);
    holding = true;
    cv.notify_all();
    cv.wait(l, [&] { return release; });
  });
  {
    std::unique_lock l(m);
    cv.wait(l, [&] { return holding; });
  }
  std::thread writer([&] { std::unique_lock alone(Lock()); });
  std::this_thread::sleep_for(20ms);  // the writer has raised its flag and waits

  const std::string failure = qor::test::RunInChild([]() -> std::string {
    alarm(10);  // a hang ends the child instead of the test run
    Lock().AfterForkInChild();
    {
      std::shared_lock hold(Lock());
    }
    {
      std::unique_lock alone(Lock());
    }
    return "";
  });
  EXPECT_EQ(failure, "");

  {
    std::lock_guard l(m);
    release = true;
  }
  cv.notify_all();
  reader.join();
  writer.join();
}

}  // namespace
