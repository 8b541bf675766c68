// SHA-1, SHA-256, SHA-384, SHA-512 and HMAC throughput: ours against OpenSSL
// (EVP with a reused context and a pre-fetched algorithm) and Crypto++, on
// 64-byte and 1 MiB messages. HMAC runs re-key for every message on all sides.
#include <crypto++/hmac.h>
#include <crypto++/sha.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "qor/nc_hmac.h"
#include "qor/nc_sha.h"
#include "ratio_reporter.h"

namespace {

constexpr size_t kSizes[] = {64, 1 << 20};
const uint8_t kKey[16] = {0x4b, 0x65, 0x79, 0x21, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

template <typename Fn>
void Register(const std::string& name, size_t size, Fn fn) {
  benchmark::RegisterBenchmark(name.c_str(), [size, fn](benchmark::State& state) {
    const uint8_t* in = qor::bench::MessageBytes().data();
    uint8_t out[64];
    for (auto _ : state) {
      fn(in, size, out);
      benchmark::DoNotOptimize(out);
      benchmark::ClobberMemory();
    }
    qor::bench::SetBytesProcessed(state, size);
  });
}

// OpenSSL EVP digest with everything set up outside the timed loop.
struct EvpDigest {
  EVP_MD* md;
  EVP_MD_CTX* ctx;
  explicit EvpDigest(const char* name)
      : md(EVP_MD_fetch(nullptr, name, nullptr)), ctx(EVP_MD_CTX_new()) {}
  void operator()(const uint8_t* in, size_t n, uint8_t* out) const {
    unsigned int len = 0;
    EVP_DigestInit_ex(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, in, n);
    EVP_DigestFinal_ex(ctx, out, &len);
  }
};

struct EvpHmac {
  EVP_MAC* mac;
  EVP_MAC_CTX* ctx;
  explicit EvpHmac(const char* digest)
      : mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr)), ctx(EVP_MAC_CTX_new(mac)) {
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(digest), 0),
        OSSL_PARAM_construct_end()};
    EVP_MAC_CTX_set_params(ctx, params);
  }
  void operator()(const uint8_t* in, size_t n, uint8_t* out) const {
    size_t len = 0;
    EVP_MAC_init(ctx, kKey, sizeof(kKey), nullptr);
    EVP_MAC_update(ctx, in, n);
    EVP_MAC_final(ctx, out, &len, 64);
  }
};

template <typename H>
auto CryptoppDigest() {
  auto h = std::make_shared<H>();
  return [h](const uint8_t* in, size_t n, uint8_t* out) { h->CalculateDigest(out, in, n); };
}

template <typename H>
auto CryptoppHmac() {
  auto mac = std::make_shared<CryptoPP::HMAC<H>>();
  return [mac](const uint8_t* in, size_t n, uint8_t* out) {
    mac->SetKey(kKey, sizeof(kKey));
    mac->CalculateDigest(out, in, n);
  };
}

void RegisterAll() {
  // Peers are created once and shared by the runs (they live for the process).
  static const EvpDigest sha1("SHA1"), sha256("SHA256"), sha384("SHA384"), sha512("SHA512");
  static const EvpHmac hmac1("SHA1"), hmac256("SHA256");

  for (size_t size : kSizes) {
    const std::string sz = "/" + std::to_string(size);
    Register("SHA1" + sz + "/ours", size,
             [](const uint8_t* in, size_t n, uint8_t* out) { NC_E_SHA1(out, in, n); });
    Register("SHA1" + sz + "/openssl", size, sha1);
    Register("SHA1" + sz + "/cryptopp", size, CryptoppDigest<CryptoPP::SHA1>());

    Register("SHA256" + sz + "/ours", size, [](const uint8_t* in, size_t n, uint8_t* out) {
      int len;
      NC_E_SHA256(out, &len, in, n);
    });
    Register("SHA256" + sz + "/openssl", size, sha256);
    Register("SHA256" + sz + "/cryptopp", size, CryptoppDigest<CryptoPP::SHA256>());

    Register("NewSha2" + sz + "/ours", size,
             [](const uint8_t* in, size_t n, uint8_t* out) { NC_NewSha2(out, in, n); });
    Register("NewSha2" + sz + "/openssl", size, sha256);

    Register("SHA384" + sz + "/ours", size,
             [](const uint8_t* in, size_t n, uint8_t* out) { NC_E_SHA384(out, in, n); });
    Register("SHA384" + sz + "/openssl", size, sha384);
    Register("SHA384" + sz + "/cryptopp", size, CryptoppDigest<CryptoPP::SHA384>());

    Register("SHA512" + sz + "/ours", size,
             [](const uint8_t* in, size_t n, uint8_t* out) { NC_E_SHA512(out, in, n); });
    Register("SHA512" + sz + "/openssl", size, sha512);
    Register("SHA512" + sz + "/cryptopp", size, CryptoppDigest<CryptoPP::SHA512>());

    Register("HMAC_SHA1" + sz + "/ours", size, [](const uint8_t* in, size_t n, uint8_t* out) {
      NC_E_HMAC_SHA1(in, n, kKey, sizeof(kKey), out);
    });
    Register("HMAC_SHA1" + sz + "/openssl", size, hmac1);
    Register("HMAC_SHA1" + sz + "/cryptopp", size, CryptoppHmac<CryptoPP::SHA1>());

    Register("HMAC_SHA256" + sz + "/ours", size, [](const uint8_t* in, size_t n, uint8_t* out) {
      NC_E_HMAC_SHA256(in, n, kKey, sizeof(kKey), out);
    });
    Register("HMAC_SHA256" + sz + "/openssl", size, hmac256);
    Register("HMAC_SHA256" + sz + "/cryptopp", size, CryptoppHmac<CryptoPP::SHA256>());
  }
}

const bool kRegistered = (RegisterAll(), true);

}  // namespace

QOR_BENCH_MAIN()
