// Writes policy records in the form the policy reader reads: for the agent
// stand-in that serves key sets, and for tests. Texts are OCTET STRINGs,
// numbers INTEGERs (unsigned, big-endian, shortest form), flag bytes
// BOOLEANs, lists SEQUENCEs; lengths in the definite form.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qor::agent {

using Bytes = std::vector<uint8_t>;

// One key version (the key record of a single-key answer has the same fields).
struct KeyVersionDesc {
  uint64_t version = 1;
  Bytes key;                       // at least the policy's key length in bytes
  std::string status = "active";
  std::string firstTime = "2026010100Z";   // all but the last three characters are read
  std::string secondTime = "2036123123Z";
};

// One access rule entry.
struct AccessRuleDesc {
  std::array<std::vector<std::string>, 4> rules;  // identities 1..3, weekday digits
  std::string dateFrom, dateTo;                   // "%d-%d-%d", empty for none
  std::string timeFrom, timeTo;                   // "%d:%d", empty for none
  uint8_t decryptAllowed = 1;
  uint8_t encryptAllowed = 1;
};

// Every item of one policy, in record order.
struct PolicyDesc {
  std::string name;                          // 1
  std::string item2 = "COLUMN";              // 2
  std::string algorithm = "ARIA";            // 3
  uint64_t keyBits = 128;                    // 4
  std::vector<KeyVersionDesc> keys;          // 5
  std::string ivType = "POLICY";             // 6: "RECORD"
  std::string item7;                         // 7
  std::string errorProcess = "RETURN_ERROR"; // 8
  uint8_t nullProcess = 0;                   // 9
  std::string duplication = "ALLOW";         // 10
  std::string patternType = "ALL";           // 11
  std::string patternChars;                  // 12
  std::string position;                      // 13
  std::string compatibility = "ULVEX";       // 14
  std::string item15, item16;                // 15, 16
  std::string decryptCountUnit;              // 17
  uint64_t item18 = 0;                       // 18
  uint64_t decryptCnt = 0;                   // 19
  std::string unauthorizedDecryption;        // 20
  std::string item21;                        // 21
  std::string prio;                          // 22
  std::array<uint8_t, 4> audit{};            // 23..26: 255 is on
  std::vector<AccessRuleDesc> acl;           // 27
  std::string targetExist;                   // 28
  std::string orgFileHandling;               // 29
  std::string orgBackupExtension;            // 30
  uint8_t encFileDelete = 0;                 // 31
  uint8_t encDataVerify = 0;                 // 32
  uint8_t orgDataVerify = 0;                 // 33
};

inline constexpr size_t kPolicyHashSize = 88;

struct PolicySetDesc {
  // Empty: the record carries the hash of its policies, as an agent sends it.
  Bytes hash;
  std::vector<PolicyDesc> policies;
};

// One element: tag, definite length, content.
Bytes EncodeTlv(uint8_t tag, const Bytes& content);
Bytes EncodeText(const std::string& text);
Bytes EncodeNumber(uint64_t value);
Bytes EncodeFlag(uint8_t value);
// A SEQUENCE of already encoded elements.
Bytes EncodeSequence(const std::vector<Bytes>& elements);

// The 33 encoded items of a policy, so a caller can reorder, drop or replace some.
std::vector<Bytes> EncodePolicyItems(const PolicyDesc& policy);
// A policy record around already encoded policies (each one element).
Bytes EncodePolicyRecord(const Bytes& hash, const std::vector<Bytes>& policies);
// The whole record of an operation-1 answer or an emergency policy file.
Bytes EncodePolicySet(const PolicySetDesc& set);
// The answer to a single-key request: a SEQUENCE of the five key fields.
Bytes EncodeKeyRecord(const KeyVersionDesc& key);

}  // namespace qor::agent
