// The agent's use of the library's policy-record writer and emergency file.
#include <cstring>

#include "agent/emergency/emergency_file.h"
#include "agent/emergency/file_secret.h"
#include "agent/policy/policy_writer.h"
#include "common/secure_wipe.h"
#include "library_glue.h"

namespace qor::agent_tool {
namespace {

agent::KeyVersionSpec KeySpec(const KeyVersion& key) {
  agent::KeyVersionSpec spec;
  spec.version = key.version;
  spec.key.assign(key.key.bytes().begin(), key.key.bytes().end());
  spec.status = key.status;
  spec.firstTime = key.validFrom;
  spec.secondTime = key.validTo;
  return spec;
}

void WipeKeys(agent::PolicySpec& spec) {
  for (auto& key : spec.keys) SecureWipe(key.key.data(), key.key.size());
}

agent::PolicySpec Spec(const Policy& p) {
  agent::PolicySpec spec;
  spec.name = p.name;
  spec.item2 = p.kind;
  spec.algorithm = p.algorithm;
  spec.keyBits = p.keyLengthBits;
  for (const KeyVersion& key : p.keys) spec.keys.push_back(KeySpec(key));
  spec.ivType = p.ivType;
  spec.errorProcess = p.errorHandling;
  spec.nullProcess = p.nullProcessing ? 1 : 0;
  spec.duplication = p.duplicates;
  spec.patternType = p.patternType;
  spec.patternChars = p.patternCharacters;
  spec.position = p.patternPosition;
  spec.compatibility = p.compatibility;
  spec.decryptCountUnit = p.decryptLimitUnit;
  spec.decryptCnt = p.decryptLimitCount;
  spec.unauthorizedDecryption = p.unauthorizedDecryption;
  spec.prio = p.priority;
  for (size_t i = 0; i < 4; ++i) spec.audit[i] = p.audit[i] ? 255 : 0;
  for (const AccessRule& rule : p.accessRules) {
    agent::AccessRuleSpec entry;
    entry.rules = {rule.identity1, rule.identity2, rule.identity3, rule.weekdays};
    entry.dateFrom = rule.dateFrom;
    entry.dateTo = rule.dateTo;
    entry.timeFrom = rule.timeFrom;
    entry.timeTo = rule.timeTo;
    entry.decryptAllowed = rule.decrypt ? 1 : 0;
    entry.encryptAllowed = rule.encrypt ? 1 : 0;
    spec.acl.push_back(std::move(entry));
  }
  spec.targetExist = p.targetExist;
  // The library reads "BACKUP" without an extension as "leave the original
  // alone", any other text but "DELETE" as "rename it with the extension".
  if (p.originalFile == "KEEP") {
    spec.orgFileHandling = "BACKUP";
    spec.orgBackupExtension.clear();
  } else {
    spec.orgFileHandling = p.originalFile;
    spec.orgBackupExtension = p.backupExtension;
  }
  spec.encFileDelete = p.deleteEncryptedFile ? 1 : 0;
  spec.encDataVerify = p.verifyEncryptedData ? 1 : 0;
  spec.orgDataVerify = p.verifyOriginalData ? 1 : 0;
  return spec;
}

}  // namespace

std::vector<std::vector<unsigned char>> EncodePolicies(const PolicySet& set) {
  std::vector<std::vector<unsigned char>> policies;
  for (const Policy& p : set.policies) {
    agent::PolicySpec spec = Spec(p);
    policies.push_back(agent::EncodeSequence(agent::EncodePolicyItems(spec)));
    WipeKeys(spec);
  }
  return policies;
}

std::vector<unsigned char> EncodeRecord(const std::vector<std::vector<unsigned char>>& policies,
                                        const std::string& hash) {
  return agent::EncodePolicyRecord(agent::Bytes(hash.begin(), hash.end()), policies);
}

std::vector<unsigned char> EncodeKeyRecord(const KeyVersion& key) {
  agent::KeyVersionSpec spec = KeySpec(key);
  std::vector<unsigned char> record = agent::EncodeKeyRecord(spec);
  SecureWipe(spec.key.data(), spec.key.size());
  return record;
}

bool WriteEmergencyFile(const std::string& home, const std::vector<unsigned char>& record,
                        std::string* error) {
  unsigned char secret[agent::kFileSecretSize];
  std::string why;
  if (agent::EnsureFileSecret(home, secret, &why) != agent::SecretStatus::kOk) {
    *error = "file secret: " + why;
    return false;
  }
  const std::string path = agent::EmergencyFilePath(home);
  const int rc = agent::WriteEmergencyPolicyFile(path, record, secret);
  SecureWipe(secret, sizeof secret);
  if (rc != 0) *error = "cannot write " + path;
  return rc == 0;
}

}  // namespace qor::agent_tool
