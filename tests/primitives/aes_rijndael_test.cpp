// Reference AES interface: standard vectors, OpenSSL cross-checks and the
// CBC helpers, on both the AES-instruction and the table path.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "primitives/aes/aes_internal.h"
#include "qor/rijndael.h"
#include "support/bytes.h"
#include "support/evp_oracle.h"
#include "support/kernel_paths.h"

namespace {

using qor::test::Bytes;
using qor::test::EvpCrypt;
using qor::test::FromHex;

const EVP_CIPHER* Ecb(size_t keyLen) {
  return keyLen == 16 ? EVP_aes_128_ecb() : keyLen == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
}


// Runs every test on each implementation this processor can run.
class RijndaelTest : public qor::test::KernelPathTest<qor::aes::g_kernels> {};

TEST_P(RijndaelTest, StandardVectors) {
  struct Case {
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Case cases[] = {
      {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
      {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
       "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00112233445566778899aabbccddeeff",
       "8ea2b7ca516745bfeafc49904b496089"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    const Bytes key = FromHex(c.key), plain = FromHex(c.plain), cipher = FromHex(c.cipher);
    const int bits = static_cast<int>(key.size() * 8);
    uint32_t rk[4 * (RIJNDAEL_MAXNR + 1)];
    uint8_t out[16];
    const int nr = rijndaelKeySetupEnc(rk, key.data(), bits);
    EXPECT_EQ(bits / 32 + 6, nr);
    rijndaelEncrypt(rk, nr, plain.data(), out);
    EXPECT_EQ(cipher, Bytes(out, out + 16));
    ASSERT_EQ(nr, rijndaelKeySetupDec(rk, key.data(), bits));
    rijndaelDecrypt(rk, nr, cipher.data(), out);
    EXPECT_EQ(plain, Bytes(out, out + 16));
  }
}

TEST_P(RijndaelTest, FirstRoundKeyWordsAreBigEndian) {
  // Callers that keep the schedule rely on the classic word layout.
  const Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  uint32_t rk[4 * (RIJNDAEL_MAXNR + 1)];
  ASSERT_EQ(10, rijndaelKeySetupEnc(rk, key.data(), 128));
  EXPECT_EQ(0x2b7e1516u, rk[0]);
  EXPECT_EQ(0xa0fafe17u, rk[4]);   // first expanded word
  EXPECT_EQ(0xb6630ca6u, rk[43]);  // last expanded word
}

TEST_P(RijndaelTest, RejectsBadKeySizes) {
  const uint8_t key[32] = {};
  uint32_t rk[4 * (RIJNDAEL_MAXNR + 1)];
  for (int bits : {0, 64, 127, 129, 160, 255, 512}) {
    EXPECT_EQ(0, rijndaelKeySetupEnc(rk, key, bits)) << bits;
    EXPECT_EQ(0, rijndaelKeySetupDec(rk, key, bits)) << bits;
  }
}

TEST_P(RijndaelTest, MatchesOpenSslOnRandomKeys) {
  std::mt19937 rng(1234);
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (int trial = 0; trial < 200; ++trial) {
      Bytes key(keyLen), block(16);
      for (auto& b : key) b = static_cast<uint8_t>(rng());
      for (auto& b : block) b = static_cast<uint8_t>(rng());
      const int bits = static_cast<int>(keyLen * 8);
      uint32_t ek[4 * (RIJNDAEL_MAXNR + 1)], dk[4 * (RIJNDAEL_MAXNR + 1)];
      const int nr = rijndaelKeySetupEnc(ek, key.data(), bits);
      ASSERT_EQ(nr, rijndaelKeySetupDec(dk, key.data(), bits));
      uint8_t ct[16], pt[16];
      rijndaelEncrypt(ek, nr, block.data(), ct);
      ASSERT_EQ(EvpCrypt(Ecb(keyLen), true, false, key, nullptr, block), Bytes(ct, ct + 16));
      rijndaelDecrypt(dk, nr, ct, pt);
      ASSERT_EQ(block, Bytes(pt, pt + 16));
      rijndaelEncrypt(ek, nr, ct, ct);  // same buffer in and out
      ASSERT_EQ(EvpCrypt(Ecb(keyLen), true, false, key, nullptr, EvpCrypt(Ecb(keyLen), true, false, key, nullptr, block)),
                Bytes(ct, ct + 16));
    }
  }
}

TEST_P(RijndaelTest, Cbc128MatchesOpenSsl) {
  std::mt19937 rng(99);
  for (size_t len : {0u, 16u, 32u, 48u, 128u, 144u, 1024u}) {
    Bytes key(16), iv(16), plain(len);
    for (auto& b : key) b = static_cast<uint8_t>(rng());
    for (auto& b : iv) b = static_cast<uint8_t>(rng());
    for (auto& b : plain) b = static_cast<uint8_t>(rng());
    const Bytes expected = EvpCrypt(EVP_aes_128_cbc(), true, false, key, iv.data(), plain);
    Bytes cipher(len);
    ASSERT_EQ(0, aes_128_cbc_encrypt(key.data(), iv.data(), plain.data(), cipher.data(), len));
    EXPECT_EQ(expected, cipher) << len;
    Bytes inPlace = cipher;
    ASSERT_EQ(0, aes_128_cbc_decrypt(key.data(), iv.data(), inPlace.data(), inPlace.data(), len));
    EXPECT_EQ(plain, inPlace) << len;
  }
  uint8_t buf[32] = {};
  const uint8_t key[16] = {}, iv[16] = {};
  EXPECT_EQ(-1, aes_128_cbc_encrypt(key, iv, buf, buf, 17));
  EXPECT_EQ(-1, aes_128_cbc_decrypt(key, iv, buf, buf, 15));
  EXPECT_EQ(-1, aes_128_cbc_encrypt(nullptr, iv, buf, buf, 16));
}

QOR_INSTANTIATE_KERNEL_PATHS(RijndaelTest, qor::aes::g_kernels);

}  // namespace
