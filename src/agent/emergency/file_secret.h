// The installation's 16-byte emergency file secret: "conf/agent.key" under the
// agent home, 16 raw bytes, mode 0600. The agent creates it when it is missing
// (EnsureFileSecret); the library only reads it (ReadFileSecret), so a library
// without the agent's secret cannot open the agent's emergency file.
#pragma once

#include <cstddef>
#include <string>

namespace qor::agent {

inline constexpr size_t kFileSecretSize = 16;
inline constexpr char kFileSecretName[] = "agent.key";

enum class SecretStatus {
  kOk = 0,
  kMissing,      // no file at the path
  kUnreadable,   // not a regular file, or open/read failed
  kWrongSize,    // not exactly 16 bytes
  kNotCreated,   // EnsureFileSecret could not write a new one
};

// "<home>/conf/agent.key".
std::string FileSecretPath(const std::string& home);

// Reads the secret into |secret|. Anything but kOk leaves |secret| zeroed and
// puts a one-line reason into |why| (when given).
SecretStatus ReadFileSecret(const std::string& home, unsigned char (&secret)[kFileSecretSize],
                            std::string* why = nullptr);

// The agent's side: reads the secret, or creates "<home>/conf" (0700) and a
// new random secret (0600, never replacing an existing file) when it is
// missing, then reads it.
SecretStatus EnsureFileSecret(const std::string& home, unsigned char (&secret)[kFileSecretSize],
                              std::string* why = nullptr);

}  // namespace qor::agent
