#include "common/error_record.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace qor {

std::mutex& ErrorLock() {
  // A function-local static: constructed on first use, never by a global constructor.
  static std::mutex lock;
  return lock;
}

ErrorInfo* ErrorChainEnd(ErrorInfo* record) {
  while (record->next != nullptr) record = record->next;
  return record;
}

void ErrorSet(ErrorInfo* record, int code, const char* format, ...) {
  if (record == nullptr) return;
  char text[QOR_ERROR_MESSAGE_SIZE - 1];  // the size limit keeps 1022 characters
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  std::lock_guard lock(ErrorLock());
  ErrorInfo* end = ErrorChainEnd(record);
  end->code = code;
  std::memset(end->message, 0, sizeof(end->message));
  std::memcpy(end->message, text, std::strlen(text));
}

void ErrorClearChain(ErrorInfo* record) {
  std::lock_guard lock(ErrorLock());
  for (; record != nullptr; record = record->next) {
    record->code = 0;
    record->message[0] = '\0';  // the rest of the area never matters once this is zero
  }
}

}  // namespace qor
