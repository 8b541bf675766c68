// The element list of a whole record held in one block, for the readers that
// take a record at once.
#pragma once

#include <cstdint>
#include <vector>

#include "qor/policy.h"

namespace qor::agent {

// Parses |buffer| as Parse_Tlv does from position 0 at depth 0 (the same
// elements, limits and stops; the values stay in |buffer|) into |nodes|,
// linked in document order. Returns the first element, or nullptr when there
// is none. The list lives as long as |nodes| is left alone.
BerTlvNode* ParseTlvBlock(unsigned char* buffer, uint32_t length, std::vector<BerTlvNode>* nodes);

}  // namespace qor::agent
