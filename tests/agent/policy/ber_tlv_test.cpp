// The BER-TLV reader: element order and depth, length forms, and every way a
// length can lie about the buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qor/policy.h"
#include "support/bytes.h"

namespace {

using qor::test::Bytes;
using qor::test::FromHex;

struct Element {
  int tag;
  uint32_t length;
  uint32_t depth;
  bool operator==(const Element&) const = default;
};

std::vector<Element> Parse(Bytes bytes, uint32_t* position = nullptr) {
  uint32_t count = 0;
  uint32_t pos = 0;
  BerTlvNode* list = Parse_Tlv(bytes.data(), static_cast<uint32_t>(bytes.size()), 0, &count, &pos);
  std::vector<Element> out;
  for (const BerTlvNode* n = list; n != nullptr; n = n->next) {
    out.push_back({n->tlv.tag, n->tlv.length, n->depth});
    // Every value lies inside the buffer.
    EXPECT_GE(n->tlv.value, bytes.data());
    EXPECT_LE(n->tlv.value + n->tlv.length, bytes.data() + bytes.size());
  }
  EXPECT_EQ(count, out.size());
  BerTlv_free(list);
  if (position != nullptr) *position = pos;
  return out;
}

struct Case {
  const char* name;
  const char* hex;
  std::vector<Element> elements;
};

class BerTlvCases : public testing::TestWithParam<Case> {};

TEST_P(BerTlvCases, ParsesToTheElementList) {
  EXPECT_EQ(Parse(FromHex(GetParam().hex)), GetParam().elements) << GetParam().name;
}

const Case kCases[] = {
    {"nested in document order", "30 08 04 01 41 30 03 02 01 05 04 00",
     {{0x30, 8, 0}, {0x04, 1, 1}, {0x30, 3, 1}, {0x02, 1, 2}, {0x04, 0, 0}}},
    {"0x80 gives an empty element", "04 80 04 01 41", {{0x04, 0, 0}, {0x04, 1, 0}}},
    {"long form, one byte", "04 81 02 41 42", {{0x04, 2, 0}}},
    {"long form, four bytes", "04 84 00 00 00 01 41", {{0x04, 1, 0}}},
    {"five length bytes end the list", "04 01 41 04 85 00 00 00 00 01 41", {{0x04, 1, 0}}},
    {"length bytes past the buffer", "04 01 41 04 84 00 00", {{0x04, 1, 0}}},
    {"value past the buffer drops the rest", "04 01 41 04 06 41 42 04 01 41", {{0x04, 1, 0}}},
    {"huge length does not wrap", "04 01 41 04 84 ff ff ff ff 41", {{0x04, 1, 0}}},
    {"a lone last byte is not an element", "04 01 41 04", {{0x04, 1, 0}}},
    {"bad child ends only its parent's list", "30 03 04 05 41 04 01 42",
     {{0x30, 3, 0}, {0x04, 1, 0}}},
    {"bit string value skips the unused-bit count", "03 03 04 f0 0f", {{0x03, 2, 0}}},
    {"empty bit string", "03 00 04 00", {{0x03, 0, 0}, {0x04, 0, 0}}},
    {"empty input", "", {}},
};

INSTANTIATE_TEST_SUITE_P(Tlv, BerTlvCases, testing::ValuesIn(kCases));

TEST(BerTlv, LengthFieldForms) {
  struct LengthCase {
    const char* hex;
    uint32_t remaining;
    bool ok;
    uint32_t length;
    int consumed;
  };
  const LengthCase cases[] = {
      {"7f", 1, true, 127, 1},         {"80", 1, true, 0, 1},
      {"81 80", 2, true, 128, 2},      {"82 01 00", 3, true, 256, 3},
      {"82 01", 2, false, 0, 0},       {"84 ff ff ff ff", 5, true, 0xffffffffu, 5},
      {"85 00 00 00 00 01", 6, false, 0, 0},
  };
  for (const LengthCase& c : cases) {
    const Bytes b = FromHex(c.hex);
    uint32_t length = 0;
    const unsigned char* after = tlv_parseLength(&length, b.data(), c.remaining);
    EXPECT_EQ(after != nullptr, c.ok) << c.hex;
    if (after != nullptr) {
      EXPECT_EQ(length, c.length) << c.hex;
      EXPECT_EQ(after - b.data(), c.consumed) << c.hex;
    }
  }
  uint32_t length = 0;
  EXPECT_EQ(tlv_parseLength(&length, nullptr, 4), nullptr);
  const Bytes one = FromHex("05");
  EXPECT_EQ(tlv_parseLength(&length, one.data(), 0), nullptr);
}

TEST(BerTlv, DeepNestingEndsTheListInsteadOfTheStack) {
  // A chain whose lengths really nest.
  Bytes nested = {0x04, 0x00};
  for (int i = 0; i < 40; ++i) {
    Bytes outer = {0x30, static_cast<uint8_t>(nested.size())};
    if (nested.size() >= 0x80) outer = {0x30, 0x81, static_cast<uint8_t>(nested.size())};
    outer.insert(outer.end(), nested.begin(), nested.end());
    nested = outer;
  }
  const std::vector<Element> deep = Parse(nested);
  ASSERT_FALSE(deep.empty());
  EXPECT_LE(deep.back().depth, 32u);
  EXPECT_LT(deep.size(), 41u);
}

TEST(BerTlv, PositionAndCountAccumulate) {
  Bytes b = FromHex("04 01 41 04 01 42");
  uint32_t count = 5;
  uint32_t pos = 3;
  BerTlvNode* list = Parse_Tlv(b.data(), static_cast<uint32_t>(b.size()), 1, &count, &pos);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(pos, 6u);
  EXPECT_EQ(list->tlv.value[0], 0x42);
  EXPECT_EQ(list->depth, 1u);
  BerTlv_free(list);
  BerTlvNode* empty = reinterpret_cast<BerTlvNode*>(1);
  BerTlv_Init(&empty);
  EXPECT_EQ(empty, nullptr);
}

TEST(BerTlv, BitStringShiftCarriesIntoTheNextByte) {
  Bytes b = FromHex("03 03 04 f3 0f");  // 4 unused bits
  uint32_t count = 0;
  BerTlvNode* list = Parse_Tlv(b.data(), static_cast<uint32_t>(b.size()), 0, &count, nullptr);
  ASSERT_NE(list, nullptr);
  Process_BitString(list);
  EXPECT_EQ(b[3], 0x0f);
  EXPECT_EQ(b[4], 0x30);  // the low nibble of 0xf3 moved in front of 0x0
  BerTlv_free(list);
  EXPECT_EQ(maxcmp(3, 7), 7);
  EXPECT_EQ(maxcmp(-1, -4), -1);
}

TEST(BerTlv, PrintShowsDepthTagLengthAndValue) {
  Bytes b = FromHex("30 05 04 01 41 02 00");
  uint32_t count = 0;
  BerTlvNode* list = Parse_Tlv(b.data(), static_cast<uint32_t>(b.size()), 0, &count, nullptr);
  testing::internal::CaptureStdout();
  BerTlv_Print(list, 1, 1);
  Policy_print(list->next->next);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Count 001 - L:001 \t 04 0001 A\nL:001, 02 0000\n\n");
  BerTlv_free(list);
}

}  // namespace
