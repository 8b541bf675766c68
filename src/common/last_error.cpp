#include "common/last_error.h"

#include <cstring>

ErrorInfo* qor::LastErrorRecord() {
  // Zero-filled at load time: no constructor runs, none is needed.
  static ErrorInfo record{};
  return &record;
}

void ErrorInfo_Set(int code, const char* text) {
  std::lock_guard lock(qor::ErrorLock());
  ErrorInfo* end = qor::ErrorChainEnd(qor::LastErrorRecord());
  qor::ErrorStoreCode(end, code);
  if (text == nullptr || text[0] == '\0') return;
  const size_t n = strnlen(text, QOR_ERROR_MESSAGE_SIZE - 1);
  if (n > 1) std::memcpy(end->message + 1, text + 1, n - 1);
  end->message[n] = '\0';
  qor::ErrorStoreLead(end, text[0]);
}

extern "C" {

QOR_API void QOR_ERR_Set(int code, const char* text) { ErrorInfo_Set(code, text); }

QOR_API int QOR_GetLastErrorCode(void) {
  std::lock_guard lock(qor::ErrorLock());
  return qor::ErrorChainEnd(qor::LastErrorRecord())->code;
}

QOR_API char* QOR_GetLastErrorMsg(void) {
  std::lock_guard lock(qor::ErrorLock());
  return qor::ErrorChainEnd(qor::LastErrorRecord())->message;
}

QOR_API int QOR_GetLastErrorMsgEx(char* buffer) {
  if (buffer == nullptr) return -1;
  std::lock_guard lock(qor::ErrorLock());
  const ErrorInfo* end = qor::ErrorChainEnd(qor::LastErrorRecord());
  if (end->message[0] == '\0') {
    std::memcpy(buffer, "OK", 3);
    return -1;
  }
  std::memcpy(buffer, end->message, strnlen(end->message, QOR_ERROR_MESSAGE_SIZE - 1) + 1);
  return 0;
}

}  // extern "C"
