// Decryption in its four forms. A value is [version prefix] ciphertext
// [record-IV tail]; the prefix picks the key version, the tail completes this
// call's copy of the IV. Nothing shared is written.
#include <cstring>

#include "engine/core/core.h"
#include "log/log.h"

namespace {
constexpr char kLogUnit[] = "source/Crypto/UACipherUtil";
}  // namespace

namespace qor::engine {

namespace core {

namespace {

// Decrypts under |record| the value |bytes| (|n| bytes, past any prefix);
// |tail| is the record-IV tail already cut off, or none.
int DecryptUnder(const Policy& policy, CipherUtil* record, const unsigned char* bytes, int n,
                 const unsigned char* tail, int length, DataBuffer* out, int nullProcess,
                 const DecryptRules& rules, bool* adapterRan) {
  if (rules.tailBySelected && HasTail(record) && n > value::kTailBytes) {
    n -= value::kTailBytes;
    tail = bytes + n;
  } else if (rules.tailBySelected && HasTail(record)) {
    n = 0;
  }
  if (n < 1) {
    QOR_CORE_LOG(log::kCrit, policy, "Encrypted data is too short [data length:%d]\n", length);
    return kFailed;
  }
  if (record->algType >= QOR_ALG_COUNT) return kFailed;

  const unsigned char* iv = record->iv;
  unsigned char callIv[16];
  if (tail != nullptr) {
    // The IV the value was encrypted with: the version's IV under its tail.
    std::memcpy(callIv, record->iv, sizeof(callIv));
    std::memcpy(callIv, tail, value::kTailBytes);
    iv = callIv;
  }
  *adapterRan = true;
  DataBuffer ciphertext{n, const_cast<unsigned char*>(bytes)};
  return DecryptFunctions[record->algType](&ciphertext, record->pDKey, iv, out, nullProcess,
                                           policy.data->compatibility);
}

}  // namespace

int DecryptWorking(const Policy& policy, const unsigned char* bytes, int length, DataBuffer* out,
                   int nullProcess, const DecryptRules& rules, bool* adapterRan) {
  *adapterRan = false;
  const unsigned char* tail = nullptr;
  int n = length;
  // A value too short for its own layout is refused before anything is read.
  if (!rules.tailBySelected && HasTail(policy.head)) {
    if (n < value::kTailBytes + 1) {
      QOR_CORE_LOG(log::kCrit, policy, "Encrypted data is too short [data length:%d]\n", length);
      return kFailed;
    }
    n -= value::kTailBytes;
    tail = bytes + n;
  }
  if (!HasPrefix(policy.head)) {
    return DecryptUnder(policy, policy.head, bytes, n, tail, length, out, nullProcess, rules,
                        adapterRan);
  }
  // Version 0 writes no prefix: a value without the marker was stored before
  // the first rotation and stays readable while the policy holds version 0.
  CipherUtil* versionZero = HeldKeyVersion(policy, 0);
  const bool marked = n >= value::kPrefixBytes && bytes[value::kVersionMarkerAt] == value::kVersionMarker;
  if (!marked && versionZero != nullptr) {
    return DecryptUnder(policy, versionZero, bytes, n, tail, length, out, nullProcess, rules,
                        adapterRan);
  }
  // Checked before the lookup: a malformed value must not cost a fetch.
  const int tailAfter = rules.tailBySelected && HasTail(policy.head) ? value::kTailBytes : 0;
  if (n < value::kPrefixBytes + tailAfter + 1) {
    QOR_CORE_LOG(log::kCrit, policy, "Encrypted data is too short [data length:%d]\n", length);
    return kFailed;
  }
  const int version = (bytes[0] << 8) | bytes[1];
  CipherUtil* record = policy.head;
  const Lookup found = FindKeyVersion(policy, version, rules.fetch, &record);
  if (found == Lookup::kFound) {
    const int result = DecryptUnder(policy, record, bytes + value::kPrefixBytes, n - value::kPrefixBytes, tail,
                                    length, out, nullProcess, rules, adapterRan);
    if (result == 0 || versionZero == nullptr) return result;
    // One version-0 value in 256 starts like a prefix: read it as one.
    DataBuffer second{0, nullptr};
    bool ran = false;
    if (DecryptUnder(policy, versionZero, bytes, n, tail, length, &second, nullProcess, rules,
                     &ran) != 0) {
      Reset(&second);
      return result;
    }
    Reset(out);
    *out = second;
    return 0;
  }
  if (versionZero != nullptr && found == Lookup::kUnknown) {
    return DecryptUnder(policy, versionZero, bytes, n, tail, length, out, nullProcess, rules,
                        adapterRan);
  }
  if (found == Lookup::kUnknown && !rules.unknownIsUnusable) return kUnknownVersion;
  QOR_CORE_LOG(log::kCrit, policy, "This key has been revoked and does not support encryption.\n");
  return kKeyUnusable;
}

namespace {

bool Empty(const Policy& policy, const DataBuffer* in) {
  if (in != nullptr && in->data != nullptr && in->length > 0) return false;
  QOR_CORE_LOG(log::kCrit, policy, "Encrypted Data is Empty or Null\n");
  return true;
}

// Text value: digit strings are their own working bytes, anything else is
// Base64 of the binary value.
int DecryptText(const Policy& policy, DataBuffer* in, DataBuffer* out, int nullProcess,
                const DecryptRules& rules) {
  WorkingBytes work;
  const unsigned char* bytes = in->data;
  int n = in->length;
  if (policy.head->algType != QOR_ALG_FPE) {
    n = work.Decode(reinterpret_cast<const char*>(in->data), in->length,
                    policy.data->compatibility);
    if (n < 1) {
      QOR_CORE_LOG(log::kCrit, policy, "QOR_Base64Decode Failed [data length:%d]\n", n);
      return kFailed;
    }
    bytes = work.data();
  }
  bool adapterRan = false;
  int result = DecryptWorking(policy, bytes, n, out, nullProcess, rules, &adapterRan);
  if (adapterRan) result = ApplyDecryptDuplication(policy, in, out, result);
  CollapseZeroByte(out);
  return result;
}

int DecryptBinary(const Policy& policy, DataBuffer* in, DataBuffer* out, int nullProcess,
                  const DecryptRules& rules) {
  bool adapterRan = false;
  int result = DecryptWorking(policy, in->data, in->length, out, nullProcess, rules, &adapterRan);
  if (adapterRan) result = ApplyDecryptDuplication(policy, in, out, result);
  CollapseZeroByte(out);
  return result;
}

int RefuseOneWayBinary(const Policy& policy) {
  if (!IsOneWayBinary(policy.head->algType)) return 0;
  QOR_CORE_LOG(log::kCrit, policy, "It does not support the decryption algorithm\n");
  return kFailed;
}

}  // namespace
}  // namespace core

int DecryptValue(UACipherUtil** self, DataBuffer* in, DataBuffer* out, const ValueCall& call) {
  core::Policy policy;
  if (!core::Open(call.op, self, &policy) || out == nullptr || core::Empty(policy, in))
    return core::kFailed;
  if (call.access) {
    if (const int refused = core::CheckDecryptAccess(policy, in, out, call.identity1,
                                                     call.identity2, call.identity3)) {
      return refused;
    }
  } else if (call.text) {
    // Without access control the text form first asks whether the input is
    // this policy's output at all.
    const int decDuplication = policy.data->decDuplication;
    if ((decDuplication == 1 || decDuplication == 2) &&
        !isDoubleEncryptPrevention(self, reinterpret_cast<const char*>(in->data), in->length, 0)) {
      if (decDuplication == 2) {
        *out = DataBuffer{-1, nullptr};
        return core::kDuplicateRefused;
      }
      return core::CopyOut(in->data, in->length, out) == 0 ? core::kNotEncrypted : core::kFailed;
    }
  }
  const int nullProcess = policy.data->nullProcess;
  core::DecryptRules rules;
  rules.fetch = call.fetch;
  if (call.text) {
    if (core::IsOneWayText(policy.head->algType)) {
      return core::CopyOut(in->data, in->length, out) == 0 ? core::kOneWay : core::kFailed;
    }
    return core::DecryptText(policy, in, out, nullProcess, rules);
  }
  if (const int refused = core::RefuseOneWayBinary(policy)) return refused;
  // The binary form answers an unknown key version with 2100, not 1; with
  // access control the selected record says whether a tail follows.
  rules.unknownIsUnusable = true;
  rules.tailBySelected = call.access;
  return core::DecryptBinary(policy, in, out, nullProcess, rules);
}

}  // namespace qor::engine
