// Log-line macros used by every source unit. A unit defines
//   namespace { constexpr char kLogUnit[] = "source/QORCrypto"; }
// before using QOR_LOG. The level test happens before any formatting.
#pragma once

#include "common/log_level.h"
#include "qor/qolog.h"

namespace qor::log {
// Makes standard error the API log at |configuredLevel| (as for QOLog_Init);
// QOLog_GetPath() is then "". Returns 0.
int InitToStandardError(int configuredLevel);
}  // namespace qor::log

// "%s [%s:%d] >> " + message: failures and traces.
#define QOR_LOG(level, fmt, ...) QOR_LOG_AS(__func__, level, fmt __VA_OPT__(, ) __VA_ARGS__)

// The same line under a given function name, for code whose log lines keep
// the name of the C function it serves.
#define QOR_LOG_AS(function, level, fmt, ...)                                            \
  do {                                                                                   \
    if (QOLog_IsEnable(level))                                                           \
      lwl_write_log(QOLog_GetHandle(), (level), "%s [%s:%d] >> " fmt, (function), kLogUnit, \
                    __LINE__ __VA_OPT__(, ) __VA_ARGS__);                                \
  } while (0)

// The same line under a given function name and source unit, for shared
// helpers that serve several units (the adapter template, for one).
#define QOR_LOG_UNIT_AS(level, function, unit, fmt, ...)                                 \
  do {                                                                                  \
    if (QOLog_IsEnable(level))                                                          \
      lwl_write_log(QOLog_GetHandle(), (level), "%s [%s:%d] >> " fmt, (function), (unit), \
                    __LINE__ __VA_OPT__(, ) __VA_ARGS__);                               \
  } while (0)

// "%s >> " + message: results.
#define QOR_LOG_RESULT(level, fmt, ...) \
  QOR_LOG_RESULT_AS(__func__, level, fmt __VA_OPT__(, ) __VA_ARGS__)

#define QOR_LOG_RESULT_AS(function, level, fmt, ...)                                    \
  do {                                                                                  \
    if (QOLog_IsEnable(level))                                                          \
      lwl_write_log(QOLog_GetHandle(), (level), "%s >> " fmt, (function) __VA_OPT__(, ) \
                    __VA_ARGS__);                                                       \
  } while (0)
