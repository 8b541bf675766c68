// Encryption in its four forms: binary or text, with or without access
// control. The value is padded in the caller's buffer (value::kSpareBytes), the
// head record encrypts, and the text forms encode straight into the result.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "engine/core/core.h"
#include "engine/cipher/record_iv.h"
#include "log/log.h"
#include "qor/base64.h"

namespace {
constexpr char kLogUnit[] = "source/Crypto/UACipherUtil";
}  // namespace

namespace qor::engine {

namespace core {

namespace {

// The blank that tells the decrypt side to drop one trailing byte.
bool NeedsBlank(const CipherUtil* head, int compatibility, int nullProcess) {
  // Compatibility 3 appends it even to a digest's input.
  if (compatibility == 3) return true;
  return !head->oneWay && qor::value::WritesBlank(compatibility, nullProcess != 0);
}

}  // namespace

int RefuseUnusableHead(const Policy& policy) {
  if (policy.head->keyStatus != QOR_KEY_REVOKED) return 0;
  QOR_CORE_LOG(log::kCrit, policy, "This key is deactivate, it does not support encryption.[%d]\n",
               policy.head->firstTime);
  return kKeyUnusable;
}

namespace {

// What every form does before the cipher runs: the compatibility blank, then
// this call's IV (|recordIv|, see ValueCall) on the stack, never in the
// shared record. Not copyable: |iv| may point into |callIv|.
struct HeadRun {
  HeadRun() = default;
  HeadRun(const HeadRun&) = delete;
  HeadRun& operator=(const HeadRun&) = delete;

  DataBuffer value{0, nullptr};
  const unsigned char* iv = nullptr;
  unsigned char callIv[16];
};

bool PrepareHead(const Policy& policy, DataBuffer* in, const uint32_t* recordIv, HeadRun* run) {
  const CipherUtil* head = policy.head;
  if (in == nullptr || in->data == nullptr || in->length < 0 || head->algType >= QOR_ALG_COUNT) {
    return false;
  }
  const int compatibility = policy.data->compatibility;
  // The adapter pads in place; the caller's length stays as it was.
  run->value = DataBuffer{in->length, in->data};
  if (NeedsBlank(head, compatibility, policy.data->nullProcess)) {
    run->value.data[run->value.length++] = qor::value::kBlank;
  }
  run->iv = head->iv;
  if (HasTail(head)) {
    uint32_t drawn = 0;
    if (recordIv != nullptr) {
      drawn = *recordIv;
    } else if (!TakePendingRecordIv(*policy.self, &drawn)) {
      drawn = DrawRecordIv();
    }
    MakeCallIv(head->iv, drawn, run->callIv);
    run->iv = run->callIv;
  }
  return true;
}

int RunHead(const Policy& policy, HeadRun* run, DataBuffer* out) {
  const CipherUtil* head = policy.head;
  return EncryptFunctions[head->algType](&run->value, head->pEKey, run->iv, out, head->keyVersion,
                                         head->useRecordIV, policy.data->compatibility);
}

}  // namespace

int EncryptWithHead(const Policy& policy, DataBuffer* in, DataBuffer* out,
                    const uint32_t* recordIv) {
  HeadRun run;
  if (!PrepareHead(policy, in, recordIv, &run)) return kFailed;
  return RunHead(policy, &run, out);
}

namespace {

// The text form of |n| binary bytes in one new buffer: "$." first with
// compatibility 0, then Base64.
int EncodeText(const Policy& policy, const unsigned char* binary, int n, DataBuffer* out) {
  const bool prefix = policy.data->compatibility == 0;
  const int64_t chars = value::EncryptedTextLength(n, prefix);
  if (chars > INT_MAX - 1) return kFailed;
  char* text = static_cast<char*>(std::malloc(static_cast<size_t>(chars) + 1));
  if (text == nullptr) return kFailed;
  const int start = prefix ? value::kTextPrefixChars : 0;
  if (prefix) std::memcpy(text, value::kTextPrefix, value::kTextPrefixChars);
  if (QOR_Base64Encode_Buffer(binary, n, text + start) < 0) {
    std::free(text);
    return kFailed;
  }
  *out = DataBuffer{static_cast<int>(chars), reinterpret_cast<unsigned char*>(text)};
  return kDone;
}

// Binary value into the text form: the digit string as it is, anything else
// Base64 ("$." first with compatibility 0) in one new buffer.
int ToText(const Policy& policy, DataBuffer* binary, DataBuffer* out) {
  if (policy.head->algType == QOR_ALG_FPE) {
    *out = *binary;
    *binary = DataBuffer{0, nullptr};
    return kDone;
  }
  const int result = EncodeText(policy, binary->data, binary->length, out);
  Reset(binary);
  return result;
}

// Binary forms up to this long are built on the stack when the text form is
// wanted: the result is then the call's only allocation.
constexpr int kStackBinary = 1024;

int EncryptText(const Policy& policy, DataBuffer* in, DataBuffer* out, const uint32_t* recordIv) {
  const int encDuplication = policy.data->encDuplication;
  if ((encDuplication == 1 || encDuplication == 2) && in != nullptr &&
      isDoubleEncryptPrevention(policy.self, reinterpret_cast<const char*>(in->data), in->length,
                                0)) {
    DataBuffer probe{0, nullptr};
    const int decrypted = DecryptValue(policy.self, in, &probe, {.op = "D_from_B64", .text = true});
    Reset(&probe);
    if (decrypted == kDone) {
      if (encDuplication == 2) {
        *out = DataBuffer{0, nullptr};
        return kDuplicateRefused;
      }
      return CopyOut(in->data, in->length, out) == 0 ? kAlreadyEncrypted : kFailed;
    }
  }
  HeadRun run;
  if (!PrepareHead(policy, in, recordIv, &run)) return kFailed;
  const CipherUtil* head = policy.head;
  const auto into = algorithms::AlgorithmOf(head->algType).encryptInto;
  const int block = algorithms::AlgorithmOf(head->algType).blockBytes;
  if (into != nullptr && block > 0 &&
      value::EncryptedBinaryLength(run.value.length, block, false, HasPrefix(head), HasTail(head)) <=
          kStackBinary) {
    unsigned char binary[kStackBinary];
    const int n = into(&run.value, head->pEKey, run.iv, binary, head->keyVersion, head->useRecordIV);
    return n < 0 ? kFailed : EncodeText(policy, binary, n, out);
  }
  DataBuffer binary{0, nullptr};
  const int result = RunHead(policy, &run, &binary);
  if (result != kDone) {
    Reset(&binary);
    return result;
  }
  return ToText(policy, &binary, out);
}

}  // namespace
}  // namespace core

int EncryptValue(UACipherUtil** self, DataBuffer* in, DataBuffer* out, const ValueCall& call) {
  core::Policy policy;
  if (!core::Open(call.op, self, &policy) || out == nullptr) return core::kFailed;
  // A revoked head has no key schedule: nothing may be encrypted with it.
  if (const int refused = core::RefuseUnusableHead(policy)) return refused;
  if (call.access) {
    if (const int refused = core::CheckEncryptAccess(policy, out, call.identity1, call.identity2,
                                                     call.identity3)) {
      return refused;
    }
  }
  return call.text ? core::EncryptText(policy, in, out, call.recordIv)
                   : core::EncryptWithHead(policy, in, out, call.recordIv);
}

}  // namespace qor::engine
