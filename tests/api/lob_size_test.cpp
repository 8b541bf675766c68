// The output size a large object needs: QOR_LobEncryptedSize against what
// QOR_EncryptLobEx really writes, for every kind of policy, both forms, and
// lengths around the piece and block boundaries. Each output buffer is exactly
// the size the function gives, on the heap, so a byte too few shows under the
// address sanitizer and as a length mismatch everywhere.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "api/entry_fixture.h"

namespace {

using qor::test::KeyList;
using qor::test::PolicyInfoArgs;
using qor::test::RunInChild;

struct SizePolicy {
  const char* name;
  const char* algorithm;
  int keyLength;
  int version;
  int64_t ivType;
  int compatibility;
  int nullProcess;
};

const SizePolicy kPolicies[] = {
    {"aria.v5", "ARIA", 32, 5, QOR_IV_POLICY, 0, 0},
    {"aes.record.v7", "AES", 32, 7, QOR_IV_RECORD, 0, 0},
    {"aes.v0", "AES", 16, 0, QOR_IV_POLICY, 0, 0},
    {"seed.compat", "SEED", 16, 2, QOR_IV_POLICY, 1, 0},
    {"lea.null.compat2", "LEA", 16, 3, QOR_IV_POLICY, 2, 1},
    {"des3.record", "TDES", 24, 3, QOR_IV_RECORD, 0, 0},
    {"des3.v0", "TDES", 16, 0, QOR_IV_POLICY, 1, 0},
    {"sha256", "SHA256", 32, 1, QOR_IV_POLICY, 0, 0},
    {"sha512", "SHA512", 32, 1, QOR_IV_POLICY, 1, 0},
    {"digits", "FPE", 16, 1, QOR_IV_POLICY, 0, 0},
};

KeyMgr* NewSizeKeySet() {
  KeyMgr* mgr = KeyMgr_Create(nullptr);
  if (mgr == nullptr) return nullptr;
  for (const SizePolicy& p : kPolicies) {
    const KeyList keys({p.version}, p.keyLength > 0 ? p.keyLength : 16);
    PolicyInfoArgs args;
    args.name = p.name;
    args.algorithm = p.algorithm;
    args.keyLength = p.keyLength;
    args.ivType = p.ivType;
    args.errorProcess = 1;
    args.compatibility = p.compatibility;
    args.nullProcess = p.nullProcess;
    args.encDuplication = 0;
    args.decDuplication = 0;
    if (qor::test::AddPolicy(mgr, args, keys) == nullptr) {
      std::fprintf(stderr, "policy %s not added\n", p.name);
      mgr->Destroy(&mgr);
      return nullptr;
    }
  }
  return mgr;
}

bool InstallSizeKeySet(const qor::test::TempDir& home) {
  QORApiConf* config = QORGet_DefaultInfo();
  if (config == nullptr) return false;
  x_strcpy(config->data->home, sizeof(config->data->home), home.path().c_str());
  config->data->useLog = 0;
  config->data->bypass = 0;
  qor::api::testing::SetSocketFactory(&qor::test::NoAgent);
  QORCrypto_SetConfigData(config->data);
  QORCrypto_Create(&gCrypto, qor::crypto::TableMode::kReal);
  KeyMgr* mgr = NewSizeKeySet();
  if (mgr == nullptr) return false;
  qor::api::testing::InstallKeySet(mgr, config);
  return true;
}

struct FreeDeleter {
  void operator()(unsigned char* p) const { std::free(p); }
};

TEST(LobSize, MatchesWhatEncryptionWritesForEveryPolicyKind) {
  qor::test::TempDir home;
  EXPECT_EQ(RunInChild([&]() -> std::string {
    CHILD_CHECK(InstallSizeKeySet(home));
    const uint64_t lengths[] = {0, 1, 7, 8, 15, 16, 17, 4095, 4096, 4097, 8192, 10000};
    for (const SizePolicy& p : kPolicies) {
      int written = 0;
      for (int binary : {0, 1}) {
        for (int kind : {0, 2}) {
          for (uint64_t length : lengths) {
            const std::string where = std::string(p.name) + " binary " + std::to_string(binary) +
                                      " kind " + std::to_string(kind) + " length " +
                                      std::to_string(length);
            std::string data(length + 32, '0');
            for (uint64_t i = 0; i < length; ++i) data[i] = static_cast<char>('0' + i * 7 % 10);
            const int64_t need = QOR_LobEncryptedSize(p.name, length, binary, kind);
            if (need <= 0) return where + ": no size";
            std::unique_ptr<unsigned char, FreeDeleter> out(
                static_cast<unsigned char*>(std::malloc(static_cast<size_t>(need))));
            const int64_t wrote = QOR_EncryptLobEx(
                p.name, reinterpret_cast<unsigned char*>(data.data()), length, out.get(), binary,
                kind);
            if (wrote < 0) continue;  // a value the policy refuses (a digit string too short)
            ++written;
            if (wrote + 1 != need) {
              return where + ": wrote " + std::to_string(wrote) + " bytes, size said " +
                     std::to_string(need);
            }
          }
        }
      }
      // Digit strings have a length limit; every other policy takes every object.
      if (written < (std::string(p.algorithm) == "FPE" ? 4 : 48)) {
        return std::string(p.name) + ": only " + std::to_string(written) + " objects encrypted";
      }
    }
    return "";
  }), "");
}

TEST(LobSize, WholeBinaryPiecesUnderAKeyVersion) {
  qor::test::TempDir home;
  EXPECT_EQ(RunInChild([&]() -> std::string {
    CHILD_CHECK(InstallSizeKeySet(home));
    // One piece and the terminator.
    CHILD_CHECK(QOR_LobEncryptedSize("aria.v5", 4096, 1, 0) == 4115 + 1);
    CHILD_CHECK(QOR_LobEncryptedSize("aes.record.v7", 4096, 1, 0) == 4119 + 1);
    CHILD_CHECK(QOR_LobEncryptedSize("aes.v0", 4096, 1, 0) == 4112 + 1);
    CHILD_CHECK(QOR_LobEncryptedSize("aria.v5", 3 * 4096, 1, 0) == 3 * 4115 + 1);
    CHILD_CHECK(QOR_LobEncryptedSize("no.such.policy", 10, 1, 0) == -1);
    CHILD_CHECK(QOR_GetLastErrorCode() == 3015);
    return "";
  }), "");
}

}  // namespace
