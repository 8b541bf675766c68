// Log lines from the common utilities. The logger sits above this layer, so
// it installs itself here when a log opens; until then nothing is written.
// A unit defines kLogUnit as for QOR_LOG.
#pragma once

#include <cstdarg>

#include "common/log_level.h"

namespace qor::trace {

using EnabledFn = int (*)(int level);
using WriteFn = void (*)(int level, const char* format, va_list args);

// Called by the logger; both or neither.
void Install(EnabledFn enabled, WriteFn write);
bool Enabled(int level);
void Write(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace qor::trace

// Same line as QOR_LOG: "%s [%s:%d] >> " + message, one level test first.
#define QOR_TRACE(level, fmt, ...)                                                    \
  do {                                                                                \
    if (qor::trace::Enabled(level))                                                   \
      qor::trace::Write((level), "%s [%s:%d] >> " fmt, __func__, kLogUnit,            \
                        __LINE__ __VA_OPT__(, ) __VA_ARGS__);                         \
  } while (0)
