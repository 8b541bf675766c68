// ARIA: published vectors, differential checks against OpenSSL and Crypto++,
// the streaming contract and the counter step. Every cipher test runs on each
// kernel this processor has.
#include <gtest/gtest.h>

#include <climits>
#include <openssl/evp.h>

#include <crypto++/aria.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "primitives/aria/aria_internal.h"
#include "qor/nc_aria.h"
#include "support/bytes.h"
#include "support/cipher_stream.h"
#include "support/evp_oracle.h"
#include "support/kernel_paths.h"

namespace {

using qor::test::Bytes;
using qor::test::EvpCrypt;
using qor::test::FromHex;
using qor::test::RandomBytes;

int RoundsFor(size_t keyLen) { return keyLen == 16 ? 12 : keyLen == 24 ? 14 : 16; }

const EVP_CIPHER* OsslCipher(size_t keyLen, const char* mode) {
  const std::string name = "aria-" + std::to_string(keyLen * 8) + "-" + mode;
  return EVP_get_cipherbyname(name.c_str());
}

// OpenSSL one-shot; |pad| enables its PKCS#7 padding (the same rule as padding code 2).
Bytes Ossl(bool enc, const Bytes& key, const Bytes& iv, const Bytes& in, const char* mode, bool pad) {
  return EvpCrypt(OsslCipher(key.size(), mode), enc, pad, key, iv.empty() ? nullptr : iv.data(), in);
}

struct Keys {
  NC_ARIA_CTX enc{}, dec{};
  int rounds = 0;
  explicit Keys(const Bytes& key) {
    rounds = RoundsFor(key.size());
    EXPECT_EQ(0, NC_ARIA_EncKeyGen(key.data(), &enc, rounds));
    EXPECT_EQ(0, NC_ARIA_DecKeyGen(key.data(), &dec, rounds));
  }
};

class AriaTest : public qor::test::KernelPathTest<qor::aria::g_kernels> {
 protected:
  std::mt19937 rng_{12345};
  Bytes Random(size_t n) { return RandomBytes(rng_, n); }
};

QOR_INSTANTIATE_KERNEL_PATHS(AriaTest, qor::aria::g_kernels);

TEST(AriaSBoxes, MatchPublishedValuesAndInvert) {
  const auto& s = qor::aria::kSBox;
  EXPECT_EQ(0x63, s.s1[0x00]);
  EXPECT_EQ(0x7c, s.s1[0x01]);
  EXPECT_EQ(0x16, s.s1[0xff]);
  EXPECT_EQ(0xe2, s.s2[0x00]);
  EXPECT_EQ(0x4e, s.s2[0x01]);
  EXPECT_EQ(0xd1, s.s2[0x0f]);
  for (int x = 0; x < 256; ++x) {
    EXPECT_EQ(x, s.s1inv[s.s1[x]]);
    EXPECT_EQ(x, s.s2inv[s.s2[x]]);
  }
}

TEST_P(AriaTest, PublishedVectors) {
  struct Case {
    const char* key;
    const char* cipher;
  } cases[] = {
      {"000102030405060708090a0b0c0d0e0f", "d718fbd6ab644c739da95f3be6451778"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "26449c1805dbe7aa25a468ce263a9e79"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "f92bd7c79fb72e2f2b8f80c1972d24fc"},
  };
  const Bytes plain = FromHex("00112233445566778899aabbccddeeff");
  for (const auto& c : cases) {
    Keys k(FromHex(c.key));
    uint8_t out[16], back[16];
    NC_E_ARIA_Encrypt(plain.data(), out, k.enc.roundKey, k.rounds);
    EXPECT_EQ(FromHex(c.cipher), Bytes(out, out + 16)) << c.key;
    NC_E_ARIA_Decrypt(out, back, k.dec.roundKey, k.rounds);
    EXPECT_EQ(plain, Bytes(back, back + 16)) << c.key;
    NC_Crypt(plain.data(), out, k.enc.roundKey, k.rounds);
    EXPECT_EQ(FromHex(c.cipher), Bytes(out, out + 16)) << c.key;
  }
}

TEST_P(AriaTest, BlockMatchesCryptoPP) {
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (int trial = 0; trial < 50; ++trial) {
      const Bytes key = Random(keyLen), block = Random(16);
      CryptoPP::ARIA::Encryption e(key.data(), key.size());
      uint8_t want[16], got[16];
      e.ProcessBlock(block.data(), want);
      Keys k(key);
      NC_E_ARIA_Encrypt(block.data(), got, k.enc.roundKey, k.rounds);
      ASSERT_EQ(Bytes(want, want + 16), Bytes(got, got + 16));
    }
  }
}

TEST_P(AriaTest, OneShotCbcMatchesOpenSslOnEveryLengthNearBlockEdges) {
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (size_t len = 0; len <= 16 * 40 + 1; ++len) {
      if (len > 70 && len % 16 > 1 && len % 16 < 15 && len % 7 != 0) continue;
      const Bytes key = Random(keyLen), iv = Random(16), plain = Random(len);
      Keys k(key);
      Bytes padded = plain;
      padded.resize((len + 15) / 16 * 16, 0);  // the one-shot zero-fills the tail
      const Bytes want = Ossl(true, key, iv, padded, "cbc", false);
      Bytes got(padded.size() + 16, 0xAA);
      const Bytes ivCopy = iv;
      ASSERT_EQ(static_cast<int>(padded.size()),
                NC_E_ARIA_CBC_Encrypt(plain.data(), got.data(), k.enc.roundKey, static_cast<int>(len),
                                      iv.data(), k.rounds));
      EXPECT_EQ(ivCopy, iv);
      EXPECT_EQ(0xAA, got[padded.size()]) << "wrote past the rounded length";
      got.resize(padded.size());
      ASSERT_EQ(want, got) << keyLen << " " << len;
      Bytes back(padded.size());
      ASSERT_EQ(static_cast<int>(padded.size()),
                NC_E_ARIA_CBC_Decrypt(want.data(), back.data(), k.dec.roundKey,
                                      static_cast<int>(want.size()), iv.data(), k.rounds));
      ASSERT_EQ(padded, back);
    }
  }
}

TEST_P(AriaTest, OneShotCbcWorksInPlace) {
  const Bytes key = Random(32), iv = Random(16), plain = Random(16 * 77);
  Keys k(key);
  Bytes buf = plain;
  NC_E_ARIA_CBC_Encrypt(buf.data(), buf.data(), k.enc.roundKey, static_cast<int>(buf.size()), iv.data(), k.rounds);
  EXPECT_EQ(Ossl(true, key, iv, plain, "cbc", false), buf);
  NC_E_ARIA_CBC_Decrypt(buf.data(), buf.data(), k.dec.roundKey, static_cast<int>(buf.size()), iv.data(), k.rounds);
  EXPECT_EQ(plain, buf);
}

TEST_P(AriaTest, FiveBytesGiveOneBlock) {
  const Bytes key = Random(16), iv = Random(16);
  Keys k(key);
  const uint8_t five[5] = {1, 2, 3, 4, 5};
  uint8_t out[32];
  EXPECT_EQ(16, NC_E_ARIA_CBC_Encrypt(five, out, k.enc.roundKey, 5, iv.data(), k.rounds));
  uint8_t back[16];
  EXPECT_EQ(16, NC_E_ARIA_CBC_Decrypt(out, back, k.dec.roundKey, 16, iv.data(), k.rounds));
  const uint8_t want[16] = {1, 2, 3, 4, 5};
  EXPECT_EQ(0, std::memcmp(want, back, 16));
}

TEST_P(AriaTest, EcbMatchesOpenSslWithEitherSchedule) {
  for (size_t keyLen : {16u, 24u, 32u}) {
    const Bytes key = Random(keyLen), plain = Random(16 * 45);
    Keys k(key);
    Bytes got(plain.size());
    EXPECT_EQ(static_cast<int>(plain.size()),
              NC_E_ARIA_ECB_Crypt(plain.data(), got.data(), k.enc.roundKey, static_cast<int>(plain.size()), nullptr, k.rounds));
    EXPECT_EQ(Ossl(true, key, {}, plain, "ecb", false), got);
    NC_E_ARIA_ECB_Crypt(got.data(), got.data(), k.dec.roundKey, static_cast<int>(got.size()), nullptr, k.rounds);
    EXPECT_EQ(plain, got);
  }
}

TEST_P(AriaTest, CtrMatchesOpenSslAndLeavesCounterAlone) {
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (size_t len : {0u, 1u, 15u, 16u, 17u, 100u, 511u, 512u, 513u, 4096u + 5}) {
      const Bytes key = Random(keyLen), plain = Random(len);
      Bytes ctr = Random(16);
      ctr[8] = 0x10;  // far from the point where the low half would carry into byte 7
      const Bytes ctrCopy = ctr;
      Keys k(key);
      Bytes got(len);
      EXPECT_EQ(static_cast<int>(len), NC_E_ARIA_CTR_Crypt(plain.data(), got.data(), k.enc.roundKey,
                                                           static_cast<int>(len), ctr.data(), k.rounds));
      EXPECT_EQ(ctrCopy, ctr);
      EXPECT_EQ(Ossl(true, key, ctr, plain, "ctr", false), got) << keyLen << " " << len;
      Bytes back(len);
      NC_E_ARIA_CTR_Crypt(got.data(), back.data(), k.enc.roundKey, static_cast<int>(len), ctr.data(), k.rounds);
      EXPECT_EQ(plain, back);
    }
  }
}

TEST_P(AriaTest, CtrLowHalfWrapsWithoutTouchingTheHighHalf) {
  const Bytes key = Random(16);
  Keys k(key);
  Bytes ctr(16, 0xFF);
  ctr[0] = 0x12;
  const Bytes zeros(48, 0);
  Bytes ks(48);
  NC_E_ARIA_CTR_Crypt(zeros.data(), ks.data(), k.enc.roundKey, 48, ctr.data(), k.rounds);
  // Expected keystream: E(ctr), E(high half || 0), E(high half || 1).
  Bytes blocks(48);
  std::memcpy(blocks.data(), ctr.data(), 16);
  std::memcpy(blocks.data() + 16, ctr.data(), 8);
  std::memset(blocks.data() + 24, 0, 8);
  std::memcpy(blocks.data() + 32, blocks.data() + 16, 16);
  blocks[47] = 1;
  EXPECT_EQ(Ossl(true, key, {}, blocks, "ecb", false), ks);
}

TEST(AriaCounter, IncreaseCarriesWithinTheLowHalfOnly) {
  struct Case {
    const char* before;
    const char* after;
  } cases[] = {
      {"00000000000000000000000000000000", "00000000000000000000000000000001"},
      {"000000000000000000000000000000fe", "000000000000000000000000000000ff"},
      {"000000000000000000000000000000ff", "00000000000000000000000000000100"},
      {"0102030405060708090a0b0c0dffffff", "0102030405060708090a0b0c0e000000"},
      {"0102030405060708ffffffffffffffff", "01020304050607080000000000000000"},
      {"ffffffffffffffffffffffffffffffff", "ffffffffffffffff0000000000000000"},
      {"00000000000000007fffffffffffffff", "00000000000000008000000000000000"},
  };
  for (const auto& c : cases) {
    Bytes ctr = FromHex(c.before);
    CTR_INCREASE(ctr.data());
    EXPECT_EQ(FromHex(c.after), ctr) << c.before;
  }
}

// Streaming helper: feeds |in| in pieces cut at the given points.
const qor::test::CbcStreamCalls<NC_ARIA_CTX> kStreamCalls = {
    NC_ARIA_EncInit, NC_ARIA_DecInit, NC_ARIA_CBC_EncUpdate,
    NC_ARIA_CBC_DecUpdate, NC_ARIA_CBC_EncFinal, NC_ARIA_CBC_DecFinal};

Bytes Stream(NC_ARIA_CTX* ctx, bool enc, const Bytes& in, const std::vector<size_t>& cuts, int* finalRc, int* finalLen) {
  return qor::test::StreamPieces(kStreamCalls, ctx, enc, in, cuts, finalRc, finalLen);
}

TEST_P(AriaTest, StreamingOverRandomSplitsMatchesOpenSsl) {
  for (size_t keyLen : {16u, 24u, 32u}) {
    for (int trial = 0; trial < 60; ++trial) {
      const size_t len = trial < 40 ? static_cast<size_t>(trial) : rng_() % 700;
      const Bytes key = Random(keyLen), iv = Random(16), plain = Random(len);
      std::vector<size_t> cuts;
      for (size_t i = 0, n = rng_() % 6; i < n && len > 0; ++i) cuts.push_back(rng_() % (len + 1));
      std::sort(cuts.begin(), cuts.end());
      Keys k(key);
      ASSERT_EQ(0, NC_ARIA_SetAlgInfo(0, NC_ARIA_PADDING_BLOCK, iv.data(), &k.enc));
      ASSERT_EQ(0, NC_ARIA_EncInit(&k.enc));
      int rc = -1, n = 0;
      const Bytes cipher = Stream(&k.enc, true, plain, cuts, &rc, &n);
      ASSERT_EQ(0, rc);
      EXPECT_EQ(16, n);
      const Bytes want = Ossl(true, key, iv, plain, "cbc", true);
      ASSERT_EQ(want, cipher) << keyLen << " " << len;
      ASSERT_EQ(0, NC_ARIA_SetAlgInfo(0, NC_ARIA_PADDING_BLOCK, iv.data(), &k.dec));
      ASSERT_EQ(0, NC_ARIA_DecInit(&k.dec));
      std::vector<size_t> dcuts;
      for (size_t i = 0, m = rng_() % 6; i < m; ++i) dcuts.push_back(rng_() % (want.size() + 1));
      std::sort(dcuts.begin(), dcuts.end());
      const Bytes back = Stream(&k.dec, false, want, dcuts, &rc, &n);
      ASSERT_EQ(0, rc);
      EXPECT_EQ(static_cast<int>(len % 16), n);
      ASSERT_EQ(plain, back);
    }
  }
}

TEST_P(AriaTest, StreamingWithoutPaddingAndNullIv) {
  const Bytes key = Random(16), plain = Random(64);
  Keys k(key);
  NC_ARIA_SetAlgInfo(0, NC_ARIA_PADDING_NONE, Random(16).data(), &k.enc);
  NC_ARIA_SetAlgInfo(1, NC_ARIA_PADDING_NONE, nullptr, &k.enc);  // null IV: all zero
  NC_ARIA_EncInit(&k.enc);
  int rc = -1, n = -1;
  const Bytes cipher = Stream(&k.enc, true, plain, {5, 37}, &rc, &n);
  EXPECT_EQ(0, rc);
  EXPECT_EQ(0, n);
  EXPECT_EQ(Ossl(true, key, Bytes(16, 0), plain, "cbc", false), cipher);
  NC_ARIA_SetAlgInfo(0, NC_ARIA_PADDING_NONE, nullptr, &k.dec);
  NC_ARIA_DecInit(&k.dec);
  const Bytes back = Stream(&k.dec, false, cipher, {16}, &rc, &n);
  EXPECT_EQ(0, rc);
  EXPECT_EQ(16, n);
  EXPECT_EQ(plain, back);
}

TEST_P(AriaTest, PaddingEdgeCases) {
  const Bytes key = Random(32), iv = Random(16);
  Keys k(key);
  struct Case {
    size_t len;
    size_t cipherLen;
  } cases[] = {{0, 16}, {1, 16}, {15, 16}, {16, 32}, {31, 32}, {32, 48}};
  for (const auto& c : cases) {
    const Bytes plain = Random(c.len);
    NC_ARIA_SetAlgInfo(0, NC_ARIA_PADDING_BLOCK, iv.data(), &k.enc);
    NC_ARIA_EncInit(&k.enc);
    int rc = -1, n = 0;
    const Bytes cipher = Stream(&k.enc, true, plain, {}, &rc, &n);
    EXPECT_EQ(c.cipherLen, cipher.size()) << c.len;
    if (c.len == 0) {
      // One unit of sixteen 0x10 bytes.
      Bytes unit(16);
      NC_E_ARIA_CBC_Decrypt(cipher.data(), unit.data(), k.dec.roundKey, 16, iv.data(), k.rounds);
      EXPECT_EQ(Bytes(16, 0x10), unit);
    }
    NC_ARIA_SetAlgInfo(0, NC_ARIA_PADDING_BLOCK, iv.data(), &k.dec);
    NC_ARIA_DecInit(&k.dec);
    EXPECT_EQ(plain, Stream(&k.dec, false, cipher, {}, &rc, &n)) << c.len;
    EXPECT_EQ(static_cast<int>(c.len % 16), n);
  }
}

TEST_P(AriaTest, BadPaddingIsReportedThroughTheOutputLength) {
  const Bytes key = Random(16), iv = Random(16);
  Keys k(key);
  struct Case {
    const char* name;
    Bytes last;  // the plain unit that the decryptor will see
  } cases[] = {
      {"zero", Bytes(16, 0)},
      {"seventeen", Bytes(16, 17)},
      {"inconsistent", [] { Bytes b(16, 4); b[13] = 3; return b; }()},
      {"0xff", Bytes(16, 0xFF)},
  };
  for (const auto& c : cases) {
    uint8_t cipher[16];
    NC_E_ARIA_CBC_Encrypt(c.last.data(), cipher, k.enc.roundKey, 16, iv.data(), k.rounds);
    NC_ARIA_SetAlgInfo(0, NC_ARIA_PADDING_BLOCK, iv.data(), &k.dec);
    NC_ARIA_DecInit(&k.dec);
    int n = 0;
    uint8_t out[32];
    EXPECT_EQ(0, NC_ARIA_CBC_DecUpdate(&k.dec, cipher, 16, out, &n));
    EXPECT_EQ(0, n);
    EXPECT_EQ(0, NC_ARIA_CBC_DecFinal(&k.dec, out, &n)) << c.name;
    EXPECT_EQ(NC_ARIA_ERR_BAD_PADDING, n) << c.name;
  }
  // Sixteen 16s is the largest valid pad: nothing remains.
  uint8_t cipher[16], out[16];
  const Bytes full(16, 16);
  NC_E_ARIA_CBC_Encrypt(full.data(), cipher, k.enc.roundKey, 16, iv.data(), k.rounds);
  NC_ARIA_SetAlgInfo(0, NC_ARIA_PADDING_BLOCK, iv.data(), &k.dec);
  NC_ARIA_DecInit(&k.dec);
  int n = -1;
  NC_ARIA_CBC_DecUpdate(&k.dec, cipher, 16, out, &n);
  EXPECT_EQ(0, NC_ARIA_CBC_DecFinal(&k.dec, out, &n));
  EXPECT_EQ(0, n);
}

// The streaming error codes are checked for every block cipher in
// stream_error_codes_test.cpp.

// Lengths whose output size would not fit the int results, and a final
// call on a context whose buffer a decryption filled, are refused before
// anything is read or written (the small buffers would show any access).
TEST(AriaLimits, OversizedOrMixedUseIsRefused) {
  Keys k(Bytes(16, 0x42));
  uint8_t in[32] = {}, out[32] = {};
  const uint8_t iv[16] = {};
  EXPECT_EQ(-1, NC_E_ARIA_CBC_Encrypt(in, out, k.enc.roundKey, INT_MAX - 14, iv, k.rounds));
  int n = 7;
  NC_ARIA_SetAlgInfo(0, NC_ARIA_PADDING_BLOCK, iv, &k.enc);
  NC_ARIA_EncInit(&k.enc);
  EXPECT_EQ(-1, NC_ARIA_CBC_EncUpdate(&k.enc, in, INT32_MAX - 31, out, &n));
  NC_ARIA_SetAlgInfo(0, NC_ARIA_PADDING_BLOCK, iv, &k.dec);
  NC_ARIA_DecInit(&k.dec);
  ASSERT_EQ(0, NC_ARIA_CBC_DecUpdate(&k.dec, in, 16, out, &n));
  EXPECT_EQ(-1, NC_ARIA_CBC_EncFinal(&k.dec, out, &n));
}

TEST(AriaStreaming, UnkeyedContextRefusesToRun) {
  NC_ARIA_CTX ctx{};  // no key schedule, so no round count either
  ASSERT_EQ(0, NC_ARIA_SetAlgInfo(0, NC_ARIA_PADDING_BLOCK, nullptr, &ctx));
  ASSERT_EQ(0, NC_ARIA_EncInit(&ctx));
  uint8_t in[32] = {}, out[48];
  int n = 0;
  EXPECT_EQ(-1, NC_ARIA_CBC_EncUpdate(&ctx, in, 32, out, &n));
  EXPECT_EQ(-1, NC_ARIA_CBC_EncFinal(&ctx, out, &n));
  EXPECT_EQ(-1, NC_E_ARIA_CBC_Encrypt(in, out, ctx.roundKey, 32, in, 0));
}

// First use of the kernels and their tables from many threads at once.
TEST(AriaThreads, ConcurrentCallersGetTheSameResults) {
  constexpr int kThreads = 6;
  std::vector<Bytes> keys, results(kThreads);
  std::mt19937 rng(5);
  for (int t = 0; t < kThreads; ++t) {
    Bytes k(t % 2 ? 32 : 16);
    for (auto& x : k) x = static_cast<uint8_t>(rng());
    keys.push_back(k);
  }
  const Bytes iv(16, 9), plain(16 * 300, 0x3C);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Keys k(keys[t]);
      Bytes cipher(plain.size());
      for (int round = 0; round < 20; ++round) {
        NC_E_ARIA_CBC_Encrypt(plain.data(), cipher.data(), k.enc.roundKey, static_cast<int>(plain.size()), iv.data(), k.rounds);
        Bytes back(plain.size());
        NC_E_ARIA_CBC_Decrypt(cipher.data(), back.data(), k.dec.roundKey, static_cast<int>(back.size()), iv.data(), k.rounds);
        if (back != plain) return;
      }
      results[static_cast<size_t>(t)] = cipher;
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(Ossl(true, keys[static_cast<size_t>(t)], iv, plain, "cbc", false), results[static_cast<size_t>(t)]) << t;
}

TEST(AriaKeyGen, UnknownRoundCountLeavesTheScheduleUntouched) {
  NC_ARIA_CTX ctx;
  std::memset(&ctx, 0x5A, sizeof ctx);
  const NC_ARIA_CTX before = ctx;
  const Bytes key(32, 1);
  for (int rounds : {0, 10, 13, 15, 18}) {
    EXPECT_EQ(-1, NC_ARIA_EncKeyGen(key.data(), &ctx, rounds));
    EXPECT_EQ(-1, NC_ARIA_DecKeyGen(key.data(), &ctx, rounds));
    EXPECT_EQ(0, std::memcmp(&before, &ctx, sizeof ctx));
  }
}

TEST(AriaKernels, AutomaticChoicePrefersGfniThenAesni) {
  qor::aria::g_kernels.Force(nullptr);
  const char* name = qor::aria::ActiveKernels().name;
  if (qor::aria::GfniKernels() != nullptr) {
    EXPECT_STREQ(qor::aria::GfniKernels()->name, name);
  } else if (qor::aria::AesniKernels() != nullptr) {
    EXPECT_STREQ(qor::aria::AesniKernels()->name, name);
  } else {
    EXPECT_STREQ("generic", name);
  }
  qor::aria::g_kernels.Force(&qor::aria::PortableKernels());
  EXPECT_STREQ("generic", qor::aria::ActiveKernels().name);
  qor::aria::g_kernels.Force(nullptr);
}

}  // namespace
