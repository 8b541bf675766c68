// A hostile stand-in agent for tests: it speaks the request protocol (reads
// the framed request, derives the session key from its seed with OpenSSL)
// and then answers the way the test's script says: honestly, trickled a byte
// at a time, after a long pause, with a length field that lies, with a body
// sealed under the session key or raw bytes, or not at all. Every connection
// runs on its own thread; the destructor stops and joins them all.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/evp_oracle.h"

namespace qor::test {

struct HostileReply {
  uint8_t opcode = 1;                 // the answer's operation byte (0 refuses)
  std::vector<uint8_t> body;          // plain content, sealed under the session key
  bool raw = false;                   // send |body| as it is, unsealed
  int headerDelayMs = 0;              // pause before the first byte
  int byteDelayMs = 0;                // pause before every byte (trickling)
  std::optional<uint32_t> announced;  // a length field other than the body's
  bool silent = false;                // read the request, never answer
};

// The request as the agent saw it: operation, payload ("name:version" for 3).
using HostileScript = std::function<HostileReply(uint8_t opcode, const std::string& payload)>;

class HostileAgent {
 public:
  explicit HostileAgent(HostileScript script) : script_(std::move(script)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener_, 64) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~HostileAgent() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> connections;
    {
      std::lock_guard lock(mutex_);
      connections.swap(connections_);
    }
    for (auto& t : connections) t.join();
    if (listener_ >= 0) close(listener_);
  }
  HostileAgent(const HostileAgent&) = delete;
  HostileAgent& operator=(const HostileAgent&) = delete;

  int port() const { return port_; }
  int requests() const { return requests_.load(); }
  void SetScript(HostileScript script) {
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
  }

  // ARIA-256-CBC with PKCS#7 under SHA-256(seed | op | "enc") and the first
  // 16 bytes of SHA-256(seed | op | "iv"): the answer as an agent seals it.
  static std::vector<uint8_t> Seal(const std::vector<uint8_t>& seed, uint8_t opcode,
                                   const std::vector<uint8_t>& plain) {
    auto digest = [&](const std::string& label) {
      std::vector<uint8_t> input = seed;
      input.push_back(opcode);
      input.insert(input.end(), label.begin(), label.end());
      std::vector<uint8_t> out(SHA256_DIGEST_LENGTH);
      SHA256(input.data(), input.size(), out.data());
      return out;
    };
    const std::vector<uint8_t> key = digest("enc");
    const std::vector<uint8_t> iv = digest("iv");
    return EvpCrypt(EVP_aria_256_cbc(), true, true, key, iv.data(), plain);
  }

 private:
  bool Stopped() const { return stop_.load(); }

  // Sleeps |ms| in small steps so a stopping agent is not held up.
  bool Pause(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
      if (Stopped()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 5)));
    }
    return true;
  }

  bool ReadExactly(int fd, uint8_t* out, size_t n) {
    while (n > 0 && !Stopped()) {
      pollfd entry{fd, POLLIN, 0};
      const int ready = poll(&entry, 1, 50);
      if (ready < 0) return false;
      if (ready == 0) continue;
      const ssize_t got = recv(fd, out, n, 0);
      if (got <= 0) return false;
      out += got;
      n -= static_cast<size_t>(got);
    }
    return n == 0;
  }

  bool SendBytes(int fd, const uint8_t* bytes, size_t n, int byteDelayMs) {
    while (n > 0) {
      if (byteDelayMs > 0 && !Pause(byteDelayMs)) return false;
      const size_t chunk = byteDelayMs > 0 ? 1 : n;
      const ssize_t sent = send(fd, bytes, chunk, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      bytes += sent;
      n -= static_cast<size_t>(sent);
    }
    return true;
  }

  void Accept() {
    while (!Stopped()) {
      pollfd entry{listener_, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      std::lock_guard lock(mutex_);
      connections_.emplace_back([this, fd] {
        Serve(fd);
        close(fd);
      });
    }
  }

  void Serve(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    uint8_t header[5];
    if (!ReadExactly(fd, header, 5)) return;
    const uint32_t length = (uint32_t{header[1]} << 24) | (uint32_t{header[2]} << 16) |
                            (uint32_t{header[3]} << 8) | header[4];
    if (length < 48 || length > 4096) return;
    std::vector<uint8_t> body(length);
    if (!ReadExactly(fd, body.data(), length)) return;
    ++requests_;
    const std::vector<uint8_t> seed(body.begin() + 16, body.begin() + 48);
    const std::string payload(body.begin() + 48, body.end());
    HostileReply reply;
    {
      std::lock_guard lock(mutex_);
      reply = script_(header[0], payload);
    }
    if (reply.silent) {
      while (Pause(20)) {
      }
      return;
    }
    const std::vector<uint8_t> content = reply.raw ? reply.body : Seal(seed, header[0], reply.body);
    const uint32_t announced = reply.announced.value_or(static_cast<uint32_t>(content.size()));
    std::vector<uint8_t> frame{reply.opcode, static_cast<uint8_t>(announced >> 24),
                               static_cast<uint8_t>(announced >> 16),
                               static_cast<uint8_t>(announced >> 8), static_cast<uint8_t>(announced)};
    frame.insert(frame.end(), content.begin(), content.end());
    if (reply.headerDelayMs > 0 && !Pause(reply.headerDelayMs)) return;
    SendBytes(fd, frame.data(), frame.size(), reply.byteDelayMs);
    // Let the reader take everything before the close.
    shutdown(fd, SHUT_WR);
    uint8_t drain[64];
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 200) > 0) (void)!recv(fd, drain, sizeof(drain), 0);
  }

  HostileScript script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> connections_;
};

}  // namespace qor::test
