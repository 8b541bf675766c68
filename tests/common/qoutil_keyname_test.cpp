// Key-name builders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "qor/qoutil.h"

namespace {

UString U(const char* text) {
  return UString{static_cast<uint32_t>(text != nullptr ? std::strlen(text) : 0),
                 const_cast<char*>(text)};
}

std::string Take(UString* s) {
  std::string text = s->data != nullptr ? std::string(s->data) : std::string("<null>");
  if (s->data != nullptr) {
    EXPECT_EQ(std::strlen(s->data), s->length);
  }
  FreeUString(s);
  return text;
}

struct ThreePartCase {
  const char* a;
  const char* b;
  const char* c;
  const char* expected;  // nullptr: nothing is built
};

const ThreePartCase kThreePartCases[] = {
    {"a", "b", "", "a.b"},
    {"a", "b", "c", "a.b.c"},
    {"db", "schema", "column", "db.schema.column"},
    {"a", "", "c", nullptr},
    {"", "b", "c", nullptr},
    {"", "", "", nullptr},
};

TEST(QOUtilKeyName, GenKeyNameEx2) {
  for (const ThreePartCase& c : kThreePartCases) {
    UString out{99, reinterpret_cast<char*>(1)};
    const int result = QOUtil_GenKeyNameEx2(U(c.a), U(c.b), U(c.c), &out);
    if (c.expected == nullptr) {
      EXPECT_EQ(result, static_cast<int>(std::strlen(c.a))) << c.a << "|" << c.b;
      EXPECT_EQ(out.length, 0u);
      EXPECT_EQ(out.data, nullptr);
    } else {
      EXPECT_EQ(result, static_cast<int>(std::strlen(c.expected)));
      EXPECT_EQ(Take(&out), c.expected);
    }
  }
  // A counted text is taken by its length, not by its terminator.
  UString out{};
  EXPECT_EQ(QOUtil_GenKeyNameEx2(UString{2, const_cast<char*>("abXX")}, U("c"), U(nullptr), &out), 4);
  EXPECT_EQ(Take(&out), "ab.c");
}

TEST(QOUtilKeyName, GenKeyNameEx3) {
  struct Case {
    const char *a, *b, *c, *d;
    const char* expected;
  };
  const Case cases[] = {
      {"a", "b", "c", "", "a.b.c"},     {"a", "b", "c", "d", "a.b.c.d"},
      {"a", "b", "c", nullptr, "a.b.c"}, {"a", "", "c", "d", nullptr},
      {"", "b", "c", "d", nullptr},     {"a", "b", "", "d", nullptr},
  };
  for (const Case& c : cases) {
    UString out{7, nullptr};
    char* text = QOUtil_GenKeyNameEx3(c.a, static_cast<int>(std::strlen(c.a)), c.b,
                                      static_cast<int>(std::strlen(c.b)), c.c,
                                      static_cast<int>(std::strlen(c.c)), c.d,
                                      c.d != nullptr ? static_cast<int>(std::strlen(c.d)) : 0,
                                      &out);
    if (c.expected == nullptr) {
      EXPECT_EQ(text, nullptr);
      EXPECT_EQ(out.length, 0u);
    } else {
      ASSERT_NE(text, nullptr);
      EXPECT_EQ(text, out.data);
      EXPECT_EQ(Take(&out), c.expected);
    }
  }
  UString out{};
  EXPECT_EQ(QOUtil_GenKeyNameEx3("abc", 1, "def", 2, "ghi", 3, "jkl", -1, &out), out.data);
  EXPECT_EQ(Take(&out), "a.de.ghi");
}

TEST(QOUtilKeyName, GenKeyNameExAndGenKeyName) {
  for (const ThreePartCase& c : kThreePartCases) {
    const UString a = U(c.a), b = U(c.b), third = U(c.c);
    UString viaCounted = QOUtil_GenKeyNameEx(&a, &b, &third);
    UString viaText = QOUtil_genKeyName(c.a, c.b, c.c);
    if (c.expected == nullptr) {
      EXPECT_EQ(viaCounted.length, 0u);
      EXPECT_EQ(viaCounted.data, nullptr);
      EXPECT_EQ(viaText.data, nullptr);
    } else {
      EXPECT_EQ(viaCounted.length, std::strlen(c.expected));
      EXPECT_EQ(Take(&viaCounted), c.expected);
      EXPECT_EQ(Take(&viaText), c.expected);
    }
  }
  const UString a = U("x"), b = U("y");
  UString noThird = QOUtil_GenKeyNameEx(&a, &b, nullptr);
  EXPECT_EQ(noThird.length, 3u);  // a + b + 1
  EXPECT_EQ(Take(&noThird), "x.y");
  EXPECT_EQ(QOUtil_GenKeyNameEx(nullptr, &b, nullptr).data, nullptr);
  UString absentParts = QOUtil_genKeyName(nullptr, "b", "c");
  EXPECT_EQ(absentParts.data, nullptr);
  UString absentThird = QOUtil_genKeyName("a", "b", nullptr);
  EXPECT_EQ(Take(&absentThird), "a.b");
}

}  // namespace
