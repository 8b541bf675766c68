// The stand-in agent program (qor-agent) run for a test: started on two
// ephemeral loopback ports with its own home and policy file, reloaded with
// SIGHUP, stopped with SIGTERM when the holder goes away. Also a policy-set
// writer for its JSON file and a tiny misbehaving server for the failures
// the real agent never shows.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/ports.h"
#include "support/spawn.h"
#include "support/test_support.h"

namespace qor::test {

struct PolicyKey {
  int version;
  std::string keyHex;
  std::string status = "active";
};

struct PolicyDesc {
  std::string name;
  std::string algorithm;  // "ARIA", "SEED", "AES", "LEA", "3DES" ...
  int keyBits;
  std::vector<PolicyKey> keys;
  std::string ivType = "POLICY";
  std::string errorHandling = "RETURN_ERROR";
};

// Deterministic key bytes as hex: |bytes| bytes derived from |seed|.
inline std::string KeyHex(int bytes, unsigned seed) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  unsigned state = seed * 2654435761u + 12345u;
  for (int i = 0; i < bytes; ++i) {
    state = state * 1103515245u + 12345u;
    const unsigned b = (state >> 16) & 0xFF;
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

// A policy of the agent's set with |versions| in the order given (the agent
// lists them as the file does); each version's key comes from |seed| and the
// version, so two sets made with the same seed share their keys.
inline PolicyDesc Policy(const std::string& name, const std::string& algorithm, int bits,
                         const std::vector<int>& versions, unsigned seed = 1) {
  PolicyDesc p{name, algorithm, bits, {}};
  for (int v : versions) p.keys.push_back({v, KeyHex(bits / 8, seed * 100 + static_cast<unsigned>(v))});
  return p;
}

inline std::string PolicySetJson(const std::vector<PolicyDesc>& policies) {
  std::string out = "{\n  \"policies\": [\n";
  for (size_t i = 0; i < policies.size(); ++i) {
    const PolicyDesc& p = policies[i];
    out += "    {\"name\": \"" + p.name + "\", \"algorithm\": \"" + p.algorithm +
           "\", \"keyLength\": " + std::to_string(p.keyBits) + ", \"ivType\": \"" + p.ivType +
           "\", \"errorHandling\": \"" + p.errorHandling + "\", \"keys\": [";
    for (size_t k = 0; k < p.keys.size(); ++k) {
      const PolicyKey& key = p.keys[k];
      out += std::string(k ? ", " : "") + "{\"version\": " + std::to_string(key.version) +
             ", \"key\": \"" + key.keyHex + "\", \"status\": \"" + key.status +
             "\", \"validFrom\": \"2024010100Z\", \"validTo\": \"2099123100Z\"}";
    }
    out += std::string("]}") + (i + 1 < policies.size() ? ",\n" : "\n");
  }
  return out + "  ]\n}\n";
}

// The qor-agent program: the one built with the tests, else the one named by
// QOR_TEST_AGENT_BINARY; nullptr when there is none.
inline const char* AgentBinary() {
#ifdef QOR_AGENT_BINARY
  return QOR_AGENT_BINARY;
#else
  const char* named = std::getenv("QOR_TEST_AGENT_BINARY");
  return named != nullptr && access(named, X_OK) == 0 ? named : nullptr;
#endif
}

// How a program ended: exited with |code|, or not (killed by a signal, or
// killed here when it did not end in time).
struct ProgramExit {
  bool exited = false;
  int code = -1;
};

// Waits for |pid| up to |limit|; kills it when it does not end.
inline ProgramExit WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return {WIFEXITED(status), WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    if (done < 0) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return {};
}

// One qor-agent on two ephemeral loopback ports, stopped (SIGTERM, then
// SIGKILL after 10 s) when the holder goes away.
class AgentProcess {
 public:
  // Started at once on |home| serving |policies|, its files (policies.json,
  // agent.log, ports.txt) in |home|; ok() tells whether it listens.
  AgentProcess(const std::string& home, const std::vector<PolicyDesc>& policies)
      : dir_(home), home_(home), outPath_("/dev/null") {
    WriteFile(policyPath(), PolicySetJson(policies));
    Start();
  }
  // Not started yet: a temporary directory of its own holds the home
  // ("home"), the policy file |policyJson|, the log and what the program
  // prints (stdout.txt, stderr.txt). Start() runs it.
  explicit AgentProcess(const std::string& policyJson)
      : own_(std::make_unique<TempDir>()),
        dir_(own_->path()),
        home_(dir_ + "/home"),
        outPath_(dir_ + "/stdout.txt"),
        errPath_(dir_ + "/stderr.txt") {
    WriteFile(policyPath(), policyJson);
  }
  ~AgentProcess() { Stop(); }
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  // Starts the agent with |extra| arguments and waits for its ports; false
  // when it exited instead (exitCode() then says how) or did not listen.
  bool Start(const std::vector<std::string>& extra = {}) {
    const std::string portFile = dir_ + "/ports.txt";
    std::remove(portFile.c_str());
    const char* binary = AgentBinary();
    if (binary == nullptr) return false;
    std::vector<std::string> args = {binary, "--home", home_, "--policies", policyPath(),
                                     "--first-port", "0", "--second-port", "0", "--foreground",
                                     "--port-file", portFile, "--log", logPath()};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = SpawnProgram(args, outPath_, errPath_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      const std::string line = ReadFile(portFile);
      if (std::sscanf(line.c_str(), "listening first=%d second=%d", &first_, &second_) == 2) {
        return true;
      }
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  bool ok() const { return pid_ > 0 && first_ > 0 && second_ > 0; }
  int firstPort() const { return first_; }
  int secondPort() const { return second_; }
  pid_t pid() const { return pid_; }
  const std::string& home() const { return home_; }
  std::string policyPath() const { return dir_ + "/policies.json"; }
  std::string logPath() const { return dir_ + "/agent.log"; }
  std::string log() const { return ReadFile(logPath()); }
  // What the program wrote to standard error (only when it has a directory
  // of its own; otherwise it goes to the test's).
  std::string errors() const { return errPath_.empty() ? std::string() : ReadFile(errPath_); }
  // The exit code of an agent that ended during Start().
  std::optional<int> exitCode() const { return exitCode_; }

  // Serves |policies| from now on and waits until the agent says so.
  bool Reload(const std::vector<PolicyDesc>& policies) {
    const std::string status = home_ + "/conf/qor-agent.status";
    std::remove(status.c_str());
    WriteFile(policyPath(), PolicySetJson(policies));
    if (pid_ <= 0 || kill(pid_, SIGHUP) != 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string line = ReadFile(status);
      if (line.rfind("ok", 0) == 0) return true;
      if (line.rfind("failed", 0) == 0) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // "qor-agent reload --home": its exit code and what it printed.
  std::pair<int, std::string> ReloadByCommand() {
    const char* binary = AgentBinary();
    if (binary == nullptr) return {-1, "qor-agent is not built"};
    const std::string out = dir_ + "/reload.txt";
    const std::string err = dir_ + "/reload-err.txt";
    const pid_t pid = SpawnProgram({binary, "reload", "--home", home_}, out, err);
    const ProgramExit e = WaitForExit(pid, std::chrono::seconds(15));
    return {e.code, ReadFile(out) + ReadFile(err)};
  }

  // The update stamp the agent keeps in its home (0 when there is none).
  uint64_t stamp() const {
    const std::string bytes = ReadFile(home_ + "/conf/.qorupdate.dat");
    uint64_t value = 0;
    if (bytes.size() == 8) std::memcpy(&value, bytes.data(), 8);
    return value;
  }

  // Stops the agent with SIGTERM (SIGKILL after 10 s); how it ended.
  ProgramExit Stop() {
    if (pid_ <= 0) return {};
    kill(pid_, SIGTERM);
    const ProgramExit e = WaitForExit(pid_, std::chrono::seconds(10));
    pid_ = -1;
    return e;
  }

  // Number of requests of |operation| in the agent's log once it reaches
  // |expected| (the agent logs after answering) or 2 seconds passed.
  int RequestsSettled(int operation, int expected) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int n = Requests(operation);
    while (n < expected && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      n = Requests(operation);
    }
    return n;
  }

  // Number of requests of |operation| in the agent's log.
  int Requests(int operation) const {
    const std::string text = log();
    const std::string needle = " op=" + std::to_string(operation) + " ";
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
  }

 private:
  std::unique_ptr<TempDir> own_;  // the directory, when the agent has one of its own
  std::string dir_;
  std::string home_;
  std::string outPath_;
  std::string errPath_;
  pid_t pid_ = -1;
  int first_ = 0;
  int second_ = 0;
  std::optional<int> exitCode_;
};

// A server on an ephemeral loopback port that reads each request and then
// misbehaves in one fixed way.
class MisbehavingAgent {
 public:
  enum class Kind {
    kRefuse,        // answers operation code 0 with a text
    kSilent,        // reads the request and never answers
    kCloseMidBody,  // announces a long body, sends part of it and closes
  };

  explicit MisbehavingAgent(Kind kind) : kind_(kind) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener_, 16) != 0) {
      return;
    }
    socklen_t length = sizeof(address);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~MisbehavingAgent() {
    stop_ = true;
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    if (thread_.joinable()) thread_.join();
    for (int fd : held_) close(fd);
  }
  MisbehavingAgent(const MisbehavingAgent&) = delete;
  MisbehavingAgent& operator=(const MisbehavingAgent&) = delete;

  int port() const { return port_; }
  int requests() const { return requests_.load(); }
  // The body of request |i| (fixed fields, seed, payload), or "".
  std::string body(size_t i) {
    std::lock_guard lock(mutex_);
    return i < bodies_.size() ? bodies_[i] : std::string();
  }

 private:
  void Serve() {
    while (!stop_) {
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      unsigned char header[5];
      if (!ReadExactly(fd, header, 5)) {
        close(fd);
        continue;
      }
      const uint32_t length = (uint32_t{header[1]} << 24) | (uint32_t{header[2]} << 16) |
                              (uint32_t{header[3]} << 8) | header[4];
      std::vector<unsigned char> body(length);
      if (length > 0 && !ReadExactly(fd, body.data(), length)) {
        close(fd);
        continue;
      }
      {
        std::lock_guard lock(mutex_);
        bodies_.emplace_back(body.begin(), body.end());
      }
      ++requests_;
      switch (kind_) {
        case Kind::kRefuse: {
          const std::string text = "policy request refused";
          unsigned char answer[5] = {0, 0, 0, 0, static_cast<unsigned char>(text.size())};
          (void)!write(fd, answer, 5);
          (void)!write(fd, text.data(), text.size());
          close(fd);
          break;
        }
        case Kind::kSilent:
          held_.push_back(fd);  // open and unanswered until the test ends
          break;
        case Kind::kCloseMidBody: {
          // 1000 bytes announced (not a whole number of cipher blocks), 100 sent.
          unsigned char answer[5] = {1, 0, 0, 0x03, 0xE8};
          std::vector<unsigned char> part(100, 0x5A);
          (void)!write(fd, answer, 5);
          (void)!write(fd, part.data(), part.size());
          close(fd);
          break;
        }
      }
    }
  }
  static bool ReadExactly(int fd, unsigned char* out, size_t n) {
    while (n > 0) {
      const ssize_t got = read(fd, out, n);
      if (got <= 0) return false;
      out += got;
      n -= static_cast<size_t>(got);
    }
    return true;
  }

  Kind kind_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::vector<int> held_;
  std::mutex mutex_;
  std::vector<std::string> bodies_;
};

}  // namespace qor::test
