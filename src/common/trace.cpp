#include "common/trace.h"

#include <atomic>

namespace qor::trace {
namespace {
std::atomic<EnabledFn> g_enabled{nullptr};
std::atomic<WriteFn> g_write{nullptr};
}  // namespace

void Install(EnabledFn enabled, WriteFn write) {
  g_write.store(write, std::memory_order_release);
  g_enabled.store(enabled, std::memory_order_release);
}

bool Enabled(int level) {
  const EnabledFn enabled = g_enabled.load(std::memory_order_acquire);
  return enabled != nullptr && enabled(level) != 0;
}

void Write(int level, const char* format, ...) {
  const WriteFn write = g_write.load(std::memory_order_acquire);
  if (write == nullptr) return;
  va_list args;
  va_start(args, format);
  write(level, format, args);
  va_end(args);
}

}  // namespace qor::trace
