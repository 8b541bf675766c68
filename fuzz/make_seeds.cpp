// Writes the seed corpus of every fuzz target: well-formed inputs built with
// the library's own writers, so each run starts past the outer checks.
//   make_seeds DIR   (writes DIR/<target>/<name>)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/emergency/emergency_file.h"
#include "agent/socket/client_protocol.h"
#include "file_key_set.h"
#include "installed_key_set.h"
#include "qor/cipher_util.h"
#include "qor/file_entry.h"
#include "qor/nc_aria.h"
#include "qor/qorcrypto.h"
#include "qor/qorfile.h"
#include "qor/ua_cipher_util.h"
#include "qorapi.h"

namespace {

using Bytes = std::vector<unsigned char>;
std::string gRoot;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = gRoot + "/" + target;
  std::filesystem::create_directories(dir);
  std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
  if (f == nullptr) abort();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Frame(uint8_t op, const Bytes& body) {
  const auto n = static_cast<uint32_t>(body.size());
  return Cat({{op, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)}, body});
}

// The fixed session key of fuzz_agent_answer.
UACipherUtil* AnswerCipher() {
  unsigned char seed[qor::agent::kSeedSize];
  for (size_t i = 0; i < sizeof seed; ++i) seed[i] = static_cast<unsigned char>(i * 7 + 1);
  unsigned char key[qor::agent::kSessionKeySize];
  unsigned char iv[qor::agent::kSessionIvSize];
  qor::agent::DeriveSessionKey(seed, qor::agent::kOpKeySet, key, iv);
  return qor::agent::CreateSessionCipher(key, iv);
}

Bytes Sealed(UACipherUtil* cipher, const Bytes& plain) {
  DataBuffer body{0, nullptr};
  if (qor::agent::EncryptAnswer(cipher, plain.data(), int32_t(plain.size()), &body) != 0) abort();
  Bytes out(body.data, body.data + body.length);
  std::free(body.data);
  return out;
}

void ReadPacketSeeds() {
  Seed("fuzz_read_packet", "answer", Frame(1, Bytes(48, 0x11)));
  Seed("fuzz_read_packet", "two_answers", Cat({Frame(4, Bytes(16, 0x22)), Frame(2, Bytes(96, 0x33))}));
  Seed("fuzz_read_packet", "refusal", Frame(0, Text("agent busy")));
  Seed("fuzz_read_packet", "empty_body", Frame(5, {}));
}

void AgentAnswerSeeds() {
  UACipherUtil* cipher = AnswerCipher();
  const Bytes record = qor::fuzz::PolicyRecord();
  qor::agent::KeyVersionDesc key;
  key.version = 3;
  key.key = Bytes(16, 0x5A);
  const Bytes keyRecord = qor::agent::EncodeKeyRecord(key);
  Seed("fuzz_agent_answer", "record_plain", Cat({{0x01}, record}));
  Seed("fuzz_agent_answer", "record_sealed", Cat({{0x00}, Sealed(cipher, record)}));
  Seed("fuzz_agent_answer", "key_record_plain", Cat({{0x01}, keyRecord}));
  Seed("fuzz_agent_answer", "key_record_sealed", Cat({{0x00}, Sealed(cipher, keyRecord)}));
  Seed("fuzz_agent_answer", "health_sealed", Cat({{0x00}, Sealed(cipher, {1})}));
  cipher->Destroy(&cipher);
}

void StreamedKeySetSeeds() {
  const Bytes record = qor::fuzz::PolicyRecord();
  // Pieces of 38, 75, 1 and 112 bytes; the body as sealed, and with a bit flipped.
  Seed("fuzz_streamed_key_set", "record", Cat({{1, 2, 0, 3, 0, 0, 0}, record}));
  Seed("fuzz_streamed_key_set", "record_flipped", Cat({{1, 2, 0, 3, 0x61, 0, 200}, record}));
}

void EmergencyFileSeeds() {
  const Bytes record = qor::fuzz::PolicyRecord();
  Seed("fuzz_emergency_file", "record_plain", Cat({{0x01}, record}));
  Seed("fuzz_emergency_file", "short_file", Cat({{0x00}, Bytes(40, 0x42)}));
  Bytes container = Text("1.01");
  container.insert(container.end(), 32, 0x24);
  container.push_back(1);
  const Bytes body = Text("policy key info body");
  const auto n = static_cast<uint32_t>(body.size());
  container.insert(container.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
  container.insert(container.end(), body.begin(), body.end());
  Seed("fuzz_emergency_file", "container_plain", Cat({{0x03}, container}));
  UACipherUtil* server = ServerKACU_Create(nullptr);
  Bytes plain = container;
  plain.resize(plain.size() + 32);
  DataBuffer in{int32_t(container.size()), plain.data()};
  DataBuffer sealed{0, nullptr};
  if (server->Encrypt_API(&server, &in, &sealed) != 0) abort();
  Seed("fuzz_emergency_file", "container_sealed", Cat({{0x02}, Bytes(sealed.data, sealed.data + sealed.length)}));
  std::free(sealed.data);
  ServerKACU_Free(&server);
}

void ValueSeeds() {
  qor::fuzz::InstallKeySet();
  const auto& policies = qor::fuzz::Policies();
  const std::string sample = "4111111111111111@example.org";
  const std::string digits = "9876543210123456";
  for (size_t i = 0; i < policies.size(); ++i) {
    const char* name = policies[i].name;
    const std::string value = std::strstr(name, "fpe") != nullptr ? digits : sample;
    const auto index = static_cast<uint8_t>(i);
    for (int mode = 0; mode < 2; ++mode) {
      Bytes in(value.begin(), value.end());
      in.resize(in.size() + 64);
      DataBuffer out = QOR_EncryptExUdf(name, in.data(), int(value.size()), "user", "", "", mode);
      const std::string form = mode == 0 ? "text" : "binary";
      if (out.length > 0 && out.data != nullptr) {
        Seed("fuzz_value_decrypt", std::string(name) + "." + form,
             Cat({{index, uint8_t(mode)}, Bytes(out.data, out.data + out.length)}));
      }
      std::free(out.data);
      Seed("fuzz_value_decrypt", std::string(name) + ".roundtrip." + form,
           Cat({{index, uint8_t(5 + mode)}, Text(value)}));
    }
    // Objects of three pieces, sealed, and plain for the round trip.
    Bytes object(9000);
    for (size_t k = 0; k < object.size(); ++k) object[k] = static_cast<unsigned char>(value[k % value.size()]);
    for (int binary = 0; binary < 2; ++binary) {
      Bytes in = object;
      in.resize(in.size() + 64);
      Bytes sealed((object.size() / 4096 + 1) * 6694 + 1);
      const int64_t n = QOR_EncryptLobEx(name, in.data(), object.size(), sealed.data(), binary, 0);
      const std::string form = binary == 0 ? "text" : "binary";
      if (n > 0) {
        sealed.resize(size_t(n));
        Seed("fuzz_lob", std::string(name) + "." + form, Cat({{index, uint8_t(binary)}, sealed}));
      }
      Seed("fuzz_lob", std::string(name) + ".roundtrip." + form,
           Cat({{index, uint8_t(2 | binary)}, Bytes(object.begin(), object.begin() + 5000)}));
    }
  }
}

void AgentRequestSeeds() {
  unsigned char seed[qor::agent::kSeedSize];
  for (size_t i = 0; i < sizeof seed; ++i) seed[i] = static_cast<unsigned char>(i + 1);
  const std::string payload = "ARIA_128:1";
  for (uint8_t op = 1; op <= 5; ++op) {
    DataBuffer request{0, nullptr};
    const bool keyed = op == qor::agent::kOpSingleKey;
    if (qor::agent::BuildRequest(op, seed, keyed ? reinterpret_cast<const unsigned char*>(payload.data()) : nullptr,
                                 keyed ? int32_t(payload.size()) : 0, &request) != 0) {
      abort();
    }
    Seed("fuzz_agent_request", "op" + std::to_string(op), Bytes(request.data, request.data + request.length));
    std::free(request.data);
  }
}

// Files encrypted by the library's own file pipeline, both header types.
Bytes ReadAll(const std::string& path) {
  Bytes out;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) abort();
  for (int c; (c = std::fgetc(f)) != EOF;) out.push_back(static_cast<unsigned char>(c));
  std::fclose(f);
  return out;
}

void WriteAll(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

Bytes Plain(size_t n) {
  Bytes plain(n);
  for (size_t i = 0; i < n; ++i) plain[i] = static_cast<unsigned char>('a' + i % 26);
  return plain;
}

void FileSeeds() {
  qor::fuzz::InstallKeySet();
  std::string pattern = (std::filesystem::temp_directory_path() / "qor-seeds-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) abort();
  const std::string dir = pattern;
  const std::string source = dir + "/plain.bin";
  const std::string sealed = dir + "/sealed.enc";
  const size_t sizes[] = {0, 33};
  const auto& names = qor::fuzz::FilePolicies();
  for (size_t i = 0; i < names.size(); ++i) {
    for (size_t n : sizes) {
      WriteAll(source, Plain(n));
      ErrorInfo error{};
      FileResult* r = QORCrypto_EncryptFile(int(std::strlen(names[i])), names[i], source.c_str(),
                                            sealed.c_str(), &error, qor::fuzz::FindFilePolicy,
                                            qor::fuzz::NoKeySetUpdate, nullptr, nullptr, nullptr);
      if (r == nullptr || r->code != 0) abort();
      std::free(r);
      const Bytes file = ReadAll(sealed);
      std::filesystem::remove(sealed);
      const std::string name = std::string(names[i]) + "." + std::to_string(n);
      for (uint8_t mode = 1; mode <= 2; ++mode) {
        Seed("fuzz_file", name + (mode == 1 ? ".target" : ".inplace"), Cat({{uint8_t(i * 5 + mode)}, file}));
      }
      if (i == 0 && n > 0) Seed("fuzz_file", "header." + name, Cat({{0}, file}));
      Seed("fuzz_file", "roundtrip." + name, Cat({{uint8_t((i % 3) * 10 + 4)}, Plain(n)}));
    }
  }
  // Through the entry point: a key version (type 2) and version 0 (type 1).
  const char* const installed[] = {"aria128.two.versions", "seed.version0"};
  for (uint8_t i = 0; i < 2; ++i) {
    WriteAll(source, Plain(40));
    if (QOR_EncryptFile(installed[i], source.c_str(), sealed.c_str(), 0) != 0) abort();
    const Bytes file = ReadAll(sealed);
    std::filesystem::remove(sealed);
    Seed("fuzz_file", std::string("entry.") + installed[i], Cat({{uint8_t((i << 1) * 5 + 3)}, file}));
  }
  Seed("fuzz_file", "lines", Cat({{0}, Text("first\r\nsecond\n\nthird\n\rfourth\r\rlast")}));
  std::filesystem::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  gRoot = argv[1];
  ReadPacketSeeds();
  AgentAnswerSeeds();
  StreamedKeySetSeeds();
  EmergencyFileSeeds();
  AgentRequestSeeds();
  ValueSeeds();  // from here on, standard output is redirected
  FileSeeds();
  return 0;
}
