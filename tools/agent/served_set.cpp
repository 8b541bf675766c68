#include "served_set.h"

#include "common/secure_wipe.h"
#include "library_glue.h"
#include "qor/base64.h"
#include "qor/nc_sha.h"

namespace qor::agent_tool {

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    SecureWipe(bytes_.data(), bytes_.size());
    bytes_ = std::move(other.bytes_);
  }
  return *this;
}

SecretBytes::~SecretBytes() { SecureWipe(bytes_.data(), bytes_.size()); }

std::shared_ptr<const ServedSet> ServedSet::Build(const PolicySet& set, std::string* error) {
  auto served = std::make_shared<ServedSet>();
  std::vector<unsigned char> policies;
  if (!EncodePolicies(set, &policies, error)) return nullptr;
  SecretBytes policiesHolder(std::move(policies));

  // SHA-512 is 64 bytes, whose Base64 text is exactly the 88 characters the
  // library compares; any change of any policy or key changes it.
  unsigned char digest[NC_SHA512_DIGEST_LEN];
  NC_E_SHA512(digest, policiesHolder.bytes().data(), policiesHolder.bytes().size());
  char text[kPolicyHashLength + 1];
  if (QOR_Base64Encode_Buffer(digest, sizeof digest, text) != kPolicyHashLength) {
    *error = "policy hash could not be encoded";
    return nullptr;
  }
  served->hash_.assign(text, kPolicyHashLength);

  std::vector<unsigned char> record;
  if (!EncodeRecord(policiesHolder.bytes(), served->hash_, &record, error)) return nullptr;
  served->record_ = SecretBytes(std::move(record));
  served->policyCount_ = set.policies.size();

  for (const Policy& policy : set.policies) {
    for (const KeyVersion& key : policy.keys) {
      std::vector<unsigned char> keyRecord;
      if (!EncodeKeyRecord(key, &keyRecord, error)) {
        *error = "policy \"" + policy.name + "\": key version " + std::to_string(key.version) +
                 ": " + *error;
        return nullptr;
      }
      served->keyRecords_.emplace(std::make_pair(policy.name, key.version),
                                  SecretBytes(std::move(keyRecord)));
    }
  }
  return served;
}

const SecretBytes* ServedSet::KeyRecord(const std::string& name, uint16_t version) const {
  auto it = keyRecords_.find({name, version});
  return it == keyRecords_.end() ? nullptr : &it->second;
}

}  // namespace qor::agent_tool
