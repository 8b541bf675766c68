// Request checks and answer building. A request is refused (operation 0 and a
// plain text) whenever anything about it is off; it never reaches an encoder.
#include "protocol.h"

#include <cstring>

#include "agent/socket/client_protocol.h"
#include "library_glue.h"

namespace qor::agent_tool {
namespace {

constexpr size_t kSeedOffset = sizeof agent::kFixedField1 + sizeof agent::kFixedField2;
constexpr size_t kMaxNameLength = 255;

Answer Sealed(const unsigned char* seed, uint8_t operation, const std::vector<unsigned char>& plain,
              std::string outcome) {
  Answer answer;
  if (!SealAnswer(seed, operation, plain, &answer.body)) return Refusal("answer could not be encrypted");
  answer.operation = operation;
  answer.outcome = std::move(outcome);
  return answer;
}

// "name:version" with a decimal version of at most 16 bits.
bool SplitKeyRequest(const unsigned char* payload, size_t length, std::string* name,
                     uint16_t* version) {
  const std::string text(reinterpret_cast<const char*>(payload), length);
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon > kMaxNameLength) return false;
  const std::string digits = text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5) return false;
  uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value > 0xFFFF) return false;
  // Names come back in refusals and log lines: no control characters.
  for (size_t i = 0; i < colon; ++i) {
    if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7F) return false;
  }
  *name = text.substr(0, colon);
  *version = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

Answer Refusal(const std::string& text) {
  Answer answer;
  answer.operation = 0;
  answer.body.assign(text.begin(), text.end());
  answer.outcome = "refused: " + text;
  return answer;
}

Answer AnswerRequest(uint8_t operation, const unsigned char* body, size_t length,
                     const ServedSet& set) {
  if (length < kRequestFixedLength || body == nullptr) return Refusal("malformed request: too short");
  if (length > kMaxRequestBody) return Refusal("malformed request: too long");
  if (std::memcmp(body, agent::kFixedField1, 8) != 0 ||
      std::memcmp(body + 8, agent::kFixedField2, 8) != 0) {
    return Refusal("malformed request: unexpected fixed fields");
  }
  const unsigned char* seed = body + kSeedOffset;
  const unsigned char* payload = body + kSeedOffset + agent::kSeedSize;
  const size_t payloadLength = length - kRequestFixedLength;

  if (operation < 1 || operation > 5) {
    return Refusal("unknown operation [" + std::to_string(operation) + "]");
  }
  if (operation != 3 && payloadLength != 0) {
    return Refusal("malformed request: operation " + std::to_string(operation) +
                   " takes no payload");
  }
  switch (operation) {
    case 1: {
      std::string outcome = "ok: policy set, " + std::to_string(set.policyCount()) + " policies";
      if (set.record().size() < kSealAsSentFrom) {
        return Sealed(seed, operation, set.record(), std::move(outcome));
      }
      Answer answer;
      answer.operation = operation;
      answer.sealAsSent = &set.record();
      std::memcpy(answer.seed.data(), seed, answer.seed.size());
      answer.outcome = std::move(outcome);
      return answer;
    }
    case 2: {
      const std::vector<unsigned char> hash(set.hash().begin(), set.hash().end());
      return Sealed(seed, operation, hash, "ok: policy hash");
    }
    case 3: {
      std::string name;
      uint16_t version = 0;
      if (!SplitKeyRequest(payload, payloadLength, &name, &version)) {
        return Refusal("malformed request: key request is not \"name:version\"");
      }
      const SecretBytes* record = set.KeyRecord(name, version);
      if (record == nullptr) {
        return Refusal("unknown key [" + name + ":" + std::to_string(version) + "]");
      }
      return Sealed(seed, operation, record->bytes(),
                    "ok: key " + name + ":" + std::to_string(version));
    }
    case 4:
    case 5:
      // This program is its own key server, so both report healthy while a
      // set is served.
      return Sealed(seed, operation, {1}, operation == 4 ? "ok: agent healthy" : "ok: server healthy");
    default:
      return Refusal("unknown operation [" + std::to_string(operation) + "]");
  }
}

}  // namespace qor::agent_tool
