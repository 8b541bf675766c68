// Base64 encode and decode into caller buffers, ours against OpenSSL's
// EVP_EncodeBlock / EVP_DecodeBlock and Crypto++, at 16 B, 64 B, 1 KiB, 64 KiB;
// then each of our kernels this processor has, forced, against OpenSSL.
#include <crypto++/base64.h>
#include <crypto++/filters.h>
#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench_util.h"
#include "primitives/base64/base64_internal.h"
#include "qor/base64.h"
#include "ratio_reporter.h"

namespace {

constexpr size_t kSizes[] = {16, 64, 1024, 65536};

std::vector<unsigned char> Input(size_t len) { return qor::bench::Pattern(len, 7, 131); }

std::string Text(size_t len) {
  const auto in = Input(len);
  std::string t(4 * ((len + 2) / 3) + 1, '\0');
  t.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(t.data()), in.data(),
                                               static_cast<int>(len))));
  return t;
}

using Kernel = qor::base64::Kernels;

// Forces |kernel| (null: the automatic choice) for the length of one run.
struct KernelScope {
  explicit KernelScope(const Kernel* kernel) { qor::base64::g_kernels.Force(kernel); }
  ~KernelScope() { qor::base64::g_kernels.Force(nullptr); }
};

void EncodeKernel(benchmark::State& state, size_t len, const Kernel* kernel) {
  const KernelScope scope(kernel);
  const auto in = Input(len);
  std::vector<char> out(4 * ((len + 2) / 3) + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(QOR_Base64Encode_Buffer(in.data(), static_cast<int>(len), out.data()));
    benchmark::ClobberMemory();
  }
  qor::bench::SetBytesProcessed(state, len);
}

void EncodeOurs(benchmark::State& state, size_t len) { EncodeKernel(state, len, nullptr); }

void EncodeOpenSsl(benchmark::State& state, size_t len) {
  const auto in = Input(len);
  std::vector<unsigned char> out(4 * ((len + 2) / 3) + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_EncodeBlock(out.data(), in.data(), static_cast<int>(len)));
    benchmark::ClobberMemory();
  }
  qor::bench::SetBytesProcessed(state, len);
}

void EncodeCryptopp(benchmark::State& state, size_t len) {
  const auto in = Input(len);
  std::string out;
  for (auto _ : state) {
    out.clear();
    CryptoPP::StringSource(in.data(), in.size(), true,
                           new CryptoPP::Base64Encoder(new CryptoPP::StringSink(out), false));
    benchmark::DoNotOptimize(out.data());
  }
  qor::bench::SetBytesProcessed(state, len);
}

void DecodeKernel(benchmark::State& state, size_t len, const Kernel* kernel) {
  const KernelScope scope(kernel);
  const std::string text = Text(len);
  std::vector<unsigned char> out(len + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(QOR_Base64Decode_Buffer(text.data(), static_cast<int>(text.size()), out.data(),
                                                     static_cast<int>(out.size())));
    benchmark::ClobberMemory();
  }
  qor::bench::SetBytesProcessed(state, len);
}

void DecodeOurs(benchmark::State& state, size_t len) { DecodeKernel(state, len, nullptr); }

void DecodeOursAlloc(benchmark::State& state, size_t len) {
  const std::string text = Text(len);
  for (auto _ : state) {
    unsigned char* out = nullptr;
    benchmark::DoNotOptimize(QOR_Base64Decode(text.data(), static_cast<int>(text.size()), &out, 1));
    free(out);
  }
  qor::bench::SetBytesProcessed(state, len);
}

void DecodeOpenSsl(benchmark::State& state, size_t len) {
  const std::string text = Text(len);
  std::vector<unsigned char> out(len + 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                             static_cast<int>(text.size())));
    benchmark::ClobberMemory();
  }
  qor::bench::SetBytesProcessed(state, len);
}

void DecodeCryptopp(benchmark::State& state, size_t len) {
  const std::string text = Text(len);
  std::string out;
  for (auto _ : state) {
    out.clear();
    CryptoPP::StringSource(text, true, new CryptoPP::Base64Decoder(new CryptoPP::StringSink(out)));
    benchmark::DoNotOptimize(out.data());
  }
  qor::bench::SetBytesProcessed(state, len);
}

const bool kRegistered = [] {
  for (size_t len : kSizes) {
    const std::string n = std::to_string(len);
    benchmark::RegisterBenchmark(("encode/" + n + "/ours").c_str(), EncodeOurs, len);
    benchmark::RegisterBenchmark(("encode/" + n + "/openssl").c_str(), EncodeOpenSsl, len);
    benchmark::RegisterBenchmark(("encode/" + n + "/cryptopp").c_str(), EncodeCryptopp, len);
    benchmark::RegisterBenchmark(("decode/" + n + "/ours").c_str(), DecodeOurs, len);
    benchmark::RegisterBenchmark(("decode/" + n + "/openssl").c_str(), DecodeOpenSsl, len);
    benchmark::RegisterBenchmark(("decode/" + n + "/cryptopp").c_str(), DecodeCryptopp, len);
    benchmark::RegisterBenchmark(("decode_alloc/" + n + "/ours").c_str(), DecodeOursAlloc, len);
  }
  for (size_t len : {size_t{1024}, size_t{65536}}) {
    const std::string n = std::to_string(len);
    for (const char* name : qor::base64::g_kernels.Names()) {
      const Kernel* kernel = qor::base64::g_kernels.Find(name);
      if (kernel == nullptr) continue;
      const std::string k = name;
      benchmark::RegisterBenchmark(("encode_" + k + "/" + n + "/ours").c_str(),
                                   [len, kernel](benchmark::State& s) { EncodeKernel(s, len, kernel); });
      benchmark::RegisterBenchmark(("encode_" + k + "/" + n + "/openssl").c_str(), EncodeOpenSsl, len);
      benchmark::RegisterBenchmark(("decode_" + k + "/" + n + "/ours").c_str(),
                                   [len, kernel](benchmark::State& s) { DecodeKernel(s, len, kernel); });
      benchmark::RegisterBenchmark(("decode_" + k + "/" + n + "/openssl").c_str(), DecodeOpenSsl, len);
    }
  }
  return true;
}();

}  // namespace

QOR_BENCH_MAIN()
