// Exported members of the file-format family that the pipelines do not use:
// the Base64 header line, the digest header, the line scanner and the time
// stamps.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/error_codes.h"
#include "common/error_record.h"
#include "log/log.h"
#include "qor/base64.h"
#include "qor/nc_sha.h"
#include "qor/qorfile.h"

namespace {

constexpr char kLogUnit[] = "source/QOREncryptFile";

constexpr int kLineDigestInput = QOR_FILE_HEADER_LINE_SIZE + QOR_FILE_DIGEST_SIZE;  // 49
constexpr int kDigestHeaderLead = 12;  // "1.1" + eight digits + "T"

void InputsMissing(const char* function, ErrorInfo* errorRecord) {
  QOR_LOG_AS(function, qor::log::kDebug, "input-params are null\n");
  qor::ErrorSet(errorRecord, qor::err::kGeneral, "input-params are null");
}

// The Base64 text of the 17 header-line characters and their SHA-256 (caller
// frees), or null.
char* HeaderLineText(const char* function, ErrorInfo* errorRecord, int* length) {
  unsigned char raw[kLineDigestInput + 1];
  std::snprintf(reinterpret_cast<char*>(raw), sizeof(raw), "%s|%s[%s]|", "ULVEX", "TYPE", "LINE");
  NC_NewSha2(raw + QOR_FILE_HEADER_LINE_SIZE, raw, QOR_FILE_HEADER_LINE_SIZE);
  char* text = nullptr;
  *length = QOR_Base64Encode(raw, kLineDigestInput, &text, 0);
  if (*length <= 0 || text == nullptr) {
    std::free(text);
    QOR_LOG_AS(function, qor::log::kCrit, "EncodeBase64 failure\n");
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "EncodeBase64 failure");
    return nullptr;
  }
  return text;
}

void SeekFailed(const char* function, ErrorInfo* errorRecord) {
  QOR_LOG_AS(function, qor::log::kDebug, "The file-pointer dont't move start-point\n");
  qor::ErrorSet(errorRecord, qor::err::kGeneral, "The file-pointer dont't move start-point");
}

void WriteFailed(const char* function, ErrorInfo* errorRecord) {
  QOR_LOG_AS(function, qor::log::kDebug, "HeaderLine-Writing is failed\n");
  qor::ErrorSet(errorRecord, qor::err::kGeneral, "HeaderLine-Writing is failed");
}

bool IsTerminator(char c) { return c == '\r' || c == '\n'; }

}  // namespace

extern "C" {

int AddFileHeaderLine(FILE* stream, ErrorInfo* errorRecord) {
  if (stream == nullptr || errorRecord == nullptr) {
    if (errorRecord != nullptr) InputsMissing(__func__, errorRecord);
    return -1;
  }
  int length = 0;
  char* text = HeaderLineText(__func__, errorRecord, &length);
  if (text == nullptr) return -1;
  int result = 0;
  if (std::fseek(stream, 0, SEEK_SET) != 0) {
    SeekFailed(__func__, errorRecord);
    result = -1;
  } else if (std::fwrite(text, 1, static_cast<size_t>(length), stream) !=
             static_cast<size_t>(length)) {
    WriteFailed(__func__, errorRecord);
    result = -1;
  }
  std::free(text);
  return result;
}

int AddFileHeaderLineFD(int fileDescriptor, ErrorInfo* errorRecord) {
  if (fileDescriptor == 0 || errorRecord == nullptr) {
    if (errorRecord != nullptr) InputsMissing(__func__, errorRecord);
    return -1;
  }
  int length = 0;
  char* text = HeaderLineText(__func__, errorRecord, &length);
  if (text == nullptr) return -1;
  int result = 0;
  if (lseek(fileDescriptor, 0, SEEK_SET) != 0) {
    SeekFailed(__func__, errorRecord);
    result = -1;
  } else if (write(fileDescriptor, text, static_cast<size_t>(length)) != length) {
    WriteFailed(__func__, errorRecord);
    result = -1;
  }
  std::free(text);
  return result;
}

int GenerateFileHeader(const unsigned char* data, int length, ErrorInfo* errorRecord,
                       unsigned char* headerOut, int* headerLengthOut) {
  if (data == nullptr || length < 1 || headerOut == nullptr || headerLengthOut == nullptr) {
    InputsMissing(__func__, errorRecord);
    return -1;
  }
  char lead[kDigestHeaderLead + 1];
  std::snprintf(lead, sizeof(lead), "%s%08dT", "1.1", 204);
  std::memcpy(headerOut, lead, kDigestHeaderLead);
  NC_NewSha2(headerOut + kDigestHeaderLead, data, static_cast<size_t>(length));
  NC_NewSha2(headerOut + kDigestHeaderLead + QOR_FILE_DIGEST_SIZE, headerOut,
             kDigestHeaderLead + QOR_FILE_DIGEST_SIZE);
  *headerLengthOut = QOR_FILE_DIGEST_HEADER_SIZE;
  return 0;
}

int SetFileLineInfo(const char* start, const char* end, const unsigned char* terminatorBytes,
                    int terminatorCount, FileLineInfo* line) {
  if (line == nullptr) return -1;
  line->start = start;
  line->end = end;
  line->length = static_cast<int32_t>(end - start);
  line->terminator[0] = line->terminator[1] = 0;
  const int count = terminatorCount < 0 ? 0 : (terminatorCount > 2 ? 2 : terminatorCount);
  for (int i = 0; i < count && terminatorBytes != nullptr; ++i) {
    line->terminator[i] = terminatorBytes[i];
  }
  line->terminatorCount = count;
  line->status = line->length > 0 ? QOR_LINE_CONTENT : QOR_LINE_EMPTY;
  return line->status;
}

int FindFileLine(const char* buffer, FileLineInfo* line) {
  if (line == nullptr) return -1;
  const int length = buffer != nullptr && line->bufferLength > 0 ? line->bufferLength : 0;
  for (int i = 0; i < length; ++i) {
    if (!IsTerminator(buffer[i])) continue;
    unsigned char terminator[2] = {static_cast<unsigned char>(buffer[i]), 0};
    int count = 1;
    // A second CR or LF right after belongs to the same terminator.
    if (i + 1 < length && IsTerminator(buffer[i + 1])) {
      terminator[1] = static_cast<unsigned char>(buffer[i + 1]);
      count = 2;
    }
    return SetFileLineInfo(buffer, buffer + i, terminator, count, line);
  }
  SetFileLineInfo(buffer, buffer + length, nullptr, 0, line);
  line->status = QOR_LINE_INCOMPLETE;
  return line->status;
}

void GetCurrentLocalTime(char* text) {
  if (text == nullptr) return;
  const time_t now = std::time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char formatted[64];
  std::snprintf(formatted, sizeof(formatted), "%04d%02d%02d %02d%02d%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  std::memcpy(text, formatted, 15);
  text[15] = '\0';
}

int64_t GetCurrentLocalTime_time_t(void) { return static_cast<int64_t>(std::time(nullptr)); }

}  // extern "C"
