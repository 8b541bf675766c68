// The encrypted file header byte for byte, its detection and verification,
// and the small exported format helpers (header line, digest header, line
// scanner, time stamps). OpenSSL's SHA-256 and Base64 are the references.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "qor/qorfile.h"
#include "support/bytes.h"
#include "support/test_support.h"

namespace {

using qor::test::Bytes;
using qor::test::ReadFile;
using qor::test::TempDir;
using qor::test::WriteFile;

Bytes Filled(size_t n, uint8_t first) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
  return b;
}

void Append(Bytes& out, const Bytes& part) { out.insert(out.end(), part.begin(), part.end()); }

// The header as the format lays it out, field after field.
Bytes ExpectedHeader(uint8_t type, uint64_t time, const std::string& address,
                     const std::string& name, int version, const Bytes& cipherDigest,
                     const Bytes& plainDigest, const Bytes& iv) {
  Bytes h = {0xFE, type};
  for (int i = 7; i >= 0; --i) h.push_back(static_cast<uint8_t>(time >> (8 * i)));
  Bytes field(15, 0);
  std::memcpy(field.data(), address.data(), std::min<size_t>(15, address.size()));
  Append(h, field);
  field.assign(128, 0);
  std::memcpy(field.data(), name.data(), std::min<size_t>(128, name.size()));
  Append(h, field);
  if (version >= 0) {
    h.push_back(static_cast<uint8_t>(version >> 8));
    h.push_back(static_cast<uint8_t>(version));
  }
  Append(h, cipherDigest);
  Append(h, plainDigest);
  Append(h, iv);
  for (char c : std::string("UXFENC")) h.push_back(static_cast<uint8_t>(c));
  return h;
}

struct HeaderCase {
  const char* desc;
  int type;
  uint16_t version;
  std::string address;
  std::string name;
  size_t size;
};

TEST(FileHeader, LaysOutEveryFieldOfBothTypes) {
  const Bytes plain = Filled(32, 0x10);
  const Bytes cipher = Filled(32, 0x80);
  const Bytes iv = Filled(16, 0xC0);
  const uint64_t time = 0x0102030405060708ULL;
  const HeaderCase cases[] = {
      {"type 1, short texts", 1, 0, "10.0.0.1", "policy.a", 239},
      {"type 2, version 0x0102", 2, 0x0102, "192.168.100.200", "policy.b", 241},
      {"address cut at 15, name of 128", 2, 7, "123.123.123.123X", std::string(130, 'n'), 241},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.desc);
    unsigned char out[QOR_FILE_HEADER_MAX + 8];
    std::memset(out, 0xEE, sizeof(out));
    int length = 0;
    ErrorInfo error{};
    ASSERT_EQ(0, GenerateFileHeaderData(c.type, plain.data(), cipher.data(),
                                        static_cast<int64_t>(time),
                                        static_cast<int>(c.address.size()), c.address.c_str(),
                                        static_cast<int>(c.name.size()), c.name.c_str(),
                                        c.version, &error, out, &length, 16, iv.data()));
    ASSERT_EQ(static_cast<int>(c.size), length);
    const Bytes expected = ExpectedHeader(static_cast<uint8_t>(c.type), time, c.address, c.name,
                                          c.version != 0 ? c.version : -1, cipher, plain, iv);
    EXPECT_EQ(qor::test::ToHex(expected), qor::test::ToHex(out, c.size));
    EXPECT_EQ(0xEE, out[c.size]) << "nothing written past the header";
  }
}

TEST(FileHeader, VersionMagicAndIvBlockSitAtTheirOffsets) {
  const Bytes zero(32, 0);
  const Bytes iv = Filled(16, 1);
  unsigned char out[QOR_FILE_HEADER_MAX];
  int length = 0;
  ErrorInfo error{};
  ASSERT_EQ(0, GenerateFileHeaderData(2, zero.data(), zero.data(), 1, 1, "x", 1, "k", 0x0102,
                                      &error, out, &length, 16, iv.data()));
  EXPECT_EQ(0x01, out[153]);
  EXPECT_EQ(0x02, out[154]);
  EXPECT_EQ(0, std::memcmp(out + 219, iv.data(), 16));
  EXPECT_EQ(0, std::memcmp(out + 235, "UXFENC", 6));
  ASSERT_EQ(0, GenerateFileHeaderData(1, zero.data(), zero.data(), 1, 1, "x", 1, "k", 0, &error,
                                      out, &length, 16, iv.data()));
  EXPECT_EQ(0, std::memcmp(out + 217, iv.data(), 16));
  EXPECT_EQ(0, std::memcmp(out + 233, "UXFENC", 6));
}

TEST(FileHeader, MissingInputsAreRefused) {
  const Bytes d(32, 0);
  const Bytes iv(16, 0);
  unsigned char out[QOR_FILE_HEADER_MAX];
  int length = 0;
  struct Case {
    const char* desc;
    const unsigned char* plain;
    const unsigned char* cipher;
    int64_t time;
    const char* address;
    const char* name;
    unsigned char* out;
  } cases[] = {
      {"no plaintext digest", nullptr, d.data(), 5, "a", "k", out},
      {"no ciphertext digest", d.data(), nullptr, 5, "a", "k", out},
      {"time 0", d.data(), d.data(), 0, "a", "k", out},
      {"no address", d.data(), d.data(), 5, nullptr, "k", out},
      {"no key name", d.data(), d.data(), 5, "a", nullptr, out},
      {"no output", d.data(), d.data(), 5, "a", "k", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    ErrorInfo error{};
    EXPECT_EQ(-1, GenerateFileHeaderData(1, c.plain, c.cipher, c.time, 1, c.address, 1, c.name, 0,
                                         &error, c.out, &length, 16, iv.data()));
    EXPECT_EQ(1, error.code);
    EXPECT_STREQ("input-params are null", error.message);
  }
}

// A file whose first bytes are a header of |type| with the magic where
// |magicAt| says, followed by |body| bytes.
std::string HeaderFile(uint8_t type, size_t magicAt, size_t body, uint8_t marker = 0xFE) {
  std::string s(magicAt + 6 + body, '\x33');
  s[0] = static_cast<char>(marker);
  s[1] = static_cast<char>(type);
  std::memcpy(s.data() + magicAt, "UXFENC", 6);
  return s;
}

TEST(FileHeader, DetectionByMarkerMagicAndLength) {
  TempDir dir;
  struct Case {
    const char* desc;
    std::string content;
    int expected;
  } cases[] = {
      {"type 2 at 235", HeaderFile(2, 235, 0), 0},
      {"type 1 at 233 with 2 body bytes", HeaderFile(1, 233, 2), 0},
      {"type 1 at 233 with 1 body byte: 240 bytes", HeaderFile(1, 233, 1), 1},
      {"type 1 header alone: 239 bytes", HeaderFile(1, 233, 0), 1},
      {"type 2 byte with the magic at 233", HeaderFile(2, 233, 2), 1},
      {"type 1 byte with the magic at 235", HeaderFile(1, 235, 0), 1},
      {"other type byte counts as type 1", HeaderFile(7, 233, 2), 0},
      {"wrong marker", HeaderFile(2, 235, 0, 0xFD), 1},
      {"magic half right", [] {
         std::string s = HeaderFile(2, 235, 0);
         s[239] = 'X';
         return s;
       }(), 1},
      {"empty file", "", 1},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    const std::string path = dir / ("f" + std::to_string(n++));
    WriteFile(path, c.content);
    EXPECT_EQ(c.expected, QORCrypto_IsEnc_API_File(path.c_str()));
  }
  EXPECT_EQ(4, QORCrypto_IsEnc_API_File((dir / "missing").c_str()));
  EXPECT_EQ(4, QORCrypto_IsEnc_API_File(nullptr));
}

// A header file with given digests, read back through VerifyFileHeader.
struct VerifyOutcome {
  int result;
  FileResult record;
  ErrorInfo error;
};

VerifyOutcome Verify(const TempDir& dir, int type, const Bytes& storedPlain,
                     const Bytes& storedCipher, const Bytes& plain, const Bytes& cipher,
                     int verify) {
  unsigned char header[QOR_FILE_HEADER_MAX] = {};
  int length = 0;
  const Bytes iv(16, 9);
  ErrorInfo scratch{};
  EXPECT_EQ(0, GenerateFileHeaderData(type, storedPlain.data(), storedCipher.data(), 9, 1, "a", 1,
                                      "k", type == 2 ? 3 : 0, &scratch, header, &length, 16,
                                      iv.data()));
  const std::string path = dir / "verify";
  WriteFile(path, std::string(reinterpret_cast<char*>(header), length) + std::string(16, 'b'));
  VerifyOutcome o{};
  FILE* f = std::fopen(path.c_str(), "rb");
  o.result = VerifyFileHeader(f, plain.data(), cipher.data(), verify, &o.record, &o.error);
  EXPECT_EQ(241, std::ftell(f)) << "the stream stays after the bytes read";
  std::fclose(f);
  return o;
}

TEST(FileHeader, VerificationReportsEachDigest) {
  TempDir dir;
  const Bytes p = Filled(32, 1);
  const Bytes c = Filled(32, 100);
  const Bytes other = Filled(32, 200);
  struct Case {
    const char* desc;
    int type;
    bool plainMatches, cipherMatches;
    int verify;
    int result, plainFlag, cipherFlag;
    const char* message;
  } cases[] = {
      {"off: nothing compared", 2, false, false, 0, 0, 0, 0, ""},
      {"both match, type 2", 2, true, true, 1, 0, 1, 1, ""},
      {"both match, type 1", 1, true, true, 1, 0, 1, 1, ""},
      {"plaintext differs", 2, false, true, 1, -1, 0, 1,
       "Decrypt failure : header verification failure (srcFile Hash)"},
      {"ciphertext differs", 1, true, false, 1, -1, 1, 0,
       "Decrypt failure : header verification failure (Encrypted-File Hash)"},
      {"both differ: ciphertext error last", 2, false, false, 1, -1, 0, 0,
       "Decrypt failure : header verification failure (Encrypted-File Hash)"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.desc);
    const VerifyOutcome o =
        Verify(dir, k.type, p, c, k.plainMatches ? p : other, k.cipherMatches ? c : other, k.verify);
    EXPECT_EQ(k.result, o.result);
    EXPECT_EQ(k.plainFlag, o.record.plaintextVerified);
    EXPECT_EQ(k.cipherFlag, o.record.ciphertextVerified);
    EXPECT_STREQ(k.message, o.error.message);
  }
}

TEST(FileHeader, ShortStreamFailsVerification) {
  TempDir dir;
  const std::string path = dir / "short";
  WriteFile(path, std::string(240, 'x'));
  FILE* f = std::fopen(path.c_str(), "rb");
  FileResult record{};
  ErrorInfo error{};
  const Bytes d(32, 0);
  EXPECT_EQ(-1, VerifyFileHeader(f, d.data(), d.data(), 0, &record, &error));
  EXPECT_STREQ("Fail to Read FileHeader", error.message);
  std::fclose(f);
}

Bytes Sha256(const void* p, size_t n) {
  Bytes out(32);
  SHA256(static_cast<const unsigned char*>(p), n, out.data());
  return out;
}

TEST(FileFormat, HeaderLineIsBase64OfTextAndItsDigest) {
  const std::string text = "ULVEX|TYPE[LINE]|";
  ASSERT_EQ(17u, text.size());
  Bytes raw(text.begin(), text.end());
  Append(raw, Sha256(text.data(), text.size()));
  std::string b64(4 * ((raw.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(b64.data()), raw.data(),
                                static_cast<int>(raw.size()));
  b64.resize(static_cast<size_t>(n));
  const std::string expected = "$." + b64;

  TempDir dir;
  const std::string path = dir / "line";
  WriteFile(path, std::string(100, '#'));
  FILE* f = std::fopen(path.c_str(), "rb+");
  ErrorInfo error{};
  ASSERT_EQ(0, AddFileHeaderLine(f, &error));
  std::fclose(f);
  const std::string content = ReadFile(path);
  EXPECT_EQ(expected, content.substr(0, expected.size()));
  EXPECT_EQ(std::string(100 - expected.size(), '#'), content.substr(expected.size()));

  EXPECT_EQ(-1, AddFileHeaderLine(nullptr, &error));
  EXPECT_STREQ("input-params are null", error.message);
  EXPECT_EQ(-1, AddFileHeaderLineFD(0, &error));
}

TEST(FileFormat, DigestHeaderChainsTwoDigests) {
  const std::string data = "some data to digest";
  unsigned char out[QOR_FILE_DIGEST_HEADER_SIZE + 4];
  int length = 0;
  ErrorInfo error{};
  ASSERT_EQ(0, GenerateFileHeader(reinterpret_cast<const unsigned char*>(data.data()),
                                  static_cast<int>(data.size()), &error, out, &length));
  ASSERT_EQ(76, length);
  Bytes expected;
  for (char c : std::string("1.100000204T")) expected.push_back(static_cast<uint8_t>(c));
  Append(expected, Sha256(data.data(), data.size()));
  Append(expected, Sha256(expected.data(), expected.size()));
  EXPECT_EQ(qor::test::ToHex(expected), qor::test::ToHex(out, 76));
  EXPECT_EQ(-1, GenerateFileHeader(reinterpret_cast<const unsigned char*>(data.data()), 0, &error,
                                   out, &length));
  EXPECT_STREQ("input-params are null", error.message);
}

TEST(FileFormat, LineScannerFindsEachTerminator) {
  struct Case {
    const char* desc;
    std::string buffer;
    int status;
    int length;
    std::string terminator;
  } cases[] = {
      {"LF", "abc\nrest", 1, 3, "\n"},
      {"CR", "abc\rrest", 1, 3, "\r"},
      {"CR LF", "ab\r\nrest", 1, 2, "\r\n"},
      {"LF CR", "ab\n\rrest", 1, 2, "\n\r"},
      {"CR CR", "ab\r\rrest", 1, 2, "\r\r"},
      {"LF LF", "ab\n\nrest", 1, 2, "\n\n"},
      {"empty line", "\nabc", 2, 0, "\n"},
      {"no terminator", "abc", 3, 3, ""},
      {"empty buffer", "", 3, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desc);
    FileLineInfo line{};
    line.bufferLength = static_cast<int32_t>(c.buffer.size());
    EXPECT_EQ(c.status, FindFileLine(c.buffer.data(), &line));
    EXPECT_EQ(c.status, line.status);
    EXPECT_EQ(c.length, line.length);
    EXPECT_EQ(c.buffer.data(), line.start);
    EXPECT_EQ(c.buffer.data() + c.length, line.end);
    ASSERT_EQ(static_cast<int>(c.terminator.size()), line.terminatorCount);
    for (size_t i = 0; i < c.terminator.size(); ++i) {
      EXPECT_EQ(static_cast<unsigned char>(c.terminator[i]), line.terminator[i]);
    }
  }
}

TEST(FileFormat, LocalTimeTextMatchesTheClock) {
  auto format = [](time_t t) {
    tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y%m%d %H%M%S", &local);
    return std::string(text);
  };
  const time_t before = std::time(nullptr);
  char text[32];
  std::memset(text, 'z', sizeof(text));
  GetCurrentLocalTime(text);
  const int64_t seconds = GetCurrentLocalTime_time_t();
  const time_t after = std::time(nullptr);
  EXPECT_EQ(15u, std::strlen(text));
  EXPECT_TRUE(format(before) == text || format(after) == text) << text;
  EXPECT_GE(seconds, static_cast<int64_t>(before));
  EXPECT_LE(seconds, static_cast<int64_t>(after));
  GetCurrentLocalTime(nullptr);  // nothing to write into: nothing happens
}

}  // namespace
