// A loopback peer for the connection and agent-socket tests: a listening
// socket on an ephemeral port and a thread that serves one accepted
// connection; plus framing and the agent's side of the session key, built
// with OpenSSL so the library's own code is not its own judge.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/bytes.h"
#include "support/evp_oracle.h"
#include "support/ports.h"

namespace qor::test {

// Writes all of |bytes| or gives up on the first failure.
inline bool SendAll(int fd, const uint8_t* bytes, size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, bytes, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}
inline bool SendAll(int fd, const Bytes& bytes) { return SendAll(fd, bytes.data(), bytes.size()); }

// Reads exactly |n| bytes, waiting at most 2 s for each piece; fewer on
// close, error or time limit.
inline Bytes RecvExactly(int fd, size_t n) {
  Bytes out;
  uint8_t buffer[4096];
  while (out.size() < n) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 2000) <= 0) break;
    const ssize_t got = recv(fd, buffer, std::min(sizeof(buffer), n - out.size()), 0);
    if (got <= 0) break;
    out.insert(out.end(), buffer, buffer + got);
  }
  return out;
}

// Header (operation code, big-endian length) + |body|.
inline Bytes Frame(uint8_t opcode, const Bytes& body, uint32_t announced) {
  Bytes out{opcode, static_cast<uint8_t>(announced >> 24), static_cast<uint8_t>(announced >> 16),
            static_cast<uint8_t>(announced >> 8), static_cast<uint8_t>(announced)};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}
inline Bytes Frame(uint8_t opcode, const Bytes& body) {
  return Frame(opcode, body, static_cast<uint32_t>(body.size()));
}

// Reads one framed message (header and body) as raw bytes.
inline Bytes RecvFrame(int fd) {
  Bytes header = RecvExactly(fd, 5);
  if (header.size() != 5) return header;
  const uint32_t length = (uint32_t{header[1]} << 24) | (uint32_t{header[2]} << 16) |
                          (uint32_t{header[3]} << 8) | header[4];
  const Bytes body = RecvExactly(fd, length);
  header.insert(header.end(), body.begin(), body.end());
  return header;
}

class LoopbackServer {
 public:
  explicit LoopbackServer(int backlog = 8) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener_, backlog) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      ADD_FAILURE() << "no loopback listener";
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackServer() {
    Join();
    if (listener_ >= 0) close(listener_);
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  uint16_t port() const { return port_; }
  int listener() const { return listener_; }

  // Accepts the next connection on a thread and hands it to |handler|; the
  // socket is closed when the handler returns.
  void Serve(std::function<void(int fd)> handler) {
    Join();
    thread_ = std::thread([this, handler = std::move(handler)] {
      pollfd entry{listener_, POLLIN, 0};
      if (poll(&entry, 1, 5000) <= 0) return;
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      const int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
      handler(fd);
      close(fd);
    });
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

inline void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// ---- The agent's side of the session ----------------------------------

struct SessionKeys {
  Bytes key;  // 32 bytes
  Bytes iv;   // 16 bytes
};

// SHA-256(seed | opcode | "enc") and the first 16 bytes of SHA-256(seed | opcode | "iv").
inline SessionKeys AgentKeys(const Bytes& seed, uint8_t opcode) {
  auto digest = [&](const std::string& label) {
    Bytes input = seed;
    input.push_back(opcode);
    input.insert(input.end(), label.begin(), label.end());
    Bytes out(SHA256_DIGEST_LENGTH);
    SHA256(input.data(), input.size(), out.data());
    return out;
  };
  Bytes iv = digest("iv");
  iv.resize(16);
  return {digest("enc"), iv};
}

// ARIA-256-CBC with PKCS#7 padding, as the agent encrypts an answer body.
inline Bytes AgentEncrypt(const SessionKeys& keys, const Bytes& plain) {
  return EvpCrypt(EVP_aria_256_cbc(), true, true, keys.key, keys.iv.data(), plain);
}

// The seed of a request read off the wire (bytes 21 to 52).
inline Bytes SeedOf(const Bytes& request) {
  if (request.size() < 53) return {};
  return Bytes(request.begin() + 21, request.begin() + 53);
}

}  // namespace qor::test
