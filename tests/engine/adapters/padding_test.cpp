// Block padding written by the one-shot adapters.
#include <gtest/gtest.h>

#include "qor/cipher_util.h"
#include "support/bytes.h"

namespace {

using qor::test::Bytes;

TEST(Padding, WholeAndFinalByteOnly) {
  struct Case {
    int length;
    int block;
    int padded;
  } const cases[] = {{16, 16, 32}, {5, 8, 8}, {0, 16, 16}, {15, 16, 16}, {17, 16, 32}, {8, 8, 16}, {1, 8, 8}};
  for (const Case& c : cases) {
    Bytes whole(static_cast<size_t>(c.length + c.block), 0xEE);
    Bytes last = whole;
    const uint8_t p = static_cast<uint8_t>(c.padded - c.length);
    EXPECT_EQ(DoPadding(whole.data(), c.length, c.block), c.padded);
    EXPECT_EQ(DoPaddingOnlyFinal(last.data(), c.length, c.block), c.padded);
    for (int i = 0; i < c.length + c.block; ++i) {
      const bool pad = i >= c.length && i < c.padded;
      EXPECT_EQ(whole[static_cast<size_t>(i)], pad ? p : 0xEE) << c.length << "/" << c.block << " @" << i;
      EXPECT_EQ(last[static_cast<size_t>(i)], i == c.padded - 1 ? p : 0xEE) << c.length << "/" << c.block << " @" << i;
    }
  }
  EXPECT_EQ(DoPadding(nullptr, 3, 16), -1);
  uint8_t buf[16];
  EXPECT_EQ(DoPadding(buf, -1, 16), -1);
  EXPECT_EQ(DoPaddingOnlyFinal(buf, 3, 0), -1);
}

}  // namespace
