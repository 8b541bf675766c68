// Opening files and reading them line by line or whole.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/trace.h"
#include "qor/qoutil.h"

namespace {

constexpr char kLogUnit[] = "source/Common/FileStreamReader";
constexpr int kLineCapacity = 1024;

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

const char* ErrorText(int error, char* buffer, size_t size) {
  // GNU strerror_r may return a static text instead of filling |buffer|.
  return strerror_r(error, buffer, size);
}

File OpenForLines(const char* path) {
  return File(path != nullptr ? std::fopen(path, "r") : nullptr, &std::fclose);
}

const char* ShownPath(const char* path) { return path != nullptr ? path : "NULL"; }
int ShownLength(const char* path) {
  return path != nullptr ? static_cast<int>(std::strlen(path)) : 0;
}

}  // namespace

extern "C" {

QOR_API FILE* FileStream_Open(const char* path, const char* mode) {
  if (path == nullptr) {
    QOR_TRACE(qor::log::kCrit, "Invalid FileName [Null Pointer]\n");
    return nullptr;
  }
  if (mode == nullptr) mode = "r";
  FILE* file = std::fopen(path, mode);
  if (file == nullptr) {
    const int error = errno;
    char text[256];
    QOR_TRACE(qor::log::kDebug,
              "file open error [open mode:%s]\n\tcause : [%d]%s [filename:%s]\n", mode, error,
              ErrorText(error, text, sizeof(text)), path);
  }
  return file;
}

QOR_API int FileStreamReader_ReadLineEx(const char* path, FileStreamLineCallbackEx callback,
                                        void* userData, const char* key) {
  if (callback == nullptr) {
    QOR_TRACE(qor::log::kCrit, "CallBack Function ptr is null\n");
    return -1;
  }
  File file = OpenForLines(path);
  if (!file) {
    QOR_TRACE(qor::log::kCrit, "file open failed [file:%s, len:%d]\n", ShownPath(path),
              ShownLength(path));
    return -1;
  }
  char line[kLineCapacity];
  while (std::fgets(line, sizeof(line), file.get()) != nullptr) {
    if (char* cr = std::strstr(line, "\r\n"); cr != nullptr) {
      cr[0] = '\n';
      cr[1] = '\0';
    }
    callback(userData, kLineCapacity, line, key);
  }
  return 0;
}

QOR_API int FileStreamReader_ReadLine(const char* path, FileStreamLineCallback callback,
                                      void* context) {
  if (callback == nullptr) {
    QOR_TRACE(qor::log::kCrit, "CallBack Function ptr is null\n");
    return -1;
  }
  File file = OpenForLines(path);
  if (!file) {
    QOR_TRACE(qor::log::kCrit, "file open failed [file:%s, len:%d]\n", ShownPath(path),
              ShownLength(path));
    return -1;
  }
  char line[kLineCapacity];
  while (std::fgets(line, sizeof(line), file.get()) != nullptr) callback(context, line);
  return 0;
}

QOR_API int FileStreamReader_Read(const char* path, const char* mode, unsigned char** data,
                                  size_t* length) {
  if (data == nullptr || length == nullptr) {
    QOR_TRACE(qor::log::kCrit, "pOutData is NULL\n");
    return -1;
  }
  File file(path != nullptr ? std::fopen(path, mode != nullptr ? mode : "rb") : nullptr,
            &std::fclose);
  struct stat st {};
  if (!file || fstat(fileno(file.get()), &st) != 0) {
    QOR_TRACE(qor::log::kCrit, "file Open Failed [file:%s, len:%d]\n", ShownPath(path),
              ShownLength(path));
    return -1;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  // One spare byte keeps an empty file's buffer a real allocation.
  auto* buffer = static_cast<unsigned char*>(std::malloc(size + 1));
  if (buffer == nullptr) {
    QOR_TRACE(qor::log::kCrit, "Memory Allocation failed.[%s file read]\n", path);
    return -1;
  }
  if (std::fread(buffer, 1, size, file.get()) != size) {
    QOR_TRACE(qor::log::kCrit, "Reading error.[%s file read]\n", path);
    std::free(buffer);
    return -1;
  }
  *data = buffer;
  *length = size;
  return 0;
}

}  // extern "C"
