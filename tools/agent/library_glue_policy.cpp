// The agent's use of the library's policy-record writer and emergency file.
#include <cstring>

#include "agent/emergency/emergency_file.h"
#include "agent/emergency/file_secret.h"
#include "agent/policy/policy_writer.h"
#include "common/secure_wipe.h"
#include "library_glue.h"

namespace qor::agent_tool {
namespace {

agent::KeyVersionDesc WriterKey(const KeyVersion& key) {
  agent::KeyVersionDesc out;
  out.version = key.version;
  out.key.assign(key.key.bytes().begin(), key.key.bytes().end());
  out.status = key.status;
  out.firstTime = key.validFrom;
  out.secondTime = key.validTo;
  return out;
}

void WipeKeys(agent::PolicyDesc& policy) {
  for (auto& key : policy.keys) SecureWipe(key.key.data(), key.key.size());
}

agent::PolicyDesc WriterPolicy(const Policy& p) {
  agent::PolicyDesc out;
  out.name = p.name;
  out.item2 = p.kind;
  out.algorithm = p.algorithm;
  out.keyBits = p.keyLengthBits;
  for (const KeyVersion& key : p.keys) out.keys.push_back(WriterKey(key));
  out.ivType = p.ivType;
  out.errorProcess = p.errorHandling;
  out.nullProcess = p.nullProcessing ? 1 : 0;
  out.duplication = p.duplicates;
  out.patternType = p.patternType;
  out.patternChars = p.patternCharacters;
  out.position = p.patternPosition;
  out.compatibility = p.compatibility;
  out.decryptCountUnit = p.decryptLimitUnit;
  out.decryptCnt = p.decryptLimitCount;
  out.unauthorizedDecryption = p.unauthorizedDecryption;
  out.prio = p.priority;
  for (size_t i = 0; i < 4; ++i) out.audit[i] = p.audit[i] ? 255 : 0;
  for (const AccessRule& rule : p.accessRules) {
    agent::AccessRuleDesc entry;
    entry.rules = {rule.identity1, rule.identity2, rule.identity3, rule.weekdays};
    entry.dateFrom = rule.dateFrom;
    entry.dateTo = rule.dateTo;
    entry.timeFrom = rule.timeFrom;
    entry.timeTo = rule.timeTo;
    entry.decryptAllowed = rule.decrypt ? 1 : 0;
    entry.encryptAllowed = rule.encrypt ? 1 : 0;
    out.acl.push_back(std::move(entry));
  }
  out.targetExist = p.targetExist;
  // The library reads "BACKUP" without an extension as "leave the original
  // alone", any other text but "DELETE" as "rename it with the extension".
  if (p.originalFile == "KEEP") {
    out.orgFileHandling = "BACKUP";
    out.orgBackupExtension.clear();
  } else {
    out.orgFileHandling = p.originalFile;
    out.orgBackupExtension = p.backupExtension;
  }
  out.encFileDelete = p.deleteEncryptedFile ? 1 : 0;
  out.encDataVerify = p.verifyEncryptedData ? 1 : 0;
  out.orgDataVerify = p.verifyOriginalData ? 1 : 0;
  return out;
}

}  // namespace

std::vector<std::vector<unsigned char>> EncodePolicies(const PolicySet& set) {
  std::vector<std::vector<unsigned char>> policies;
  for (const Policy& p : set.policies) {
    agent::PolicyDesc out = WriterPolicy(p);
    policies.push_back(agent::EncodeSequence(agent::EncodePolicyItems(out)));
    WipeKeys(out);
  }
  return policies;
}

std::vector<unsigned char> EncodeRecord(const std::vector<std::vector<unsigned char>>& policies,
                                        const std::string& hash) {
  return agent::EncodePolicyRecord(agent::Bytes(hash.begin(), hash.end()), policies);
}

std::vector<unsigned char> EncodeKeyRecord(const KeyVersion& key) {
  agent::KeyVersionDesc out = WriterKey(key);
  std::vector<unsigned char> record = agent::EncodeKeyRecord(out);
  SecureWipe(out.key.data(), out.key.size());
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
