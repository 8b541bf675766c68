// Soak: 8 threads encrypt and decrypt under every policy kind while the agent
// reloads a rotated key set (and so rewrites the stamp) every few
// milliseconds, another thread clears the key set and asks for the status
// report, and the agent is killed and restarted on the same ports. Every
// value must round-trip or fail with a code; every rotation must be picked up;
// nothing may hang; descriptors and resident memory must stay flat.
//
// QOR_SOAK_SECONDS sets the length (3 s by default, for CI); the figures are
// printed as one "soak:" line.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/config_test_support.h"
#include "qorapi.h"
#include "support/agent_process.h"
#include "support/test_support.h"

namespace {

using qor::test::PolicyDesc;
using Clock = std::chrono::steady_clock;

struct Kind {
  const char* name;
  const char* algorithm;
  int bits;
  const char* ivType;
  bool reversible;
  bool digits;
};
const Kind kKinds[] = {
    {"S_ARIA", "ARIA", 256, "POLICY", true, false},  {"S_SEED", "SEED", 128, "POLICY", true, false},
    {"S_AES_REC", "AES", 256, "RECORD", true, false}, {"S_LEA", "LEA", 128, "POLICY", true, false},
    {"S_TDES", "3DES", 192, "POLICY", true, false},  {"S_SHA", "SHA256", 256, "POLICY", false, false},
    {"S_FPE", "FPE", 128, "POLICY", true, true},
};

// The set at rotation |round|: versions round-window+1 .. round, newest first.
std::vector<PolicyDesc> SetAt(int round) {
  std::vector<PolicyDesc> set;
  for (const Kind& k : kKinds) {
    PolicyDesc p{k.name, k.algorithm, k.bits, {}, k.ivType};
    const int oldest = std::max(1, round - 200);
    const int versions = k.digits || !k.reversible ? 1 : round - oldest + 1;
    for (int i = 0; i < versions; ++i) {
      const int v = k.digits || !k.reversible ? 1 : round - i;
      p.keys.push_back({v, qor::test::KeyHex(k.bits / 8, static_cast<unsigned>(v * 31 + k.bits))});
    }
    set.push_back(p);
  }
  return set;
}

// qor-agent on fixed ports once the first start picked them.
class SoakAgent {
 public:
  explicit SoakAgent(std::string home) : home_(std::move(home)) {}
  ~SoakAgent() { Kill(SIGTERM); }

  bool Start(const std::vector<PolicyDesc>& set) {
    qor::test::WriteFile(home_ + "/policies.json", qor::test::PolicySetJson(set));
    const std::string portFile = home_ + "/ports.txt";
    std::remove(portFile.c_str());
    const std::string first = std::to_string(first_), second = std::to_string(second_);
    pid_ = fork();
    if (pid_ == 0) {
      const int null = open("/dev/null", O_RDWR);
      if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
      }
      execl(qor::test::AgentBinary(), "qor-agent", "--home", home_.c_str(), "--policies",
            (home_ + "/policies.json").c_str(), "--first-port", first.c_str(), "--second-port",
            second.c_str(), "--foreground", "--port-file", portFile.c_str(), "--log",
            (home_ + "/agent.log").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      int a = 0, b = 0;
      if (std::sscanf(qor::test::ReadFile(portFile).c_str(), "listening first=%d second=%d", &a,
                      &b) == 2) {
        first_ = a;
        second_ = b;
        return true;
      }
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return false;
  }
  // Publishes |set| without waiting for the outcome.
  void Rotate(const std::vector<PolicyDesc>& set) {
    const std::string path = home_ + "/policies.json";
    qor::test::WriteFile(path + ".new", qor::test::PolicySetJson(set));
    std::filesystem::rename(path + ".new", path);
    if (pid_ > 0) kill(pid_, SIGHUP);
  }
  void Kill(int signal) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  int first() const { return first_; }
  int second() const { return second_; }

 private:
  std::string home_;
  pid_t pid_ = -1;
  int first_ = 0;
  int second_ = 0;
};

int OpenDescriptors() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++n;
    closedir(dir);
  }
  return n;
}

long ResidentKiB() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Figures {
  int seconds = 0;
  long calls = 0, roundTrips = 0, cleanFailures = 0, wrong = 0, silentFailures = 0;
  long codeMayBeCleared = 0;  // failures read back as 0 while other calls ran
  int rotations = 0, restarts = 0, clears = 0, pickedUp = 0;
  long maxPickupMs = 0;
  long finalPickupMs = -1;  // from the last rotation to its first use
  int fdStart = 0, fdEnd = 0;
  long rssStartKiB = 0, rssEndKiB = 0;
};

// The last error is one record for the whole process, and every call clears
// it as it starts. A failure whose code reads back as 0 is silent only when no
// other call started meanwhile; otherwise that call may have cleared it.
std::atomic<long> g_callsStarted{0};
constexpr int kCodeMayBeCleared = -1;

std::optional<std::string> Value(bool encrypt, const char* policy, const std::string& in,
                                 int mode, int* code) {
  std::vector<unsigned char> buffer(in.begin(), in.end());
  buffer.resize(in.size() + 64);
  const long started = g_callsStarted.fetch_add(1) + 1;
  const DataBuffer out = (encrypt ? QOR_EncryptExUdf : QOR_DecryptExUdf)(
      policy, buffer.data(), static_cast<int>(in.size()), "user", "app", "host", mode);
  if (out.length < 0 || out.data == nullptr) {
    *code = QOR_GetLastErrorCode();
    if (*code == 0 && g_callsStarted.load() != started) *code = kCodeMayBeCleared;
    return std::nullopt;
  }
  std::string result(reinterpret_cast<char*>(out.data), static_cast<size_t>(out.length));
  std::free(out.data);
  return result;
}

TEST(Soak, ValuesSurviveRotationsClearsAndAgentRestarts) {
  if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
  const char* env = std::getenv("QOR_SOAK_SECONDS");
  const int seconds = env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 3;
  qor::test::TempDir home;
  std::filesystem::create_directories(home.path() + "/logs");
  SoakAgent agent(home.path());
  ASSERT_TRUE(agent.Start(SetAt(1)));
  const qor::test::Environment environment = {
      {"QOR_HOME", home.path()},
      {"QOR_FIRST_AGENT_IP", "127.0.0.1"},
      {"QOR_FIRST_PORT", std::to_string(agent.first())},
      {"QOR_SECOND_PORT", std::to_string(agent.second())},
      {"QOR_LOG_LEVEL", "ERROR"}};

  // The library runs in a child; the agent is this process's to kill.
  int pipeFds[2], doneFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  ASSERT_EQ(pipe(doneFds), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    close(doneFds[1]);
    alarm(static_cast<unsigned>(seconds + 120));  // hang guard: a deadlock ends the child
    qor::test::ApplyEnvironment(environment);
    Figures f;
    f.seconds = seconds;
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0}, roundTrips{0}, clean{0}, wrong{0}, silent{0}, mayBeCleared{0};
    std::atomic<int> newestSeen{0}, clears{0};
    // Warm up, then take the baseline.
    int code = 0;
    for (const Kind& k : kKinds) (void)Value(true, k.name, "123456789012", 0, &code);
    f.fdStart = OpenDescriptors();
    f.rssStartKiB = ResidentKiB();
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t) {
      workers.emplace_back([&, t] {
        for (long i = 0; !stop; ++i) {
          const Kind& k = kKinds[static_cast<size_t>(t + i) % std::size(kKinds)];
          const std::string plain =
              k.digits ? std::to_string(4000000000000000LL + t * 1000003LL + i)
                       : "soak value " + std::to_string(t) + ":" + std::to_string(i);
          const int mode = k.digits || !k.reversible ? 0 : static_cast<int>(i % 2);
          int failCode = 0;
          const auto cipher = Value(true, k.name, plain, mode, &failCode);
          std::optional<std::string> back;
          if (cipher && k.reversible) back = Value(false, k.name, *cipher, mode, &failCode);
          ++calls;
          if (!cipher || (k.reversible && !back)) {
            if (failCode == kCodeMayBeCleared) {
              ++mayBeCleared;
            } else {
              (failCode != 0 ? clean : silent)++;
            }
            continue;
          }
          if (k.reversible && *back != plain) {
            ++wrong;
            continue;
          }
          ++roundTrips;
          if (std::string(k.name) == "S_ARIA" && mode == 1 && cipher->size() > 2) {
            const int version = (static_cast<unsigned char>((*cipher)[0]) << 8) |
                                static_cast<unsigned char>((*cipher)[1]);
            int seen = newestSeen.load();
            while (version > seen && !newestSeen.compare_exchange_weak(seen, version)) {
            }
          }
        }
      });
    }
    std::thread clearer([&] {
      std::vector<char> report(8192);
      while (!stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        g_callsStarted.fetch_add(1);
        QOR_ClearKeys();
        g_callsStarted.fetch_add(1);
        QOR_AgentChecker_GetInfo("all", report.data(), static_cast<int>(report.size()));
        ++clears;
      }
    });
    // The parent rotates and restarts, then sends the last round it published.
    int last = 0;
    const bool told = read(doneFds[0], &last, sizeof(last)) == static_cast<ssize_t>(sizeof(last));
    stop = true;
    for (auto& w : workers) w.join();
    clearer.join();
    // The last rotation must reach the library without any further change.
    const auto published = Clock::now();
    while (told && Clock::now() - published < std::chrono::seconds(60)) {
      int failCode = 0;
      const auto cipher = Value(true, "S_ARIA", "last", 1, &failCode);
      if (cipher && cipher->size() > 2 &&
          ((static_cast<unsigned char>((*cipher)[0]) << 8) |
           static_cast<unsigned char>((*cipher)[1])) == last) {
        f.finalPickupMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              Clock::now() - published)
                              .count();
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    f.calls = calls;
    f.roundTrips = roundTrips;
    f.cleanFailures = clean;
    f.wrong = wrong;
    f.silentFailures = silent;
    f.codeMayBeCleared = mayBeCleared;
    f.clears = clears;
    f.pickedUp = newestSeen;
    f.fdEnd = OpenDescriptors();
    f.rssEndKiB = ResidentKiB();
    (void)!write(pipeFds[1], &f, sizeof(f));
    _exit(0);
  }
  close(pipeFds[1]);
  close(doneFds[0]);

  // Rotations every few milliseconds, a kill and restart every second.
  int round = 1, restarts = 0;
  long maxPickupMs = 0;
  const auto until = Clock::now() + std::chrono::seconds(seconds);
  auto nextRestart = Clock::now() + std::chrono::milliseconds(700);
  while (Clock::now() < until) {
    agent.Rotate(SetAt(++round));
    std::this_thread::sleep_for(std::chrono::milliseconds(8));
    if (Clock::now() >= nextRestart) {
      agent.Kill(SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const auto started = Clock::now();
      ASSERT_TRUE(agent.Start(SetAt(++round)));
      maxPickupMs = std::max<long>(
          maxPickupMs,
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
      ++restarts;
      nextRestart = Clock::now() + std::chrono::milliseconds(1000);
    }
  }
  (void)!write(doneFds[1], &round, sizeof(round));
  close(doneFds[1]);
  Figures f;
  const ssize_t got = read(pipeFds[0], &f, sizeof(f));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "the library side hung or crashed";
  ASSERT_EQ(got, static_cast<ssize_t>(sizeof(f)));
  f.rotations = round - 1;
  f.restarts = restarts;

  std::printf(
      "soak: %d s, %ld calls, %ld round trips, %ld clean failures, %ld wrong, %ld without a "
      "code, %ld whose code another call may have cleared; %d rotations, %d agent restarts, %d clears; newest version used %d of %d; "
      "last rotation used after %ld ms; agent restart took at most %ld ms; "
      "descriptors %d -> %d; resident %ld -> %ld KiB\n",
      f.seconds, f.calls, f.roundTrips, f.cleanFailures, f.wrong, f.silentFailures, f.codeMayBeCleared,
      f.rotations,
      f.restarts, f.clears, f.pickedUp, round, f.finalPickupMs, maxPickupMs, f.fdStart, f.fdEnd,
      f.rssStartKiB, f.rssEndKiB);
  EXPECT_EQ(f.wrong, 0);
  EXPECT_EQ(f.silentFailures, 0);
  EXPECT_GT(f.roundTrips, f.calls / 2);
  // The rotations reached the library while they were being published.
  EXPECT_GT(f.pickedUp, 1);
  // The last rotation is used within the swap back-off, not never.
  EXPECT_GE(f.finalPickupMs, 0);
  // Descriptors: the agent connections are all closed again. Memory: a leak
  // per call or per key set would show as far more than this.
  EXPECT_LE(f.fdEnd, f.fdStart + 2);
  EXPECT_LT(f.rssEndKiB - f.rssStartKiB, 256L * 1024);
}

}  // namespace
