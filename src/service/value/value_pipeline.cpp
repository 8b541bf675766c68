// One value through its policy: lookup, null and empty handling, record IV,
// the access-controlled operation, the policy's error handling, the audit
// record. Everything a call needs lives on its own stack.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/error_codes.h"
#include "common/error_record.h"
#include "common/free_bytes.h"
#include "common/value_format.h"
#include "engine/cipher/record_iv.h"
#include "engine/core/value_ops.h"
#include "log/log.h"
#include "qor/key_mgr.h"
#include "qor/qoaudit.h"
#include "qor/qostring.h"
#include "qor/qoutil.h"
#include "qor/value_pipeline.h"
#include "service/crypto/qor_crypto.h"

namespace {

constexpr char kLogUnit[] = "source/QORCrypto";

constexpr int kKeyUnusable = qor::err::kKeyUnusable;
constexpr int kRefused = qor::err::kRefused;
constexpr int kAlreadyEncrypted = qor::err::kAlreadyEncrypted;
constexpr int kNotEncrypted = qor::err::kNotEncrypted;
constexpr int kDuplicateRefused = qor::err::kDuplicateRefused;

// Result codes only the pipeline tells apart.
enum : int {
  kDone = 0,
  kPatternSkipped = qor::err::kCorePassThrough,
  // Set by the pipeline itself: decryption of an empty or null input.
  kNullDecrypt = 1111,
};

enum ErrorProcess : int { kReturnError = 1, kReturnNull = 2, kReturnInput = 3 };
enum : int { kEncrypt = 1, kDecrypt = 2, kFailure = 0, kSuccess = 1 };

// Room for the value being encrypted: a stack array up to kStackBytes, else
// the heap. Only the bytes after the value that padding reads are zeroed.
class WorkingCopy {
 public:
  static constexpr size_t kStackBytes = 512;
  bool Reserve(size_t size) {
    if (size > kStackBytes) {
      heap_.reset(static_cast<unsigned char*>(std::calloc(size, 1)));
      data_ = heap_.get();
      return data_ != nullptr;
    }
    std::memset(stack_ + size - qor::value::kPipelineSpare, 0, qor::value::kPipelineSpare);
    return true;
  }
  unsigned char* get() const { return data_; }

 private:
  unsigned char stack_[kStackBytes];
  std::unique_ptr<unsigned char, qor::FreeBytes> heap_;
  unsigned char* data_ = stack_;
};

// The per-call state: a cleared record in front of the caller's chain, the
// policy and its audit switches.
struct Call {
  ErrorInfo local;  // Begin clears it; zero-filling its 1 KiB would cost every call
  KeyInfo* info = nullptr;
  UACipherUtil* object = nullptr;
  int32_t audit[4] = {0, 0, 0, 0};

  void Audit(int operation, int outcome, const char* tag) const {
    Audit_Writer(info->name, operation, outcome, tag, audit, audit + 2);
  }
};

bool Begin(Call* call, int keyNameLength, const char* keyName, ErrorInfo* errorRecord,
           FindKeyInfoFn find, UpdateKeySetFn update) {
  // The record is on this call's stack: cleared by hand, so that clearing the
  // chain finds it clear and leaves the shared error lock alone.
  call->local.code = 0;
  call->local.message[0] = '\0';
  call->local.next = errorRecord;
  qor::ErrorClearChain(&call->local);
  call->info = GetPolicy(keyNameLength, keyName, find, update, &call->local);
  if (call->info == nullptr || call->info->cipher == nullptr) return false;
  call->object = call->info->cipher;
  call->object->GetAudit(&call->object, call->audit);
  return true;
}

bool HasValue(int length, const unsigned char* data) { return data != nullptr && length > 0; }

// How a message names a value: by its length and its policy. Its bytes never
// go into a message, a log line or an audit record: callers pass plaintext
// (also to decryption, when a column was never encrypted), and logs are read
// by people who may not see it.
constexpr int kShownNameMost = 128;
struct Shown {
  int length;
  int nameLength;
  const char* name;
};
Shown ShownValue(int length, const unsigned char* data, const KeyInfo* info) {
  const char* name = info != nullptr && info->name != nullptr ? info->name : "";
  const int nameLength = static_cast<int>(strnlen(name, kShownNameMost));
  return Shown{HasValue(length, data) ? length : 0, nameLength, name};
}

// The caller's value handed back as it came: a zero-terminated copy, or no
// data when there is none (or no memory for the copy).
DataBuffer CopyOfInput(int length, const unsigned char* data) {
  if (!HasValue(length, data)) return DataBuffer{0, nullptr};
  auto* copy = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (copy == nullptr) return DataBuffer{0, nullptr};
  std::memcpy(copy, data, static_cast<size_t>(length));
  copy[length] = 0;
  return DataBuffer{length, copy};
}

// Error 3031 for a value the policy could not process.
void ReportCheckFailed(const char* function, ErrorInfo* record, const Shown& shown) {
  qor::ErrorSet(record, qor::err::kCheckFailed, "key or data check(length %d, policy %.*s)",
                shown.length, shown.nameLength, shown.name);
  QOR_LOG_AS(function, qor::log::kCrit, "key or data check(length %d, policy %.*s)\n",
             shown.length, shown.nameLength, shown.name);
}

void Release(DataBuffer* out) {
  std::free(out->data);
  *out = DataBuffer{0, nullptr};
}

}  // namespace

extern "C" {

DataBuffer QORCrypto_Encrypt(int length, unsigned char* data, int keyNameLength,
                             const char* keyName, ErrorInfo* errorRecord, QOR_FindKeyInfoFn find,
                             QOR_UpdateKeySetFn update, const char* identity1,
                             const char* identity2, const char* identity3, int mode) {
  Call call;
  if (!Begin(&call, keyNameLength, keyName, errorRecord, find, update)) {
    return DataBuffer{-1, nullptr};
  }
  UACipherUtil* object = call.object;

  // A record-IV policy draws this value's IV here and hands it down with the value.
  uint32_t recordIv = 0;
  const uint32_t* drawn = nullptr;
  if (call.info->ivType == QOR_IV_RECORD) {
    if (!qor::engine::DrawRecordIvFor(&object, &recordIv)) {
      qor::ErrorSet(&call.local, qor::err::kCheckFailed, "UACipherUtil_SetRecordIV Failed");
      call.Audit(kEncrypt, kFailure, qor::err::kTagKey);
      return DataBuffer{-1, nullptr};
    }
    drawn = &recordIv;
  }

  // A length without data is a null value, never a read through a null pointer.
  const bool hasValue = HasValue(length, data);
  const size_t valueLength = hasValue ? static_cast<size_t>(length) : 0;
  // The value is padded in place, so it is worked on in a copy: on the stack
  // when it is short, which most column values are.
  WorkingCopy working;
  if (!working.Reserve(valueLength + qor::value::kPipelineSpare)) {
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
    qor::ErrorSet(&call.local, qor::err::kInternal, "Memory Allocation Failed.");
    return DataBuffer{-1, nullptr};
  }
  DataBuffer in{0, working.get()};
  if (hasValue) {
    std::memcpy(working.get(), data, valueLength);
    in.length = length;
  } else {
    const bool empty = (length == 0 && data != nullptr) || length == -1;
    const int nullProcess = object->Getnull_process(&object);
    if (nullProcess != 0 && object->GetCompatibility(&object) != 0) {
      in.length = 0;
    } else if (nullProcess != 0 || empty) {
      working.get()[0] = empty ? qor::value::kEmptyMarker : qor::value::kNullMarker;
      in.length = 1;
    } else {
      call.Audit(kEncrypt, kFailure, qor::err::kTagNull);
      return DataBuffer{-2, nullptr};
    }
  }

  DataBuffer out{0, nullptr};
  const int code = qor::engine::EncryptUnderAccess(&object, &in, &out, mode == qor::crypto::kText,
                                                   identity1, identity2, identity3, drawn);

  if (code == kDone) {
    call.Audit(kEncrypt, kSuccess, nullptr);
    return out;
  }
  const Shown shown = ShownValue(length, data, call.info);
  switch (code) {
    case kPatternSkipped:
    case kAlreadyEncrypted:
      Release(&out);
      call.Audit(kEncrypt, kFailure, nullptr);
      return CopyOfInput(length, data);
    case kDuplicateRefused:
      Release(&out);
      qor::ErrorSet(&call.local, kDuplicateRefused,
                    "This data is already encrypted. (length %d, policy %.*s)", shown.length,
                    shown.nameLength, shown.name);
      QOR_LOG(qor::log::kCrit, "This data is already encrypted. (length %d, policy %.*s)\n",
              shown.length, shown.nameLength, shown.name);
      call.Audit(kEncrypt, kFailure, qor::err::kTagDuplicate);
      return DataBuffer{-1, nullptr};
    case kRefused:
      // A pattern policy leaves its clear parts here even when refused.
      Release(&out);
      call.Audit(kEncrypt, kFailure, qor::err::kTagAccess);
      qor::ErrorSet(&call.local, qor::err::kCheckFailed, "Permission Denied Encrypt/Decrypt");
      return DataBuffer{-1, nullptr};
    default:
      break;
  }

  switch (object->Geterror_process(&object)) {
    case kReturnNull:
      Release(&out);
      return DataBuffer{-2, nullptr};
    case kReturnInput:
      Release(&out);
      return CopyOfInput(length, data);
    case kReturnError:
      Release(&out);
      if (code == kKeyUnusable) {
        qor::ErrorSet(&call.local, qor::err::kCheckFailed, "Failed to LifeCycle");
        QOR_LOG(qor::log::kCrit, "Failed to LifeCycle\n");
      } else {
        ReportCheckFailed(__func__, &call.local, shown);
      }
      return DataBuffer{-1, nullptr};
    default:
      return out;
  }
}

DataBuffer QORCrypto_Decrypt(int length, unsigned char* data, int keyNameLength,
                             const char* keyName, ErrorInfo* errorRecord, QOR_FindKeyInfoFn find,
                             QOR_UpdateKeySetFn update, QOR_AddKeyFn addKey,
                             const char* identity1, const char* identity2, const char* identity3,
                             int mode) {
  Call call;
  if (!Begin(&call, keyNameLength, keyName, errorRecord, find, update)) {
    return DataBuffer{-1, nullptr};
  }
  UACipherUtil* object = call.object;
  const int nullProcess = object->Getnull_process(&object);

  DataBuffer out{0, nullptr};
  int code = kNullDecrypt;
  if (!HasValue(length, data)) {
    if (nullProcess == 0) {
      call.Audit(kDecrypt, kSuccess, nullptr);
      return DataBuffer{-3, nullptr};
    }
    qor::ErrorSet(&call.local, qor::err::kCheckFailed, "Can not Decrypt NULL DATA");
    QOR_LOG(qor::log::kCrit, "Failed to NULL Decrypt\n");
  } else {
    DataBuffer in{length, data};
    code = qor::engine::DecryptUnderAccess(&object, &in, &out, mode == qor::crypto::kText, addKey,
                                           identity1, identity2, identity3);
    switch (code) {
      case kDone:
        call.Audit(kDecrypt, kSuccess, nullptr);
        return out;
      case kPatternSkipped:
      case kNotEncrypted:
        Release(&out);
        call.Audit(kDecrypt, kFailure, nullptr);
        return CopyOfInput(length, data);
      case kDuplicateRefused: {
        call.Audit(kDecrypt, kFailure, qor::err::kTagDuplicate);
        const Shown shown = ShownValue(length, data, call.info);
        qor::ErrorSet(&call.local, kDuplicateRefused,
                      "(length %d, policy %.*s) is not encrypted data.", shown.length,
                      shown.nameLength, shown.name);
        QOR_LOG(qor::log::kCrit, "(length %d, policy %.*s) is not encrypted data.\n",
                shown.length, shown.nameLength, shown.name);
        Release(&out);
        return DataBuffer{-1, nullptr};
      }
      case kRefused:
        call.Audit(kDecrypt, kFailure, qor::err::kTagAccess);
        if (object->GetUnauthorizedDecryption(&object) == 2) {
          qor::ErrorSet(&call.local, qor::err::kCheckFailed, "Permission Denied Encrypt/Decrypt");
          Release(&out);
          return DataBuffer{-1, nullptr};
        }
        // What access control gives a refused caller (masked text, the
        // ciphertext, nothing) is the answer.
        return out;
      default:
        break;
    }
  }

  Release(&out);
  DataBuffer result{0, nullptr};
  switch (object->Geterror_process(&object)) {
    case kReturnInput:
      result = CopyOfInput(length, data);
      break;
    case kReturnError:
      result.length = -1;
      if (code == kNullDecrypt) break;  // its error is set already
      if (code == kKeyUnusable) {
        qor::ErrorSet(&call.local, qor::err::kCheckFailed, "Failed to lifeCycle");
        QOR_LOG(qor::log::kCrit, "Failed to Decrypt\n");
      } else {
        // Text and binary inputs alike: the binary one is no longer shown in hex.
        ReportCheckFailed(__func__, &call.local, ShownValue(length, data, call.info));
      }
      break;
    default:
      break;
  }
  if (code != kKeyUnusable) call.Audit(kDecrypt, kFailure, Error_Spliter(code));
  return result;
}

}  // extern "C"
