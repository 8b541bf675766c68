// Record IVs as the exported setter and the GetRecordIV slot hand them out:
// consecutive draws, a text that sets the policy IV, values kept per object
// and per thread, and the counter behind UDE_SetRecordIV.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <cstring>
#include <string>
#include <thread>

#include "engine/cipher/record_iv.h"
#include "engine/policy_fixture.h"
#include "qor/cipher_util.h"
#include "qor/ua_cipher_util.h"
#include "support/bytes.h"
#include "support/log_capture.h"

namespace {

using qor::test::Bytes;
using qor::test::KeyList;
using qor::test::Policy;
using qor::test::PolicyArgs;

Bytes Sha256(const std::string& text) {
  Bytes out(32);
  unsigned int n = 0;
  EXPECT_EQ(1, EVP_Digest(text.data(), text.size(), out.data(), &n, EVP_sha256(), nullptr));
  return out;
}

Bytes IvOf(const unsigned char* iv) { return Bytes(iv, iv + 16); }

uint32_t FirstWord(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

class RecordIv : public ::testing::Test {
 protected:
  void SetUp() override {
    p_.reset(CreateEx3(PolicyArgs(), keys_));
    ASSERT_TRUE(p_);
    policyIv_ = IvOf(p_->data->ciphers->iv);
  }
  ~RecordIv() override {
    if (p_) qor::engine::TakePendingRecordIv(p_.get(), nullptr);
  }
  KeyList keys_{1};
  Policy p_;
  Bytes policyIv_;
};

TEST_F(RecordIv, WithoutTextDrawsConsecutiveValuesForThisThread) {
  const CipherUtil* head = p_->data->ciphers;
  ASSERT_EQ(UACipherUtil_SetRecordIV(p_.self(), nullptr), 0);
  const unsigned char* first = p_->GetRecordIV(p_.self());
  const uint32_t a = FirstWord(first);
  EXPECT_EQ(Bytes(first + 4, first + 16), Bytes(policyIv_.begin() + 4, policyIv_.end()));
  EXPECT_EQ(head->useRecordIV, 1);
  ASSERT_EQ(UACipherUtil_SetRecordIV(p_.self(), nullptr), 0);
  const uint32_t b = FirstWord(p_->GetRecordIV(p_.self()));
  EXPECT_EQ(b, a + 1);
  EXPECT_EQ(b, std::atomic_ref<uint32_t>(g_RecordIV).load());
  // The drawn value stays with the call: the policy's own IV never changes.
  EXPECT_EQ(IvOf(head->iv), policyIv_);

  uint32_t taken = 0;
  EXPECT_TRUE(qor::engine::TakePendingRecordIv(p_.get(), &taken));
  EXPECT_EQ(taken, b);
  EXPECT_FALSE(qor::engine::TakePendingRecordIv(p_.get(), &taken));
  EXPECT_EQ(p_->GetRecordIV(p_.self()), head->iv);
}

TEST_F(RecordIv, TextSetsThePolicyIvFromItsDigest) {
  ASSERT_EQ(UACipherUtil_SetRecordIV(p_.self(), nullptr), 0);
  ASSERT_EQ(qor::engine::TakePendingRecordIv(p_.get(), nullptr), true);
  for (const std::string text : {"customer-table", "a", ""}) {
    SCOPED_TRACE(text);
    ASSERT_EQ(UACipherUtil_SetRecordIV(p_.self(), text.c_str()), 0);
    const Bytes digest = Sha256(text);
    EXPECT_EQ(IvOf(p_->data->ciphers->iv), Bytes(digest.begin(), digest.begin() + 16));
    EXPECT_EQ(p_->GetRecordIV(p_.self()), p_->data->ciphers->iv);
    EXPECT_EQ(p_->data->ciphers->useRecordIV, 0);
  }
}

TEST_F(RecordIv, PendingValuesArePerObject) {
  KeyList otherKeys({1});
  Policy other(CreateEx3(PolicyArgs(), otherKeys));
  ASSERT_TRUE(other);
  ASSERT_EQ(UACipherUtil_SetRecordIV(p_.self(), nullptr), 0);
  ASSERT_EQ(UACipherUtil_SetRecordIV(other.self(), nullptr), 0);
  uint32_t mine = 0, theirs = 0;
  ASSERT_TRUE(qor::engine::TakePendingRecordIv(p_.get(), &mine));
  ASSERT_TRUE(qor::engine::TakePendingRecordIv(other.get(), &theirs));
  EXPECT_EQ(theirs, mine + 1);
  EXPECT_EQ(other->GetRecordIV(other.self()), other->data->ciphers->iv);
}

// Two threads draw under one policy before either reads: each must see its own.
TEST_F(RecordIv, EachThreadKeepsItsOwnValue) {
  std::barrier sync(2);
  uint32_t seen[2] = {0, 0};
  uint32_t taken[2] = {0, 0};
  bool rest[2] = {false, false};
  auto worker = [&](int i) {
    if (UACipherUtil_SetRecordIV(p_.self(), nullptr) != 0) return;
    sync.arrive_and_wait();
    UACipherUtil* o = p_.get();
    const unsigned char* iv = o->GetRecordIV(&o);
    seen[i] = FirstWord(iv);
    rest[i] = std::equal(iv + 4, iv + 16, policyIv_.begin() + 4);
    sync.arrive_and_wait();
    qor::engine::TakePendingRecordIv(o, &taken[i]);
  };
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_EQ(seen[0], taken[0]);
  EXPECT_EQ(seen[1], taken[1]);
  EXPECT_TRUE(rest[0] && rest[1]);
  EXPECT_EQ(IvOf(p_->data->ciphers->iv), policyIv_);
  EXPECT_FALSE(qor::engine::TakePendingRecordIv(p_.get(), nullptr));  // none left here
}

TEST(UdeRecordIv, DrawsTheNextCounterValue) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  uint32_t a = 0, b = 0;
  ASSERT_EQ(UDE_SetRecordIV(&a), 0);
  ASSERT_EQ(UDE_SetRecordIV(&b), 0);
  EXPECT_EQ(b, a + 1);
  EXPECT_EQ(UDE_SetRecordIV(nullptr), -1);
  EXPECT_NE(log.text().find("UDE_SetRecordIV [source/Crypto/UACipherUtil:"), std::string::npos);
  EXPECT_NE(log.text().find("] >> Null Pointer Exception\n"), std::string::npos);
}

}  // namespace
