#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "qor/base64.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string OpenSslEncode(const Bytes& in) {
  std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), in.data(), static_cast<int>(in.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

struct Encoded {
  int result;
  std::string text;
};

Encoded Encode(const Bytes& in, int prefixFlag) {
  char* text = nullptr;
  const int n = QOR_Base64Encode(in.data(), static_cast<int>(in.size()), &text, prefixFlag);
  Encoded e{n, text != nullptr ? std::string(text) : std::string("<none>")};
  std::free(text);
  return e;
}

struct Decoded {
  int result;
  Bytes bytes;
};

Decoded Decode(const std::string& text, int prefixFlag) {
  unsigned char* bytes = nullptr;
  const int n = QOR_Base64Decode(text.data(), static_cast<int>(text.size()), &bytes, prefixFlag);
  Decoded d{n, n > 0 ? Bytes(bytes, bytes + n) : Bytes{}};
  if (n < 0) {
    EXPECT_EQ(bytes, nullptr);
  }
  std::free(bytes);
  return d;
}

TEST(Base64Atom, EncodesGroupsWithPadding) {
  char out[4];
  const unsigned char ff[] = {0xFF, 0xFF, 0xFF};
  QOR_base64_encode_atom(ff, 1, out);
  EXPECT_EQ(std::string(out, 4), "/w==");
  QOR_base64_encode_atom(ff, 2, out);
  EXPECT_EQ(std::string(out, 4), "//8=");
  QOR_base64_encode_atom(ff, 3, out);
  EXPECT_EQ(std::string(out, 4), "////");
}

TEST(Base64Atom, DecodeTable) {
  const struct {
    const char* group;
    int result;
    Bytes bytes;
  } cases[] = {
      {"YWJj", 3, B("abc")}, {"YWI=", 2, B("ab")}, {"YQ==", 1, B("a")}, {"////", 3, {0xFF, 0xFF, 0xFF}},
      {"YQ=a", 0, {}},       {"=WJj", 0, {}},      {"Y=Jj", 0, {}},     {"YW!j", 0, {}},
      {"YW J", 0, {}},       {"Y===", 0, {}},      {"YW\x80j", 0, {}},
  };
  for (const auto& c : cases) {
    unsigned char out[3] = {0, 0, 0};
    EXPECT_EQ(QOR_base64_decode_atom(c.group, out), c.result) << c.group;
    EXPECT_EQ(Bytes(out, out + c.result), c.bytes) << c.group;
  }
}

TEST(Base64Strict, EncodeWithAndWithoutPrefix) {
  const struct {
    std::string in;
    int flag;
    int result;
    std::string text;
  } cases[] = {
      {"abc", 1, 4, "YWJj"}, {"abc", 0, 6, "$.YWJj"}, {"", 1, 0, ""},  {"", 0, 2, "$."},
      {"a", 1, 4, "YQ=="},   {"ab", 0, 6, "$.YWI="},  {"abcd", 7, 8, "YWJjZA=="},
  };
  for (const auto& c : cases) {
    const Encoded e = Encode(B(c.in), c.flag);
    EXPECT_EQ(e.result, c.result) << c.in;
    EXPECT_EQ(e.text, c.text) << c.in;
  }
  char* text = nullptr;
  EXPECT_EQ(QOR_Base64Encode(reinterpret_cast<const unsigned char*>("x"), -5, &text, 1), 0);
  EXPECT_STREQ(text, "");
  std::free(text);
}

TEST(Base64Strict, DecodeTable) {
  const struct {
    const char* text;
    int flag;
    int result;
    Bytes bytes;
  } cases[] = {
      {"YWJj", 1, 3, B("abc")},
      {"$.YWJj", 0, 3, B("abc")},
      {"??YWJj", 0, 3, B("abc")},  // the prefix is skipped unchecked
      {"YQ==", 1, 1, B("a")},
      {"YWI=", 1, 2, B("ab")},
      {"YWJjZA==", 1, 4, B("abcd")},
      {"YQ==YWJj", 1, 4, B("aabc")},  // groups are decoded one by one
      {"YWJjYQ==YWJjYWJj", 1, 10, B("abcaabcabc")},
      {"YWJjYWJjYW!jYWJj", 1, -1, {}},
      {"YWJjYWJjYWJjYWJ=", 1, 11, B("abcabcabcab")},
      {"YQ=a", 1, -1, {}},
      {"YWJ", 1, -1, {}},
      {"YWJjY", 1, -1, {}},
      {"YW!j", 1, -1, {}},
      {"$.YW", 0, 0, {}},
      {"$.", 0, 0, {}},
      {"", 1, 0, {}},
      {"$.YWJ", 0, -1, {}},
  };
  for (const auto& c : cases) {
    const Decoded d = Decode(c.text, c.flag);
    EXPECT_EQ(d.result, c.result) << c.text;
    EXPECT_EQ(d.bytes, c.bytes) << c.text;
  }
}

TEST(Base64Strict, RoundTripsAgainstOpenSsl) {
  std::mt19937 rng(11);
  for (size_t len = 0; len <= 300; ++len) {
    Bytes in(len);
    for (auto& b : in) b = static_cast<unsigned char>(rng());
    const std::string expect = OpenSslEncode(in);

    const Encoded plain = Encode(in, 1);
    ASSERT_EQ(plain.text, expect) << len;
    ASSERT_EQ(plain.result, static_cast<int>(expect.size()));
    const Encoded prefixed = Encode(in, 0);
    ASSERT_EQ(prefixed.text, "$." + expect) << len;

    std::vector<char> buf(4 * ((len + 2) / 3) + 1, 'Z');
    ASSERT_EQ(QOR_Base64Encode_Buffer(in.data(), static_cast<int>(len), buf.data()), static_cast<int>(expect.size()));
    ASSERT_STREQ(buf.data(), expect.c_str());

    char* tolerant = nullptr;
    ASSERT_EQ(QOR_Base64Encod(in.data(), static_cast<int>(len), &tolerant), len == 0 ? 4 : static_cast<int>(expect.size()));
    ASSERT_STREQ(tolerant, len == 0 ? "AAAA" : expect.c_str());
    std::free(tolerant);

    if (len == 0) continue;
    ASSERT_EQ(Decode(expect, 1).bytes, in) << len;
    ASSERT_EQ(Decode("$." + expect, 0).bytes, in) << len;
    unsigned char* back = nullptr;
    ASSERT_EQ(QOR_Base64Decod(expect.data(), static_cast<int>(expect.size()), &back), static_cast<int>(len));
    ASSERT_EQ(Bytes(back, back + len), in);
    ASSERT_EQ(back[len], 0);
    std::free(back);

    Bytes fixed(len + 1, 0xAA);
    ASSERT_EQ(QOR_Base64Decode_Buffer(expect.data(), static_cast<int>(expect.size()), fixed.data(),
                                      static_cast<int>(fixed.size())),
              static_cast<int>(len));
    ASSERT_EQ(Bytes(fixed.begin(), fixed.begin() + static_cast<long>(len)), in);
    ASSERT_EQ(fixed[len], 0);
  }
}

TEST(Base64Buffer, FixedBufferDecode) {
  const struct {
    const char* text;
    int outSize;
    int result;
  } cases[] = {
      {"YWJj", 3, 0},      // no room
      {"YWJj", 4, 3},
      {"YQ==", 2, 1},
      {"YQ==", 1, 0},
      {"YWI=", 3, 2},
      {"YWJ", 10, 0},      // shorter than 4
      {"YQ=a", 10, -1},
      {"YWJjY", 10, -1},   // cut-short last group
      {"YWJj!!!!", 10, -1},
  };
  for (const auto& c : cases) {
    unsigned char out[16];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(QOR_Base64Decode_Buffer(c.text, static_cast<int>(std::strlen(c.text)), out, c.outSize), c.result)
        << c.text << " into " << c.outSize;
    EXPECT_EQ(out[c.outSize], 0xAA) << "wrote past outSize";
  }
  unsigned char out[8];
  std::memset(out, 0xAA, sizeof out);
  ASSERT_EQ(QOR_Base64Decode_Buffer("YQ==", 4, out, 8), 1);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(out[i], 0) << i;  // zeroed from the expected size on
  EXPECT_EQ(out[0], 'a');
}

TEST(Base64Tolerant, DecodeTable) {
  const struct {
    std::string text;
    int result;
    Bytes bytes;
  } cases[] = {
      {"YWJj", 3, B("abc")},
      {"YQ==", 1, B("a")},
      {"YWI=", 2, B("ab")},
      {"", 3, {0, 0, 0}},
      {"YWJjZA", 4, B("abcd")},        // no padding needed
      {"YWJjZ", 3, B("abc")},          // a lone sixth bit-group gives nothing
      {"YW\nJj", 3, {0x61, 0x60, 0x09}},  // odd characters take a position and keep the old slot
      {"YWJj=", 3, B("abc")},          // "=" after a whole group adds nothing
  };
  for (const auto& c : cases) {
    unsigned char* out = nullptr;
    const int n = QOR_Base64Decod(c.text.data(), static_cast<int>(c.text.size()), &out);
    EXPECT_EQ(n, c.result) << c.text;
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(Bytes(out, out + std::max(n, 0)), c.bytes) << c.text;
    EXPECT_EQ(out[n], 0);
    std::free(out);
  }
}

TEST(Base64, AbsentArguments) {
  char* text = reinterpret_cast<char*>(1);
  EXPECT_EQ(QOR_Base64Encode(nullptr, 3, &text, 1), -1);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(QOR_Base64Encode(reinterpret_cast<const unsigned char*>("a"), 1, nullptr, 1), -1);
  unsigned char* bytes = nullptr;
  EXPECT_EQ(QOR_Base64Decode(nullptr, 4, &bytes, 1), -1);
  EXPECT_EQ(QOR_Base64Decode("YWJj", 4, nullptr, 1), -1);
  EXPECT_EQ(QOR_Base64Decode_Buffer(nullptr, 4, nullptr, 4), 0);
  EXPECT_EQ(QOR_Base64Decod(nullptr, 4, &bytes), -1);
  EXPECT_EQ(QOR_Base64Encod(nullptr, 4, &text), -1);
}

}  // namespace
