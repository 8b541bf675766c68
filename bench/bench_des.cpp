// Triple DES one-shot CBC (two- and three-key), ours against OpenSSL EVP and
// Crypto++, at 16 B, 256 B, 4 KiB and 1 MiB.
#include <crypto++/des.h>
#include <crypto++/modes.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench_util.h"
#include "qor/nc_des.h"
#include "ratio_reporter.h"

namespace {

struct Setup {
  std::vector<uint8_t> key = std::vector<uint8_t>(24);
  uint8_t iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Setup() {
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 37 + 11);
  }
};

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
  qor::bench::SetBytesProcessed(state, len);
}

void OpenSsl(benchmark::State& state, bool three_key, bool encrypt, size_t len) {
  Setup s;
  const std::vector<uint8_t> in(len, 0x5A);
  qor::bench::EvpCbcLoop(state, three_key ? "DES-EDE3-CBC" : "DES-EDE-CBC", encrypt, s.key.data(), s.iv, in.data(),
                         len);
}

void Cryptopp(benchmark::State& state, bool three_key, bool encrypt, size_t len) {
  Setup s;
  const std::vector<uint8_t> in(len, 0x5A);
  if (three_key) {
    qor::bench::CryptoppCbcLoop<CryptoPP::DES_EDE3>(state, encrypt, s.key.data(), 24, s.iv, in.data(), len);
  } else {
    qor::bench::CryptoppCbcLoop<CryptoPP::DES_EDE2>(state, encrypt, s.key.data(), 16, s.iv, in.data(), len);
  }
}

void Register() {
  qor::bench::LoadOpenSslLegacyProvider();
  for (bool three_key : {false, true}) {
    for (bool encrypt : {true, false}) {
      for (size_t len : qor::bench::kCipherSizes) {
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
