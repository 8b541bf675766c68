// Algorithm name and key length -> algorithm code, from the algorithm table.
#include "qor/cipher_tables.h"

#include <cstring>

#include "engine/algorithms/algorithm_table.h"

namespace {

// Listed names match as prefixes of the caller's text, case-sensitively.
bool StartsWith(const char* text, const char* listed) {
  return std::strncmp(text, listed, std::strlen(listed)) == 0;
}

}  // namespace

extern "C" QOR_API uint32_t GetCryptoAlgorithmType(const char* name, int keyLength) {
  if (name == nullptr) return QOR_ALG_UNKNOWN;
  // No listed name is a prefix of another family's name, so the first row
  // that matches is the only family that can.
  for (const auto& row : qor::engine::algorithms::kAlgorithms) {
    if (row.nameNeedsKeyBytes && keyLength != row.keyBytes) continue;
    for (const char* listed : row.names) {
      if (listed != nullptr && StartsWith(name, listed)) return row.code;
    }
  }
  return QOR_ALG_UNKNOWN;
}
