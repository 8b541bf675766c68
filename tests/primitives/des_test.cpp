// DES and triple DES: published known answers, Crypto++ as the oracle for
// random keys, IVs and lengths, the 16-byte streaming units and the helpers.
#include <crypto++/des.h>
#include <crypto++/modes.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "primitives/des/des_bitslice.h"
#include "qor/nc_des.h"
#include "support/bytes.h"
#include "support/cipher_stream.h"
#include "support/cryptopp_oracle.h"
#include "support/kernel_paths.h"

namespace {

using qor::test::Bytes;
using qor::test::CryptoppCbc;
using qor::test::FromHex;
using qor::test::Pkcs7Pad;
using qor::test::RandomBytes;
using qor::test::RandomSplits;
using qor::test::StreamResult;

struct Schedules {
  uint32_t ks[3][NC_DES_SCHEDULE_WORDS];
};

Schedules ThreeKey(const Bytes& key24) {
  NC_DES3_CTX ctx{};
  NC_E_DES3_3Key_ScheduleEx(&ctx, key24.data());
  Schedules s;
  std::memcpy(s.ks, ctx.ks, sizeof(s.ks));
  return s;
}

Schedules TwoKey(const Bytes& key16) {
  NC_DES3_CTX ctx{};
  NC_E_DES3_KeyScheduleEx(&ctx, key16.data());
  Schedules s;
  std::memcpy(s.ks, ctx.ks, sizeof(s.ks));
  return s;
}

Bytes ZeroFill(Bytes b) {
  b.resize((b.size() + 7) / 8 * 8, 0);
  return b;
}

// Every test that runs triple-DES decryption does so on each kernel.
class DesPaths : public qor::test::KernelPathTest<qor::des::g_kernels> {};

TEST(DesKnownAnswer, SingleDesVectors) {
  struct Case {
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Case cases[] = {
      {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
      {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
      {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
      {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
      {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    uint32_t ks[NC_DES_SCHEDULE_WORDS];
    NC_E_DES_KeySchedule(FromHex(c.key).data(), ks);
    const Bytes plain = FromHex(c.plain);
    uint8_t out[8], back[8];
    NC_E_DES_Encrypt(plain.data(), out, ks);
    EXPECT_EQ(Bytes(out, out + 8), FromHex(c.cipher));
    NC_E_DES_Decrypt(out, back, ks);
    EXPECT_EQ(Bytes(back, back + 8), plain);
    // The raw block function agrees on big-endian halves.
    uint32_t halves[2] = {0, 0};
    for (int i = 0; i < 4; ++i) {
      halves[0] = halves[0] << 8 | plain[i];
      halves[1] = halves[1] << 8 | plain[4 + i];
    }
    _NC_E_DES_Encrypt(halves, ks);
    const Bytes expect = FromHex(c.cipher);
    EXPECT_EQ(halves[0], uint32_t(expect[0]) << 24 | expect[1] << 16 | expect[2] << 8 | expect[3]);
    EXPECT_EQ(halves[1], uint32_t(expect[4]) << 24 | expect[5] << 16 | expect[6] << 8 | expect[7]);
  }
}

TEST(DesKnownAnswer, ThreeKeyTdeaExample) {
  // Three-key TDEA example in ECB: "The qufck brown fox jump".
  const Schedules s = ThreeKey(FromHex("0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123"));
  const std::string text = "The qufck brown fox jump";
  const Bytes expect = FromHex("A826FD8CE53B855FCCE21C8112256FE668D5C05DD9B6B900");
  for (int b = 0; b < 3; ++b) {
    uint8_t out[8], back[8];
    NC_E_DES3_3Key_Encrypt(reinterpret_cast<const uint8_t*>(text.data()) + 8 * b, out, &s.ks[0][0]);
    EXPECT_EQ(Bytes(out, out + 8), Bytes(expect.begin() + 8 * b, expect.begin() + 8 * b + 8));
    NC_E_DES3_3Key_Decrypt(out, back, &s.ks[0][0]);
    EXPECT_EQ(std::string(back, back + 8), text.substr(8 * b, 8));
  }
}

TEST(DesOracle, SingleBlocksMatchCryptopp) {
  std::mt19937 rng(1);
  for (int iter = 0; iter < 200; ++iter) {
    const Bytes key = RandomBytes(rng, 24);
    const Bytes block = RandomBytes(rng, 8);
    uint8_t ours[8], theirs[8];

    uint32_t ks1[NC_DES_SCHEDULE_WORDS];
    NC_E_DES_KeySchedule(key.data(), ks1);
    NC_E_DES_Encrypt(block.data(), ours, ks1);
    CryptoPP::DES::Encryption(key.data(), 8).ProcessBlock(block.data(), theirs);
    ASSERT_EQ(Bytes(ours, ours + 8), Bytes(theirs, theirs + 8));
    NC_E_DES_Decrypt(block.data(), ours, ks1);
    CryptoPP::DES::Decryption(key.data(), 8).ProcessBlock(block.data(), theirs);
    ASSERT_EQ(Bytes(ours, ours + 8), Bytes(theirs, theirs + 8));

    const Schedules two = TwoKey(Bytes(key.begin(), key.begin() + 16));
    NC_E_DES3_Encrypt(block.data(), ours, &two.ks[0][0]);
    CryptoPP::DES_EDE2::Encryption(key.data(), 16).ProcessBlock(block.data(), theirs);
    ASSERT_EQ(Bytes(ours, ours + 8), Bytes(theirs, theirs + 8));
    NC_E_DES3_Decrypt(block.data(), ours, &two.ks[0][0]);
    CryptoPP::DES_EDE2::Decryption(key.data(), 16).ProcessBlock(block.data(), theirs);
    ASSERT_EQ(Bytes(ours, ours + 8), Bytes(theirs, theirs + 8));

    const Schedules three = ThreeKey(key);
    NC_E_DES3_3Key_Encrypt(block.data(), ours, &three.ks[0][0]);
    CryptoPP::DES_EDE3::Encryption(key.data(), 24).ProcessBlock(block.data(), theirs);
    ASSERT_EQ(Bytes(ours, ours + 8), Bytes(theirs, theirs + 8));
    NC_E_DES3_3Key_Decrypt(block.data(), ours, &three.ks[0][0]);
    CryptoPP::DES_EDE3::Decryption(key.data(), 24).ProcessBlock(block.data(), theirs);
    ASSERT_EQ(Bytes(ours, ours + 8), Bytes(theirs, theirs + 8));
  }
}

// One-shot CBC against the oracle for every length up to 80 and some large
// ones: a trailing partial block is zero-filled, the output rounded up.
TEST_P(DesPaths, OneShotCbcEveryLength) {
  std::mt19937 rng(2);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 80; ++n) lengths.push_back(n);
  for (size_t n : {255u, 256u, 257u, 4093u, 4096u, 65536u + 3}) lengths.push_back(n);
  for (size_t len : lengths) {
    SCOPED_TRACE(len);
    const Bytes key = RandomBytes(rng, 24);
    const Bytes iv = RandomBytes(rng, 8);
    const Bytes plain = RandomBytes(rng, len);
    const Bytes padded = ZeroFill(plain);
    const Schedules two = TwoKey(Bytes(key.begin(), key.begin() + 16));
    const Schedules three = ThreeKey(key);
    const Bytes expect2 = CryptoppCbc<CryptoPP::DES_EDE2>(true, Bytes(key.begin(), key.begin() + 16), iv.data(), padded);
    const Bytes expect3 = CryptoppCbc<CryptoPP::DES_EDE3>(true, key, iv.data(), padded);

    Bytes out(padded.size() + 8, 0xAA);
    ASSERT_EQ(NC_E_DES3_CBC_Encrypt(plain.data(), out.data(), &two.ks[0][0], int32_t(len), iv.data()),
              int(padded.size()));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + padded.size()), expect2);
    EXPECT_EQ(out[padded.size()], 0xAA) << "wrote past the rounded length";
    Bytes back(padded.size());
    ASSERT_EQ(NC_E_DES3_CBC_Decrypt(expect2.data(), back.data(), &two.ks[0][0], int32_t(padded.size()), iv.data()),
              int(padded.size()));
    EXPECT_EQ(back, padded);

    ASSERT_EQ(NC_E_DES3_3Key_CBC_Encrypt(plain.data(), out.data(), &three.ks[0][0], int32_t(len), iv.data()),
              int(padded.size()));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + padded.size()), expect3);
    ASSERT_EQ(NC_E_DES3_3Key_CBC_Decrypt(expect3.data(), back.data(), &three.ks[0][0], int32_t(padded.size()),
                                         iv.data()),
              int(padded.size()));
    EXPECT_EQ(back, padded);

    // In place, both directions.
    Bytes inplace = padded;
    NC_E_DES3_3Key_CBC_Encrypt(inplace.data(), inplace.data(), &three.ks[0][0], int32_t(padded.size()), iv.data());
    EXPECT_EQ(inplace, expect3);
    NC_E_DES3_3Key_CBC_Decrypt(inplace.data(), inplace.data(), &three.ks[0][0], int32_t(padded.size()), iv.data());
    EXPECT_EQ(inplace, padded);

    // NO_PAD: whole blocks only, same result as the three-key function.
    Bytes nopad(padded.size());
    if (len % 8 == 0) {
      EXPECT_EQ(NC_E_DES3_CBC_Encrypt_NO_PAD(plain.data(), nopad.data(), &three.ks[0][0], int32_t(len), iv.data()),
                int(len));
      EXPECT_EQ(nopad, expect3);
      EXPECT_EQ(NC_E_DES3_CBC_Decrypt_NO_PAD(expect3.data(), nopad.data(), &three.ks[0][0], int32_t(len), iv.data()),
                int(len));
      EXPECT_EQ(nopad, plain);
    } else {
      EXPECT_EQ(NC_E_DES3_CBC_Encrypt_NO_PAD(plain.data(), nopad.data(), &three.ks[0][0], int32_t(len), iv.data()), -1);
      EXPECT_EQ(NC_E_DES3_CBC_Decrypt_NO_PAD(plain.data(), nopad.data(), &three.ks[0][0], int32_t(len), iv.data()), -1);
      EXPECT_EQ(nopad, Bytes(padded.size(), 0));
    }
  }
}

TEST(DesOneShot, FiveBytesBecomeOneBlockAndIvIsNotWritten) {
  const Schedules two = TwoKey(FromHex("0123456789ABCDEFFEDCBA9876543210"));
  const Bytes iv = FromHex("1122334455667788");
  Bytes iv_copy = iv;
  const uint8_t five[5] = {1, 2, 3, 4, 5};
  uint8_t out[8], full[8];
  const uint8_t zero_filled[8] = {1, 2, 3, 4, 5, 0, 0, 0};
  EXPECT_EQ(NC_E_DES3_CBC_Encrypt(five, out, &two.ks[0][0], 5, iv_copy.data()), 8);
  NC_E_DES3_CBC_Encrypt(zero_filled, full, &two.ks[0][0], 8, iv_copy.data());
  EXPECT_EQ(Bytes(out, out + 8), Bytes(full, full + 8));
  EXPECT_EQ(iv_copy, iv);
}

TEST(DesOneShot, RejectsBadArguments) {
  const Schedules two = TwoKey(Bytes(16, 0x42));
  uint8_t buf[16] = {};
  const uint8_t iv[8] = {};
  EXPECT_EQ(NC_E_DES3_CBC_Encrypt(buf, buf, &two.ks[0][0], -1, iv), -1);
  EXPECT_EQ(NC_E_DES3_CBC_Encrypt(nullptr, buf, &two.ks[0][0], 8, iv), -1);
  EXPECT_EQ(NC_E_DES3_CBC_Decrypt(buf, buf, &two.ks[0][0], 8, nullptr), -1);
  EXPECT_EQ(NC_E_DES3_3Key_CBC_Encrypt(buf, buf, nullptr, 8, iv), -1);
  EXPECT_EQ(NC_E_DES3_CBC_Encrypt(nullptr, nullptr, &two.ks[0][0], 0, iv), 0);
  EXPECT_EQ(NC_E_DES3_CBC_Encrypt(buf, buf, &two.ks[0][0], INT32_MAX, iv), -1);
  NC_DES3_CTX ctx{};
  NC_DES3_EncInit(&ctx);
  int32_t out_len = 5;
  EXPECT_EQ(NC_DES3_CBC_EncUpdate(&ctx, buf, INT32_MAX, buf + 8, &out_len), -1);
  EXPECT_EQ(out_len, 0);
}

// Reference for the streaming units: each 16-byte unit is CBC over two blocks
// with the IV taken from the first ciphertext block of the previous unit.
Bytes ModelUnits(bool encrypt, const Bytes& key24, const Bytes& iv8, const Bytes& in) {
  Bytes out;
  Bytes chain = iv8;
  for (size_t off = 0; off < in.size(); off += 16) {
    const Bytes unit(in.begin() + off, in.begin() + off + 16);
    const Bytes res = CryptoppCbc<CryptoPP::DES_EDE3>(encrypt, key24, chain.data(), unit);
    const Bytes& cipher = encrypt ? res : unit;
    chain.assign(cipher.begin(), cipher.begin() + 8);
    out.insert(out.end(), res.begin(), res.end());
  }
  return out;
}

const qor::test::CbcStreamCalls<NC_DES3_CTX> kStreamCalls = {
    NC_DES3_EncInit, NC_DES3_DecInit, NC_DES3_CBC_EncUpdate,
    NC_DES3_CBC_DecUpdate, NC_DES3_CBC_EncFinal, NC_DES3_CBC_DecFinal};

// Runs a whole stream with the given Update split points.
StreamResult RunStream(bool encrypt, NC_DES3_CTX& ctx, const Bytes& in, const std::vector<size_t>& splits) {
  return qor::test::RunStream(kStreamCalls, encrypt, ctx, in, splits);
}

TEST_P(DesPaths, StreamMatchesUnitModelForAnySplit) {
  std::mt19937 rng(3);
  for (size_t len = 0; len <= 100; ++len) {
    for (int padding : {1, 2}) {
      if (padding == 1 && len % 16 != 0) continue;
      SCOPED_TRACE(testing::Message() << "len " << len << " padding " << padding);
      const Bytes key = RandomBytes(rng, 24);
      const Bytes iv = RandomBytes(rng, 16);
      const Bytes plain = RandomBytes(rng, len);
      const Bytes expect = ModelUnits(true, key, Bytes(iv.begin(), iv.begin() + 8), padding == 2 ? Pkcs7Pad(plain) : plain);

      NC_DES3_CTX ctx{};
      NC_E_DES3_3Key_ScheduleEx(&ctx, key.data());
      NC_DES3_SetAlgInfo(0, padding, iv.data(), &ctx);
      for (int trial = 0; trial < 4; ++trial) {
        const auto splits = trial == 0 ? std::vector<size_t>{} : RandomSplits(rng, len);
        const StreamResult enc = RunStream(true, ctx, plain, splits);
        ASSERT_EQ(enc.rc, 0);
        ASSERT_EQ(enc.out, expect);
        const StreamResult dec = RunStream(false, ctx, expect, RandomSplits(rng, expect.size()));
        ASSERT_EQ(dec.rc, 0);
        ASSERT_EQ(dec.out, plain);
      }
    }
  }
}

TEST(Des3Stream, TwoKeyContextUsesK1Twice) {
  std::mt19937 rng(4);
  const Bytes key16 = RandomBytes(rng, 16);
  Bytes key24 = key16;
  key24.insert(key24.end(), key16.begin(), key16.begin() + 8);
  const Bytes iv = RandomBytes(rng, 16);
  const Bytes plain = RandomBytes(rng, 24);
  NC_DES3_CTX ctx{};
  NC_E_DES3_KeyScheduleEx(&ctx, key16.data());
  NC_DES3_SetAlgInfo(0, 2, iv.data(), &ctx);
  const StreamResult enc = RunStream(true, ctx, plain, {5, 17});
  ASSERT_EQ(enc.rc, 0);
  EXPECT_EQ(enc.out.size(), 32u);  // 24 bytes pad to two units
  EXPECT_EQ(enc.out, ModelUnits(true, key24, Bytes(iv.begin(), iv.begin() + 8), Pkcs7Pad(plain)));
  // The second unit chains on the first block of the first unit, which is not
  // plain CBC: the output must differ from CBC over all four blocks.
  EXPECT_NE(enc.out, CryptoppCbc<CryptoPP::DES_EDE3>(true, key24, iv.data(), Pkcs7Pad(plain)));
}

TEST(Des3Stream, NullIvKeepsStoredIv) {
  const Bytes key = Bytes(24, 0x5A);
  const Bytes iv = FromHex("00112233445566778899AABBCCDDEEFF");
  NC_DES3_CTX a{}, b{};
  NC_E_DES3_3Key_ScheduleEx(&a, key.data());
  NC_E_DES3_3Key_ScheduleEx(&b, key.data());
  NC_DES3_SetAlgInfo(0, 2, iv.data(), &a);
  NC_DES3_SetAlgInfo(0, 2, iv.data(), &b);
  NC_DES3_SetAlgInfo(0, 2, nullptr, &b);
  EXPECT_EQ(Bytes(b.iv, b.iv + 16), iv);
  const Bytes plain(40, 7);
  EXPECT_EQ(RunStream(true, a, plain, {}).out, RunStream(true, b, plain, {}).out);
}

TEST(Des3Stream, PaddingAndErrorCodes) {
  const Bytes key = FromHex("0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123");
  const Bytes iv(16, 0);
  NC_DES3_CTX ctx{};
  NC_E_DES3_3Key_ScheduleEx(&ctx, key.data());
  uint8_t buf[64] = {};
  uint8_t out[64];
  int32_t out_len = 0;

  // Empty input with padding 2: one unit of sixteen 16s, and back to nothing.
  NC_DES3_SetAlgInfo(0, 2, iv.data(), &ctx);
  const StreamResult empty = RunStream(true, ctx, {}, {});
  ASSERT_EQ(empty.rc, 0);
  EXPECT_EQ(empty.out, ModelUnits(true, key, Bytes(8, 0), Bytes(16, 16)));
  const StreamResult empty_back = RunStream(false, ctx, empty.out, {});
  EXPECT_EQ(empty_back.rc, 0);
  EXPECT_TRUE(empty_back.out.empty());

  // The codes every block cipher shares are in stream_error_codes_test.cpp.
  // Units are 16 bytes (two DES blocks): 20 bytes without padding write one
  // unit and leave four over.
  NC_DES3_SetAlgInfo(0, 1, iv.data(), &ctx);
  NC_DES3_EncInit(&ctx);
  ASSERT_EQ(NC_DES3_CBC_EncUpdate(&ctx, buf, 20, out, &out_len), 0);
  EXPECT_EQ(out_len, 16);
  EXPECT_EQ(NC_DES3_CBC_EncFinal(&ctx, out, &out_len), 4100);
}

// Long decryptions run through the bitsliced engine when the processor allows;
// both it and the table path must agree with the oracle at every batch edge.
TEST_P(DesPaths, OneShotAroundBatchEdges) {
  std::mt19937 rng(5);
  for (size_t blocks : {1u, 2u, 3u, 71u, 72u, 73u, 511u, 512u, 513u, 583u, 584u, 1100u}) {
    for (size_t extra : {0u, 3u}) {
      const size_t len = blocks * 8 + extra;
      SCOPED_TRACE(len);
      const Bytes key = RandomBytes(rng, 24);
      const Bytes iv = RandomBytes(rng, 8);
      const Bytes cipher = RandomBytes(rng, len);
      const Bytes padded = ZeroFill(cipher);
      const Schedules three = ThreeKey(key);
      const Schedules two = TwoKey(Bytes(key.begin(), key.begin() + 16));
      Bytes out(padded.size());
      ASSERT_EQ(NC_E_DES3_3Key_CBC_Decrypt(cipher.data(), out.data(), &three.ks[0][0], int32_t(len), iv.data()),
                int(padded.size()));
      EXPECT_EQ(out, CryptoppCbc<CryptoPP::DES_EDE3>(false, key, iv.data(), padded));
      Bytes inplace = padded;
      NC_E_DES3_CBC_Decrypt(inplace.data(), inplace.data(), &two.ks[0][0], int32_t(padded.size()), iv.data());
      EXPECT_EQ(inplace, CryptoppCbc<CryptoPP::DES_EDE2>(false, Bytes(key.begin(), key.begin() + 16), iv.data(), padded));
    }
  }
}

TEST_P(DesPaths, StreamingUnitsAroundBatchEdges) {
  std::mt19937 rng(6);
  for (size_t units : {35u, 36u, 37u, 256u, 257u, 292u, 700u}) {
    SCOPED_TRACE(units);
    const Bytes key = RandomBytes(rng, 24);
    const Bytes iv = RandomBytes(rng, 16);
    const Bytes plain = RandomBytes(rng, units * 16);
    const Bytes cipher = ModelUnits(true, key, Bytes(iv.begin(), iv.begin() + 8), plain);
    NC_DES3_CTX ctx{};
    NC_E_DES3_3Key_ScheduleEx(&ctx, key.data());
    NC_DES3_SetAlgInfo(0, 1, iv.data(), &ctx);
    for (int trial = 0; trial < 3; ++trial) {
      const StreamResult dec = RunStream(false, ctx, cipher, trial == 0 ? std::vector<size_t>{} : RandomSplits(rng, cipher.size()));
      ASSERT_EQ(dec.rc, 0);
      ASSERT_EQ(dec.out, plain);
    }
  }
}

QOR_INSTANTIATE_KERNEL_PATHS(DesPaths, qor::des::g_kernels);

TEST(DesKeyHelpers, ParityAndWeakKeys) {
  Bytes key = FromHex("0023456789ABCDEF");
  EXPECT_EQ(NC_CheckParity(key.data(), 8), 0);
  NC_SetOddParity(key.data(), 8);
  EXPECT_EQ(key, FromHex("0123456789ABCDEF"));
  EXPECT_EQ(NC_CheckParity(key.data(), 8), 1);
  for (int v = 0; v < 256; ++v) {
    uint8_t b = static_cast<uint8_t>(v);
    NC_SetOddParity(&b, 1);
    EXPECT_EQ(b & 0xFE, v & 0xFE);
    EXPECT_EQ(NC_CheckParity(&b, 1), 1);
  }

  const char* weak[] = {"0101010101010101", "FEFEFEFEFEFEFEFE", "E0E0E0E0F1F1F1F1", "1F1F1F1F0E0E0E0E",
                        "01FE01FE01FE01FE", "FE01FE01FE01FE01", "1FE01FE00EF10EF1", "E01FE01FF10EF10E",
                        "01E001E001F101F1", "E001E001F101F101", "1FFE1FFE0EFE0EFE", "FE1FFE1FFE0EFE0E",
                        "011F011F010E010E", "1F011F010E010E01", "E0FEE0FEF1FEF1FE", "FEE0FEE0FEF1FEF1"};
  for (const char* w : weak) {
    SCOPED_TRACE(w);
    const Bytes k = FromHex(w);
    EXPECT_EQ(NC_IsWeakKey(k.data()), 1);
    Bytes flipped = k;  // parity bits do not change the schedule
    for (auto& b : flipped) b ^= 1;
    EXPECT_EQ(NC_IsWeakKey(flipped.data()), 1);
  }
  EXPECT_EQ(NC_IsWeakKey(FromHex("0123456789ABCDEF").data()), 0);
  EXPECT_EQ(NC_IsWeakKey(FromHex("0101010101010103").data()), 0);
  // A weak key encrypts twice to the identity.
  uint32_t ks[NC_DES_SCHEDULE_WORDS];
  NC_E_DES_KeySchedule(FromHex("1F1F1F1F0E0E0E0E").data(), ks);
  const Bytes block = FromHex("0011223344556677");
  uint8_t once[8], twice[8];
  NC_E_DES_Encrypt(block.data(), once, ks);
  NC_E_DES_Encrypt(once, twice, ks);
  EXPECT_EQ(Bytes(twice, twice + 8), block);
}

}  // namespace
