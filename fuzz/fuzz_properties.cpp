// Any properties line is read without running off its buffer, and a value
// taken from it always fits the field it is meant for.
#include <cstdlib>
#include <cstring>
#include <string>

#include "qor/config.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > 1023) return 0;  // the reader hands out lines of at most 1023 characters
  std::string line(reinterpret_cast<const char*>(data), size);
  line.resize(strnlen(line.c_str(), size));
  char buffer[1024];
  memcpy(buffer, line.c_str(), line.size() + 1);
  char value[256] = {0};
  for (const char* key : {"QOR_HOME", "QOR_FIRST_PORT", "QOR_BYPASS"}) {
    ApiReadValue(value, sizeof(value), buffer, key);
    if (strnlen(value, sizeof(value)) == sizeof(value)) abort();
  }
  return 0;
}
