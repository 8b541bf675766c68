// AES-CBC throughput: ours (one-shot and streaming) against OpenSSL EVP and
// Crypto++, for 128- and 256-bit keys, plus the reference block interface
// used by the format-preserving digits.
#include <crypto++/aes.h>
#include <crypto++/modes.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "primitives/aes/aes_internal.h"
#include "qor/nc_aes.h"
#include "qor/rijndael.h"
#include "ratio_reporter.h"

namespace {

constexpr size_t kSizes[] = {16, 256, 4096, 1 << 20};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 31);
  return v;
}

std::string SizeName(size_t n) {
  if (n >= (1 << 20)) return std::to_string(n >> 20) + "MiB";
  if (n >= 1024) return std::to_string(n >> 10) + "KiB";
  return std::to_string(n) + "B";
}

void Ours(benchmark::State& state, size_t keyLen, bool encrypt, size_t n, bool stream, bool tables) {
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(n, 3);
  std::vector<uint8_t> out(n + 32);
  NC_AES_CTX ctx;
  std::memset(&ctx, 0, sizeof ctx);
  NC_AES_EncKeySchedule(key.data(), static_cast<int>(keyLen), &ctx);
  NC_AES_SetAlgInfo(NC_AES_MODE_CBC, NC_AES_PAD_NONE, iv.data(), &ctx);
  qor::aes::ForcePortable(tables);
  for (auto _ : state) {
    if (stream) {
      NC_AES_CTX work = ctx;
      int n1 = 0, n2 = 0;
      NC_AES_EncInit(&work);
      if (encrypt) {
        NC_AES_EncUpdate(&work, in.data(), static_cast<int>(n), out.data(), &n1);
        NC_AES_EncFinal(&work, out.data() + n1, &n2);
      } else {
        NC_AES_DecUpdate(&work, in.data(), static_cast<int>(n), out.data(), &n1);
        NC_AES_DecFinal(&work, out.data() + n1, &n2);
      }
    } else if (encrypt) {
      NC_AES_CBC_Encrypt(&ctx, iv.data(), in.data(), static_cast<int>(n), out.data());
    } else {
      NC_AES_CBC_Decrypt(&ctx, iv.data(), in.data(), static_cast<int>(n), out.data());
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  qor::aes::ForcePortable(false);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void OpenSsl(benchmark::State& state, size_t keyLen, bool encrypt, size_t n) {
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(n, 3);
  std::vector<uint8_t> out(n + 32);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, keyLen == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc(), nullptr, key.data(), iv.data(),
                    encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  for (auto _ : state) {
    int n1 = 0, n2 = 0;
    EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, iv.data(), -1);
    EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(n));
    EVP_CipherFinal_ex(ctx, out.data() + n1, &n2);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

template <class Mode>
void CryptoPp(benchmark::State& state, size_t keyLen, size_t n) {
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(n, 3);
  std::vector<uint8_t> out(n + 32);
  Mode mode;
  mode.SetKeyWithIV(key.data(), keyLen, iv.data());
  for (auto _ : state) {
    mode.Resynchronize(iv.data());
    mode.ProcessData(out.data(), in.data(), n);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

// Key setup plus 21 blocks: the work of one 16-digit format-preserving call.
void ReferenceBlocks(benchmark::State& state, bool tables) {
  const auto key = Pattern(16, 4);
  uint8_t block[16] = {};
  qor::aes::ForcePortable(tables);
  for (auto _ : state) {
    uint32_t rk[4 * (RIJNDAEL_MAXNR + 1)];
    const int nr = rijndaelKeySetupEnc(rk, key.data(), 128);
    for (int i = 0; i < 21; ++i) {
      block[0] = static_cast<uint8_t>(block[0] + i);
      rijndaelEncrypt(rk, nr, block, block);
    }
    benchmark::DoNotOptimize(block);
  }
  qor::aes::ForcePortable(false);
}

void RegisterAll() {
  for (size_t keyLen : {16u, 32u}) {
    for (bool encrypt : {true, false}) {
      for (size_t n : kSizes) {
        const std::string base = "aes" + std::to_string(keyLen * 8) + "_cbc_" + (encrypt ? "enc" : "dec") + "/" +
                                 SizeName(n);
        benchmark::RegisterBenchmark((base + "/ours").c_str(), Ours, keyLen, encrypt, n, false, false);
        benchmark::RegisterBenchmark((base + "/openssl").c_str(), OpenSsl, keyLen, encrypt, n);
        if (encrypt) {
          benchmark::RegisterBenchmark((base + "/cryptopp").c_str(), CryptoPp<CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption>,
                                       keyLen, n);
        } else {
          benchmark::RegisterBenchmark((base + "/cryptopp").c_str(), CryptoPp<CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption>,
                                       keyLen, n);
        }
      }
      // The streaming interface over one large buffer, and the table path.
      const std::string stream = "aes" + std::to_string(keyLen * 8) + "_cbc_" + (encrypt ? "enc" : "dec");
      benchmark::RegisterBenchmark((stream + "_stream/1MiB/ours").c_str(), Ours, keyLen, encrypt, size_t{1} << 20,
                                   true, false);
      benchmark::RegisterBenchmark((stream + "_stream/1MiB/openssl").c_str(), OpenSsl, keyLen, encrypt,
                                   size_t{1} << 20);
      benchmark::RegisterBenchmark((stream + "_tables/4KiB/ours").c_str(), Ours, keyLen, encrypt, size_t{4096},
                                   false, true);
      benchmark::RegisterBenchmark((stream + "_tables/4KiB/openssl").c_str(), OpenSsl, keyLen, encrypt,
                                   size_t{4096});
    }
  }
  benchmark::RegisterBenchmark("reference_setup_plus_21_blocks/ours", ReferenceBlocks, false);
  benchmark::RegisterBenchmark("reference_setup_plus_21_blocks_tables/ours", ReferenceBlocks, true);
}

const bool kRegistered = (RegisterAll(), true);

}  // namespace

QOR_BENCH_MAIN()
