// Checks the shape of a whole policy record before it is parsed.
#include "agent/policy/record_check.h"

#include <cstdint>
#include <cstring>

#include "common/secure_wipe.h"
#include "qor/base64.h"
#include "qor/nc_sha.h"
#include "qor/policy.h"

namespace qor::agent {

namespace {

// As deep as the element reader goes.
constexpr uint32_t kMaxRecordDepth = 32;

struct Element {
  uint8_t tag = 0;
  const unsigned char* value = nullptr;
  size_t length = 0;
  size_t end = 0;  // offset just past the element within its buffer
};

// One element at |at| of |bytes| (|size| bytes); false when it does not fit.
bool ReadElement(const unsigned char* bytes, size_t size, size_t at, Element* out) {
  if (at >= size || size - at < 2 || size - at - 1 > UINT32_MAX) return false;
  uint32_t length = 0;
  const unsigned char* after =
      tlv_parseLength(&length, bytes + at + 1, static_cast<uint32_t>(size - at - 1));
  if (after == nullptr) return false;
  const auto start = static_cast<size_t>(after - bytes);
  if (start > size || size - start < length) return false;
  *out = Element{bytes[at], after, length, start + length};
  return true;
}

// True when every element of |bytes| lies within it, back to back to its
// end, and every constructed one is filled the same way by its children, down
// to the nesting the reader accepts. A damaged block inside a policy breaks
// this in nearly every place, where the reader would quietly drop the rest.
bool NestsExactly(const unsigned char* bytes, size_t size, uint32_t depth) {
  Element item;
  for (size_t at = 0; at < size; at = item.end) {
    if (!ReadElement(bytes, size, at, &item)) return false;
    if ((item.tag & BER_CONSTRUCTED) == 0) continue;
    if (depth + 1 > kMaxRecordDepth) return false;
    if (!NestsExactly(item.value, item.length, depth + 1)) return false;
  }
  return true;
}

}  // namespace

bool PolicyHashOf(const unsigned char* policies, size_t length,
                  char (&text)[kPolicyHashTextSize]) {
  NC_SHA512_CTX context;
  unsigned char digest[64];
  NC_E_SHA512_Init(&context);
  if (length > 0) NC_E_SHA512_Update(&context, policies, length);
  NC_E_SHA512_Final(&context, digest);
  char encoded[kPolicyHashTextSize + 4] = {};
  const int n = QOR_Base64Encode_Buffer(digest, sizeof(digest), encoded);
  SecureWipe(&context, sizeof(context));
  if (n != static_cast<int>(kPolicyHashTextSize)) return false;
  std::memcpy(text, encoded, kPolicyHashTextSize);
  return true;
}

RecordCheck CheckPolicyRecord(const unsigned char* record, size_t length) {
  Element outer;
  if (record == nullptr || !ReadElement(record, length, 0, &outer) ||
      outer.tag != BER_TAG_SEQUENCE || outer.end != length) {
    return RecordCheck::kNotARecord;
  }
  if (!NestsExactly(outer.value, outer.length, 1)) return RecordCheck::kNotARecord;
  // Depth 1: the constructed element that holds the policies; the hash
  // beside it is not ours to judge.
  Element item;
  bool policies = false;
  for (size_t at = 0; at < outer.length; at = item.end) {
    ReadElement(outer.value, outer.length, at, &item);
    if ((item.tag & BER_CONSTRUCTED) != 0) policies = true;
  }
  return policies ? RecordCheck::kOk : RecordCheck::kNoPolicies;
}

const char* RecordCheckText(RecordCheck check) {
  switch (check) {
    case RecordCheck::kOk:
      return "policy record verified";
    case RecordCheck::kNotARecord:
      return "the answer is not a policy record";
    case RecordCheck::kNoPolicies:
      return "the policy record holds no policy list";
  }
  return "the policy record is invalid";
}

}  // namespace qor::agent
