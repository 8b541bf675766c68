// Digit encryption speed: the full adapter (FF1 + letter mapping + output
// buffer) on card-number sized values and on the longest value, and one FF1
// segment against a plain reference FF1 written over OpenSSL's AES.
#include <openssl/evp.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qor/cupin.h"
#include "ratio_reporter.h"

namespace {

const unsigned char kKey[16] = {0x2B, 0x7E, 0x15, 0x16, 0x28, 0xAE, 0xD2, 0xA6,
                                0xAB, 0xF7, 0x15, 0x88, 0x09, 0xCF, 0x4F, 0x3C};

std::string Digits(size_t n) {
  std::string s;
  for (size_t k = 0; k < n; ++k) s.push_back(static_cast<char>('0' + (k * 7 + 3) % 10));
  return s;
}

void RunAdapter(benchmark::State& state, size_t digits, bool encrypt) {
  DigitContext* ctx = initRadix10(10, kKey, 16, nullptr, 0);
  std::string value = Digits(digits);
  if (!encrypt) {
    DataBuffer in{static_cast<int32_t>(value.size()), reinterpret_cast<unsigned char*>(value.data())};
    DataBuffer out{0, nullptr};
    doPIN10EncryptEx(&in, ctx, 0, &out);
    value.assign(reinterpret_cast<char*>(out.data), static_cast<size_t>(out.length));
    std::free(out.data);
  }
  DataBuffer in{static_cast<int32_t>(value.size()), reinterpret_cast<unsigned char*>(value.data())};
  for (auto _ : state) {
    DataBuffer out{0, nullptr};
    const int rc = encrypt ? doPIN10EncryptEx(&in, ctx, 0, &out) : doPIN10Decrypt(&in, ctx, 0, &out);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(out.data);
    std::free(out.data);
  }
  state.SetItemsProcessed(state.iterations());
  removeRadix10(&ctx);
}

void EncryptValue16(benchmark::State& state) { RunAdapter(state, 16, true); }
void DecryptValue16(benchmark::State& state) { RunAdapter(state, 16, false); }
void EncryptValue255(benchmark::State& state) { RunAdapter(state, 255, true); }

void SegmentOurs(benchmark::State& state) {
  DigitContext* ctx = initRadix10(10, kKey, 16, nullptr, 0);
  const std::string value = Digits(16);
  CharBlock out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(encryptSegment(ctx, value.data(), 16, &out));
    benchmark::DoNotOptimize(out.data[0]);
  }
  removeRadix10(&ctx);
}

// FF1 as the standard writes it (radix 10, one-block Q), numbers in 128 bits,
// blocks through OpenSSL's AES-128-ECB.
class ReferenceFf1 {
 public:
  ReferenceFf1(const unsigned char key[16], const std::string& tweak) : tweak_(tweak.begin(), tweak.end()) {
    ctx_ = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx_, EVP_aes_128_ecb(), nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx_, 0);
  }
  ~ReferenceFf1() { EVP_CIPHER_CTX_free(ctx_); }
  ReferenceFf1(const ReferenceFf1&) = delete;
  ReferenceFf1& operator=(const ReferenceFf1&) = delete;

  std::string Encrypt(const std::string& x) {
    const int n = static_cast<int>(x.size());
    const int u = n / 2;
    const int v = n - u;
    int bits = 0;
    while ((static_cast<unsigned __int128>(1) << bits) < Pow10(v)) ++bits;
    const int b = (bits + 7) / 8;
    const int t = static_cast<int>(tweak_.size());
    std::array<unsigned char, 16> p = {1, 2, 1, 0, 0, 10, 10, static_cast<unsigned char>(u), 0, 0, 0,
                                       static_cast<unsigned char>(n), 0, 0, 0, static_cast<unsigned char>(t)};
    const auto ciphP = Block(p);
    std::string a = x.substr(0, static_cast<size_t>(u));
    std::string bb = x.substr(static_cast<size_t>(u));
    for (int i = 0; i < 10; ++i) {
      std::vector<unsigned char> q(tweak_);
      q.resize(16 - 1 - static_cast<size_t>(b), 0);
      q.push_back(static_cast<unsigned char>(i));
      const unsigned __int128 numB = Num(bb);
      for (int k = b - 1; k >= 0; --k) q.push_back(static_cast<unsigned char>(numB >> (8 * k)));
      std::array<unsigned char, 16> in;
      for (int k = 0; k < 16; ++k) in[static_cast<size_t>(k)] = ciphP[static_cast<size_t>(k)] ^ q[static_cast<size_t>(k)];
      const auto r = Block(in);
      unsigned __int128 y = 0;
      for (int k = 0; k < 8; ++k) y = (y << 8) | r[static_cast<size_t>(k)];
      const int m = (i % 2 == 0) ? u : v;
      const unsigned __int128 c = (Num(a) + y) % Pow10(m);
      a = bb;
      bb = Str(c, m);
    }
    return a + bb;
  }

 private:
  static unsigned __int128 Pow10(int e) {
    unsigned __int128 r = 1;
    while (e-- > 0) r *= 10;
    return r;
  }
  static unsigned __int128 Num(const std::string& s) {
    unsigned __int128 v = 0;
    for (char c : s) v = v * 10 + static_cast<unsigned>(c - '0');
    return v;
  }
  static std::string Str(unsigned __int128 v, int m) {
    std::string s(static_cast<size_t>(m), '0');
    for (int k = m - 1; k >= 0; --k) {
      s[static_cast<size_t>(k)] = static_cast<char>('0' + static_cast<int>(v % 10));
      v /= 10;
    }
    return s;
  }
  std::array<unsigned char, 16> Block(const std::array<unsigned char, 16>& in) {
    std::array<unsigned char, 16> out{};
    int len = 0;
    EVP_EncryptUpdate(ctx_, out.data(), &len, in.data(), 16);
    return out;
  }

  std::vector<unsigned char> tweak_;
  EVP_CIPHER_CTX* ctx_;
};

void SegmentReference(benchmark::State& state) {
  ReferenceFf1 ref(kKey, std::string(_internal_tweak, 10));
  const std::string value = Digits(16);
  DigitContext* ctx = initRadix10(10, kKey, 16, nullptr, 0);
  CharBlock ours;
  const bool same = encryptSegment(ctx, value.data(), 16, &ours) == 0 &&
                    ref.Encrypt(value) == std::string(ours.data, ours.count);
  removeRadix10(&ctx);
  if (!same) {
    state.SkipWithError("reference and ours disagree");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(ref.Encrypt(value));
}

}  // namespace

BENCHMARK(EncryptValue16)->Name("FF1-16digits/ours");
BENCHMARK(DecryptValue16)->Name("FF1-16digits-decrypt/ours");
BENCHMARK(EncryptValue255)->Name("FF1-255digits/ours");
BENCHMARK(SegmentOurs)->Name("FF1-segment16/ours");
BENCHMARK(SegmentReference)->Name("FF1-segment16/reference");

QOR_BENCH_MAIN()
