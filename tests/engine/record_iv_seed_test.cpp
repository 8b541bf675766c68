// Record IVs of processes started together: database servers fork their
// backends in bursts, and backends that seed their counters alike encrypt
// equal values alike.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "engine/core_support.h"
#include "qor/key_mgr.h"

namespace {

using namespace qor::test;

constexpr int kChildren = 6;

// In a child: waits for the start signal, builds a key set (which seeds the
// counter) and encrypts one fixed value under a record-IV policy; writes the
// value's four-byte tail to |out|. Never returns.
[[noreturn]] void DrawInChild(int start, int out) {
  char go = 0;
  (void)!read(start, &go, 1);  // end of file once the parent lets all go
  KeyMgr* mgr = KeyMgr_Create(nullptr);
  PolicyDesc desc;
  desc.alg = QOR_ALG_AES128;
  desc.versions = {{1}};
  desc.recordIv = true;
  Policy policy(desc);
  In in(std::string("same value"), kSpare);
  Out value;
  int rc = mgr != nullptr && policy.ok() ? policy->Encrypt_API(policy.self(), in.get(), value.get()) : -1;
  if (rc == 0 && value.length() >= 4) {
    rc = write(out, value.buf.data + value.length() - 4, 4) == 4 ? 0 : 1;
  }
  if (mgr != nullptr) mgr->Destroy(&mgr);
  _exit(rc == 0 ? 0 : 1);
}

TEST(RecordIvSeed, ProcessesStartedTogetherDrawDifferentIvs) {
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> children;
  std::vector<int> results;
  for (int i = 0; i < kChildren; ++i) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(start[1]);
      close(out[0]);
      DrawInChild(start[0], out[1]);
    }
    close(out[1]);
    children.push_back(pid);
    results.push_back(out[0]);
  }
  close(start[0]);
  close(start[1]);  // every child starts now

  std::set<uint32_t> tails;
  for (size_t i = 0; i < children.size(); ++i) {
    uint32_t tail = 0;
    EXPECT_EQ(read(results[i], &tail, sizeof(tail)), static_cast<ssize_t>(sizeof(tail)));
    close(results[i]);
    int status = 0;
    EXPECT_EQ(waitpid(children[i], &status, 0), children[i]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    tails.insert(tail);
  }
  // Six draws from a 32-bit counter seeded at random collide with odds of
  // about one in 300 million.
  EXPECT_EQ(tails.size(), static_cast<size_t>(kChildren));
}

TEST(RecordIvSeed, SeedsDifferAndValuesStillCountUpByOne) {
  const uint32_t first = InitInternalRecordIV();
  const uint32_t second = InitInternalRecordIV();
  EXPECT_NE(first, second);
  PolicyDesc desc;
  desc.recordIv = true;
  Policy policy(desc);
  ASSERT_TRUE(policy.ok());
  for (uint32_t n = 1; n <= 3; ++n) {
    In in(std::string("v"), kSpare);
    Out value;
    ASSERT_EQ(0, policy->Encrypt_API(policy.self(), in.get(), value.get()));
    uint32_t tail = 0;
    std::memcpy(&tail, value.buf.data + value.length() - 4, 4);
    EXPECT_EQ(tail, second + n);
  }
}

}  // namespace
