// SHA-3 against OpenSSL and Crypto++, LSH-512 against Crypto++, on short
// (64-byte) and long (1 MiB) messages. The "_portable" cases pin our portable
// bodies to show what the SIMD / BMI2 paths add.
#include <crypto++/lsh.h>
#include <crypto++/sha3.h>
#include <openssl/evp.h>

#include <functional>
#include <string>
#include <vector>

#include "bench_util.h"
#include "primitives/lsh/lsh512_core.h"
#include "primitives/sha3/keccak.h"
#include "qor/lsh.h"
#include "qor/sha3.h"
#include "ratio_reporter.h"

namespace {

struct Size {
  const char* label;
  size_t bytes;
};
const Size kSizes[] = {{"64", 64}, {"1MiB", 1 << 20}};

void Run(benchmark::State& state, size_t n, const std::function<void(const uint8_t*, size_t)>& fn) {
  const uint8_t* in = qor::bench::MessageBytes().data();
  for (auto _ : state) {
    fn(in, n);
    benchmark::ClobberMemory();
  }
  qor::bench::SetBytesProcessed(state, n);
}

void Register(const std::string& name, size_t n,
              std::function<void(const uint8_t*, size_t)> fn, std::function<void()> setup = {},
              std::function<void()> teardown = {}) {
  benchmark::RegisterBenchmark(name.c_str(), [n, fn, setup, teardown](benchmark::State& state) {
    if (setup) setup();
    Run(state, n, fn);
    if (teardown) teardown();
  });
}

template <class CryptoppHash>
void RegisterSha3(const char* label, int bits, const char* opensslName) {
  for (const Size& s : kSizes) {
    const std::string base = std::string(label) + "/" + s.label;
    const size_t outLen = static_cast<size_t>(bits) / 8;
    Register(base + "/ours", s.bytes, [bits, outLen](const uint8_t* in, size_t n) {
      uint8_t out[64];
      sha3_hash(out, outLen, in, n, bits, 0);
      benchmark::DoNotOptimize(out);
    });
    Register(base + "/openssl", s.bytes, [opensslName](const uint8_t* in, size_t n) {
      static EVP_MD* md = EVP_MD_fetch(nullptr, opensslName, nullptr);
      static thread_local EVP_MD_CTX* ctx = EVP_MD_CTX_new();
      uint8_t out[64];
      unsigned int len = 0;
      EVP_DigestInit_ex2(ctx, md, nullptr);
      EVP_DigestUpdate(ctx, in, n);
      EVP_DigestFinal_ex(ctx, out, &len);
      benchmark::DoNotOptimize(out);
    });
    Register(base + "/cryptopp", s.bytes, [](const uint8_t* in, size_t n) {
      static thread_local CryptoppHash h;
      uint8_t out[64];
      h.CalculateDigest(out, in, n);
      benchmark::DoNotOptimize(out);
    });
    const std::pair<const char*, const char*> pinned[] = {{"_portable", "portable"}, {"_bmi2", "bmi2"}};
    for (const auto& [suffix, impl] : pinned) {
      Register(std::string(label) + suffix + "/" + s.label + "/ours", s.bytes,
               [bits, outLen](const uint8_t* in, size_t n) {
                 uint8_t out[64];
                 sha3_hash(out, outLen, in, n, bits, 0);
                 benchmark::DoNotOptimize(out);
               },
               [impl = impl] { qor::sha3::g_kernels.Force(qor::sha3::g_kernels.Find(impl)); },
               [] { qor::sha3::g_kernels.Force(nullptr); });
    }
  }
}

template <class CryptoppHash>
void RegisterLsh(const char* label, uint32_t algType) {
  for (const Size& s : kSizes) {
    const std::string base = std::string(label) + "/" + s.label;
    auto ours = [algType](const uint8_t* in, size_t n) {
      uint8_t out[64];
      lsh512_digest(algType, in, 8 * n, out);
      benchmark::DoNotOptimize(out);
    };
    Register(base + "/ours", s.bytes, ours);
    Register(base + "/cryptopp", s.bytes, [](const uint8_t* in, size_t n) {
      static thread_local CryptoppHash h;
      uint8_t out[64];
      h.CalculateDigest(out, in, n);
      benchmark::DoNotOptimize(out);
    });
    const std::pair<const char*, const char*> pinned[] = {{"_portable", "portable"}, {"_avx2", "avx2"}};
    for (const auto& [suffix, impl] : pinned) {
      Register(std::string(label) + suffix + "/" + s.label + "/ours", s.bytes, ours,
               [impl = impl] { qor::lsh::g_kernels.Force(qor::lsh::g_kernels.Find(impl)); },
               [] { qor::lsh::g_kernels.Force(nullptr); });
    }
  }
}

const bool kRegistered = [] {
  RegisterSha3<CryptoPP::SHA3_256>("sha3_256", 256, "SHA3-256");
  RegisterSha3<CryptoPP::SHA3_512>("sha3_512", 512, "SHA3-512");
  RegisterLsh<CryptoPP::LSH512>("lsh512_512", LSH512_TYPE_512);
  RegisterLsh<CryptoPP::LSH512_256>("lsh512_256", LSH512_TYPE_256);
  return true;
}();

}  // namespace

QOR_BENCH_MAIN()
