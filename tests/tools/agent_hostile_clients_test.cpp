// The stand-in agent against clients that connect and then stall, trickle or
// leave half-way, each as a real process on loopback: well-behaved clients
// keep being served, stalled connections are cut, and the request log stays
// within its size.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "agent/socket/client_protocol.h"
#include "qor/connection.h"
#include "qor/nc_random.h"
#include "support/agent_process.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono_literals;
using qor::test::AgentProcess;
using qor::test::ReadFile;

// Long enough that no connection in these tests ends by a time limit unless
// the test sets a short one: what frees a slot is what is being tested.
constexpr char kForever[] = "600000";

// The one policy every agent of these tests serves; what matters is how the
// agent treats its connections, not what it serves.
std::string HostilePolicies() {
  return qor::test::PolicySetJson({{"hostile.aria", "ARIA", 128, {{1, qor::test::KeyHex(16, 1)}}}});
}

// A raw client socket connected to |port|; reads give up after |guard|.
int Connect(int port, std::chrono::seconds guard = 20s) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval limit{static_cast<time_t>(guard.count()), 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  return bytes.empty() || send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

// True when the agent closed |fd| before the read guard ran out: end of
// stream, or a reset when the agent closed with the client's bytes unread.
bool ClosedByAgent(int fd) {
  char byte;
  const ssize_t n = recv(fd, &byte, 1, 0);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

// A health check the way the library sends it: true when the answer
// decrypted to "healthy".
bool Healthy(int port) {
  unsigned char seed[qor::agent::kSeedSize];
  NC_GenerateRandom(seed, sizeof seed);
  DataBuffer request{0, nullptr};
  if (qor::agent::BuildRequest(qor::agent::kOpAgentHealth, seed, nullptr, 0, &request) != 0) {
    return false;
  }
  Connection* connection = Connection_Create("127.0.0.1", static_cast<uint16_t>(port), 1, 5000);
  Packet out{};
  Packet in{};
  bool healthy = false;
  if (connection->Connect(connection) == 0 && GenPacket(qor::agent::kOpAgentHealth, &request, &out) == 0 &&
      connection->SendPacket(connection, &out) == 0 && connection->ReadPacket(connection, &in) == 0) {
    unsigned char key[qor::agent::kSessionKeySize];
    unsigned char iv[qor::agent::kSessionIvSize];
    qor::agent::DeriveSessionKey(seed, qor::agent::kOpAgentHealth, key, iv);
    UACipherUtil* cipher = qor::agent::CreateSessionCipher(key, iv);
    DataBuffer plain{0, nullptr};
    healthy = qor::agent::DecryptAnswer(cipher, in, &plain) == 0 && plain.length >= 1 && plain.data[0] == 1;
    std::free(plain.data);
    cipher->Destroy(&cipher);
  }
  DestroyPacket(&out);
  DestroyPacket(&in);
  connection->Destroy(&connection);
  std::free(request.data);
  return healthy;
}

int Count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// Occurrences of |needle| in the log once they reach |expected| or a few
// seconds passed: a connection cut by the watchdog is logged after it closes.
int CountSettled(const std::string& log, const std::string& needle, int expected) {
  const auto deadline = std::chrono::steady_clock::now() + 60s;  // a hang guard only
  int n = Count(ReadFile(log), needle);
  while (n < expected && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
    n = Count(ReadFile(log), needle);
  }
  return n;
}

// A full agent makes room by cutting its oldest connection that is still
// waiting for a request, instead of turning the newcomer away.
TEST(AgentHostileClients, StalledConnectionsDoNotShutOutWellBehavedClients) {
  AgentProcess agent(HostilePolicies());
  agent.Start({"--max-connections", "64", "--request-timeout-ms", kForever, "--idle-timeout-ms",
               kForever});
  ASSERT_TRUE(agent.ok()) << agent.errors();
  // Half send nothing, half part of a header; all on the port the clients use,
  // so the agent takes them first.
  std::vector<int> stalled;
  for (int i = 0; i < 64; ++i) {
    const int fd = Connect(agent.firstPort());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, i % 2 == 1 ? std::string("\x04\x00", 2) : ""));
    stalled.push_back(fd);
  }
  constexpr int kClients = 40;
  int served = 0;
  for (int i = 0; i < kClients; ++i) served += Healthy(agent.firstPort()) ? 1 : 0;
  EXPECT_EQ(served, kClients);
  // The room came from the oldest stalled connection.
  EXPECT_TRUE(ClosedByAgent(stalled.front()));
  for (int fd : stalled) close(fd);
}

// A client that sends part of the request and closes its side is dropped at
// once; it does not hold its slot until a time limit.
TEST(AgentHostileClients, ClientsThatLeaveMidRequestAreDroppedAtOnce) {
  AgentProcess agent(HostilePolicies());
  agent.Start({"--max-connections", "64", "--request-timeout-ms", kForever, "--idle-timeout-ms",
               kForever});
  ASSERT_TRUE(agent.ok()) << agent.errors();
  struct Case {
    const char* what;
    std::string bytes;
  };
  const std::string header48("\x04\x00\x00\x00\x30", 5);
  const Case cases[] = {
      {"nothing", ""},
      {"one header byte", "\x04"},
      {"four header bytes", std::string("\x04\x00\x00\x00", 4)},
      {"header, part of the body", header48 + std::string(20, '\x01')},
  };
  std::vector<int> clients;
  for (int round = 0; round < 16; ++round) {
    for (const Case& c : cases) {
      const int fd = Connect(agent.firstPort());
      ASSERT_GE(fd, 0);
      ASSERT_TRUE(SendAll(fd, c.bytes)) << c.what;
      shutdown(fd, SHUT_WR);
      clients.push_back(fd);
    }
  }
  for (size_t i = 0; i < clients.size(); ++i) {
    EXPECT_TRUE(ClosedByAgent(clients[i])) << cases[i % 4].what;
    close(clients[i]);
  }
  EXPECT_TRUE(Healthy(agent.firstPort()));
  EXPECT_EQ(CountSettled(agent.logPath(), "no answer: peer closed after", 16 * 2), 16 * 2);
}

// A connection whose request has not come in whole within the idle limit is
// cut, however the request time limit is set.
TEST(AgentHostileClients, ConnectionsWithoutAWholeRequestAreCutAtTheIdleLimit) {
  AgentProcess agent(HostilePolicies());
  agent.Start({"--request-timeout-ms", kForever, "--idle-timeout-ms", "300"});
  ASSERT_TRUE(agent.ok()) << agent.errors();
  const std::string header48("\x04\x00\x00\x00\x30", 5);
  const std::pair<const char*, std::string> cases[] = {
      {"silent", ""},
      {"part of a header", std::string("\x04\x00", 2)},
      {"header without its body", header48},
      {"header and part of the body", header48 + std::string(20, '\x01')},
  };
  for (const auto& [what, bytes] : cases) {
    const int fd = Connect(agent.firstPort());
    ASSERT_GE(fd, 0) << what;
    ASSERT_TRUE(SendAll(fd, bytes)) << what;
    EXPECT_TRUE(ClosedByAgent(fd)) << what;
    close(fd);
  }
  EXPECT_EQ(CountSettled(agent.logPath(), "no whole request within the idle time limit", 4), 4)
      << ReadFile(agent.logPath());
  EXPECT_TRUE(Healthy(agent.firstPort()));
}

// The request log is rotated by size and keeps the generations asked for.
TEST(AgentHostileClients, RequestLogIsRotatedBySize) {
  constexpr long kMax = 2048;
  AgentProcess agent(HostilePolicies());
  agent.Start({"--log-max-bytes", std::to_string(kMax), "--log-keep", "2"});
  ASSERT_TRUE(agent.ok()) << agent.errors();
  for (int i = 0; i < 120; ++i) ASSERT_TRUE(Healthy(agent.firstPort())) << i;
  agent.Stop();  // every line is written once the agent has stopped

  namespace fs = std::filesystem;
  const std::string log = agent.logPath();
  ASSERT_TRUE(fs::exists(log + ".1"));
  ASSERT_TRUE(fs::exists(log + ".2"));
  EXPECT_FALSE(fs::exists(log + ".3"));
  int kept = 0;
  for (const std::string& path : {log, log + ".1", log + ".2"}) {
    EXPECT_LE(static_cast<long>(fs::file_size(path)), kMax) << path;
    kept += Count(ReadFile(path), " op=4 ok");
  }
  // The oldest lines were dropped; the newest file ends with the stop.
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, 120);
  const std::string newest = ReadFile(log);
  EXPECT_NE(newest.find("stopped"), std::string::npos);
}

}  // namespace
