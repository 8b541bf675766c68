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
  std::vector<std::vector<unsigned char>> policies = EncodePolicies(set);
  // SHA-512 over the encoded policies (everything the record holds but the
  // hash itself) is 64 bytes, whose Base64 text is exactly the 88 characters
  // the library compares; any change of any policy or key changes it.
  NC_SHA512_CTX context;
  NC_E_SHA512_Init(&context);
  for (const auto& policy : policies) NC_E_SHA512_Update(&context, policy.data(), policy.size());
  unsigned char digest[NC_SHA512_DIGEST_LEN];
  NC_E_SHA512_Final(&context, digest);
  char text[kPolicyHashLength + 1];
  if (QOR_Base64Encode_Buffer(digest, sizeof digest, text) != kPolicyHashLength) {
    *error = "policy hash could not be encoded";
    return nullptr;
  }
  served->hash_.assign(text, kPolicyHashLength);
  served->record_ = SecretBytes(EncodeRecord(policies, served->hash_));
  for (auto& policy : policies) SecureWipe(policy.data(), policy.size());
  served->policyCount_ = set.policies.size();

  for (const Policy& policy : set.policies) {
    for (const KeyVersion& key : policy.keys) {
      served->keyRecords_.emplace(std::make_pair(policy.name, key.version),
                                  SecretBytes(EncodeKeyRecord(key)));
    }
  }
  return served;
}

const SecretBytes* ServedSet::KeyRecord(const std::string& name, uint16_t version) const {
  auto it = keyRecords_.find({name, version});
  return it == keyRecords_.end() ? nullptr : &it->second;
}

}  // namespace qor::agent_tool
