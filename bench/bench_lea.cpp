// LEA one-shot CBC encryption and decryption against Crypto++ (OpenSSL has no LEA).
#include <crypto++/lea.h>
#include <crypto++/modes.h>

#include <string>
#include <vector>

#include "qor/lea.h"
#include "ratio_reporter.h"

namespace {

constexpr size_t kSizes[] = {16, 256, 4096, 1 << 20};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 31);
  return v;
}

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
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * len));
}

template <class Mode>
void CryptoPp(benchmark::State& state, size_t keyLen, size_t len) {
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(len, 3);
  std::vector<uint8_t> out(len);
  Mode m(key.data(), key.size(), iv.data());
  for (auto _ : state) {
    m.Resynchronize(iv.data());
    m.ProcessData(out.data(), in.data(), len);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * len));
}

std::string SizeName(size_t len) {
  return len >= (1 << 20) ? std::to_string(len >> 20) + "MiB"
         : len >= 1024    ? std::to_string(len >> 10) + "KiB"
                          : std::to_string(len) + "B";
}

const bool kRegistered = [] {
  for (size_t keyLen : {16u, 32u}) {
    for (bool enc : {true, false}) {
      for (size_t len : kSizes) {
        const std::string c = "lea" + std::to_string(keyLen * 8) + "_cbc_" + (enc ? "enc" : "dec") + "/" + SizeName(len);
        benchmark::RegisterBenchmark((c + "/ours").c_str(), [=](benchmark::State& s) { Ours(s, keyLen, enc, len); });
        if (enc) {
          benchmark::RegisterBenchmark((c + "/cryptopp").c_str(), [=](benchmark::State& s) {
            CryptoPp<CryptoPP::CBC_Mode<CryptoPP::LEA>::Encryption>(s, keyLen, len);
          });
        } else {
          benchmark::RegisterBenchmark((c + "/cryptopp").c_str(), [=](benchmark::State& s) {
            CryptoPp<CryptoPP::CBC_Mode<CryptoPP::LEA>::Decryption>(s, keyLen, len);
          });
        }
      }
    }
  }
  return true;
}();

}  // namespace

QOR_BENCH_MAIN()
