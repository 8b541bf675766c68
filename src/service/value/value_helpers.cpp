// The small exported helpers of the value service: output buffer sizing and
// the time check.
#include <cstdlib>
#include <ctime>

#include "qor/value_pipeline.h"

extern "C" {

int SetCipherText(int length, int kind, int binary, unsigned char** out) {
  if (out == nullptr || length < 0) return -1;
  int64_t size = static_cast<int64_t>(length) + (kind == 2 ? 20 : 16);
  if (binary == 0) size = size * 4 / 3 + 6;
  if (size > INT32_MAX) return -1;
  auto* buffer = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(size), 1));
  if (buffer == nullptr) return -1;
  *out = buffer;
  return 0;
}

int Compare_time2(int64_t t) {
  return t == 0 || t > static_cast<int64_t>(std::time(nullptr)) ? 1 : 0;
}

}  // extern "C"
