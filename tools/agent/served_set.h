// One loaded policy set in the form the agent answers with: the encoded
// policy record, its 88-byte hash and the key records by "name:version".
// Immutable once built, so request threads share it without a lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "policy_set.h"

namespace qor::agent_tool {

inline constexpr int kPolicyHashLength = 88;

// Byte buffer that is wiped on release: records carry key bytes.
class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  SecretBytes(SecretBytes&&) noexcept = default;
  SecretBytes& operator=(SecretBytes&&) noexcept;
  ~SecretBytes();
  const std::vector<unsigned char>& bytes() const { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

class ServedSet {
 public:
  // Encodes |set| with the library's record writer; nullptr with |error|
  // set when the hash cannot be made.
  static std::shared_ptr<const ServedSet> Build(const PolicySet& set, std::string* error);

  // The answer to a request for the whole set.
  const std::vector<unsigned char>& record() const { return record_.bytes(); }
  // 88 characters: Base64 of SHA-512 over the encoded policies (the record
  // without its hash element).
  const std::string& hash() const { return hash_; }
  size_t policyCount() const { return policyCount_; }
  // The key record for |name| and |version|, or nothing when either is unknown.
  const SecretBytes* KeyRecord(const std::string& name, uint16_t version) const;

 private:
  SecretBytes record_;
  std::string hash_;
  size_t policyCount_ = 0;
  std::map<std::pair<std::string, uint16_t>, SecretBytes> keyRecords_;
};

}  // namespace qor::agent_tool
