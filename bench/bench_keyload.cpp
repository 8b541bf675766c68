// Key-set load and value-call cost against the size of the key set.
//
// keyload/<n>: an operation-1 answer of n policies (mixed algorithms, two key
// versions each) sealed under a session key as the agent seals it, turned
// into a usable key manager by the download's own path (session decrypt,
// record parser, key manager fill); the TCP round trip is left out.
// keyload_agent/<n>: the same through the socket from a running qor-agent
// (connect, request, answer, decrypt, parse), when the program is built.
// encrypt_udf_16B: QOR_EncryptExUdf of a 16-byte value with the instance
// holding 10 policies, then (after the agent published a set of 10,000 and
// the stamp swapped it in) 10,000; the "10_policies" line is the reference.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/policy/policy_writer.h"
#include "agent/socket/client_protocol.h"
#include "agent/socket/qor_socket.h"
#include "qor/config.h"
#include "qor/key_download.h"
#include "qorapi.h"
#include "ratio_reporter.h"

namespace {

namespace wr = qor::agent;

struct Algorithm {
  const char* name;
  int bits;
};
constexpr Algorithm kAlgorithms[] = {{"ARIA", 256}, {"ARIA", 128}, {"SEED", 128}, {"AES", 256},
                                     {"AES", 128},  {"LEA", 128},  {"3DES", 192}, {"SHA256", 256}};

wr::Bytes KeyBytes(int n, unsigned seed) {
  wr::Bytes key(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) key[static_cast<size_t>(i)] = static_cast<uint8_t>(seed * 31 + i * 7);
  return key;
}

std::string Name(int i) { return "POLICY_" + std::to_string(i); }

std::vector<unsigned char> EncodedSet(int count) {
  wr::PolicySetDesc set;
  for (int i = 0; i < count; ++i) {
    const Algorithm& a = kAlgorithms[i % std::size(kAlgorithms)];
    wr::PolicyDesc p;
    p.name = Name(i);
    p.algorithm = a.name;
    p.keyBits = static_cast<uint64_t>(a.bits);
    p.keys = {{2, KeyBytes(a.bits / 8, static_cast<unsigned>(i) * 2 + 1)},
              {1, KeyBytes(a.bits / 8, static_cast<unsigned>(i) * 2)}};
    set.policies.push_back(std::move(p));
  }
  const wr::Bytes record = wr::EncodePolicySet(set);
  return {record.begin(), record.end()};
}

std::string PolicyJson(int count) {
  static const char* digits = "0123456789abcdef";
  std::string out = "{\"policies\": [\n";
  for (int i = 0; i < count; ++i) {
    const Algorithm& a = kAlgorithms[i % std::size(kAlgorithms)];
    out += std::string(i ? ",\n" : "") + "{\"name\": \"" + Name(i) + "\", \"algorithm\": \"" + a.name +
           "\", \"keyLength\": " + std::to_string(a.bits) + ", \"keys\": [";
    for (int v = 2; v >= 1; --v) {
      const wr::Bytes key = KeyBytes(a.bits / 8, static_cast<unsigned>(i) * 2 + static_cast<unsigned>(v - 1));
      std::string hex;
      for (uint8_t b : key) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
      }
      out += std::string(v == 2 ? "" : ", ") + "{\"version\": " + std::to_string(v) + ", \"key\": \"" + hex +
             "\", \"status\": \"active\", \"validFrom\": \"2024010100Z\", \"validTo\": \"2099123100Z\"}";
    }
    out += "]}";
  }
  return out + "\n]}\n";
}

void BM_KeyLoad(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::vector<unsigned char> record = EncodedSet(count);
  unsigned char seed[32];
  for (int i = 0; i < 32; ++i) seed[i] = static_cast<unsigned char>(i);
  unsigned char key[32], iv[16];
  wr::DeriveSessionKey(seed, 1, key, iv);
  UACipherUtil* cipher = wr::CreateSessionCipher(key, iv);
  DataBuffer body{0, nullptr};
  wr::EncryptAnswer(cipher, record.data(), static_cast<int32_t>(record.size()), &body);
  Packet answer{};
  answer.opcode = 1;
  answer.recordCount = 1;
  answer.length = body.length;
  answer.data = body.data;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    KeyMgr* mgr = KeyMgr_Create(nullptr);
    const int ok = Packet_OpGetKeyinfo2KeyMgr(&answer, mgr, cipher, nullptr, 0, 0);
    const auto took = std::chrono::steady_clock::now() - start;
    if (ok != 1 || mgr->GetPolicyCount(mgr) != count) state.SkipWithError("load failed");
    mgr->Destroy(&mgr);
    state.SetIterationTime(std::chrono::duration<double>(took).count());
  }
  state.counters["policies"] = count;
  state.counters["record_bytes"] = static_cast<double>(record.size());
  DestroyPacket(&answer);
  cipher->Destroy(&cipher);
}
BENCHMARK(BM_KeyLoad)->Name("keyload/ours")->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

#ifdef QOR_AGENT_BINARY
// One qor-agent for the whole run; its home is the instance's home too.
class Agent {
 public:
  static Agent& Get() {
    static Agent* agent = new Agent();
    return *agent;
  }
  bool Start(int policies) {
    if (pid_ > 0) return first_ > 0;
    char pattern[] = "/tmp/qor-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return false;
    home_ = pattern;
    // The agent and its home go however the run ends (filters skip the last case).
    std::atexit([] { Agent::Get().Stop(); });
    std::filesystem::create_directories(home_ + "/logs");
    WritePolicies(policies);
    const std::string ports = home_ + "/ports.txt";
    pid_ = fork();
    if (pid_ == 0) {
      execl(QOR_AGENT_BINARY, "qor-agent", "--home", home_.c_str(), "--policies", (home_ + "/p.json").c_str(),
            "--first-port", "0", "--second-port", "0", "--foreground", "--port-file", ports.c_str(),
            "--log", (home_ + "/agent.log").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 2000 && first_ == 0; ++i) {
      std::ifstream in(ports);
      std::string line;
      std::getline(in, line);
      std::sscanf(line.c_str(), "listening first=%d second=%d", &first_, &second_);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return first_ > 0;
  }
  bool Reload(int policies) {
    const std::string status = home_ + "/conf/qor-agent.status";
    std::remove(status.c_str());
    WritePolicies(policies);
    kill(pid_, SIGHUP);
    for (int i = 0; i < 4000; ++i) {
      std::ifstream in(status);
      std::string line;
      std::getline(in, line);
      if (line.rfind("ok", 0) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  ~Agent() = delete;
  int first() const { return first_; }
  int second() const { return second_; }
  const std::string& home() const { return home_; }
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (!home_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(home_, ignored);
      home_.clear();
    }
  }

 private:
  void WritePolicies(int policies) {
    std::ofstream(home_ + "/p.json", std::ios::trunc) << PolicyJson(policies);
  }
  std::string home_;
  pid_t pid_ = -1;
  int first_ = 0;
  int second_ = 0;
};

int gLoaded = 0;  // policies the instance holds now

bool InstanceHolds(int policies) {
  Agent& agent = Agent::Get();
  if (gLoaded == policies) return true;
  if (gLoaded == 0) {
    if (!agent.Start(policies)) return false;
    setenv("QOR_HOME", agent.home().c_str(), 1);
    setenv("QOR_FIRST_PORT", std::to_string(agent.first()).c_str(), 1);
    setenv("QOR_SECOND_PORT", std::to_string(agent.second()).c_str(), 1);
    setenv("QOR_LOG_LEVEL", "ERROR", 1);
  } else if (!agent.Reload(policies)) {
    return false;
  }
  // The first call loads the set, or swaps it in after the stamp changed.
  unsigned char value[64] = "0123456789abcdef";
  DataBuffer out = QOR_EncryptExUdf(Name(0).c_str(), value, 16, "u", "a", "h", 0);
  std::free(out.data);
  char** names = nullptr;
  const int held = QOR_loadKeyName(&names);
  std::free(names);
  gLoaded = held;
  return held == policies;
}

void BM_EncryptUdf(benchmark::State& state, int policies) {
  if (!InstanceHolds(policies)) {
    state.SkipWithError("the agent did not serve the set");
    return;
  }
  unsigned char buffer[64];
  int i = 0;
  for (auto _ : state) {
    std::memcpy(buffer, "0123456789abcdef", 16);
    // The same eight policies (one per algorithm) in both runs.
    DataBuffer out = QOR_EncryptExUdf(Name(i++ % 8).c_str(), buffer, 16, "u", "a", "h", 0);
    if (out.length < 0) state.SkipWithError("encrypt failed");
    benchmark::DoNotOptimize(out.data);
    std::free(out.data);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16);
}
BENCHMARK_CAPTURE(BM_EncryptUdf, p10, 10)->Name("encrypt_udf_16B/10_policies");
BENCHMARK_CAPTURE(BM_EncryptUdf, p10000, 10000)->Name("encrypt_udf_16B/ours");

void BM_KeyLoadAgent(benchmark::State& state) {
  if (!InstanceHolds(10000)) {
    state.SkipWithError("the agent did not serve the set");
    return;
  }
  Agent& agent = Agent::Get();
  QORApiData data{};
  QORApiConf config{&data, 1};
  ErrorInfo error{};
  for (auto _ : state) {
    QORSocket* socket = QORSocket_Create("127.0.0.1", static_cast<uint16_t>(agent.first()), "127.0.0.1",
                                         static_cast<uint16_t>(agent.second()), 1000, &error);
    KeyMgr* mgr = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const int result = socket->GetKeyMgrUpdateFromQORServer(socket, &mgr, &config);
    const auto took = std::chrono::steady_clock::now() - start;
    if (result != 0 || mgr == nullptr || mgr->GetPolicyCount(mgr) != 10000) state.SkipWithError("load failed");
    if (mgr != nullptr) mgr->Destroy(&mgr);
    socket->Destroy(&socket);
    state.SetIterationTime(std::chrono::duration<double>(took).count());
  }
}
BENCHMARK(BM_KeyLoadAgent)->Name("keyload_agent/10000")->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_StopAgent(benchmark::State& state) {
  for (auto _ : state) {
  }
  Agent::Get().Stop();
}
BENCHMARK(BM_StopAgent)->Name("zz_stop_agent")->Iterations(1);
#endif

}  // namespace

QOR_BENCH_MAIN()
