// QOR_LOG for helpers that work on behalf of an exported function: the line
// names that function (|func|) and the source unit (|unit|), not the helper.
#pragma once

#include "log/log.h"

#define QOR_LOG_AS(level, func, unit, fmt, ...)                                       \
  do {                                                                                \
    if (QOLog_IsEnable(level))                                                        \
      lwl_write_log(QOLog_GetHandle(), (level), "%s [%s:%d] >> " fmt, (func), (unit), \
                    __LINE__ __VA_OPT__(, ) __VA_ARGS__);                             \
  } while (0)
