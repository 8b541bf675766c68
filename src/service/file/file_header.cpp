// The header of an encrypted file: building it, verifying its digests, and
// recognising an encrypted file by its marker and magic.
#include <cstdio>
#include <cstring>

#include "common/error_codes.h"
#include "common/error_record.h"
#include "log/log.h"
#include "qor/qorfile.h"
#include "service/file/file_layout.h"

namespace {

constexpr char kLogUnit[] = "source/QORCrypto";

using namespace qor::file;

}  // namespace

extern "C" {

int GenerateFileHeaderData(int type, const unsigned char* plaintextDigest,
                           const unsigned char* ciphertextDigest, int64_t encryptionTime,
                           int deviceAddressLength, const char* deviceAddress, int keyNameLength,
                           const char* keyName, uint16_t keyVersion, ErrorInfo* errorRecord,
                           unsigned char* headerOut, int* headerLengthOut, int,
                           const unsigned char* recordIvBlock) {
  if (plaintextDigest == nullptr || ciphertextDigest == nullptr || deviceAddress == nullptr ||
      keyName == nullptr || headerOut == nullptr || headerLengthOut == nullptr ||
      recordIvBlock == nullptr || encryptionTime == 0) {
    QOR_LOG(qor::log::kDebug, "input-params are null\n");
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "input-params are null");
    return -1;
  }
  char address[16] = {};
  char name[kKeyNameSize] = {};
  if (deviceAddressLength > 0) {
    std::memcpy(address, deviceAddress,
                static_cast<size_t>(deviceAddressLength < kAddressSize ? deviceAddressLength
                                                                       : kAddressSize));
  }
  if (keyNameLength > 0) {
    std::memcpy(name, keyName,
                static_cast<size_t>(keyNameLength < kKeyNameSize ? keyNameLength : kKeyNameSize));
  }

  const Layout layout = LayoutFor(keyVersion != 0);
  unsigned char* h = headerOut;
  h[kMarkerOffset] = QOR_FILE_MARKER;
  h[kTypeOffset] = static_cast<unsigned char>(type);
  StoreBigEndian64(h + kTimeOffset, static_cast<uint64_t>(encryptionTime));
  std::memcpy(h + kAddressOffset, address, kAddressSize);
  std::memcpy(h + kKeyNameOffset, name, kKeyNameSize);
  if (layout.hasVersion) {
    h[kVersionOffset] = static_cast<unsigned char>(keyVersion >> 8);
    h[kVersionOffset + 1] = static_cast<unsigned char>(keyVersion);
  }
  std::memcpy(h + layout.ciphertextDigest, ciphertextDigest, QOR_FILE_DIGEST_SIZE);
  std::memcpy(h + layout.plaintextDigest, plaintextDigest, QOR_FILE_DIGEST_SIZE);
  std::memcpy(h + layout.ivBlock, recordIvBlock, QOR_FILE_IV_BLOCK_SIZE);
  std::memcpy(h + layout.magic, kMagic, kMagicSize);
  *headerLengthOut = layout.size;
  return 0;
}

int VerifyFileHeader(FILE* stream, const unsigned char* plaintextDigest,
                     const unsigned char* ciphertextDigest, int verify, FileResult* result,
                     ErrorInfo* errorRecord) {
  unsigned char header[QOR_FILE_HEADER_MAX];
  if (stream == nullptr ||
      std::fread(header, 1, sizeof(header), stream) != sizeof(header)) {
    QOR_LOG(qor::log::kError, "Fail to Read FileHeader\n");
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "Fail to Read FileHeader");
    return -1;
  }
  if (verify == 0) return 0;
  if (plaintextDigest == nullptr || ciphertextDigest == nullptr || result == nullptr) {
    QOR_LOG(qor::log::kDebug, "input-params are null\n");
    qor::ErrorSet(errorRecord, qor::err::kGeneral, "input-params are null");
    return -1;
  }
  result->ciphertextVerified = 1;
  result->plaintextVerified = 1;
  const Layout layout = LayoutFor(header[kTypeOffset] == QOR_FILE_HEADER_TYPE2);
  int outcome = 0;
  if (std::memcmp(header + layout.plaintextDigest, plaintextDigest, QOR_FILE_DIGEST_SIZE) != 0) {
    QOR_LOG(qor::log::kError, "Decrypt failure : header verification failure(srcFile Hash)\n");
    qor::ErrorSet(errorRecord, qor::err::kGeneral,
                  "Decrypt failure : header verification failure (srcFile Hash)");
    result->plaintextVerified = 0;
    outcome = -1;
  }
  if (std::memcmp(header + layout.ciphertextDigest, ciphertextDigest, QOR_FILE_DIGEST_SIZE) !=
      0) {
    QOR_LOG(qor::log::kError,
            "Decrypt failure : header verification failure(Encrypted-File Hash)\n");
    qor::ErrorSet(errorRecord, qor::err::kGeneral,
                  "Decrypt failure : header verification failure (Encrypted-File Hash)");
    result->ciphertextVerified = 0;
    outcome = -1;
  }
  return outcome;
}

int QORCrypto_IsEnc_API_File(const char* path) {
  FILE* in = path != nullptr ? std::fopen(path, "rb") : nullptr;
  if (in == nullptr) {
    QOR_LOG(qor::log::kCrit, "[ERROR] File Not Found.........[Path = %s]\n",
            path != nullptr ? path : "");
    return 4;
  }
  unsigned char header[QOR_FILE_HEADER_MAX];
  const size_t n = std::fread(header, 1, sizeof(header), in);
  std::fclose(in);
  if (n < sizeof(header)) {
    QOR_LOG(qor::log::kDebug, "[INFO] Read header.... header_size = %d, read_size = %d\n",
            QOR_FILE_HEADER_MAX, static_cast<int>(n));
    return 1;
  }
  return LooksEncrypted(header) ? 0 : 1;
}

}  // extern "C"
