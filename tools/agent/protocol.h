// What the agent answers to one request. Pure: the transport hands in the
// received header and body and sends back what comes out.
#pragma once

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

struct Answer {
  uint8_t operation = 0;            // 0: refusal, the body is plain text
  std::vector<unsigned char> body;  // encrypted under the request's session key otherwise
  std::string outcome;              // for the request log
};

Answer Refusal(const std::string& text);

// |body| is the request body after the five header bytes.
Answer AnswerRequest(uint8_t operation, const unsigned char* body, size_t length,
                     const ServedSet& set);

}  // namespace qor::agent_tool
