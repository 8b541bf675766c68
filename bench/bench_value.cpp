// Whole value operations: EncryptToBase64_ACC and DecryptFromBase64_ACC of a
// 16- and a 256-byte value under a policy with a key version and a record IV,
// against the same CBC work done by hand through OpenSSL EVP (context keyed
// once, IV reset per value, padding, version prefix and tail, Base64). LEA is
// not in OpenSSL: its peer is Crypto++ CBC with OpenSSL's Base64.
#include <crypto++/lea.h>
#include <crypto++/modes.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "qor/ua_cipher_util.h"
#include "ratio_reporter.h"

namespace {

using qor::bench::Pattern;
using qor::bench::RegisterRun;

constexpr int kVersion = 0x0103;
constexpr uint32_t kRecordIv = 0x5EEDF00Du;

struct CipherCase {
  const char* name;
  uint32_t alg;
  size_t keyLen;
  const char* evpName;  // nullptr: Crypto++ LEA
};

const CipherCase kCases[] = {
    {"aes256", QOR_ALG_AES256, 32, "AES-256-CBC"},
    {"aria256", QOR_ALG_ARIA256, 32, "ARIA-256-CBC"},
    {"seed128", QOR_ALG_SEED, 16, "SEED-CBC"},
    {"lea128", QOR_ALG_LEA128, 16, nullptr},
};

const std::vector<uint8_t>& Iv() {
  static const std::vector<uint8_t> iv = Pattern(16, 2);
  return iv;
}

// The policy IV with the record IV in its first four bytes.
std::vector<uint8_t> CallIv() {
  std::vector<uint8_t> iv = Iv();
  std::memcpy(iv.data(), &kRecordIv, 4);
  return iv;
}

// A policy with one key version whose values carry a record-IV tail.
UACipherUtil* MakePolicy(const CipherCase& c) {
  const auto key = Pattern(c.keyLen, 1);
  KeyEntry entry{kVersion, const_cast<uint8_t*>(key.data()), const_cast<char*>("active"), 0, 0,
                 nullptr};
  static const char kName[] = "bench.value.policy";
  const DataBuffer name{static_cast<int32_t>(sizeof(kName) - 1),
                        reinterpret_cast<unsigned char*>(const_cast<char*>(kName))};
  const DataBuffer iv{16, const_cast<uint8_t*>(Iv().data())};
  UACipherUtil* p =
      UACipherUtil_CreateEx3(c.alg, &name, static_cast<int32_t>(c.keyLen), 1, &entry, &iv, nullptr,
                             nullptr, 0, 0, nullptr, 0, 0, 1, 0, 0, 0, 4, 0, "", 0, 0, 0, 0, 0);
  if (p != nullptr) {
    p->SetCompatibility(&p, 0);
    for (CipherUtil* r = p->data->ciphers; r != nullptr; r = r->next) r->useRecordIV = 1;
  }
  return p;
}

void OursEncrypt(benchmark::State& state, const CipherCase& c, size_t len) {
  UACipherUtil* p = MakePolicy(c);
  if (p == nullptr) return state.SkipWithError("policy creation failed");
  std::vector<uint8_t> buffer = Pattern(len + 17, 3);
  for (auto _ : state) {
    DataBuffer in{static_cast<int32_t>(len), buffer.data()};
    DataBuffer out{0, nullptr};
    if (p->EncryptToBase64_ACC(&p, &in, &out, 0, "", "", "") != 0)
      state.SkipWithError("encryption failed");
    benchmark::DoNotOptimize(out.data);
    std::free(out.data);
  }
  p->Destroy(&p);
  qor::bench::SetBytesProcessed(state, len);
}

void OursDecrypt(benchmark::State& state, const CipherCase& c, size_t len) {
  UACipherUtil* p = MakePolicy(c);
  if (p == nullptr) return state.SkipWithError("policy creation failed");
  std::vector<uint8_t> buffer = Pattern(len + 17, 3);
  DataBuffer plain{static_cast<int32_t>(len), buffer.data()};
  DataBuffer text{0, nullptr};
  p->EncryptToBase64_ACC(&p, &plain, &text, 0, "", "", "");
  for (auto _ : state) {
    DataBuffer out{0, nullptr};
    if (p->DecryptFromBase64_ACC(&p, &text, &out, nullptr, "", "", "") != 0)
      state.SkipWithError("decryption failed");
    benchmark::DoNotOptimize(out.data);
    std::free(out.data);
  }
  std::free(text.data);
  p->Destroy(&p);
  qor::bench::SetBytesProcessed(state, len);
}

// The peer's cipher: EVP keyed once (IV reset per value, its own padding), or
// Crypto++ LEA with the padding written by hand.
class PeerCbc {
 public:
  PeerCbc(const CipherCase& c, bool encrypt) : encrypt_(encrypt) {
    const auto key = Pattern(c.keyLen, 1);
    if (c.evpName != nullptr) {
      cipher_ = EVP_CIPHER_fetch(nullptr, c.evpName, nullptr);
      if (cipher_ == nullptr) return;
      ctx_ = EVP_CIPHER_CTX_new();
      EVP_CipherInit_ex(ctx_, cipher_, nullptr, key.data(), Iv().data(), encrypt ? 1 : 0);
    } else if (encrypt) {
      leaEnc_.SetKeyWithIV(key.data(), key.size(), Iv().data());
    } else {
      leaDec_.SetKeyWithIV(key.data(), key.size(), Iv().data());
    }
    ok_ = true;
  }
  ~PeerCbc() {
    EVP_CIPHER_CTX_free(ctx_);
    EVP_CIPHER_free(cipher_);
  }
  bool ok() const { return ok_; }

  // Whole value through the cipher with padding; returns the output length (-1 bad pad).
  int Run(const uint8_t* iv, const uint8_t* in, int len, uint8_t* out) {
    if (ctx_ != nullptr) {
      int n1 = 0, n2 = 0;
      EVP_CipherInit_ex(ctx_, nullptr, nullptr, nullptr, iv, -1);
      EVP_CipherUpdate(ctx_, out, &n1, in, len);
      if (EVP_CipherFinal_ex(ctx_, out + n1, &n2) != 1) return -1;
      return n1 + n2;
    }
    if (encrypt_) {
      uint8_t padded[512];
      const int pad = 16 - len % 16;
      std::memcpy(padded, in, static_cast<size_t>(len));
      std::memset(padded + len, pad, static_cast<size_t>(pad));
      leaEnc_.Resynchronize(iv);
      leaEnc_.ProcessData(out, padded, static_cast<size_t>(len + pad));
      return len + pad;
    }
    leaDec_.Resynchronize(iv);
    leaDec_.ProcessData(out, in, static_cast<size_t>(len));
    const int pad = out[len - 1];
    return pad >= 1 && pad <= 16 ? len - pad : -1;
  }

 private:
  bool encrypt_;
  bool ok_ = false;
  EVP_CIPHER* cipher_ = nullptr;
  EVP_CIPHER_CTX* ctx_ = nullptr;
  CryptoPP::CBC_Mode<CryptoPP::LEA>::Encryption leaEnc_;
  CryptoPP::CBC_Mode<CryptoPP::LEA>::Decryption leaDec_;
};

// "$." + Base64(version, 0xFE, CBC(padded value), record IV).
int PeerEncryptValue(PeerCbc& peer, const uint8_t* callIv, const uint8_t* in, int len,
                     uint8_t* binary, char* text) {
  binary[0] = kVersion >> 8;
  binary[1] = kVersion & 0xFF;
  binary[2] = 0xFE;
  const int n = peer.Run(callIv, in, len, binary + 3);
  std::memcpy(binary + 3 + n, callIv, 4);
  text[0] = '$';
  text[1] = '.';
  return 2 + EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text) + 2, binary, 3 + n + 4);
}

const char* PeerName(const CipherCase& c) { return c.evpName != nullptr ? "openssl" : "cryptopp"; }

void PeerEncrypt(benchmark::State& state, const CipherCase& c, size_t len) {
  PeerCbc peer(c, true);
  if (!peer.ok()) return state.SkipWithError("cipher not available");
  const std::vector<uint8_t> in = Pattern(len, 3), iv = CallIv();
  std::vector<uint8_t> binary(len + 64);
  std::vector<char> text(2 * len + 128);
  for (auto _ : state) {
    benchmark::DoNotOptimize(PeerEncryptValue(peer, iv.data(), in.data(), static_cast<int>(len),
                                              binary.data(), text.data()));
    benchmark::ClobberMemory();
  }
  qor::bench::SetBytesProcessed(state, len);
}

void PeerDecrypt(benchmark::State& state, const CipherCase& c, size_t len) {
  PeerCbc encryptor(c, true), peer(c, false);
  if (!peer.ok() || !encryptor.ok()) return state.SkipWithError("cipher not available");
  const std::vector<uint8_t> in = Pattern(len, 3), iv = CallIv();
  std::vector<uint8_t> binary(len + 64), work(len + 64), plain(len + 64);
  std::vector<char> text(2 * len + 128);
  const int textLen = PeerEncryptValue(encryptor, iv.data(), in.data(), static_cast<int>(len),
                                       binary.data(), text.data());
  const int binaryLen = 3 + static_cast<int>(len / 16 + 1) * 16 + 4;
  for (auto _ : state) {
    // Decode, take the tail into this value's IV, skip the prefix, decrypt.
    // EVP_DecodeBlock counts the "=" padding as bytes; the value's length is known.
    if (EVP_DecodeBlock(work.data(), reinterpret_cast<const unsigned char*>(text.data()) + 2,
                        textLen - 2) < 0) {
      state.SkipWithError("decoding failed");
    }
    const int n = binaryLen;
    uint8_t callIv[16];
    std::memcpy(callIv, Iv().data(), 16);
    std::memcpy(callIv, work.data() + n - 4, 4);
    const int m = peer.Run(callIv, work.data() + 3, n - 7, plain.data());
    benchmark::DoNotOptimize(m);
    benchmark::ClobberMemory();
  }
  qor::bench::SetBytesProcessed(state, len);
}

const bool kRegistered = [] {
  qor::bench::LoadOpenSslLegacyProvider();
  for (const CipherCase& c : kCases) {
    for (bool enc : {true, false}) {
      for (size_t len : {size_t{16}, size_t{256}}) {
        const std::string name = std::string(c.name) + (enc ? "_value_enc_b64" : "_value_dec_b64") +
                                 "/" + qor::bench::SizeName(len);
        RegisterRun(name, "ours", [=](benchmark::State& s) {
          enc ? OursEncrypt(s, c, len) : OursDecrypt(s, c, len);
        });
        RegisterRun(name, PeerName(c), [=](benchmark::State& s) {
          enc ? PeerEncrypt(s, c, len) : PeerDecrypt(s, c, len);
        });
      }
    }
  }
  return true;
}();

}  // namespace

QOR_BENCH_MAIN()
