// The audit record of one value outcome, and the small exported helpers of
// the value service.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "qor/qoaudit.h"
#include "qor/qorcrypto.h"

namespace {

constexpr int kAuditLevel = 6;
constexpr int kEncrypt = 1;
constexpr int kDecrypt = 2;
constexpr int kSuccess = 1;
constexpr int kFailure = 0;

}  // namespace

extern "C" {

void Audit_Writer(const char* keyName, int operation, int outcome, const char* tag,
                  const int32_t* encryptFlags, const int32_t* decryptFlags) {
  const int32_t* flags = operation == kEncrypt   ? encryptFlags
                         : operation == kDecrypt ? decryptFlags
                                                 : nullptr;
  if (flags == nullptr || (outcome != kSuccess && outcome != kFailure)) return;
  // flags[0] audits successes, flags[1] failures.
  if (flags[outcome == kSuccess ? 0 : 1] != 1 || QOLog_Audit_IsEnable() == 0) return;

  const char direction = operation == kEncrypt ? 'E' : 'D';
  const char* name = keyName != nullptr ? keyName : "";
  char line[1024];
  if (outcome == kSuccess) {
    std::snprintf(line, sizeof(line), "%s,%c,S,S", name, direction);
  } else {
    // A failure without a classified cause leaves the tag field empty.
    std::snprintf(line, sizeof(line), "%s,%c,F,%s", name, direction, tag != nullptr ? tag : "");
  }
  lwl_audit_write(QOLog_Audit_GetHandle(), kAuditLevel, "%s", line);
}

int SetCipherText(int length, int kind, int binary, unsigned char** out) {
  if (out == nullptr || length < 0) return -1;
  int64_t size = static_cast<int64_t>(length) + (kind == 2 ? 20 : 16);
  if (binary == 0) size = size * 4 / 3 + 6;
  if (size > INT32_MAX) return -1;
  auto* buffer = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(size), 1));
  if (buffer == nullptr) return -1;
  *out = buffer;
  return 0;
}

int Compare_time2(int64_t t) {
  return t == 0 || t > static_cast<int64_t>(std::time(nullptr)) ? 1 : 0;
}

}  // extern "C"
