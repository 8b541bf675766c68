// Keyed AES streaming context and one-shot CBC: standard vectors, padding and
// error rules, and OpenSSL cross-checks over random keys, IVs, lengths and
// split points, on both the AES-instruction and the table path.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "primitives/aes/aes_internal.h"
#include "qor/nc_aes.h"
#include "support/bytes.h"
#include "support/evp_oracle.h"
#include "support/kernel_paths.h"

namespace {

using qor::test::Bytes;
using qor::test::EvpCrypt;
using qor::test::FromHex;
using qor::test::RandomBytes;

NC_AES_CTX Keyed(const Bytes& key, int mode, int padding, const Bytes& iv) {
  NC_AES_CTX ctx;
  std::memset(&ctx, 0, sizeof ctx);
  EXPECT_EQ(0, NC_AES_EncKeySchedule(key.data(), static_cast<int>(key.size()), &ctx));
  EXPECT_EQ(0, NC_AES_SetAlgInfo(mode, padding, iv.empty() ? nullptr : iv.data(), &ctx));
  return ctx;
}

struct Result {
  int rc = 0;  // first non-zero return code
  Bytes out;
  int finalLen = 0;
};

// Feeds |in| in pieces ending at |cuts| (ascending offsets), then calls Final.
Result Stream(NC_AES_CTX ctx, bool decrypt, const Bytes& in, const std::vector<size_t>& cuts = {}) {
  Result r;
  EXPECT_EQ(0, decrypt ? NC_AES_DecInit(&ctx) : NC_AES_EncInit(&ctx));
  std::vector<size_t> ends = cuts;
  ends.push_back(in.size());
  size_t pos = 0;
  size_t fed = 0;
  Bytes buf(in.size() + 32);
  for (size_t end : ends) {
    int n = -99;
    const int len = static_cast<int>(end - pos);
    const int rc = decrypt ? NC_AES_DecUpdate(&ctx, in.data() + pos, len, buf.data(), &n)
                           : NC_AES_EncUpdate(&ctx, in.data() + pos, len, buf.data(), &n);
    if (rc != 0) {
      r.rc = rc;
      return r;
    }
    fed += static_cast<size_t>(len);
    EXPECT_EQ(0, n % 16);
    r.out.insert(r.out.end(), buf.begin(), buf.begin() + n);
    // Encryption emits every whole unit; decryption holds the last one back.
    const size_t expected = decrypt ? (fed == 0 ? 0 : (fed - 1) / 16 * 16) : fed / 16 * 16;
    EXPECT_EQ(expected, r.out.size());
    pos = end;
  }
  uint8_t last[16];
  r.rc = decrypt ? NC_AES_DecFinal(&ctx, last, &r.finalLen) : NC_AES_EncFinal(&ctx, last, &r.finalLen);
  if (r.rc == 0 && r.finalLen > 0) r.out.insert(r.out.end(), last, last + r.finalLen);
  return r;
}

const EVP_CIPHER* OpenSslCipher(int mode, size_t keyLen) {
  const int k = keyLen == 16 ? 0 : keyLen == 24 ? 1 : 2;
  switch (mode) {
    case NC_AES_MODE_ECB: return (const EVP_CIPHER* []){EVP_aes_128_ecb(), EVP_aes_192_ecb(), EVP_aes_256_ecb()}[k];
    case NC_AES_MODE_OFB: return (const EVP_CIPHER* []){EVP_aes_128_ofb(), EVP_aes_192_ofb(), EVP_aes_256_ofb()}[k];
    case NC_AES_MODE_CFB:
      return (const EVP_CIPHER* []){EVP_aes_128_cfb128(), EVP_aes_192_cfb128(), EVP_aes_256_cfb128()}[k];
    default: return (const EVP_CIPHER* []){EVP_aes_128_cbc(), EVP_aes_192_cbc(), EVP_aes_256_cbc()}[k];
  }
}

Bytes OpenSsl(int mode, bool encrypt, bool pad, const Bytes& key, const Bytes& iv, const Bytes& in) {
  return EvpCrypt(OpenSslCipher(mode, key.size()), encrypt, pad, key, iv.data(), in);
}


// Runs every test on each implementation this processor can run.
class AesTest : public qor::test::KernelPathTest<qor::aes::g_kernels> {};

// The four 16-byte example blocks under each mode and key size.
TEST_P(AesTest, ModeExampleVectors) {
  const Bytes plain = FromHex(
      "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51 "
      "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710");
  const Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
  struct Case {
    const char* key;
    int mode;
    const char* cipher;
  };
  const char* k128 = "2b7e151628aed2a6abf7158809cf4f3c";
  const char* k192 = "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b";
  const char* k256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
  const Case cases[] = {
      {k128, NC_AES_MODE_ECB, "3ad77bb40d7a3660a89ecaf32466ef97 f5d3d58503b9699de785895a96fdbaaf "
                              "43b1cd7f598ece23881b00e3ed030688 7b0c785e27e8ad3f8223207104725dd4"},
      {k128, NC_AES_MODE_CBC, "7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2 "
                              "73bed6b8e3c1743b7116e69e22229516 3ff1caa1681fac09120eca307586e1a7"},
      {k128, NC_AES_MODE_CFB, "3b3fd92eb72dad20333449f8e83cfb4a c8a64537a0b3a93fcde3cdad9f1ce58b "
                              "26751f67a3cbb140b1808cf187a4f4df c04b05357c5d1c0eeac4c66f9ff7f2e6"},
      {k128, NC_AES_MODE_OFB, "3b3fd92eb72dad20333449f8e83cfb4a 7789508d16918f03f53c52dac54ed825 "
                              "9740051e9c5fecf64344f7a82260edcc 304c6528f659c77866a510d9c1d6ae5e"},
      {k192, NC_AES_MODE_ECB, "bd334f1d6e45f25ff712a214571fa5cc 974104846d0ad3ad7734ecb3ecee4eef "
                              "ef7afd2270e2e60adce0ba2face6444e 9a4b41ba738d6c72fb16691603c18e0e"},
      {k192, NC_AES_MODE_CBC, "4f021db243bc633d7178183a9fa071e8 b4d9ada9ad7dedf4e5e738763f69145a "
                              "571b242012fb7ae07fa9baac3df102e0 08b0e27988598881d920a9e64f5615cd"},
      {k192, NC_AES_MODE_CFB, "cdc80d6fddf18cab34c25909c99a4174 67ce7f7f81173621961a2b70171d3d7a "
                              "2e1e8a1dd59b88b1c8e60fed1efac4c9 c05f9f9ca9834fa042ae8fba584b09ff"},
      {k192, NC_AES_MODE_OFB, "cdc80d6fddf18cab34c25909c99a4174 fcc28b8d4c63837c09e81700c1100401 "
                              "8d9a9aeac0f6596f559c6d4daf59a5f2 6d9f200857ca6c3e9cac524bd9acc92a"},
      {k256, NC_AES_MODE_ECB, "f3eed1bdb5d2a03c064b5a7e3db181f8 591ccb10d410ed26dc5ba74a31362870 "
                              "b6ed21b99ca6f4f9f153e7b1beafed1d 23304b7a39f9f3ff067d8d8f9e24ecc7"},
      {k256, NC_AES_MODE_CBC, "f58c4c04d6e5f1ba779eabfb5f7bfbd6 9cfc4e967edb808d679f777bc6702c7d "
                              "39f23369a9d9bacfa530e26304231461 b2eb05e2c39be9fcda6c19078c6a9d1b"},
      {k256, NC_AES_MODE_CFB, "dc7e84bfda79164b7ecd8486985d3860 39ffed143b28b1c832113c6331e5407b "
                              "df10132415e54b92a13ed0a8267ae2f9 75a385741ab9cef82031623d55b1e471"},
      {k256, NC_AES_MODE_OFB, "dc7e84bfda79164b7ecd8486985d3860 4febdc6740d20b3ac88f6ad82a4fb08d "
                              "71ab47a086e86eedf39d1c5bba97c408 0126141d67f37be8538f5a8be740e484"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " mode " + std::to_string(c.mode));
    const Bytes key = FromHex(c.key), cipher = FromHex(c.cipher);
    const NC_AES_CTX ctx = Keyed(key, c.mode, NC_AES_PAD_NONE, iv);
    const Result enc = Stream(ctx, false, plain);
    ASSERT_EQ(0, enc.rc);
    EXPECT_EQ(cipher, enc.out);
    NC_AES_CTX dctx;
    std::memset(&dctx, 0, sizeof dctx);
    ASSERT_EQ(0, NC_AES_DecKeySchedule(key.data(), static_cast<int>(key.size()), &dctx));
    NC_AES_SetAlgInfo(c.mode, NC_AES_PAD_NONE, iv.data(), &dctx);
    const Result dec = Stream(dctx, true, cipher, {5, 16, 40});
    ASSERT_EQ(0, dec.rc);
    EXPECT_EQ(plain, dec.out);
  }
}

// Random keys, IVs and every length up to a few blocks plus larger ones, in
// one call and over random split points, against OpenSSL in both directions.
TEST_P(AesTest, MatchesOpenSslOverRandomInputs) {
  std::mt19937 rng(7 + PathIndex());
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 100; ++n) lengths.push_back(n);
  for (size_t base : {256u, 1024u, 4096u}) {
    for (size_t d = 0; d <= 2; ++d) {
      lengths.insert(lengths.end(), {base - 16 - d, base - d, base + d, base + 16 + d});
    }
  }
  lengths.push_back(3000);
  for (int mode : {NC_AES_MODE_ECB, NC_AES_MODE_CBC, NC_AES_MODE_OFB, NC_AES_MODE_CFB}) {
    const bool stream = mode == NC_AES_MODE_OFB || mode == NC_AES_MODE_CFB;
    for (size_t len : lengths) {
      const size_t keyLen = 16 + 8 * (rng() % 3);
      const Bytes key = RandomBytes(rng, keyLen), iv = RandomBytes(rng, 16), plain = RandomBytes(rng, len);
      SCOPED_TRACE("mode " + std::to_string(mode) + " key " + std::to_string(keyLen) + " len " + std::to_string(len));
      // Block modes pad; stream modes take any length without padding.
      const int padding = stream ? NC_AES_PAD_NONE : NC_AES_PAD_BLOCK;
      const Bytes expected = OpenSsl(mode, true, !stream, key, iv, plain);
      const NC_AES_CTX ctx = Keyed(key, mode, padding, iv);

      const Result whole = Stream(ctx, false, plain);
      ASSERT_EQ(0, whole.rc);
      ASSERT_EQ(expected, whole.out);

      std::vector<size_t> cuts;
      for (size_t pos = 0; pos < len;) {
        pos += rng() % 40;
        if (pos < len) cuts.push_back(pos);
      }
      const Result split = Stream(ctx, false, plain, cuts);
      ASSERT_EQ(0, split.rc);
      ASSERT_EQ(expected, split.out);

      const Result dec = Stream(ctx, true, expected, cuts);
      ASSERT_EQ(0, dec.rc);
      ASSERT_EQ(plain, dec.out);
    }
  }
}

TEST_P(AesTest, ModeCodesOtherThanEcbOfbCfbRunCbc) {
  const Bytes key(16, 0x11), iv(16, 0x22), plain(48, 0x33);
  const Bytes cbc = OpenSsl(NC_AES_MODE_CBC, true, true, key, iv, plain);
  for (int mode : {0, 2, 5, -1, 1000}) {
    const Result r = Stream(Keyed(key, mode, NC_AES_PAD_BLOCK, iv), false, plain);
    ASSERT_EQ(0, r.rc);
    EXPECT_EQ(cbc, r.out) << mode;
  }
}

TEST_P(AesTest, PaddingRules) {
  const Bytes key(32, 0x5a), iv(16, 0xa5);
  const NC_AES_CTX cbc = Keyed(key, NC_AES_MODE_CBC, NC_AES_PAD_BLOCK, iv);

  // Nothing in gives one unit of sixteen 0x10 bytes; decrypting it gives nothing.
  Result empty = Stream(cbc, false, {});
  ASSERT_EQ(0, empty.rc);
  EXPECT_EQ(OpenSsl(NC_AES_MODE_CBC, true, false, key, iv, Bytes(16, 0x10)), empty.out);
  Result back = Stream(cbc, true, empty.out);
  EXPECT_EQ(0, back.rc);
  EXPECT_EQ(0, back.finalLen);
  EXPECT_TRUE(back.out.empty());

  // A whole unit gains a whole unit of padding.
  const Bytes sixteen(16, 0x42);
  EXPECT_EQ(32u, Stream(cbc, false, sixteen).out.size());
  EXPECT_EQ(sixteen, Stream(cbc, true, Stream(cbc, false, sixteen).out).out);

  // Units decrypting to these last blocks, checked by padding 2.
  struct PadCase {
    Bytes block;
    int finalLen;
  };
  Bytes goodOne(16, 0x77);
  goodOne[15] = 1;
  Bytes goodFull(16, 16);
  Bytes zeroLast(16, 0x00);
  Bytes tooBig(16, 17);
  Bytes badInner(16, 4);
  badInner[13] = 5;
  Bytes ff(16, 0xff);
  const PadCase pads[] = {{goodOne, 15}, {goodFull, 0}, {zeroLast, NC_AES_BAD_PADDING},
                          {tooBig, NC_AES_BAD_PADDING}, {badInner, NC_AES_BAD_PADDING}, {ff, NC_AES_BAD_PADDING}};
  for (const PadCase& p : pads) {
    const Bytes unit = OpenSsl(NC_AES_MODE_CBC, true, false, key, iv, p.block);
    const Result r = Stream(cbc, true, unit);
    EXPECT_EQ(0, r.rc);
    EXPECT_EQ(p.finalLen, r.finalLen) << int(p.block[15]);
    if (p.finalLen >= 0) {
      EXPECT_EQ(Bytes(p.block.begin(), p.block.begin() + p.finalLen), r.out);
    }
  }

  // Unknown padding: EncFinal refuses, DecFinal reports it through the length.
  for (int padding : {0, 3, -2}) {
    NC_AES_CTX ctx = Keyed(key, NC_AES_MODE_CBC, padding, iv);
    EXPECT_EQ(NC_AES_ERR_PADDING_CODE, Stream(ctx, false, Bytes(5, 1)).rc);
    const Result r = Stream(ctx, true, Bytes(32, 9));
    EXPECT_EQ(0, r.rc);
    EXPECT_EQ(NC_AES_BAD_PADDING_CODE, r.finalLen);
  }

  // No padding: leftovers are an error at EncFinal, whole units pass through.
  const NC_AES_CTX raw = Keyed(key, NC_AES_MODE_ECB, NC_AES_PAD_NONE, iv);
  EXPECT_EQ(NC_AES_ERR_UNPADDED_DATA, Stream(raw, false, Bytes(17, 1)).rc);
  const Result rawEnc = Stream(raw, false, Bytes(32, 1));
  EXPECT_EQ(0, rawEnc.rc);
  EXPECT_EQ(0, rawEnc.finalLen);
  EXPECT_EQ(32u, rawEnc.out.size());
  const Result rawDec = Stream(raw, true, rawEnc.out);
  EXPECT_EQ(16, rawDec.finalLen);
  EXPECT_EQ(Bytes(32, 1), rawDec.out);

  // A ciphertext that is not whole units cannot be finished.
  for (int mode : {NC_AES_MODE_ECB, NC_AES_MODE_CBC}) {
    for (size_t n : {1u, 15u, 17u, 33u}) {
      EXPECT_EQ(NC_AES_ERR_PARTIAL_UNIT, Stream(Keyed(key, mode, NC_AES_PAD_BLOCK, iv), true, Bytes(n, 3)).rc) << n;
    }
  }
}

TEST_P(AesTest, StreamModesEndWithoutPadding) {
  const Bytes key(16, 1), iv(16, 2);
  for (int mode : {NC_AES_MODE_OFB, NC_AES_MODE_CFB}) {
    // The padding code does not matter to a stream mode.
    for (int padding : {NC_AES_PAD_NONE, NC_AES_PAD_BLOCK, 9}) {
      for (size_t len : {0u, 1u, 15u, 16u, 31u}) {
        const Bytes plain(len, 0x5c);
        const Result enc = Stream(Keyed(key, mode, padding, iv), false, plain);
        ASSERT_EQ(0, enc.rc);
        EXPECT_EQ(OpenSsl(mode, true, false, key, iv, plain), enc.out);
        EXPECT_EQ(static_cast<int>(len % 16), enc.finalLen);
        const Result dec = Stream(Keyed(key, mode, padding, iv), true, enc.out);
        ASSERT_EQ(0, dec.rc);
        EXPECT_EQ(plain, dec.out);
      }
    }
  }
}

TEST_P(AesTest, DecFinalVariantsAgreeWithDispatch) {
  const Bytes key(24, 7), iv(16, 8), plain(21, 9);
  struct Variant {
    int mode;
    int (*final)(NC_AES_CTX*, unsigned char*, int*);
  };
  const Variant variants[] = {{NC_AES_MODE_ECB, NC_ECB_DecFinal},
                              {NC_AES_MODE_CBC, NC_CBC_DecFinal},
                              {NC_AES_MODE_OFB, NC_OFB_DecFinal},
                              {NC_AES_MODE_CFB, NC_CFB_DecFinal}};
  for (const Variant& v : variants) {
    NC_AES_CTX ctx = Keyed(key, v.mode, NC_AES_PAD_BLOCK, iv);
    const Bytes cipher = Stream(ctx, false, plain).out;
    NC_AES_DecInit(&ctx);
    Bytes out(cipher.size() + 16);
    int n = 0, f = 0;
    ASSERT_EQ(0, NC_AES_DecUpdate(&ctx, cipher.data(), static_cast<int>(cipher.size()), out.data(), &n));
    ASSERT_EQ(0, v.final(&ctx, out.data() + n, &f));
    out.resize(static_cast<size_t>(n + f));
    EXPECT_EQ(plain, out) << v.mode;
  }
}

TEST_P(AesTest, KeyAndArgumentErrors) {
  NC_AES_CTX ctx;
  std::memset(&ctx, 0, sizeof ctx);
  const uint8_t key[33] = {};
  for (int len : {0, 8, 15, 17, 20, 23, 25, 31, 33, -16}) {
    EXPECT_EQ(NC_AES_ERR_KEY_LENGTH, NC_AES_EncKeySchedule(key, len, &ctx)) << len;
    EXPECT_EQ(NC_AES_ERR_KEY_LENGTH, NC_AES_DecKeySchedule(key, len, &ctx)) << len;
  }
  // A context that never received a key refuses to work.
  uint8_t buf[64] = {};
  int n = 7;
  EXPECT_EQ(NC_AES_ERR_KEY_LENGTH, NC_AES_EncUpdate(&ctx, buf, 32, buf + 32, &n));
  EXPECT_EQ(0, n);
  EXPECT_EQ(-1, NC_AES_CBC_Encrypt(&ctx, buf, buf, 16, buf + 16));

  for (int len : {16, 24, 32}) {
    ASSERT_EQ(0, NC_AES_EncKeySchedule(key, len, &ctx));
    EXPECT_EQ(len / 4, ctx.key.keyWords);
    EXPECT_EQ(len, ctx.key.keyLength);
  }
  EXPECT_EQ(-1, NC_AES_EncKeySchedule(nullptr, 16, &ctx));
  EXPECT_EQ(-1, NC_AES_EncUpdate(&ctx, buf, -1, buf + 16, &n));
  EXPECT_EQ(-1, NC_AES_EncUpdate(&ctx, nullptr, 16, buf + 16, &n));
  EXPECT_EQ(-1, NC_AES_EncUpdate(&ctx, buf, 16, buf + 16, nullptr));
  EXPECT_EQ(-1, NC_AES_DecFinal(nullptr, buf, &n));
  EXPECT_EQ(-1, NC_AES_SetAlgInfo(0, 2, nullptr, nullptr));
}

TEST_P(AesTest, NullIvKeepsTheStoredIv) {
  const Bytes key(16, 3), iv(16, 4), plain(40, 5);
  NC_AES_CTX ctx = Keyed(key, NC_AES_MODE_CBC, NC_AES_PAD_BLOCK, iv);
  ASSERT_EQ(0, NC_AES_SetAlgInfo(NC_AES_MODE_CBC, NC_AES_PAD_BLOCK, nullptr, &ctx));
  EXPECT_EQ(OpenSsl(NC_AES_MODE_CBC, true, true, key, iv, plain), Stream(ctx, false, plain).out);
}

TEST_P(AesTest, UpdateWithOverlappingBuffers) {
  std::mt19937 rng(5);
  const Bytes key = RandomBytes(rng, 16), iv = RandomBytes(rng, 16), plain = RandomBytes(rng, 731);
  constexpr size_t kHead = 7;
  for (int mode : {NC_AES_MODE_ECB, NC_AES_MODE_CBC, NC_AES_MODE_OFB, NC_AES_MODE_CFB}) {
    for (bool decrypt : {false, true}) {
      // shift 0: output over the very input it comes from (the buffered bytes
      // put the output ahead of its input); shift kHead: the output starts
      // kHead bytes before the input, as when compacting a buffer.
      for (size_t shift : {size_t{0}, kHead}) {
        NC_AES_CTX ctx = Keyed(key, mode, NC_AES_PAD_BLOCK, iv);
        const Bytes input = decrypt ? Stream(ctx, false, plain).out : plain;
        const Result expected = Stream(ctx, decrypt, input);
        decrypt ? NC_AES_DecInit(&ctx) : NC_AES_EncInit(&ctx);
        auto update = decrypt ? NC_AES_DecUpdate : NC_AES_EncUpdate;
        Bytes first(32);
        int n1 = 0, n2 = 0, n3 = 0;
        ASSERT_EQ(0, update(&ctx, input.data(), static_cast<int>(kHead), first.data(), &n1));
        Bytes work(shift, 0);
        work.insert(work.end(), input.begin() + kHead, input.end());
        work.resize(work.size() + 32);
        ASSERT_EQ(0, update(&ctx, work.data() + shift, static_cast<int>(input.size() - kHead), work.data(), &n2));
        Bytes got(first.begin(), first.begin() + n1);
        got.insert(got.end(), work.begin(), work.begin() + n2);
        uint8_t last[16];
        ASSERT_EQ(0, decrypt ? NC_AES_DecFinal(&ctx, last, &n3) : NC_AES_EncFinal(&ctx, last, &n3));
        got.insert(got.end(), last, last + n3);
        EXPECT_EQ(expected.out, got) << mode << " " << decrypt << " " << shift;
      }
    }
  }
}

TEST_P(AesTest, OneShotCbc) {
  std::mt19937 rng(11);
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (size_t len : {0u, 1u, 5u, 15u, 16u, 17u, 64u, 127u, 128u, 129u, 1000u, 4096u}) {
      const Bytes key = RandomBytes(rng, keyLen), iv = RandomBytes(rng, 16), plain = RandomBytes(rng, len);
      NC_AES_CTX ctx = Keyed(key, NC_AES_MODE_ECB, NC_AES_PAD_BLOCK, iv);  // stream fields are ignored
      const NC_AES_CTX before = ctx;
      // The trailing partial block is completed with zero bytes.
      Bytes zeroFilled = plain;
      zeroFilled.resize((len + 15) / 16 * 16, 0);
      const Bytes expected = OpenSsl(NC_AES_MODE_CBC, true, false, key, iv, zeroFilled);
      Bytes out(zeroFilled.size() + 16, 0xEE);
      ASSERT_EQ(static_cast<int>(zeroFilled.size()),
                NC_AES_CBC_Encrypt(&ctx, iv.data(), plain.data(), static_cast<int>(len), out.data()));
      EXPECT_EQ(expected, Bytes(out.begin(), out.begin() + static_cast<long>(zeroFilled.size()))) << len;
      EXPECT_EQ(0xEE, out[zeroFilled.size()]);
      EXPECT_EQ(0, std::memcmp(&before, &ctx, sizeof ctx));

      Bytes inPlace = expected;
      ASSERT_EQ(static_cast<int>(inPlace.size()),
                NC_AES_CBC_Decrypt(&ctx, iv.data(), inPlace.data(), static_cast<int>(inPlace.size()), inPlace.data()));
      EXPECT_EQ(zeroFilled, inPlace);
    }
  }
  NC_AES_CTX ctx = Keyed(Bytes(16, 1), 0, 2, Bytes(16, 2));
  uint8_t buf[48] = {};
  EXPECT_EQ(-1, NC_AES_CBC_Decrypt(&ctx, buf, buf, 17, buf));
  EXPECT_EQ(-1, NC_AES_CBC_Encrypt(&ctx, nullptr, buf, 16, buf));
  EXPECT_EQ(-1, NC_AES_CBC_Encrypt(&ctx, buf, buf, -1, buf));
}

QOR_INSTANTIATE_KERNEL_PATHS(AesTest, qor::aes::g_kernels);

}  // namespace
