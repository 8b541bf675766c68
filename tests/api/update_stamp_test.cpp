// The update stamp as the host meets it: a file truncated under the library,
// names that are not regular files, and many re-initialisations. Each case
// runs in a child process of its own; a child that would hang on a FIFO is
// ended by an alarm instead of stalling the suite.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "api/instance.h"
#include "api/instance_testing.h"
#include "qor/qolog.h"
#include "qorapi.h"
#include "support/test_support.h"

namespace {

using qor::api::testing::ReadState;
using qor::test::ReadFile;
using qor::test::RunInChild;
using qor::test::TempDir;

constexpr unsigned kHangGuardSeconds = 60;

void WriteStamp(const std::string& path, uint64_t value) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, &value, sizeof(value), 0), static_cast<ssize_t>(sizeof(value)));
  close(fd);
}

size_t CountLines(const std::string& path) {
  std::ifstream in(path);
  size_t n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

size_t CountEntries(const std::string& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A home with logs and a good stamp; the instance runs in bypass mode, so no
// agent is needed to initialise, and a stamp change makes the next call try
// a key-set swap, which fails without an agent.
class UpdateStampTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(home_ / "logs");
    std::filesystem::create_directories(home_ / "conf");
    WriteStamp(Stamp(), 1);
  }

  std::string Stamp() const { return home_ / "conf/.qorupdate.dat"; }
  std::string Log() const {
    for (const auto& e : std::filesystem::directory_iterator(home_ / "logs")) return e.path();
    return "";
  }

  void UseEnvironment() const {
    alarm(kHangGuardSeconds);
    setenv("QOR_HOME", home_.path().c_str(), 1);
    setenv("QOR_LOG_LEVEL", "DEBUG", 1);
    setenv("QOR_BYPASS", "true", 1);
  }

  static bool CallSucceeds() {
    qor::api::CallGuard guard;
    return guard.ok();
  }

  TempDir home_;
};

TEST_F(UpdateStampTest, TruncatedWhileInUseIsReportedAndThenFollowedAgain) {
  EXPECT_EQ(RunInChild([&]() -> std::string {
    UseEnvironment();
    qor::api::testing::SetStampRetryInterval(0);
    CHILD_CHECK(QOR_GetInstanceAuto() == 0);
    CHILD_CHECK(ReadState().cachedStamp == 1);
    // A mapped stamp raised SIGBUS here.
    CHILD_CHECK(truncate(Stamp().c_str(), 0) == 0);
    CHILD_CHECK(CallSucceeds());
    CHILD_CHECK(CallSucceeds());
    CHILD_CHECK(Count(ReadFile(Log()), "updateDate.dat file size is less than 8Byte") >= 2);
    // The agent writes the file again: the new value is a new key set.
    WriteStamp(Stamp(), 2);
    CHILD_CHECK(!CallSucceeds());  // the swap was tried; no agent answered
    // The failed swap stays due (retried after a back-off); the key set in
    // service serves the calls in between.
    CHILD_CHECK(ReadState().cachedStamp == 1);
    CHILD_CHECK(CallSucceeds());
    return "";
  }), "");
}

struct BrokenStamp {
  const char* name;
  std::function<void(const std::string& path)> make;
  const char* message;
};

TEST_F(UpdateStampTest, NamesThatAreNotRegularFilesNeitherHangNorGoQuiet) {
  const BrokenStamp cases[] = {
      {"fifo", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
       "Failed open ["},
      {"directory", [](const std::string& p) { std::filesystem::create_directory(p); },
       "Failed open ["},
      {"dangling link",
       [](const std::string& p) { std::filesystem::create_symlink(p + ".gone", p); },
       "Failed open ["},
      {"four bytes",
       [](const std::string& p) { qor::test::WriteFile(p, "abcd"); },
       "updateDate.dat file size is less than 8Byte"},
  };
  for (const BrokenStamp& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(Stamp());
    c.make(Stamp());
    EXPECT_EQ(RunInChild([&]() -> std::string {
      UseEnvironment();
      qor::api::testing::SetStampRetryInterval(0);
      CHILD_CHECK(QOR_GetInstanceAuto() == 0);
      CHILD_CHECK(QOR_GetLastErrorCode() == 2000);
      CHILD_CHECK(std::string(QOR_GetLastErrorMsg()).rfind(c.message, 0) == 0);
      // Every call goes on, and the stamp is reported again each time it is
      // tried, not once and then never.
      for (int i = 0; i < 3; ++i) CHILD_CHECK(CallSucceeds());
      CHILD_CHECK(Count(ReadFile(Log()), c.message) >= 4);
      // Once the agent writes a good stamp, its changes swap the key set.
      std::filesystem::remove_all(Stamp());
      WriteStamp(Stamp(), 7);
      CHILD_CHECK(CallSucceeds());
      CHILD_CHECK(ReadState().stampKnown == 1);
      CHILD_CHECK(ReadFile(Log()).find("readable again") != std::string::npos);
      WriteStamp(Stamp(), 8);
      CHILD_CHECK(!CallSucceeds());  // the swap was tried; no agent answered
      CHILD_CHECK(ReadState().cachedStamp == 7);
      return "";
    }), "");
  }
}

TEST_F(UpdateStampTest, ReportsOfABrokenStampAreRateLimited) {
  std::filesystem::remove(Stamp());
  EXPECT_EQ(RunInChild([&]() -> std::string {
    UseEnvironment();
    CHILD_CHECK(QOR_GetInstanceAuto() == 0);
    const size_t before = Count(ReadFile(Log()), "Failed open [");
    for (int i = 0; i < 1000; ++i) CHILD_CHECK(CallSucceeds());
    // Retried every ten seconds by default: a thousand calls in a row do not
    // write a thousand lines.
    CHILD_CHECK(Count(ReadFile(Log()), "Failed open [") < before + 10);
    return "";
  }), "");
}

TEST_F(UpdateStampTest, ManyInitialisationsHoldOneDescriptorAndNoMapping) {
  EXPECT_EQ(RunInChild([&]() -> std::string {
    UseEnvironment();
    CHILD_CHECK(QOR_GetInstanceAuto() == 0);
    const size_t maps = CountLines("/proc/self/maps");
    const size_t fds = CountEntries("/proc/self/fd");
    for (int i = 0; i < 300; ++i) {
      CHILD_CHECK(QOR_ClearKeys() == 0);
      CHILD_CHECK(CallSucceeds());
      CHILD_CHECK(QOR_ReconnectFile() == 0);
    }
    CHILD_CHECK(CountEntries("/proc/self/fd") == fds);
    // Each cycle mapped the stamp once more; a handful of lines of slack
    // leaves room for the allocator.
    CHILD_CHECK(CountLines("/proc/self/maps") < maps + 20);
    return "";
  }), "");
}

}  // namespace
