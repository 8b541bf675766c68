#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "qor/qostring.h"

namespace {

TEST(IsUTF8, WellFormedTable) {
  const struct {
    std::string bytes;
    int expect;
  } cases[] = {
      {"", 1},
      {"plain ascii", 1},
      {"\xD0\x90", 1},                  // U+0410
      {"\xE2\x82\xAC", 1},              // U+20AC
      {"\xF0\x9F\x98\x80", 1},          // U+1F600
      {"\xF4\x8F\xBF\xBF", 1},          // U+10FFFF
      {"\xEF\xBF\xBF", 1},              // U+FFFF
      {"\xC0\x80", 0},                  // overlong
      {"\xC1\xBF", 0},                  // overlong lead
      {"\xE0\x80\x80", 0},              // overlong three-byte
      {"\xE0\x9F\xBF", 0},              // below 0x800
      {"\xED\xA0\x80", 0},              // surrogate
      {"\xED\xBF\xBF", 0},              // surrogate
      {"\xF0\x8F\xBF\xBF", 0},          // below 0x10000
      {"\xF4\x90\x80\x80", 0},          // above 0x10FFFF
      {"\xF5\x80\x80\x80", 0},          // invalid lead
      {"\xFF", 0},
      {"\x80", 0},                      // lone continuation
      {"\xD0", 0},                      // cut short
      {"\xE2\x82", 0},                  // cut short
      {"\xD0\x41", 0},                  // bad continuation
      {"a\xE2\x82\xACz", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isUTF8(c.bytes.data(), static_cast<int>(c.bytes.size())), c.expect)
        << testing::PrintToString(c.bytes);
  }
  // The whole sequence must lie inside the given length.
  EXPECT_EQ(isUTF8("\xD0\x90", 1), 0);
  EXPECT_EQ(isUTF8(nullptr, 3), 0);
}

TEST(UCS2toUTF8, UnitsEncodedOneByOne) {
  const struct {
    std::vector<uint16_t> units;
    std::string expect;
  } cases[] = {
      {{0x0041}, "A"},
      {{0x0410}, "\xD0\x90"},
      {{0x07FF}, "\xDF\xBF"},
      {{0x0800}, "\xE0\xA0\x80"},
      {{0xAC00, 0x0031}, "\xEA\xB0\x80" "1"},
      {{0xD83D, 0xDE00}, "\xED\xA0\xBD\xED\xB8\x80"},  // surrogates are not combined
  };
  for (const auto& c : cases) {
    char out[32];
    std::memset(out, 'Z', sizeof out);
    const int n = UCS2toUTF8(c.units.data(), static_cast<int>(c.units.size()), out);
    EXPECT_EQ(std::string(out, static_cast<size_t>(n)), c.expect);
    EXPECT_EQ(out[n], '\0');
  }
  char out[4] = "xyz";
  EXPECT_EQ(UCS2toUTF8(nullptr, 0, out), 0);
  EXPECT_EQ(out[0], '\0');
}

TEST(UTF8toUCS2, InverseForBasicPlane) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> unit(1, 0xFFFF);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint16_t> units(static_cast<size_t>(round % 40 + 1));
    for (auto& u : units) u = static_cast<uint16_t>(unit(rng));
    std::vector<char> utf8(units.size() * 3 + 1);
    const int bytes = UCS2toUTF8(units.data(), static_cast<int>(units.size()), utf8.data());
    std::vector<uint16_t> back(static_cast<size_t>(bytes));
    const int n = UTF8toUCS2(utf8.data(), bytes, back.data());
    ASSERT_EQ(n, static_cast<int>(units.size()));
    back.resize(static_cast<size_t>(n));
    EXPECT_EQ(back, units);
  }
  uint16_t out[4];
  EXPECT_EQ(UTF8toUCS2("abc", 0, out), 0);
  // A sequence cut off by the length is not read past the end.
  EXPECT_EQ(UTF8toUCS2("a\xEA\xB0", 3, out), 1);
  EXPECT_EQ(out[0], u'a');
}

TEST(DoubleByteLengths, BeforeAndAfter) {
  // "ab" + two double-byte characters + "c"
  const char text[] = "ab\xB0\xA1\xB0\xA2" "c";
  const int len = 7;
  const struct {
    int n, before, after;
  } cases[] = {{0, 0, 0}, {1, 1, 1}, {2, 2, 3}, {3, 4, 5}, {4, 6, 6}, {5, 7, 7}, {9, 7, 7}};
  for (const auto& c : cases) {
    EXPECT_EQ(Strlen_partial_before(text, len, c.n), c.before) << c.n;
    EXPECT_EQ(Strlen_partial_before_2(text, len, c.n), c.before) << c.n;
    EXPECT_EQ(Strlen_partial_after(text, len, c.n), c.after) << c.n;
    EXPECT_EQ(Strlen_partial_after_2(text, len, c.n), c.after) << c.n;
  }
  EXPECT_EQ(Strlen_partial_before(nullptr, 3, 1), -1);
  EXPECT_EQ(Strlen_partial_before(text, 0, 1), -1);
  EXPECT_EQ(Strlen_partial_after(text, 0, 1), -1);
  // Stops at the terminating zero.
  EXPECT_EQ(Strlen_partial_before("ab", 10, 5), 2);
  // A lead byte at the very end does not step past the length.
  EXPECT_EQ(Strlen_partial_before("a\xB0", 2, 2), 2);
}

TEST(WideConversion, RoundTripUnderUtf8Locale) {
  ::setenv("ULVEX_LOCALE", "C.UTF-8", 1);
  char saved[20] = {0};
  const char text[] = "caf\xC3\xA9 \xEA\xB0\x80";  // café 가
  wchar_t* wide = m2w(text, static_cast<int>(std::strlen(text)), "", saved);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::wstring(wide), std::wstring(L"caf\u00e9 \uac00"));
  EXPECT_NE(saved[0], '\0');

  char* back = w2m(wide, static_cast<int>(x_wcslen(wide)));
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(back, text);  // longer in bytes than in characters, still whole
  std::free(back);
  std::free(wide);

  EXPECT_EQ(m2w("\xFF\xFE", 2, "", saved), nullptr);  // not convertible in UTF-8
  ::unsetenv("ULVEX_LOCALE");
  std::setlocale(LC_ALL, "C");
}

}  // namespace
