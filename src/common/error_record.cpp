#include "common/error_record.h"

#include <cstdarg>
#include <cstdio>
#include <atomic>
#include <cstring>

namespace qor {

std::mutex& ErrorLock() {
  // A function-local static: constructed on first use, never by a global constructor.
  static std::mutex lock;
  return lock;
}

namespace {

int LoadCode(ErrorInfo* record) {
  return std::atomic_ref<int32_t>(record->code).load(std::memory_order_relaxed);
}
char LoadLead(ErrorInfo* record) {
  return std::atomic_ref<char>(record->message[0]).load(std::memory_order_relaxed);
}

}  // namespace

void ErrorStoreCode(ErrorInfo* record, int code) {
  std::atomic_ref<int32_t>(record->code).store(code, std::memory_order_relaxed);
}

void ErrorStoreLead(ErrorInfo* record, char lead) {
  std::atomic_ref<char>(record->message[0]).store(lead, std::memory_order_relaxed);
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
  ErrorStoreCode(end, code);
  std::memset(end->message + 1, 0, sizeof(end->message) - 1);
  const size_t length = std::strlen(text);
  if (length > 1) std::memcpy(end->message + 1, text + 1, length - 1);
  ErrorStoreLead(end, text[0]);
}

void ErrorClearChain(ErrorInfo* record) {
  bool clear = true;
  for (ErrorInfo* r = record; r != nullptr && clear; r = r->next) {
    clear = LoadCode(r) == 0 && LoadLead(r) == '\0';
  }
  if (clear) return;
  std::lock_guard lock(ErrorLock());
  for (; record != nullptr; record = record->next) {
    if (LoadCode(record) != 0) ErrorStoreCode(record, 0);
    // The rest of the area never matters once its first byte is zero.
    if (LoadLead(record) != '\0') ErrorStoreLead(record, '\0');
  }
}

void ErrorSetChainCode(ErrorInfo* record, int code) {
  if (record == nullptr) return;
  if (LoadCode(ErrorChainEnd(record)) == code) return;
  std::lock_guard lock(ErrorLock());
  ErrorStoreCode(ErrorChainEnd(record), code);
}

}  // namespace qor
