// Streaming adapters reached through their tables: pieces of any size give the
// one-shot result, decryption brings the value back, bad padding fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "qor/cipher_util.h"
#include "support/bytes.h"

namespace {

using qor::test::Bytes;
using qor::test::RandomBytes;
using qor::test::RandomSplits;

struct RecordDeleter {
  void operator()(CipherUtil* r) const { CipherUtil_Destroy(r); }
};
using Record = std::unique_ptr<CipherUtil, RecordDeleter>;

Record MakeRecord(uint32_t code, Bytes key) {
  auto* r = static_cast<CipherUtil*>(std::calloc(1, sizeof(CipherUtil)));
  DataBuffer k{static_cast<int32_t>(key.size()), key.data()};
  EXPECT_EQ(CipherUtil_Create(code, &k, nullptr, r), 0) << code;
  return Record(r);
}

struct StreamRun {
  int finalRc;
  Bytes out;
};

// Init, Update over random pieces, Final, through the tables of |code|.
StreamRun RunStream(uint32_t code, bool encrypt, const void* key, const Bytes& iv, const Bytes& in,
                    std::mt19937& rng) {
  void* stream = nullptr;
  const auto init = encrypt ? EncryptInitFunctions[code] : DecryptInitFunctions[code];
  const auto update = encrypt ? EncryptUpdateFunctions[code] : DecryptUpdateFunctions[code];
  const auto final = encrypt ? EncryptFinalFunctions[code] : DecryptFinalFunctions[code];
  EXPECT_EQ(init(key, &stream, iv.data()), 0);
  Bytes out(in.size() + 32);
  int32_t total = 0;
  size_t at = 0;
  std::vector<size_t> cuts = RandomSplits(rng, in.size());
  cuts.push_back(in.size());
  for (size_t cut : cuts) {
    int32_t n = 0;
    EXPECT_EQ(update(stream, in.data() + at, static_cast<int32_t>(cut - at), out.data() + total, &n), 0);
    total += n;
    at = cut;
  }
  const int32_t before = total;
  const int rc = final(stream, out.data() + total, &total);
  if (rc != 0) {
    EXPECT_EQ(total, before) << "a failed Final must leave the length alone";
  }
  std::free(stream);
  out.resize(static_cast<size_t>(total));
  return {rc, out};
}

Bytes OneShot(const CipherUtil& r, const Bytes& plain, const Bytes& iv) {
  Bytes buf(plain.size() + 17);
  std::copy(plain.begin(), plain.end(), buf.begin());
  DataBuffer in{static_cast<int32_t>(plain.size()), buf.data()}, out{};
  EXPECT_EQ(EncryptFunctions[r.algType](&in, r.pEKey, iv.data(), &out, 0, 0, 0), 0);
  Bytes result(out.data, out.data + out.length);
  std::free(out.data);
  return result;
}

TEST(StreamAdapters, RoundTripsAndMatchOneShot) {
  const struct {
    uint32_t code;
    size_t keyLen;
    bool sameAsOneShot;  // triple DES streams in 16-byte units of its own
  } cases[] = {{QOR_ALG_SEED, 16, true},      {QOR_ALG_ARIA128, 16, true},   {QOR_ALG_ARIA256, 32, true},
               {QOR_ALG_AES128, 16, true},    {QOR_ALG_AES256, 32, true},    {QOR_ALG_LEA128, 16, true},
               {QOR_ALG_LEA256, 32, true},    {QOR_ALG_DES3_2KEY, 16, false}, {QOR_ALG_DES3_2KEY_B, 16, false}};
  std::mt19937 rng(61);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    Record rec = MakeRecord(c.code, RandomBytes(rng, c.keyLen));
    for (size_t len : {0u, 1u, 8u, 15u, 16u, 17u, 33u, 250u, 4096u}) {
      const Bytes plain = RandomBytes(rng, len);
      const Bytes iv = RandomBytes(rng, 16);
      const StreamRun enc = RunStream(c.code, true, rec->pEKey, iv, plain, rng);
      ASSERT_EQ(enc.finalRc, 0);
      if (c.sameAsOneShot) {
        EXPECT_EQ(enc.out, OneShot(*rec, plain, iv)) << "length " << len;
      }
      const StreamRun dec = RunStream(c.code, false, rec->pDKey, iv, enc.out, rng);
      ASSERT_EQ(dec.finalRc, 0);
      EXPECT_EQ(dec.out, plain) << "length " << len;
    }
  }
}

TEST(StreamAdapters, BadPaddingFailsFinal) {
  std::mt19937 rng(62);
  for (uint32_t code : {QOR_ALG_SEED, QOR_ALG_ARIA128, QOR_ALG_AES128, QOR_ALG_LEA128, QOR_ALG_DES3_2KEY}) {
    Record rec = MakeRecord(code, RandomBytes(rng, 16));
    const Bytes iv = RandomBytes(rng, 16);
    for (uint8_t last : {0, 17, 200}) {
      // Without its padding block, the ciphertext ends in the plaintext's own last byte.
      Bytes plain = RandomBytes(rng, 32);
      plain.back() = last;
      Bytes cipher = RunStream(code, true, rec->pEKey, iv, plain, rng).out;
      cipher.resize(32);
      EXPECT_EQ(RunStream(code, false, rec->pDKey, iv, cipher, rng).finalRc, -1) << code << " " << int{last};
    }
  }
}

TEST(StreamAdapters, RefusedArguments) {
  void* stream = nullptr;
  uint8_t iv[16] = {};
  int32_t n = 0;
  EXPECT_EQ(doAESEncInit(nullptr, &stream, iv), -1);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(doSEEDEncUpdate(nullptr, iv, 16, iv, &n), -1);
  EXPECT_EQ(doLEADecFinal(nullptr, iv, &n), -1);
}

}  // namespace
