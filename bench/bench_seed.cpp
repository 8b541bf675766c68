// SEED one-shot CBC, ours against OpenSSL EVP (legacy provider) and Crypto++,
// at 16 B, 256 B, 4 KiB and 1 MiB.
#include <crypto++/modes.h>
#include <crypto++/seed.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qor/nc_seed.h"
#include "ratio_reporter.h"

namespace {

constexpr size_t kSizes[] = {16, 256, 4096, 1 << 20};

struct Setup {
  uint8_t key[16];
  uint8_t iv[16];
  Setup() {
    for (int i = 0; i < 16; ++i) {
      key[i] = static_cast<uint8_t>(i * 37 + 11);
      iv[i] = static_cast<uint8_t>(i);
    }
  }
};

void SetBytes(benchmark::State& state, size_t len) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(len));
}

void Ours(benchmark::State& state, bool encrypt, size_t len) {
  Setup s;
  uint32_t rk[NC_SEED_ROUND_KEY_WORDS];
  NC_E_SEED_KeySchedule(s.key, rk);
  std::vector<uint8_t> in(len, 0x5A), out(len);
  auto fn = encrypt ? NC_E_SEED_CBC_Encrypt : NC_E_SEED_CBC_Decrypt;
  for (auto _ : state) {
    fn(in.data(), out.data(), rk, static_cast<int32_t>(len), s.iv);
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state, len);
}

void OpenSsl(benchmark::State& state, bool encrypt, size_t len) {
  Setup s;
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "SEED-CBC", nullptr);
  if (cipher == nullptr) {
    state.SkipWithError("SEED-CBC not available");
    return;
  }
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, cipher, nullptr, s.key, s.iv, encrypt ? 1 : 0);
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

void Cryptopp(benchmark::State& state, bool encrypt, size_t len) {
  Setup s;
  std::vector<uint8_t> in(len, 0x5A), out(len);
  if (encrypt) {
    CryptoPP::CBC_Mode<CryptoPP::SEED>::Encryption c(s.key, 16, s.iv);
    for (auto _ : state) {
      c.Resynchronize(s.iv);
      c.ProcessData(out.data(), in.data(), len);
      benchmark::DoNotOptimize(out.data());
    }
  } else {
    CryptoPP::CBC_Mode<CryptoPP::SEED>::Decryption c(s.key, 16, s.iv);
    for (auto _ : state) {
      c.Resynchronize(s.iv);
      c.ProcessData(out.data(), in.data(), len);
      benchmark::DoNotOptimize(out.data());
    }
  }
  SetBytes(state, len);
}

void Register() {
  OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER_load(nullptr, "default");
  for (bool encrypt : {true, false}) {
    for (size_t len : kSizes) {
      const std::string base = std::string(encrypt ? "seed_cbc_enc/" : "seed_cbc_dec/") + std::to_string(len);
      benchmark::RegisterBenchmark((base + "/ours").c_str(), Ours, encrypt, len);
      benchmark::RegisterBenchmark((base + "/openssl").c_str(), OpenSsl, encrypt, len);
      benchmark::RegisterBenchmark((base + "/cryptopp").c_str(), Cryptopp, encrypt, len);
    }
  }
}

const bool kRegistered = (Register(), true);

}  // namespace

QOR_BENCH_MAIN()
