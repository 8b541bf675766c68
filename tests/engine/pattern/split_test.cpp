// Splitting values for partial encryption: by separator, by a middle window,
// and the predicted text length of an encrypted segment.
#include <climits>
#include <cstring>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "engine/pattern/split.h"
#include "qor/ua_cipher_util.h"

namespace {

// A split result that frees its texts.
struct OwnedSplit : SplitResult {
  OwnedSplit() : SplitResult{} {}
  ~OwnedSplit() { qor::engine::FreeSplitResult(this); }
  OwnedSplit(const OwnedSplit&) = delete;
  OwnedSplit& operator=(const OwnedSplit&) = delete;

  bool none() const { return front == nullptr && middle == nullptr && back == nullptr; }
  std::string parts() const {
    return none() ? "none" : std::string(front) + "|" + middle + "|" + back;
  }
};

TEST(GetCryptoLen, PredictsTheTextLength) {
  struct Case {
    int length, recordIv, compatibility;
    uint16_t keyVersion;
    int expected;
  };
  const Case cases[] = {
      {20, 0, 1, 0, 44},  {16, 1, 0, 1, 34},  {0, 0, 1, 0, 24},   {-5, 0, 1, 0, 24},
      {1, 0, 1, 0, 24},   {16, 0, 1, 0, 24},  {17, 0, 1, 0, 44},  {32, 0, 1, 0, 44},
      {33, 0, 1, 0, 68},  {48, 0, 1, 0, 68},  {49, 0, 1, 0, 88},  {20, 1, 0, 258, 54},
      {20, 0, 2, 0, 44},  {20, 0, 3, 0, 44},  {4, 7, 1, 0x8000, 32},
      {INT_MAX, 1, 0, 1, INT_MAX},  // saturates instead of wrapping
  };
  for (const Case& c : cases) {
    EXPECT_EQ(getCryptoLen(c.length, c.recordIv, c.compatibility, c.keyVersion), c.expected)
        << c.length << "," << c.recordIv << "," << c.compatibility << "," << c.keyVersion;
  }
}

TEST(SplitChar, SplitsAtTheFirstSeparatorInsideTheLength) {
  struct Case {
    std::string buffer;  // the bytes behind the text; only |length| of them belong to it
    int length;
    const char* separator;
    const char* expected;
  };
  const Case cases[] = {
      {"user@example.com", 16, "@", "user|@|example.com"},
      {"a@b@c", 5, "@", "a|@|b@c"},
      {"@lead", 5, "@", "|@|lead"},
      {"trail@", 6, "@", "trail|@|"},
      {"ab::cd::ef", 10, "::", "ab|::|cd::ef"},
      {"abc", 3, "", "||abc"},
      {"no separator", 12, "@", "none"},
      {"abc@def", 3, "@", "none"},     // the separator lies beyond the length
      {"abc@@", 4, "@@", "none"},      // it starts inside but ends beyond
      {"x@y", 0, "@", "none"},
      {"x@y", -1, "@", "none"},
  };
  for (const Case& c : cases) {
    OwnedSplit split;
    EXPECT_EQ(split_char(&split, c.buffer.data(), c.length, c.separator), &split);
    EXPECT_EQ(split.parts(), c.expected) << c.buffer << " / " << c.length << " / " << c.separator;
  }
  OwnedSplit split;
  EXPECT_EQ(split_char(&split, nullptr, 3, "@"), &split);
  EXPECT_TRUE(split.none());
  EXPECT_EQ(split_char(nullptr, "a@b", 3, "@"), nullptr);
}

TEST(SplitChar, SeesBytesAfterAZeroWithinTheLength) {
  const char text[] = {'a', 0, 'b', '@', 'c'};
  OwnedSplit split;
  split_char(&split, text, 5, "@");
  ASSERT_FALSE(split.none());
  EXPECT_EQ(std::strlen(split.front), 1u);  // the copy is a text: it ends at the zero
  EXPECT_STREQ(split.back, "c");
}

TEST(TripleChar, CutsAWindowBesideTheClearCharacters) {
  struct Case {
    const char* text;
    const char* pattern;
    int position;
    const char* expected;
  };
  const Case cases[] = {
      {"abcdefgh", "2,4", QOR_POSITION_FRONT, "ab|cdef|gh"},
      {"0123456789", "2,4", QOR_POSITION_FRONT, "01|2345|6789"},
      {"0123456789", "2,4", QOR_POSITION_BACK, "0123|4567|89"},
      {"0123456789", "2,4", 0, "0123|4567|89"},  // neither: as BACK
      {"0123456789", "6,4", QOR_POSITION_FRONT, "012345|6789|"},
      {"0123456789", "0,10", QOR_POSITION_FRONT, "|0123456789|"},
      {"0123456789", "3,0", QOR_POSITION_FRONT, "012||3456789"},
      {"0123456789", "7,4", QOR_POSITION_FRONT, "none"},  // beyond the text
      {"0123456789", "11,0", QOR_POSITION_BACK, "none"},
      {"0123456789", "-1,4", QOR_POSITION_FRONT, "none"},
      {"0123456789", "2,-4", QOR_POSITION_FRONT, "none"},
      {"0123456789", "x,4", QOR_POSITION_FRONT, "none"},
      {"0123456789", "2;4", QOR_POSITION_FRONT, "none"},
      {"0123456789", "2", QOR_POSITION_FRONT, "none"},
      {"0123456789", "02,00004", QOR_POSITION_FRONT, "01|2345|6789"},
      {"0123456789", "02,000049", QOR_POSITION_FRONT, "01|2345|6789"},  // 9th character unread
  };
  for (const Case& c : cases) {
    OwnedSplit split;
    EXPECT_EQ(triple_char(&split, c.text, static_cast<int>(std::strlen(c.text)), c.pattern, c.position, nullptr),
              &split);
    EXPECT_EQ(split.parts(), c.expected) << c.text << " / " << c.pattern << " / " << c.position;
  }
}

TEST(TripleChar, DecryptionCutsThePredictedEncryptedLength) {
  CipherUtil head{};
  head.useRecordIV = 1;
  head.keyVersion = 1;
  UACipherUtilData data{};
  data.ciphers = &head;
  data.compatibility = 0;
  UACipherUtil object{};
  object.data = &data;
  UACipherUtil* pointer = &object;

  const std::string encrypted(34, 'E');  // getCryptoLen(4, 1, 0, 1)
  const std::string value = "ab" + encrypted + "gh";
  OwnedSplit split;
  triple_char(&split, value.data(), static_cast<int>(value.size()), "2,4", QOR_POSITION_FRONT, &pointer);
  EXPECT_EQ(split.parts(), "ab|" + encrypted + "|gh");

  OwnedSplit tooShort;
  triple_char(&tooShort, value.data(), 35, "2,4", QOR_POSITION_BACK, &pointer);
  EXPECT_EQ(tooShort.parts(), "none");

  data.ciphers = nullptr;  // no record: no version, no record IV
  data.compatibility = 1;
  OwnedSplit plain;
  triple_char(&plain, value.data(), static_cast<int>(value.size()), "2,4", QOR_POSITION_FRONT, &pointer);
  EXPECT_EQ(plain.parts(), "ab|" + encrypted.substr(0, 24) + "|" + encrypted.substr(24) + "gh");
}

}  // namespace
