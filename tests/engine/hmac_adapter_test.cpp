// Keyed digests against OpenSSL, and the refused arguments with their messages.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdlib>
#include <random>
#include <string>

#include "qor/cipher_util.h"
#include "support/bytes.h"
#include "support/log_capture.h"

namespace {

using qor::test::Bytes;
using qor::test::RandomBytes;

using HmacAdapter = int (*)(const DataBuffer*, const DataBuffer*, DataBuffer*);

struct Variant {
  HmacAdapter adapter;
  const EVP_MD* (*md)();
  const char* name;
};
const Variant kVariants[] = {{doHMACDigest, EVP_sha1, "doHMACDigest"},
                             {doHMACDigest256, EVP_sha256, "doHMACDigest256"}};

DataBuffer View(Bytes& b) { return DataBuffer{static_cast<int32_t>(b.size()), b.data()}; }

TEST(HmacAdapter, MatchesOpenSsl) {
  std::mt19937 rng(3);
  for (const Variant& v : kVariants) {
    for (size_t keyLen : {1u, 20u, 63u, 64u}) {
      for (size_t dataLen : {1u, 55u, 64u, 65u, 1000u}) {
        Bytes key = RandomBytes(rng, keyLen);
        Bytes data = RandomBytes(rng, dataLen);
        DataBuffer k = View(key), d = View(data), out{};
        ASSERT_EQ(v.adapter(&d, &k, &out), 0);
        unsigned char expected[EVP_MAX_MD_SIZE];
        unsigned int expectedLen = 0;
        HMAC(v.md(), key.data(), static_cast<int>(keyLen), data.data(), dataLen, expected, &expectedLen);
        ASSERT_EQ(out.length, static_cast<int32_t>(expectedLen)) << v.name;
        EXPECT_EQ(Bytes(out.data, out.data + out.length), Bytes(expected, expected + expectedLen))
            << v.name << " key " << keyLen << " data " << dataLen;
        EXPECT_EQ(out.data[out.length], 0);
        std::free(out.data);
      }
    }
  }
}

TEST(HmacAdapter, RefusesBadArguments) {
  // EUC-KR texts of the three messages.
  const std::string nullMsg = "\xc0\xd4\xb7\xc2 \xb0\xaa\xc1\xdf\xbf\xa1 NULL\xb0\xaa\xc0\xcc \xc6\xf7\xc7\xd4"
                              "\xb5\xc7\xbe\xee \xc0\xd6\xb4\xd9.\n";
  const std::string shortMsg = "pIn\xb0\xaa\xc0\xc7 \xb1\xe6\xc0\xcc\xb0\xa1 0\xba\xb8\xb4\xd9 \xc0\xdb\xb4\xd9.\n";
  const std::string keyMsg = "pKey\xb0\xaa\xc0\xc7 \xb1\xe6\xc0\xcc\xb0\xa1 \xc0\xdf\xb8\xf8 \xb5\xc7\xbe\xfa\xbd"
                             "\xc0\xb4\xcf\xb4\xd9. pKey->length = [";
  Bytes data(10, 1), key65(65, 2), key64(64, 2);
  for (const Variant& v : kVariants) {
    struct Case {
      DataBuffer data;
      DataBuffer key;
      bool nullOut;
      std::string message;
    } const cases[] = {
        {View(data), View(key65), false, keyMsg + "65]\n"},
        {View(data), DataBuffer{0, key64.data()}, false, keyMsg + "0]\n"},
        {View(data), DataBuffer{-3, key64.data()}, false, keyMsg + "-3]\n"},
        {DataBuffer{0, data.data()}, View(key64), false, shortMsg},
        {DataBuffer{10, nullptr}, View(key64), false, nullMsg},
        {View(data), DataBuffer{64, nullptr}, false, nullMsg},
        {View(data), View(key64), true, nullMsg},
    };
    for (const Case& c : cases) {
      qor::test::LogCapture log;
      ASSERT_TRUE(log.ok());
      DataBuffer out{};
      EXPECT_EQ(v.adapter(&c.data, &c.key, c.nullOut ? nullptr : &out), -1);
      EXPECT_EQ(out.data, nullptr);
      const std::string text = log.text();
      EXPECT_NE(text.find(std::string(v.name) + " [source/Crypto/CuHMAC:"), std::string::npos) << text;
      EXPECT_NE(text.find("] >> " + c.message), std::string::npos) << v.name << ": " << text;
    }
  }
}

}  // namespace
