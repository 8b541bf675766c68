// The emergency policy file and the policy key info container as they lie on
// disk: any file read with the installation's secret, and any record sealed
// the way the agent seals it, so the record parser behind the decryption is
// reached; the reader hands back exactly what was sealed or nothing.
//   byte 0 % 4: 0 the rest is the whole file, 1 the rest is the plain record,
//               2 the rest is a raw container, 3 the rest is a plain container
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/emergency/emergency_file.h"
#include "qor/cipher_util.h"
#include "qor/connection.h"
#include "qor/key_mgr.h"
#include "qor/nc_aria.h"
#include "qor/policy.h"
#include "qor/policy_file.h"
#include "qor/ua_cipher_util.h"

namespace {

constexpr unsigned char kSecret[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
                                       0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

struct Scratch {
  std::string dir;
  std::string path;
  Scratch() {
    (void)std::freopen("/dev/null", "w", stdout);  // the parser's "not found" lines
    std::string pattern = (std::filesystem::temp_directory_path() / "qor-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) abort();
    dir = pattern;
    path = dir + "/agent.dat";
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

Scratch& Files() {
  static Scratch scratch;
  return scratch;
}

void Put(const std::string& path, const unsigned char* bytes, size_t length) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  if (length > 0 && std::fwrite(bytes, 1, length, f) != length) abort();
  std::fclose(f);
}

// Salt, then the record under ARIA-256-CBC with the key and IV of the secret
// and the salt, as the agent writes the file.
std::vector<unsigned char> SealFile(const unsigned char* record, size_t length) {
  unsigned char salt[qor::agent::kFileSaltSize];
  for (size_t i = 0; i < sizeof salt; ++i) salt[i] = static_cast<unsigned char>(0xA0 + i);
  unsigned char key[32];
  unsigned char iv[16];
  qor::agent::DeriveFileKey(kSecret, salt, key, iv);
  NC_ARIA_CTX ctx;
  NC_ARIA_SetAlgInfo(0, 1, nullptr, &ctx);
  NC_ARIA_EncKeyGen(key, &ctx, 16);
  std::vector<unsigned char> plain(length + 32);
  if (length > 0) std::memcpy(plain.data(), record, length);
  DataBuffer in{static_cast<int32_t>(length), plain.data()};
  DataBuffer sealed{0, nullptr};
  std::vector<unsigned char> file(salt, salt + sizeof salt);
  if (doARIAEncryptEx2(&in, &ctx, iv, &sealed, 0, 0, 0) == 0 && sealed.data != nullptr) {
    file.insert(file.end(), sealed.data, sealed.data + sealed.length);
  }
  std::free(sealed.data);
  return file;
}

void ReadFile(const std::string& path, const unsigned char* sealedRecord, size_t sealedLength) {
  static KeyMgr* mgr = KeyMgr_Create(nullptr);
  unsigned char salt[qor::agent::kFileSaltSize] = {0};
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    (void)!std::fread(salt, 1, sizeof salt, f);
    std::fclose(f);
  }
  DataBuffer record{0, nullptr};
  if (ReadPolicyFile(path.c_str(), &record, kSecret, salt) == 0) {
    if (record.data == nullptr || record.data[record.length] != 0) abort();
    if (sealedRecord != nullptr &&
        (size_t(record.length) != sealedLength ||
         std::memcmp(record.data, sealedRecord, sealedLength) != 0)) {
      abort();
    }
    KeyMgrParse(&record, mgr, 0, 0);
    mgr->Clear(mgr);
    std::free(record.data);
  } else if (record.data != nullptr) {
    abort();  // nothing handed back on failure
  }
}

void ReadContainer(const unsigned char* bytes, size_t length) {
  std::vector<unsigned char> copy(bytes, bytes + length);
  const DataBuffer text{static_cast<int32_t>(length), copy.data()};
  Packet packet{};
  unsigned char first[16];
  unsigned char second[16];
  ReadPolicyKeyInfo(&text, &packet, first, second);
  DestroyPacket(&packet);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  Scratch& files = Files();
  const unsigned char* rest = data + 1;
  const size_t restLength = size - 1;
  switch (data[0] % 4) {
    case 0:
      Put(files.path, rest, restLength);
      ReadFile(files.path, nullptr, 0);
      break;
    case 1: {
      const std::vector<unsigned char> file = SealFile(rest, restLength);
      Put(files.path, file.data(), file.size());
      ReadFile(files.path, rest, restLength);
      break;
    }
    case 2:
      ReadContainer(rest, restLength);
      break;
    default: {
      UACipherUtil* server = ServerKACU_Create(nullptr);
      std::vector<unsigned char> plain(restLength + 32);
      if (restLength > 0) std::memcpy(plain.data(), rest, restLength);
      DataBuffer in{static_cast<int32_t>(restLength), plain.data()};
      DataBuffer sealed{0, nullptr};
      if (server->Encrypt_API(&server, &in, &sealed) == 0 && sealed.data != nullptr) {
        ReadContainer(sealed.data, static_cast<size_t>(sealed.length));
      }
      std::free(sealed.data);
      ServerKACU_Free(&server);
      break;
    }
  }
  return 0;
}
