// The stand-in agent as a real process on loopback: the library's own client
// code talks to it, and its answers are read back with the library's parsers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include "agent/emergency/emergency_file.h"
#include "agent/policy/single_key_reader.h"
#include "agent/socket/client_protocol.h"
#include "agent/socket/qor_socket.h"
#include "library_glue.h"
#include "policy_set.h"
#include "protocol.h"
#include "qor/config.h"
#include "qor/cipher_util.h"
#include "qor/connection.h"
#include "qor/key_mgr.h"
#include "qor/nc_random.h"
#include "qor/policy.h"
#include "support/agent_process.h"
#include "support/evp_oracle.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using qor::test::ReadFile;
using qor::test::WriteFile;

json ExampleSet() { return json::parse(ReadFile(QOR_AGENT_EXAMPLE)); }

json& PolicyNamed(json& set, const std::string& name) {
  for (json& p : set["policies"]) {
    if (p["name"] == name) return p;
  }
  ADD_FAILURE() << "no policy " << name;
  return set["policies"][0];
}

using qor::test::AgentProcess;
using qor::test::ProgramExit;

// Every agent here cuts a request that does not arrive within 1.5 s.
const std::vector<std::string> kShortRequests = {"--request-timeout-ms", "1500"};

struct Reply {
  bool read = false;       // ReadPacket succeeded (a non-refusal answer)
  uint8_t operation = 0;
  std::string body;        // decrypted, or the refusal text as sent
  bool decrypted = false;
};

// One request the way the library sends it, answered and decrypted with the
// library's own session cipher.
Reply Ask(int port, uint8_t operation, const std::string& payload = "") {
  Reply reply;
  unsigned char seed[qor::agent::kSeedSize];
  NC_GenerateRandom(seed, sizeof seed);
  DataBuffer request{0, nullptr};
  if (qor::agent::BuildRequest(operation, seed, reinterpret_cast<const unsigned char*>(payload.data()),
                               static_cast<int32_t>(payload.size()), &request) != 0) {
    return reply;
  }
  Connection* connection = Connection_Create("127.0.0.1", static_cast<uint16_t>(port), 1, 3000);
  Packet out{};
  Packet in{};
  if (connection->Connect(connection) == 0 && GenPacket(operation, &request, &out) == 0 &&
      connection->SendPacket(connection, &out) == 0) {
    reply.read = connection->ReadPacket(connection, &in) == 0;
    reply.operation = in.opcode;
    if (in.data != nullptr) reply.body.assign(reinterpret_cast<char*>(in.data), in.length);
    if (reply.read) {
      unsigned char key[32];
      unsigned char iv[16];
      qor::agent::DeriveSessionKey(seed, operation, key, iv);
      UACipherUtil* cipher = qor::agent::CreateSessionCipher(key, iv);
      DataBuffer plain{0, nullptr};
      reply.decrypted = qor::agent::DecryptAnswer(cipher, in, &plain) == 0;
      reply.body = reply.decrypted ? std::string(reinterpret_cast<char*>(plain.data), plain.length) : "";
      std::free(plain.data);
      cipher->Destroy(&cipher);
    }
  }
  DestroyPacket(&out);
  DestroyPacket(&in);
  connection->Destroy(&connection);
  std::free(request.data);
  return reply;
}

// Raw bytes in, the framed answer out: for requests the library never sends.
// Sends |bytes| and reads until the agent closes the connection: the
// operation and body of its answer; -1 when the connect failed, -2 when the
// agent closed after fewer than 5 bytes, -3 when the client gave up waiting
// after |clientLimitSeconds| (the agent never closed).
std::pair<int, std::string> AskRaw(int port, const std::string& bytes, int clientLimitSeconds = 10) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval limit{clientLimitSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return {-1, "connect failed"};
  }
  send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[4096];
  ssize_t n;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(n));
  const bool gaveUp = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  close(fd);
  if (gaveUp) return {-3, answer};
  if (answer.size() < 5) return {-2, answer};
  return {static_cast<unsigned char>(answer[0]), answer.substr(5)};
}

std::string Frame(uint8_t operation, const std::string& body) {
  std::string frame(5, '\0');
  frame[0] = static_cast<char>(operation);
  const auto length = static_cast<uint32_t>(body.size());
  frame[1] = static_cast<char>(length >> 24);
  frame[2] = static_cast<char>(length >> 16);
  frame[3] = static_cast<char>(length >> 8);
  frame[4] = static_cast<char>(length);
  return frame + body;
}

std::string FixedFields() {
  return std::string(reinterpret_cast<const char*>(qor::agent::kFixedField1), 8) +
         std::string(reinterpret_cast<const char*>(qor::agent::kFixedField2), 8);
}

struct KeyMgrDeleter {
  void operator()(KeyMgr* mgr) const { mgr->Destroy(&mgr); }
};
using KeyMgrPtr = std::unique_ptr<KeyMgr, KeyMgrDeleter>;

KeyMgrPtr ParseRecord(const std::string& record) {
  KeyMgrPtr mgr(KeyMgr_Create(nullptr));
  std::vector<unsigned char> bytes(record.begin(), record.end());
  const DataBuffer buffer{static_cast<int32_t>(bytes.size()), bytes.data()};
  KeyMgrParse(&buffer, mgr.get(), 0, 0);
  return mgr;
}

KeyInfo* Find(KeyMgr* mgr, const std::string& name) {
  const DataBuffer key{static_cast<int32_t>(name.size()),
                       reinterpret_cast<unsigned char*>(const_cast<char*>(name.data()))};
  return mgr->GetKeyInfo(mgr, &key);
}

std::string Sha512Base64(const std::string& data) {
  unsigned char digest[SHA512_DIGEST_LENGTH];
  SHA512(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
  unsigned char text[100] = {0};
  const int n = EVP_EncodeBlock(text, digest, sizeof digest);
  return std::string(reinterpret_cast<char*>(text), static_cast<size_t>(n));
}

std::vector<unsigned char> Hex(const std::string& text) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

class AgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    agent_ = std::make_unique<AgentProcess>(ExampleSet().dump(2));
    ASSERT_TRUE(agent_->Start(kShortRequests)) << agent_->errors();
  }
  // Every agent ends with a clean stop, whatever it was sent.
  void TearDown() override {
    if (agent_ == nullptr || agent_->pid() <= 0) return;
    const ProgramExit e = agent_->Stop();
    EXPECT_TRUE(e.exited);
    EXPECT_EQ(e.code, 0) << agent_->errors();
  }
  std::unique_ptr<AgentProcess> agent_;
};

TEST_F(AgentTest, HealthChecksOnBothPortsThroughTheLibraryClient) {
  for (int port : {agent_->firstPort(), agent_->secondPort()}) {
    ErrorInfo errors{};
    QORSocket* socket = QORSocket_Create("127.0.0.1", static_cast<uint16_t>(port), nullptr, 0, 2000, &errors);
    ASSERT_NE(socket, nullptr);
    EXPECT_EQ(socket->HealthCheckAgent(socket), 0) << socket->GetLastErrorMsg(socket);
    EXPECT_EQ(socket->HealthCheckServer(socket), 0) << socket->GetLastErrorMsg(socket);
    socket->Destroy(&socket);
  }
  EXPECT_NE(agent_->log().find("op=4 ok"), std::string::npos) << agent_->log();
}

TEST_F(AgentTest, PolicySetParsesIntoAKeyManagerWithEveryPolicyAndOption) {
  const Reply reply = Ask(agent_->firstPort(), 1);
  ASSERT_TRUE(reply.decrypted);
  KeyMgrPtr mgr = ParseRecord(reply.body);
  json set = ExampleSet();
  ASSERT_EQ(mgr->GetPolicyCount(mgr.get()), static_cast<int>(set["policies"].size()));

  for (const json& p : set["policies"]) {
    KeyInfo* info = Find(mgr.get(), p["name"]);
    ASSERT_NE(info, nullptr) << p["name"];
    const int bytes = p["keyLength"].get<int>() / 8;
    EXPECT_EQ(static_cast<uint32_t>(info->cipher->GetAlgorithmType(&info->cipher)),
              GetCryptoAlgorithmType(p["algorithm"].get<std::string>().c_str(), bytes))
        << p["name"];
    EXPECT_EQ(info->cipher->GetKeyLength(&info->cipher), bytes) << p["name"];
    // The highest version is the one the library encrypts with.
    int highest = 0;
    for (const json& k : p["keys"]) highest = std::max(highest, k["version"].get<int>());
    EXPECT_EQ(info->cipher->GetLatestKeyVersion(&info->cipher), highest) << p["name"];
  }

  KeyInfo* full = Find(mgr.get(), "CUSTOMER_NAME");
  ASSERT_NE(full, nullptr);
  UACipherUtil** c = &full->cipher;
  EXPECT_EQ(full->ivType, QOR_IV_RECORD);
  EXPECT_EQ((*c)->Geterror_process(c), 2);           // RETURN_NULL
  EXPECT_EQ((*c)->Getnull_process(c), 1);
  EXPECT_EQ((*c)->GetCompatibility(c), 1);           // STANDARD, library compatibility off
  EXPECT_EQ((*c)->GetDecrypt_cnt(c), 1000);
  EXPECT_EQ((*c)->GetUnauthorizedDecryption(c), 3);  // CIPHERTEXT
  EXPECT_EQ((*c)->Getprio(c), 1);                    // ALLOW_FIRST
  EXPECT_EQ((*c)->GetACL_count(c), 2);
  EXPECT_EQ((*c)->GettargetExist(c), 3);             // RENAME
  EXPECT_EQ((*c)->GetorgFileHandling(c), 2);        // BACKUP with ".orig": rename
  EXPECT_EQ((*c)->GetencDataVerify(c), 1);
  EXPECT_EQ((*c)->GetorgDataVerify(c), 1);
  int32_t audit[4] = {9, 9, 9, 9};
  (*c)->GetAudit(c, audit);
  EXPECT_EQ(audit[0], 0);
  EXPECT_EQ(audit[1], 1);
  EXPECT_EQ(audit[2], 0);
  EXPECT_EQ(audit[3], 1);

  KeyInfo* ulvex = Find(mgr.get(), "CARD_NUMBER_FRONT");
  ASSERT_NE(ulvex, nullptr);
  EXPECT_EQ(ulvex->cipher->GetorgFileHandling(&ulvex->cipher), 0);  // KEEP: no action
  EXPECT_EQ(ulvex->cipher->GettargetExist(&ulvex->cipher), 2);      // OVERWRITE
  EXPECT_EQ(ulvex->cipher->GetCompatibility(&ulvex->cipher), 0);
  EXPECT_EQ(ulvex->cipher->data->pattern.type, QOR_PATTERN_EXCLUDE_STRING);
  EXPECT_EQ(ulvex->cipher->data->pattern.position, QOR_POSITION_FRONT);
  KeyInfo* character = Find(mgr.get(), "EMAIL_LOCAL_PART");
  ASSERT_NE(character, nullptr);
  EXPECT_EQ(character->cipher->data->pattern.type, QOR_PATTERN_CHARACTER);
  KeyInfo* middle = Find(mgr.get(), "PHONE_MIDDLE");
  ASSERT_NE(middle, nullptr);
  EXPECT_EQ(middle->cipher->data->pattern.type, QOR_PATTERN_MIDDLE);

  // The key bytes served are the file's: version 2 enciphers as ARIA-256
  // under them does (OpenSSL), and a missing or short key cannot do that.
  const std::vector<unsigned char> expected = Hex(PolicyNamed(set, "CUSTOMER_NAME")["keys"][1]["key"]);
  ASSERT_EQ(expected.size(), 32u);
  CipherUtil* served = (*c)->GetCipher(c, 2);
  ASSERT_NE(served, nullptr);
  const qor::test::Bytes probe(16, 'k');
  qor::test::Bytes room = probe;
  room.resize(64);
  DataBuffer in{16, room.data()};
  DataBuffer out{0, nullptr};
  ASSERT_EQ(EncryptFunctions[served->algType](&in, served->pEKey, served->iv, &out, 0, 0, 0), 0);
  EXPECT_EQ(qor::test::Bytes(out.data, out.data + out.length),
            qor::test::EvpCrypt(EVP_aria_256_cbc(), true, true, expected, served->iv, probe));
  std::free(out.data);
}

TEST_F(AgentTest, PolicyHashMatchesTheRecordAndChangesWithTheSet) {
  const Reply record = Ask(agent_->firstPort(), 1);
  const Reply hash = Ask(agent_->firstPort(), 2);
  ASSERT_TRUE(record.decrypted);
  ASSERT_TRUE(hash.decrypted);
  ASSERT_EQ(hash.body.size(), 88u);

  // The hash covers the encoded policies: the record's second top-level element.
  std::vector<unsigned char> bytes(record.body.begin(), record.body.end());
  uint32_t count = 0, position = 0;
  BerTlvNode* list = Parse_Tlv(bytes.data(), static_cast<uint32_t>(bytes.size()), 0, &count, &position);
  const BerTlv* hashElement = nullptr;
  ASSERT_GT(Policy_count(list, count, &hashElement), 0u);
  ASSERT_NE(hashElement, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(hashElement->value), hashElement->length), hash.body);
  std::string policies;
  for (const BerTlvNode* n = list; n != nullptr; n = n->next) {
    if (n->depth == 1 && n->tlv.tag == BER_TAG_SEQUENCE) {
      policies.assign(reinterpret_cast<char*>(n->tlv.value), n->tlv.length);
    }
  }
  BerTlv_free(list);
  EXPECT_EQ(Sha512Base64(policies), hash.body);

  KeyMgrPtr mgr = ParseRecord(record.body);
  ErrorInfo errors{};
  QORSocket* socket =
      QORSocket_Create("127.0.0.1", static_cast<uint16_t>(agent_->firstPort()), nullptr, 0, 2000, &errors);
  EXPECT_EQ(socket->CheckPolicy(socket, mgr.get()), 0);

  json set = ExampleSet();
  PolicyNamed(set, "AES_128")["keys"][0]["status"] = "deactive";
  WriteFile(agent_->policyPath(), set.dump());
  const uint64_t stampBefore = agent_->stamp();
  const auto [code, output] = agent_->ReloadByCommand();
  ASSERT_EQ(code, 0) << output;
  EXPECT_NE(agent_->stamp(), stampBefore);
  const Reply changed = Ask(agent_->firstPort(), 2);
  ASSERT_TRUE(changed.decrypted);
  EXPECT_EQ(changed.body.size(), 88u);
  EXPECT_NE(changed.body, hash.body);
  EXPECT_NE(socket->CheckPolicy(socket, mgr.get()), 0);
  socket->Destroy(&socket);
}

TEST_F(AgentTest, SingleKeyRecordsAndUnknownKeys) {
  json set = ExampleSet();
  const json& policy = PolicyNamed(set, "CARD_NUMBER_FRONT");
  const Reply reply = Ask(agent_->firstPort(), 3, "CARD_NUMBER_FRONT:2");
  ASSERT_TRUE(reply.decrypted) << reply.body;
  EXPECT_EQ(reply.operation, 3);
  // Read back the way the library reads a fetched key version.
  qor::agent::KeyRecord record;
  ASSERT_TRUE(qor::agent::ReadKeyRecord(reinterpret_cast<const uint8_t*>(reply.body.data()),
                                        reply.body.size(), 32, &record));
  EXPECT_EQ(record.version, 2);
  const std::vector<unsigned char> expected = Hex(policy["keys"][1]["key"]);
  EXPECT_EQ(record.key, expected);
  EXPECT_EQ(record.status, "active");
  EXPECT_EQ(record.firstTime, 20240101);  // "2024010100Z": all but the last three characters
  EXPECT_EQ(record.secondTime, 20991231);

  for (const char* unknown : {"CARD_NUMBER_FRONT:3", "NO_SUCH_POLICY:1"}) {
    const Reply refused = Ask(agent_->firstPort(), 3, unknown);
    EXPECT_FALSE(refused.read) << unknown;
    EXPECT_EQ(refused.operation, 0) << unknown;
    EXPECT_NE(refused.body.find("unknown key"), std::string::npos) << refused.body;
  }
}

TEST_F(AgentTest, MalformedAndUnknownRequestsAreRefusedAndServingGoesOn) {
  const std::string seed(32, 'S');
  struct Case {
    const char* what;
    std::string bytes;
    const char* says;
  } cases[] = {
      {"unknown operation", Frame(9, FixedFields() + seed), "unknown operation [9]"},
      {"operation 0", Frame(0, FixedFields() + seed), "unknown operation [0]"},
      {"too short", Frame(1, FixedFields()), "too short"},
      {"wrong fixed field", Frame(1, std::string(16, 'x') + seed), "fixed fields"},
      {"payload on a health check", Frame(4, FixedFields() + seed + "x"), "no payload"},
      {"key request without version", Frame(3, FixedFields() + seed + "AES_128"), "name:version"},
      {"control characters in a key name", Frame(3, FixedFields() + seed + "AES\n128:1"), "name:version"},
      {"key version over 16 bits", Frame(3, FixedFields() + seed + "AES_128:65536"), "name:version"},
      {"announced body of 1 MiB", Frame(1, FixedFields() + seed).substr(0, 1) + std::string("\x00\x10\x00\x00", 4),
       "malformed request"},
      {"empty body", Frame(1, ""), "size of the message"},
  };
  for (const Case& c : cases) {
    const auto [operation, body] = AskRaw(agent_->firstPort(), c.bytes);
    EXPECT_EQ(operation, 0) << c.what;
    EXPECT_NE(body.find(c.says), std::string::npos) << c.what << ": " << body;
  }
  // A client that sends half a header and goes quiet is cut by the agent's
  // request timeout (1.5 s here), long before this client's own 60 s: the
  // agent closes, with or without an error answer.
  const auto [operation, body] = AskRaw(agent_->firstPort(), std::string("\x01\x00", 2), 60);
  EXPECT_NE(operation, -1) << "connect failed";
  EXPECT_NE(operation, -3) << "the agent never closed the connection";
  EXPECT_TRUE(operation == 0 || operation == -2) << operation << ": " << body;
  EXPECT_TRUE(Ask(agent_->secondPort(), 4).decrypted);
}

TEST_F(AgentTest, ManyClientsAtOnce) {
  std::atomic<int> healthy{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 16; ++t) {
    clients.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        const Reply r = Ask(t % 2 == 0 ? agent_->firstPort() : agent_->secondPort(), 1);
        if (r.decrypted && !r.body.empty()) ++healthy;
      }
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(healthy.load(), 80);
}

TEST_F(AgentTest, ReloadWithAnErrorKeepsTheOldSetAndStamp) {
  const Reply before = Ask(agent_->firstPort(), 2);
  const uint64_t stamp = agent_->stamp();
  json set = ExampleSet();
  PolicyNamed(set, "LEA_256")["keys"][0]["key"] = "00ff";
  WriteFile(agent_->policyPath(), set.dump());
  const auto [code, output] = agent_->ReloadByCommand();
  EXPECT_EQ(code, 1);
  EXPECT_NE(output.find("\"LEA_256\""), std::string::npos) << output;
  EXPECT_NE(output.find("keys[0].key"), std::string::npos) << output;
  EXPECT_EQ(agent_->stamp(), stamp);
  const Reply after = Ask(agent_->firstPort(), 2);
  ASSERT_TRUE(after.decrypted);
  EXPECT_EQ(after.body, before.body);
  EXPECT_TRUE(Ask(agent_->firstPort(), 3, "LEA_256:1").decrypted);
}

TEST_F(AgentTest, SighupReloadsAndRewritesTheStampInPlace) {
  const std::string stampPath = agent_->home() + "/conf/.qorupdate.dat";
  struct stat before{};
  ASSERT_EQ(stat(stampPath.c_str(), &before), 0);
  EXPECT_EQ(before.st_size, 8);
  const uint64_t stamp = agent_->stamp();
  ASSERT_EQ(kill(agent_->pid(), SIGHUP), 0);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (agent_->stamp() == stamp && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_NE(agent_->stamp(), stamp);
  // Libraries map the stamp file: it must stay the same file.
  struct stat after{};
  ASSERT_EQ(stat(stampPath.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_size, 8);
}

TEST_F(AgentTest, EmergencyFileHoldsTheServedSetAndFollowsReloads) {
  auto load = [&] {
    DataBuffer record{0, nullptr};
    ErrorInfo errors{};
    EXPECT_EQ(qor::agent::LoadEmergencyPolicy(agent_->home(), &record, &errors),
              qor::agent::EmergencyLoad::kOk)
        << errors.message;
    std::string bytes = record.data != nullptr ? std::string(reinterpret_cast<char*>(record.data), record.length) : "";
    std::free(record.data);
    return bytes;
  };
  const Reply served = Ask(agent_->firstPort(), 1);
  ASSERT_TRUE(served.decrypted);
  EXPECT_EQ(load(), served.body);

  json set = ExampleSet();
  set["policies"].erase(set["policies"].begin());
  WriteFile(agent_->policyPath(), set.dump());
  ASSERT_EQ(agent_->ReloadByCommand().first, 0);
  const std::string reloaded = load();
  KeyMgrPtr mgr = ParseRecord(reloaded);
  EXPECT_EQ(mgr->GetPolicyCount(mgr.get()), static_cast<int>(set["policies"].size()));
  EXPECT_EQ(Find(mgr.get(), "SEED_128"), nullptr);
  EXPECT_EQ(reloaded, Ask(agent_->firstPort(), 1).body);
}

TEST_F(AgentTest, SigtermStopsCleanly) {
  const std::string pidFile = agent_->home() + "/conf/qor-agent.pid";
  EXPECT_EQ(std::stol(ReadFile(pidFile)), agent_->pid());
  const ProgramExit e = agent_->Stop();
  EXPECT_TRUE(e.exited);
  EXPECT_EQ(e.code, 0);
  EXPECT_FALSE(std::filesystem::exists(pidFile));
  EXPECT_NE(agent_->log().find("stopped"), std::string::npos);
}

TEST_F(AgentTest, ReloadCommandSignalsOnlyARunningAgent) {
  // A pid file naming a process that is not an agent (this test) is ignored.
  const std::string pidFile = agent_->home() + "/conf/qor-agent.pid";
  const std::string agentPid = ReadFile(pidFile);
  WriteFile(pidFile, std::to_string(getpid()) + "\n");
  const auto [code, output] = agent_->ReloadByCommand();
  EXPECT_EQ(code, 2) << output;
  EXPECT_NE(output.find("no agent running"), std::string::npos) << output;
  WriteFile(pidFile, agentPid);
  EXPECT_EQ(agent_->ReloadByCommand().first, 0);
}

TEST_F(AgentTest, StopCommandEndsTheAgentAndWaitsForIt) {
  const std::string pidFile = agent_->home() + "/conf/qor-agent.pid";
  const qor::test::TempDir out;
  auto stop = [&] {
    const pid_t pid = qor::test::SpawnProgram({QOR_AGENT_BINARY, "stop", "--home", agent_->home()}, out / "out",
                            out / "err");
    const ProgramExit e = qor::test::WaitForExit(pid, 15s);
    return std::make_pair(e.code, ReadFile(out / "out") + ReadFile(out / "err"));
  };
  const auto [code, output] = stop();
  EXPECT_EQ(code, 0) << output;
  EXPECT_EQ(output, "stopped " + std::to_string(agent_->pid()) + "\n");
  // It has ended by the time the command returns: only reaping is left.
  EXPECT_FALSE(std::filesystem::exists(pidFile));
  const ProgramExit e = agent_->Stop();
  EXPECT_TRUE(e.exited);
  EXPECT_EQ(e.code, 0);
  const auto [again, message] = stop();
  EXPECT_EQ(again, 2);
  EXPECT_EQ(message, "qor-agent: no agent running for " + agent_->home() + "\n");
}

// An empty set would make every value call fail: loud at start, refused on
// reload unless the agent was started with --allow-empty.
TEST_F(AgentTest, ReloadToAnEmptySetIsRefusedWithoutAllowEmpty) {
  const uint64_t stamp = agent_->stamp();
  const Reply before = Ask(agent_->firstPort(), 2);
  WriteFile(agent_->policyPath(), R"({"policies": []})");
  const auto [code, output] = agent_->ReloadByCommand();
  EXPECT_EQ(code, 1);
  EXPECT_EQ(output, "failed " + agent_->policyPath() +
                        ": the policy set is empty; the agent keeps serving the set it has (start "
                        "it with --allow-empty to let a reload empty it)\n");
  EXPECT_EQ(agent_->stamp(), stamp);
  EXPECT_EQ(Ask(agent_->firstPort(), 2).body, before.body);

  AgentProcess allowing(ExampleSet().dump(2));
  ASSERT_TRUE(allowing.Start({"--allow-empty"})) << allowing.errors();
  WriteFile(allowing.policyPath(), R"({"policies": []})");
  const auto [allowed, text] = allowing.ReloadByCommand();
  EXPECT_EQ(allowed, 0) << text;
  EXPECT_NE(text.find("(empty set)"), std::string::npos) << text;
  EXPECT_NE(allowing.log().find("WARNING: the policy set in " + allowing.policyPath() + " is EMPTY"),
            std::string::npos);
  EXPECT_EQ(allowing.Stop().code, 0);
}

TEST(AgentStart, AnEmptySetStartsWithALoudWarning) {
  AgentProcess agent(json::parse(R"({"policies": []})").dump(2));
  ASSERT_TRUE(agent.Start()) << agent.errors();
  EXPECT_EQ(agent.errors(), "qor-agent: WARNING: the policy set in " + agent.policyPath() +
                                " is EMPTY: every encryption and decryption will fail until a set "
                                "with policies is loaded\n");
  EXPECT_EQ(agent.Stop().code, 0);
}

// A policy file that cannot be read says why, in the system's words.
TEST(AgentStart, AnUnreadableSetSaysWhy) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    const char* reason;
  } cases[] = {
      {"missing", [](const std::string& path) { std::filesystem::remove(path); },
       "No such file or directory"},
      {"a directory",
       [](const std::string& path) {
         std::filesystem::remove(path);
         std::filesystem::create_directory(path);
       },
       "Is a directory"},
  };
  for (const Case& c : cases) {
    AgentProcess agent(ExampleSet().dump(2));
    c.make(agent.policyPath());
    ASSERT_FALSE(agent.Start()) << c.what;
    EXPECT_EQ(agent.exitCode(), 1) << c.what;
    EXPECT_EQ(agent.errors(), "qor-agent: policy set refused:\n  " + agent.policyPath() +
                                  ": cannot be read: " + c.reason + "\n")
        << c.what;
  }
}

// Past the cap the oldest connection still waiting for its request is cut to
// make room, so a silent client cannot keep a new one out.
TEST(AgentLimits, PastTheCapTheOldestIdleConnectionMakesRoom) {
  AgentProcess agent(ExampleSet().dump(2));
  std::vector<std::string> args = kShortRequests;
  args.insert(args.end(), {"--max-connections", "1"});
  ASSERT_TRUE(agent.Start(args)) << agent.errors();
  const int silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(agent.firstPort()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  EXPECT_TRUE(Ask(agent.secondPort(), 4).decrypted);
  timeval guard{10, 0};
  setsockopt(silent, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
  char byte;
  EXPECT_EQ(recv(silent, &byte, 1, 0), 0);  // cut by the agent, not left hanging
  close(silent);
  EXPECT_EQ(agent.Stop().code, 0);
}

// A set with an error never starts: the message names file, policy and field.
TEST(AgentStart, BadSetIsRefusedWithFilePolicyAndFieldNamed) {
  json set = ExampleSet();
  PolicyNamed(set, "SEED_128")["algorithm"] = "SEEDX";
  AgentProcess agent(set.dump(2));
  ASSERT_FALSE(agent.Start(kShortRequests));
  EXPECT_EQ(agent.exitCode(), 1);
  const std::string err = agent.errors();
  EXPECT_NE(err.find(agent.policyPath()), std::string::npos) << err;
  EXPECT_NE(err.find("\"SEED_128\""), std::string::npos) << err;
  EXPECT_NE(err.find("\"algorithm\""), std::string::npos) << err;
}

// The loader's checks, one error per case, through the same code the agent runs.
TEST(AgentPolicySet, ErrorsNameThePolicyAndField) {
  struct Case {
    const char* what;
    std::function<void(json&)> change;
    const char* policy;
    const char* field;
  } cases[] = {
      {"unknown algorithm", [](json& s) { PolicyNamed(s, "AES_128")["algorithm"] = "AES-GCM"; },
       "\"AES_128\"", "\"algorithm\""},
      {"key length the algorithm lacks", [](json& s) { PolicyNamed(s, "SEED_128")["keyLength"] = 256; },
       "\"SEED_128\"", "\"keyLength\""},
      {"key of the wrong length",
       [](json& s) { PolicyNamed(s, "ARIA_256")["keys"][0]["key"] = std::string(32, 'a'); },
       "\"ARIA_256\"", "\"keys[0].key\""},
      {"bad hex", [](json& s) { PolicyNamed(s, "LEA_128")["keys"][0]["key"] = std::string(31, 'a') + "g"; },
       "\"LEA_128\"", "\"keys[0].key\""},
      {"odd hex", [](json& s) { PolicyNamed(s, "LEA_128")["keys"][0]["key"] = std::string(31, 'a'); },
       "\"LEA_128\"", "\"keys[0].key\""},
      {"duplicate version",
       [](json& s) { PolicyNamed(s, "CARD_NUMBER_FRONT")["keys"][1]["version"] = 1; },
       "\"CARD_NUMBER_FRONT\"", "\"keys[1].version\""},
      {"unknown keyword", [](json& s) { PolicyNamed(s, "AES_256")["ivType"] = "ROW"; }, "\"AES_256\"",
       "\"ivType\""},
      {"misspelt field", [](json& s) { PolicyNamed(s, "AES_256")["nullProcesing"] = true; },
       "\"AES_256\"", "\"nullProcesing\""},
      {"bad time text", [](json& s) { PolicyNamed(s, "AES_256")["keys"][0]["validFrom"] = "2024-01-01"; },
       "\"AES_256\"", "\"keys[0].validFrom\""},
      {"middle pattern without a length",
       [](json& s) { PolicyNamed(s, "PHONE_MIDDLE")["pattern"]["characters"] = "3"; }, "\"PHONE_MIDDLE\"",
       "\"pattern.characters\""},
      {"rule text too long",
       [](json& s) { PolicyNamed(s, "CUSTOMER_NAME")["accessRules"][0]["identity1"][0] = std::string(128, 'u'); },
       "\"CUSTOMER_NAME\"", "\"accessRules[0].identity1[0]\""},
      {"weekday out of range",
       [](json& s) { PolicyNamed(s, "CUSTOMER_NAME")["accessRules"][0]["weekdays"][0] = "8"; },
       "\"CUSTOMER_NAME\"", "\"accessRules[0].weekdays\""},
      {"same name twice", [](json& s) { PolicyNamed(s, "AES_256")["name"] = "AES_128"; }, "\"AES_128\"",
       "\"name\""},
      {"backup without an extension",
       [](json& s) { PolicyNamed(s, "CUSTOMER_NAME")["file"]["backupExtension"] = ""; },
       "\"CUSTOMER_NAME\"", "\"file.backupExtension\""},
      {"name with a colon", [](json& s) { PolicyNamed(s, "AES_256")["name"] = "A:B"; }, "\"A:B\"", "\"name\""},
  };
  for (const Case& c : cases) {
    json set = ExampleSet();
    c.change(set);
    std::string error;
    EXPECT_FALSE(qor::agent_tool::ParsePolicySet(set.dump(), "set.json", &error)) << c.what;
    EXPECT_EQ(error.rfind("set.json: policy ", 0), 0u) << c.what << ": " << error;
    EXPECT_NE(error.find(c.policy), std::string::npos) << c.what << ": " << error;
    EXPECT_NE(error.find(c.field), std::string::npos) << c.what << ": " << error;
  }
  std::string error;
  EXPECT_TRUE(qor::agent_tool::ParsePolicySet(ExampleSet().dump(), "example", &error)) << error;
  EXPECT_FALSE(qor::agent_tool::ParsePolicySet("{\"policies\": [", "cut.json", &error));
  EXPECT_EQ(error.rfind("cut.json: not valid JSON", 0), 0u) << error;
}

// One pass names every error of the set, one line each, in file order.
TEST(AgentPolicySet, EveryErrorIsReportedAtOnce) {
  json set = ExampleSet();
  PolicyNamed(set, "SEED_128")["algorithm"] = "SEEDX";
  PolicyNamed(set, "ARIA_256")["keys"][0]["key"] = "00ff";
  PolicyNamed(set, "ARIA_256")["ivType"] = "ROW";
  PolicyNamed(set, "ARIA_256")["nullProcesing"] = true;
  PolicyNamed(set, "CUSTOMER_NAME")["accessRules"][0]["weekdays"][0] = "8";
  std::string error;
  ASSERT_FALSE(qor::agent_tool::ParsePolicySet(set.dump(), "set.json", &error));
  const std::vector<std::string> expected = {
      "set.json: policy \"SEED_128\": field \"algorithm\": unknown algorithm \"SEEDX\"",
      "set.json: policy \"ARIA_256\": field \"nullProcesing\": is not a known field",
      "set.json: policy \"ARIA_256\": field \"keys[0].key\": has 2 bytes, the key length needs 32",
      "set.json: policy \"ARIA_256\": field \"ivType\": \"ROW\" is not one of POLICY, RECORD",
      "set.json: policy \"CUSTOMER_NAME\": field \"accessRules[0].weekdays\": \"8\" is not a digit",
  };
  std::vector<std::string> lines;
  std::istringstream in(error);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), expected.size()) << error;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(lines[i].rfind(expected[i], 0), 0u) << lines[i];
  }
}

}  // namespace

namespace {

// The answer an AgentConnection sends for |answer|, read off the other end of
// a socket pair until the connection closes.
std::vector<unsigned char> SentBytes(const qor::agent_tool::Answer& answer, std::string* error) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return {};
  std::vector<unsigned char> got;
  std::thread reader([&] {
    unsigned char buffer[65536];
    ssize_t n;
    while ((n = recv(ends[1], buffer, sizeof buffer, 0)) > 0) got.insert(got.end(), buffer, buffer + n);
    close(ends[1]);
  });
  {
    qor::agent_tool::AgentConnection connection(ends[0], 5000);
    if (!connection.Send(answer, error)) ADD_FAILURE() << *error;
  }
  reader.join();
  return got;
}

}  // namespace

// A large answer is sealed a piece at a time while it is sent: the bytes on
// the wire are those of the answer sealed at once, at every length around the
// pieces and the padding block.
TEST(AgentAnswer, SealedWhileSentIsTheAnswerSealedAtOnce) {
  const size_t piece = 64 * 1024;
  for (size_t size : {qor::agent_tool::kSealAsSentFrom, piece + 1, piece + 16, 3 * piece - 1,
                      3 * piece + 15, size_t{1000000}}) {
    SCOPED_TRACE(size);
    std::vector<unsigned char> plain(size);
    for (size_t i = 0; i < size; ++i) plain[i] = static_cast<unsigned char>(i * 131 + (i >> 9));
    qor::agent_tool::Answer answer;
    answer.operation = qor::agent::kOpKeySet;
    answer.sealAsSent = &plain;
    for (size_t i = 0; i < answer.seed.size(); ++i) answer.seed[i] = static_cast<unsigned char>(3 * i);
    std::string error;
    const std::vector<unsigned char> sent = SentBytes(answer, &error);

    std::vector<unsigned char> sealed;
    ASSERT_TRUE(qor::agent_tool::SealAnswer(answer.seed.data(), answer.operation, plain, &sealed));
    const std::string header = Frame(answer.operation, std::string(sealed.size(), '\0')).substr(0, 5);
    std::vector<unsigned char> expected(header.begin(), header.end());
    expected.insert(expected.end(), sealed.begin(), sealed.end());
    ASSERT_EQ(sent.size(), expected.size());
    EXPECT_TRUE(sent == expected);
  }
}

// A set large enough that the agent seals its answer while sending it and the
// library reads the answer while it arrives: the library's key set holds
// every policy as the record describes it.
TEST(AgentLargeSet, LoadsWhileTheAnswerArrives) {
  json set = ExampleSet();
  const json first = set["policies"][0];
  set["policies"] = json::array();
  for (int i = 0; i < 2500; ++i) {
    json p = first;
    p["name"] = "BULK_" + std::to_string(i);
    set["policies"].push_back(p);
  }
  AgentProcess agent(set.dump());
  ASSERT_TRUE(agent.Start(kShortRequests)) << agent.errors();

  const Reply record = Ask(agent.firstPort(), qor::agent::kOpKeySet);
  ASSERT_TRUE(record.decrypted);
  ASSERT_GT(record.body.size(), 300000u);  // past where both ends stream
  KeyMgrPtr whole = ParseRecord(record.body);
  ASSERT_EQ(whole->GetPolicyCount(whole.get()), 2500);

  ErrorInfo error{};
  QORSocket* socket = QORSocket_Create("127.0.0.1", static_cast<uint16_t>(agent.firstPort()),
                                       "127.0.0.1", static_cast<uint16_t>(agent.secondPort()),
                                       5000, &error);
  ASSERT_NE(socket, nullptr);
  QORApiData data{};
  QORApiConf config{&data, 1};
  KeyMgr* loaded = nullptr;
  ASSERT_EQ(socket->GetKeyMgrUpdateFromQORServer(socket, &loaded, &config), 0)
      << socket->GetLastErrorMsg(socket);
  KeyMgrPtr streamed(loaded);
  socket->Destroy(&socket);
  ASSERT_EQ(streamed->GetPolicyCount(streamed.get()), 2500);
  for (int i : {0, 1, 1249, 2499}) {
    const std::string name = "BULK_" + std::to_string(i);
    KeyInfo* a = Find(whole.get(), name);
    KeyInfo* b = Find(streamed.get(), name);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->cipher->GetAlgorithmType(&a->cipher), b->cipher->GetAlgorithmType(&b->cipher));
    EXPECT_EQ(a->cipher->GetLatestKeyVersion(&a->cipher),
              b->cipher->GetLatestKeyVersion(&b->cipher));
  }
}
