// The answer to a single-key request: one SEQUENCE of key version, key bytes,
// status and the two time values, read with the policy record's element reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qor::agent {

struct KeyRecord {
  int64_t version = 0;            // the key object keeps the low 16 bits
  std::vector<uint8_t> key;       // wiped on destruction
  std::string status;
  int32_t firstTime = 0;
  int32_t secondTime = 0;

  KeyRecord() = default;
  KeyRecord(const KeyRecord&) = delete;
  KeyRecord& operator=(const KeyRecord&) = delete;
  ~KeyRecord();
};

// Fills |out| from |bytes|: true, or false when the record is not a SEQUENCE
// of five primitive fields, its version has more than 8 bytes, or its key is
// shorter than |keyBytes| (the policy's key length).
bool ReadKeyRecord(const uint8_t* bytes, size_t length, uint32_t keyBytes, KeyRecord* out);

}  // namespace qor::agent
