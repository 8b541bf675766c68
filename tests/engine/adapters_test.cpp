// Block-cipher adapters: the stored layout rebuilt with OpenSSL or Crypto++,
// the padding and compatibility rules of decryption, argument checks, and one
// key version shared by many threads.
#include <algorithm>
#include <crypto++/des.h>
#include <crypto++/lea.h>
#include <crypto++/seed.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "qor/cipher_util.h"
#include "support/bytes.h"
#include "support/cryptopp_oracle.h"
#include "support/evp_oracle.h"
#include "support/log_capture.h"

namespace {

using qor::test::Bytes;
using qor::test::CryptoppCbc;
using qor::test::EvpCrypt;
using qor::test::Pkcs7Pad;
using qor::test::RandomBytes;

// Whole-block cipher with the policy key and IV, no padding of its own.
using Oracle = Bytes (*)(bool encrypt, const Bytes& key, const uint8_t* iv, const Bytes& in);

template <const EVP_CIPHER* (*kCipher)()>
Bytes Evp(bool encrypt, const Bytes& key, const uint8_t* iv, const Bytes& in) {
  if (in.empty()) return {};
  return EvpCrypt(kCipher(), encrypt, false, key, iv, in);
}

template <class Cipher>
Bytes Cpp(bool encrypt, const Bytes& key, const uint8_t* iv, const Bytes& in) {
  return CryptoppCbc<Cipher>(encrypt, key, iv, in);
}

struct CipherCase {
  const char* name;
  uint32_t code;
  size_t keyLen;
  int32_t mode;
  int block;
  Oracle oracle;
};

const CipherCase kCiphers[] = {
    {"SEED", QOR_ALG_SEED, 16, 0, 16, Cpp<CryptoPP::SEED>},
    {"ARIA128-CBC", QOR_ALG_ARIA128, 16, 0, 16, Evp<EVP_aria_128_cbc>},
    {"ARIA128-ECB", QOR_ALG_ARIA128, 16, 1, 16, Evp<EVP_aria_128_ecb>},
    {"ARIA128-CTR", QOR_ALG_ARIA128, 16, 2, 16, Evp<EVP_aria_128_ctr>},
    {"ARIA256-CBC", QOR_ALG_ARIA256, 32, 0, 16, Evp<EVP_aria_256_cbc>},
    {"ARIA256-CTR", QOR_ALG_ARIA256, 32, 2, 16, Evp<EVP_aria_256_ctr>},
    {"AES128-CBC", QOR_ALG_AES128, 16, 0, 16, Evp<EVP_aes_128_cbc>},
    {"AES128-ECB", QOR_ALG_AES128, 16, 1, 16, Evp<EVP_aes_128_ecb>},
    {"AES128-mode2", QOR_ALG_AES128, 16, 2, 16, Evp<EVP_aes_128_cbc>},  // AES runs CBC for code 2
    {"AES128-OFB", QOR_ALG_AES128, 16, 3, 16, Evp<EVP_aes_128_ofb>},
    {"AES128-CFB", QOR_ALG_AES128, 16, 4, 16, Evp<EVP_aes_128_cfb128>},
    {"AES256-CBC", QOR_ALG_AES256, 32, 0, 16, Evp<EVP_aes_256_cbc>},
    {"AES256-ECB", QOR_ALG_AES256, 32, 1, 16, Evp<EVP_aes_256_ecb>},
    {"AES256-mode2", QOR_ALG_AES256, 32, 2, 16, Evp<EVP_aes_256_cbc>},
    {"DES3-2key", QOR_ALG_DES3_2KEY, 16, 0, 8, Cpp<CryptoPP::DES_EDE2>},
    {"DES3-2key-b", QOR_ALG_DES3_2KEY_B, 16, 0, 8, Cpp<CryptoPP::DES_EDE2>},
    {"DES3-3key", QOR_ALG_DES3_3KEY, 24, 0, 8, Cpp<CryptoPP::DES_EDE3>},
    {"LEA128", QOR_ALG_LEA128, 16, 0, 16, Cpp<CryptoPP::LEA>},
    {"LEA192", QOR_ALG_LEA128, 24, 0, 16, Cpp<CryptoPP::LEA>},
    {"LEA256", QOR_ALG_LEA256, 32, 0, 16, Cpp<CryptoPP::LEA>},
};

struct RecordDeleter {
  void operator()(CipherUtil* r) const { CipherUtil_Destroy(r); }
};
using Record = std::unique_ptr<CipherUtil, RecordDeleter>;

Record MakeRecord(const CipherCase& c, Bytes key) {
  auto* r = static_cast<CipherUtil*>(std::calloc(1, sizeof(CipherUtil)));
  r->mode = c.mode;
  DataBuffer k{static_cast<int32_t>(key.size()), key.data()};
  EXPECT_EQ(CipherUtil_Create(c.code, &k, nullptr, r), 0) << c.name;
  return Record(r);
}

struct Result {
  int rc;
  int32_t length;
  Bytes bytes;  // |length| bytes when it is not negative
};

Result Take(int rc, DataBuffer& out) {
  Result r{rc, out.length, {}};
  if (rc == 0 && out.data != nullptr && out.length >= 0) {
    EXPECT_EQ(out.data[out.length], 0) << "no terminating zero";
    r.bytes.assign(out.data, out.data + out.length);
  }
  std::free(out.data);
  return r;
}

// Encrypts through the table; |plain| is copied into a buffer with the spare
// block the adapters pad into.
Result Encrypt(const CipherUtil& r, const Bytes& plain, const uint8_t* iv, uint16_t version, int32_t recordIv) {
  Bytes buf(plain.size() + 17);
  std::copy(plain.begin(), plain.end(), buf.begin());
  DataBuffer in{static_cast<int32_t>(plain.size()), buf.data()}, out{};
  return Take(EncryptFunctions[r.algType](&in, r.pEKey, iv, &out, version, recordIv, 0), out);
}

Result Decrypt(const CipherUtil& r, Bytes cipher, const uint8_t* iv, int32_t nullProcess = 0,
               int32_t compatibility = 0) {
  DataBuffer in{static_cast<int32_t>(cipher.size()), cipher.data()}, out{};
  return Take(DecryptFunctions[r.algType](&in, r.pDKey, iv, &out, nullProcess, compatibility), out);
}

TEST(BlockAdapters, LayoutMatchesIndependentCiphers) {
  std::mt19937 rng(41);
  const struct {
    uint16_t version;
    int32_t recordIv;
  } frames[] = {{0, 0}, {1, 0}, {0x1234, 1}, {0, 1}, {0xFFFF, 1}};
  for (const CipherCase& c : kCiphers) {
    SCOPED_TRACE(c.name);
    const Bytes key = RandomBytes(rng, c.keyLen);
    Record rec = MakeRecord(c, key);
    for (size_t len : {0u, 1u, 5u, 7u, 8u, 15u, 16u, 17u, 31u, 100u, 1000u}) {
      for (const auto& f : frames) {
        Bytes plain = RandomBytes(rng, len);
        if (len == 1) plain[0] = 'A';  // not a null marker
        const Bytes iv = RandomBytes(rng, 16);
        const Bytes cipher = c.oracle(true, key, iv.data(), Pkcs7Pad(plain, static_cast<size_t>(c.block)));
        Bytes expected;
        if (f.version != 0) expected = {static_cast<uint8_t>(f.version >> 8), static_cast<uint8_t>(f.version), 0xFE};
        expected.insert(expected.end(), cipher.begin(), cipher.end());
        if (f.recordIv != 0) expected.insert(expected.end(), iv.begin(), iv.begin() + 4);

        const Result enc = Encrypt(*rec, plain, iv.data(), f.version, f.recordIv);
        ASSERT_EQ(enc.rc, 0);
        EXPECT_EQ(enc.bytes, expected) << "length " << len << " version " << f.version;

        const Result dec = Decrypt(*rec, cipher, iv.data());
        ASSERT_EQ(dec.rc, 0);
        EXPECT_EQ(dec.bytes, plain) << "length " << len;
      }
    }
  }
}

TEST(BlockAdapters, StatedSizes) {
  std::mt19937 rng(42);
  const Bytes iv = RandomBytes(rng, 16);
  Record aes = MakeRecord(kCiphers[6], RandomBytes(rng, 16));
  EXPECT_EQ(Encrypt(*aes, Bytes(16, 'v'), iv.data(), 1, 0).bytes.size(), 35u);
  const Result withIv = Encrypt(*aes, Bytes(16, 'v'), iv.data(), 1, 1);
  ASSERT_EQ(withIv.bytes.size(), 39u);
  EXPECT_EQ(Bytes(withIv.bytes.end() - 4, withIv.bytes.end()), Bytes(iv.begin(), iv.begin() + 4));
  EXPECT_EQ(Bytes(withIv.bytes.begin(), withIv.bytes.begin() + 3), (Bytes{0x00, 0x01, 0xFE}));
  Record des = MakeRecord(kCiphers[14], RandomBytes(rng, 16));
  EXPECT_EQ(Encrypt(*des, Bytes(5, 'v'), iv.data(), 0, 0).bytes.size(), 8u);
}

// AES gets its own decryption context whatever the mode, and values written
// under mode code 2 come back.
TEST(BlockAdapters, AesUnderModeTwoRoundTrips) {
  std::mt19937 rng(43);
  for (const CipherCase& c : {kCiphers[8], kCiphers[13]}) {
    Record rec = MakeRecord(c, RandomBytes(rng, c.keyLen));
    EXPECT_NE(rec->pDKey, rec->pEKey) << c.name;
    const Bytes iv = RandomBytes(rng, 16);
    for (size_t len : {0u, 9u, 16u, 50u}) {
      const Bytes plain = RandomBytes(rng, len);
      const Result enc = Encrypt(*rec, plain, iv.data(), 0, 0);
      ASSERT_EQ(enc.rc, 0);
      const Result dec = Decrypt(*rec, enc.bytes, iv.data());
      ASSERT_EQ(dec.rc, 0) << c.name;
      EXPECT_EQ(dec.bytes, plain) << c.name;
    }
    EXPECT_EQ(CipherUtilKey_Destroy(rec.get()), 0);
    EXPECT_EQ(rec->pDKey, nullptr);
  }
}

// One key size of every cipher family, for the decryption rules.
const CipherCase* const kFamilies[] = {&kCiphers[0], &kCiphers[1], &kCiphers[6], &kCiphers[10],
                                       &kCiphers[14], &kCiphers[16], &kCiphers[17]};

TEST(BlockAdapters, DecryptionRules) {
  const uint8_t kPadFlag = 0xFF;  // stands for "PKCS#7 padding of the plaintext"
  struct Rule {
    Bytes plain;  // ends in kPadFlag: padded to the block; else taken as whole blocks
    int32_t nullProcess;
    int32_t compatibility;
    int rc;
    int32_t length;
    Bytes expected;
  } const rules[] = {
      {{'a', 'b', 'c', ' ', kPadFlag}, 0, 0, 0, 4, {'a', 'b', 'c', ' '}},
      {{'a', 'b', 'c', ' ', kPadFlag}, 1, 0, 0, 4, {'a', 'b', 'c', ' '}},
      {{'a', 'b', 'c', ' ', kPadFlag}, 0, 1, 0, 3, {'a', 'b', 'c'}},
      {{'a', 'b', 'c', ' ', kPadFlag}, 0, 2, 0, 4, {'a', 'b', 'c', ' '}},
      {{'a', 'b', 'c', ' ', kPadFlag}, 1, 2, 0, 3, {'a', 'b', 'c'}},
      {{'a', 'b', 'c', ' ', kPadFlag}, 0, 3, 0, 3, {'a', 'b', 'c'}},
      {{0x06, kPadFlag}, 0, 0, 0, -2, {}},
      {{0x06, kPadFlag}, 1, 0, 0, -2, {}},
      {{0x07, kPadFlag}, 1, 0, 0, -3, {}},
      {{0x07, kPadFlag}, 0, 0, 0, 1, {0x07}},
      {{0x06, kPadFlag}, 0, 1, 0, 0, {}},     // markers belong to compatibility 0
      {{'z', kPadFlag}, 1, 3, 0, 0, {}},
      {{kPadFlag}, 0, 1, 0, 0, {}},           // nothing to drop from an empty value
      {{kPadFlag}, 0, 0, 0, 0, {}},
  };
  std::mt19937 rng(44);
  for (const CipherCase* c : kFamilies) {
    SCOPED_TRACE(c->name);
    const Bytes key = RandomBytes(rng, c->keyLen);
    Record rec = MakeRecord(*c, key);
    const Bytes iv = RandomBytes(rng, 16);
    for (const Rule& rule : rules) {
      Bytes plain(rule.plain.begin(), rule.plain.end() - 1);
      plain = Pkcs7Pad(plain, static_cast<size_t>(c->block));
      const Result r = Decrypt(*rec, c->oracle(true, key, iv.data(), plain), iv.data(), rule.nullProcess,
                               rule.compatibility);
      EXPECT_EQ(r.rc, rule.rc);
      EXPECT_EQ(r.length, rule.length) << "f " << rule.nullProcess << " c " << rule.compatibility;
      EXPECT_EQ(r.bytes, rule.expected) << "f " << rule.nullProcess << " c " << rule.compatibility;
    }
  }
}

TEST(BlockAdapters, BadPaddingAndLengthsFail) {
  std::mt19937 rng(45);
  for (const CipherCase* c : kFamilies) {
    SCOPED_TRACE(c->name);
    const Bytes key = RandomBytes(rng, c->keyLen);
    Record rec = MakeRecord(*c, key);
    const Bytes iv = RandomBytes(rng, 16);
    for (int pad : {0, c->block + 1, 255}) {
      qor::test::LogCapture log;
      ASSERT_TRUE(log.ok());
      Bytes plain = RandomBytes(rng, static_cast<size_t>(2 * c->block));
      plain.back() = static_cast<uint8_t>(pad);
      const Result r = Decrypt(*rec, c->oracle(true, key, iv.data(), plain), iv.data());
      EXPECT_EQ(r.rc, -1);
      EXPECT_NE(log.text().find("] >> padBit is incorrect. padBit = [" + std::to_string(pad) + "]\n"),
                std::string::npos)
          << log.text();
    }
    // Every padding length with one of its bytes wrong, at every position;
    // the byte just before the padding is never part of it.
    for (int pad = 1; pad <= c->block; ++pad) {
      for (int wrong = 1; wrong <= pad; ++wrong) {
        Bytes plain = RandomBytes(rng, static_cast<size_t>(2 * c->block));
        std::fill(plain.end() - pad, plain.end(), static_cast<uint8_t>(pad));
        if (wrong < pad) plain[plain.size() - 1 - static_cast<size_t>(wrong)] ^= 0x40;
        if (wrong == pad) {
          plain[plain.size() - 1 - static_cast<size_t>(pad)] = static_cast<uint8_t>(pad + 1);
        }
        const Result r = Decrypt(*rec, c->oracle(true, key, iv.data(), plain), iv.data());
        EXPECT_EQ(r.rc, wrong == pad ? 0 : -1) << "pad " << pad << " wrong byte " << wrong;
      }
    }
    // Ciphertext that is not whole blocks, or none at all.
    for (size_t n : {static_cast<size_t>(c->block) + 1, static_cast<size_t>(c->block) - 1, size_t{0}}) {
      EXPECT_EQ(Decrypt(*rec, RandomBytes(rng, n), iv.data()).rc, -1) << n;
    }
  }
}

TEST(BlockAdapters, RefusedArgumentsAndTheirMessages) {
  const std::string nullKo = "\xc0\xd4\xb7\xc2 \xb0\xaa\xc1\xdf\xbf\xa1 NULL\xb0\xaa\xc0\xcc \xc6\xf7\xc7\xd4"
                             "\xb5\xc7\xbe\xee \xc0\xd6\xb4\xd9.\n";
  const std::string shortKo = "pIn\xb0\xaa\xc0\xc7 \xb1\xe6\xc0\xcc\xb0\xa1 0\xba\xb8\xb4\xd9 \xc0\xdb\xb4\xd9.\n";
  const std::string nullEn = "The input contains a NULL value.\n";
  const std::string shortEn = "The length of the pIn value is less than 0.\n";
  const struct {
    const CipherCase* cipher;
    const char* decName;
    const char* unit;
    std::string nullMsg;
    std::string shortMsg;
  } cases[] = {
      {&kCiphers[0], "doSEEDDecrypt", "CuSEED", nullEn, shortEn},
      {&kCiphers[1], "doARIADecrypt2", "CuARIA", nullEn, shortEn},
      {&kCiphers[6], "doAESDecrypt", "CuAES", "input is null\n", "cipherText is less then 0\n"},
      {&kCiphers[14], "doDES3Decrypt", "CuDES3", nullKo, shortKo},
      {&kCiphers[16], "doDES3Decrypt_3key", "CuDES3", nullKo, shortKo},
      {&kCiphers[17], "doLEADecrypt", "CuLEA", nullKo, shortKo},
  };
  std::mt19937 rng(46);
  for (const auto& c : cases) {
    Record rec = MakeRecord(*c.cipher, RandomBytes(rng, c.cipher->keyLen));
    Bytes data(32, 1);
    uint8_t iv[16] = {};
    const std::string where = std::string(c.decName) + " [source/Crypto/" + c.unit + ":";
    {
      qor::test::LogCapture log;
      ASSERT_TRUE(log.ok());
      DataBuffer in{32, nullptr}, out{};
      EXPECT_EQ(DecryptFunctions[rec->algType](&in, rec->pDKey, iv, &out, 0, 0), -1);
      in.data = data.data();
      EXPECT_EQ(DecryptFunctions[rec->algType](&in, nullptr, iv, &out, 0, 0), -1);
      EXPECT_EQ(DecryptFunctions[rec->algType](&in, rec->pDKey, nullptr, &out, 0, 0), -1);
      EXPECT_EQ(DecryptFunctions[rec->algType](&in, rec->pDKey, iv, nullptr, 0, 0), -1);
      EXPECT_EQ(out.data, nullptr);
      EXPECT_NE(log.text().find(where), std::string::npos) << log.text();
      EXPECT_NE(log.text().find("] >> " + c.nullMsg), std::string::npos) << c.decName;
    }
    {
      qor::test::LogCapture log;
      ASSERT_TRUE(log.ok());
      DataBuffer in{0, data.data()}, out{};
      EXPECT_EQ(DecryptFunctions[rec->algType](&in, rec->pDKey, iv, &out, 0, 0), -1);
      EXPECT_NE(log.text().find("] >> " + c.shortMsg), std::string::npos) << c.decName;
      in.length = -5;
      EXPECT_EQ(EncryptFunctions[rec->algType](&in, rec->pEKey, iv, &out, 1, 1, 0), -1);
      EXPECT_EQ(out.data, nullptr);
    }
  }
}

TEST(BlockAdapters, AriaRefusesModesWithoutAFunction) {
  for (int32_t mode : {3, 4, -1}) {
    CipherCase c = kCiphers[1];
    c.mode = mode;
    Record rec = MakeRecord(c, Bytes(16, 7));
    uint8_t iv[16] = {};
    EXPECT_EQ(Encrypt(*rec, Bytes(5, 'x'), iv, 1, 0).rc, -1) << mode;
    EXPECT_EQ(Decrypt(*rec, Bytes(16, 'x'), iv).rc, -1) << mode;
  }
}

TEST(BlockAdapters, DigitEntriesRoundTrip) {
  Bytes key(16, 0x2B);
  auto* r = static_cast<CipherUtil*>(std::calloc(1, sizeof(CipherUtil)));
  DataBuffer k{16, key.data()};
  ASSERT_EQ(CipherUtil_Create(QOR_ALG_FPE, &k, nullptr, r), 0);
  Record rec(r);
  const std::string digits = "9876543210123";
  Bytes buf(digits.begin(), digits.end());
  buf.resize(buf.size() + 17);
  DataBuffer in{static_cast<int32_t>(digits.size()), buf.data()}, enc{}, dec{};
  ASSERT_EQ(EncryptFunctions[QOR_ALG_FPE](&in, rec->pEKey, rec->iv, &enc, 3, 1, 0), 0);
  ASSERT_EQ(enc.length, static_cast<int32_t>(digits.size()));  // no prefix, no tail
  ASSERT_EQ(DecryptFunctions[QOR_ALG_FPE](&enc, rec->pDKey, rec->iv, &dec, 0, 0), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dec.data), static_cast<size_t>(dec.length)), digits);
  std::free(enc.data);
  std::free(dec.data);
}

// One record per cipher, used by eight threads at once; every thread must get
// the results a single thread gets.
TEST(BlockAdapters, OneRecordManyThreads) {
  std::mt19937 rng(47);
  for (const CipherCase& c : kCiphers) {
    SCOPED_TRACE(c.name);
    Record rec = MakeRecord(c, RandomBytes(rng, c.keyLen));
    struct Item {
      Bytes plain, iv, cipher;
    };
    std::vector<Item> items;
    for (int i = 0; i < 24; ++i) {
      Item it{RandomBytes(rng, 2 + rng() % 200), RandomBytes(rng, 16), {}};
      it.cipher = Encrypt(*rec, it.plain, it.iv.data(), 5, 1).bytes;
      items.push_back(std::move(it));
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        for (int round = 0; round < 40; ++round) {
          const Item& it = items[static_cast<size_t>(t * 7 + round) % items.size()];
          const Result enc = Encrypt(*rec, it.plain, it.iv.data(), 5, 1);
          const Bytes body(it.cipher.begin() + 3, it.cipher.end() - 4);
          const Result dec = Decrypt(*rec, body, it.iv.data());
          if (enc.bytes != it.cipher || dec.bytes != it.plain) ++mismatches;
        }
      });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
  }
}

}  // namespace
