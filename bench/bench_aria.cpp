// ARIA one-shot CBC encryption and decryption against OpenSSL and Crypto++.
#include <openssl/evp.h>

#include <crypto++/aria.h>
#include <crypto++/modes.h>

#include <string>
#include <vector>

#include "bench_util.h"
#include "primitives/aria/aria_internal.h"
#include "qor/nc_aria.h"
#include "ratio_reporter.h"

namespace {

using qor::bench::CbcCase;
using qor::bench::Pattern;
using qor::bench::RegisterRun;

// |kernels|: null for the automatic choice, else the kernels to force.
void Ours(benchmark::State& state, size_t keyLen, bool enc, size_t len,
          const qor::aria::Kernels* kernels = nullptr) {
  qor::aria::g_kernels.Force(kernels);
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
  qor::aria::g_kernels.Force(nullptr);
  qor::bench::SetBytesProcessed(state, len);
}

void OpenSsl(benchmark::State& state, size_t keyLen, bool enc, size_t len) {
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(len, 3);
  const std::string name = "aria-" + std::to_string(keyLen * 8) + "-cbc";
  qor::bench::EvpCbcLoop(state, EVP_get_cipherbyname(name.c_str()), enc, key.data(), iv.data(), in.data(), len);
}

void CryptoPp(benchmark::State& state, size_t keyLen, bool enc, size_t len) {
  const auto key = Pattern(keyLen, 1), iv = Pattern(16, 2), in = Pattern(len, 3);
  qor::bench::CryptoppCbcLoop<CryptoPP::ARIA>(state, enc, key.data(), keyLen, iv.data(), in.data(), len);
}

const bool kRegistered = [] {
  qor::bench::ForEachCbcRun(qor::bench::kCipherSizes, [](size_t keyLen, bool enc, size_t len) {
    const std::string c = CbcCase("aria", keyLen, enc, len);
    RegisterRun(c, "ours", [=](benchmark::State& s) { Ours(s, keyLen, enc, len); });
    RegisterRun(c, "openssl", [=](benchmark::State& s) { OpenSsl(s, keyLen, enc, len); });
    RegisterRun(c, "cryptopp", [=](benchmark::State& s) { CryptoPp(s, keyLen, enc, len); });
  });
  // The fallback kernels of processors without GFNI, against the same peer.
  if (const qor::aria::Kernels* aesni = qor::aria::AesniKernels()) {
    const size_t sizes[] = {4096, size_t{1} << 20};
    qor::bench::ForEachCbcRun(sizes, [aesni](size_t keyLen, bool enc, size_t len) {
      const std::string c = CbcCase("aria", keyLen, enc, len, "_aesni");
      RegisterRun(c, "ours", [=](benchmark::State& s) { Ours(s, keyLen, enc, len, aesni); });
      RegisterRun(c, "openssl", [=](benchmark::State& s) { OpenSsl(s, keyLen, enc, len); });
    });
  }
  return true;
}();

}  // namespace

QOR_BENCH_MAIN()
