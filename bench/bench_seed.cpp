// SEED one-shot CBC, ours against OpenSSL EVP (legacy provider) and Crypto++,
// at 16 B, 256 B, 4 KiB and 1 MiB.
#include <crypto++/modes.h>
#include <crypto++/seed.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench_util.h"
#include "qor/nc_seed.h"
#include "ratio_reporter.h"

namespace {

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
  qor::bench::SetBytesProcessed(state, len);
}

void OpenSsl(benchmark::State& state, bool encrypt, size_t len) {
  Setup s;
  const std::vector<uint8_t> in(len, 0x5A);
  qor::bench::EvpCbcLoop(state, "SEED-CBC", encrypt, s.key, s.iv, in.data(), len);
}

void Cryptopp(benchmark::State& state, bool encrypt, size_t len) {
  Setup s;
  const std::vector<uint8_t> in(len, 0x5A);
  qor::bench::CryptoppCbcLoop<CryptoPP::SEED>(state, encrypt, s.key, 16, s.iv, in.data(), len);
}

void Register() {
  qor::bench::LoadOpenSslLegacyProvider();
  for (bool encrypt : {true, false}) {
    for (size_t len : qor::bench::kCipherSizes) {
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
