#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qor/qostring.h"

namespace {

// Tokens as strings; an empty slot (no copy) is shown as "<empty>".
std::vector<std::string> Tokens(const char* text, char delimiter) {
  QOTokenList list{};
  std::vector<std::string> out;
  if (QOString_Tokenizer(&list, text, delimiter) != 1) return {"<failed>"};
  for (int i = 0; i < list.count; ++i) {
    const UString& t = list.tokens[i];
    if (t.data == nullptr) {
      EXPECT_EQ(t.length, 0u);
      out.emplace_back("<empty>");
    } else {
      EXPECT_EQ(t.length, std::strlen(t.data));
      out.emplace_back(t.data, t.length);
    }
  }
  QOString_FreeToken(&list);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.tokens, nullptr);
  return out;
}

TEST(Tokenizer, SplitsAtEveryDelimiter) {
  using V = std::vector<std::string>;
  const struct {
    const char* text;
    V expect;
  } cases[] = {
      {"a,b", V{"a", "b"}},
      {"a,,b", V{"a", "<empty>", "b"}},
      {"a,b,", V{"a", "b"}},
      {",a", V{"<empty>", "a"}},
      {"abc", V{"abc"}},
      {",", V{"<empty>"}},
      {"one,two,three", V{"one", "two", "three"}},
      {",,", V{"<empty>", "<empty>"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokens(c.text, ','), c.expect) << c.text;
}

TEST(Tokenizer, RefusesAbsentOrEmptyText) {
  QOTokenList list{};
  EXPECT_EQ(QOString_Tokenizer(&list, "", ','), 0);
  EXPECT_EQ(QOString_Tokenizer(&list, nullptr, ','), 0);
  EXPECT_EQ(list.count, 0);
}

TEST(Trim, RemovesSpaceTabNewlineCarriageReturnOnly) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"   ", ""},           {"", ""},           {"  abc  ", "abc"}, {"\t\r\nx y\n", "x y"},
      {"\vabc\f", "\vabc\f"}, {"abc", "abc"},     {" a", "a"},        {"a ", "a"},
  };
  for (const auto& c : cases) {
    char buf[32];
    std::memset(buf, 'Z', sizeof buf);
    std::strcpy(buf, c.in);
    EXPECT_EQ(QOString_Trim(buf, sizeof buf), static_cast<int>(std::strlen(c.out))) << '"' << c.in << '"';
    EXPECT_STREQ(buf, c.out);
  }
  EXPECT_EQ(QOString_Trim(nullptr, 4), -1);
}

TEST(RTrim, LowersCountedLength) {
  char text[] = "name \t\r\n";
  UString s{8, text};
  EXPECT_EQ(QOString_RTrim(&s), 4);
  EXPECT_EQ(s.length, 4u);
  EXPECT_STREQ(text, "name");
  EXPECT_EQ(std::memcmp(text + 4, "\0\0\0\0", 4), 0);
  UString none{0, nullptr};
  EXPECT_EQ(QOString_RTrim(&none), -1);
  EXPECT_EQ(QOString_RTrim(nullptr), -1);
}

TEST(ReplaceAll, ReplacesNonOverlappingOccurrences) {
  const struct {
    const char* text;
    const char* oldText;
    const char* newText;
    const char* expect;
  } cases[] = {
      {"a.b.c", ".", "::", "a::b::c"},
      {"xxabxx", "xx", "", "ab"},
      {"endold", "old", "NEW", "endNEW"},
      {"oldstart", "old", "N", "Nstart"},
      {"aaaa", "aa", "b", "bb"},
      {"aaa", "aa", "b", "ba"},
      {"nothing", "zz", "y", "nothing"},
      {"keep", "", "y", "keep"},
      {"", "a", "b", ""},
  };
  for (const auto& c : cases) {
    char* out = nullptr;
    ASSERT_EQ(QOString_ReplaceAll(c.text, c.oldText, c.newText, &out), 0);
    EXPECT_STREQ(out, c.expect) << c.text;
    std::free(out);
  }
  char* out = nullptr;
  EXPECT_EQ(QOString_ReplaceAll(nullptr, "a", "b", &out), -1);
  EXPECT_EQ(QOString_ReplaceAll("a", nullptr, "b", &out), -1);
  EXPECT_EQ(QOString_ReplaceAll("a", "a", nullptr, &out), -1);
  EXPECT_EQ(QOString_ReplaceAll("a", "a", "b", nullptr), -1);
}

TEST(KeyName2ObjectName, CutsAtLastDotOfFourPartName) {
  const struct {
    const char* key;
    int result;
    const char* object;
  } cases[] = {
      {"a.b.c.d", 0, "a.b.c"}, {"a.b.c.", 0, "a.b.c"}, {"a.b.c", -1, "a.b.c"},
      {"a.b.c.d.e", -1, "a.b.c.d.e"}, {"", -1, ""},   {"...", 0, ".."},
  };
  for (const auto& c : cases) {
    char buf[32];
    std::strcpy(buf, c.key);
    UString s{static_cast<uint32_t>(std::strlen(buf)), buf};
    EXPECT_EQ(QOString_KeyName2ObjectName(&s), c.result) << c.key;
    EXPECT_STREQ(buf, c.object);
    EXPECT_EQ(s.length, std::strlen(c.object));
  }
}

TEST(CreateObjectNameFromKeyName, NewCountedText) {
  const struct {
    const char* key;
    const char* object;
  } cases[] = {{"a.b.c.d", "a.b.c"}, {"a.b.", "a.b"}, {"nodot", ""}, {"x.y", "x"}};
  for (const auto& c : cases) {
    char buf[32];
    std::strcpy(buf, c.key);
    const UString key{static_cast<uint32_t>(std::strlen(buf)), buf};
    UString object{};
    ASSERT_EQ(QOString_CreateObjectNameFromKeyName(&key, &object), 0) << c.key;
    ASSERT_NE(object.data, nullptr);
    EXPECT_STREQ(object.data, c.object);
    EXPECT_EQ(object.length, std::strlen(c.object));
    EXPECT_STREQ(buf, c.key);  // the key is left alone
    FreeUString(&object);
    EXPECT_EQ(object.data, nullptr);
    EXPECT_EQ(object.length, 0u);
  }
  char empty[] = "";
  const UString key{0, empty};
  UString object{};
  EXPECT_EQ(QOString_CreateObjectNameFromKeyName(&key, &object), -1);
}

TEST(SmallTextFunctions, Table) {
  EXPECT_EQ(QOString_CountCharacter("a.b.c.d", '.'), 3);
  EXPECT_EQ(QOString_CountCharacter("", '.'), 0);
  EXPECT_EQ(QOString_CountCharacter(nullptr, '.'), 0);

  EXPECT_EQ(QOString_EndWith("path/", '/'), 4);
  EXPECT_EQ(QOString_EndWith("path", '/'), -1);
  EXPECT_EQ(QOString_EndWith("", '/'), -1);

  EXPECT_EQ(QOString_StartWith("ULVEX_HOME", "ULVEX_"), 1);
  EXPECT_EQ(QOString_StartWith("ULV", "ULVEX_"), 0);
  EXPECT_EQ(QOString_StartWith("abc", ""), 1);
  EXPECT_EQ(QOString_StartWith(nullptr, "a"), 0);

  char mixed[] = "MiXed-1_Z";
  EXPECT_STREQ(QOString_Strlwr(mixed), "mixed-1_z");
  EXPECT_STREQ(QOString_Strupr(mixed), "MIXED-1_Z");

  EXPECT_EQ(QOString_strtoll("  -9223372036854775807 tail"), -9223372036854775807LL);
  EXPECT_EQ(QOString_strtoll("12345678901"), 12345678901LL);
  EXPECT_EQ(QOString_strtoll("none"), 0);
  EXPECT_EQ(QOString_strtoll(nullptr), 0);

  char buf[32] = "ab";
  char* end = QOString_Strcat(buf, "cd");
  EXPECT_STREQ(buf, "abcd");
  EXPECT_EQ(end, buf + 4);
  end = QOString_Strcat(end, "ef");
  EXPECT_STREQ(buf, "abcdef");
  EXPECT_EQ(*end, '\0');
}

}  // namespace
