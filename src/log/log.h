// Log-line macros used by every source unit. A unit defines
//   namespace { constexpr char kLogUnit[] = "source/QORCrypto"; }
// before using QOR_LOG. The level test happens before any formatting.
#pragma once

#include "qor/qolog.h"

namespace qor::log {
enum Level : int { kCrit = 2, kError = 3, kInfo = 6, kDebug = 7 };
}  // namespace qor::log

// "%s [%s:%d] >> " + message: failures and traces.
#define QOR_LOG(level, fmt, ...)                                                        \
  do {                                                                                  \
    if (QOLog_IsEnable(level))                                                          \
      lwl_write_log(QOLog_GetHandle(), (level), "%s [%s:%d] >> " fmt, __func__, kLogUnit, \
                    __LINE__ __VA_OPT__(, ) __VA_ARGS__);                               \
  } while (0)

// "%s >> " + message: results.
#define QOR_LOG_RESULT(level, fmt, ...)                                               \
  do {                                                                                \
    if (QOLog_IsEnable(level))                                                        \
      lwl_write_log(QOLog_GetHandle(), (level), "%s >> " fmt, __func__ __VA_OPT__(, ) \
                    __VA_ARGS__);                                                     \
  } while (0)
