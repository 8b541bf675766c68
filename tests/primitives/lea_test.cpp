// LEA: published vectors, differential checks against Crypto++ for every
// mode, the streaming contract and argument checks. Cipher tests run with the
// automatically chosen kernels and with the portable ones.
#include <gtest/gtest.h>

#include <climits>

#include <crypto++/ccm.h>
#include <crypto++/cmac.h>
#include <crypto++/filters.h>
#include <crypto++/gcm.h>
#include <crypto++/lea.h>
#include <crypto++/modes.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "primitives/lea/lea_internal.h"
#include "qor/lea.h"
#include "support/bytes.h"
#include "support/cipher_stream.h"
#include "support/cryptopp_oracle.h"
#include "support/kernel_paths.h"

namespace {

using qor::test::Bytes;
using qor::test::CryptoppRun;
using qor::test::FromHex;
using qor::test::RandomBytes;
using CryptoPP::LEA;

LEA_KEY Key(const Bytes& k) {
  LEA_KEY key{};
  EXPECT_EQ(0, lea_set_key(&key, k.data(), static_cast<uint32_t>(k.size())));
  return key;
}

class LeaTest : public qor::test::KernelPathTest<qor::lea::g_kernels> {
 protected:
  std::mt19937 rng_{777};
  Bytes Random(size_t n) { return RandomBytes(rng_, n); }
};

QOR_INSTANTIATE_KERNEL_PATHS(LeaTest, qor::lea::g_kernels);

TEST_P(LeaTest, PublishedVectors) {
  struct Case {
    const char* key;
    const char* plain;
    const char* cipher;
    uint32_t rounds;
  } cases[] = {
      {"0f1e2d3c4b5a69788796a5b4c3d2e1f0", "101112131415161718191a1b1c1d1e1f",
       "9fc84e3528c6c6185532c7a704648bfd", 24},
      {"0f1e2d3c4b5a69788796a5b4c3d2e1f0f0e1d2c3b4a59687", "202122232425262728292a2b2c2d2e2f",
       "6fb95e325aad1b878cdcf5357674c6f2", 28},
      {"0f1e2d3c4b5a69788796a5b4c3d2e1f0f0e1d2c3b4a5968778695a4b3c2d1e0f",
       "303132333435363738393a3b3c3d3e3f", "d651aff647b189c13a8900ca27f9e197", 32},
  };
  for (const auto& c : cases) {
    const LEA_KEY key = Key(FromHex(c.key));
    EXPECT_EQ(c.rounds, key.round);
    const Bytes plain = FromHex(c.plain);
    uint8_t out[16], back[16];
    lea_encrypt(out, plain.data(), &key);
    EXPECT_EQ(FromHex(c.cipher), Bytes(out, out + 16)) << c.key;
    lea_decrypt(back, out, &key);
    EXPECT_EQ(plain, Bytes(back, back + 16));
    // The multi-block kernels on the same block repeated.
    Bytes many(16 * 37), enc(16 * 37);
    for (size_t i = 0; i < 37; ++i) std::memcpy(many.data() + 16 * i, plain.data(), 16);
    ASSERT_EQ(0, lea_ecb_enc(enc.data(), many.data(), static_cast<uint32_t>(many.size()), &key));
    for (size_t i = 0; i < 37; ++i) EXPECT_EQ(0, std::memcmp(enc.data() + 16 * i, out, 16)) << i;
    ASSERT_EQ(0, lea_ecb_dec(enc.data(), enc.data(), static_cast<uint32_t>(enc.size()), &key));
    EXPECT_EQ(many, enc);
  }
}

TEST(LeaKey, RejectsOtherLengths) {
  LEA_KEY key;
  std::memset(&key, 0x33, sizeof key);
  const LEA_KEY before = key;
  const Bytes mk(40, 1);
  for (uint32_t len : {0u, 8u, 15u, 17u, 20u, 31u, 33u}) {
    EXPECT_EQ(-1, lea_set_key(&key, mk.data(), len)) << len;
    EXPECT_EQ(0, std::memcmp(&before, &key, sizeof key));
  }
}

TEST_P(LeaTest, CbcAndEcbMatchCryptoPP) {
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (size_t blocks : {1u, 2u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 32u, 33u, 100u}) {
      const Bytes k = Random(keyLen), iv = Random(16), plain = Random(16 * blocks);
      const LEA_KEY key = Key(k);
      Bytes got(plain.size());
      ASSERT_EQ(0, lea_cbc_enc(got.data(), plain.data(), static_cast<uint32_t>(plain.size()), iv.data(), &key));
      const Bytes want = CryptoppRun(CryptoPP::CBC_Mode<LEA>::Encryption(k.data(), k.size(), iv.data()), plain);
      ASSERT_EQ(want, got) << keyLen << " " << blocks;
      Bytes back(plain.size());
      ASSERT_EQ(0, lea_cbc_dec(back.data(), want.data(), static_cast<uint32_t>(want.size()), iv.data(), &key));
      ASSERT_EQ(plain, back);
      // In place.
      Bytes inplace = want;
      ASSERT_EQ(0, lea_cbc_dec(inplace.data(), inplace.data(), static_cast<uint32_t>(inplace.size()), iv.data(), &key));
      ASSERT_EQ(plain, inplace);
      ASSERT_EQ(0, lea_ecb_enc(got.data(), plain.data(), static_cast<uint32_t>(plain.size()), &key));
      ASSERT_EQ(CryptoppRun(CryptoPP::ECB_Mode<LEA>::Encryption(k.data(), k.size()), plain), got);
    }
  }
}

TEST_P(LeaTest, BlockModesRejectPartialBlocksWithoutWriting) {
  const LEA_KEY key = Key(Random(16));
  const Bytes iv = Random(16), plain = Random(64);
  for (uint32_t len : {0u, 1u, 15u, 17u, 33u, 63u}) {
    Bytes out(64, 0xC5);
    EXPECT_EQ(-1, lea_cbc_enc(out.data(), plain.data(), len, iv.data(), &key)) << len;
    EXPECT_EQ(-1, lea_cbc_dec(out.data(), plain.data(), len, iv.data(), &key)) << len;
    EXPECT_EQ(-1, lea_ecb_enc(out.data(), plain.data(), len, &key)) << len;
    EXPECT_EQ(-1, lea_ecb_dec(out.data(), plain.data(), len, &key)) << len;
    EXPECT_EQ(Bytes(64, 0xC5), out) << len;
  }
}

TEST_P(LeaTest, StreamModesMatchCryptoPPOnEveryLengthNearBlockEdges) {
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (size_t len = 0; len <= 16 * 34 + 1; ++len) {
      if (len > 50 && len % 16 > 1 && len % 16 < 15 && len % 5 != 0) continue;
      const Bytes k = Random(keyLen), iv = Random(16), plain = Random(len);
      const LEA_KEY key = Key(k);
      const auto n = static_cast<uint32_t>(len);
      Bytes got(len), back(len);
      // CTR: the caller's counter moves past every block used.
      Bytes ctr = iv;
      lea_ctr_enc(got.data(), plain.data(), n, ctr.data(), &key);
      ASSERT_EQ(CryptoppRun(CryptoPP::CTR_Mode<LEA>::Encryption(k.data(), k.size(), iv.data()), plain), got) << len;
      Bytes ctrWant = iv;
      for (size_t b = 0; b < (len + 15) / 16; ++b) {
        for (int i = 15; i >= 0 && ++ctrWant[static_cast<size_t>(i)] == 0; --i) {
        }
      }
      ASSERT_EQ(ctrWant, ctr);
      ctr = iv;
      lea_ctr_dec(back.data(), got.data(), n, ctr.data(), &key);
      ASSERT_EQ(plain, back);
      // CFB-128.
      lea_cfb128_enc(got.data(), plain.data(), n, iv.data(), &key);
      ASSERT_EQ(CryptoppRun(CryptoPP::CFB_Mode<LEA>::Encryption(k.data(), k.size(), iv.data()), plain), got) << len;
      lea_cfb128_dec(back.data(), got.data(), n, iv.data(), &key);
      ASSERT_EQ(plain, back) << len;
      // OFB.
      lea_ofb_enc(got.data(), plain.data(), n, iv.data(), &key);
      ASSERT_EQ(CryptoppRun(CryptoPP::OFB_Mode<LEA>::Encryption(k.data(), k.size(), iv.data()), plain), got) << len;
      lea_ofb_dec(back.data(), got.data(), n, iv.data(), &key);
      ASSERT_EQ(plain, back);
    }
  }
}

TEST_P(LeaTest, CtrCounterWrapsAcrossAllSixteenBytes) {
  const Bytes k = Random(16), plain = Random(16 * 20 + 7);
  const LEA_KEY key = Key(k);
  Bytes ctr(16, 0xFF);
  ctr[15] = 0xF0;  // wraps to zero after sixteen blocks
  const Bytes start = ctr;
  Bytes got(plain.size());
  lea_ctr_enc(got.data(), plain.data(), static_cast<uint32_t>(plain.size()), ctr.data(), &key);
  EXPECT_EQ(CryptoppRun(CryptoPP::CTR_Mode<LEA>::Encryption(k.data(), k.size(), start.data()), plain), got);
  Bytes next(16, 0);
  next[15] = 5;  // 21 blocks used: 0x...F0 + 21 = 0x...105, wrapped
  EXPECT_EQ(next, ctr);
}

TEST_P(LeaTest, CfbDecryptsInPlace) {
  const Bytes k = Random(32), iv = Random(16), plain = Random(16 * 70 + 3);
  const LEA_KEY key = Key(k);
  Bytes buf(plain.size());
  lea_cfb128_enc(buf.data(), plain.data(), static_cast<uint32_t>(plain.size()), iv.data(), &key);
  lea_cfb128_dec(buf.data(), buf.data(), static_cast<uint32_t>(buf.size()), iv.data(), &key);
  EXPECT_EQ(plain, buf);
}

TEST_P(LeaTest, CmacMatchesCryptoPPOverSplitUpdates) {
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (size_t len : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 64u, 100u, 1000u}) {
      const Bytes k = Random(keyLen), msg = Random(len);
      CryptoPP::CMAC<LEA> oracle(k.data(), k.size());
      uint8_t want[16];
      oracle.CalculateDigest(want, msg.data(), msg.size());
      for (uint32_t macLen : {16u, 8u}) {
        LEA_CMAC_CTX ctx;
        ASSERT_EQ(0, lea_cmac_init(&ctx, k.data(), static_cast<uint32_t>(keyLen)));
        size_t pos = 0;
        while (pos < len) {
          const size_t n = std::min<size_t>(len - pos, 1 + rng_() % 40);
          ASSERT_EQ(0, lea_cmac_update(&ctx, msg.data() + pos, static_cast<uint32_t>(n)));
          pos += n;
        }
        uint8_t got[16] = {};
        ASSERT_EQ(0, lea_cmac_final(&ctx, got, macLen));
        EXPECT_EQ(Bytes(want, want + macLen), Bytes(got, got + macLen)) << keyLen << " " << len;
      }
    }
  }
}

template <int kTag>
void CheckCcm(std::mt19937& rng, size_t keyLen, size_t nonceLen, size_t aadLen, size_t len) {
  auto random = [&rng](size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
  };
  const Bytes k = random(keyLen), nonce = random(nonceLen), aad = random(aadLen), plain = random(len);
  typename CryptoPP::CCM<LEA, kTag>::Encryption e;
  e.SetKeyWithIV(k.data(), k.size(), nonce.data(), nonce.size());
  Bytes want(len);
  uint8_t wantTag[kTag];
  e.EncryptAndAuthenticate(want.data(), wantTag, kTag, nonce.data(), static_cast<int>(nonce.size()), aad.data(),
                           aad.size(), plain.data(), plain.size());
  const LEA_KEY key = Key(k);
  Bytes got(len);
  uint8_t tag[16];
  ASSERT_EQ(0, lea_ccm_enc(got.data(), tag, plain.data(), static_cast<uint32_t>(len), kTag, nonce.data(),
                           static_cast<uint32_t>(nonceLen), aad.data(), static_cast<uint32_t>(aadLen), &key));
  ASSERT_EQ(want, got) << kTag << " " << nonceLen << " " << aadLen << " " << len;
  ASSERT_EQ(Bytes(wantTag, wantTag + kTag), Bytes(tag, tag + kTag));
  Bytes back(len, 0);
  ASSERT_EQ(0, lea_ccm_dec(back.data(), want.data(), static_cast<uint32_t>(len), wantTag, kTag, nonce.data(),
                           static_cast<uint32_t>(nonceLen), aad.data(), static_cast<uint32_t>(aadLen), &key));
  ASSERT_EQ(plain, back);
  // A flipped tag bit fails and releases no plaintext.
  wantTag[0] ^= 1;
  Bytes none(len, 0xEE);
  EXPECT_EQ(-1, lea_ccm_dec(none.data(), want.data(), static_cast<uint32_t>(len), wantTag, kTag, nonce.data(),
                            static_cast<uint32_t>(nonceLen), aad.data(), static_cast<uint32_t>(aadLen), &key));
  EXPECT_EQ(Bytes(len, 0xEE), none);
}

TEST_P(LeaTest, CcmMatchesCryptoPP) {
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (size_t aadLen : {0u, 1u, 14u, 16u, 30u, 300u}) {
      for (size_t len : {0u, 1u, 16u, 17u, 100u}) {
        CheckCcm<16>(rng_, keyLen, 13, aadLen, len);
        CheckCcm<8>(rng_, keyLen, 7, aadLen, len);
        CheckCcm<4>(rng_, keyLen, 12, aadLen, len);
      }
    }
  }
  // The long associated-data header form (0xFF 0xFE + 32-bit length).
  CheckCcm<12>(rng_, 16, 11, 0xFF00 + 5, 40);
}

TEST(LeaCcm, RejectsBadParameters) {
  const LEA_KEY key = Key(Bytes(16, 7));
  uint8_t buf[32] = {}, tag[16] = {};
  const uint8_t nonce[16] = {};
  struct Case {
    uint32_t tagLen, nonceLen;
  } cases[] = {{3, 12}, {5, 12}, {18, 12}, {16, 6}, {16, 14}};
  for (const auto& c : cases) {
    EXPECT_EQ(-1, lea_ccm_enc(buf, tag, buf, 16, c.tagLen, nonce, c.nonceLen, nullptr, 0, &key));
    EXPECT_EQ(-1, lea_ccm_dec(buf, buf, 16, tag, c.tagLen, nonce, c.nonceLen, nullptr, 0, &key));
  }
}

TEST_P(LeaTest, GcmMatchesCryptoPPWithStreamedCalls) {
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (size_t ivLen : {12u, 1u, 16u, 60u}) {
      for (size_t aadLen : {0u, 5u, 16u, 33u}) {
        for (size_t len : {0u, 1u, 15u, 16u, 17u, 64u, 200u}) {
          const Bytes k = Random(keyLen), iv = Random(ivLen), aad = Random(aadLen), plain = Random(len);
          CryptoPP::GCM<LEA>::Encryption e;
          e.SetKeyWithIV(k.data(), k.size(), iv.data(), iv.size());
          Bytes want(len);
          uint8_t wantTag[16];
          e.EncryptAndAuthenticate(want.data(), wantTag, 16, iv.data(), static_cast<int>(iv.size()), aad.data(),
                                   aad.size(), plain.data(), plain.size());
          for (bool encrypt : {true, false}) {
            LEA_GCM_CTX ctx;
            ASSERT_EQ(0, lea_gcm_init(&ctx, k.data(), static_cast<uint32_t>(keyLen)));
            ASSERT_EQ(0, lea_gcm_set_ctr(&ctx, iv.data(), static_cast<uint32_t>(ivLen)));
            const size_t aadCut = aadLen / 3;
            ASSERT_EQ(0, lea_gcm_set_aad(&ctx, aad.data(), static_cast<uint32_t>(aadCut)));
            ASSERT_EQ(0, lea_gcm_set_aad(&ctx, aad.data() + aadCut, static_cast<uint32_t>(aadLen - aadCut)));
            const Bytes& in = encrypt ? plain : want;
            Bytes out(len);
            size_t pos = 0;
            while (pos < len) {
              const size_t n = std::min<size_t>(len - pos, 1 + rng_() % 37);
              ASSERT_EQ(0, encrypt ? lea_gcm_enc(&ctx, out.data() + pos, in.data() + pos, static_cast<uint32_t>(n))
                                   : lea_gcm_dec(&ctx, out.data() + pos, in.data() + pos, static_cast<uint32_t>(n)));
              pos += n;
            }
            uint8_t tag[16];
            ASSERT_EQ(0, lea_gcm_final(&ctx, tag, 16));
            ASSERT_EQ(encrypt ? want : plain, out) << keyLen << " " << ivLen << " " << aadLen << " " << len;
            ASSERT_EQ(Bytes(wantTag, wantTag + 16), Bytes(tag, tag + 16));
          }
        }
      }
    }
  }
}

TEST(LeaGcm, CallOrderIsEnforced) {
  const Bytes k(16, 3), iv(12, 4);
  LEA_GCM_CTX ctx;
  uint8_t buf[16] = {}, tag[16];
  ASSERT_EQ(0, lea_gcm_init(&ctx, k.data(), 16));
  EXPECT_EQ(-1, lea_gcm_set_aad(&ctx, buf, 4));  // no IV yet
  ASSERT_EQ(0, lea_gcm_set_ctr(&ctx, iv.data(), 12));
  ASSERT_EQ(0, lea_gcm_enc(&ctx, buf, buf, 16));
  EXPECT_EQ(-1, lea_gcm_set_aad(&ctx, buf, 4));  // data after text
  EXPECT_EQ(-1, lea_gcm_final(&ctx, tag, 17));
  ASSERT_EQ(0, lea_gcm_final(&ctx, tag, 16));
  EXPECT_EQ(-1, lea_gcm_enc(&ctx, buf, buf, 16));  // finished
  EXPECT_EQ(-1, lea_gcm_init(&ctx, k.data(), 20));
}

// Streaming: feeds |in| in pieces cut at the given points.
const qor::test::CbcStreamCalls<NC_LEA_CTX> kStreamCalls = {
    NC_LEA_EncInit, NC_LEA_DecInit, NC_LEA_CBC_EncUpdate,
    NC_LEA_CBC_DecUpdate, NC_LEA_CBC_EncFinal, NC_LEA_CBC_DecFinal};

Bytes Stream(NC_LEA_CTX* ctx, bool enc, const Bytes& in, const std::vector<size_t>& cuts, int* finalRc, int* finalLen) {
  return qor::test::StreamPieces(kStreamCalls, ctx, enc, in, cuts, finalRc, finalLen);
}

TEST_P(LeaTest, StreamingOverRandomSplitsMatchesCryptoPP) {
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (int trial = 0; trial < 50; ++trial) {
      const size_t len = trial < 35 ? static_cast<size_t>(trial) : rng_() % 900;
      const Bytes k = Random(keyLen), iv = Random(16), plain = Random(len);
      std::string want;
      CryptoPP::CBC_Mode<LEA>::Encryption e(k.data(), k.size(), iv.data());
      CryptoPP::StringSource(plain.data(), plain.size(), true,
                             new CryptoPP::StreamTransformationFilter(e, new CryptoPP::StringSink(want)));
      const Bytes wantBytes(want.begin(), want.end());
      std::vector<size_t> cuts;
      for (size_t i = 0, m = rng_() % 6; i < m && len > 0; ++i) cuts.push_back(rng_() % (len + 1));
      std::sort(cuts.begin(), cuts.end());
      NC_LEA_CTX ctx{};
      ASSERT_EQ(0, NC_E_LEA_KeyScheduleEx(&ctx, k.data(), static_cast<int>(keyLen)));
      ASSERT_EQ(0, NC_LEA_SetAlgInfo(0, NC_LEA_PADDING_BLOCK, iv.data(), &ctx));
      ASSERT_EQ(0, NC_LEA_EncInit(&ctx));
      int rc = -1, n = 0;
      ASSERT_EQ(wantBytes, Stream(&ctx, true, plain, cuts, &rc, &n)) << keyLen << " " << len;
      ASSERT_EQ(0, rc);
      ASSERT_EQ(0, NC_LEA_DecInit(&ctx));
      std::vector<size_t> dcuts;
      for (size_t i = 0, m = rng_() % 6; i < m; ++i) dcuts.push_back(rng_() % (wantBytes.size() + 1));
      std::sort(dcuts.begin(), dcuts.end());
      ASSERT_EQ(plain, Stream(&ctx, false, wantBytes, dcuts, &rc, &n));
      ASSERT_EQ(0, rc);
      EXPECT_EQ(static_cast<int>(len % 16), n);
    }
  }
}

TEST_P(LeaTest, StreamingEdgeCasesAndErrors) {
  NC_LEA_CTX ctx{};
  ASSERT_EQ(0, NC_E_LEA_KeyScheduleEx(&ctx, Random(32).data(), 32));
  EXPECT_EQ(-1, NC_E_LEA_KeyScheduleEx(&ctx, Random(20).data(), 20));
  const Bytes iv = Random(16);
  int rc = -1, n = 0;
  // Padding code 2: 0 bytes -> one unit, 16 bytes -> two units.
  for (size_t len : {0u, 16u}) {
    NC_LEA_SetAlgInfo(0, NC_LEA_PADDING_BLOCK, iv.data(), &ctx);
    NC_LEA_EncInit(&ctx);
    const Bytes plain = Random(len);
    const Bytes cipher = Stream(&ctx, true, plain, {}, &rc, &n);
    EXPECT_EQ(len + 16, cipher.size());
    NC_LEA_DecInit(&ctx);
    EXPECT_EQ(plain, Stream(&ctx, false, cipher, {}, &rc, &n));
  }
  // The error codes of the streaming calls: stream_error_codes_test.cpp.
  // Null IV means an all-zero IV.
  NC_LEA_SetAlgInfo(0, NC_LEA_PADDING_NONE, nullptr, &ctx);
  NC_LEA_EncInit(&ctx);
  const Bytes plain = Random(32);
  const Bytes zeroIvWant = [&] {
    Bytes out(32);
    const uint8_t zero[16] = {};
    lea_cbc_enc(out.data(), plain.data(), 32, zero, &ctx.key);
    return out;
  }();
  EXPECT_EQ(zeroIvWant, Stream(&ctx, true, plain, {9}, &rc, &n));
}

// Oversized input and a final call on a context whose buffer a decryption
// filled are refused (the small buffers would show any access).
TEST(LeaLimits, OversizedOrMixedUseIsRefused) {
  NC_LEA_CTX ctx{};
  const uint8_t key[16] = {1};
  ASSERT_EQ(0, NC_E_LEA_KeyScheduleEx(&ctx, key, 16));
  uint8_t in[32] = {}, out[32] = {};
  int n = 7;
  NC_LEA_SetAlgInfo(0, NC_LEA_PADDING_BLOCK, nullptr, &ctx);
  NC_LEA_EncInit(&ctx);
  EXPECT_EQ(-1, NC_LEA_CBC_EncUpdate(&ctx, in, INT32_MAX - 31, out, &n));
  NC_LEA_DecInit(&ctx);
  ASSERT_EQ(0, NC_LEA_CBC_DecUpdate(&ctx, in, 16, out, &n));
  EXPECT_EQ(-1, NC_LEA_CBC_EncFinal(&ctx, out, &n));
}

// Kernel choice and key use from many threads at once.
TEST(LeaThreads, ConcurrentCallersGetTheSameResults) {
  constexpr int kThreads = 6;
  std::mt19937 rng(8);
  std::vector<Bytes> keys;
  for (int t = 0; t < kThreads; ++t) {
    Bytes k(16 + 8 * (t % 3));
    for (auto& x : k) x = static_cast<uint8_t>(rng());
    keys.push_back(k);
  }
  const Bytes iv(16, 1), plain(16 * 500, 0x5A);
  std::vector<Bytes> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const auto i = static_cast<size_t>(t);
      LEA_KEY key{};
      if (lea_set_key(&key, keys[i].data(), static_cast<uint32_t>(keys[i].size())) != 0) return;
      Bytes cipher(plain.size()), back(plain.size());
      for (int round = 0; round < 20; ++round) {
        lea_cbc_enc(cipher.data(), plain.data(), static_cast<uint32_t>(plain.size()), iv.data(), &key);
        lea_cbc_dec(back.data(), cipher.data(), static_cast<uint32_t>(back.size()), iv.data(), &key);
        if (back != plain) return;
      }
      results[i] = cipher;
    });
  }
  for (auto& th : threads) th.join();
  for (size_t i = 0; i < kThreads; ++i) {
    EXPECT_EQ(CryptoppRun(CryptoPP::CBC_Mode<LEA>::Encryption(keys[i].data(), keys[i].size(), iv.data()), plain), results[i])
        << i;
  }
}

TEST(LeaKernels, SimdTypeNamesTheActiveKernels) {
  qor::lea::g_kernels.Force(nullptr);
  init_simd();
  const std::string active = get_simd_type();
  if (qor::lea::Avx512Kernels() != nullptr) {
    EXPECT_EQ("avx512", active);
  } else if (qor::lea::Avx2Kernels() != nullptr) {
    EXPECT_EQ("avx2", active);
  } else {
    EXPECT_EQ("generic", active);
  }
  qor::lea::g_kernels.Force(&qor::lea::PortableKernels());
  EXPECT_STREQ("generic", get_simd_type());
  qor::lea::g_kernels.Force(nullptr);
}

TEST(LeaKernels, AllKernelsAgree) {
  std::mt19937 rng(99);
  Bytes k(32), data(16 * 77);
  for (auto& x : k) x = static_cast<uint8_t>(rng());
  for (auto& x : data) x = static_cast<uint8_t>(rng());
  const LEA_KEY key = Key(k);
  Bytes want(data.size());
  qor::lea::PortableKernels().ecbEnc(data.data(), want.data(), 77, &key);
  for (const qor::lea::Kernels* kern : {qor::lea::Avx2Kernels(), qor::lea::Avx512Kernels()}) {
    if (kern == nullptr) continue;
    Bytes got(data.size()), back(data.size());
    kern->ecbEnc(data.data(), got.data(), 77, &key);
    EXPECT_EQ(want, got) << kern->name;
    kern->ecbDec(got.data(), back.data(), 77, &key);
    EXPECT_EQ(data, back) << kern->name;
  }
}

}  // namespace
