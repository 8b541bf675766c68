// What a policy record lets the library check before it trusts it: one outer
// SEQUENCE that fills the record exactly, elements that nest exactly within
// it, and the constructed element with the policies. A record that fails is never loaded. The policy hash is
// the agent's change marker, compared only with what the agent serves later:
// how the agent computes it is its own affair, so its content is not checked
// here (the key manager logs a missing or wrong-length one).
#pragma once

#include <cstddef>

namespace qor::agent {

inline constexpr size_t kPolicyHashTextSize = 88;

enum class RecordCheck {
  kOk = 0,
  kNotARecord,    // no outer SEQUENCE, bytes after it, or elements that overrun
  kNoPolicies,    // no constructed element that could hold policies
};

// Base64 of SHA-512 over |policies| into |text| (88 characters, no terminator):
// the hash our writers and the stand-in agent give a record.
bool PolicyHashOf(const unsigned char* policies, size_t length,
                  char (&text)[kPolicyHashTextSize]);

RecordCheck CheckPolicyRecord(const unsigned char* record, size_t length);

// A short reason for the error record and the log.
const char* RecordCheckText(RecordCheck check);

}  // namespace qor::agent
