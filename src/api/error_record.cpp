#include "api/error_record.h"

#include "api/error_codes.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace qor {
namespace {

// One lock for every record: the last error is process-wide, and a chain may
// end in it from any object.
std::mutex g_error_lock;

ErrorInfo* ChainEnd(ErrorInfo* record) {
  while (record->next != nullptr) record = record->next;
  return record;
}

}  // namespace

void ErrorSet(ErrorInfo* record, int code, const char* format, ...) {
  if (record == nullptr) return;
  char text[QOR_ERROR_MESSAGE_SIZE - 1];  // the size limit keeps 1022 characters
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  std::lock_guard lock(g_error_lock);
  ErrorInfo* end = ChainEnd(record);
  end->code = code;
  std::memset(end->message, 0, sizeof(end->message));
  std::memcpy(end->message, text, std::strlen(text));
}

void ErrorClearChain(ErrorInfo* record) {
  std::lock_guard lock(g_error_lock);
  for (; record != nullptr; record = record->next) {
    record->code = 0;
    record->message[0] = '\0';  // the rest of the area never matters once this is zero
  }
}

}  // namespace qor

void ErrorInfo_Set(int code, const char* text) {
  std::lock_guard lock(qor::g_error_lock);
  ErrorInfo* end = qor::ChainEnd(qor::LastErrorRecord());
  end->code = code;
  if (text == nullptr || text[0] == '\0') return;
  const size_t n = strnlen(text, QOR_ERROR_MESSAGE_SIZE - 1);
  std::memcpy(end->message, text, n);
  end->message[n] = '\0';
}

extern "C" {

QOR_API void QOR_ERR_Set(int code, const char* text) { ErrorInfo_Set(code, text); }

QOR_API int QOR_GetLastErrorCode(void) {
  std::lock_guard lock(qor::g_error_lock);
  return qor::ChainEnd(qor::LastErrorRecord())->code;
}

QOR_API char* QOR_GetLastErrorMsg(void) {
  std::lock_guard lock(qor::g_error_lock);
  return qor::ChainEnd(qor::LastErrorRecord())->message;
}

QOR_API int QOR_GetLastErrorMsgEx(char* buffer) {
  if (buffer == nullptr) return -1;
  std::lock_guard lock(qor::g_error_lock);
  const ErrorInfo* end = qor::ChainEnd(qor::LastErrorRecord());
  if (end->message[0] == '\0') {
    std::memcpy(buffer, "OK", 3);
    return -1;
  }
  std::memcpy(buffer, end->message, strnlen(end->message, QOR_ERROR_MESSAGE_SIZE - 1) + 1);
  return 0;
}

}  // extern "C"

const char* Error_Spliter(int code) {
  using namespace qor::err;
  if (code >= kDuplicateFirst && code <= kDuplicateLast) return kTagDuplicate;
  if (code == kCoreHeader) return kTagHeader;
  return kTagKey;
}
