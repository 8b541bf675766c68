// Hexadecimal texts and the hex-dump layouts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "qor/qoutil.h"
#include "support/test_support.h"

namespace {

const std::string kHeader = "================== BINARY HEX ================= ==== ASCII =====\n";
const std::string kFooter = "---------------------------------------------------------------\n";

UString Bytes(const std::string& bytes) {
  return UString{static_cast<uint32_t>(bytes.size()), const_cast<char*>(bytes.data())};
}

TEST(QOUtilHex, HexaAndEncStrings) {
  struct Case {
    std::string bytes;
    const char* hexa;
    const char* enc;
  };
  const Case cases[] = {
      {std::string("\x0A\xFF", 2), "0AFF", "!+00"},
      {std::string("\x0A", 1), "0A", "!+"},
      {std::string("\x00\x01\x7F\x80", 4), "00017F80", "!!!\"(0)!"},
      {"", "", ""},
      {"\xDE\xAD\xBE\xEF", "DEADBEEF", "./+.,//0"},
  };
  for (const Case& c : cases) {
    const UString in = Bytes(c.bytes);
    UString out{};
    ASSERT_EQ(QOUtil_byte2HexaString(&in, &out), 0);
    EXPECT_STREQ(out.data, c.hexa);
    EXPECT_EQ(out.length, 2 * c.bytes.size());
    FreeUString(&out);
    ASSERT_EQ(QOUtil_byte2EncString(&in, &out), 0);
    EXPECT_STREQ(out.data, c.enc);
    EXPECT_EQ(out.length, 2 * c.bytes.size());
    FreeUString(&out);
  }
  // The encoded form maps each half-byte h to the character h + 33.
  const std::string all = [] {
    std::string s;
    for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
    return s;
  }();
  const UString in = Bytes(all);
  UString out{};
  ASSERT_EQ(QOUtil_byte2EncString(&in, &out), 0);
  ASSERT_EQ(out.length, 512u);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(out.data[2 * i], static_cast<char>((i >> 4) + 33));
    EXPECT_EQ(out.data[2 * i + 1], static_cast<char>((i & 15) + 33));
  }
  EXPECT_EQ(out.data[512], '\0');
  FreeUString(&out);

  EXPECT_EQ(QOUtil_byte2HexaString(nullptr, &out), -1);
  EXPECT_EQ(QOUtil_byte2HexaString(&in, nullptr), -1);
  EXPECT_EQ(QOUtil_byte2EncString(nullptr, &out), -1);
  const UString broken{4, nullptr};
  EXPECT_EQ(QOUtil_byte2EncString(&broken, &out), -1);
}

TEST(QOUtilHex, EncStringFirstCase) {
  // 0x0A gives the two characters ! and +.
  const std::string byte("\x0A", 1);
  const UString in = Bytes(byte);
  UString out{};
  ASSERT_EQ(QOUtil_byte2EncString(&in, &out), 0);
  EXPECT_STREQ(out.data, "!+");
  FreeUString(&out);
}

// 20 bytes: a full line and a partial line of 4.
const std::string kSample = std::string("ABCDEFGHIJKLMNOP") + std::string("\x00\x7F~ ", 4);
const std::string kSampleLines =
    "41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50 ABCDEFGHIJKLMNOP\n"
    "00 7f 7e 20 " + std::string(12 * 3, ' ') + "..~ \n";

TEST(QOUtilHex, Bin2DisplayToStdout) {
  testing::internal::CaptureStdout();
  bin2display("sample", reinterpret_cast<const unsigned char*>(kSample.data()),
              static_cast<int>(kSample.size()), 1);
  NC_bin2display("empty", nullptr, 0, 1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "sample (20)\n" + kHeader + kSampleLines + kFooter + "empty (0)\n" + kHeader +
                     kFooter);
}

TEST(QOUtilHex, Bin2DisplayAppendsToItsFile) {
  qor::test::TempDir dir;
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  const auto* bytes = reinterpret_cast<const unsigned char*>("0123456789abcdef");
  NC_bin2display("one", bytes, 16, 0);
  NC_bin2display("two", bytes, 1, 0);
  bin2display("three", bytes, 2, 0);
  ASSERT_EQ(chdir(previous), 0);

  const std::string line16 =
      "30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66 0123456789abcdef\n";
  EXPECT_EQ(qor::test::ReadFile(dir / "out"),
            "one (16)\n" + kHeader + line16 + kFooter + "two (1)\n" + kHeader + "30 " +
                std::string(15 * 3, ' ') + "0\n" + kFooter);
  EXPECT_EQ(qor::test::ReadFile(dir / "qor_bin2display.out"),
            "three (2)\n" + kHeader + "30 31 " + std::string(14 * 3, ' ') + "01\n" + kFooter);
}

TEST(QOUtilHex, Bin2DisplayText) {
  const UString in = Bytes(kSample);
  UString out{};
  ASSERT_EQ(QOUtil_bin2display(&in, &out), 0);
  const std::string expected =
      kHeader + kSampleLines + "----------------------------------------------- ----------------\n\n";
  EXPECT_EQ(std::string(out.data), expected);
  EXPECT_EQ(out.length, expected.size());
  FreeUString(&out);

  // Every byte that is not printable ASCII is shown as ".".
  std::string high;
  for (int i = 0; i < 16; ++i) high += static_cast<char>(0x80 + i * 8);
  const UString highIn = Bytes(high);
  ASSERT_EQ(QOUtil_bin2display(&highIn, &out), 0);
  EXPECT_NE(std::string(out.data).find("................\n"), std::string::npos);
  FreeUString(&out);

  EXPECT_EQ(QOUtil_bin2display(nullptr, &out), -1);
  EXPECT_EQ(QOUtil_bin2display(&in, nullptr), -1);
}

}  // namespace
