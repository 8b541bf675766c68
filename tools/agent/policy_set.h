// The policy set the agent serves, as read from its JSON file. Every field
// already holds the keyword or number the policy record carries, so encoding
// is a mechanical walk over it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qor::agent_tool {

// Key bytes are wiped when the holder goes away.
class KeyBytes {
 public:
  KeyBytes() = default;
  explicit KeyBytes(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}
  KeyBytes(const KeyBytes& other) = default;
  KeyBytes(KeyBytes&& other) noexcept = default;
  KeyBytes& operator=(const KeyBytes& other);
  KeyBytes& operator=(KeyBytes&& other) noexcept;
  ~KeyBytes();

  const std::vector<unsigned char>& bytes() const { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

struct KeyVersion {
  uint16_t version = 0;
  KeyBytes key;
  std::string status;     // "active", "deactive" or another text
  std::string validFrom;  // time texts: digits followed by three characters
  std::string validTo;
};

struct AccessRule {
  std::vector<std::string> identity1;
  std::vector<std::string> identity2;
  std::vector<std::string> identity3;
  std::vector<std::string> weekdays;  // digits 1 (Sunday) to 7
  std::string dateFrom, dateTo;       // "YYYY-MM-DD" or empty
  std::string timeFrom, timeTo;       // "HH:MM" or empty
  bool decrypt = true;
  bool encrypt = true;
};

struct Policy {
  std::string name;
  std::string kind = "COLUMN";  // carried, not used by the library
  std::string algorithm;
  uint32_t keyLengthBits = 0;
  std::vector<KeyVersion> keys;
  std::string ivType = "POLICY";  // "POLICY" or "RECORD"
  std::string errorHandling = "RETURN_ERROR";
  bool nullProcessing = false;
  std::string duplicates = "ALLOW";
  std::string patternType = "ALL";
  std::string patternCharacters;
  std::string patternPosition;  // "FRONT", "BACK" or empty
  std::string compatibility = "ULVEX";
  std::string decryptLimitUnit = "NONE";
  uint32_t decryptLimitCount = 0;
  std::string unauthorizedDecryption = "NONE";
  std::string priority = "NONE";
  bool audit[4] = {false, false, false, false};  // enc ok, enc fail, dec ok, dec fail
  std::vector<AccessRule> accessRules;
  std::string targetExist = "OVERWRITE";
  std::string originalFile = "KEEP";
  std::string backupExtension;
  bool deleteEncryptedFile = false;
  bool verifyEncryptedData = false;
  bool verifyOriginalData = false;
};

struct PolicySet {
  std::vector<Policy> policies;
};

// Reads and checks the file. On failure returns nothing and sets |error| to
// one line per error found (every one in the file, not only the first), each
// naming the file, the policy (by name, or by index when it has no usable
// name) and the field; a file that cannot be read gives the system's reason.
std::optional<PolicySet> LoadPolicySet(const std::string& path, std::string* error);

// The same for JSON text already in memory; |origin| names it in errors.
std::optional<PolicySet> ParsePolicySet(const std::string& text, const std::string& origin,
                                        std::string* error);

}  // namespace qor::agent_tool
