// The crypto service: its table, the policy lookup with its refresh after a
// miss, the bypass operations, the audit records, the self test and the small
// exported helpers.
#include <dlfcn.h>
#include <malloc.h>
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/crypto/qor_crypto.h"
#include "service/crypto/self_test.h"
#include "service/file/file_result.h"
#include "service/table/service_table.h"
#include "service/value_support.h"
#include "support/evp_oracle.h"

namespace qor::test {
namespace {

// ---- Policy lookup ---------------------------------------------------------

std::mutex g_updateMutex;
std::string g_updateAddress;
uint16_t g_updatePort = 0;
std::string g_addOnUpdate;  // the policy an update brings, if any
KeyMgr* g_updateTarget = nullptr;

int UpdateAdds(const char* address, uint16_t port) {
  ++g_updateCalls;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let other misses pile up
  std::lock_guard lock(g_updateMutex);
  g_updateAddress = address != nullptr ? address : "";
  g_updatePort = port;
  if (!g_addOnUpdate.empty() && g_updateTarget != nullptr) {
    PolicyInfoArgs args;
    args.name = g_addOnUpdate;
    KeyList keys({0});
    if (AddPolicy(g_updateTarget, args, keys) == nullptr) return -1;
  }
  return 0;
}

class Lookup : public ValueService {
 protected:
  void SetUp() override {
    ValueService::SetUp();
    std::strcpy(config_.firstAgentIp, "10.1.2.3");
    config_.firstPort = 9909;
    config_.policyInitFrom = 1;
    QORCrypto_SetConfigData(&config_);
    g_addOnUpdate.clear();
    g_updateTarget = mgr_;
    g_updateAddress.clear();
    g_updatePort = 0;
  }
  void TearDown() override {
    QORCrypto_SetConfigData(nullptr);
    g_updateTarget = nullptr;
    ValueService::TearDown();
  }

  KeyInfo* Get(const std::string& name, ErrorInfo* error, int length = -1) {
    return GetPolicy(length < 0 ? static_cast<int>(name.size()) : length, name.c_str(),
                     FindInKeySet, UpdateAdds, error);
  }

  QORApiData config_{};
};

TEST_F(Lookup, RefusesMissingArgumentsBeforeAnyLookup) {
  struct Case {
    FindKeyInfoFn find;
    UpdateKeySetFn update;
    const char* name;
    int length;
    const char* message;
  };
  const Case cases[] = {
      {nullptr, UpdateAdds, "p", 1, "FindKeyInfo Function ptr is null"},
      {FindInKeySet, nullptr, "p", 1, "update Function ptr is null"},
      {FindInKeySet, UpdateAdds, "p", 0, "KeyName is null"},
      {FindInKeySet, UpdateAdds, "p", -4, "KeyName is null"},
      {FindInKeySet, UpdateAdds, nullptr, 3, "KeyName is null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ErrorInfo error{};
    EXPECT_EQ(nullptr, GetPolicy(c.length, c.name, c.find, c.update, &error));
    EXPECT_EQ(-1, error.code);
    EXPECT_STREQ(c.message, error.message);
  }
  EXPECT_EQ(0, g_findCalls.load());
  EXPECT_EQ(0, g_updateCalls.load());
}

TEST_F(Lookup, FoundAtOnceLeavesCodeZero) {
  ASSERT_NE(nullptr, Add(PolicyInfoArgs{}));
  ErrorInfo error{};
  error.code = 42;
  KeyInfo* info = Get("policy.column", &error);
  ASSERT_NE(nullptr, info);
  EXPECT_STREQ("policy.column", info->name);
  EXPECT_EQ(0, error.code);
  EXPECT_EQ(1, g_findCalls.load());
  EXPECT_EQ(0, g_updateCalls.load());
}

// Only the first |length| bytes of the name count.
TEST_F(Lookup, NameIsTheGivenLength) {
  ASSERT_NE(nullptr, Add(PolicyInfoArgs{}));
  ErrorInfo error{};
  EXPECT_NE(nullptr, GetPolicy(13, "policy.columnXYZ", FindInKeySet, UpdateAdds, &error));
}

TEST_F(Lookup, MissRefreshesOnceThenFinds) {
  g_addOnUpdate = "late.policy";
  ErrorInfo error{};
  KeyInfo* info = Get("late.policy", &error);
  ASSERT_NE(nullptr, info);
  EXPECT_EQ(0, error.code);
  EXPECT_EQ(1, g_updateCalls.load());
  EXPECT_EQ(3, g_findCalls.load());  // miss, miss under the lock, hit
  EXPECT_EQ("10.1.2.3", g_updateAddress);
  EXPECT_EQ(9909, g_updatePort);
}

TEST_F(Lookup, StillMissingNamesWhereTheKeySetCameFrom) {
  const char* from[] = {"Nothing", "First Agent", "Second Agent", "Emergency File"};
  for (int index : {0, 1, 2, 3, 4, -1}) {
    SCOPED_TRACE(index);
    config_.policyInitFrom = index;
    g_updateCalls = 0;
    ErrorInfo error{};
    EXPECT_EQ(nullptr, Get("gone", &error));
    EXPECT_EQ(3015, error.code);
    const std::string expected = std::string("The policy id [gone] could not be found.\n") +
                                 " >>> Policy Init From " +
                                 from[index >= 0 && index < 4 ? index : 0];
    EXPECT_EQ(expected, error.message);
    EXPECT_EQ(1, g_updateCalls.load());
  }
}

// Before any configuration arrives there is no agent to ask: no update call,
// and the lookup still fails cleanly.
TEST_F(Lookup, NoConfigurationNoUpdate) {
  QORCrypto_SetConfigData(nullptr);
  ErrorInfo error{};
  EXPECT_EQ(nullptr, Get("gone", &error));
  EXPECT_EQ(0, g_updateCalls.load());
  EXPECT_EQ(3015, error.code);
  EXPECT_NE(nullptr, std::strstr(error.message, "Policy Init From Nothing"));
}

// Misses of many threads at once cost one refresh: the second look under the
// lock finds what the first refresh brought.
TEST_F(Lookup, ConcurrentMissesShareOneRefresh) {
  g_addOnUpdate = "late.policy";
  constexpr int kThreads = 8;
  std::atomic<int> found{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, &found] {
      ErrorInfo error{};
      if (Get("late.policy", &error) != nullptr && error.code == 0) ++found;
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(kThreads, found.load());
  EXPECT_EQ(1, g_updateCalls.load());
}

// ---- Table and bypass ------------------------------------------------------

TEST(Table, ModesFillTheSlots) {
  const QORCrypto sentinel = {
      reinterpret_cast<QORCryptoEncryptFn>(1), reinterpret_cast<QORCryptoDecryptFn>(2),
      reinterpret_cast<QORCryptoEncryptFileFn>(3), reinterpret_cast<QORCryptoDecryptFileFn>(4)};
  struct Case {
    int mode;
    QORCrypto expected;
  };
  const Case cases[] = {
      {1, {QORCrypto_Encrypt, QORCrypto_Decrypt, QORCrypto_EncryptFile, QORCrypto_DecryptFile}},
      {2,
       {QORCrypto_Encrypt_BYPASS, QORCrypto_Decrypt_BYPASS, QORCrypto_EncryptFile,
        QORCrypto_DecryptFile}},
      {3,
       {QORCrypto_Encrypt_BYPASS, QORCrypto_Decrypt_BYPASS, QORCrypto_EncryptFile_BYPASS,
        QORCrypto_DecryptFile_BYPASS}},
      {0, sentinel},
      {4, sentinel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    QORCrypto table = sentinel;
    QORCrypto_Create(&table, c.mode);
    EXPECT_EQ(c.expected.Encrypt, table.Encrypt);
    EXPECT_EQ(c.expected.Decrypt, table.Decrypt);
    EXPECT_EQ(c.expected.EncryptFile, table.EncryptFile);
    EXPECT_EQ(c.expected.DecryptFile, table.DecryptFile);
  }
  QORCrypto table{};
  QORCrypto_Create(&table, qor::crypto::TableMode::kAllBypass);
  EXPECT_EQ(QORCrypto_Encrypt_BYPASS, table.Encrypt);
}

// Bypass values come back as separate copies; nothing is looked up.
TEST(Bypass, ValuesAreCopies) {
  QORCrypto table{};
  QORCrypto_Create(&table, 3);
  unsigned char abc[] = {'a', 'b', 'c'};  // no terminator of its own
  ErrorInfo error{};
  error.code = 7;
  for (bool encrypt : {true, false}) {
    SCOPED_TRACE(encrypt);
    auto call = [&](int length, unsigned char* data) {
      return encrypt ? table.Encrypt(length, data, 1, "k", &error, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, 0)
                     : table.Decrypt(length, data, 1, "k", &error, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, 1);
    };
    DataBuffer out = call(3, abc);
    ASSERT_NE(nullptr, out.data);
    EXPECT_NE(abc, out.data);
    EXPECT_EQ(3, out.length);
    EXPECT_STREQ("abc", reinterpret_cast<char*>(out.data));
    std::free(out.data);

    out = call(0, abc);
    ASSERT_NE(nullptr, out.data);
    EXPECT_EQ(0, out.length);
    EXPECT_EQ(0, out.data[0]);
    std::free(out.data);

    for (const auto& [length, data] :
         {std::pair<int, unsigned char*>{5, nullptr}, {-2, nullptr}, {-1, abc}}) {
      out = call(length, data);
      EXPECT_EQ(length, out.length);
      EXPECT_EQ(nullptr, out.data);
    }
  }
  EXPECT_EQ(7, error.code);
}

TEST(Bypass, FilesTouchNothingAndReturnZeroRecords) {
  FileResult zero;
  std::memset(&zero, 0, sizeof(zero));
  FileResult* encrypted = QORCrypto_EncryptFile_BYPASS(1, "k", "/nonexistent/a", "/nonexistent/b",
                                                       nullptr, nullptr, nullptr, nullptr,
                                                       nullptr, nullptr);
  ASSERT_NE(nullptr, encrypted);
  EXPECT_EQ(0, std::memcmp(&zero, encrypted, sizeof(zero)));
  std::free(encrypted);
  const FileResult decrypted = QORCrypto_DecryptFile_BYPASS(
      1, "k", "/nonexistent/a", "/nonexistent/b", nullptr, nullptr, nullptr, nullptr, nullptr,
      nullptr, nullptr);
  EXPECT_EQ(0, std::memcmp(&zero, &decrypted, sizeof(zero)));
}

// Without a way to look the policy up, neither file slot touches a file or
// reports success.
TEST(FilePipeline, NoPolicyLookupFailsWithKeyTag) {
  ErrorInfo error{};
  FileResult* encrypted = QORCrypto_EncryptFile(1, "k", "/nonexistent/a", "/nonexistent/b",
                                                &error, nullptr, nullptr, nullptr, nullptr,
                                                nullptr);
  ASSERT_NE(nullptr, encrypted);
  EXPECT_EQ(-1, encrypted->code);
  EXPECT_STREQ("KED", encrypted->tag);
  std::free(encrypted);
  const FileResult decrypted =
      QORCrypto_DecryptFile(1, "k", "/nonexistent/a", "/nonexistent/b", &error, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(-1, decrypted.code);
  EXPECT_STREQ("KED", decrypted.tag);
  EXPECT_NE(0, error.code);
}

// ---- Self test -------------------------------------------------------------

TEST(SelfTest, Passes) { EXPECT_EQ(0, Self_Test()); }

TEST(SelfTest, ReportsAFailingVector) {
  crypto::KnownAnswer broken = crypto::kSelfTestVector;
  broken.plaintext[0] ^= 1;
  crypto::SetSelfTestVectorForTesting(&broken);
  EXPECT_EQ(1, Self_Test());
  crypto::SetSelfTestVectorForTesting(nullptr);
  EXPECT_EQ(0, Self_Test());
}

TEST(SelfTest, VectorIsAria256CbcByOpenSsl) {
  const crypto::KnownAnswer& v = crypto::kSelfTestVector;
  EXPECT_EQ(static_cast<uint32_t>(QOR_ALG_ARIA256), v.algType);
  const Bytes key(v.key, v.key + sizeof(v.key));
  const Bytes plain(v.plaintext, v.plaintext + sizeof(v.plaintext));
  const Bytes expected(v.ciphertext, v.ciphertext + sizeof(v.ciphertext));
  EXPECT_EQ(expected, EvpCrypt(EVP_aria_256_cbc(), true, true, key, v.iv, plain));
}

TEST(SelfTest, FailsOnAnyMismatch) {
  crypto::KnownAnswer v = crypto::kSelfTestVector;
  v.ciphertext[31] ^= 1;
  EXPECT_EQ(1, crypto::RunKnownAnswer(v));

  v = crypto::kSelfTestVector;
  v.key[0] ^= 1;
  EXPECT_EQ(1, crypto::RunKnownAnswer(v));

  v = crypto::kSelfTestVector;
  v.algType = QOR_ALG_AES256;  // right lengths, other cipher
  EXPECT_EQ(1, crypto::RunKnownAnswer(v));

  // The same check holds for another cipher once its answer is right.
  const Bytes key(v.key, v.key + sizeof(v.key));
  const Bytes aes = EvpCrypt(EVP_aes_256_cbc(), true, true, key, v.iv,
                             Bytes(v.plaintext, v.plaintext + sizeof(v.plaintext)));
  ASSERT_EQ(sizeof(v.ciphertext), aes.size());
  std::memcpy(v.ciphertext, aes.data(), aes.size());
  EXPECT_EQ(0, crypto::RunKnownAnswer(v));
}

// ---- Helpers -----------------------------------------------------------------

TEST(Helpers, SetCipherTextSizes) {
  struct Case {
    int length, kind, binary;
    size_t size;
  };
  const Case cases[] = {{10, 2, 1, 30}, {10, 1, 1, 26}, {10, 2, 0, 46}, {10, 0, 0, 40},
                        {0, 0, 1, 16},  {0, 0, 0, 27}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    unsigned char* out = nullptr;
    ASSERT_EQ(0, SetCipherText(c.length, c.kind, c.binary, &out));
    ASSERT_NE(nullptr, out);
    EXPECT_GE(malloc_usable_size(out), c.size);
    for (size_t i = 0; i < c.size; ++i) ASSERT_EQ(0, out[i]);
    std::free(out);
  }
  unsigned char* out = nullptr;
  EXPECT_EQ(-1, SetCipherText(-5, 0, 1, &out));
  EXPECT_EQ(-1, SetCipherText(2147483640, 2, 0, &out));
  EXPECT_EQ(-1, SetCipherText(1, 0, 1, nullptr));
  EXPECT_EQ(nullptr, out);
}

TEST(Helpers, CompareTime2) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  EXPECT_EQ(1, Compare_time2(0));
  EXPECT_EQ(1, Compare_time2(now + 3600));
  EXPECT_EQ(0, Compare_time2(now - 3600));
}


TEST(Exports, ServiceFunctionsAreCNames) {
  void* handle = dlopen(QOR_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, handle) << dlerror();
  for (const char* name :
       {"QORCrypto_Create", "QORCrypto_SetConfigData", "QORCrypto_Encrypt", "QORCrypto_Decrypt",
        "QORCrypto_Encrypt_BYPASS", "QORCrypto_Decrypt_BYPASS", "QORCrypto_EncryptFile",
        "QORCrypto_DecryptFile", "QORCrypto_EncryptFile_BYPASS", "QORCrypto_DecryptFile_BYPASS",
        "Audit_Writer", "SetCipherText", "Compare_time2", "Self_Test", "Connect_test"}) {
    EXPECT_NE(nullptr, dlsym(handle, name)) << name;
  }
  dlclose(handle);
}

}  // namespace
}  // namespace qor::test
