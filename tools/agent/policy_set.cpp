// JSON policy file -> PolicySet. Everything the library would silently map
// to a default (an unknown keyword, a key of the wrong size) is refused here
// instead, so a typo never reaches a running library as a different policy.
#include "policy_set.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string_view>

#include <nlohmann/json.hpp>

#include "common/secure_wipe.h"

namespace qor::agent_tool {

KeyBytes& KeyBytes::operator=(const KeyBytes& other) {
  if (this != &other) {
    SecureWipe(bytes_.data(), bytes_.size());
    bytes_ = other.bytes_;
  }
  return *this;
}

KeyBytes& KeyBytes::operator=(KeyBytes&& other) noexcept {
  if (this != &other) {
    SecureWipe(bytes_.data(), bytes_.size());
    bytes_ = std::move(other.bytes_);
  }
  return *this;
}

KeyBytes::~KeyBytes() { SecureWipe(bytes_.data(), bytes_.size()); }

namespace {

using nlohmann::json;

// Key lengths in bits each algorithm name accepts; the names are the exact
// texts the library's algorithm lookup knows (it matches by prefix, so a
// longer name would be taken for another algorithm without a word).
struct AlgorithmKeys {
  std::string_view name;
  std::array<uint32_t, 2> bits;  // 0 = unused slot
};
constexpr AlgorithmKeys kAlgorithms[] = {
    {"SEED", {128, 0}},     {"ARIA", {128, 256}},    {"AES", {128, 256}},
    {"3DES", {128, 192}},   {"TDES", {128, 192}},    {"LEA", {128, 256}},
    {"SHA256", {128, 256}}, {"SHA512", {128, 256}},  {"SHA3256", {128, 256}},
    {"SHA3512", {128, 256}}, {"LSH256", {128, 256}}, {"LSH512", {128, 256}},
    {"FPE", {128, 0}},
};

// Longest texts the record's readers keep: rule texts, date and time texts,
// pattern characters.
constexpr size_t kMaxRuleText = 127;
constexpr size_t kMaxDateTimeText = 15;
constexpr size_t kMaxPatternText = 256;
constexpr size_t kMaxNameText = 255;

struct LoadError {
  std::string field;
  std::string reason;
};

class Reader {
 public:
  explicit Reader(const json& object) : object_(object) {}

  const json* Find(const std::string& field) const {
    auto it = object_.find(field);
    return it == object_.end() ? nullptr : &*it;
  }

  std::string Text(const std::string& field, const std::string& fallback, bool required) const {
    const json* value = Find(field);
    if (value == nullptr) {
      if (required) throw LoadError{field, "is missing"};
      return fallback;
    }
    if (!value->is_string()) throw LoadError{field, "must be a string"};
    return value->get<std::string>();
  }

  std::string Keyword(const std::string& field, const std::string& fallback,
                      std::initializer_list<std::string_view> allowed) const {
    std::string text = Text(field, fallback, false);
    if (std::find(allowed.begin(), allowed.end(), text) == allowed.end()) {
      std::string list;
      for (std::string_view word : allowed) {
        if (!list.empty()) list += ", ";
        list += word;
      }
      throw LoadError{field, "\"" + text + "\" is not one of " + list};
    }
    return text;
  }

  bool Flag(const std::string& field, bool fallback) const {
    const json* value = Find(field);
    if (value == nullptr) return fallback;
    if (!value->is_boolean()) throw LoadError{field, "must be true or false"};
    return value->get<bool>();
  }

  uint64_t Number(const std::string& field, uint64_t fallback, bool required, uint64_t max) const {
    const json* value = Find(field);
    if (value == nullptr) {
      if (required) throw LoadError{field, "is missing"};
      return fallback;
    }
    if (!value->is_number_unsigned() && !(value->is_number_integer() && value->get<int64_t>() >= 0)) {
      throw LoadError{field, "must be a whole number of at least 0"};
    }
    const uint64_t number = value->get<uint64_t>();
    if (number > max) throw LoadError{field, "must be at most " + std::to_string(max)};
    return number;
  }

  // Checks that every member is one this schema knows, so a misspelt
  // optional field is not taken as "absent". With |problems| every unknown
  // field is listed there; without, the first one is thrown.
  void OnlyKnown(std::initializer_list<std::string_view> known, const std::string& prefix,
                 std::vector<LoadError>* problems = nullptr) const {
    for (auto it = object_.begin(); it != object_.end(); ++it) {
      if (std::find(known.begin(), known.end(), it.key()) == known.end()) {
        LoadError error{prefix + it.key(), "is not a known field"};
        if (problems == nullptr) throw error;
        problems->push_back(std::move(error));
      }
    }
  }

 private:
  const json& object_;
};

std::vector<unsigned char> HexBytes(const std::string& text, const std::string& field) {
  if (text.size() % 2 != 0) throw LoadError{field, "hex text has an odd number of digits"};
  std::vector<unsigned char> bytes;
  bytes.reserve(text.size() / 2);
  auto digit = [&](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    SecureWipe(bytes.data(), bytes.size());
    throw LoadError{field, std::string("is not hex (character '") + c + "')"};
  };
  for (size_t i = 0; i < text.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(digit(text[i]) * 16 + digit(text[i + 1])));
  }
  return bytes;
}

// Time texts are read by the library as "all but the last three characters,
// decimal"; anything else would silently become 0.
void CheckTimeText(const std::string& text, const std::string& field) {
  if (text.size() < 4 || text.size() > 48) throw LoadError{field, "must have 4 to 48 characters"};
  for (size_t i = 0; i + 3 < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') {
      throw LoadError{field, "must be digits followed by three characters, e.g. \"2024010100Z\""};
    }
  }
}

void CheckBounded(const std::string& text, size_t max, const std::string& field) {
  if (text.size() > max) throw LoadError{field, "is longer than " + std::to_string(max) + " characters"};
}

void CheckDate(const std::string& text, const std::string& field) {
  CheckBounded(text, kMaxDateTimeText, field);
  int y = 0, m = 0, d = 0;
  char tail = 0;
  if (!text.empty() && (std::sscanf(text.c_str(), "%d-%d-%d%c", &y, &m, &d, &tail) != 3 || m < 1 ||
                        m > 12 || d < 1 || d > 31)) {
    throw LoadError{field, "must be a date \"YYYY-MM-DD\" or empty"};
  }
}

void CheckTimeOfDay(const std::string& text, const std::string& field) {
  CheckBounded(text, kMaxDateTimeText, field);
  int h = 0, m = 0;
  char tail = 0;
  if (!text.empty() && (std::sscanf(text.c_str(), "%d:%d%c", &h, &m, &tail) != 2 || h < 0 ||
                        h > 23 || m < 0 || m > 59)) {
    throw LoadError{field, "must be a time of day \"HH:MM\" or empty"};
  }
}

std::vector<std::string> RuleList(const json& rule, const std::string& field) {
  std::vector<std::string> out;
  auto it = rule.find(field);
  if (it == rule.end()) return out;
  if (!it->is_array()) throw LoadError{field, "must be an array of strings"};
  for (size_t i = 0; i < it->size(); ++i) {
    const std::string where = field + "[" + std::to_string(i) + "]";
    if (!(*it)[i].is_string()) throw LoadError{where, "must be a string"};
    std::string text = (*it)[i].get<std::string>();
    // An empty rule ends the list when the library reads it back.
    if (text.empty()) throw LoadError{where, "must not be empty"};
    CheckBounded(text, kMaxRuleText, where);
    out.push_back(std::move(text));
  }
  return out;
}

KeyVersion ReadKey(const json& entry, const std::string& prefix, size_t keyBytes) {
  if (!entry.is_object()) throw LoadError{prefix, "must be an object"};
  Reader r(entry);
  r.OnlyKnown({"version", "key", "status", "validFrom", "validTo"}, prefix + ".");
  KeyVersion key;
  key.version = static_cast<uint16_t>(r.Number("version", 0, true, 0xFFFF));
  std::vector<unsigned char> bytes = HexBytes(r.Text("key", "", true), prefix + ".key");
  if (bytes.size() != keyBytes) {
    const size_t got = bytes.size();
    SecureWipe(bytes.data(), bytes.size());
    throw LoadError{prefix + ".key", "has " + std::to_string(got) + " bytes, the key length needs " +
                                         std::to_string(keyBytes)};
  }
  key.key = KeyBytes(std::move(bytes));
  key.status = r.Keyword("status", "active", {"active", "deactive", "expired"});
  key.validFrom = r.Text("validFrom", "1970010100Z", false);
  CheckTimeText(key.validFrom, prefix + ".validFrom");
  key.validTo = r.Text("validTo", "9999123100Z", false);
  CheckTimeText(key.validTo, prefix + ".validTo");
  return key;
}

AccessRule ReadRule(const json& entry, const std::string& prefix) {
  if (!entry.is_object()) throw LoadError{prefix, "must be an object"};
  Reader r(entry);
  r.OnlyKnown({"identity1", "identity2", "identity3", "weekdays", "dateFrom", "dateTo", "timeFrom",
               "timeTo", "decrypt", "encrypt"},
              prefix + ".");
  AccessRule rule;
  auto list = [&](const char* field) {
    try {
      return RuleList(entry, field);
    } catch (const LoadError& e) {
      throw LoadError{prefix + "." + e.field, e.reason};
    }
  };
  rule.identity1 = list("identity1");
  rule.identity2 = list("identity2");
  rule.identity3 = list("identity3");
  rule.weekdays = list("weekdays");
  for (const std::string& day : rule.weekdays) {
    if (day.size() != 1 || day[0] < '1' || day[0] > '7') {
      throw LoadError{prefix + ".weekdays", "\"" + day + "\" is not a digit 1 (Sunday) to 7"};
    }
  }
  rule.dateFrom = r.Text("dateFrom", "", false);
  CheckDate(rule.dateFrom, prefix + ".dateFrom");
  rule.dateTo = r.Text("dateTo", "", false);
  CheckDate(rule.dateTo, prefix + ".dateTo");
  rule.timeFrom = r.Text("timeFrom", "", false);
  CheckTimeOfDay(rule.timeFrom, prefix + ".timeFrom");
  rule.timeTo = r.Text("timeTo", "", false);
  CheckTimeOfDay(rule.timeTo, prefix + ".timeTo");
  rule.decrypt = r.Flag("decrypt", true);
  rule.encrypt = r.Flag("encrypt", true);
  return rule;
}

void ReadPattern(const json& object, Policy& p) {
  Reader r(object);
  r.OnlyKnown({"type", "characters", "position"}, "pattern.");
  p.patternType = r.Keyword("type", "ALL", {"ALL", "EXCLUDE_STRING", "CHARACTER", "MIDDLE"});
  if (p.patternType == "ALL") return;
  p.patternCharacters = r.Text("characters", "", true);
  p.patternPosition = r.Keyword("position", "", {"FRONT", "BACK"});
  const std::string& chars = p.patternCharacters;
  if (chars.empty()) throw LoadError{"pattern.characters", "must not be empty"};
  CheckBounded(chars, kMaxPatternText, "pattern.characters");
  const bool digits = std::all_of(chars.begin(), chars.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (p.patternType == "EXCLUDE_STRING" && (!digits || chars.size() > 9)) {
    throw LoadError{"pattern.characters", "must be the number of clear characters"};
  }
  if (p.patternType == "MIDDLE") {
    // The library reads only the first 8 characters: "A,B".
    unsigned a = 0, b = 0;
    char tail = 0;
    if (chars.size() > 8 || std::sscanf(chars.c_str(), "%u,%u%c", &a, &b, &tail) != 2 || b == 0) {
      throw LoadError{"pattern.characters", "must be \"A,B\" (offset, length), at most 8 characters"};
    }
  }
}

// Runs |step| and lists its error instead of ending the read, so one pass
// over the file names every error in it.
template <class Step>
void Collect(std::vector<LoadError>& problems, Step step) {
  try {
    step();
  } catch (const LoadError& e) {
    problems.push_back(e);
  }
}

// Algorithm, key length and key versions: each depends on the one before.
void ReadAlgorithmAndKeys(const Reader& r, Policy& p, std::vector<LoadError>& problems) {
  p.algorithm = r.Text("algorithm", "", true);
  const AlgorithmKeys* algorithm = nullptr;
  for (const AlgorithmKeys& a : kAlgorithms) {
    if (a.name == p.algorithm) algorithm = &a;
  }
  if (algorithm == nullptr) {
    std::string list;
    for (const AlgorithmKeys& a : kAlgorithms) list += (list.empty() ? "" : ", ") + std::string(a.name);
    throw LoadError{"algorithm", "unknown algorithm \"" + p.algorithm + "\" (known: " + list + ")"};
  }
  p.keyLengthBits = static_cast<uint32_t>(r.Number("keyLength", 0, true, 4096));
  if (std::find(algorithm->bits.begin(), algorithm->bits.end(), p.keyLengthBits) ==
          algorithm->bits.end() ||
      p.keyLengthBits == 0) {
    std::string list;
    for (uint32_t bits : algorithm->bits) {
      if (bits != 0) list += (list.empty() ? "" : " or ") + std::to_string(bits);
    }
    throw LoadError{"keyLength", std::to_string(p.keyLengthBits) + " bits does not fit " +
                                     p.algorithm + " (" + list + ")"};
  }

  const json* keys = r.Find("keys");
  if (keys == nullptr) throw LoadError{"keys", "is missing"};
  if (!keys->is_array() || keys->empty()) throw LoadError{"keys", "must be a non-empty array"};
  std::set<uint16_t> versions;
  for (size_t i = 0; i < keys->size(); ++i) {
    Collect(problems, [&] {
      const std::string where = "keys[" + std::to_string(i) + "]";
      KeyVersion key = ReadKey((*keys)[i], where, p.keyLengthBits / 8);
      if (!versions.insert(key.version).second) {
        throw LoadError{where + ".version",
                        "version " + std::to_string(key.version) + " appears twice"};
      }
      p.keys.push_back(std::move(key));
    });
  }

  // The library encrypts with the first version of the record, so the
  // highest version leads; the file may list them in any order.
  std::stable_sort(p.keys.begin(), p.keys.end(),
                   [](const KeyVersion& a, const KeyVersion& b) { return a.version > b.version; });
}

// Reads one policy; every error found goes to |problems| (a field whose value
// is wrong may hide the errors of the fields that depend on it).
Policy ReadPolicy(const json& entry, std::vector<LoadError>& problems) {
  Policy p;
  if (!entry.is_object()) {
    problems.push_back(LoadError{"", "must be an object"});
    return p;
  }
  Reader r(entry);
  r.OnlyKnown({"name", "kind", "algorithm", "keyLength", "keys", "ivType", "errorHandling",
               "nullProcessing", "duplicates", "pattern", "compatibility", "decryptLimit",
               "unauthorizedDecryption", "priority", "audit", "accessRules", "file"},
              "", &problems);
  Collect(problems, [&] {
    p.name = r.Text("name", "", true);
    if (p.name.empty()) throw LoadError{"name", "must not be empty"};
    CheckBounded(p.name, kMaxNameText, "name");
    if (std::any_of(p.name.begin(), p.name.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
      throw LoadError{"name", "must not contain control characters"};
    }
    if (p.name.find(':') != std::string::npos) {
      throw LoadError{"name", "must not contain ':' (single-key requests are \"name:version\")"};
    }
  });
  Collect(problems, [&] { p.kind = r.Text("kind", "COLUMN", false); });
  Collect(problems, [&] { ReadAlgorithmAndKeys(r, p, problems); });
  Collect(problems, [&] { p.ivType = r.Keyword("ivType", "POLICY", {"POLICY", "RECORD"}); });
  Collect(problems, [&] {
    p.errorHandling = r.Keyword("errorHandling", "RETURN_ERROR",
                                {"RETURN_ERROR", "RETURN_NULL", "RETURN_INPUT"});
  });
  Collect(problems, [&] { p.nullProcessing = r.Flag("nullProcessing", false); });
  Collect(problems, [&] {
    p.duplicates = r.Keyword("duplicates", "ALLOW", {"ALLOW", "RETURN_INPUT", "ERROR"});
  });
  Collect(problems, [&] {
    if (const json* pattern = r.Find("pattern")) {
      if (!pattern->is_object()) throw LoadError{"pattern", "must be an object"};
      ReadPattern(*pattern, p);
    }
  });
  Collect(problems, [&] {
    p.compatibility = r.Keyword("compatibility", "ULVEX", {"ULVEX", "STANDARD"});
  });
  Collect(problems, [&] {
    if (const json* limit = r.Find("decryptLimit")) {
      if (!limit->is_object()) throw LoadError{"decryptLimit", "must be an object"};
      Reader l(*limit);
      l.OnlyKnown({"unit", "count"}, "decryptLimit.", &problems);
      p.decryptLimitUnit = l.Keyword("unit", "NONE", {"NONE", "DAY", "HOUR"});
      p.decryptLimitCount = static_cast<uint32_t>(l.Number("count", 0, false, 0x7FFFFFFF));
    }
  });
  Collect(problems, [&] {
    p.unauthorizedDecryption =
        r.Keyword("unauthorizedDecryption", "NONE",
                  {"NONE", "RETURN_NULL", "ERROR", "CIPHERTEXT", "USER_DEFINED1", "USER_DEFINED2"});
  });
  Collect(problems, [&] {
    p.priority = r.Keyword("priority", "NONE", {"NONE", "ALLOW_FIRST", "BLOCK_FIRST"});
  });
  Collect(problems, [&] {
    if (const json* audit = r.Find("audit")) {
      if (!audit->is_object()) throw LoadError{"audit", "must be an object"};
      Reader a(*audit);
      a.OnlyKnown({"encryptSuccess", "encryptFailure", "decryptSuccess", "decryptFailure"}, "audit.",
                  &problems);
      p.audit[0] = a.Flag("encryptSuccess", false);
      p.audit[1] = a.Flag("encryptFailure", false);
      p.audit[2] = a.Flag("decryptSuccess", false);
      p.audit[3] = a.Flag("decryptFailure", false);
    }
  });
  Collect(problems, [&] {
    if (const json* rules = r.Find("accessRules")) {
      if (!rules->is_array()) throw LoadError{"accessRules", "must be an array"};
      for (size_t i = 0; i < rules->size(); ++i) {
        Collect(problems, [&] {
          p.accessRules.push_back(ReadRule((*rules)[i], "accessRules[" + std::to_string(i) + "]"));
        });
      }
    }
  });
  Collect(problems, [&] {
    if (const json* file = r.Find("file")) {
      if (!file->is_object()) throw LoadError{"file", "must be an object"};
      Reader f(*file);
      f.OnlyKnown({"targetExist", "original", "backupExtension", "deleteEncrypted",
                   "verifyEncrypted", "verifyOriginal"},
                  "file.", &problems);
      p.targetExist =
          f.Keyword("targetExist", "OVERWRITE", {"BYPASS", "OVERWRITE", "RENAME", "REFUSE"});
      p.originalFile = f.Keyword("original", "KEEP", {"KEEP", "DELETE", "BACKUP"});
      p.backupExtension = f.Text("backupExtension", "", false);
      CheckBounded(p.backupExtension, kMaxNameText, "file.backupExtension");
      if (p.originalFile == "BACKUP" && p.backupExtension.empty()) {
        throw LoadError{"file.backupExtension", "is needed to keep a backup of the original"};
      }
      p.deleteEncryptedFile = f.Flag("deleteEncrypted", false);
      p.verifyEncryptedData = f.Flag("verifyEncrypted", false);
      p.verifyOriginalData = f.Flag("verifyOriginal", false);
    }
  });
  return p;
}

}  // namespace

std::optional<PolicySet> ParsePolicySet(const std::string& text, const std::string& origin,
                                        std::string* error) {
  json document;
  try {
    document = json::parse(text);
  } catch (const json::parse_error& e) {
    *error = origin + ": not valid JSON: " + e.what();
    return std::nullopt;
  }
  if (!document.is_object() || !document.contains("policies") || !document["policies"].is_array()) {
    *error = origin + ": field \"policies\": must be an array of policies";
    return std::nullopt;
  }
  PolicySet set;
  std::set<std::string> names;
  std::vector<std::string> lines;
  const json& policies = document["policies"];
  for (size_t i = 0; i < policies.size(); ++i) {
    const json& entry = policies[i];
    std::string label = "#" + std::to_string(i);
    if (entry.is_object() && entry.contains("name") && entry["name"].is_string()) {
      label = "\"" + entry["name"].get<std::string>() + "\"";
    }
    std::vector<LoadError> problems;
    Policy policy;
    try {
      policy = ReadPolicy(entry, problems);
    } catch (const json::exception& e) {
      lines.push_back(origin + ": policy " + label + ": " + e.what());
      continue;
    }
    // The library finds a policy by name and would only ever see the first.
    if (!policy.name.empty() && !names.insert(policy.name).second) {
      problems.push_back(LoadError{"name", "the name appears twice"});
    }
    for (const LoadError& e : problems) {
      lines.push_back(origin + ": policy " + label + ": " +
                      (e.field.empty() ? "" : "field \"" + e.field + "\": ") + e.reason);
    }
    if (problems.empty()) set.policies.push_back(std::move(policy));
  }
  if (!lines.empty()) {
    *error = lines.front();
    for (size_t i = 1; i < lines.size(); ++i) *error += "\n" + lines[i];
    return std::nullopt;
  }
  return set;
}

std::optional<PolicySet> LoadPolicySet(const std::string& path, std::string* error) {
  // Read with the system calls so the reason of a failure can be told.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st{};
  if (fd < 0 || fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int why = fd < 0 ? errno : (S_ISDIR(st.st_mode) ? EISDIR : errno);
    if (fd >= 0) close(fd);
    *error = path + ": cannot be read: " + std::strerror(why);
    return std::nullopt;
  }
  std::string content;
  content.reserve(static_cast<size_t>(st.st_size) + 1);
  char block[4096];
  for (;;) {
    const ssize_t n = read(fd, block, sizeof block);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int why = errno;
      close(fd);
      SecureWipe(block, sizeof block);
      SecureWipe(content.data(), content.size());
      *error = path + ": cannot be read: " + std::strerror(why);
      return std::nullopt;
    }
    // Within the reserved room no reallocation leaves a copy behind.
    content.append(block, static_cast<size_t>(n));
  }
  close(fd);
  SecureWipe(block, sizeof block);
  auto set = ParsePolicySet(content, path, error);
  SecureWipe(content.data(), content.size());
  return set;
}

}  // namespace qor::agent_tool
