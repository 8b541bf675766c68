// Log levels (the syslog numbers) shared by every layer.
#pragma once

namespace qor::log {
enum Level : int { kCrit = 2, kError = 3, kInfo = 6, kDebug = 7 };
}  // namespace qor::log
