// The agent socket object against a loopback agent that derives the session
// key and encrypts its answers with OpenSSL: request bytes, session keys,
// health checks, the policy-hash check and where errors land.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent/agent_test_support.h"
#include "agent/socket/client_protocol.h"
#include "agent/socket/qor_socket.h"
#include "agent/socket/socket_internal.h"
#include "qor/key_mgr.h"
#include "support/log_capture.h"

namespace {

using qor::test::Bytes;
using qor::test::Frame;
using qor::test::LoopbackServer;

constexpr int kLimitMs = 1000;

struct SocketDeleter {
  void operator()(QORSocket* s) const { s->Destroy(&s); }
};
using SocketPtr = std::unique_ptr<QORSocket, SocketDeleter>;

struct MgrDeleter {
  void operator()(KeyMgr* m) const { m->Destroy(&m); }
};
using MgrPtr = std::unique_ptr<KeyMgr, MgrDeleter>;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes FromBuffer(const DataBuffer& b) { return Bytes(b.data, b.data + std::max(b.length, 0)); }

// The session cipher decrypts an answer made by the independent
// implementation. Tests that read answers check this first, so that a broken
// cipher fails them with this reason rather than another.
bool SessionCipherReadsAnswers() {
  const Bytes key(32, 0x11), iv(16, 0x22);
  UACipherUtil* cipher = qor::agent::CreateSessionCipher(key.data(), iv.data());
  if (cipher == nullptr) return false;
  Packet answer{};
  Bytes body = qor::test::AgentEncrypt({key, iv}, Text("probe"));
  answer.data = body.data();
  answer.length = static_cast<int32_t>(body.size());
  DataBuffer plain{0, nullptr};
  const bool ok = qor::agent::DecryptAnswer(cipher, answer, &plain) == 0 && FromBuffer(plain) == Text("probe");
  std::free(plain.data);
  cipher->Destroy(&cipher);
  return ok;
}

#define REQUIRE_VALUE_CORE() \
  ASSERT_TRUE(SessionCipherReadsAnswers()) << "the session cipher cannot read an answer"

// A loopback agent: reads one request, keeps its bytes, and answers with
// |answer(request)| framed under operation 1 (or the frame itself when the
// answer starts with a whole frame of its own).
class FakeAgent {
 public:
  using Answer = std::function<Bytes(const Bytes& request)>;

  void AnswerOnce(Answer answer) {
    server_.Serve([this, answer = std::move(answer)](int fd) {
      Bytes request = qor::test::RecvFrame(fd);
      Bytes reply = answer(request);
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
      }
      qor::test::SendAll(fd, reply);
    });
  }
  // Answers with |plain| encrypted under the request's session key.
  void AnswerPlain(const Bytes& plain) {
    AnswerOnce([plain](const Bytes& request) {
      const auto keys = qor::test::AgentKeys(qor::test::SeedOf(request), request[0]);
      return Frame(1, qor::test::AgentEncrypt(keys, plain));
    });
  }

  uint16_t port() const { return server_.port(); }
  std::vector<Bytes> requests() {
    server_.Join();
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  LoopbackServer server_;
  std::mutex mutex_;
  std::vector<Bytes> requests_;
};

struct SocketFixture {
  ErrorInfo error{};
  SocketPtr socket;
  SocketFixture(uint16_t firstPort, const char* secondHost = nullptr, uint16_t secondPort = 0)
      : socket(QORSocket_Create("127.0.0.1", firstPort, secondHost, secondPort, kLimitMs, &error)) {
    if (socket != nullptr) socket->SetErrorVariable(socket.get(), &error);
  }
  QORSocket* get() { return socket.get(); }
  QORSocket* operator->() { return socket.get(); }
};

// Fixed fields and length of a request without payload, seed aside.
void ExpectRequestLayout(const Bytes& request, uint8_t opcode, const Bytes& payload) {
  ASSERT_EQ(request.size(), 53 + payload.size());
  const uint32_t length = 48 + static_cast<uint32_t>(payload.size());
  const Bytes header{opcode, 0, 0, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  EXPECT_EQ(Bytes(request.begin(), request.begin() + 5), header);
  EXPECT_EQ(qor::test::ToHex(Bytes(request.begin() + 5, request.begin() + 21)),
            "0c0d0b00000000000000000000000001");
  EXPECT_EQ(Bytes(request.begin() + 53, request.end()), payload);
}

// ---- Session key and request layout -----------------------------------------

TEST(SessionKey, MatchesSha256OfSeedOpcodeAndLabel) {
  std::mt19937 rng(7);
  for (const uint8_t opcode : {1, 2, 3, 4, 5, 0, 255}) {
    Bytes seed(32);
    for (auto& b : seed) b = static_cast<uint8_t>(rng());
    unsigned char key[32], iv[16];
    qor::agent::DeriveSessionKey(seed.data(), opcode, key, iv);
    const auto expected = qor::test::AgentKeys(seed, opcode);
    EXPECT_EQ(Bytes(key, key + 32), expected.key) << int(opcode);
    EXPECT_EQ(Bytes(iv, iv + 16), expected.iv) << int(opcode);
  }
}

TEST(SessionKey, EncryptedAnswerIsAria256CbcWithPadding) {
  REQUIRE_VALUE_CORE();
  const Bytes seed(32, 0x5C);
  unsigned char key[32], iv[16];
  qor::agent::DeriveSessionKey(seed.data(), 1, key, iv);
  UACipherUtil* cipher = qor::agent::CreateSessionCipher(key, iv);
  ASSERT_NE(cipher, nullptr);
  for (const size_t size : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{88}, size_t{1000}}) {
    Bytes plain(size);
    for (size_t i = 0; i < size; ++i) plain[i] = static_cast<uint8_t>(i * 7 + 1);
    DataBuffer body{0, nullptr};
    ASSERT_EQ(qor::agent::EncryptAnswer(cipher, plain.data(), static_cast<int32_t>(size), &body), 0);
    EXPECT_EQ(FromBuffer(body), qor::test::AgentEncrypt(qor::test::AgentKeys(seed, 1), plain)) << size;
    std::free(body.data);
  }
  cipher->Destroy(&cipher);
}

TEST(Request, LayoutByteForByte) {
  struct Case {
    uint8_t opcode;
    std::string payload;
    std::string headerHex;
  } cases[] = {
      {1, "", "0100000030"}, {2, "", "0200000030"}, {4, "", "0400000030"},
      {5, "", "0500000030"}, {3, "P:3", "0300000033"},
  };
  const Bytes seed = qor::test::FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  for (const Case& c : cases) {
    DataBuffer request{0, nullptr};
    ASSERT_EQ(qor::agent::BuildRequest(c.opcode, seed.data(),
                                       reinterpret_cast<const unsigned char*>(c.payload.data()),
                                       static_cast<int32_t>(c.payload.size()), &request),
              0);
    EXPECT_EQ(qor::test::ToHex(FromBuffer(request)),
              c.headerHex + "0c0d0b0000000000" + "0000000000000001" + qor::test::ToHex(seed) +
                  qor::test::ToHex(Text(c.payload)));
    std::free(request.data);
  }
}

TEST(Request, EachRequestDrawsANewSeedAndKey) {
  SocketFixture f(9909);
  ASSERT_NE(f.get(), nullptr);
  auto* state = qor::agent::StateOf(f.get());
  DataBuffer a{0, nullptr}, b{0, nullptr};
  ASSERT_EQ(qor::agent::GetSendPacketInfo(f.get(), &a, 1), 0);
  const Bytes keyA(state->key, state->key + 32), ivA(state->iv, state->iv + 16);
  ASSERT_EQ(qor::agent::GetSendPacketInfo(f.get(), &b, 1), 0);
  const Bytes requestA = FromBuffer(a), requestB = FromBuffer(b);
  ExpectRequestLayout(requestA, 1, {});
  ExpectRequestLayout(requestB, 1, {});
  EXPECT_NE(qor::test::SeedOf(requestA), qor::test::SeedOf(requestB));
  EXPECT_NE(Bytes(state->key, state->key + 32), keyA);
  const auto expectedA = qor::test::AgentKeys(qor::test::SeedOf(requestA), 1);
  const auto expectedB = qor::test::AgentKeys(qor::test::SeedOf(requestB), 1);
  EXPECT_EQ(keyA, expectedA.key);
  EXPECT_EQ(ivA, expectedA.iv);
  EXPECT_EQ(Bytes(state->key, state->key + 32), expectedB.key) << "the object keeps the last request's key";
  std::free(a.data);
  std::free(b.data);

  const std::string name = "P";
  const std::string payloadText = name + ":" + std::to_string(3);
  const DataBuffer payload{static_cast<int32_t>(payloadText.size()),
                           reinterpret_cast<unsigned char*>(const_cast<char*>(payloadText.data()))};
  DataBuffer single{0, nullptr};
  ASSERT_EQ(qor::agent::GetSendPacketInfoFromSpecfic(f.get(), &single, &payload), 0);
  ExpectRequestLayout(FromBuffer(single), 3, Text("P:3"));
  EXPECT_EQ(Bytes(state->key, state->key + 32),
            qor::test::AgentKeys(qor::test::SeedOf(FromBuffer(single)), 3).key);
  std::free(single.data);
}

// ---- Checks against the loopback agent --------------------------------------

struct HealthCase {
  const char* name;
  Bytes plain;
  bool healthy;
};

// Test names say which case ran; the byte dump does not.
void PrintTo(const HealthCase& c, std::ostream* os) { *os << c.name; }

class HealthCheck : public ::testing::TestWithParam<HealthCase> {};

TEST_P(HealthCheck, AnswersFirstByteOneAsHealthy) {
  REQUIRE_VALUE_CORE();
  const HealthCase& c = GetParam();
  struct Op {
    uint8_t opcode;
    int (*check)(QORSocket*);
  } ops[] = {{4, [](QORSocket* s) { return s->HealthCheckAgent(s); }},
             {5, [](QORSocket* s) { return s->HealthCheckServer(s); }}};
  for (const Op& op : ops) {
    FakeAgent agent;
    agent.AnswerPlain(c.plain);
    SocketFixture f(agent.port());  // no second agent
    ASSERT_NE(f.get(), nullptr);
    const int result = op.check(f.get());
    if (c.healthy) {
      EXPECT_EQ(result, 0) << int(op.opcode) << ": " << f.error.message;
    } else {
      EXPECT_NE(result, 0) << int(op.opcode);
    }
    const auto requests = agent.requests();
    ASSERT_EQ(requests.size(), 1u);
    ExpectRequestLayout(requests[0], op.opcode, {});
  }
}

INSTANTIATE_TEST_SUITE_P(Answers, HealthCheck,
                         ::testing::Values(HealthCase{"One", {1}, true},
                                           HealthCase{"OneAndMore", {1, 0, 0}, true},
                                           HealthCase{"Zero", {0}, false},
                                           HealthCase{"Two", {2}, false},
                                           HealthCase{"Empty", {}, false}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(HealthCheckFailures, RefusalUndecryptableAnswerAndNoAgent) {
  REQUIRE_VALUE_CORE();
  {
    FakeAgent agent;
    agent.AnswerOnce([](const Bytes&) { return Frame(0, Text("not now")); });
    SocketFixture f(agent.port());
    EXPECT_NE(f->HealthCheckAgent(f.get()), 0);
    EXPECT_STREQ(f.error.message, "Receive Message [not now]");
  }
  {
    FakeAgent agent;
    // Not a whole number of cipher blocks: no key can decrypt it.
    agent.AnswerOnce([](const Bytes& request) {
      const auto keys = qor::test::AgentKeys(qor::test::SeedOf(request), request[0]);
      Bytes body = qor::test::AgentEncrypt(keys, Bytes(15, 1));
      body.push_back(0);
      return Frame(1, body);
    });
    SocketFixture f(agent.port());
    EXPECT_NE(f->HealthCheckAgent(f.get()), 0);
    EXPECT_STREQ(f.error.message, "Record Decrypt Failed");
  }
  SocketFixture f(qor::test::ClosedPort());
  EXPECT_NE(f->HealthCheckServer(f.get()), 0);
  EXPECT_EQ(f.error.code, 3);
}

TEST(CheckPolicy, ComparesTheAgentsHashWithTheKeyManagers) {
  REQUIRE_VALUE_CORE();
  Bytes hash(QOR_POLICY_HASH_SIZE);
  for (size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<uint8_t>('A' + i % 26);
  MgrPtr mgr(KeyMgr_Create(nullptr));
  ASSERT_NE(mgr, nullptr);
  mgr->SetPolicyHash(mgr.get(), hash.data());

  Bytes changed = hash;
  changed[87] ^= 1;
  struct Case {
    const char* name;
    Bytes answer;
    int expected;
  } cases[] = {
      {"Equal", hash, 0},
      {"LastByteChanged", changed, 1},
      {"Short", Bytes(hash.begin(), hash.end() - 1), 1},
      {"Long", [&] { Bytes b = hash; b.push_back('x'); return b; }(), 1},
  };
  for (const Case& c : cases) {
    FakeAgent agent;
    agent.AnswerPlain(c.answer);
    SocketFixture f(agent.port());
    EXPECT_EQ(f->CheckPolicy(f.get(), mgr.get()), c.expected) << c.name;
    const auto requests = agent.requests();
    ASSERT_EQ(requests.size(), 1u);
    ExpectRequestLayout(requests[0], 2, {});
  }
  SocketFixture f(9909);
  EXPECT_EQ(f->CheckPolicy(f.get(), nullptr), -1);
  EXPECT_EQ(f->CheckPolicy(nullptr, mgr.get()), -1);
}

// ---- The object and its error chain ------------------------------------------

TEST(QORSocket, CreationNeedsAFirstHostOnly) {
  ErrorInfo record{};
  QORSocket* s = QORSocket_Create(std::string(45, 'h').c_str(), 9909, "127.0.0.1", 9911, kLimitMs, &record);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(record.code, 1);
  EXPECT_EQ(QORSocket_Create(nullptr, 9909, nullptr, 0, kLimitMs, &record), nullptr);

  SocketFixture f(9909, nullptr, 0);
  ASSERT_NE(f.get(), nullptr);
  EXPECT_EQ(qor::agent::StateOf(f.get())->second, nullptr);
  qor::test::LogCapture log;
  EXPECT_EQ(f->Connect(f.get(), 2), 1) << "an absent second agent cannot be reached";
  EXPECT_NE(log.text().find("Failed to Connect Second[ msg:"), std::string::npos) << log.text();
  EXPECT_STREQ(f->GetLastErrorMsg(nullptr), "");
}

TEST(QORSocket, ConnectionErrorsReachTheCallersRecord) {
  const uint16_t closed = qor::test::ClosedPort();
  ErrorInfo last{};
  SocketFixture f(closed, "127.0.0.1", 0);
  f->SetErrorVariable(f.get(), &last);
  qor::test::LogCapture log;
  EXPECT_EQ(f->Connect(f.get(), 1), 1);
  EXPECT_EQ(last.code, 3);
  EXPECT_STREQ(f->GetLastErrorMsg(f.get()), last.message);
  EXPECT_NE(log.text().find("Failed to Connect Main[ msg:[code:"), std::string::npos) << log.text();
  EXPECT_EQ(f->Connect(f.get(), 2), 1);
  EXPECT_EQ(last.code, 9) << "the second agent's port 0 is refused";
  EXPECT_EQ(f->Connect(f.get(), 7), 1);
}

TEST(QORSocket, RoundTripToTheSecondAgent) {
  FakeAgent agent;
  agent.AnswerOnce([](const Bytes& request) { return Frame(1, Bytes(request.begin() + 21, request.end())); });
  SocketFixture f(qor::test::ClosedPort(), "127.0.0.1", agent.port());
  DataBuffer request{0, nullptr};
  ASSERT_EQ(qor::agent::GetSendPacketInfo(f.get(), &request, 1), 0);
  Packet answer{};
  EXPECT_EQ(qor::agent::GetPolicyInfoFromQORServer(f.get(), &request, &answer, 1, 1), 1);
  EXPECT_EQ(qor::agent::GetPolicyInfoFromQORServer(f.get(), &request, &answer, 2, 1), 0) << f.error.message;
  EXPECT_EQ(Bytes(answer.data, answer.data + answer.length), qor::test::SeedOf(FromBuffer(request)));
  const auto requests = agent.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], FromBuffer(request)) << "the request goes out exactly as built";
  DestroyPacket(&answer);
  std::free(request.data);
}

// Without a configuration or key manager the key operations refuse and leave
// the caller's slot empty.
TEST(QORSocket, KeyOperationsRefuseMissingArguments) {
  SocketFixture f(9909);
  KeyMgr* slot = nullptr;
  EXPECT_NE(f->GetKeyMgrFromQORServer(f.get(), &slot, nullptr), 0);
  EXPECT_EQ(slot, nullptr);
  EXPECT_NE(f->GetKeyMgrUpdateFromQORServer(f.get(), &slot, nullptr), 0);
  EXPECT_NE(f->AppendPolicyFromQORServer(f.get(), nullptr, nullptr), 0);
  EXPECT_NE(f->GetSpecficKeyFromQORServer(f.get(), nullptr, nullptr, 1, "P", 3), 0);
}

}  // namespace
