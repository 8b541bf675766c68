// AES-CBC throughput: ours (one-shot and streaming) against OpenSSL EVP and
// Crypto++, for 128- and 256-bit keys, plus the reference block interface
// used by the format-preserving digits.
#include <crypto++/aes.h>
#include <crypto++/modes.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "primitives/aes/aes_internal.h"
#include "qor/nc_aes.h"
#include "qor/rijndael.h"
#include "ratio_reporter.h"

namespace {

using qor::bench::CbcCase;
using qor::bench::Pattern;
using qor::bench::RegisterRun;

void Ours(benchmark::State& state, size_t keyLen, bool encrypt, size_t n, bool stream, bool tables) {
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(n, 3);
  std::vector<uint8_t> out(n + 32);
  NC_AES_CTX ctx;
  std::memset(&ctx, 0, sizeof ctx);
  NC_AES_EncKeySchedule(key.data(), static_cast<int>(keyLen), &ctx);
  NC_AES_SetAlgInfo(NC_AES_MODE_CBC, NC_AES_PAD_NONE, iv.data(), &ctx);
  qor::aes::g_kernels.Force(tables ? &qor::aes::PortableImpl() : nullptr);
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
  qor::aes::g_kernels.Force(nullptr);
  qor::bench::SetBytesProcessed(state, n);
}

void OpenSsl(benchmark::State& state, size_t keyLen, bool encrypt, size_t n) {
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(n, 3);
  qor::bench::EvpCbcLoop(state, keyLen == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc(), encrypt, key.data(), iv.data(),
                         in.data(), n, /*withFinal=*/true);
}

void CryptoPp(benchmark::State& state, size_t keyLen, bool encrypt, size_t n) {
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(n, 3);
  qor::bench::CryptoppCbcLoop<CryptoPP::AES>(state, encrypt, key.data(), keyLen, iv.data(), in.data(), n);
}

// Key setup plus 21 blocks: the work of one 16-digit format-preserving call.
void ReferenceBlocks(benchmark::State& state, bool tables) {
  const auto key = Pattern(16, 4);
  uint8_t block[16] = {};
  qor::aes::g_kernels.Force(tables ? &qor::aes::PortableImpl() : nullptr);
  for (auto _ : state) {
    uint32_t rk[4 * (RIJNDAEL_MAXNR + 1)];
    const int nr = rijndaelKeySetupEnc(rk, key.data(), 128);
    for (int i = 0; i < 21; ++i) {
      block[0] = static_cast<uint8_t>(block[0] + i);
      rijndaelEncrypt(rk, nr, block, block);
    }
    benchmark::DoNotOptimize(block);
  }
  qor::aes::g_kernels.Force(nullptr);
}

void RegisterAll() {
  for (size_t keyLen : {16u, 32u}) {
    for (bool encrypt : {true, false}) {
      for (size_t n : qor::bench::kCipherSizes) {
        const std::string c = CbcCase("aes", keyLen, encrypt, n);
        RegisterRun(c, "ours", [=](benchmark::State& s) { Ours(s, keyLen, encrypt, n, false, false); });
        RegisterRun(c, "openssl", [=](benchmark::State& s) { OpenSsl(s, keyLen, encrypt, n); });
        RegisterRun(c, "cryptopp", [=](benchmark::State& s) { CryptoPp(s, keyLen, encrypt, n); });
      }
      // The streaming interface over one large buffer, and the table path.
      const size_t mib = size_t{1} << 20, kib4 = 4096;
      const std::string stream = CbcCase("aes", keyLen, encrypt, mib, "_stream");
      RegisterRun(stream, "ours", [=](benchmark::State& s) { Ours(s, keyLen, encrypt, mib, true, false); });
      RegisterRun(stream, "openssl", [=](benchmark::State& s) { OpenSsl(s, keyLen, encrypt, mib); });
      const std::string tables = CbcCase("aes", keyLen, encrypt, kib4, "_tables");
      RegisterRun(tables, "ours", [=](benchmark::State& s) { Ours(s, keyLen, encrypt, kib4, false, true); });
      RegisterRun(tables, "openssl", [=](benchmark::State& s) { OpenSsl(s, keyLen, encrypt, kib4); });
    }
  }
  benchmark::RegisterBenchmark("reference_setup_plus_21_blocks/ours", ReferenceBlocks, false);
  benchmark::RegisterBenchmark("reference_setup_plus_21_blocks_tables/ours", ReferenceBlocks, true);
}

const bool kRegistered = (RegisterAll(), true);

}  // namespace

QOR_BENCH_MAIN()
