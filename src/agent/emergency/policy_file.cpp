// The emergency policy file reader and the policy key info container.
#include "qor/policy_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "agent/emergency/emergency_file.h"
#include "common/secure_wipe.h"
#include "log/log.h"
#include "qor/cipher_util.h"
#include "qor/nc_aria.h"
#include "qor/nc_sha.h"
#include "qor/policy.h"
#include "qor/ua_cipher_util.h"
#include "common/regular_file.h"

namespace {

constexpr char kLogUnit[] = "source/Common/PolicyFileInfo";
constexpr char kVersion[4] = {'1', '.', '0', '1'};
constexpr size_t kHeaderBytes = 41;  // version, two values, operation code, length

struct File {
  std::FILE* f = nullptr;
  ~File() {
    if (f != nullptr) std::fclose(f);
  }
};

void LogOpenError(const char* mode, const char* path) {
  const int e = errno;
  QOR_LOG_AS("ReadPolicyFile", qor::log::kCrit,
             "file open error [open mode:%s]\n\tcause : [%d]%s [filename:%s]\n", mode, e,
             std::strerror(e), path);
}

// A heap buffer wiped before release: it holds key sets in plain.
struct WipedBuffer {
  unsigned char* p = nullptr;
  size_t n = 0;
  explicit WipedBuffer(size_t size) : p(static_cast<unsigned char*>(std::malloc(size))), n(size) {}
  ~WipedBuffer() {
    qor::SecureWipe(p, n);
    std::free(p);
  }
  WipedBuffer(const WipedBuffer&) = delete;
  WipedBuffer& operator=(const WipedBuffer&) = delete;
};

struct Server {
  UACipherUtil* object = ServerKACU_Create(nullptr);
  ~Server() { ServerKACU_Free(&object); }
};

}  // namespace

namespace qor::agent {

void DeriveFileKey(const unsigned char* fileSecret, const unsigned char* fileSalt,
                   unsigned char (&key)[32], unsigned char (&iv)[16]) {
  unsigned char material[48];
  unsigned char digest[48];
  std::memcpy(material, fileSecret, 16);
  std::memcpy(material + 16, fileSalt, 32);
  NC_E_SHA384(digest, material, sizeof(material));
  std::memcpy(key, digest, 32);
  std::memcpy(iv, digest + 32, 16);
  qor::SecureWipe(material, sizeof(material));
  qor::SecureWipe(digest, sizeof(digest));
}

bool LooksLikeRecord(const unsigned char* bytes, size_t length) {
  if (length < 2 || length > UINT32_MAX || bytes[0] != BER_TAG_SEQUENCE) return false;
  uint32_t inner = 0;
  const unsigned char* after =
      tlv_parseLength(&inner, bytes + 1, static_cast<uint32_t>(length - 1));
  return after != nullptr && static_cast<size_t>(after - bytes) + inner <= length;
}

}  // namespace qor::agent

extern "C" {

int IsPolicyFile(const char* path) {
  struct stat st {};
  return path != nullptr && stat(path, &st) == 0 ? 1 : 0;
}

int ReadPolicyFile(const char* path, DataBuffer* record, const unsigned char* fileSecret,
                   const unsigned char* fileSalt) {
  if (path == nullptr || record == nullptr || fileSecret == nullptr || fileSalt == nullptr) {
    QOR_LOG(qor::log::kCrit, "Null Pointer Exception\n");
    return -1;
  }
  File file;
  file.f = qor::OpenRegularStream(path);
  if (file.f == nullptr) {
    LogOpenError("rb", path);
    return -1;
  }
  long size = -1;
  if (std::fseek(file.f, 0, SEEK_END) == 0) size = std::ftell(file.f);
  // The adapter takes an int length and writes its padding room past it.
  const bool sizeFine = size > 32 && size - 32 <= INT_MAX - 32;
  const size_t cipherLength = sizeFine ? static_cast<size_t>(size - 32) : 0;
  WipedBuffer cipher(cipherLength + 32);
  if (!sizeFine || cipher.p == nullptr || std::fseek(file.f, 32, SEEK_SET) != 0 ||
      std::fread(cipher.p, 1, cipherLength, file.f) != cipherLength) {
    QOR_LOG(qor::log::kCrit, "Reading error.[%s file read]\n", path);
    return -1;
  }

  unsigned char key[32];
  unsigned char iv[16];
  qor::agent::DeriveFileKey(fileSecret, fileSalt, key, iv);
  NC_ARIA_CTX ctx;
  NC_ARIA_SetAlgInfo(0, 1, nullptr, &ctx);
  NC_ARIA_DecKeyGen(key, &ctx, 16);
  DataBuffer in{static_cast<int32_t>(cipherLength), cipher.p};
  DataBuffer plain{0, nullptr};
  const int rc = doARIADecrypt2(&in, &ctx, iv, &plain, 0, 0);
  qor::SecureWipe(key, sizeof(key));
  qor::SecureWipe(iv, sizeof(iv));
  qor::SecureWipe(&ctx, sizeof(ctx));
  if (rc != 0 || plain.data == nullptr || plain.length < 0) {
    std::free(plain.data);
    return rc != 0 ? rc : -1;
  }
  // Only the last padding byte is checked, so a wrong secret still "decrypts"
  // now and then; what comes out must at least be a record.
  if (!qor::agent::LooksLikeRecord(plain.data, static_cast<size_t>(plain.length))) {
    QOR_LOG(qor::log::kCrit, "not a policy record: wrong file secret or damaged file [%s]\n",
            path);
    qor::SecureWipe(plain.data, static_cast<size_t>(plain.length));
    std::free(plain.data);
    return -1;
  }
  *record = plain;  // the adapter's buffer is already length + 1 bytes, terminated
  return 0;
}

int WritePolicyFile(const char* path, const Packet* packet, const unsigned char* firstValue,
                    const unsigned char* secondValue) {
  if (packet == nullptr || packet->length < 1 || packet->data == nullptr) {
    QOR_LOG(qor::log::kCrit, "Policy info is null.\n");
    return -1;
  }
  if (path == nullptr || firstValue == nullptr || secondValue == nullptr ||
      packet->length > INT_MAX - 64) {
    QOR_LOG(qor::log::kCrit, "Null Pointer Exception\n");
    return -1;
  }
  const size_t length = static_cast<size_t>(packet->length);
  // Room for the padding the cipher writes in place after the plain form.
  WipedBuffer plain(kHeaderBytes + length + 32);
  if (plain.p == nullptr) {
    QOR_LOG(qor::log::kCrit, "malloc failed [size : %d]\n", packet->length + 37);
    return -1;
  }
  std::memcpy(plain.p, kVersion, 4);
  std::memcpy(plain.p + 4, firstValue, 16);
  std::memcpy(plain.p + 20, secondValue, 16);
  plain.p[36] = packet->opcode;
  for (int i = 0; i < 4; ++i) plain.p[37 + i] = static_cast<unsigned char>(length >> (24 - 8 * i));
  std::memcpy(plain.p + kHeaderBytes, packet->data, length);

  // Encrypt first and only then create the file, so a failure leaves nothing behind.
  Server server;
  if (server.object == nullptr) return -1;
  DataBuffer in{static_cast<int32_t>(kHeaderBytes + length), plain.p};
  DataBuffer text{0, nullptr};
  const int rc = server.object->EncryptToBase64(&server.object, &in, &text);
  std::unique_ptr<unsigned char, decltype(&std::free)> owned(text.data, &std::free);
  if (rc < 0 || text.data == nullptr || text.length < 0) return -1;

  File file;
  file.f = std::fopen(path, "wb");
  if (file.f == nullptr) {
    LogOpenError("wb", path);
    return -1;
  }
  const bool written =
      std::fwrite(text.data, 1, static_cast<size_t>(text.length), file.f) ==
      static_cast<size_t>(text.length);
  const bool closed = std::fclose(file.f) == 0;
  file.f = nullptr;
  if (!written || !closed) {
    std::remove(path);
    return -1;
  }
  return 0;
}

int ReadPolicyKeyInfo(const DataBuffer* text, Packet* packet, unsigned char* firstValue,
                      unsigned char* secondValue) {
  if (text == nullptr || text->data == nullptr || text->length <= 0 || packet == nullptr ||
      firstValue == nullptr || secondValue == nullptr || text->length > INT_MAX - 64) {
    return -1;
  }
  Server server;
  if (server.object == nullptr) return -1;
  // The decryption may use the input as scratch; the caller's bytes stay as they are.
  WipedBuffer copy(static_cast<size_t>(text->length) + 32);
  if (copy.p == nullptr) return -1;
  std::memcpy(copy.p, text->data, static_cast<size_t>(text->length));
  DataBuffer in{text->length, copy.p};
  DataBuffer plain{0, nullptr};
  const int rc = server.object->Decrypt_API(&server.object, &in, &plain);
  auto release = [&plain] {
    if (plain.data != nullptr && plain.length > 0) {
      qor::SecureWipe(plain.data, static_cast<size_t>(plain.length));
    }
    std::free(plain.data);
  };
  if (rc < 0) {
    release();
    return rc;
  }
  const size_t n = plain.data != nullptr && plain.length > 0 ? static_cast<size_t>(plain.length) : 0;
  if (n < 5) {
    release();
    return -1;
  }
  if (std::memcmp(plain.data, kVersion, 4) != 0) {
    release();
    return 0;
  }
  if (n < kHeaderBytes) {
    release();
    return -1;
  }
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length = (length << 8) | plain.data[37 + i];
  if (length > INT32_MAX - 1 || static_cast<size_t>(length) > n - kHeaderBytes) {
    release();
    return -1;
  }
  auto* body = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (body == nullptr) {
    QOR_LOG(qor::log::kCrit, "recordSet.body malloc failed [size : %d]\n",
            static_cast<int>(length) + 1);
    release();
    return -1;
  }
  if (length > 0) std::memcpy(body, plain.data + kHeaderBytes, length);
  body[length] = 0;
  std::memcpy(firstValue, plain.data + 4, 16);
  std::memcpy(secondValue, plain.data + 20, 16);
  packet->opcode = plain.data[36];
  packet->length = static_cast<int32_t>(length);
  packet->data = body;
  packet->recordCount = 1;
  release();
  return 0;
}

}  // extern "C"
