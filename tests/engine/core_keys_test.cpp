// Key versions and record IVs through the value operations: older versions,
// a missing version fetched once, revoked and deactivated keys, concurrent
// record-IV and digit values, a fresh policy reading stored record-IV values,
// and the streaming operations against the one-shot form.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/cipher/record_iv.h"
#include "engine/core/value_ops.h"
#include "engine/core_support.h"
#include "qor/key_mgr.h"
#include "support/bytes.h"

namespace {

using namespace qor::test;

// What the key-fetch callback sees and does; a plain function pointer has no
// context of its own.
struct FetchState {
  UACipherUtil** target = nullptr;
  bool succeed = true;
  bool add = true;  // false: claims success without adding the version
  int calls = 0;
  int lastVersion = -1;
  const char* status = "active";
};
FetchState g_fetch;

int FetchVersion(int nameLength, const char* name, int version) {
  ++g_fetch.calls;
  g_fetch.lastVersion = version;
  if (!g_fetch.succeed || nameLength <= 0 || name == nullptr) return 1;
  if (!g_fetch.add) return 0;
  auto* record = static_cast<CipherUtil*>(std::calloc(1, sizeof(CipherUtil)));
  ChiperUtil_Set(record, version, 0, 0, g_fetch.status);
  const Bytes key = VersionKey(version, 16);
  const DataBuffer keyBuf{16, const_cast<uint8_t*>(key.data())};
  const DataBuffer iv{16, const_cast<uint8_t*>(kPolicyIv.data())};
  if (CipherUtil_Create(QOR_ALG_AES128, &keyBuf, &iv, record) != 0 ||
      (*g_fetch.target)->AddKey(g_fetch.target, record) != 0) {
    CipherUtil_Destroy(record);
    return 1;
  }
  return 0;
}

class KeyVersions : public ::testing::Test {
 protected:
  void SetUp() override { g_fetch = FetchState{}; }

  // A text and a binary value of |plain| encrypted under |version| alone.
  static void EncryptUnder(int version, bool recordIv, const std::string& plain, std::string* text,
                           Bytes* binary) {
    PolicyDesc desc;
    desc.versions = {{version}};
    desc.recordIv = recordIv;
    Policy old(desc);
    ASSERT_TRUE(old.ok());
    In a(plain, kSpare), b(plain, kSpare);
    Out t, bin;
    ASSERT_EQ(0, old->EncryptToBase64_ACC(old.self(), a.get(), t.get(), 0, "", "", ""));
    ASSERT_EQ(0, old->Encrypt_API_ACC(old.self(), b.get(), bin.get(), 0, "", "", ""));
    *text = t.str();
    *binary = bin.bytes();
  }

  static int DecryptText(Policy& p, const std::string& text, Out* out) {
    In in(text, 0);
    return p->DecryptFromBase64_ACC(p.self(), in.get(), out->get(), FetchVersion, "", "", "");
  }
  static int DecryptBinary(Policy& p, const Bytes& value, Out* out) {
    In in(value, 0);
    return p->Decrypt_API_ACC(p.self(), in.get(), out->get(), FetchVersion, "", "", "");
  }
};

TEST_F(KeyVersions, OlderVersionDecryptsWithItsOwnKey) {
  for (bool recordIv : {false, true}) {
    SCOPED_TRACE(recordIv);
    std::string text;
    Bytes binary;
    EncryptUnder(4, recordIv, "older value", &text, &binary);
    PolicyDesc desc;
    desc.versions = {{5}, {4}};
    desc.recordIv = recordIv;
    Policy p(desc);
    ASSERT_TRUE(p.ok());
    Out a, b;
    EXPECT_EQ(0, DecryptText(p, text, &a));
    EXPECT_EQ("older value", a.str());
    EXPECT_EQ(0, DecryptBinary(p, binary, &b));
    EXPECT_EQ("older value", b.str());
    EXPECT_EQ(0, g_fetch.calls);
  }
}

TEST_F(KeyVersions, MissingVersionIsFetchedOnce) {
  std::string text;
  Bytes binary;
  EncryptUnder(4, false, "fetched value", &text, &binary);
  PolicyDesc desc;
  desc.versions = {{5}};
  Policy p(desc);
  ASSERT_TRUE(p.ok());
  g_fetch.target = p.self();
  Out a;
  EXPECT_EQ(0, DecryptText(p, text, &a));
  EXPECT_EQ("fetched value", a.str());
  EXPECT_EQ(1, g_fetch.calls);
  EXPECT_EQ(4, g_fetch.lastVersion);
  // Held from now on: no second fetch.
  Out b;
  EXPECT_EQ(0, DecryptBinary(p, binary, &b));
  EXPECT_EQ("fetched value", b.str());
  EXPECT_EQ(1, g_fetch.calls);
}

TEST_F(KeyVersions, FailedFetchGivesOneForTextAndKeyErrorForBinary) {
  std::string text;
  Bytes binary;
  EncryptUnder(4, false, "lost value", &text, &binary);
  PolicyDesc desc;
  desc.versions = {{5}};
  Policy p(desc);
  ASSERT_TRUE(p.ok());
  g_fetch.target = p.self();
  g_fetch.succeed = false;
  Out a, b;
  EXPECT_EQ(1, DecryptText(p, text, &a));
  EXPECT_EQ(1, g_fetch.calls);
  EXPECT_EQ(nullptr, a.buf.data);
  EXPECT_EQ(2100, DecryptBinary(p, binary, &b));
  EXPECT_EQ(2, g_fetch.calls);
  // A fetch that claims success without adding the version still gives 1.
  g_fetch.succeed = true;
  g_fetch.add = false;
  Out c;
  EXPECT_EQ(1, DecryptText(p, text, &c));
  EXPECT_EQ(3, g_fetch.calls);
  // Fetched, but revoked.
  g_fetch.add = true;
  g_fetch.status = "revoked";
  Out d;
  EXPECT_EQ(2100, DecryptText(p, text, &d));
  EXPECT_EQ(4, g_fetch.calls);
}

TEST_F(KeyVersions, RevokedVersionRefusesDecryption) {
  std::string text;
  Bytes binary;
  EncryptUnder(4, false, "revoked value", &text, &binary);
  PolicyDesc desc;
  desc.versions = {{5}, {4, "revoked"}};
  Policy p(desc);
  ASSERT_TRUE(p.ok());
  Out a, b;
  EXPECT_EQ(2100, DecryptText(p, text, &a));
  EXPECT_EQ(2100, DecryptBinary(p, binary, &b));
  EXPECT_EQ(0, g_fetch.calls);
}

// A head in status 2 has no key schedule: every encrypting form refuses it.
// "deactive" (status 1) still encrypts.
TEST_F(KeyVersions, RevokedHeadRefusesEncryption) {
  PolicyDesc desc;
  desc.versions = {{5, "expired"}, {4}};
  Policy p(desc);
  ASSERT_TRUE(p.ok());
  In a("v", kSpare), b("v", kSpare), c("v", kSpare), d("v", kSpare);
  Out out;
  EXPECT_EQ(2100, p->EncryptToBase64_ACC(p.self(), a.get(), out.get(), 0, "", "", ""));
  EXPECT_EQ(2100, p->Encrypt_API_ACC(p.self(), b.get(), out.get(), 0, "", "", ""));
  EXPECT_EQ(2100, p->EncryptToBase64(p.self(), c.get(), out.get()));
  EXPECT_EQ(2100, p->Encrypt_API(p.self(), d.get(), out.get()));
  EXPECT_EQ(nullptr, out.buf.data);
  void* stream = nullptr;
  EXPECT_EQ(2100, p->Encrypt_API_Init(p.self(), &stream, kPolicyIv.data(), 0));
  EXPECT_EQ(nullptr, stream);

  PolicyDesc deactive;
  deactive.versions = {{5, "deactive"}};
  Policy q(deactive);
  ASSERT_TRUE(q.ok());
  In e("v", kSpare);
  Out ok;
  EXPECT_EQ(0, q->EncryptToBase64_ACC(q.self(), e.get(), ok.get(), 0, "", "", ""));
}

// Eight threads encrypt and decrypt under one record-IV policy and one digit
// policy: every value round-trips, every value has its own record IV, and the
// shared records are never written.
TEST(RecordIv, ConcurrentValuesKeepTheirOwnIv) {
  PolicyDesc recordDesc;
  recordDesc.versions = {{7}};
  recordDesc.recordIv = true;
  Policy record(recordDesc);
  PolicyDesc digitDesc;
  digitDesc.alg = QOR_ALG_FPE;
  Policy digits(digitDesc);
  ASSERT_TRUE(record.ok() && digits.ok());
  const Bytes headIv(record.head()->iv, record.head()->iv + 16);

  constexpr int kThreads = 8;
  constexpr int kValues = 1000;
  std::vector<std::vector<uint32_t>> tails(kThreads);
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kValues; ++i) {
        const std::string value = "thread " + std::to_string(t) + " value " + std::to_string(i);
        UACipherUtil_SetRecordIV(record.self(), nullptr);  // as the value pipeline does
        In in(value, kSpare);
        Out enc;
        if (record->EncryptToBase64_ACC(record.self(), in.get(), enc.get(), 0, "", "", "") != 0) {
          ++failures[t];
          continue;
        }
        const Bytes binary = UnB64(enc.str(), 0);
        uint32_t tail = 0;
        if (binary.size() >= 4) std::memcpy(&tail, binary.data() + binary.size() - 4, 4);
        tails[t].push_back(tail);
        In stored(enc.str(), 0);
        Out back;
        if (record->DecryptFromBase64_ACC(record.self(), stored.get(), back.get(), nullptr, "", "",
                                          "") != 0 ||
            back.str() != value) {
          ++failures[t];
        }

        const std::string number = std::to_string(1000000007LL * (t + 1) + i);
        In digitsIn(number, kSpare);
        Out letters;
        if (digits->EncryptToBase64_ACC(digits.self(), digitsIn.get(), letters.get(), 0, "", "",
                                        "") != 0) {
          ++failures[t];
          continue;
        }
        In storedLetters(letters.str(), 0);
        Out digitsBack;
        if (digits->DecryptFromBase64_ACC(digits.self(), storedLetters.get(), digitsBack.get(),
                                          nullptr, "", "", "") != 0 ||
            digitsBack.str() != number) {
          ++failures[t];
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<uint32_t> distinct;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(0, failures[t]) << "thread " << t;
    distinct.insert(tails[t].begin(), tails[t].end());
  }
  EXPECT_EQ(static_cast<size_t>(kThreads * kValues), distinct.size())
      << "two values shared a record IV";
  EXPECT_EQ(ToHex(headIv), ToHex(Bytes(record.head()->iv, record.head()->iv + 16)));
  EXPECT_EQ(1, record.head()->useRecordIV);
}

// The value pipeline draws a value's record IV and hands it down with the
// value: the tail carries exactly that value, the IV around it is the
// policy's, and a value the exported setter left for this thread stays pending.
TEST(RecordIv, DrawnValueGoesDownWithTheCall) {
  PolicyDesc desc;
  desc.versions = {{7}};
  desc.recordIv = true;
  Policy record(desc);
  ASSERT_TRUE(record.ok());
  ASSERT_EQ(0, UACipherUtil_SetRecordIV(record.self(), nullptr));

  const uint32_t drawn = 0x5EED1234u;
  const std::string value = "handed down";
  In in(value, kSpare);
  Out enc;
  ASSERT_EQ(0, qor::engine::EncryptUnderAccess(record.self(), in.get(), enc.get(), false, "", "",
                                                "", &drawn));
  Bytes iv(kPolicyIv.begin(), kPolicyIv.end());
  std::memcpy(iv.data(), &drawn, 4);
  Bytes expected = {0x00, 0x07, 0xFE};
  const Bytes ct = OracleCbcEncrypt(QOR_ALG_AES128, VersionKey(7, 16), iv.data(),
                                    Pkcs7Pad(Bytes(value.begin(), value.end()), 16));
  expected.insert(expected.end(), ct.begin(), ct.end());
  expected.insert(expected.end(), iv.begin(), iv.begin() + 4);
  EXPECT_EQ(ToHex(expected), ToHex(enc.bytes()));

  In stored(enc.bytes(), 0);
  Out back;
  EXPECT_EQ(0, qor::engine::DecryptUnderAccess(record.self(), stored.get(), back.get(), false,
                                                nullptr, "", "", ""));
  EXPECT_EQ(value, back.str());
  EXPECT_TRUE(qor::engine::TakePendingRecordIv(record.operator->(), nullptr));
}

// A policy downloaded with IV type RECORD decrypts a stored record-IV value
// of an older version before it has encrypted anything.
TEST(RecordIv, FreshPolicyDecryptsStoredValue) {
  KeyMgr* mgr = KeyMgr_Create(nullptr);
  ASSERT_NE(nullptr, mgr);
  const Bytes key7 = VersionKey(7, 16), key6 = VersionKey(6, 16);
  KeyEntry older{6, const_cast<uint8_t*>(key6.data()), const_cast<char*>("active"), 0, 0, nullptr};
  KeyEntry latest{7, const_cast<uint8_t*>(key7.data()), const_cast<char*>("active"), 0, 0, &older};
  const std::string name = "fresh.record.policy";
  const DataBuffer nameBuf{static_cast<int32_t>(name.size()),
                           reinterpret_cast<unsigned char*>(const_cast<char*>(name.data()))};
  KeyInfo* info = mgr->AddKeyInfo(mgr, &nameBuf, "AES", 4, QOR_IV_RECORD, 1, 16, 2, &latest, 0, 0,
                                  nullptr, 0, nullptr, 0, 0, 0, 0, 0, 0, nullptr, 0, 0, 0, 0, 0, 0,
                                  0, 0, 4, 0, "", 0, 0, 0, 0);
  ASSERT_NE(nullptr, info);
  UACipherUtil** self = &info->cipher;
  Bytes iv((*self)->data->ciphers->iv, (*self)->data->ciphers->iv + 16);
  const uint8_t tail[4] = {0xA1, 0xB2, 0xC3, 0xD4};
  std::memcpy(iv.data(), tail, 4);
  const std::string plain = "stored long ago";
  Bytes stored = {0x00, 0x06, 0xFE};
  const Bytes ct = OracleCbcEncrypt(QOR_ALG_AES128, key6, iv.data(),
                                    Pkcs7Pad(Bytes(plain.begin(), plain.end())));
  stored.insert(stored.end(), ct.begin(), ct.end());
  stored.insert(stored.end(), tail, tail + 4);

  In text(B64(stored, 0), 0);
  Out out;
  EXPECT_EQ(0, (*self)->DecryptFromBase64_ACC(self, text.get(), out.get(), nullptr, "", "", ""));
  EXPECT_EQ(plain, out.str());
  In binary(stored, 0);
  Out outBinary;
  EXPECT_EQ(0, (*self)->Decrypt_API_ACC(self, binary.get(), outBinary.get(), nullptr, "", "", ""));
  EXPECT_EQ(plain, outBinary.str());
  mgr->Destroy(&mgr);
}

// Streams in uneven pieces; returns everything Update and Final produced.
Bytes Stream(Policy& p, bool encrypt, const Bytes& input, int version, QOR_KeyFetchFn fetch,
             int* initResult) {
  void* holder = nullptr;
  *initResult = encrypt ? p->Encrypt_API_Init(p.self(), &holder, kPolicyIv.data(), 0)
                        : p->Decrypt_API_Init(p.self(), &holder, fetch, kPolicyIv.data(), version);
  if (*initResult != 0) return {};
  Bytes out;
  std::vector<uint8_t> piece(64 + 16);
  for (size_t at = 0; at < input.size(); at += 7) {
    const size_t n = std::min<size_t>(7, input.size() - at);
    DataBuffer in{static_cast<int32_t>(n), const_cast<uint8_t*>(input.data() + at)};
    DataBuffer o{0, piece.data()};
    EXPECT_EQ(0, encrypt ? p->Encrypt_API_Update(p.self(), &holder, &in, &o)
                         : p->Decrypt_API_Update(p.self(), &holder, &in, &o));
    out.insert(out.end(), piece.data(), piece.data() + o.length);
  }
  DataBuffer o{0, piece.data()};
  EXPECT_EQ(0, encrypt ? p->Encrypt_API_Final(p.self(), &holder, &o)
                       : p->Decrypt_API_Final(p.self(), &holder, &o));
  EXPECT_EQ(nullptr, holder);
  if (o.length > 0) out.insert(out.end(), piece.data(), piece.data() + o.length);
  return out;
}

TEST(Streaming, RoundTripMatchesOneShot) {
  struct Case {
    uint32_t alg;
    int keyLength;
  };
  for (const Case& c :
       {Case{QOR_ALG_AES128, 16}, Case{QOR_ALG_AES256, 32}, Case{QOR_ALG_ARIA256, 32},
        Case{QOR_ALG_SEED, 16}, Case{QOR_ALG_LEA128, 16}}) {
    SCOPED_TRACE(c.alg);
    PolicyDesc desc;
    desc.alg = c.alg;
    desc.keyLength = c.keyLength;
    Policy p(desc);
    ASSERT_TRUE(p.ok());
    for (size_t len : {0u, 15u, 16u, 100u}) {
      Bytes plain(len);
      for (size_t i = 0; i < len; ++i) plain[i] = static_cast<uint8_t>(i * 5);
      int init = -1;
      const Bytes streamed = Stream(p, true, plain, 0, nullptr, &init);
      ASSERT_EQ(0, init);
      In in(plain, kSpare);
      Out oneShot;
      ASSERT_EQ(0, p->Encrypt_API(p.self(), in.get(), oneShot.get()));
      EXPECT_EQ(ToHex(oneShot.bytes()), ToHex(streamed));
      EXPECT_EQ(ToHex(plain), ToHex(Stream(p, false, streamed, 0, nullptr, &init)));
    }
  }
}

TEST(Streaming, DecryptionPicksTheStatedVersion) {
  g_fetch = FetchState{};
  PolicyDesc oldDesc;
  oldDesc.versions = {{4}};
  Policy old(oldDesc);
  PolicyDesc newDesc;
  newDesc.versions = {{5}, {3, "revoked"}};
  Policy current(newDesc);
  ASSERT_TRUE(old.ok() && current.ok());
  const Bytes plain(40, 0x5A);
  int init = -1;
  const Bytes streamed = Stream(old, true, plain, 0, nullptr, &init);
  ASSERT_EQ(0, init);
  g_fetch.target = current.self();
  EXPECT_EQ(ToHex(plain), ToHex(Stream(current, false, streamed, 4, FetchVersion, &init)));
  EXPECT_EQ(0, init);
  EXPECT_EQ(1, g_fetch.calls);
  Stream(current, false, streamed, 3, FetchVersion, &init);
  EXPECT_EQ(2100, init);
  g_fetch.succeed = false;
  Stream(current, false, streamed, 9, FetchVersion, &init);
  EXPECT_EQ(2100, init);
  EXPECT_EQ(2, g_fetch.calls);
}

}  // namespace
