// Format-preserving digit encryption: FF1 against the published samples and an
// independent reference, the segmentation of long values, the letter mapping,
// the refusals of the adapters and concurrent use of one context.
#include <openssl/evp.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/digits/digits_internal.h"
#include "qor/cupin.h"
#include "support/bytes.h"

namespace {

using Key = std::array<uint8_t, 16>;
using u128 = unsigned __int128;

// ---------------------------------------------------------------------------
// Reference FF1 written directly from the standard's algorithm with 128-bit
// arithmetic and OpenSSL's AES; any radix, any tweak, 10 rounds.
class RefAes {
 public:
  explicit RefAes(const Key& key) : ctx_(EVP_CIPHER_CTX_new()) {
    EVP_EncryptInit_ex(ctx_.get(), EVP_aes_128_ecb(), nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx_.get(), 0);
  }
  std::array<uint8_t, 16> Encrypt(const std::array<uint8_t, 16>& in) const {
    std::array<uint8_t, 16> out{};
    int len = 0;
    EVP_EncryptUpdate(ctx_.get(), out.data(), &len, in.data(), 16);
    return out;
  }

 private:
  struct Free {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
  };
  std::unique_ptr<EVP_CIPHER_CTX, Free> ctx_;
};

struct RefRound {
  u128 numB;  // NUM(B) fed to the round function
  u128 y;     // the round value reduced modulo radix^m
};

u128 Power(unsigned radix, int e) {
  u128 r = 1;
  for (int k = 0; k < e; ++k) r *= radix;
  return r;
}

u128 Num(const std::vector<unsigned>& x, size_t from, size_t count, unsigned radix) {
  u128 v = 0;
  for (size_t k = 0; k < count; ++k) v = v * radix + x[from + k];
  return v;
}

std::vector<unsigned> Str(u128 v, int m, unsigned radix) {
  std::vector<unsigned> out(static_cast<size_t>(m));
  for (int k = m - 1; k >= 0; --k) {
    out[static_cast<size_t>(k)] = static_cast<unsigned>(v % radix);
    v /= radix;
  }
  return out;
}

std::vector<unsigned> RefFf1(const Key& key, const std::vector<uint8_t>& tweak, unsigned radix,
                             const std::vector<unsigned>& x, bool encrypt,
                             std::vector<RefRound>* trace = nullptr) {
  const RefAes aes(key);
  const int n = static_cast<int>(x.size());
  const int u = n / 2;
  const int v = n - u;
  const int t = static_cast<int>(tweak.size());
  int bits = 0;
  while ((u128{1} << bits) < Power(radix, v)) ++bits;
  const int b = (bits + 7) / 8;
  const int d = 4 * ((b + 3) / 4) + 4;
  EXPECT_LE(d, 16);

  std::vector<uint8_t> p = {1, 2, 1, static_cast<uint8_t>(radix >> 16), static_cast<uint8_t>(radix >> 8),
                            static_cast<uint8_t>(radix), 10, static_cast<uint8_t>(u % 256)};
  for (int s = 24; s >= 0; s -= 8) p.push_back(static_cast<uint8_t>(n >> s));
  for (int s = 24; s >= 0; s -= 8) p.push_back(static_cast<uint8_t>(t >> s));

  auto prf = [&](int i, u128 numB) {
    std::vector<uint8_t> msg = p;
    msg.insert(msg.end(), tweak.begin(), tweak.end());
    const int zeros = (((-t - b - 1) % 16) + 16) % 16;
    msg.insert(msg.end(), static_cast<size_t>(zeros), 0);
    msg.push_back(static_cast<uint8_t>(i));
    for (int k = b - 1; k >= 0; --k) msg.push_back(static_cast<uint8_t>(numB >> (8 * k)));
    std::array<uint8_t, 16> y{};  // CBC-MAC with a zero IV
    for (size_t off = 0; off < msg.size(); off += 16) {
      for (size_t k = 0; k < 16; ++k) y[k] ^= msg[off + k];
      y = aes.Encrypt(y);
    }
    u128 s = 0;
    for (int k = 0; k < d; ++k) s = (s << 8) | y[static_cast<size_t>(k)];
    return s;
  };

  std::vector<unsigned> a(x.begin(), x.begin() + u);
  std::vector<unsigned> bb(x.begin() + u, x.end());
  if (encrypt) {
    for (int i = 0; i < 10; ++i) {
      const int m = (i % 2 == 0) ? u : v;
      const u128 mod = Power(radix, m);
      const u128 numB = Num(bb, 0, bb.size(), radix);
      const u128 y = prf(i, numB) % mod;
      if (trace) trace->push_back({numB, y});
      const u128 c = (Num(a, 0, a.size(), radix) + y) % mod;
      a = bb;
      bb = Str(c, m, radix);
    }
  } else {
    for (int i = 9; i >= 0; --i) {
      const int m = (i % 2 == 0) ? u : v;
      const u128 mod = Power(radix, m);
      const u128 y = prf(i, Num(a, 0, a.size(), radix)) % mod;
      const u128 c = (Num(bb, 0, bb.size(), radix) + mod - y) % mod;
      bb = a;
      a = Str(c, m, radix);
    }
  }
  a.insert(a.end(), bb.begin(), bb.end());
  return a;
}

std::vector<unsigned> ToNumerals(const std::string& s) {
  std::vector<unsigned> out;
  for (char c : s) {
    out.push_back(c <= '9' ? static_cast<unsigned>(c - '0') : static_cast<unsigned>(c - 'a' + 10));
  }
  return out;
}

std::string FromNumerals(const std::vector<unsigned>& x) {
  std::string out;
  for (unsigned d : x) out.push_back(static_cast<char>(d < 10 ? '0' + d : 'a' + (d - 10)));
  return out;
}

std::string RefDigits(const Key& key, const std::vector<uint8_t>& tweak, const std::string& digits,
                      bool encrypt = true) {
  return FromNumerals(RefFf1(key, tweak, 10, ToNumerals(digits), encrypt));
}

std::vector<uint8_t> DefaultTweak() { return {_internal_tweak, _internal_tweak + 10}; }

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// ---------------------------------------------------------------------------
// Helpers around the C interface.
struct CtxDeleter {
  void operator()(DigitContext* c) const { removeRadix10(&c); }
};
using CtxPtr = std::unique_ptr<DigitContext, CtxDeleter>;

CtxPtr MakeContext(const Key& key, const std::vector<uint8_t>* tweak = nullptr, int rounds = 10) {
  // An empty tweak still needs a non-null pointer: NULL selects the default.
  static const unsigned char kNoBytes[1] = {0};
  const unsigned char* bytes = tweak ? (tweak->empty() ? kNoBytes : tweak->data()) : nullptr;
  return CtxPtr(initRadix10(rounds, key.data(), 16, bytes, tweak ? static_cast<int>(tweak->size()) : 0));
}

struct Result {
  int rc;
  int length;
  std::string text;  // the output bytes; "<null>" when data is NULL
};

Result Call(int (*fn)(const DataBuffer*, const void*, int, DataBuffer*), const void* ctx,
           const std::string& input) {
  std::vector<unsigned char> bytes(input.begin(), input.end());
  bytes.push_back('\0');
  DataBuffer in{static_cast<int32_t>(input.size()), bytes.data()};
  DataBuffer out{0, nullptr};
  const int rc = fn(&in, ctx, 0, &out);
  Result r{rc, out.length, "<null>"};
  if (out.data != nullptr) {
    EXPECT_EQ(out.data[out.length], '\0') << "output must be zero-terminated";
    r.text.assign(reinterpret_cast<const char*>(out.data), static_cast<size_t>(out.length));
    std::free(out.data);
  }
  return r;
}

std::string SegmentCall(int (*fn)(const DigitContext*, const char*, int, CharBlock*), const DigitContext* ctx,
                        const std::string& digits, int* rc) {
  CharBlock out;
  *rc = fn(ctx, digits.data(), static_cast<int>(digits.size()), &out);
  return std::string(out.data, out.count);
}

std::string MapLetters(const std::string& digits) {
  std::string out;
  for (size_t p = 0; p < digits.size(); ++p) out.push_back(MapLarge[p % 18][digits[p] - '0']);
  return out;
}

std::string RandomDigits(std::mt19937_64& rng, size_t n) {
  std::string s;
  for (size_t k = 0; k < n; ++k) s.push_back(static_cast<char>('0' + rng() % 10));
  return s;
}

Key RandomKey(std::mt19937_64& rng) {
  Key k;
  qor::test::FillRandom(rng, k.data(), k.size());
  return k;
}

const Key kSampleKey = {0x2B, 0x7E, 0x15, 0x16, 0x28, 0xAE, 0xD2, 0xA6,
                        0xAB, 0xF7, 0x15, 0x88, 0x09, 0xCF, 0x4F, 0x3C};

// ---------------------------------------------------------------------------

TEST(DigitTables, StructureAndInverses) {
  const uint64_t powers[11] = {0, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000,
                               1000000000, 10000000000ULL};
  for (int k = 0; k < 11; ++k) EXPECT_EQ(Radix[k], powers[k]) << k;
  ASSERT_EQ(std::strlen(_internal_tweak), 10u);
  EXPECT_EQ(isNumericString(_internal_tweak, 10), 1);

  for (int row = 0; row < 18; ++row) {
    // Upper-case table: distinct letters, inverse exact, 16 unused letters.
    int used = 0;
    for (int d = 0; d < 10; ++d) {
      const char c = MapLarge[row][d];
      ASSERT_TRUE(c >= 'A' && c <= 'Z') << row;
      EXPECT_EQ(RMapLarge[row][c - 'A'], '0' + d) << "row " << row << " digit " << d;
    }
    for (int l = 0; l < 26; ++l) {
      const char r = RMapLarge[row][l];
      if (r == '-') continue;
      ASSERT_TRUE(r >= '0' && r <= '9') << row;
      EXPECT_EQ(MapLarge[row][r - '0'], 'A' + l);
      ++used;
    }
    EXPECT_EQ(used, 10) << "row " << row << " letters must be distinct";

    // Both-case table.
    used = 0;
    for (int d = 0; d < 10; ++d) {
      const char c = MapLargeSmall[row][d];
      const bool upper = c >= 'A' && c <= 'Z';
      ASSERT_TRUE(upper || (c >= 'a' && c <= 'z')) << row;
      EXPECT_EQ(RMapLargeSmall[row][upper ? c - 'A' : 26 + (c - 'a')], '0' + d) << row;
    }
    for (int l = 0; l < 52; ++l) {
      const char r = RMapLargeSmall[row][l];
      if (r == '-') continue;
      ASSERT_TRUE(r >= '0' && r <= '9') << row;
      EXPECT_EQ(MapLargeSmall[row][r - '0'], l < 26 ? 'A' + l : 'a' + (l - 26));
      ++used;
    }
    EXPECT_EQ(used, 10) << "row " << row;
  }
}

TEST(DigitFf1, PublishedSamples) {
  // FF1-AES128 samples 1 and 2 (radix 10) through our segment cipher.
  struct Case {
    const char* tweak;
    const char* plain;
    const char* cipher;
  } const cases[] = {
      {"", "0123456789", "2433477484"},
      {"9876543210", "0123456789", "6124200773"},
  };
  for (const Case& c : cases) {
    const auto tweak = Bytes(c.tweak);
    auto ctx = MakeContext(kSampleKey, &tweak);
    ASSERT_TRUE(ctx);
    int rc = 1;
    EXPECT_EQ(SegmentCall(encryptSegment, ctx.get(), c.plain, &rc), c.cipher);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(SegmentCall(decryptSegment, ctx.get(), c.cipher, &rc), c.plain);
    EXPECT_EQ(rc, 0);
    // The reference agrees, which vouches for it in the differential tests.
    EXPECT_EQ(RefDigits(kSampleKey, tweak, c.plain), c.cipher);
  }
  // Sample 3 (radix 36, 11-byte tweak) checks the reference alone: contexts
  // hold at most 10 tweak bytes.
  const auto tweak3 = std::vector<uint8_t>{0x37, 0x37, 0x37, 0x37, 0x70, 0x71, 0x72, 0x73, 0x37, 0x37, 0x37};
  EXPECT_EQ(FromNumerals(RefFf1(kSampleKey, tweak3, 36, ToNumerals("0123456789abcdefghi"), true)),
            "a9tv40mll9kdu509eum");
  EXPECT_EQ(FromNumerals(RefFf1(kSampleKey, tweak3, 36, ToNumerals("a9tv40mll9kdu509eum"), false)),
            "0123456789abcdefghi");
}

TEST(DigitFf1, MatchesReferenceOnRandomKeysAndSegments) {
  std::mt19937_64 rng(0xF1F1);
  for (int trial = 0; trial < 150; ++trial) {
    const Key key = RandomKey(rng);
    // Default tweak most of the time, otherwise a random tweak of 0..10 bytes.
    std::vector<uint8_t> tweak = DefaultTweak();
    const bool ownTweak = trial % 3 == 2;
    if (ownTweak) {
      tweak.resize(rng() % 11);
      for (auto& byte : tweak) byte = static_cast<uint8_t>(rng());
    }
    auto ctx = ownTweak ? MakeContext(key, &tweak) : MakeContext(key);
    ASSERT_TRUE(ctx);
    for (int n = 2; n <= 16; ++n) {
      const std::string plain = RandomDigits(rng, static_cast<size_t>(n));
      const std::string expected = RefDigits(key, tweak, plain);
      int rc = 1;
      ASSERT_EQ(SegmentCall(encryptSegment, ctx.get(), plain, &rc), expected) << "n=" << n;
      ASSERT_EQ(rc, 0);
      ASSERT_EQ(SegmentCall(decryptSegment, ctx.get(), expected, &rc), plain) << "n=" << n;
      ASSERT_EQ(RefDigits(key, tweak, expected, false), plain);
    }
  }
}

TEST(DigitFf1, RoundFunctionMatchesReference) {
  std::mt19937_64 rng(77);
  const Key key = RandomKey(rng);
  auto ctx = MakeContext(key);
  ASSERT_TRUE(ctx);
  const RefAes aes(key);
  for (int n : {2, 3, 7, 10, 15, 16}) {
    const std::string plain = RandomDigits(rng, static_cast<size_t>(n));
    std::vector<RefRound> trace;
    RefFf1(key, DefaultTweak(), 10, ToNumerals(plain), true, &trace);
    const int u = n / 2;
    const uint32_t t = 10;
    const std::array<uint8_t, 16> p = {1, 2, 1, 0, 0, 10, 10, static_cast<uint8_t>(u), 0, 0, 0,
                                       static_cast<uint8_t>(n), 0, 0, 0, static_cast<uint8_t>(t)};
    const auto ciphP = aes.Encrypt(p);
    for (int i = 0; i < 10; ++i) {
      const int width = (i % 2 == 0) ? n - u : u;  // digits of B in round i
      CharBlock half;
      const std::string bDigits = std::to_string(static_cast<uint64_t>(trace[static_cast<size_t>(i)].numB));
      const std::string padded = std::string(static_cast<size_t>(width) - bDigits.size(), '0') + bDigits;
      std::memcpy(half.data, padded.data(), padded.size());
      half.count = static_cast<uint32_t>(padded.size());
      EXPECT_EQ(FK(ctx.get(), ciphP.data(), n, i, &half), static_cast<uint64_t>(trace[static_cast<size_t>(i)].y))
          << "n=" << n << " round " << i;
    }
  }
}

TEST(DigitSegments, EveryLengthCutsIntoValidSegments) {
  for (int len = 2; len <= 255; ++len) {
    int sizes[qor::digits::kMaxSegments];
    const int count = qor::digits::SplitSegments(len, sizes);
    int total = 0;
    for (int k = 0; k < count; ++k) {
      EXPECT_GE(sizes[k], 2) << len;
      EXPECT_LE(sizes[k], 16) << len;
      total += sizes[k];
    }
    EXPECT_EQ(total, len);
    if (len > 16 && len != 241) {
      const int s = (len % 16 == 1) ? 15 : 16;
      for (int k = 0; k + 1 < count; ++k) EXPECT_EQ(sizes[k], s) << len;
    }
  }
}

TEST(DigitSegments, EachSegmentIsFf1WithTheDefaultTweak) {
  struct Case {
    int length;
    std::vector<int> segments;
  };
  std::vector<int> of241(15, 15);
  of241.push_back(14);
  of241.push_back(2);
  std::vector<int> of255(15, 16);
  of255.push_back(15);
  const Case cases[] = {
      {2, {2}},           {10, {10}},     {16, {16}},         {17, {15, 2}}, {18, {16, 2}},
      {32, {16, 16}},     {33, {15, 15, 3}}, {49, {15, 15, 15, 4}}, {241, of241}, {255, of255},
  };
  std::mt19937_64 rng(2024);
  const Key key = RandomKey(rng);
  auto ctx = MakeContext(key);
  ASSERT_TRUE(ctx);
  for (const Case& c : cases) {
    const std::string plain = RandomDigits(rng, static_cast<size_t>(c.length));
    std::string expected;
    size_t pos = 0;
    for (int s : c.segments) {
      expected += RefDigits(key, DefaultTweak(), plain.substr(pos, static_cast<size_t>(s)));
      pos += static_cast<size_t>(s);
    }
    ASSERT_EQ(pos, plain.size());
    int rc = 1;
    EXPECT_EQ(SegmentCall(encryptRadix10, ctx.get(), plain, &rc), expected) << c.length;
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(SegmentCall(decryptRadix10, ctx.get(), expected, &rc), plain) << c.length;
    // The stored form is the position-mapped letters of the FF1 digits.
    const Result enc = Call(doPIN10EncryptEx, ctx.get(), plain);
    EXPECT_EQ(enc.rc, 0);
    EXPECT_EQ(enc.text, MapLetters(expected)) << c.length;
    const Result dec = Call(doPIN10Decrypt, ctx.get(), enc.text);
    EXPECT_EQ(dec.rc, 0);
    EXPECT_EQ(dec.text, plain);
  }
}

TEST(DigitSegments, LengthLimitsOfTheDigitFunctions) {
  std::mt19937_64 rng(5);
  auto ctx = MakeContext(RandomKey(rng));
  ASSERT_TRUE(ctx);
  struct Case {
    int (*fn)(const DigitContext*, const char*, int, CharBlock*);
    std::string digits;
    int rc;
  } const cases[] = {
      {encryptRadix10, "", -1},
      {encryptRadix10, "7", -1},
      {encryptRadix10, std::string(256, '1'), -2},
      {decryptRadix10, "7", -1},
      {decryptRadix10, std::string(300, '1'), -2},
      {encryptRadix10, "12x4", -1},
      {encryptSegment, "7", -1},
      {encryptSegment, std::string(17, '3'), -1},
      {decryptSegment, "7", -1},
      {decryptSegment, std::string(17, '3'), -1},
      {decryptSegment, "1-2", -1},
  };
  for (const Case& c : cases) {
    int rc = 0;
    const std::string out = SegmentCall(c.fn, ctx.get(), c.digits, &rc);
    EXPECT_EQ(rc, c.rc) << "length " << c.digits.size();
    EXPECT_TRUE(out.empty());
  }
  int rc = 0;
  SegmentCall(encryptRadix10, nullptr, "1234", &rc);
  EXPECT_EQ(rc, -1);
  SegmentCall(encryptSegment, nullptr, "1234", &rc);
  EXPECT_EQ(rc, -1);
}

TEST(DigitAdapters, EveryLengthRoundTripsAsUpperCaseLetters) {
  std::mt19937_64 rng(99);
  auto ctx = MakeContext(RandomKey(rng));
  ASSERT_TRUE(ctx);
  for (int len = 2; len <= 255; ++len) {
    for (int rep = 0; rep < 2; ++rep) {
      const std::string plain = RandomDigits(rng, static_cast<size_t>(len));
      const Result enc = Call(doPIN10EncryptEx, ctx.get(), plain);
      ASSERT_EQ(enc.rc, 0) << len;
      ASSERT_EQ(enc.length, len);
      ASSERT_EQ(isUppercase(enc.text.data(), len), 1) << enc.text;
      const Result dec = Call(doPIN10Decrypt, ctx.get(), enc.text);
      ASSERT_EQ(dec.rc, 0) << len;
      ASSERT_EQ(dec.length, len);
      ASSERT_EQ(dec.text, plain);
    }
  }
}

TEST(DigitAdapters, RefusalsReturnTheInputUnchanged) {
  std::mt19937_64 rng(3);
  auto ctx = MakeContext(RandomKey(rng));
  ASSERT_TRUE(ctx);
  // A letter with no digit at position 0 of the mapping.
  char unusedAt0 = 0;
  for (int l = 0; l < 26 && !unusedAt0; ++l) {
    if (RMapLarge[0][l] == '-') unusedAt0 = static_cast<char>('A' + l);
  }
  const std::string valid = Call(doPIN10EncryptEx, ctx.get(), "12345678").text;
  struct Case {
    const char* what;
    bool encrypt;
    std::string input;
    bool nullContext;
  } const cases[] = {
      {"one digit", true, "5", false},
      {"256 digits", true, std::string(256, '4'), false},
      {"non-digit", true, "1234-5678", false},
      {"blank", true, "1234 5678", false},
      {"empty", true, "", false},
      {"no context", true, "12345678", true},
      {"lower-case letter", false, valid.substr(0, 4) + "a" + valid.substr(5), false},
      {"digit", false, valid.substr(0, 4) + "7" + valid.substr(5), false},
      {"letter without digit", false, std::string(1, unusedAt0) + valid.substr(1), false},
      {"one letter", false, valid.substr(0, 1), false},
      {"256 letters", false, std::string(256, MapLarge[0][0]), false},
      {"empty", false, "", false},
      {"no context", false, valid, true},
  };
  for (const Case& c : cases) {
    const Result r = Call(c.encrypt ? doPIN10EncryptEx : doPIN10Decrypt, c.nullContext ? nullptr : ctx.get(),
                         c.input);
    EXPECT_EQ(r.rc, -1) << c.what;
    EXPECT_EQ(r.length, static_cast<int>(c.input.size())) << c.what;
    EXPECT_EQ(r.text, c.input) << c.what;
  }
  // No input or no output at all: failure without a buffer.
  DataBuffer out{5, nullptr};
  EXPECT_EQ(doPIN10EncryptEx(nullptr, ctx.get(), 0, &out), -1);
  EXPECT_EQ(out.data, nullptr);
  EXPECT_EQ(out.length, -1);
  DataBuffer bad{4, nullptr};
  EXPECT_EQ(doPIN10Decrypt(&bad, ctx.get(), 0, &out), -1);
  EXPECT_EQ(out.data, nullptr);
  unsigned char digits[] = "1234";
  DataBuffer in{4, digits};
  EXPECT_EQ(doPIN10EncryptEx(&in, ctx.get(), 0, nullptr), -1);
}

TEST(DigitContexts, CreationRules) {
  const Key key = kSampleKey;
  const unsigned char eleven[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  struct Case {
    const char* what;
    const unsigned char* key;
    int keyLen;
    const unsigned char* tweak;
    int tweakLen;
  } const refused[] = {
      {"no key", nullptr, 16, nullptr, 0},   {"15-byte key", key.data(), 15, nullptr, 0},
      {"17-byte key", key.data(), 17, nullptr, 0}, {"32-byte key", key.data(), 32, nullptr, 0},
      {"11-byte tweak", key.data(), 16, eleven, 11}, {"negative tweak", key.data(), 16, eleven, -1},
  };
  for (const Case& c : refused) {
    DigitContext* ctx = initRadix10(10, c.key, c.keyLen, c.tweak, c.tweakLen);
    EXPECT_EQ(ctx, nullptr) << c.what;
    removeRadix10(&ctx);
  }

  struct Rounds {
    int given;
    int used;
  } const rounds[] = {{-1, 10}, {0, 10}, {3, 10}, {4, 4}, {10, 10}, {12, 12}};
  for (const Rounds& r : rounds) {
    DigitContext* ctx = initRadix10(r.given, key.data(), 16, nullptr, 0);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ctx->rounds, r.used);
    EXPECT_EQ(ctx->keyLen, 16);
    EXPECT_EQ(ctx->tweakLen, 10);
    EXPECT_EQ(std::memcmp(ctx->tweak, _internal_tweak, 10), 0);
    EXPECT_EQ(std::memcmp(ctx->key, key.data(), 16), 0);
    removeRadix10(&ctx);
    EXPECT_EQ(ctx, nullptr);
  }
  removeRadix10(nullptr);

  DigitContext* ctx = initRadix10(10, key.data(), 16, eleven, 10);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->tweakLen, 10);
  EXPECT_EQ(std::memcmp(ctx->tweak, eleven, 10), 0);
  removeRadix10(&ctx);
}

TEST(DigitContexts, OtherRoundCountsStayReversible) {
  std::mt19937_64 rng(8);
  const Key key = RandomKey(rng);
  for (int rounds : {4, 5, 11, 16}) {
    auto ctx = MakeContext(key, nullptr, rounds);
    ASSERT_TRUE(ctx);
    for (int len : {2, 3, 9, 16, 17, 40}) {
      const std::string plain = RandomDigits(rng, static_cast<size_t>(len));
      int rc = 1;
      const std::string enc = SegmentCall(encryptRadix10, ctx.get(), plain, &rc);
      ASSERT_EQ(rc, 0);
      EXPECT_EQ(SegmentCall(decryptRadix10, ctx.get(), enc, &rc), plain) << rounds << "/" << len;
    }
  }
}

TEST(DigitContexts, ThreadsShareOneContext) {
  std::mt19937_64 rng(123);
  auto ctx = MakeContext(RandomKey(rng));
  ASSERT_TRUE(ctx);
  constexpr int kThreads = 4;
  constexpr int kPerThread = 300;
  struct Item {
    std::string plain;
    std::string letters;
  };
  std::vector<std::vector<Item>> work(kThreads);
  for (auto& items : work) {
    for (int k = 0; k < kPerThread; ++k) {
      Item item{RandomDigits(rng, 2 + rng() % 40), ""};
      item.letters = Call(doPIN10EncryptEx, ctx.get(), item.plain).text;
      items.push_back(item);
    }
  }
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int pass = 0; pass < 3; ++pass) {
        for (const Item& item : work[static_cast<size_t>(t)]) {
          const Result enc = Call(doPIN10EncryptEx, ctx.get(), item.plain);
          const Result dec = Call(doPIN10Decrypt, ctx.get(), item.letters);
          if (enc.rc != 0 || enc.text != item.letters || dec.rc != 0 || dec.text != item.plain) {
            ++mismatches[static_cast<size_t>(t)];
          }
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[static_cast<size_t>(t)], 0) << "thread " << t;
}

TEST(DigitMapping, MapAndReverseMap) {
  CharBlock digits;
  const std::string all = "0123456789012345678901234567890123456789";  // crosses the 18-row wrap
  std::memcpy(digits.data, all.data(), all.size());
  digits.count = static_cast<uint32_t>(all.size());
  for (int mode : {0, 1}) {
    CharBlock letters;
    CharBlock back;
    ASSERT_EQ(mapMap(mode, &digits, &letters), 0);
    ASSERT_EQ(letters.count, digits.count);
    for (size_t p = 0; p < all.size(); ++p) {
      const char expected = mode == 0 ? MapLarge[p % 18][all[p] - '0'] : MapLargeSmall[p % 18][all[p] - '0'];
      ASSERT_EQ(letters.data[p], expected) << p;
    }
    ASSERT_EQ(reverseMap(mode, &letters, &back), 0);
    EXPECT_EQ(std::string(back.data, back.count), all);
  }
  CharBlock out;
  EXPECT_EQ(mapMap(2, &digits, &out), -1);
  EXPECT_EQ(reverseMap(-1, &digits, &out), -1);
  digits.data[3] = 'x';
  EXPECT_EQ(mapMap(0, &digits, &out), -1);
  // Digits are not letters; mode 0 has no lower case.
  CharBlock text;
  std::memcpy(text.data, "AB1", 3);
  text.count = 3;
  EXPECT_EQ(reverseMap(0, &text, &out), -1);
  std::memcpy(text.data, "abc", 3);
  EXPECT_EQ(reverseMap(0, &text, &out), -1);
}

TEST(DigitHelpers, TextChecksAndNumbers) {
  struct Check {
    const char* text;
    int len;
    int numeric;
    int upper;
  } const checks[] = {
      {"", 0, 1, 0},         {"7", 1, 1, 0},         {"0123456789", 10, 1, 0}, {"12a", 3, 0, 0},
      {"AZ", 2, 0, 1},       {"A", 1, 0, 0},         {"ABCz", 4, 0, 0},        {"AB@", 3, 0, 0},
      {"AB[", 3, 0, 0},      {"12/", 3, 0, 0},       {"12:", 3, 0, 0},
  };
  for (const Check& c : checks) {
    EXPECT_EQ(isNumericString(c.text, c.len), c.numeric) << c.text;
    EXPECT_EQ(isUppercase(c.text, c.len), c.upper) << c.text;
  }
  EXPECT_EQ(isNumericString("abc", -1), 1);

  auto block = [](const std::string& s) {
    CharBlock b;
    std::memcpy(b.data, s.data(), s.size());
    b.count = static_cast<uint32_t>(s.size());
    return b;
  };
  CharBlock b = block("0012345678901234567");
  EXPECT_EQ(toNumRadix10(&b), 12345678901234567ULL);
  b = block("");
  EXPECT_EQ(toNumRadix10(&b), 0u);
  b = block("Zz9");
  EXPECT_EQ(toNumRadix62(&b), (35ULL * 62 + 61) * 62 + 9);

  const uint64_t v = 0x0102030405060708ULL;
  const uint64_t big = toBig(v);
  unsigned char bytes[8];
  std::memcpy(bytes, &big, 8);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(bytes[k], k + 1);

  CharBlock dst = block(std::string(200, 'a'));
  const CharBlock add = block(std::string(55, 'b'));
  plusBlock(&dst, &add);
  EXPECT_EQ(dst.count, 255u);
  EXPECT_EQ(dst.data[254], 'b');
  const CharBlock one = block("c");
  plusBlock(&dst, &one);  // 256 would not stay below 256
  EXPECT_EQ(dst.count, 255u);

  testing::internal::CaptureStdout();
  b = block("A1z");
  printBlock(&b);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "A 1 z \n");
}

}  // namespace
