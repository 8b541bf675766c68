// Whole-file read and write helpers kept with the download code, and the
// blank-text test.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "qor/key_download.h"
#include "common/regular_file.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

extern "C" {

int readFileData(const char* path, unsigned char** data, size_t* length) {
  struct stat st;
  if (path == nullptr || data == nullptr || length == nullptr || stat(path, &st) != 0 ||
      !S_ISREG(st.st_mode)) {
    return 1;
  }
  File file(qor::OpenRegularStream(path));
  if (file == nullptr) return 2;
  const auto size = static_cast<size_t>(st.st_size);
  auto* buffer = static_cast<unsigned char*>(std::malloc(size + 1));
  if (buffer == nullptr) return 3;
  if (std::fread(buffer, 1, size, file.get()) != size) {
    std::free(buffer);
    return 4;
  }
  buffer[size] = '\0';
  *data = buffer;
  *length = size;
  return 0;
}

int Packet_writeFile(const unsigned char* bytes, size_t size, const char* path) {
  if (path == nullptr || (bytes == nullptr && size > 0)) return 0;
  std::FILE* raw = std::fopen(path, "wb");
  if (raw == nullptr) return 0;
  const bool written = size == 0 || std::fwrite(bytes, 1, size, raw) == size;
  // A failed flush on close loses the data as surely as a short write.
  const bool closed = std::fclose(raw) == 0;
  return written && closed ? 1 : 0;
}

int isWhitespace(const char* text) {
  if (text == nullptr) return 1;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    if (*p > 32) return 0;
  }
  return 1;
}

}  // extern "C"
