// The policy record writer: the exact inverse of the reader's layout.
#include "agent/policy/policy_writer.h"

#include "agent/policy/record_check.h"
#include "qor/policy.h"

namespace qor::agent {

Bytes EncodeTlv(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    int bytes = 1;
    while (bytes < 4 && (n >> (8 * bytes)) != 0) ++bytes;
    out.push_back(static_cast<uint8_t>(0x80 | bytes));
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(n >> (8 * i)));
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes EncodeText(const std::string& text) {
  return EncodeTlv(BER_TAG_OCTET_STRING, Bytes(text.begin(), text.end()));
}

Bytes EncodeNumber(uint64_t value) {
  Bytes content;
  do {
    content.insert(content.begin(), static_cast<uint8_t>(value & 0xFF));
    value >>= 8;
  } while (value != 0);
  return EncodeTlv(BER_TAG_INTEGER, content);
}

Bytes EncodeFlag(uint8_t value) { return EncodeTlv(BER_TAG_BOOLEAN, Bytes{value}); }

Bytes EncodeSequence(const std::vector<Bytes>& elements) {
  Bytes content;
  for (const Bytes& e : elements) content.insert(content.end(), e.begin(), e.end());
  return EncodeTlv(BER_TAG_SEQUENCE, content);
}

Bytes EncodeKeyRecord(const KeyVersionDesc& key) {
  return EncodeSequence({EncodeNumber(key.version), EncodeTlv(BER_TAG_OCTET_STRING, key.key),
                         EncodeText(key.status), EncodeText(key.firstTime),
                         EncodeText(key.secondTime)});
}

namespace {

Bytes EncodeRule(const AccessRuleDesc& rule) {
  std::vector<Bytes> fields;
  for (const auto& list : rule.rules) {
    std::vector<Bytes> texts;
    for (const std::string& r : list) texts.push_back(EncodeText(r));
    fields.push_back(EncodeSequence(texts));
  }
  for (const std::string* t : {&rule.dateFrom, &rule.dateTo, &rule.timeFrom, &rule.timeTo}) {
    fields.push_back(EncodeText(*t));
  }
  fields.push_back(EncodeFlag(rule.decryptAllowed));
  fields.push_back(EncodeFlag(rule.encryptAllowed));
  return EncodeSequence(fields);
}

}  // namespace

std::vector<Bytes> EncodePolicyItems(const PolicyDesc& p) {
  std::vector<Bytes> keys;
  for (const KeyVersionDesc& k : p.keys) keys.push_back(EncodeKeyRecord(k));
  std::vector<Bytes> rules;
  for (const AccessRuleDesc& r : p.acl) rules.push_back(EncodeRule(r));
  return {EncodeText(p.name),
          EncodeText(p.item2),
          EncodeText(p.algorithm),
          EncodeNumber(p.keyBits),
          EncodeSequence(keys),
          EncodeText(p.ivType),
          EncodeText(p.item7),
          EncodeText(p.errorProcess),
          EncodeFlag(p.nullProcess),
          EncodeText(p.duplication),
          EncodeText(p.patternType),
          EncodeText(p.patternChars),
          EncodeText(p.position),
          EncodeText(p.compatibility),
          EncodeText(p.item15),
          EncodeText(p.item16),
          EncodeText(p.decryptCountUnit),
          EncodeNumber(p.item18),
          EncodeNumber(p.decryptCnt),
          EncodeText(p.unauthorizedDecryption),
          EncodeText(p.item21),
          EncodeText(p.prio),
          EncodeFlag(p.audit[0]),
          EncodeFlag(p.audit[1]),
          EncodeFlag(p.audit[2]),
          EncodeFlag(p.audit[3]),
          EncodeSequence(rules),
          EncodeText(p.targetExist),
          EncodeText(p.orgFileHandling),
          EncodeText(p.orgBackupExtension),
          EncodeFlag(p.encFileDelete),
          EncodeFlag(p.encDataVerify),
          EncodeFlag(p.orgDataVerify)};
}

Bytes EncodePolicyRecord(const Bytes& hash, const std::vector<Bytes>& policies) {
  return EncodeSequence({EncodeTlv(BER_TAG_OCTET_STRING, hash), EncodeSequence(policies)});
}

Bytes EncodePolicySet(const PolicySetDesc& set) {
  std::vector<Bytes> policies;
  for (const PolicyDesc& p : set.policies) policies.push_back(EncodeSequence(EncodePolicyItems(p)));
  if (!set.hash.empty()) return EncodePolicyRecord(set.hash, policies);
  Bytes content;
  for (const Bytes& p : policies) content.insert(content.end(), p.begin(), p.end());
  char text[kPolicyHashTextSize];
  if (!PolicyHashOf(content.data(), content.size(), text)) return {};
  return EncodePolicyRecord(Bytes(text, text + kPolicyHashTextSize), policies);
}

}  // namespace qor::agent
