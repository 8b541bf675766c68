// The library instance in a real process each: real environment, real home
// directory with its stamp file and logs, real threads.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "api/instance.h"
#include "api/instance_testing.h"
#include "qor/config.h"
#include "qor/qolog.h"
#include "service/crypto/self_test.h"
#include "support/descriptors.h"
#include "support/test_support.h"

namespace {

using qor::api::testing::ReadState;
using qor::test::ReadFile;
using qor::test::RunInChild;
using qor::test::TempDir;
using qor::test::WriteFile;

qor::api::testing::InstanceState State() { return ReadState(); }

std::string Today() {
  const time_t now = time(nullptr);
  tm local;
  localtime_r(&now, &local);
  char text[16];
  strftime(text, sizeof(text), "%Y-%m-%d", &local);
  return text;
}

// The API log of |home| for the day |dayBefore| (taken before the library
// opened it) and, when the date has changed since, for today as well.
std::string ReadDayLogs(const TempDir& home, const std::string& dayBefore) {
  std::string text = ReadFile(home / ("logs/qor_api.log." + dayBefore));
  const std::string now = Today();
  if (now != dayBefore) text += ReadFile(home / ("logs/qor_api.log." + now));
  return text;
}

// A home directory with logs and an update stamp, configured through the
// environment with the bypass switch on (no agent is needed to initialise).
class InstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(home_ / "logs");
    std::filesystem::create_directories(home_ / "conf");
    ASSERT_TRUE(qor::test::WriteStamp(Stamp(), 1));
  }

  std::string Stamp() const { return home_ / "conf/.qorupdate.dat"; }

  void UseEnvironment(bool bypass = true) const {
    setenv("QOR_HOME", home_.path().c_str(), 1);
    setenv("QOR_LOG_LEVEL", "DEBUG", 1);
    if (bypass) setenv("QOR_BYPASS", "true", 1);
    else unsetenv("QOR_BYPASS");
  }

  TempDir home_;
};

TEST_F(InstanceTest, FirstCallInitialisesAndClearKeysResets) {
  EXPECT_EQ(RunInChild([&]() -> std::string {
    const std::string dayBefore = Today();
    UseEnvironment();
    CHILD_CHECK(QOR_IsInit() == 1);
    {
      qor::api::CallGuard guard;
      CHILD_CHECK(guard.ok());
    }
    CHILD_CHECK(QOR_IsInit() == 0);
    CHILD_CHECK(State().logState == 0);
    CHILD_CHECK(std::string(QOR_InitResult()).rfind("Result: SUCCESS, Date: ", 0) == 0);
    char** names = nullptr;
    CHILD_CHECK(QOR_loadKeyName(&names) == 0);  // bypass: no key set
    CHILD_CHECK(QOR_ClearKeys() == 0);
    CHILD_CHECK(QOR_IsInit() == 1);
    CHILD_CHECK(std::string(QOR_InitResult()).rfind("Result: FAIL, Date: ", 0) == 0);
    const std::string log = ReadDayLogs(home_, dayBefore);
    CHILD_CHECK(log.find("INFO : QOR_GetInstanceAuto >> Key Init SUCCESS\n") != std::string::npos);
    CHILD_CHECK(log.find("- 2.0.26.7") != std::string::npos);
    return "";
  }), "");
}

TEST_F(InstanceTest, WithoutAgentTheCallFailsAndTheNextOneRetries) {
  EXPECT_EQ(RunInChild([&]() -> std::string {
    const std::string dayBefore = Today();
    UseEnvironment(false);
    for (int attempt = 0; attempt < 2; ++attempt) {
      qor::api::CallGuard guard;
      CHILD_CHECK(!guard.ok());
      CHILD_CHECK(QOR_IsInit() == 1);
      CHILD_CHECK(QOR_GetLastErrorCode() != 0);
    }
    CHILD_CHECK(std::string(QOR_InitResult()).rfind("Result: FAIL, Date: ", 0) == 0);
    const std::string log = ReadDayLogs(home_, dayBefore);
    CHILD_CHECK(log.find("Key Init FAIL") != std::string::npos);
    return "";
  }), "");
}

TEST_F(InstanceTest, ConfigurationFailureGives7011) {
  EXPECT_EQ(RunInChild([&]() -> std::string {
    unsetenv("QOR_HOME");
    Filter_level = 2;  // file mode; no properties file beside the module
    CHILD_CHECK(QOR_GetInstanceAuto() == 7011);
    CHILD_CHECK(QOR_GetLastErrorCode() == 7100);
    CHILD_CHECK(std::string(QOR_GetLastErrorMsg()) == "Cannot access the Config file. Please check.");
    CHILD_CHECK(QOR_ReconnectFile() == 7011);
    return "";
  }), "");
}

TEST_F(InstanceTest, ReconnectFileBuildsTheConfigurationOnce) {
  EXPECT_EQ(RunInChild([&]() -> std::string {
    UseEnvironment();
    CHILD_CHECK(QOR_ReconnectFile() == 1);
    CHILD_CHECK(State().configReady == 1);
    CHILD_CHECK(QOR_ReconnectFile() == 0);
    CHILD_CHECK(QOR_IsInit() == 1);  // the key set is not loaded by it
    return "";
  }), "");
}

struct StampCase {
  const char* name;
  int size;  // -1: no stamp file
  const char* message;
};

TEST_F(InstanceTest, UnusableStampFileStillInitialises) {
  const StampCase cases[] = {
      {"missing", -1, "Failed open ["},
      {"seven bytes", 7, "updateDate.dat file size is less than 8Byte"},
  };
  for (const StampCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(Stamp());
    if (c.size >= 0) {
      ASSERT_TRUE(qor::test::WriteStamp(Stamp(), 0x0102030405060708ull, c.size));
    }
    EXPECT_EQ(RunInChild([&]() -> std::string {
      UseEnvironment();
      CHILD_CHECK(QOR_GetInstanceAuto() == 0);
      CHILD_CHECK(QOR_GetLastErrorCode() == 2000);
      CHILD_CHECK(std::string(QOR_GetLastErrorMsg()).rfind(c.message, 0) == 0);
      CHILD_CHECK(State().stampKnown == 0);
      // The default stamp never changes, so no call ever swaps.
      CHILD_CHECK(qor::test::WriteStamp(Stamp(), 99));
      qor::api::CallGuard guard;
      CHILD_CHECK(guard.ok());
      return "";
    }), "");
  }
}

// The agent publishes a rotation while the initial key set downloads: the
// stamp it writes then is newer than the set, so the next call must swap.
std::string g_stampToRotate;
int DownloadWhileTheAgentRotates(QORSocket*, KeyMgr**, QORApiConf*) {
  qor::test::WriteStamp(g_stampToRotate, 7);
  return -1;  // bypass: initialised all the same
}
QORSocket* RotatingSocket(const char* firstHost, uint16_t firstPort, const char* secondHost,
                          uint16_t secondPort, int timeLimitMs, ErrorInfo* record) {
  QORSocket* socket =
      QORSocket_Create(firstHost, firstPort, secondHost, secondPort, timeLimitMs, record);
  if (socket != nullptr) socket->GetKeyMgrFromQORServer = DownloadWhileTheAgentRotates;
  return socket;
}

TEST_F(InstanceTest, RotationDuringTheFirstDownloadIsStillAheadOfTheKeySet) {
  EXPECT_EQ(RunInChild([&]() -> std::string {
    UseEnvironment();
    g_stampToRotate = Stamp();
    qor::api::testing::SetSocketFactory(&RotatingSocket);
    CHILD_CHECK(QOR_GetInstanceAuto() == 0);
    CHILD_CHECK(State().stampKnown == 1);
    CHILD_CHECK(State().cachedStamp == 1);
    return "";
  }), "");
}

TEST_F(InstanceTest, StampChangeSwapsBeforeTheCallAndAFailedSwapStaysDue) {
  EXPECT_EQ(RunInChild([&]() -> std::string {
    UseEnvironment();
    CHILD_CHECK(QOR_GetInstanceAuto() == 0);
    CHILD_CHECK(State().cachedStamp == 1);
    // A stamp written before initialisation did not count; a later change,
    // up or down, makes the next call update first. Without an agent the
    // update fails that call with a reason; the stamp stays unconsumed, to be
    // tried again after a back-off, and the key set in service serves the
    // calls in between.
    for (uint64_t stamp : {5ull, 2ull}) {
      std::this_thread::sleep_for(std::chrono::milliseconds(400));  // past any back-off
      CHILD_CHECK(qor::test::WriteStamp(Stamp(), stamp));
      {
        qor::api::CallGuard guard;
        CHILD_CHECK(!guard.ok());
        CHILD_CHECK(QOR_GetLastErrorCode() != 0);
        CHILD_CHECK(std::string(QOR_GetLastErrorMsg()) != "");
      }
      CHILD_CHECK(State().cachedStamp == 1);
      qor::api::CallGuard guard;
      CHILD_CHECK(guard.ok());
    }
    return "";
  }), "");
}

TEST_F(InstanceTest, UnwritableLogDirectoryFallsBackToStandardError) {
  std::filesystem::remove_all(home_ / "logs");
  const std::string err = home_ / "stderr.txt";
  EXPECT_EQ(RunInChild([&]() -> std::string {
    const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    CHILD_CHECK(fd >= 0 && dup2(fd, 2) == 2);
    close(fd);
    UseEnvironment();
    Filter_level = 3;
    CHILD_CHECK(QOR_GetInstanceAuto() == 0);
    CHILD_CHECK(State().logState == 1);
    CHILD_CHECK(std::string(QOLog_GetPath()).empty());
    const std::string written = ReadFile(err);
    CHILD_CHECK(written.find("logs/qor_ude.log]; logging to standard error") != std::string::npos);
    CHILD_CHECK(written.find("Key Init SUCCESS") != std::string::npos);
    return "";
  }), "");
}

TEST_F(InstanceTest, LogSwitchedOffByConfiguration) {
  EXPECT_EQ(RunInChild([&]() -> std::string {
    UseEnvironment();
    setenv("QOR_USE_LOG", "FALSE", 1);
    CHILD_CHECK(QOR_GetInstanceAuto() == 0);
    CHILD_CHECK(State().logState == 3);
    CHILD_CHECK(QOLog_GetHandle() == nullptr);
    return "";
  }), "");
}

TEST_F(InstanceTest, FailedSelfTestLeavesTheInstanceUninitialised) {
  EXPECT_EQ(RunInChild([&]() -> std::string {
    UseEnvironment();
    qor::crypto::KnownAnswer broken = qor::crypto::kSelfTestVector;
    broken.ciphertext[0] ^= 1;
    qor::crypto::SetSelfTestVectorForTesting(&broken);
    CHILD_CHECK(QOR_Init() == 1);
    CHILD_CHECK(QOR_IsInit() == 1);
    CHILD_CHECK(QOR_GetLastErrorCode() == 1);
    CHILD_CHECK(std::string(QOR_GetLastErrorMsg()) == "Crypto module verification failed.");
    return "";
  }), "");
}

TEST_F(InstanceTest, ConcurrentFirstCallsInitialiseOnce) {
  EXPECT_EQ(RunInChild([&]() -> std::string {
    const std::string dayBefore = Today();
    UseEnvironment();
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
      threads.emplace_back([&] {
        qor::api::CallGuard guard;
        if (guard.ok()) ++ok;
      });
    }
    for (auto& t : threads) t.join();
    CHILD_CHECK(ok == 8);
    CHILD_CHECK(State().giInitMode == 3);
    const std::string log = ReadDayLogs(home_, dayBefore);
    size_t count = 0;
    for (size_t at = log.find("Key Init"); at != std::string::npos; at = log.find("Key Init", at + 1)) {
      ++count;
    }
    CHILD_CHECK(count == 1);
    return "";
  }), "");
}

}  // namespace
