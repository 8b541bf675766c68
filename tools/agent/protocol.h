// What the agent answers to one request. Pure: the transport hands in the
// received header and body and sends back what comes out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "served_set.h"

namespace qor::agent_tool {

// Requests carry 48 bytes after the header (two fixed fields and the seed),
// plus "name:version" for a single key; anything longer is refused unread.
inline constexpr size_t kRequestFixedLength = 16 + 32;
inline constexpr size_t kMaxRequestBody = kRequestFixedLength + 512;

// Answers of this size or more are sealed while they are sent: the client
// starts on the first pieces while the rest is still being sealed.
inline constexpr size_t kSealAsSentFrom = 64 * 1024;

struct Answer {
  uint8_t operation = 0;            // 0: refusal, the body is plain text
  std::vector<unsigned char> body;  // encrypted under the request's session key otherwise
  // Or, for a large answer, the plain bytes to seal while sending (they stay
  // owned by the served set, which the caller keeps until the answer is
  // sent) and the request's seed.
  const std::vector<unsigned char>* sealAsSent = nullptr;
  std::array<unsigned char, 32> seed{};
  std::string outcome;              // for the request log
};

Answer Refusal(const std::string& text);

// |body| is the request body after the five header bytes.
Answer AnswerRequest(uint8_t operation, const unsigned char* body, size_t length,
                     const ServedSet& set);

}  // namespace qor::agent_tool
