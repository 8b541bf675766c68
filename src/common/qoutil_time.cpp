// Clock, release and the plain test-log appender.
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "qor/qoutil.h"

extern "C" {

QOR_API int64_t QOUtil_currentTimeMillis(void) {
  timeval now{};
  gettimeofday(&now, nullptr);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_usec / 1000;
}

QOR_API void QOUtil_Free(void* p) { std::free(p); }

QOR_API int QOUtil_TestLog(const char* path, const char* text) {
  if (path == nullptr) return -1;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "a"), &std::fclose);
  if (!file) return -1;
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  const int written = std::fprintf(file.get(), "%04d-%02d-%02d %02d:%02d:%02d >>> %s\n",
                                   local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                   local.tm_hour, local.tm_min, local.tm_sec,
                                   text != nullptr ? text : "null data");
  return written < 0 ? -1 : 0;
}

}  // extern "C"
