// Pieces the benchmarks share: input patterns, case names, byte counts and
// the peer (OpenSSL, Crypto++) loops for block ciphers in CBC mode. Every
// loop keeps key setup outside the timed part and restarts from the same IV
// on each iteration, as ours does.
#pragma once

#include <benchmark/benchmark.h>
#include <crypto++/modes.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qor::bench {

// The message sizes of the block-cipher runs: one block up to 1 MiB.
inline constexpr size_t kCipherSizes[] = {16, 256, 4096, size_t{1} << 20};

// |n| bytes start, start + step, start + 2 step, ... (mod 256).
inline std::vector<uint8_t> Pattern(size_t n, uint8_t start, size_t step = 31) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(start + i * step);
  return v;
}

// 1 MiB of one fixed pattern, built once, for the hash and encoding runs.
inline const std::vector<uint8_t>& MessageBytes() {
  static const std::vector<uint8_t> data = Pattern(size_t{1} << 20, 7, 131);
  return data;
}

// "16B", "4KiB", "1MiB".
inline std::string SizeName(size_t n) {
  if (n >= (size_t{1} << 20)) return std::to_string(n >> 20) + "MiB";
  if (n >= 1024) return std::to_string(n >> 10) + "KiB";
  return std::to_string(n) + "B";
}

// "<cipher><bits>_cbc_<enc|dec><variant>/<size>": the case part of a run name.
inline std::string CbcCase(const std::string& cipher, size_t keyLen, bool encrypt, size_t len,
                           const std::string& variant = "") {
  return cipher + std::to_string(keyLen * 8) + "_cbc_" + (encrypt ? "enc" : "dec") + variant + "/" + SizeName(len);
}

// Calls |each(keyLen, encrypt, len)| for 128- and 256-bit keys, encryption
// then decryption, and every length in |sizes|, in that nesting order.
template <class Sizes, class Fn>
void ForEachCbcRun(const Sizes& sizes, Fn each) {
  for (size_t keyLen : {16u, 32u}) {
    for (bool encrypt : {true, false}) {
      for (size_t len : sizes) each(keyLen, encrypt, len);
    }
  }
}

// Registers |fn| as the run "<caseName>/<impl>"; the run is returned for
// options such as Threads().
template <class Fn>
benchmark::internal::Benchmark* RegisterRun(const std::string& caseName, const char* impl, Fn fn) {
  return benchmark::RegisterBenchmark((caseName + "/" + impl).c_str(), fn);
}

inline void SetBytesProcessed(benchmark::State& state, size_t len) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(len));
}

// Some OpenSSL builds keep DES and SEED in the legacy provider only.
inline void LoadOpenSslLegacyProvider() {
  OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER_load(nullptr, "default");
}

// OpenSSL EVP over |len| bytes, padding off; |withFinal| adds the Final call
// to every iteration.
inline void EvpCbcLoop(benchmark::State& state, const EVP_CIPHER* cipher, bool encrypt, const uint8_t* key,
                       const uint8_t* iv, const uint8_t* in, size_t len, bool withFinal = false) {
  std::vector<uint8_t> out(len + 32);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, cipher, nullptr, key, iv, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  for (auto _ : state) {
    int n1 = 0, n2 = 0;
    EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, iv, -1);
    EVP_CipherUpdate(ctx, out.data(), &n1, in, static_cast<int>(len));
    if (withFinal) EVP_CipherFinal_ex(ctx, out.data() + n1, &n2);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  EVP_CIPHER_CTX_free(ctx);
  SetBytesProcessed(state, len);
}

// The same through a cipher fetched by name (some live in the legacy
// provider only); the run reports an error when OpenSSL lacks it.
inline void EvpCbcLoop(benchmark::State& state, const char* cipherName, bool encrypt, const uint8_t* key,
                       const uint8_t* iv, const uint8_t* in, size_t len) {
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, cipherName, nullptr);
  if (cipher == nullptr) {
    state.SkipWithError((std::string(cipherName) + " not available").c_str());
    return;
  }
  EvpCbcLoop(state, cipher, encrypt, key, iv, in, len);
  EVP_CIPHER_free(cipher);
}

// Crypto++ CBC over |len| bytes with block cipher |Cipher|.
template <class Cipher>
void CryptoppCbcLoop(benchmark::State& state, bool encrypt, const uint8_t* key, size_t keyLen, const uint8_t* iv,
                     const uint8_t* in, size_t len) {
  std::vector<uint8_t> out(len);
  auto run = [&](auto&& mode) {
    for (auto _ : state) {
      mode.Resynchronize(iv);
      mode.ProcessData(out.data(), in, len);
      benchmark::DoNotOptimize(out.data());
      benchmark::ClobberMemory();
    }
  };
  if (encrypt) {
    run(typename CryptoPP::CBC_Mode<Cipher>::Encryption(key, keyLen, iv));
  } else {
    run(typename CryptoPP::CBC_Mode<Cipher>::Decryption(key, keyLen, iv));
  }
  SetBytesProcessed(state, len);
}

}  // namespace qor::bench
