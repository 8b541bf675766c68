// Checks a whole policy record against the hash it carries.
#include "agent/policy/record_check.h"

#include <cstdint>
#include <cstring>

#include "common/secure_wipe.h"
#include "qor/base64.h"
#include "qor/policy.h"

namespace qor::agent {

namespace {

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

}  // namespace

PolicyHashStream::PolicyHashStream() { NC_E_SHA512_Init(&context_); }

PolicyHashStream::~PolicyHashStream() { SecureWipe(&context_, sizeof(context_)); }

void PolicyHashStream::Update(const unsigned char* bytes, size_t length) {
  if (length > 0) NC_E_SHA512_Update(&context_, bytes, length);
}

bool PolicyHashStream::Finish(char (&text)[kPolicyHashTextSize]) {
  unsigned char digest[64];
  NC_E_SHA512_Final(&context_, digest);
  char encoded[kPolicyHashTextSize + 4] = {};
  const int n = QOR_Base64Encode_Buffer(digest, sizeof(digest), encoded);
  if (n != static_cast<int>(kPolicyHashTextSize)) return false;
  std::memcpy(text, encoded, kPolicyHashTextSize);
  return true;
}

bool PolicyHashOf(const unsigned char* policies, size_t length,
                  char (&text)[kPolicyHashTextSize]) {
  PolicyHashStream hash;
  hash.Update(policies, length);
  return hash.Finish(text);
}

RecordCheck CheckPolicyRecord(const unsigned char* record, size_t length) {
  Element outer;
  if (record == nullptr || !ReadElement(record, length, 0, &outer) ||
      outer.tag != BER_TAG_SEQUENCE || outer.end != length) {
    return RecordCheck::kNotARecord;
  }
  // Depth 1: the hash (the last OCTET STRING counts, as for the reader) and
  // the constructed element that holds the policies.
  const Element* hash = nullptr;
  const Element* policies = nullptr;
  Element hashElement, policyElement, item;
  for (size_t at = 0; at < outer.length; at = item.end) {
    if (!ReadElement(outer.value, outer.length, at, &item)) return RecordCheck::kNotARecord;
    if (item.tag == BER_TAG_OCTET_STRING) {
      hashElement = item;
      hash = &hashElement;
    } else if ((item.tag & BER_CONSTRUCTED) != 0 && policies == nullptr) {
      policyElement = item;
      policies = &policyElement;
    }
  }
  if (hash == nullptr || policies == nullptr || hash->length != kPolicyHashTextSize) {
    return RecordCheck::kNoHash;
  }
  char expected[kPolicyHashTextSize];
  if (!PolicyHashOf(policies->value, policies->length, expected)) return RecordCheck::kNoHash;
  return std::memcmp(expected, hash->value, kPolicyHashTextSize) == 0 ? RecordCheck::kOk
                                                                      : RecordCheck::kHashMismatch;
}

const char* RecordCheckText(RecordCheck check) {
  switch (check) {
    case RecordCheck::kOk:
      return "policy record verified";
    case RecordCheck::kNotARecord:
      return "the answer is not a policy record";
    case RecordCheck::kNoHash:
      return "the policy record carries no policy hash";
    case RecordCheck::kHashMismatch:
      return "the policy record does not match its policy hash";
  }
  return "the policy record is invalid";
}

}  // namespace qor::agent
