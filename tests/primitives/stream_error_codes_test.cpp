// The error-code contract of the CBC streaming interface, which every block
// cipher shares: one table over the ciphers, one set of cases.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qor/lea.h"
#include "qor/nc_aria.h"
#include "qor/nc_des.h"
#include "qor/nc_seed.h"
#include "support/bytes.h"

namespace {

using qor::test::Bytes;

constexpr int kSameBufferOrPadding = 4097;
constexpr int kPartialWithoutPadding = 4100;
constexpr int kIncompleteUnit = 4101;
constexpr int kUnknownPadding = -4081;
constexpr int kBadPadding = -4083;
constexpr int kPaddingNone = 1;
constexpr int kPaddingBlock = 2;

// One cipher's streaming calls over its own encryption and decryption
// contexts, keyed with a fixed key; Start sets mode 0 (CBC), the padding code
// and a zero IV, then runs the Init call.
struct StreamCipher {
  std::string name;
  std::function<void(bool encrypt, int padding)> start;
  std::function<int(bool encrypt, const uint8_t*, int, uint8_t*, int*)> update;
  std::function<int(bool encrypt, uint8_t*, int*)> final;
};

template <class Ctx, class SetAlgInfo, class EncInit, class DecInit, class EncUpdate,
          class DecUpdate, class EncFinal, class DecFinal>
StreamCipher Make(std::string name, std::function<void(Ctx&, Ctx&)> key, SetAlgInfo setAlgInfo,
                  EncInit encInit, DecInit decInit, EncUpdate encUpdate, DecUpdate decUpdate,
                  EncFinal encFinal, DecFinal decFinal) {
  struct Pair {
    Ctx enc{};
    Ctx dec{};
  };
  auto ctx = std::make_shared<Pair>();
  key(ctx->enc, ctx->dec);
  static const uint8_t kZeroIv[16] = {};
  StreamCipher c;
  c.name = std::move(name);
  c.start = [=](bool encrypt, int padding) {
    Ctx& x = encrypt ? ctx->enc : ctx->dec;
    setAlgInfo(0, padding, kZeroIv, &x);
    (void)(encrypt ? encInit(&x) : decInit(&x));
  };
  c.update = [=](bool encrypt, const uint8_t* in, int n, uint8_t* out, int* outLen) {
    return encrypt ? encUpdate(&ctx->enc, in, n, out, outLen) : decUpdate(&ctx->dec, in, n, out, outLen);
  };
  c.final = [=](bool encrypt, uint8_t* out, int* outLen) {
    return encrypt ? encFinal(&ctx->enc, out, outLen) : decFinal(&ctx->dec, out, outLen);
  };
  return c;
}

std::vector<StreamCipher> Ciphers() {
  const Bytes key = qor::test::FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  return {
      Make<NC_ARIA_CTX>(
          "ARIA-128",
          [key](NC_ARIA_CTX& enc, NC_ARIA_CTX& dec) {
            NC_ARIA_EncKeyGen(key.data(), &enc, 12);
            NC_ARIA_DecKeyGen(key.data(), &dec, 12);
          },
          NC_ARIA_SetAlgInfo, NC_ARIA_EncInit, NC_ARIA_DecInit, NC_ARIA_CBC_EncUpdate,
          NC_ARIA_CBC_DecUpdate, NC_ARIA_CBC_EncFinal, NC_ARIA_CBC_DecFinal),
      Make<NC_SEED_CTX>(
          "SEED",
          [key](NC_SEED_CTX& enc, NC_SEED_CTX& dec) {
            NC_E_SEED_KeyScheduleEx(&enc, key.data());
            NC_E_SEED_KeyScheduleEx(&dec, key.data());
          },
          NC_SEED_SetAlgInfo, NC_SEED_EncInit, NC_SEED_DecInit, NC_SEED_CBC_EncUpdate,
          NC_SEED_CBC_DecUpdate, NC_SEED_CBC_EncFinal, NC_SEED_CBC_DecFinal),
      Make<NC_LEA_CTX>(
          "LEA-256",
          [key](NC_LEA_CTX& enc, NC_LEA_CTX& dec) {
            NC_E_LEA_KeyScheduleEx(&enc, key.data(), 32);
            NC_E_LEA_KeyScheduleEx(&dec, key.data(), 32);
          },
          NC_LEA_SetAlgInfo, NC_LEA_EncInit, NC_LEA_DecInit, NC_LEA_CBC_EncUpdate,
          NC_LEA_CBC_DecUpdate, NC_LEA_CBC_EncFinal, NC_LEA_CBC_DecFinal),
      Make<NC_DES3_CTX>(
          "3DES-3KEY",
          [key](NC_DES3_CTX& enc, NC_DES3_CTX& dec) {
            NC_E_DES3_3Key_ScheduleEx(&enc, key.data());
            NC_E_DES3_3Key_ScheduleEx(&dec, key.data());
          },
          NC_DES3_SetAlgInfo, NC_DES3_EncInit, NC_DES3_DecInit, NC_DES3_CBC_EncUpdate,
          NC_DES3_CBC_DecUpdate, NC_DES3_CBC_EncFinal, NC_DES3_CBC_DecFinal),
  };
}

class StreamErrorCodes : public testing::TestWithParam<StreamCipher> {
 protected:
  // The ciphertext of one 16-byte unit, encrypted without padding, so its
  // decryption's last bytes are exactly |unit|'s.
  Bytes Encipher(const Bytes& unit) {
    const StreamCipher& c = GetParam();
    Bytes out(48);
    int n = -1;
    c.start(true, kPaddingNone);
    EXPECT_EQ(0, c.update(true, unit.data(), static_cast<int>(unit.size()), out.data(), &n));
    int last = -1;
    EXPECT_EQ(0, c.final(true, out.data() + n, &last));
    out.resize(static_cast<size_t>(n + last));
    return out;
  }
};

TEST_P(StreamErrorCodes, SameBufferForInputAndOutputIsRefused) {
  const StreamCipher& c = GetParam();
  uint8_t buf[64] = {};
  for (bool encrypt : {true, false}) {
    int n = 0;
    c.start(encrypt, kPaddingBlock);
    EXPECT_EQ(kSameBufferOrPadding, c.update(encrypt, buf, 32, buf, &n)) << encrypt;
    EXPECT_EQ(0, n) << encrypt;
  }
}

TEST_P(StreamErrorCodes, EncryptFinalRefusesLeftoversWithoutPaddingAndUnknownPadding) {
  const StreamCipher& c = GetParam();
  const uint8_t in[5] = {1, 2, 3, 4, 5};
  uint8_t out[64];
  int n = -1;
  c.start(true, kPaddingNone);
  EXPECT_EQ(0, c.update(true, in, 5, out, &n));
  EXPECT_EQ(0, n);
  EXPECT_EQ(kPartialWithoutPadding, c.final(true, out, &n));
  // Padding none and nothing left over: nothing out.
  c.start(true, kPaddingNone);
  EXPECT_EQ(0, c.final(true, out, &n));
  EXPECT_EQ(0, n);
  for (int unknown : {3, 5, 7, 9}) {
    c.start(true, unknown);
    EXPECT_EQ(kSameBufferOrPadding, c.final(true, out, &n)) << unknown;
  }
}

TEST_P(StreamErrorCodes, DecryptFinalReportsIncompleteUnitsAndPaddingInTheLength) {
  const StreamCipher& c = GetParam();
  uint8_t out[64];
  int n = -1;
  // Whole 16-byte units are written at once; what is left over at the end
  // is an incomplete unit.
  const uint8_t piece[21] = {};
  for (int length : {7, 20, 21}) {
    c.start(false, kPaddingBlock);
    EXPECT_EQ(0, c.update(false, piece, length, out, &n)) << length;
    EXPECT_EQ(length / 16 * 16, n) << length;
    EXPECT_EQ(kIncompleteUnit, c.final(false, out, &n)) << length;
  }

  // Bad pad bytes: last byte 0, last byte above 16, a broken run. The call
  // succeeds and the length carries the code.
  Bytes broken = qor::test::Pkcs7Pad(Bytes(10, 0x33));  // ends with six 6s
  broken[11] = 5;
  for (const Bytes& unit : {Bytes(16, 0), Bytes(16, 17), broken}) {
    const Bytes cipher = Encipher(unit);
    c.start(false, kPaddingBlock);
    ASSERT_EQ(0, c.update(false, cipher.data(), static_cast<int>(cipher.size()), out, &n));
    EXPECT_EQ(0, c.final(false, out, &n));
    EXPECT_EQ(kBadPadding, n) << qor::test::ToHex(unit);
  }

  // An unknown padding code: the same, with its own code.
  const Bytes cipher = Encipher(qor::test::Pkcs7Pad(Bytes(15, 1)));
  for (int unknown : {3, 5, 9}) {
    c.start(false, unknown);
    ASSERT_EQ(0, c.update(false, cipher.data(), static_cast<int>(cipher.size()), out, &n));
    EXPECT_EQ(0, c.final(false, out, &n)) << unknown;
    EXPECT_EQ(kUnknownPadding, n) << unknown;
  }

  // Nothing buffered: nothing out.
  c.start(false, kPaddingBlock);
  n = -1;
  EXPECT_EQ(0, c.final(false, out, &n));
  EXPECT_EQ(0, n);
}

INSTANTIATE_TEST_SUITE_P(BlockCiphers, StreamErrorCodes, testing::ValuesIn(Ciphers()),
                         [](const testing::TestParamInfo<StreamCipher>& p) {
                           std::string name = p.param.name;
                           for (char& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

}  // namespace
