// Reading and creating the emergency file secret.
#include "agent/emergency/file_secret.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/secure_wipe.h"
#include "log/log.h"
#include "qor/nc_random.h"
#include "common/regular_file.h"

namespace {

constexpr char kLogUnit[] = "source/Common/PolicyFileInfo";

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

void Say(std::string* why, const std::string& text) {
  if (why != nullptr) *why = text;
}

}  // namespace

namespace qor::agent {

std::string FileSecretPath(const std::string& home) { return home + "/conf/" + kFileSecretName; }

SecretStatus ReadFileSecret(const std::string& home, unsigned char (&secret)[kFileSecretSize],
                            std::string* why) {
  std::memset(secret, 0, sizeof(secret));
  const std::string path = FileSecretPath(home);
  Fd f;
  const qor::RegularFile opened = qor::OpenRegularFile(path.c_str());
  f.fd = opened.fd;
  if (opened.notRegular) {
    Say(why, path + ": not a regular file");
    return SecretStatus::kUnreadable;
  }
  if (f.fd < 0) {
    const int e = opened.error;
    Say(why, path + ": " + std::strerror(e));
    return e == ENOENT ? SecretStatus::kMissing : SecretStatus::kUnreadable;
  }
  struct stat st {};
  if (fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    Say(why, path + ": not a regular file");
    return SecretStatus::kUnreadable;
  }
  if (st.st_size != static_cast<off_t>(kFileSecretSize)) {
    Say(why, path + ": " + std::to_string(st.st_size) + " bytes, 16 expected");
    return SecretStatus::kWrongSize;
  }
  // Group access is how a library running as another user of the agent's
  // group reads it; access for everyone defeats the secret.
  if ((st.st_mode & 007) != 0) {
    QOR_LOG(qor::log::kError, "%s is open to every user (mode %03o)\n", path.c_str(),
            static_cast<unsigned>(st.st_mode & 0777));
  }
  size_t got = 0;
  while (got < kFileSecretSize) {
    const ssize_t n = read(f.fd, secret + got, kFileSecretSize - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got != kFileSecretSize) {
    qor::SecureWipe(secret, sizeof(secret));
    Say(why, path + ": short read");
    return SecretStatus::kUnreadable;
  }
  return SecretStatus::kOk;
}

SecretStatus EnsureFileSecret(const std::string& home, unsigned char (&secret)[kFileSecretSize],
                              std::string* why) {
  const SecretStatus first = ReadFileSecret(home, secret, why);
  if (first != SecretStatus::kMissing) return first;
  const std::string conf = home + "/conf";
  if (mkdir(conf.c_str(), 0700) != 0 && errno != EEXIST) {
    Say(why, conf + ": " + std::strerror(errno));
    return SecretStatus::kNotCreated;
  }
  const std::string path = FileSecretPath(home);
  unsigned char fresh[kFileSecretSize];
  if (NC_GenerateRandom(fresh, sizeof(fresh)) != 0) {
    Say(why, "no random bytes for a new secret");
    return SecretStatus::kNotCreated;
  }
  {
    Fd f;
    // O_EXCL: two agents starting at once must not each write their own.
    f.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (f.fd < 0 && errno != EEXIST) {
      qor::SecureWipe(fresh, sizeof(fresh));
      Say(why, path + ": " + std::strerror(errno));
      return SecretStatus::kNotCreated;
    }
    if (f.fd >= 0) {
      const bool written = write(f.fd, fresh, sizeof(fresh)) == static_cast<ssize_t>(sizeof(fresh)) &&
                           fsync(f.fd) == 0;
      if (!written) {
        qor::SecureWipe(fresh, sizeof(fresh));
        unlink(path.c_str());
        Say(why, path + ": write failed");
        return SecretStatus::kNotCreated;
      }
    }
  }
  qor::SecureWipe(fresh, sizeof(fresh));
  return ReadFileSecret(home, secret, why);
}

}  // namespace qor::agent
