// Listening, one thread per connection up to a cap, a watchdog that cuts
// requests that run past their time or idle before their request is in, and a
// signal thread for reload and stop. A full agent makes room for a new client
// by cutting its oldest connection that still waits for a request, so clients
// that connect and send nothing cannot shut the well-behaved ones out.
#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "agent_home.h"
#include "library_glue.h"
#include "policy_set.h"
#include "protocol.h"
#include "request_log.h"
#include "served_set.h"

namespace qor::agent_tool {
namespace {

using Clock = std::chrono::steady_clock;

std::string PeerText(int fd) {
  sockaddr_in peer{};
  socklen_t size = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) return "?";
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
}

int Listen(int port, int* boundPort, std::string* error) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 128) != 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  *boundPort = ntohs(address.sin_port);
  return fd;
}

// " (N errors)" for a text of N > 1 lines.
std::string Count(const std::string& text) {
  const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
  return lines > 1 ? " (" + std::to_string(lines) + " errors)" : "";
}

// Each line of |text| indented by two blanks.
std::string Indented(const std::string& text) {
  std::string out = "  ";
  for (char c : text) {
    out += c;
    if (c == '\n') out += "  ";
  }
  return out;
}

class Agent {
 public:
  explicit Agent(const AgentOptions& options) : options_(options) {}
  int Run();

 private:
  bool Load(bool reload, std::string* error);
  void Reload();
  void Serve();
  void Handle(int fd);
  void RefuseBusy(int fd);
  void DrainRefused(bool all);
  void CutOverdue();
  std::shared_ptr<const ServedSet> Current() {
    std::lock_guard<std::mutex> lock(setMutex_);
    return set_;
  }
  void SignalLoop();
  // One log line for |what|, then one for each line of |lines|.
  void LogLines(const std::string& what, const std::string& lines) {
    if (lines.find('\n') == std::string::npos) {
      log_.Event(what + ": " + lines);
      return;
    }
    log_.Event(what + Count(lines) + ":");
    size_t start = 0;
    while (start < lines.size()) {
      const size_t end = std::min(lines.find('\n', start), lines.size());
      log_.Event("  " + lines.substr(start, end - start));
      start = end + 1;
    }
  }

  AgentOptions options_;
  RequestLog log_;
  std::mutex setMutex_;
  std::shared_ptr<const ServedSet> set_;
  std::mutex reloadMutex_;

  int listeners_[2] = {-1, -1};
  int wake_[2] = {-1, -1};
  std::atomic<bool> stopping_{false};

  // Open connections: when each must be finished, and while its request is
  // still coming in, when that must be complete.
  struct Open {
    Clock::time_point accepted;
    Clock::time_point deadline;
    Clock::time_point readDeadline;
    bool reading = true;
    const char* cut = nullptr;  // why the agent cut it, when it did
  };
  // Finds the oldest connection still reading and cuts it: true when one was.
  bool EvictOldestIdle();
  std::mutex connectionsMutex_;
  std::condition_variable connectionsDone_;
  std::map<int, Open> connections_;
  size_t live_ = 0;  // connections_ minus the ones cut and not yet gone
  // Refused connections: closed once the client has read the refusal (or
  // after a second), since closing with its request unread would reset the
  // connection and lose the refusal. Used by the accepting thread only.
  std::map<int, Clock::time_point> refused_;
};

bool Agent::Load(bool reload, std::string* error) {
  auto policies = LoadPolicySet(options_.policies, error);
  if (!policies) return false;
  if (policies->policies.empty()) {
    // Every value call of every library would fail with "policy not found".
    if (reload && !options_.allowEmpty) {
      *error = options_.policies +
               ": the policy set is empty; the agent keeps serving the set it has (start it "
               "with --allow-empty to let a reload empty it)";
      return false;
    }
    const std::string warning = "WARNING: the policy set in " + options_.policies +
                                " is EMPTY: every encryption and decryption will fail until a set "
                                "with policies is loaded";
    if (!reload) std::fprintf(stderr, "qor-agent: %s\n", warning.c_str());
    log_.Event(warning);
  }
  auto served = ServedSet::Build(*policies, error);
  if (!served) {
    *error = options_.policies + ": " + *error;
    return false;
  }
  // The emergency file follows the set the agent serves; a failure to write
  // it does not stop serving, but it is reported.
  std::string fileError;
  if (!WriteEmergencyFile(options_.home, served->record(), &fileError)) {
    log_.Event("emergency policy file not written: " + fileError);
  }
  {
    std::lock_guard<std::mutex> lock(setMutex_);
    set_ = std::move(served);
  }
  std::string stampError;
  const auto stamp = RewriteStamp(options_.home, &stampError);
  if (!stamp) log_.Event("update stamp not written: " + stampError);
  log_.Event("policy set loaded from " + options_.policies + ": " +
             std::to_string(policies->policies.size()) + " policies, hash " + Current()->hash() +
             (stamp ? ", stamp " + std::to_string(*stamp) : ""));
  return true;
}

void Agent::Reload() {
  std::lock_guard<std::mutex> lock(reloadMutex_);
  std::string error;
  if (Load(true, &error)) {
    WriteStatus(options_.home, "ok reloaded " + Current()->hash() +
                                   (Current()->policyCount() == 0 ? " (empty set)" : ""));
  } else {
    LogLines("reload refused, the previous set stays", error);
    // The status file is read line by line: the errors go on one line each,
    // after the first.
    WriteStatus(options_.home, "failed " + error);
  }
}

void Agent::SignalLoop() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (signal == SIGHUP) {
      log_.Event("SIGHUP: reloading");
      Reload();
      continue;
    }
    log_.Event(std::string(signal == SIGTERM ? "SIGTERM" : "SIGINT") + ": stopping");
    stopping_.store(true);
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(wake_[1], &byte, 1);
    return;
  }
}

void Agent::RefuseBusy(int fd) {
  const std::string text = "agent busy";
  unsigned char frame[5 + 16];
  frame[0] = 0;
  const uint32_t length = static_cast<uint32_t>(text.size());
  frame[1] = static_cast<unsigned char>(length >> 24);
  frame[2] = static_cast<unsigned char>(length >> 16);
  frame[3] = static_cast<unsigned char>(length >> 8);
  frame[4] = static_cast<unsigned char>(length);
  std::memcpy(frame + 5, text.data(), text.size());
  // Sent without waiting: a client that does not read just loses it.
  [[maybe_unused]] ssize_t ignored = send(fd, frame, 5 + text.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  shutdown(fd, SHUT_WR);
  if (refused_.size() >= 256) {
    close(fd);
    return;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  refused_[fd] = Clock::now() + std::chrono::seconds(1);
}

void Agent::DrainRefused(bool all) {
  const auto now = Clock::now();
  for (auto it = refused_.begin(); it != refused_.end();) {
    char sink[512];
    ssize_t n;
    while ((n = recv(it->first, sink, sizeof sink, 0)) > 0) {
    }
    const bool finished = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    if (all || finished || now >= it->second) {
      close(it->first);
      it = refused_.erase(it);
    } else {
      ++it;
    }
  }
}

void Agent::Handle(int fd) {
  const std::string peer = PeerText(fd);
  // Leaves the watchdog's list before the connection closes the descriptor,
  // so the watchdog never touches a number the system has handed out again.
  struct Unlist {
    Agent* agent;
    int fd;
    ~Unlist() {
      // Notified under the lock: once the list is empty the agent may go.
      std::lock_guard<std::mutex> lock(agent->connectionsMutex_);
      const auto it = agent->connections_.find(fd);
      if (it != agent->connections_.end()) {
        if (it->second.cut == nullptr) --agent->live_;
        agent->connections_.erase(it);
      }
      agent->connectionsDone_.notify_all();
    }
  };
  AgentConnection connection(fd, options_.requestTimeoutMs);
  Unlist unlist{this, fd};

  uint8_t operation = 0;
  std::vector<unsigned char> body;
  std::string readError;
  const ReadOutcome outcome = connection.Read(&operation, &body, &readError);
  const char* cut = nullptr;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    const auto it = connections_.find(fd);
    if (it != connections_.end()) {
      it->second.reading = false;
      cut = it->second.cut;
    }
  }
  if (outcome == ReadOutcome::kClosed || cut != nullptr) {
    log_.Request(peer, operation, std::string("no answer: ") + (cut != nullptr ? cut : readError.c_str()));
    return;
  }
  // The set stays alive until its answer is sent, even across a reload.
  const std::shared_ptr<const ServedSet> set = Current();
  Answer answer = outcome == ReadOutcome::kRefuse
                      ? Refusal(readError)
                      : AnswerRequest(operation, body.data(), body.size(), *set);
  std::fill(body.begin(), body.end(), 0);
  std::string sendError;
  if (!connection.Send(answer, &sendError)) answer.outcome += "; answer not sent: " + sendError;
  log_.Request(peer, operation, answer.outcome);
}

void Agent::CutOverdue() {
  const auto now = Clock::now();
  std::lock_guard<std::mutex> lock(connectionsMutex_);
  for (auto& [fd, open] : connections_) {
    // The handler still owns the descriptor; shutting it down only makes
    // its blocked read or send return.
    const bool idle = open.reading && now >= open.readDeadline;
    if (now < open.deadline && !idle) continue;
    shutdown(fd, SHUT_RDWR);
    if (open.cut == nullptr) {
      open.cut = idle ? "no whole request within the idle time limit" : "request time limit";
      --live_;
    }
  }
}

bool Agent::EvictOldestIdle() {
  auto oldest = connections_.end();
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (!it->second.reading || it->second.cut != nullptr) continue;
    if (oldest == connections_.end() || it->second.accepted < oldest->second.accepted) oldest = it;
  }
  if (oldest == connections_.end()) return false;
  shutdown(oldest->first, SHUT_RDWR);
  oldest->second.cut = "cut idle to make room for a new connection";
  --live_;
  return true;
}

void Agent::Serve() {
  pollfd fds[3] = {{listeners_[0], POLLIN, 0}, {listeners_[1], POLLIN, 0}, {wake_[0], POLLIN, 0}};
  while (!stopping_.load()) {
    const int ready = poll(fds, 3, refused_.empty() ? 200 : 20);
    CutOverdue();
    DrainRefused(false);
    if (ready <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if ((fds[i].revents & POLLIN) == 0) continue;
      const int fd = accept4(listeners_[i], nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      {
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        // Cut connections leave quickly, but until they have gone they hold
        // a thread: at most as many again as the cap.
        const auto cap = static_cast<size_t>(options_.maxConnections);
        const bool full = live_ >= cap && !EvictOldestIdle();
        if (full || connections_.size() >= 2 * cap) {
          log_.Request(PeerText(fd), -1, "refused: agent busy");
          RefuseBusy(fd);
          continue;
        }
        const auto now = Clock::now();
        Open open;
        open.accepted = now;
        open.deadline = now + std::chrono::milliseconds(options_.requestTimeoutMs);
        open.readDeadline = now + std::chrono::milliseconds(
                                      std::min(options_.idleTimeoutMs, options_.requestTimeoutMs));
        connections_[fd] = open;
        ++live_;
      }
      try {
        std::thread([this, fd] { Handle(fd); }).detach();
      } catch (const std::system_error&) {
        {
          std::lock_guard<std::mutex> lock(connectionsMutex_);
          connections_.erase(fd);
          --live_;
        }
        RefuseBusy(fd);
      }
    }
  }
  close(listeners_[0]);
  close(listeners_[1]);
  DrainRefused(true);
  // Let running requests finish; the watchdog bound still applies.
  std::unique_lock<std::mutex> lock(connectionsMutex_);
  while (!connections_.empty()) {
    connectionsDone_.wait_for(lock, std::chrono::milliseconds(100));
    const auto now = Clock::now();
    for (const auto& [fd, open] : connections_) {
      if (now >= open.deadline) shutdown(fd, SHUT_RDWR);
    }
  }
}

int Agent::Run() {
  std::string error;
  if (!EnsureHome(options_.home, &error)) {
    std::fprintf(stderr, "qor-agent: %s\n", error.c_str());
    return 1;
  }
  std::string logPath = options_.logPath;
  if (logPath.empty() && !options_.foreground) {
    mkdir((options_.home + "/logs").c_str(), 0755);
    logPath = options_.home + "/logs/qor-agent.log";
  }
  if (!log_.Open(logPath, options_.logMaxBytes, options_.logKeep, &error)) {
    std::fprintf(stderr, "qor-agent: %s\n", error.c_str());
    return 1;
  }
  // Signals are taken by one thread with sigwait; every thread started from
  // here on inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  int ports[2] = {0, 0};
  const int wanted[2] = {options_.firstPort, options_.secondPort};
  for (int i = 0; i < 2; ++i) {
    listeners_[i] = Listen(wanted[i], &ports[i], &error);
    if (listeners_[i] < 0) {
      std::fprintf(stderr, "qor-agent: %s\n", error.c_str());
      log_.Event(error);
      if (i == 1) close(listeners_[0]);
      return 1;
    }
  }
  // Ports first: an agent that cannot listen must not rewrite the stamp or
  // the emergency file of the agent that holds them.
  if (!Load(false, &error)) {
    std::fprintf(stderr, "qor-agent: policy set refused%s:\n%s\n", Count(error).c_str(),
                 Indented(error).c_str());
    LogLines("policy set refused", error);
    close(listeners_[0]);
    close(listeners_[1]);
    return 1;
  }
  if (pipe2(wake_, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "qor-agent: pipe: %s\n", std::strerror(errno));
    return 1;
  }
  int ready[2] = {-1, -1};
  if (!options_.foreground) {
    // The parent stays until the child has its pid file and has reported
    // its ports, so whoever started it can use both at once.
    if (pipe2(ready, O_CLOEXEC) != 0) {
      std::fprintf(stderr, "qor-agent: pipe: %s\n", std::strerror(errno));
      return 1;
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
      std::fprintf(stderr, "qor-agent: fork: %s\n", std::strerror(errno));
      return 1;
    }
    if (child > 0) {
      close(ready[1]);
      char byte = 0;
      const bool started = read(ready[0], &byte, 1) == 1;
      _exit(started ? 0 : 1);
    }
    close(ready[0]);
    setsid();
  }
  if (!WritePidFile(options_.home, &error)) log_.Event("pid file not written: " + error);
  const std::string line =
      "listening first=" + std::to_string(ports[0]) + " second=" + std::to_string(ports[1]);
  if (!options_.portFile.empty() && !ReplaceFile(options_.portFile, line + "\n", &error)) {
    std::fprintf(stderr, "qor-agent: %s\n", error.c_str());
    RemovePidFile(options_.home);
    return 1;
  }
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  log_.Event(line + " pid=" + std::to_string(getpid()));
  if (!options_.foreground) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(ready[1], &byte, 1);
    close(ready[1]);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      if (null > 2) close(null);
    }
  }

  std::thread signalThread([this] { SignalLoop(); });
  Serve();
  signalThread.join();
  RemovePidFile(options_.home);
  close(wake_[0]);
  close(wake_[1]);
  log_.Event("stopped");
  return 0;
}

}  // namespace

int RunAgent(const AgentOptions& options) {
  Agent agent(options);
  return agent.Run();
}

namespace {

// Whether |pid| has ended: gone, or a zombie its parent has not reaped yet.
bool Ended(pid_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  const size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

// The pid of the agent running on |home|, or nothing (with the reason on
// standard error). A pid file left by an agent that was killed may name
// another process by now: only a live process running this program counts.
std::optional<pid_t> RunningAgent(const std::string& home) {
  const auto pid = ReadPidFile(home);
  std::string command;
  if (pid) {
    std::ifstream in("/proc/" + std::to_string(*pid) + "/cmdline", std::ios::binary);
    std::getline(in, command, '\0');
  }
  if (!pid || Ended(static_cast<pid_t>(*pid)) ||
      command.substr(command.rfind('/') + 1) != "qor-agent") {
    std::fprintf(stderr, "qor-agent: no agent running for %s\n", home.c_str());
    return std::nullopt;
  }
  return static_cast<pid_t>(*pid);
}

}  // namespace

int RequestReload(const std::string& home, int waitMs) {
  const auto pid = RunningAgent(home);
  if (!pid) return 2;
  const std::string statusPath = home + kStatusFile;
  std::remove(statusPath.c_str());
  if (kill(*pid, SIGHUP) != 0) {
    std::fprintf(stderr, "qor-agent: cannot signal %ld: %s\n", static_cast<long>(*pid),
                 std::strerror(errno));
    return 2;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  while (Clock::now() < deadline) {
    // The agent replaces the file in one rename: whatever is there is whole.
    std::ifstream in(statusPath, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!text.empty()) {
      std::fputs(text.c_str(), stdout);
      return text.rfind("ok", 0) == 0 ? 0 : 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::fprintf(stderr, "qor-agent: no answer to the reload within %d ms\n", waitMs);
  return 1;
}

int RequestStop(const std::string& home, int waitMs) {
  const auto pid = RunningAgent(home);
  if (!pid) return 2;
  if (kill(*pid, SIGTERM) != 0) {
    std::fprintf(stderr, "qor-agent: cannot signal %ld: %s\n", static_cast<long>(*pid),
                 std::strerror(errno));
    return 2;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  while (Clock::now() < deadline) {
    if (Ended(*pid)) {
      std::printf("stopped %ld\n", static_cast<long>(*pid));
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::fprintf(stderr, "qor-agent: the agent %ld is still running after %d ms\n",
               static_cast<long>(*pid), waitMs);
  return 1;
}

}  // namespace qor::agent_tool
