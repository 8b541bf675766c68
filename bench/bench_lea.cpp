// LEA one-shot CBC encryption and decryption against Crypto++ (OpenSSL has no LEA).
#include <crypto++/lea.h>
#include <crypto++/modes.h>

#include <string>
#include <vector>

#include "bench_util.h"
#include "qor/lea.h"
#include "ratio_reporter.h"

namespace {

using qor::bench::CbcCase;
using qor::bench::Pattern;
using qor::bench::RegisterRun;

void Ours(benchmark::State& state, size_t keyLen, bool enc, size_t len) {
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(len, 3);
  std::vector<uint8_t> out(len);
  LEA_KEY k{};
  lea_set_key(&k, key.data(), static_cast<uint32_t>(keyLen));
  for (auto _ : state) {
    if (enc) {
      lea_cbc_enc(out.data(), in.data(), static_cast<uint32_t>(len), iv.data(), &k);
    } else {
      lea_cbc_dec(out.data(), in.data(), static_cast<uint32_t>(len), iv.data(), &k);
    }
    benchmark::DoNotOptimize(out.data());
  }
  qor::bench::SetBytesProcessed(state, len);
}

void CryptoPp(benchmark::State& state, size_t keyLen, bool enc, size_t len) {
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(len, 3);
  qor::bench::CryptoppCbcLoop<CryptoPP::LEA>(state, enc, key.data(), keyLen, iv.data(), in.data(), len);
}

const bool kRegistered = [] {
  qor::bench::ForEachCbcRun(qor::bench::kCipherSizes, [](size_t keyLen, bool enc, size_t len) {
    const std::string c = CbcCase("lea", keyLen, enc, len);
    RegisterRun(c, "ours", [=](benchmark::State& s) { Ours(s, keyLen, enc, len); });
    RegisterRun(c, "cryptopp", [=](benchmark::State& s) { CryptoPp(s, keyLen, enc, len); });
  });
  return true;
}();

}  // namespace

QOR_BENCH_MAIN()
