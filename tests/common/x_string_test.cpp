#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qor/qostring.h"

namespace {

constexpr size_t kTooBig = size_t{0xFFFFFFFF} + 1;

// Destination pre-filled with a marker so a refused call can be seen to leave
// it untouched.
struct Dest {
  char buf[16];
  Dest() { std::memset(buf, '#', sizeof buf); }
  bool Untouched() const {
    for (char c : buf) {
      if (c != '#') return false;
    }
    return true;
  }
};

struct CopyCase {
  const char* name;
  size_t dstSize;
  const char* src;
  bool accepted;
};

TEST(XStrcpy, AcceptsExactFitAndRefusesEverythingElse) {
  const CopyCase cases[] = {
      {"nine chars in ten bytes", 10, "123456789", true},
      {"nine chars in nine bytes", 9, "123456789", false},
      {"empty source", 10, "", false},
      {"one char in two bytes", 2, "a", true},
      {"zero size", 0, "a", false},
      {"size above 32 bits", kTooBig, "a", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Dest d;
    char* r = x_strcpy(d.buf, c.dstSize, c.src);
    if (c.accepted) {
      EXPECT_EQ(r, d.buf);
      EXPECT_STREQ(d.buf, c.src);
    } else {
      EXPECT_EQ(r, nullptr);
      EXPECT_TRUE(d.Untouched());
    }
  }
  Dest d;
  EXPECT_EQ(x_strcpy(nullptr, 10, "a"), nullptr);
  EXPECT_EQ(x_strcpy(d.buf, 10, nullptr), nullptr);
  EXPECT_TRUE(d.Untouched());
}

TEST(XStrncpy, ZeroFillsAndTerminatesAtN) {
  Dest d;
  ASSERT_EQ(x_strncpy(d.buf, 10, "abc", 5), d.buf);
  EXPECT_EQ(std::string(d.buf, 5), std::string("abc\0\0", 5));
  EXPECT_EQ(d.buf[5], '#');  // position n is written only when n characters were copied

  Dest full;
  ASSERT_EQ(x_strncpy(full.buf, 10, "abcdefgh", 3), full.buf);
  EXPECT_STREQ(full.buf, "abc");

  Dest empty;
  ASSERT_EQ(x_strncpy(empty.buf, 4, "", 2), empty.buf);
  EXPECT_EQ(empty.buf[0], '\0');
  EXPECT_EQ(empty.buf[1], '\0');

  const struct {
    size_t dstSize, n;
  } refused[] = {{5, 5}, {10, 0}, {10, kTooBig}, {0, 1}};
  for (const auto& r : refused) {
    Dest t;
    EXPECT_EQ(x_strncpy(t.buf, r.dstSize, "abc", r.n), nullptr) << r.dstSize << " " << r.n;
    EXPECT_TRUE(t.Untouched());
  }
}

TEST(XStrcat, RefusesWhenCombinedLengthDoesNotFit) {
  const struct {
    const char* have;
    const char* add;
    size_t dstSize;
    const char* expect;  // nullptr: refused
  } cases[] = {
      {"abc", "def", 7, "abcdef"},
      {"abc", "def", 6, nullptr},
      {"", "x", 2, "x"},
      {"abc", "", 10, nullptr},
  };
  for (const auto& c : cases) {
    char buf[16];
    std::strcpy(buf, c.have);
    char* r = x_strcat(buf, c.dstSize, c.add);
    if (c.expect != nullptr) {
      EXPECT_EQ(r, buf);
      EXPECT_STREQ(buf, c.expect);
    } else {
      EXPECT_EQ(r, nullptr);
      EXPECT_STREQ(buf, c.have);
    }
  }
  // A destination without a terminator inside dstSize has no room.
  char raw[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(x_strcat(raw, 4, "x"), nullptr);
}

TEST(XStrncat, ChecksRoomForNCharacters) {
  char buf[16] = "ab";
  ASSERT_EQ(x_strncat(buf, 6, "cdefg", 3), buf);
  EXPECT_STREQ(buf, "abcde");
  char buf2[16] = "ab";
  EXPECT_EQ(x_strncat(buf2, 5, "c", 3), nullptr);  // 2 + 3 + 1 > 5 even though "c" is short
  EXPECT_STREQ(buf2, "ab");
  ASSERT_EQ(x_strncat(buf2, 6, "c", 3), buf2);  // stops at the end of src
  EXPECT_STREQ(buf2, "abc");
  EXPECT_EQ(x_strncat(buf2, 16, "x", 0), nullptr);
}

TEST(XWide, CopiesAndRefusesLikeNarrowForms) {
  wchar_t buf[8];
  wmemset(buf, L'#', 8);
  EXPECT_EQ(x_wcscpy(buf, 3, L"abc"), nullptr);
  EXPECT_EQ(buf[0], L'#');
  ASSERT_EQ(x_wcscpy(buf, 4, L"abc"), buf);
  EXPECT_EQ(std::wstring(buf), L"abc");
  EXPECT_EQ(x_wcslen(buf), 3u);
  EXPECT_EQ(x_wcslen(nullptr), 0u);
  EXPECT_EQ(x_strlen(nullptr), 0u);

  wmemset(buf, L'#', 8);
  ASSERT_EQ(x_wcsncpy(buf, 8, L"ab", 4), buf);
  EXPECT_EQ(buf[2], L'\0');
  EXPECT_EQ(buf[3], L'\0');
  EXPECT_EQ(buf[4], L'#');
  EXPECT_EQ(x_wcsncpy(buf, 4, L"ab", 4), nullptr);
}

TEST(XMemcpy, BoundsAndOverlap) {
  Dest d;
  EXPECT_EQ(x_memcpy(d.buf, 3, "abcd", 4), nullptr);
  EXPECT_EQ(x_memcpy(d.buf, 3, "abcd", 0), nullptr);
  EXPECT_TRUE(d.Untouched());
  ASSERT_EQ(x_memcpy(d.buf, 4, "abcd", 4), d.buf);
  EXPECT_EQ(std::string(d.buf, 5), "abcd#");

  char overlap[] = "0123456789";
  ASSERT_NE(x_memcpy(overlap + 2, 8, overlap, 6), nullptr);
  EXPECT_STREQ(overlap, "0101234589");

  Dest s;
  EXPECT_EQ(x_memcpy_s(s.buf, 4, "abcd", 4), nullptr);
  EXPECT_TRUE(s.Untouched());
  ASSERT_EQ(x_memcpy_s(s.buf, 5, "abcd", 4), s.buf);
  EXPECT_STREQ(s.buf, "abcd");
}

TEST(XAlloc, SizeRule) {
  EXPECT_EQ(x_malloc(0), nullptr);
  EXPECT_EQ(x_malloc(kTooBig), nullptr);
  EXPECT_EQ(x_calloc(0, 8), nullptr);
  EXPECT_EQ(x_calloc(8, 0), nullptr);
  EXPECT_EQ(x_calloc(size_t{1} << 20, size_t{1} << 20), nullptr);  // product above 32 bits
  EXPECT_EQ(x_calloc(SIZE_MAX, 2), nullptr);                       // product overflows
  auto* p = static_cast<unsigned char*>(x_calloc(4, 8));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(p[i], 0);
  std::free(p);
  void* m = x_malloc(1);
  EXPECT_NE(m, nullptr);
  std::free(m);
}

TEST(XAtoi, ReadsOnlyFirstNCharacters) {
  const struct {
    const char* text;
    size_t n;
    int32_t expect;
  } cases[] = {
      {"12345", 3, 123}, {"12345", 100, 12345}, {"  -42x", 6, -42}, {"+7", 2, 7},
      {"abc", 3, 0},     {"123", 0, 0},         {"99999999999", 11, INT32_MAX},
      {"-2147483648", 11, INT32_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(x_atoi(c.text, c.n), c.expect) << c.text << " " << c.n;
  EXPECT_EQ(x_atoi(nullptr, 3), 0);
}

TEST(XItoa, SignOnlyInBaseTen) {
  const struct {
    int32_t value;
    int base;
    const char* expect;
  } cases[] = {
      {-255, 16, "ffffff01"}, {-255, 10, "-255"}, {255, 16, "ff"},       {0, 10, "0"},
      {5, 2, "101"},          {35, 36, "z"},      {INT32_MIN, 10, "-2147483648"},
      {-1, 2, "11111111111111111111111111111111"},
  };
  for (const auto& c : cases) {
    char out[40];
    EXPECT_EQ(x_itoa(c.value, out, c.base), out);
    EXPECT_STREQ(out, c.expect) << c.value << " base " << c.base;
  }
  char out[70];
  EXPECT_STREQ(x_ltoa(-1, out, 16), "ffffffffffffffff");
  EXPECT_STREQ(x_ltoa(INT64_MIN, out, 10), "-9223372036854775808");
  EXPECT_STREQ(x_ultoa(UINT64_MAX, out, 10), "18446744073709551615");
  EXPECT_STREQ(x_ultoa(255, out, 8), "377");
  EXPECT_STREQ(x_itoa(5, out, 1), "");
}

}  // namespace
