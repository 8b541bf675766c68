// Encryption in its four forms: binary or text, with or without access
// control. The value is padded in the caller's buffer (value::kSpareBytes), the
// head record encrypts, and the text forms encode straight into the result.
#include <cstdlib>

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

int EncryptWithHead(const Policy& policy, DataBuffer* in, DataBuffer* out,
                    const uint32_t* recordIv) {
  const CipherUtil* head = policy.head;
  if (in == nullptr || in->data == nullptr || in->length < 0 || head->algType >= QOR_ALG_COUNT) {
    return kFailed;
  }
  const int compatibility = policy.data->compatibility;
  // The adapter pads in place; the caller's length stays as it was.
  DataBuffer value{in->length, in->data};
  if (NeedsBlank(head, compatibility, policy.data->nullProcess)) value.data[value.length++] = qor::value::kBlank;

  const unsigned char* iv = head->iv;
  unsigned char callIv[16];
  if (HasTail(head)) {
    // This call's record IV lives on the stack, never in the shared record.
    uint32_t drawn = 0;
    if (recordIv != nullptr) {
      drawn = *recordIv;
    } else if (!TakePendingRecordIv(*policy.self, &drawn)) {
      drawn = DrawRecordIv();
    }
    MakeCallIv(head->iv, drawn, callIv);
    iv = callIv;
  }
  return EncryptFunctions[head->algType](&value, head->pEKey, iv, out, head->keyVersion,
                                         head->useRecordIV, compatibility);
}

namespace {

// Binary value into the text form: the digit string as it is, anything else
// Base64 ("$." first with compatibility 0) in one new buffer.
int ToText(const Policy& policy, DataBuffer* binary, DataBuffer* out) {
  if (policy.head->algType == QOR_ALG_FPE) {
    *out = *binary;
    *binary = DataBuffer{0, nullptr};
    return kDone;
  }
  char* text = nullptr;
  const int n = QOR_Base64Encode(binary->data, binary->length, &text, policy.data->compatibility);
  Reset(binary);
  if (n < 0) return kFailed;
  *out = DataBuffer{n, reinterpret_cast<unsigned char*>(text)};
  return kDone;
}

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
  DataBuffer binary{0, nullptr};
  const int result = EncryptWithHead(policy, in, &binary, recordIv);
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
