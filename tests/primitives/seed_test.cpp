// SEED: RFC 4269 vectors, Crypto++ as the oracle for random keys, IVs and
// lengths (one-shot and streaming over random split points), padding and
// error codes of the streaming context.
#include <crypto++/filters.h>
#include <crypto++/modes.h>
#include <crypto++/seed.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "primitives/seed/seed_vector.h"
#include "qor/nc_seed.h"
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

// Every test that runs data through the cipher does so on each kernel.
class SeedPaths : public qor::test::KernelPathTest<qor::seed::g_kernels> {};

TEST(SeedKnownAnswer, Rfc4269Vectors) {
  struct Case {
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Case cases[] = {
      {"00000000000000000000000000000000", "000102030405060708090A0B0C0D0E0F", "5EBAC6E0054E166819AFF1CC6D346CDB"},
      {"000102030405060708090A0B0C0D0E0F", "00000000000000000000000000000000", "C11F22F20140505084483597E4370F43"},
      {"4706480851E61BE85D74BFB3FD956185", "83A2F8A288641FB9A4E9A5CC2F131C7D", "EE54D13EBCAE706D226BC3142CD40D4A"},
      {"28DBC3BC49FFD87DCFA509B11D422BE7", "B41E6BE2EBA84A148E2EED84593C5EC7", "9B9B7BFCD1813CB95D0B3618F40F5122"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    NC_SEED_CTX ctx{};
    NC_E_SEED_KeyScheduleEx(&ctx, FromHex(c.key).data());
    uint32_t rk[NC_SEED_ROUND_KEY_WORDS];
    NC_E_SEED_KeySchedule(FromHex(c.key).data(), rk);
    EXPECT_EQ(0, std::memcmp(rk, ctx.rk, sizeof(rk)));
    const Bytes plain = FromHex(c.plain);
    uint8_t out[16], back[16];
    NC_E_SEED_Encrypt(plain.data(), out, ctx.rk);
    EXPECT_EQ(Bytes(out, out + 16), FromHex(c.cipher));
    NC_E_SEED_Decrypt(out, back, ctx.rk);
    EXPECT_EQ(Bytes(back, back + 16), plain);
  }
}

TEST_P(SeedPaths, BlocksAndOneShotCbcEveryLength) {
  std::mt19937 rng(11);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 100; ++n) lengths.push_back(n);
  for (size_t n : {255u, 256u, 257u, 4095u, 4096u, 65536u + 5}) lengths.push_back(n);
  for (size_t len : lengths) {
    SCOPED_TRACE(len);
    const Bytes key = RandomBytes(rng, 16);
    const Bytes iv = RandomBytes(rng, 16);
    const Bytes plain = RandomBytes(rng, len);
    Bytes padded = plain;
    padded.resize((len + 15) / 16 * 16, 0);
    uint32_t rk[NC_SEED_ROUND_KEY_WORDS];
    NC_E_SEED_KeySchedule(key.data(), rk);

    // Single blocks.
    const Bytes block = RandomBytes(rng, 16);
    uint8_t ours[16], theirs[16];
    NC_E_SEED_Encrypt(block.data(), ours, rk);
    CryptoPP::SEED::Encryption(key.data(), 16).ProcessBlock(block.data(), theirs);
    ASSERT_EQ(Bytes(ours, ours + 16), Bytes(theirs, theirs + 16));
    NC_E_SEED_Decrypt(block.data(), ours, rk);
    CryptoPP::SEED::Decryption(key.data(), 16).ProcessBlock(block.data(), theirs);
    ASSERT_EQ(Bytes(ours, ours + 16), Bytes(theirs, theirs + 16));

    // One-shot CBC: zero-filled tail, rounded-up output, IV left alone.
    const Bytes expect = CryptoppCbc<CryptoPP::SEED>(true, key, iv.data(), padded);
    Bytes out(padded.size() + 16, 0xAA);
    Bytes iv_copy = iv;
    ASSERT_EQ(NC_E_SEED_CBC_Encrypt(plain.data(), out.data(), rk, int32_t(len), iv_copy.data()), int(padded.size()));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + padded.size()), expect);
    EXPECT_EQ(out[padded.size()], 0xAA);
    EXPECT_EQ(iv_copy, iv);
    Bytes back(padded.size());
    ASSERT_EQ(NC_E_SEED_CBC_Decrypt(expect.data(), back.data(), rk, int32_t(padded.size()), iv.data()),
              int(padded.size()));
    EXPECT_EQ(back, padded);
    // In place.
    Bytes inplace = padded;
    NC_E_SEED_CBC_Encrypt(inplace.data(), inplace.data(), rk, int32_t(padded.size()), iv.data());
    EXPECT_EQ(inplace, expect);
    NC_E_SEED_CBC_Decrypt(inplace.data(), inplace.data(), rk, int32_t(padded.size()), iv.data());
    EXPECT_EQ(inplace, padded);
  }
}

TEST(SeedOneShot, FiveBytesGiveOneBlockAndBadArgumentsFail) {
  uint32_t rk[NC_SEED_ROUND_KEY_WORDS];
  NC_E_SEED_KeySchedule(Bytes(16, 3).data(), rk);
  const uint8_t iv[16] = {};
  const uint8_t five[5] = {9, 8, 7, 6, 5};
  uint8_t out[16], full[16];
  uint8_t zero_filled[16] = {9, 8, 7, 6, 5};
  EXPECT_EQ(NC_E_SEED_CBC_Encrypt(five, out, rk, 5, iv), 16);
  NC_E_SEED_CBC_Encrypt(zero_filled, full, rk, 16, iv);
  EXPECT_EQ(Bytes(out, out + 16), Bytes(full, full + 16));
  EXPECT_EQ(NC_E_SEED_CBC_Encrypt(five, out, rk, -1, iv), -1);
  EXPECT_EQ(NC_E_SEED_CBC_Encrypt(nullptr, out, rk, 5, iv), -1);
  EXPECT_EQ(NC_E_SEED_CBC_Decrypt(five, out, nullptr, 5, iv), -1);
  EXPECT_EQ(NC_E_SEED_CBC_Decrypt(five, out, rk, 5, nullptr), -1);
  // A length whose rounded-up size would not fit the result is refused untouched.
  EXPECT_EQ(NC_E_SEED_CBC_Encrypt(five, out, rk, INT32_MAX, iv), -1);
}

const qor::test::CbcStreamCalls<NC_SEED_CTX> kStreamCalls = {
    NC_SEED_EncInit, NC_SEED_DecInit, NC_SEED_CBC_EncUpdate,
    NC_SEED_CBC_DecUpdate, NC_SEED_CBC_EncFinal, NC_SEED_CBC_DecFinal};

// Runs a whole stream with the given Update split points.
StreamResult RunStream(bool encrypt, NC_SEED_CTX& ctx, const Bytes& in, const std::vector<size_t>& splits) {
  return qor::test::RunStream(kStreamCalls, encrypt, ctx, in, splits);
}

TEST_P(SeedPaths, StreamMatchesOracleCbcForAnySplit) {
  std::mt19937 rng(12);
  for (size_t len = 0; len <= 90; ++len) {
    for (int padding : {1, 2}) {
      if (padding == 1 && len % 16 != 0) continue;
      SCOPED_TRACE(testing::Message() << "len " << len << " padding " << padding);
      const Bytes key = RandomBytes(rng, 16);
      const Bytes iv = RandomBytes(rng, 16);
      const Bytes plain = RandomBytes(rng, len);
      const Bytes expect = CryptoppCbc<CryptoPP::SEED>(true, key, iv.data(), padding == 2 ? Pkcs7Pad(plain) : plain);
      NC_SEED_CTX ctx{};
      NC_E_SEED_KeyScheduleEx(&ctx, key.data());
      NC_SEED_SetAlgInfo(0, padding, iv.data(), &ctx);
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

TEST(SeedStream, PaddingEdgesAndNullIv) {
  const Bytes key = FromHex("28DBC3BC49FFD87DCFA509B11D422BE7");
  NC_SEED_CTX ctx{};
  NC_E_SEED_KeyScheduleEx(&ctx, key.data());
  std::memset(ctx.iv, 0x77, sizeof(ctx.iv));
  NC_SEED_SetAlgInfo(0, 2, nullptr, &ctx);  // null IV means all zeros
  EXPECT_EQ(Bytes(ctx.iv, ctx.iv + 16), Bytes(16, 0));

  // 0 bytes -> one block of sixteen 16s; 16 bytes -> 32 bytes.
  const StreamResult empty = RunStream(true, ctx, {}, {});
  ASSERT_EQ(empty.rc, 0);
  EXPECT_EQ(empty.out, CryptoppCbc<CryptoPP::SEED>(true, key, Bytes(16, 0).data(), Bytes(16, 16)));
  const StreamResult empty_back = RunStream(false, ctx, empty.out, {});
  EXPECT_EQ(empty_back.rc, 0);
  EXPECT_TRUE(empty_back.out.empty());
  const StreamResult sixteen = RunStream(true, ctx, Bytes(16, 1), {});
  EXPECT_EQ(sixteen.out.size(), 32u);
  EXPECT_EQ(RunStream(false, ctx, sixteen.out, {9}).out, Bytes(16, 1));
}

TEST(SeedStream, ErrorCodes) {
  const Bytes key(16, 0x21);
  const Bytes iv(16, 0);
  NC_SEED_CTX ctx{};
  NC_E_SEED_KeyScheduleEx(&ctx, key.data());
  uint8_t buf[64] = {};
  uint8_t out[64];
  int32_t out_len = 0;

  // The codes every block cipher shares are in stream_error_codes_test.cpp;
  // these are SEED's own. A negative length is refused.
  NC_SEED_SetAlgInfo(0, 2, iv.data(), &ctx);
  NC_SEED_EncInit(&ctx);
  EXPECT_EQ(NC_SEED_CBC_EncUpdate(&ctx, buf, -1, out, &out_len), -1);

  // Fewer than 16 bytes: nothing written, output length 0.
  NC_SEED_EncInit(&ctx);
  out_len = 99;
  EXPECT_EQ(NC_SEED_CBC_EncUpdate(&ctx, buf, 15, out, &out_len), 0);
  EXPECT_EQ(out_len, 0);

  // Padding 1 returns the whole block, pad-like bytes included.
  const Bytes cipher = CryptoppCbc<CryptoPP::SEED>(true, key, iv.data(), Bytes(16, 0));
  NC_SEED_SetAlgInfo(0, 1, iv.data(), &ctx);
  const StreamResult raw = RunStream(false, ctx, cipher, {});
  EXPECT_EQ(raw.rc, 0);
  EXPECT_EQ(raw.out, Bytes(16, 0));
}

// CBC decryption runs on the vector path when the processor allows; both it
// and the table path must agree with the oracle around every group edge.
TEST_P(SeedPaths, OneShotAndStreamingAroundGroupEdges) {
  std::mt19937 rng(13);
  for (size_t blocks : {1u, 2u, 3u, 4u, 15u, 16u, 17u, 18u, 63u, 64u, 65u, 66u, 80u, 130u, 200u}) {
    for (size_t extra : {0u, 7u}) {
      const size_t len = blocks * 16 + extra;
      SCOPED_TRACE(len);
      const Bytes key = RandomBytes(rng, 16);
      const Bytes iv = RandomBytes(rng, 16);
      Bytes cipher = RandomBytes(rng, len);
      Bytes padded = cipher;
      padded.resize((len + 15) / 16 * 16, 0);
      const Bytes expect = CryptoppCbc<CryptoPP::SEED>(false, key, iv.data(), padded);
      uint32_t rk[NC_SEED_ROUND_KEY_WORDS];
      NC_E_SEED_KeySchedule(key.data(), rk);
      Bytes out(padded.size());
      ASSERT_EQ(NC_E_SEED_CBC_Decrypt(cipher.data(), out.data(), rk, int32_t(len), iv.data()), int(padded.size()));
      EXPECT_EQ(out, expect);
      Bytes inplace = padded;
      NC_E_SEED_CBC_Decrypt(inplace.data(), inplace.data(), rk, int32_t(padded.size()), iv.data());
      EXPECT_EQ(inplace, expect);
      if (extra == 0) {
        NC_SEED_CTX ctx{};
        NC_E_SEED_KeyScheduleEx(&ctx, key.data());
        NC_SEED_SetAlgInfo(0, 1, iv.data(), &ctx);
        const StreamResult dec = RunStream(false, ctx, cipher, RandomSplits(rng, len));
        ASSERT_EQ(dec.rc, 0);
        EXPECT_EQ(dec.out, expect);
      }
    }
  }
}

QOR_INSTANTIATE_KERNEL_PATHS(SeedPaths, qor::seed::g_kernels);

}  // namespace
