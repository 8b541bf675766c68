// The value entry points end to end: QOR_EncryptExUdf and QOR_DecryptExUdf of
// 16- and 256-byte values in text and binary form, under an AES-256 and an
// ARIA-256 policy with a key version and a record IV, on one and two threads,
// beside OpenSSL EVP doing the same CBC work (context keyed once, IV reset
// per value) and Base64 for the text form. Then 1 MiB large objects beside
// raw AES-256-CBC. The key set is installed into the instance directly; no
// agent is involved.
#include <openssl/evp.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/instance_testing.h"
#include "bench_util.h"
#include "qor/config.h"
#include "qor/key_mgr.h"
#include "qor/qostring.h"
#include "qorapi.h"
#include "ratio_reporter.h"
#include "service/crypto/qor_crypto.h"
#include "service/table/service_table.h"

namespace {

using qor::bench::Pattern;
using qor::bench::RegisterRun;

constexpr int kVersion = 0x0103;
constexpr size_t kLob = size_t{1} << 20;

struct PolicyCase {
  const char* name;      // the case text
  const char* policy;    // key name
  const char* algorithm; // as the key manager names it
  const char* evpName;
  int64_t version;
  int64_t ivType;
};

const PolicyCase kPolicies[] = {
    {"aes256", "bench.aes256", "AES", "AES-256-CBC", kVersion, QOR_IV_RECORD},
    {"aria256", "bench.aria256", "ARIA", "ARIA-256-CBC", kVersion, QOR_IV_RECORD},
};
// Binary large objects are cut at 4112 bytes when decrypted: a policy whose
// pieces are exactly that long.
const PolicyCase kPlainAes = {"aes256", "bench.aes256.plain", "AES", "AES-256-CBC", 0,
                              QOR_IV_POLICY};

const std::vector<uint8_t>& Key() {
  static const std::vector<uint8_t> key = Pattern(32, 1);
  return key;
}

QORSocket* NoAgent(const char*, uint16_t, const char*, uint16_t, int, ErrorInfo*) {
  return nullptr;
}

bool AddPolicy(KeyMgr* mgr, const PolicyCase& c) {
  KeyEntry entry{c.version, const_cast<uint8_t*>(Key().data()), const_cast<char*>("active"), 0,
                 0, nullptr};
  const DataBuffer name{static_cast<int32_t>(strlen(c.policy)),
                        reinterpret_cast<unsigned char*>(const_cast<char*>(c.policy))};
  return mgr->AddKeyInfo(mgr, &name, c.algorithm, 4, c.ivType, 1, 32, 1, &entry, 0, 0, nullptr,
                         0, nullptr, 0, 0, 0, 0, 0, 0, nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, "",
                         0, 0, 0, QOR_MODE_CBC) != nullptr;
}

// Installs the key set once; false when it could not be built.
bool Install() {
  static const bool installed = [] {
    QORApiConf* config = QORGet_DefaultInfo();
    KeyMgr* mgr = KeyMgr_Create(nullptr);
    if (config == nullptr || mgr == nullptr) return false;
    char home[] = "/tmp/qor-bench-XXXXXX";
    if (mkdtemp(home) == nullptr) return false;
    x_strcpy(config->data->home, sizeof(config->data->home), home);
    config->data->useLog = 0;
    for (const PolicyCase& c : kPolicies) {
      if (!AddPolicy(mgr, c)) return false;
    }
    if (!AddPolicy(mgr, kPlainAes)) return false;
    qor::api::testing::SetSocketFactory(&NoAgent);
    QORCrypto_SetConfigData(config->data);
    QORCrypto_Create(&gCrypto, qor::crypto::TableMode::kReal);
    qor::api::testing::InstallKeySet(mgr, config);
    return true;
  }();
  return installed;
}

const char* ModeName(int mode) { return mode == 0 ? "b64" : "bin"; }

void OursEncrypt(benchmark::State& state, const PolicyCase& c, int mode, size_t len) {
  if (!Install()) return state.SkipWithError("key set not installed");
  std::vector<uint8_t> value = Pattern(len, 3);
  for (auto _ : state) {
    DataBuffer out = QOR_EncryptExUdf(c.policy, value.data(), static_cast<int>(len), "", "", "",
                                      mode);
    if (out.length <= 0) state.SkipWithError("encryption failed");
    benchmark::DoNotOptimize(out.data);
    std::free(out.data);
  }
  qor::bench::SetBytesProcessed(state, len);
}

void OursDecrypt(benchmark::State& state, const PolicyCase& c, int mode, size_t len) {
  if (!Install()) return state.SkipWithError("key set not installed");
  std::vector<uint8_t> value = Pattern(len, 3);
  DataBuffer stored =
      QOR_EncryptExUdf(c.policy, value.data(), static_cast<int>(len), "", "", "", mode);
  if (stored.length <= 0) return state.SkipWithError("encryption failed");
  for (auto _ : state) {
    DataBuffer out = QOR_DecryptExUdf(c.policy, stored.data, stored.length, "", "", "", mode);
    if (out.length != static_cast<int>(len)) state.SkipWithError("decryption failed");
    benchmark::DoNotOptimize(out.data);
    std::free(out.data);
  }
  std::free(stored.data);
  qor::bench::SetBytesProcessed(state, len);
}

// EVP keyed once; each value resets the IV and pads.
class Evp {
 public:
  Evp(const char* name, bool encrypt) {
    cipher_ = EVP_CIPHER_fetch(nullptr, name, nullptr);
    if (cipher_ == nullptr) return;
    ctx_ = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx_, cipher_, nullptr, Key().data(), nullptr, encrypt ? 1 : 0);
  }
  ~Evp() {
    EVP_CIPHER_CTX_free(ctx_);
    EVP_CIPHER_free(cipher_);
  }
  bool ok() const { return ctx_ != nullptr; }
  int Run(const uint8_t* iv, const uint8_t* in, int len, uint8_t* out) {
    int n1 = 0, n2 = 0;
    EVP_CipherInit_ex(ctx_, nullptr, nullptr, nullptr, iv, -1);
    EVP_CipherUpdate(ctx_, out, &n1, in, len);
    if (EVP_CipherFinal_ex(ctx_, out + n1, &n2) != 1) return -1;
    return n1 + n2;
  }

 private:
  EVP_CIPHER* cipher_ = nullptr;
  EVP_CIPHER_CTX* ctx_ = nullptr;
};

const std::vector<uint8_t>& PolicyIv() {
  static const std::vector<uint8_t> iv = Pattern(16, 2);
  return iv;
}

// Version prefix, CBC of the padded value under the IV carrying |tail|, the
// tail; then "$." and Base64 in text form. Returns the output length.
int PeerEncryptValue(Evp& evp, uint32_t tail, const uint8_t* in, int len, uint8_t* binary,
                     char* text, int mode) {
  uint8_t iv[16];
  std::memcpy(iv, PolicyIv().data(), 16);
  std::memcpy(iv, &tail, 4);
  binary[0] = kVersion >> 8;
  binary[1] = kVersion & 0xFF;
  binary[2] = 0xFE;
  const int n = evp.Run(iv, in, len, binary + 3);
  std::memcpy(binary + 3 + n, iv, 4);
  if (mode != 0) return 3 + n + 4;
  text[0] = '$';
  text[1] = '.';
  return 2 + EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text) + 2, binary, 3 + n + 4);
}

void PeerEncrypt(benchmark::State& state, const PolicyCase& c, int mode, size_t len) {
  Evp evp(c.evpName, true);
  if (!evp.ok()) return state.SkipWithError("cipher not available");
  const std::vector<uint8_t> in = Pattern(len, 3);
  std::vector<uint8_t> binary(len + 64);
  std::vector<char> text(2 * len + 128);
  uint32_t tail = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(PeerEncryptValue(evp, ++tail, in.data(), static_cast<int>(len),
                                              binary.data(), text.data(), mode));
    benchmark::ClobberMemory();
  }
  qor::bench::SetBytesProcessed(state, len);
}

void PeerDecrypt(benchmark::State& state, const PolicyCase& c, int mode, size_t len) {
  Evp encryptor(c.evpName, true), evp(c.evpName, false);
  if (!evp.ok() || !encryptor.ok()) return state.SkipWithError("cipher not available");
  const std::vector<uint8_t> in = Pattern(len, 3);
  std::vector<uint8_t> binary(len + 64), work(len + 64), plain(len + 64);
  std::vector<char> text(2 * len + 128);
  const int stored = PeerEncryptValue(encryptor, 7, in.data(), static_cast<int>(len),
                                      binary.data(), text.data(), mode);
  const int binaryLen = 3 + static_cast<int>(len / 16 + 1) * 16 + 4;
  for (auto _ : state) {
    const uint8_t* value = binary.data();
    if (mode == 0) {
      // EVP_DecodeBlock counts "=" padding as bytes; the layout's length is known.
      EVP_DecodeBlock(work.data(), reinterpret_cast<const unsigned char*>(text.data()) + 2,
                      stored - 2);
      value = work.data();
    }
    uint8_t iv[16];
    std::memcpy(iv, PolicyIv().data(), 16);
    std::memcpy(iv, value + binaryLen - 4, 4);
    benchmark::DoNotOptimize(evp.Run(iv, value + 3, binaryLen - 7, plain.data()));
    benchmark::ClobberMemory();
  }
  qor::bench::SetBytesProcessed(state, len);
}

void OursLob(benchmark::State& state, bool encrypt, int mode) {
  if (!Install()) return state.SkipWithError("key set not installed");
  const PolicyCase& c = mode == 0 ? kPolicies[0] : kPlainAes;
  std::vector<uint8_t> object = Pattern(kLob, 5);
  std::vector<uint8_t> out((kLob / 4096 + 1) * 6694 + 1);
  const int64_t stored =
      QOR_EncryptLobEx(c.policy, object.data(), kLob, out.data(), mode, 0);
  if (stored <= 0) return state.SkipWithError("encryption failed");
  std::vector<uint8_t> encrypted(out.begin(), out.begin() + stored);
  for (auto _ : state) {
    const int64_t n =
        encrypt ? QOR_EncryptLobEx(c.policy, object.data(), kLob, out.data(), mode, 0)
                : QOR_DecryptLobEx(c.policy, encrypted.data(), encrypted.size(), out.data(), mode,
                                   0);
    if (n <= 0) state.SkipWithError("large object failed");
    benchmark::DoNotOptimize(out.data());
  }
  qor::bench::SetBytesProcessed(state, kLob);
}

void PeerLob(benchmark::State& state, bool encrypt) {
  const std::vector<uint8_t> in = Pattern(kLob, 5);
  qor::bench::EvpCbcLoop(state, EVP_aes_256_cbc(), encrypt, Key().data(), PolicyIv().data(),
                         in.data(), kLob);
}

const bool kRegistered = [] {
  for (const PolicyCase& c : kPolicies) {
    for (bool enc : {true, false}) {
      for (int mode : {0, 1}) {
        for (size_t len : {size_t{16}, size_t{256}}) {
          for (int threads : {1, 2}) {
            const std::string name = std::string(c.name) + "_udf_" + (enc ? "enc_" : "dec_") +
                                     ModeName(mode) + "_t" + std::to_string(threads) + "/" +
                                     qor::bench::SizeName(len);
            RegisterRun(name, "ours", [=](benchmark::State& s) {
              enc ? OursEncrypt(s, c, mode, len) : OursDecrypt(s, c, mode, len);
            })->Threads(threads)->UseRealTime();
            RegisterRun(name, "openssl", [=](benchmark::State& s) {
              enc ? PeerEncrypt(s, c, mode, len) : PeerDecrypt(s, c, mode, len);
            })->Threads(threads)->UseRealTime();
          }
        }
      }
    }
  }
  for (bool enc : {true, false}) {
    for (int mode : {0, 1}) {
      const std::string name = std::string("aes256_lob_") + (enc ? "enc_" : "dec_") +
                               ModeName(mode) + "/" + qor::bench::SizeName(kLob);
      RegisterRun(name, "ours", [=](benchmark::State& s) { OursLob(s, enc, mode); });
      RegisterRun(name, "openssl", [=](benchmark::State& s) { PeerLob(s, enc); });
    }
  }
  return true;
}();

}  // namespace

QOR_BENCH_MAIN()
