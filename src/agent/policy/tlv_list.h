// The element list of a whole record held in one block, for the readers that
// take a record at once.
#pragma once

#include <cstdint>
#include <vector>

#include "qor/policy.h"

namespace qor::agent {

// A record of a few thousand policies has a few hundred thousand elements; a
// list longer than this is a record built to exhaust memory (a node per two
// bytes), and the reader stops there.
inline constexpr uint32_t kMaxTlvElements = 1u << 20;

// Parses |buffer| as Parse_Tlv does from position 0 at depth 0 (the same
// elements, limits and stops; the values stay in |buffer|) into |nodes|,
// linked in document order. Returns the first element, or nullptr when there
// is none. The list lives as long as |nodes| is left alone.
BerTlvNode* ParseTlvBlock(unsigned char* buffer, uint32_t length, std::vector<BerTlvNode>* nodes);

// The same for elements that sit at |depth| within a larger record, of which
// at most |limit| may still be read. False when the reader stopped early (too
// deep, over the limit, out of memory): the list then holds what was read
// before. Reading a record element by element this way gives the nodes the
// whole parse gives for it, as long as none stops.
bool ParseTlvBlockAt(unsigned char* buffer, uint32_t length, uint32_t depth, uint32_t limit,
                     std::vector<BerTlvNode>* nodes);

}  // namespace qor::agent
