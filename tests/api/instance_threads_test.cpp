// The instance under real threads: a fake key manager and a fake agent socket
// count who is inside them at the same moment.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include <unistd.h>

#include "api/fork_guard.h"
#include "api/instance.h"
#include "api/instance_testing.h"
#include "qor/key_mgr.h"
#include "qor/config.h"
#include "support/test_support.h"

namespace {

using qor::test::RunInChild;

// Who is inside the fakes right now, and the most seen at once.
struct Counters {
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  std::atomic<int> calls{0};
  std::atomic<bool> destroyedWhileListing{false};
  std::atomic<bool> listing{false};
  std::atomic<bool> holdListing{false};  // a listing lasts until this drops

  void Enter() {
    ++calls;
    const int now = ++inside;
    for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
    }
  }
  void Leave() { --inside; }
};
Counters g_counters;

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int FakeLoadKeyName(KeyMgr*, char*** names) {
  g_counters.listing = true;
  Pause(50);
  while (g_counters.holdListing) Pause(1);
  *names = nullptr;
  g_counters.listing = false;
  return 7;
}

void FakeDestroy(KeyMgr** mgr) {
  if (g_counters.listing) g_counters.destroyedWhileListing = true;
  delete *mgr;
  *mgr = nullptr;
}

KeyMgr* NewFakeKeyMgr() {
  auto* mgr = new KeyMgr{};
  mgr->LoadKeyName = &FakeLoadKeyName;
  mgr->Destroy = &FakeDestroy;
  return mgr;
}

int FakeFetchKey(QORSocket*, KeyMgr*, QORApiConf*, int, const char*, int) {
  g_counters.Enter();
  Pause(1);
  g_counters.Leave();
  return 0;
}
void FakeSetErrorVariable(QORSocket*, ErrorInfo*) {}
void FakeSocketDestroy(QORSocket** socket) {
  delete *socket;
  *socket = nullptr;
}

QORSocket* FakeSocket(const char*, uint16_t, const char*, uint16_t, int, ErrorInfo*) {
  auto* socket = new QORSocket{};
  socket->SetErrorVariable = &FakeSetErrorVariable;
  socket->GetSpecficKeyFromQORServer = &FakeFetchKey;
  socket->Destroy = &FakeSocketDestroy;
  return socket;
}

QORApiConf* NewConfig() {
  QORApiConf* config = QORGet_DefaultInfo();
  return config;
}

TEST(InstanceThreads, ConcurrentSingleKeyFetchesRunOneAtATime) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    qor::api::testing::InstallKeySet(NewFakeKeyMgr(), NewConfig());
    qor::api::testing::SetSocketFactory(&FakeSocket);
    // Many short rounds of callers released at the same instant: a flag that
    // is tested and then set lets two of them through sooner or later.
    constexpr int kRounds = 300;
    constexpr int kThreads = 3;
    std::atomic<int> failed{0};
    for (int round = 0; round < kRounds && g_counters.most <= 1; ++round) {
      std::atomic<int> ready{0};
      std::vector<std::thread> threads;
      for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
          ++ready;
          while (ready < kThreads) {
          }
          if (QOR_AddKey(4, "KEY1", i) != 0) ++failed;
        });
      }
      for (auto& t : threads) t.join();
    }
    CHILD_CHECK(g_counters.most == 1);
    CHILD_CHECK(g_counters.calls == kRounds * kThreads);
    // Every caller waited its turn (well within the 10 seconds) and fetched.
    CHILD_CHECK(failed == 0);
    CHILD_CHECK(qor::api::testing::ReadState().giCallAdd == 0);
    return "";
  }), "");
}

TEST(InstanceThreads, ClearKeysWaitsForAKeyNameListing) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    qor::api::testing::InstallKeySet(NewFakeKeyMgr(), NewConfig());
    int listed = -1;
    std::thread lister([&] {
      char** names = nullptr;
      listed = QOR_loadKeyName(&names);
    });
    while (!g_counters.listing) std::this_thread::yield();
    CHILD_CHECK(QOR_ClearKeys() == 0);
    lister.join();
    CHILD_CHECK(listed == 7);
    CHILD_CHECK(!g_counters.destroyedWhileListing);
    CHILD_CHECK(qor::api::testing::ReadState().keyMgr == nullptr);
    CHILD_CHECK(QOR_IsInit() == 1);
    char** names = nullptr;
    CHILD_CHECK(QOR_loadKeyName(&names) == 0);
    return "";
  }), "");
}

// Forked while another thread is inside a call: the child has no such
// thread, so clearing its key set must not wait for it.
TEST(InstanceThreads, AForkedChildDoesNotWaitForTheParentsCallsInFlight) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    qor::api::InstallForkHandlers();
    qor::api::testing::InstallKeySet(NewFakeKeyMgr(), NewConfig());
    g_counters.holdListing = true;
    std::thread lister([] {
      char** names = nullptr;
      QOR_loadKeyName(&names);
    });
    while (!g_counters.listing) std::this_thread::yield();
    const std::string inChild = RunInChild([]() -> std::string {
      alarm(10);  // a hang ends this child with a signal instead of the run
      CHILD_CHECK(QOR_ClearKeys() == 0);
      CHILD_CHECK(QOR_IsInit() == 1);
      return "";
    });
    g_counters.holdListing = false;
    lister.join();
    return inChild;
  }), "");
}

}  // namespace
