// A key set, the callbacks the pipelines reach it through, an audit directory
// and one value call with everything it reports, for the value service tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/policy_fixture.h"
#include "qor/key_mgr.h"
#include "qor/qoaudit.h"
#include "qor/qorcrypto.h"
#include "support/test_support.h"

namespace qor::test {

// The key set the callbacks below look into.
inline std::atomic<KeyMgr*> g_keySet{nullptr};
inline std::atomic<int> g_findCalls{0};
inline std::atomic<int> g_updateCalls{0};
inline std::atomic<int> g_fetchCalls{0};

inline int FindInKeySet(DataBuffer* name, KeyInfo** out) {
  ++g_findCalls;
  KeyMgr* mgr = g_keySet.load();
  *out = mgr != nullptr ? mgr->GetKeyInfo(mgr, name) : nullptr;
  return *out != nullptr ? 0 : 1;
}
inline int UpdateFails(const char*, uint16_t) {
  ++g_updateCalls;
  return -1;
}
inline int FetchFails(int, const char*, int) {
  ++g_fetchCalls;
  return 1;
}

// How a value reaches the pipeline.
enum class Input {
  kValue,      // the text, its length
  kEmpty,      // data present, length 0
  kEmptyMinus, // data present, length -1
  kNull,       // no data, length -2
  kNullData,   // no data with a positive length
  kNegative,   // data present, a negative length other than -1
};

// What one pipeline call gave back.
struct Outcome {
  int length = 0;
  bool hasData = false;
  std::string value;  // the result bytes when there are any
  int code = 0;
  std::string message;
  bool sameBufferAsInput = false;
};

// A fresh key set and an open audit file for each test.
class ValueService : public ::testing::Test {
 protected:
  void SetUp() override {
    mgr_ = KeyMgr_Create(nullptr);
    ASSERT_NE(nullptr, mgr_);
    g_keySet = mgr_;
    g_findCalls = g_updateCalls = g_fetchCalls = 0;
    ASSERT_EQ(0, QOAudit_Init(home_.path().c_str()));
  }
  void TearDown() override {
    QOAudit_Uninit();
    g_keySet = nullptr;
    mgr_->Destroy(&mgr_);
  }

  // Adds a policy; every audit switch on unless |audit| is false.
  KeyInfo* Add(PolicyInfoArgs args, std::initializer_list<int64_t> versions = {0},
               const char* status = "active", bool audit = true) {
    if (audit) {
      for (int32_t& a : args.audit) a = 0xFF;
    }
    KeyList keys(versions, args.keyLength, status);
    return AddPolicy(mgr_, args, keys);
  }

  // |trailer| follows the value in the caller's block without being part of it.
  static Outcome Run(bool encrypt, const std::string& policy, Input input,
                     const std::string& text = "", int mode = 0,
                     const std::string& trailer = "") {
    const char* identity = "app";
    std::vector<unsigned char> block(text.begin(), text.end());
    block.insert(block.end(), trailer.begin(), trailer.end());
    block.push_back(0);
    unsigned char* data = block.data();
    int length = static_cast<int>(text.size());
    switch (input) {
      case Input::kValue:
        break;
      case Input::kEmpty:
        length = 0;
        break;
      case Input::kEmptyMinus:
        length = -1;
        break;
      case Input::kNull:
        data = nullptr;
        length = -2;
        break;
      case Input::kNullData:
        data = nullptr;
        length = 5;
        break;
      case Input::kNegative:
        length = -100;
        break;
    }
    ErrorInfo error{};
    std::strcpy(error.message, "stale");
    error.code = 99;
    const DataBuffer out =
        encrypt ? QORCrypto_Encrypt(length, data, static_cast<int>(policy.size()), policy.c_str(),
                                    &error, FindInKeySet, UpdateFails, identity, identity,
                                    identity, mode)
                : QORCrypto_Decrypt(length, data, static_cast<int>(policy.size()), policy.c_str(),
                                    &error, FindInKeySet, UpdateFails, FetchFails, identity,
                                    identity, identity, mode);
    Outcome o;
    o.length = out.length;
    o.hasData = out.data != nullptr;
    if (out.data != nullptr && out.length > 0) {
      o.value.assign(reinterpret_cast<const char*>(out.data), static_cast<size_t>(out.length));
    }
    o.sameBufferAsInput = data != nullptr && out.data == data;
    std::free(out.data);
    o.code = error.code;
    o.message = error.message;
    return o;
  }
  static Outcome Encrypt(const std::string& policy, const std::string& text, int mode = 0) {
    return Run(true, policy, Input::kValue, text, mode);
  }
  static Outcome Decrypt(const std::string& policy, const std::string& text, int mode = 0) {
    return Run(false, policy, Input::kValue, text, mode);
  }

  // The texts of the audit records written since the last call.
  std::vector<std::string> NewAuditTexts() {
    const std::string content = ReadFile(QOAudit_GetPath());
    std::vector<std::string> texts;
    size_t start = auditRead_;
    while (start < content.size()) {
      const size_t end = content.find(':', start);
      if (end == std::string::npos) break;
      std::string record = content.substr(start, end - start);
      // Drop the two time fields.
      for (int i = 0; i < 2; ++i) record.erase(record.rfind(','));
      texts.push_back(record);
      start = end + 1;
    }
    auditRead_ = start;
    return texts;
  }

  KeyMgr* mgr_ = nullptr;
  TempDir home_;
  size_t auditRead_ = 0;
};

}  // namespace qor::test
