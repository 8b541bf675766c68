// ARIA one-shot CBC encryption and decryption against OpenSSL and Crypto++.
#include <openssl/evp.h>

#include <crypto++/aria.h>
#include <crypto++/modes.h>

#include <string>
#include <vector>

#include "primitives/aria/aria_internal.h"
#include "qor/nc_aria.h"
#include "ratio_reporter.h"

namespace {

constexpr size_t kSizes[] = {16, 256, 4096, 1 << 20};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 31);
  return v;
}

// |kernels|: null for the automatic choice, else the kernels to force.
void Ours(benchmark::State& state, size_t keyLen, bool enc, size_t len,
          const qor::aria::Kernels* kernels = nullptr) {
  qor::aria::ForceKernels(kernels);
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(len, 3);
  std::vector<uint8_t> out(len);
  const int rounds = keyLen == 16 ? 12 : keyLen == 24 ? 14 : 16;
  NC_ARIA_CTX ctx{};
  if (enc) {
    NC_ARIA_EncKeyGen(key.data(), &ctx, rounds);
  } else {
    NC_ARIA_DecKeyGen(key.data(), &ctx, rounds);
  }
  for (auto _ : state) {
    if (enc) {
      NC_E_ARIA_CBC_Encrypt(in.data(), out.data(), ctx.roundKey, static_cast<int>(len), iv.data(), rounds);
    } else {
      NC_E_ARIA_CBC_Decrypt(in.data(), out.data(), ctx.roundKey, static_cast<int>(len), iv.data(), rounds);
    }
    benchmark::DoNotOptimize(out.data());
  }
  qor::aria::ForceKernels(nullptr);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * len));
}

void OpenSsl(benchmark::State& state, size_t keyLen, bool enc, size_t len) {
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(len, 3);
  std::vector<uint8_t> out(len + 16);
  const std::string name = "aria-" + std::to_string(keyLen * 8) + "-cbc";
  EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(c, EVP_get_cipherbyname(name.c_str()), nullptr, key.data(), iv.data(), enc ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(c, 0);
  for (auto _ : state) {
    int n = 0;
    EVP_CipherInit_ex(c, nullptr, nullptr, nullptr, iv.data(), -1);
    EVP_CipherUpdate(c, out.data(), &n, in.data(), static_cast<int>(len));
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(c);
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
        const std::string c = "aria" + std::to_string(keyLen * 8) + "_cbc_" + (enc ? "enc" : "dec") + "/" + SizeName(len);
        benchmark::RegisterBenchmark((c + "/ours").c_str(), [=](benchmark::State& s) { Ours(s, keyLen, enc, len); });
        benchmark::RegisterBenchmark((c + "/openssl").c_str(), [=](benchmark::State& s) { OpenSsl(s, keyLen, enc, len); });
        if (enc) {
          benchmark::RegisterBenchmark((c + "/cryptopp").c_str(), [=](benchmark::State& s) {
            CryptoPp<CryptoPP::CBC_Mode<CryptoPP::ARIA>::Encryption>(s, keyLen, len);
          });
        } else {
          benchmark::RegisterBenchmark((c + "/cryptopp").c_str(), [=](benchmark::State& s) {
            CryptoPp<CryptoPP::CBC_Mode<CryptoPP::ARIA>::Decryption>(s, keyLen, len);
          });
        }
      }
    }
  }
  // The fallback kernels of processors without GFNI, against the same peer.
  if (const qor::aria::Kernels* aesni = qor::aria::AesniKernels()) {
    for (size_t keyLen : {16u, 32u}) {
      for (bool enc : {true, false}) {
        for (size_t len : {size_t{4096}, size_t{1} << 20}) {
          const std::string c = "aria" + std::to_string(keyLen * 8) + "_cbc_" + (enc ? "enc" : "dec") + "_aesni/" + SizeName(len);
          benchmark::RegisterBenchmark((c + "/ours").c_str(), [=](benchmark::State& s) { Ours(s, keyLen, enc, len, aesni); });
          benchmark::RegisterBenchmark((c + "/openssl").c_str(), [=](benchmark::State& s) { OpenSsl(s, keyLen, enc, len); });
        }
      }
    }
  }
  return true;
}();

}  // namespace

QOR_BENCH_MAIN()
