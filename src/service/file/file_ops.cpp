// The file operations the file pipelines are built from: opening the source
// and its header, creating the target under the target-exists rule, writing
// while feeding a digest, the duplicate check, rollback, renames and copies.
#include "service/file/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "common/error_codes.h"
#include "common/error_record.h"
#include "log/log.h"
#include "qor/nc_sha.h"
#include "qor/qorfile.h"
#include "qor/qoutil.h"
#include "qor/ua_cipher_util.h"
#include "service/file/file_layout.h"

namespace {

constexpr char kLogUnit[] = "source/QOREncryptFile";
constexpr size_t kCopyPiece = 1024;
constexpr int kMaxRenameTries = 1000;

bool Exists(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

// Creates every missing directory on the way to |directory|.
bool MakeDirectories(const std::string& directory) {
  struct stat st;
  if (directory.empty() || stat(directory.c_str(), &st) == 0) return true;
  for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    const std::string part = directory.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      if (slash == std::string::npos) {
        QOR_LOG_AS("InitWriteFile", qor::log::kError, "make dir Fail %s\n", part.c_str());
      }
      return false;
    }
    if (slash == std::string::npos) return true;
  }
}

FILE* OpenNew(const char* path, bool exclusive) {
  if (!exclusive) return std::fopen(path, "wb+");
  // A file only this run may have made (a swap file, a dated output): never
  // reuse one that exists.
  const int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, "wb+");
  if (f == nullptr) close(fd);
  return f;
}

int OverwriteFailed(ErrorInfo* errorRecord, const char* path) {
  QOR_LOG_AS("InitWriteFile", qor::log::kError, "Failed to OverWrite target : %s\n", path);
  qor::ErrorSet(errorRecord, qor::err::kGeneral, "Failed to OverWrite target : %s", path);
  return -1;
}

// The copy half of the duplicate check: 0 copied (or nothing to copy to), -1 failed.
int CopyToTarget(const char* sourcePath, const char* targetPath, int targetExist,
                 ErrorInfo* errorRecord) {
  if (targetPath == nullptr) return 0;
  if (QOUtil_Copy(sourcePath, targetPath, targetExist) == 1) return 0;
  QOR_LOG_AS("VerifyDuplication", qor::log::kError, "source file backup failed : %s\n",
             targetPath);
  qor::ErrorSet(errorRecord, qor::err::kGeneral, "source file backup failed : %s", targetPath);
  return -1;
}

}  // namespace

namespace qor::file {

std::string DatedName(const char* path) {
  const time_t now = std::time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char date[16];
  std::strftime(date, sizeof(date), "%Y%m%d", &local);
  return std::string(path) + date;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncDirectory(const std::string& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

int OpenTarget(const char* path, ErrorInfo* errorRecord, FILE** fileOut, int targetExist,
               bool inPlace, std::string* opened) {
  if (path == nullptr || fileOut == nullptr) return -1;
  *fileOut = nullptr;
  const std::string target = path;
  const size_t slash = target.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(target.substr(0, slash))) {
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "make dir Fail %s",
                  target.substr(0, slash).c_str());
    return -1;
  }

  if (!Exists(path)) {
    *fileOut = OpenNew(path, inPlace);
    if (*fileOut != nullptr) {
      *opened = target;
      return 0;
    }
    // Another run's swap file appeared in between: the same as finding it.
    if (!(inPlace && errno == EEXIST)) {
      QOR_LOG_AS("InitWriteFile", qor::log::kError, "Failed to Open : %s\n", path);
      qor::ErrorSet(errorRecord, qor::err::kGeneral, "Failed to Open : %s", path);
      return -1;
    }
  }

  switch (targetExist) {
    case QOR_TARGET_BYPASS:
      QOR_LOG_AS("InitWriteFile", qor::log::kError, "The Target file is Exist : %s\n", path);
      return 1;
    case QOR_TARGET_OVERWRITE:
      if (inPlace) {
        QOR_LOG_AS("InitWriteFile", qor::log::kDebug, "%s is Exit\n", path);
        return 1;
      }
      *fileOut = std::fopen(path, "wb+");
      if (*fileOut == nullptr) return OverwriteFailed(errorRecord, path);
      *opened = target;
      return 0;
    case QOR_TARGET_RENAME: {
      // An earlier run of the same day may have written the dated name, and
      // its source is gone: it is never emptied. The next free "<dated>.N"
      // takes the output instead.
      const std::string dated = DatedName(path);
      for (int n = 0; n < kMaxRenameTries; ++n) {
        const std::string candidate = n == 0 ? dated : dated + "." + std::to_string(n);
        *fileOut = OpenNew(candidate.c_str(), true);
        if (*fileOut != nullptr) {
          *opened = candidate;
          return 0;
        }
        if (errno != EEXIST) return OverwriteFailed(errorRecord, candidate.c_str());
      }
      return OverwriteFailed(errorRecord, dated.c_str());
    }
    default:
      return OverwriteFailed(errorRecord, path);
  }
}

}  // namespace qor::file

extern "C" {

int InitReadFile(const char* path, ErrorInfo* errorRecord, FILE** fileOut,
                 unsigned char* ivBlockOut, FileResult* result) {
  if (fileOut == nullptr) return -1;
  *fileOut = path != nullptr ? std::fopen(path, "rb") : nullptr;
  if (*fileOut == nullptr) {
    QOR_LOG(qor::log::kError, "The read file not open : %s\n", path != nullptr ? path : "");
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "The read file not open : %s",
                  path != nullptr ? path : "");
    return -1;
  }
  if (ivBlockOut == nullptr) return 0;

  unsigned char header[QOR_FILE_HEADER_MAX];
  if (std::fread(header, 1, sizeof(header), *fileOut) != sizeof(header)) {
    // Too short to hold a header: nothing here can be decrypted.
    QOR_LOG(qor::log::kError, "Fail to Read FileHeader\n");
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "Fail to Read FileHeader");
    std::fclose(*fileOut);
    *fileOut = nullptr;
    return -1;
  }
  const qor::file::Layout layout = qor::file::LayoutOf(header);
  if (result != nullptr) {
    result->time = static_cast<int64_t>(qor::file::LoadBigEndian64(header + qor::file::kTimeOffset));
    if (layout.hasVersion) {
      result->keyVersion = static_cast<uint16_t>((header[qor::file::kVersionOffset] << 8) |
                                                 header[qor::file::kVersionOffset + 1]);
    }
  }
  std::memcpy(ivBlockOut, header + layout.ivBlock, QOR_FILE_IV_BLOCK_SIZE);
  return header[qor::file::kTypeOffset];
}

int InitWriteFile(const char* path, ErrorInfo* errorRecord, FILE** fileOut, int targetExist,
                  int inPlace) {
  std::string opened;
  return qor::file::OpenTarget(path, errorRecord, fileOut, targetExist, inPlace != 0, &opened);
}

int WriteDataFile(const unsigned char* buffer, int length, FILE* stream, ErrorInfo* errorRecord,
                  NC_NEWSHA2_CTX* digest) {
  const size_t n = length > 0 ? static_cast<size_t>(length) : 0;
  if (stream == nullptr || (n > 0 && buffer == nullptr) ||
      std::fwrite(buffer, 1, n, stream) != n) {
    QOR_LOG(qor::log::kCrit, "Target file write failure\n");
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "Target file write failure ");
    return -1;
  }
  if (digest != nullptr && n > 0) NC_NewSha2_Update(digest, buffer, n);
  return length;
}

int VerifyDuplication(int type, const char* sourcePath, const char* targetPath, int targetExist,
                      ErrorInfo* errorRecord) {
  switch (type) {
    case 0:
      return 1;
    case 1:
      if (QORCrypto_IsEnc_API_File(sourcePath) != 0) return 1;
      return CopyToTarget(sourcePath, targetPath, targetExist, errorRecord);
    case 2:
      if (QORCrypto_IsEnc_API_File(sourcePath) != 0) return 1;
      QOR_LOG(qor::log::kError, "The source file is encrypted : %s\n", sourcePath);
      qor::ErrorSet(errorRecord, qor::err::kGeneral, "The source file is encrypted : %s",
                    sourcePath);
      return -1;
    case 3: {
      const int test = QORCrypto_IsEnc_API_File(sourcePath);
      if (test != 1) return test;
      if (targetPath == nullptr) return 1;
      return CopyToTarget(sourcePath, targetPath, targetExist, errorRecord) == 0 ? 1 : -1;
    }
    case 4: {
      const int test = QORCrypto_IsEnc_API_File(sourcePath);
      if (test != 1) return test;
      QOR_LOG(qor::log::kError, "The source file is plaintext : %s\n", sourcePath);
      qor::ErrorSet(errorRecord, qor::err::kGeneral, "The source file is plaintext : %s",
                    sourcePath);
      return -1;
    }
    default:
      QOR_LOG(qor::log::kError, "Invalid DPType was input\n");
      qor::ErrorSet(errorRecord, qor::err::kGeneral, "Invalid DPType was input");
      return -1;
  }
}

int RollbackForStep(int step, const char* sourcePath, const char* targetPath,
                    const char* backupPath, ErrorInfo*) {
  if (step < 1 || step > 7 || targetPath == nullptr) return 0;
  // Whatever a caller passes, the source itself is never what is undone.
  if (sourcePath == nullptr || std::strcmp(sourcePath, targetPath) != 0) {
    std::remove(targetPath);
  }
  if (step != 4 && step != 5 && sourcePath != nullptr && backupPath != nullptr &&
      Exists(backupPath) && !Exists(sourcePath)) {
    std::rename(backupPath, sourcePath);
  }
  return 0;
}

int RenameFile(const char* from, const char* to, ErrorInfo* errorRecord) {
  if (from == nullptr || to == nullptr || !Exists(from)) {
    QOR_LOG(qor::log::kDebug, "Source file does not exist : %s\n", from != nullptr ? from : "");
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "Source file does not exist : %s",
                  from != nullptr ? from : "");
    return -1;
  }
  if (Exists(to)) {
    QOR_LOG(qor::log::kError, "The target file exists : %s\n", to);
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "The target file exists : %s", to);
    return -1;
  }
  const int result = std::rename(from, to);
  if (result != 0) {
    char pair[2200];
    std::snprintf(pair, sizeof(pair), "[%s] -> [%s]", from, to);
    QOR_LOG(qor::log::kError, "Source file rename failed : %s\n", pair);
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "Source file rename failed : %s", pair);
  }
  return result;
}

int has_ulvexswp_suffix(const char* path) {
  if (path == nullptr) return 0;
  const char* dot = std::strrchr(path, '.');
  if (dot == nullptr || dot[1] == '\0') return 0;
  return std::strstr(dot + 1, "ulvexswp") != nullptr ? 1 : 0;
}

int QORCrypto_filecopy(FILE* in, FILE* out) {
  int result = 0;
  if (in == nullptr || out == nullptr) {
    result = -1;
  } else {
    unsigned char piece[kCopyPiece];
    for (size_t n; (n = std::fread(piece, 1, sizeof(piece), in)) > 0;) {
      if (std::fwrite(piece, 1, n, out) == 0) {
        result = -4;
        break;
      }
    }
  }
  if (in != nullptr) std::fclose(in);
  if (out != nullptr && std::fclose(out) != 0 && result == 0) result = -4;
  return result;
}

int MappingFileInfo(const char* path, int64_t* sizeOut, int* descriptorOut,
                    ErrorInfo* errorRecord) {
  const char* shown = path != nullptr ? path : "";
  const int fd = path != nullptr ? open(path, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0) {
    QOR_LOG(qor::log::kDebug, "[failed ] open existing File : %s\n", shown);
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "[failed] open existing File failed : %s",
                  shown);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    QOR_LOG(qor::log::kDebug, "[failed ] get fileSize : %s\n", shown);
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "[failed] get fileSize failed : %s", shown);
    return -1;
  }
  if (descriptorOut != nullptr) {
    *descriptorOut = fd;
  } else {
    close(fd);
  }
  if (sizeOut != nullptr) *sizeOut = static_cast<int64_t>(st.st_size);
  return 0;
}

int WriteFileWithCrlf(const unsigned char* data, int dataLength, const unsigned char* terminator,
                      int terminatorLength, FILE* stream) {
  const size_t n = dataLength > 0 ? static_cast<size_t>(dataLength) : 0;
  const size_t t = terminatorLength > 0 ? static_cast<size_t>(terminatorLength) : 0;
  if (stream == nullptr || (n > 0 && data == nullptr) || (t > 0 && terminator == nullptr)) {
    return -1;
  }
  if (std::fwrite(data, 1, n, stream) != n || std::fwrite(terminator, 1, t, stream) != t) {
    return -1;
  }
  return static_cast<int>(n + t);
}

int WriteDecDataFile(const unsigned char* data, int length, FILE* stream, ErrorInfo* errorRecord,
                     UACipherUtil* object, NC_NEWSHA2_CTX* digest) {
  DataBuffer in{length, const_cast<unsigned char*>(data)};
  DataBuffer out{0, nullptr};
  if (object == nullptr || data == nullptr || length <= 0 ||
      object->Decrypt_API(&object, &in, &out) != 0) {
    std::free(out.data);
    QOR_LOG(qor::log::kCrit, "Failed to Decrypt_API\n");
    qor::ErrorSet(errorRecord, qor::err::kFileWrite, "Failed to Decrypt_API");
    return -1;
  }
  const int written = WriteDataFile(out.data, out.length, stream, errorRecord, digest);
  std::free(out.data);
  return written;
}

int WriteEncDataFile(const unsigned char*, int, FILE*, ErrorInfo*, UACipherUtil*,
                     NC_NEWSHA2_CTX*) {
  return 0;
}

}  // extern "C"
