// Triple DES one-shot CBC (two- and three-key), ours against OpenSSL EVP and
// Crypto++, at 16 B, 256 B, 4 KiB and 1 MiB.
#include <crypto++/des.h>
#include <crypto++/modes.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qor/nc_des.h"
#include "ratio_reporter.h"

namespace {

constexpr size_t kSizes[] = {16, 256, 4096, 1 << 20};

struct Setup {
  std::vector<uint8_t> key = std::vector<uint8_t>(24);
  uint8_t iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Setup() {
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 37 + 11);
  }
};

void SetBytes(benchmark::State& state, size_t len) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(len));
}

void Ours(benchmark::State& state, bool three_key, bool encrypt, size_t len) {
  Setup s;
  NC_DES3_CTX ctx{};
  if (three_key) {
    NC_E_DES3_3Key_ScheduleEx(&ctx, s.key.data());
  } else {
    NC_E_DES3_KeyScheduleEx(&ctx, s.key.data());
  }
  std::vector<uint8_t> in(len, 0x5A), out(len);
  auto fn = three_key ? (encrypt ? NC_E_DES3_3Key_CBC_Encrypt : NC_E_DES3_3Key_CBC_Decrypt)
                      : (encrypt ? NC_E_DES3_CBC_Encrypt : NC_E_DES3_CBC_Decrypt);
  for (auto _ : state) {
    fn(in.data(), out.data(), &ctx.ks[0][0], static_cast<int32_t>(len), s.iv);
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state, len);
}

void OpenSsl(benchmark::State& state, bool three_key, bool encrypt, size_t len) {
  Setup s;
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, three_key ? "DES-EDE3-CBC" : "DES-EDE-CBC", nullptr);
  if (cipher == nullptr) {
    state.SkipWithError("cipher not available");
    return;
  }
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, cipher, nullptr, s.key.data(), s.iv, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  std::vector<uint8_t> in(len, 0x5A), out(len + 16);
  int out_len = 0;
  for (auto _ : state) {
    EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, s.iv, -1);
    EVP_CipherUpdate(ctx, out.data(), &out_len, in.data(), static_cast<int>(len));
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
  SetBytes(state, len);
}

template <class Cipher>
void CryptoppRun(benchmark::State& state, bool encrypt, size_t len, size_t key_len) {
  Setup s;
  std::vector<uint8_t> in(len, 0x5A), out(len);
  if (encrypt) {
    typename CryptoPP::CBC_Mode<Cipher>::Encryption c(s.key.data(), key_len, s.iv);
    for (auto _ : state) {
      c.Resynchronize(s.iv);
      c.ProcessData(out.data(), in.data(), len);
      benchmark::DoNotOptimize(out.data());
    }
  } else {
    typename CryptoPP::CBC_Mode<Cipher>::Decryption c(s.key.data(), key_len, s.iv);
    for (auto _ : state) {
      c.Resynchronize(s.iv);
      c.ProcessData(out.data(), in.data(), len);
      benchmark::DoNotOptimize(out.data());
    }
  }
  SetBytes(state, len);
}

void Cryptopp(benchmark::State& state, bool three_key, bool encrypt, size_t len) {
  if (three_key) {
    CryptoppRun<CryptoPP::DES_EDE3>(state, encrypt, len, 24);
  } else {
    CryptoppRun<CryptoPP::DES_EDE2>(state, encrypt, len, 16);
  }
}

void Register() {
  // Some builds keep the DES family in the legacy provider only.
  OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER_load(nullptr, "default");
  for (bool three_key : {false, true}) {
    for (bool encrypt : {true, false}) {
      for (size_t len : kSizes) {
        const std::string base = std::string(three_key ? "des_ede3_cbc_" : "des_ede_cbc_") +
                                 (encrypt ? "enc/" : "dec/") + std::to_string(len);
        benchmark::RegisterBenchmark((base + "/ours").c_str(), Ours, three_key, encrypt, len);
        benchmark::RegisterBenchmark((base + "/openssl").c_str(), OpenSsl, three_key, encrypt, len);
        benchmark::RegisterBenchmark((base + "/cryptopp").c_str(), Cryptopp, three_key, encrypt, len);
      }
    }
  }
}

const bool kRegistered = (Register(), true);

}  // namespace

QOR_BENCH_MAIN()
