// Loading and writing the emergency policy file.
#include "agent/emergency/emergency_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent/emergency/file_secret.h"
#include "common/error_codes.h"
#include "common/error_record.h"
#include "common/secure_wipe.h"
#include "common/value_format.h"
#include "log/log.h"
#include "qor/base64.h"
#include "qor/cipher_util.h"
#include "qor/nc_aria.h"
#include "qor/nc_random.h"
#include "qor/policy_file.h"
#include "common/regular_file.h"

namespace {

constexpr char kLogUnit[] = "source/QORSocket";

// Records the failure in |error| and the log under the download's function name.
template <class... Args>
void Fail(ErrorInfo* error, const char* format, Args... args) {
  char message[1024];
  std::snprintf(message, sizeof(message), format, args...);
  if (error != nullptr) qor::ErrorSet(error, qor::err::kGeneral, "%s", message);
  QOR_LOG_AS("GetPolicyInfoFromFile", qor::log::kCrit, "%s\n", message);
}

}  // namespace

namespace qor::agent {

std::string EmergencyFilePath(const std::string& home) {
  return home + "/conf/" + kEmergencyFileName;
}

EmergencyLoad LoadEmergencyPolicy(const std::string& home, DataBuffer* record, ErrorInfo* error) {
  const std::string path = EmergencyFilePath(home);
  unsigned char salt[kFileSaltSize] = {0};
  {
    std::FILE* f = qor::OpenRegularStream(path.c_str());
    if (f == nullptr) {
      Fail(error, "failed to open the emergency policy file [%s]: %s", path.c_str(),
           std::strerror(errno));
      return EmergencyLoad::kNoFile;
    }
    const size_t got = std::fread(salt, 1, sizeof(salt), f);
    std::fclose(f);
    if (got != sizeof(salt)) {
      Fail(error, "%s", "failed to ReadPolicyFile");
      return EmergencyLoad::kUnreadable;
    }
  }
  unsigned char secret[kFileSecretSize];
  std::string why;
  if (ReadFileSecret(home, secret, &why) != SecretStatus::kOk) {
    Fail(error, "failed to read the emergency file secret [%s]", why.c_str());
    return EmergencyLoad::kNoSecret;
  }
  DataBuffer plain{0, nullptr};
  const int rc = ReadPolicyFile(path.c_str(), &plain, secret, salt);
  qor::SecureWipe(secret, sizeof(secret));
  if (rc != 0) {
    Fail(error, "%s", "failed to ReadPolicyFile");
    return EmergencyLoad::kUnreadable;
  }
  if (record != nullptr) {
    *record = plain;
  } else {
    qor::SecureWipe(plain.data, static_cast<size_t>(plain.length));
    std::free(plain.data);
  }
  return EmergencyLoad::kOk;
}

int WriteEmergencyPolicyFile(const std::string& path, const std::vector<uint8_t>& record,
                             const unsigned char* fileSecret) {
  if (fileSecret == nullptr || record.empty() || record.size() > INT_MAX - 64) return -1;
  unsigned char salt[kFileSaltSize];
  if (NC_GenerateRandom(salt, sizeof(salt)) != 0) return -1;
  unsigned char key[32];
  unsigned char iv[16];
  DeriveFileKey(fileSecret, salt, key, iv);
  NC_ARIA_CTX ctx;
  NC_ARIA_SetAlgInfo(0, 1, nullptr, &ctx);
  NC_ARIA_EncKeyGen(key, &ctx, 16);
  // The adapter pads in place: one block of room after the record.
  std::vector<unsigned char> plain(record.size() + 32);
  std::memcpy(plain.data(), record.data(), record.size());
  DataBuffer in{static_cast<int32_t>(record.size()), plain.data()};
  DataBuffer cipher{0, nullptr};
  const int rc = doARIAEncryptEx2(&in, &ctx, iv, &cipher, 0, 0, 0);
  qor::SecureWipe(plain.data(), plain.size());
  qor::SecureWipe(key, sizeof(key));
  qor::SecureWipe(iv, sizeof(iv));
  qor::SecureWipe(&ctx, sizeof(ctx));
  if (rc != 0 || cipher.data == nullptr) return -1;

  const std::string temp = path + ".tmp";
  int result = -1;
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) {
    const bool ok = write(fd, salt, sizeof(salt)) == static_cast<ssize_t>(sizeof(salt)) &&
                    write(fd, cipher.data, static_cast<size_t>(cipher.length)) ==
                        static_cast<ssize_t>(cipher.length) &&
                    fsync(fd) == 0;
    close(fd);
    if (ok && rename(temp.c_str(), path.c_str()) == 0) {
      result = 0;
    } else {
      unlink(temp.c_str());
    }
  }
  std::free(cipher.data);
  return result;
}

std::vector<uint8_t> DecodePolicyKeyInfoText(const std::string& text) {
  if (text.size() > INT_MAX) return {};
  const bool prefixed = text.starts_with(qor::value::kTextPrefix);
  unsigned char* bytes = nullptr;
  const int n = QOR_Base64Decode(text.data(), static_cast<int>(text.size()), &bytes,
                                 prefixed ? 0 : 1);
  std::vector<uint8_t> out;
  if (n > 0 && bytes != nullptr) out.assign(bytes, bytes + n);
  std::free(bytes);
  return out;
}

}  // namespace qor::agent
