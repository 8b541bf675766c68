// Pieces every value operation shares: opening the policy, copies into
// caller-owned outputs, the access checks and decoding text into working bytes.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "engine/core/core.h"
#include "log/log.h"
#include "qor/base64.h"

namespace {
constexpr char kLogUnit[] = "source/Crypto/UACipherUtil";
}  // namespace

namespace qor::engine::core {

bool Open(const char* op, UACipherUtil** self, Policy* policy) {
  policy->op = op;
  // A fetch of a missing key version may publish a new head meanwhile (a
  // release store; version walks take no lock): read it once, acquiring.
  CipherUtil* head = nullptr;
  if (self != nullptr && *self != nullptr && (*self)->data != nullptr) {
    head = std::atomic_ref<CipherUtil*>((*self)->data->ciphers).load(std::memory_order_acquire);
  }
  if (head == nullptr) {
    QOR_CORE_LOG(log::kCrit, *policy, "Null Pointer Exception\n");
    return false;
  }
  policy->self = self;
  policy->data = (*self)->data;
  policy->head = head;
  return true;
}

int CopyOut(const unsigned char* bytes, int length, DataBuffer* out) {
  if (length <= 0) {
    *out = DataBuffer{0, nullptr};
    return 0;
  }
  auto* copy = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (copy == nullptr) return -1;
  std::memcpy(copy, bytes, static_cast<size_t>(length));
  copy[length] = 0;
  *out = DataBuffer{length, copy};
  return 0;
}

int CheckEncryptAccess(const Policy& policy, DataBuffer* out, const char* identity1,
                       const char* identity2, const char* identity3) {
  if (policy.data->aclCount <= 0) return 0;
  if (checkACL(policy.self, identity1, identity2, identity3, QOR_ACL_ENCRYPT) == 0) {
    QOR_CORE_LOG(log::kCrit, policy, "Permission Denied Encrypt\n");
    *out = DataBuffer{0, nullptr};
    return kRefused;
  }
  QOR_CORE_LOG(log::kDebug, policy, "Sucess to chck ACL\n");
  return 0;
}

int CheckDecryptAccess(const Policy& policy, const DataBuffer* in, DataBuffer* out,
                       const char* identity1, const char* identity2, const char* identity3) {
  if (policy.data->aclCount <= 0) return 0;
  if (checkACL(policy.self, identity1, identity2, identity3, QOR_ACL_DECRYPT) != 0) {
    QOR_CORE_LOG(log::kDebug, policy, "Sucess to chck ACL\n");
    return 0;
  }
  static constexpr char kMasked[] = "******";
  static constexpr char kNoPermission[] = "No Permission";
  int copied = 0;
  switch (policy.data->unauthorizedDecryption) {
    case 1:
      *out = DataBuffer{-2, nullptr};
      break;
    case 2:
      QOR_CORE_LOG(log::kCrit, policy, "Permission Denied Decrypt\n");
      *out = DataBuffer{-1, nullptr};
      break;
    case 3:
      copied = CopyOut(in->data, in->length, out);
      break;
    case 4:
      copied = CopyOut(reinterpret_cast<const unsigned char*>(kMasked), sizeof(kMasked) - 1, out);
      break;
    case 5:
      copied = CopyOut(reinterpret_cast<const unsigned char*>(kNoPermission),
                       sizeof(kNoPermission) - 1, out);
      break;
    default:
      break;  // the output stays as the caller left it
  }
  return copied == 0 ? kRefused : kFailed;
}

int ApplyDecryptDuplication(const Policy& policy, const DataBuffer* in, DataBuffer* out,
                            int result) {
  if (result >= 0) return result;
  switch (policy.data->decDuplication) {
    case 1:
      Reset(out);
      return CopyOut(in->data, in->length, out) == 0 ? kNotEncrypted : kFailed;
    case 2:
      Reset(out, -1);
      return kDuplicateRefused;
    default:
      return result;
  }
}

int WorkingBytes::Decode(const char* text, int length, int compatibility) {
  int body = length;
  if (compatibility == 0) {
    // The two prefix characters are skipped unread, as the strict decoder does.
    body = length - value::kTextPrefixChars;
    if (body <= 2) return 0;
    text += value::kTextPrefixChars;
  } else if (body <= 0) {
    return 0;
  }
  if (text == nullptr || body % 4 != 0) return -1;
  const int room = body / 4 * 3 + 1;
  if (room > static_cast<int>(sizeof(small_))) {
    heap_ = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(room)));
    if (heap_ == nullptr) return -1;
    data_ = heap_;
  }
  return QOR_Base64Decode_Buffer(text, body, data_, room);
}

}  // namespace qor::engine::core
