// Key-version records: their fields, their key contexts and their release;
// the record-IV seed.
#include <crypto++/aria.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>

#include "qor/cipher_util.h"
#include "qor/cupin.h"
#include "qor/lea.h"
#include "qor/nc_aes.h"
#include "qor/nc_aria.h"
#include "qor/nc_des.h"
#include "qor/nc_seed.h"
#include "support/bytes.h"
#include "support/cryptopp_oracle.h"
#include "support/evp_oracle.h"
#include "support/log_capture.h"

namespace {

using qor::test::Bytes;
using qor::test::RandomBytes;

TEST(ChiperUtilSet, StoresVersionTimesAndStatus) {
  struct Case {
    const char* status;
    int32_t code;
  } const cases[] = {{"active", 0}, {"deactive", 1}, {"Active", 2}, {"revoked", 2}, {"", 2},
                     {"active ", 2}, {nullptr, 1}};
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  for (const Case& c : cases) {
    CipherUtil r{};
    EXPECT_EQ(ChiperUtil_Set(&r, 0x12345, 7, -9, c.status), 0);
    EXPECT_EQ(r.keyVersion, 0x2345);  // the version is a 16-bit number
    EXPECT_EQ(r.firstTime, 7);
    EXPECT_EQ(r.secondTime, -9);
    EXPECT_EQ(r.keyStatus, c.code) << (c.status ? c.status : "(null)");
  }
  EXPECT_NE(log.text().find("ChiperUtil_Set [source/Crypto/CipherUtil:"), std::string::npos);
  EXPECT_NE(log.text().find("] >> key Status is NULL! set to deactive\n"), std::string::npos);
}

// A record built the way the keyed cipher object builds one, released with its keys.
struct RecordDeleter {
  void operator()(CipherUtil* r) const { CipherUtil_Destroy(r); }
};
using Record = std::unique_ptr<CipherUtil, RecordDeleter>;

Record NewRecord(int32_t mode = 0, int32_t status = QOR_KEY_ACTIVE) {
  auto* r = static_cast<CipherUtil*>(std::calloc(1, sizeof(CipherUtil)));
  r->mode = mode;
  r->keyStatus = status;
  return Record(r);
}

int Create(CipherUtil* r, uint32_t code, Bytes key, Bytes iv = Bytes(16, 0x5A)) {
  DataBuffer k{static_cast<int32_t>(key.size()), key.data()};
  DataBuffer v{static_cast<int32_t>(iv.size()), iv.data()};
  return CipherUtil_Create(code, &k, &v, r);
}

enum class Keys { kNone, kShared, kSeparate };

TEST(CipherUtilCreate, EveryCode) {
  struct Case {
    uint32_t code;
    int keyLen;
    int32_t mode;
    int rc;
    uint32_t algAfter;
    int32_t oneWay;
    Keys keys;
    const char* message;  // logged on failure
  } const cases[] = {
      {0, 16, 0, -1, 0, 0, Keys::kNone, "] >> Unknown Algorithm\n"},
      {1, 16, 0, 0, 1, 0, Keys::kShared, nullptr},
      {1, 7, 0, 0, 1, 0, Keys::kShared, nullptr},
      {2, 16, 0, 0, 2, 0, Keys::kSeparate, nullptr},
      {2, 16, 2, 0, 2, 0, Keys::kShared, nullptr},  // counter mode: one schedule both ways
      {3, 16, 0, 0, 3, 0, Keys::kShared, nullptr},
      {4, 16, 0, 0, 4, 0, Keys::kNone, nullptr},
      {5, 16, 0, 0, 5, 0, Keys::kSeparate, nullptr},
      {5, 16, 2, 0, 5, 0, Keys::kSeparate, nullptr},  // AES has no counter mode of its own
      {6, 16, 0, -1, 0, 0, Keys::kNone, "] >> Unknown Algorithm\n"},
      {7, 32, 0, 0, 7, 0, Keys::kSeparate, nullptr},
      {7, 32, 2, 0, 7, 0, Keys::kSeparate, nullptr},
      {8, 16, 0, 0, 8, 1, Keys::kNone, nullptr},
      {9, 16, 0, 0, 9, 1, Keys::kNone, nullptr},
      {10, 16, 0, 0, 10, 1, Keys::kNone, nullptr},
      {11, 16, 0, 0, 11, 1, Keys::kNone, nullptr},
      {12, 16, 0, 0, 12, 0, Keys::kShared, nullptr},
      {13, 16, 0, -1, 0, 0, Keys::kNone, "] >> Unknown Algorithm\n"},
      {14, 32, 0, 0, 14, 0, Keys::kSeparate, nullptr},
      {14, 32, 2, 0, 14, 0, Keys::kShared, nullptr},
      {15, 16, 0, 0, 15, 0, Keys::kShared, nullptr},
      {15, 24, 0, 0, 15, 0, Keys::kShared, nullptr},
      {15, 20, 0, -1, 15, 0, Keys::kNone, "] >> LEA not supported 20 keylength\n"},
      {16, 16, 0, -1, 0, 0, Keys::kNone, "] >> Unknown Algorithm\n"},
      {17, 32, 0, 0, 17, 0, Keys::kShared, nullptr},
      {17, 8, 0, -1, 17, 0, Keys::kNone, "] >> LEA not supported 8 keylength\n"},
      {18, 16, 0, 0, 18, 1, Keys::kNone, nullptr},
      {19, 16, 0, 0, 19, 1, Keys::kNone, nullptr},
      {20, 16, 0, 0, 20, 1, Keys::kNone, nullptr},
      {21, 16, 0, 0, 21, 1, Keys::kNone, nullptr},
      {22, 16, 0, 0, 22, 1, Keys::kNone, nullptr},
      {23, 16, 0, 0, 23, 1, Keys::kShared, nullptr},
      {23, 15, 0, -1, 23, 0, Keys::kNone, "] >> initRadix10() Error. key length = [15]\n"},
      {24, 24, 0, 0, 24, 0, Keys::kShared, nullptr},
      {25, 16, 0, -1, 0, 0, Keys::kNone, "] >> Can Not Use TICN\n"},
      {26, 16, 0, -1, 0, 0, Keys::kNone, "] >> Unknown Algorithm\n"},
      {1000, 16, 0, -1, 0, 0, Keys::kNone, "] >> Unknown Algorithm\n"},
      {5, 0, 0, -1, 0, 0, Keys::kNone, "] >> pUsKey->length <= 0\n"},
  };
  std::mt19937 rng(11);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code << " key " << c.keyLen << " mode " << c.mode);
    qor::test::LogCapture log;
    ASSERT_TRUE(log.ok());
    Record r = NewRecord(c.mode);
    EXPECT_EQ(Create(r.get(), c.code, RandomBytes(rng, static_cast<size_t>(c.keyLen))), c.rc);
    EXPECT_EQ(r->algType, c.algAfter);
    EXPECT_EQ(r->oneWay, c.oneWay);
    switch (c.keys) {
      case Keys::kNone:
        EXPECT_EQ(r->pEKey, nullptr);
        EXPECT_EQ(r->pDKey, nullptr);
        break;
      case Keys::kShared:
        EXPECT_NE(r->pEKey, nullptr);
        EXPECT_EQ(r->pDKey, r->pEKey);
        break;
      case Keys::kSeparate:
        EXPECT_NE(r->pEKey, nullptr);
        EXPECT_NE(r->pDKey, nullptr);
        EXPECT_NE(r->pDKey, r->pEKey);
        break;
    }
    const std::string text = log.text();
    if (c.message != nullptr) {
      EXPECT_NE(text.find("CipherUtil_Create [source/Crypto/CipherUtil:"), std::string::npos) << text;
      EXPECT_NE(text.find(c.message), std::string::npos) << text;
    } else {
      EXPECT_EQ(text.find("CipherUtil_Create ["), std::string::npos) << text;
    }
    if (c.rc == 0) {
      EXPECT_EQ(CipherUtilKey_Destroy(r.get()), 0);
      EXPECT_EQ(r->algType, 0u);
      EXPECT_EQ(r->pEKey, nullptr);
      EXPECT_EQ(r->pDKey, nullptr);
    }
  }
}

TEST(CipherUtilCreate, NullArguments) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  Bytes key(16, 1);
  DataBuffer k{16, key.data()};
  DataBuffer noData{16, nullptr};
  Record r = NewRecord();
  EXPECT_EQ(CipherUtil_Create(QOR_ALG_AES128, nullptr, nullptr, r.get()), -1);
  EXPECT_EQ(CipherUtil_Create(QOR_ALG_AES128, &noData, nullptr, r.get()), -1);
  EXPECT_EQ(CipherUtil_Create(QOR_ALG_AES128, &k, nullptr, nullptr), -1);
  EXPECT_EQ(CipherUtilKey_Destroy(nullptr), -1);
  CipherUtil_Destroy(nullptr);
  // A missing IV leaves the record's zero IV.
  EXPECT_EQ(CipherUtil_Create(QOR_ALG_AES128, &k, nullptr, r.get()), 0);
  EXPECT_TRUE(qor::test::AllZero(r->iv));
  EXPECT_NE(log.text().find("CipherUtilKey_Destroy [source/Crypto/CipherUtil:"), std::string::npos);
  EXPECT_NE(log.text().find("] >> pCiherUtil is null\n"), std::string::npos);
}

TEST(CipherUtilCreate, IvTakesAtMostSixteenBytes) {
  for (size_t n : {0u, 1u, 5u, 16u, 17u, 40u}) {
    Bytes iv(n);
    for (size_t i = 0; i < n; ++i) iv[i] = static_cast<uint8_t>(i + 1);
    Record r = NewRecord();
    ASSERT_EQ(Create(r.get(), QOR_ALG_SEED, Bytes(16, 3), iv), 0);
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(r->iv[i], i < n ? i + 1 : 0) << n << " " << i;
  }
}

// Enciphers one block with the record's encryption context, through the
// context's own one-shot CBC.
Bytes EncryptBlock(const CipherUtil& r, const Bytes& block, const uint8_t* iv) {
  Bytes out(block.size());
  switch (r.algType) {
    case QOR_ALG_AES128:
    case QOR_ALG_AES256:
      NC_AES_CBC_Encrypt(static_cast<const NC_AES_CTX*>(r.pEKey), iv, block.data(),
                         static_cast<int>(block.size()), out.data());
      break;
    default: {
      auto* ctx = static_cast<const NC_ARIA_CTX*>(r.pEKey);
      NC_E_ARIA_CBC_Encrypt(block.data(), out.data(), ctx->roundKey, static_cast<int>(block.size()), iv,
                            ctx->rounds);
    }
  }
  return out;
}

TEST(CipherUtilCreate, LongKeyCodesRepeatASixteenByteKey) {
  std::mt19937 rng(5);
  const Bytes plain = RandomBytes(rng, 32);
  const Bytes iv = RandomBytes(rng, 16);
  for (size_t keyLen : {16u, 20u, 32u, 40u}) {
    const Bytes key = RandomBytes(rng, keyLen);
    Bytes used(key.begin(), key.begin() + 16);
    if (keyLen >= 32) {
      used.insert(used.end(), key.begin() + 16, key.begin() + 32);
    } else {
      used.insert(used.end(), key.begin(), key.begin() + 16);
    }
    Record aes = NewRecord();
    ASSERT_EQ(Create(aes.get(), QOR_ALG_AES256, key), 0);
    EXPECT_EQ(EncryptBlock(*aes, plain, iv.data()),
              qor::test::EvpCrypt(EVP_aes_256_cbc(), true, false, used, iv.data(), plain))
        << keyLen;
    Record aria = NewRecord();
    ASSERT_EQ(Create(aria.get(), QOR_ALG_ARIA256, key), 0);
    EXPECT_EQ(EncryptBlock(*aria, plain, iv.data()),
              qor::test::CryptoppCbc<CryptoPP::ARIA>(true, used, iv.data(), plain))
        << keyLen;
  }
}

TEST(CipherUtilCreate, ShortKeysAreZeroFilled) {
  std::mt19937 rng(6);
  const Bytes plain = RandomBytes(rng, 16);
  const Bytes iv = RandomBytes(rng, 16);
  const Bytes key = RandomBytes(rng, 9);
  Bytes used = key;
  used.resize(16, 0);
  Record aes = NewRecord();
  ASSERT_EQ(Create(aes.get(), QOR_ALG_AES128, key), 0);
  EXPECT_EQ(EncryptBlock(*aes, plain, iv.data()),
            qor::test::EvpCrypt(EVP_aes_128_cbc(), true, false, used, iv.data(), plain));
}

TEST(CipherUtilCreate, RevokedKeyGetsContextsWithoutSchedule) {
  Record aes = NewRecord(0, QOR_KEY_REVOKED);
  ASSERT_EQ(Create(aes.get(), QOR_ALG_AES128, Bytes(16, 9)), 0);
  ASSERT_NE(aes->pEKey, nullptr);
  EXPECT_EQ(static_cast<NC_AES_CTX*>(aes->pEKey)->key.keyWords, 0);
  Record lea = NewRecord(0, QOR_KEY_REVOKED);
  ASSERT_EQ(Create(lea.get(), QOR_ALG_LEA128, Bytes(16, 9)), 0);
  EXPECT_TRUE(qor::test::AllZero(static_cast<NC_LEA_CTX*>(lea->pEKey)->key));
}

TEST(CipherUtilDestroy, ReleasesAWholeList) {
  // Every kind of key context in one list; the sanitizer builds see any leak or double free.
  const struct {
    uint32_t code;
    int keyLen;
    int32_t mode;
  } versions[] = {{1, 16, 0}, {2, 16, 2}, {14, 32, 0}, {5, 16, 2}, {7, 32, 1}, {24, 24, 0}, {17, 32, 0}, {23, 16, 0}, {9, 1, 0}};
  CipherUtil* head = nullptr;
  for (const auto& v : versions) {
    Record r = NewRecord(v.mode);
    ASSERT_EQ(Create(r.get(), v.code, Bytes(static_cast<size_t>(v.keyLen), 0x33)), 0);
    r->next = head;
    head = r.release();
  }
  CipherUtil_Destroy(head);
}

// The seed comes from the kernel's random source (processes started in the
// same second must not share it); the counter starts from it.
TEST(RecordIv, SeedIsStoredInTheCounter) {
  const uint32_t seed = InitInternalRecordIV();
  EXPECT_EQ(g_RecordIV, seed);
}

}  // namespace
