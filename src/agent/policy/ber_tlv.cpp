// The BER-TLV reader: one flat element list in document order, values left
// in the caller's buffer. Everything read from the buffer is bounds-checked,
// since the record comes from another process or a file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "agent/policy/tlv_list.h"
#include "qor/policy.h"

namespace {

// The policy record needs six levels; anything much deeper is not a record,
// and unbounded recursion on hostile input would exhaust the stack.
constexpr uint32_t kMaxDepth = 32;
constexpr uint32_t kMaxElements = qor::agent::kMaxTlvElements;

struct ListBuilder {
  BerTlvNode* head = nullptr;
  BerTlvNode* tail = nullptr;
  uint32_t count = 0;
  bool stopped = false;  // nesting too deep or out of memory: nothing more is read

  bool Append(uint8_t tag, uint32_t length, unsigned char* value, uint32_t depth) {
    if (count >= kMaxElements) {
      stopped = true;
      return false;
    }
    auto* node = static_cast<BerTlvNode*>(std::calloc(1, sizeof(BerTlvNode)));
    if (node == nullptr) {
      stopped = true;
      return false;
    }
    node->tlv = BerTlv{tag, length, value};
    node->depth = depth;
    (tail != nullptr ? tail->next : head) = node;
    tail = node;
    ++count;
    return true;
  }
};

// The same list in one growing block: a whole record has hundreds of
// thousands of elements, and a heap block each is most of its parse time.
// The links are set once the block stops moving.
struct BlockBuilder {
  std::vector<BerTlvNode>* nodes;
  uint32_t limit = kMaxElements;
  uint32_t count = 0;
  bool stopped = false;

  bool Append(uint8_t tag, uint32_t length, unsigned char* value, uint32_t depth) {
    if (count >= limit) {
      stopped = true;
      return false;
    }
    try {
      nodes->push_back(BerTlvNode{BerTlv{tag, length, value}, depth, nullptr});
    } catch (const std::bad_alloc&) {
      stopped = true;
      return false;
    }
    ++count;
    return true;
  }
};

template <class Builder>
void ParseInto(Builder& out, unsigned char* buffer, uint32_t length, uint32_t depth,
               uint32_t* position) {
  uint32_t pos = *position;
  while (!out.stopped && pos < length && length - pos >= 2) {
    const uint8_t tag = buffer[pos];
    uint32_t valueLength = 0;
    const unsigned char* after = tlv_parseLength(&valueLength, buffer + pos + 1, length - pos - 1);
    if (after == nullptr) break;
    const auto valueStart = static_cast<uint32_t>(after - buffer);
    if (static_cast<uint64_t>(valueStart) + valueLength > length) break;

    unsigned char* value = buffer + valueStart;
    uint32_t shownLength = valueLength;
    if (tag == BER_TAG_BIT_STRING && valueLength > 0) {
      ++value;  // past the unused-bit count, which the length then excludes
      --shownLength;
    }
    const bool constructed = (tag & BER_CONSTRUCTED) != 0;
    if (constructed && depth + 1 > kMaxDepth) {
      out.stopped = true;
      break;
    }
    if (!out.Append(tag, shownLength, value, depth)) break;
    if (constructed) {
      uint32_t inner = 0;
      ParseInto(out, buffer + valueStart, valueLength, depth + 1, &inner);
    }
    pos = valueStart + valueLength;
  }
  *position = pos;
}

}  // namespace

namespace qor::agent {

bool ParseTlvBlockAt(unsigned char* buffer, uint32_t length, uint32_t depth, uint32_t limit,
                     std::vector<BerTlvNode>* nodes) {
  nodes->clear();
  if (buffer == nullptr || length == 0) return true;
  // Every element takes two bytes or more; a policy record averages about
  // six, so this is room enough without ever touching most of it.
  try {
    nodes->reserve(length / 4 + 16);
  } catch (const std::bad_alloc&) {
  }
  BlockBuilder out{nodes, limit};
  uint32_t position = 0;
  ParseInto(out, buffer, length, depth, &position);
  for (size_t i = 0; i + 1 < nodes->size(); ++i) (*nodes)[i].next = &(*nodes)[i + 1];
  return !out.stopped;
}

BerTlvNode* ParseTlvBlock(unsigned char* buffer, uint32_t length, std::vector<BerTlvNode>* nodes) {
  ParseTlvBlockAt(buffer, length, 0, kMaxElements, nodes);
  return nodes->empty() ? nullptr : nodes->data();
}

}  // namespace qor::agent

extern "C" {

void BerTlv_Init(BerTlvNode** list) {
  if (list != nullptr) *list = nullptr;
}

void BerTlv_free(BerTlvNode* list) {
  while (list != nullptr) {
    BerTlvNode* next = list->next;
    std::free(list);
    list = next;
  }
}

const unsigned char* tlv_parseLength(uint32_t* length, const unsigned char* bytes,
                                     uint32_t remaining) {
  if (length == nullptr || bytes == nullptr || remaining == 0) return nullptr;
  const unsigned char first = bytes[0];
  if (first < 0x80) {
    *length = first;
    return bytes + 1;
  }
  const uint32_t n = first & 0x7F;
  if (n == 0) {  // the indefinite form is taken as an empty value
    *length = 0;
    return bytes + 1;
  }
  if (n > 4 || n >= remaining) return nullptr;
  uint32_t value = 0;
  for (uint32_t i = 1; i <= n; ++i) value = (value << 8) | bytes[i];
  *length = value;
  return bytes + 1 + n;
}

BerTlvNode* Parse_Tlv(unsigned char* buffer, uint32_t length, uint32_t depth, uint32_t* count,
                      uint32_t* position) {
  uint32_t start = 0;
  if (position == nullptr) position = &start;
  if (buffer == nullptr || *position >= length) return nullptr;
  ListBuilder out;
  ParseInto(out, buffer, length, depth, position);
  if (count != nullptr) *count += out.count;
  return out.head;
}

int maxcmp(int a, int b) { return a > b ? a : b; }

void Process_BitString(BerTlvNode* node) {
  if (node == nullptr || node->tlv.tag != BER_TAG_BIT_STRING || node->tlv.value == nullptr ||
      node->tlv.length == 0) {
    return;
  }
  // The unused-bit count sits just before the value (the reader skipped it).
  const unsigned unused = node->tlv.value[-1];
  if (unused == 0 || unused > 7) return;
  const unsigned char mask = static_cast<unsigned char>((1u << unused) - 1);
  unsigned char* v = node->tlv.value;
  for (uint32_t i = node->tlv.length; i-- > 0;) {
    const unsigned carry = i > 0 ? (v[i - 1] & mask) : 0;
    v[i] = static_cast<unsigned char>((v[i] >> unused) | (carry << (8 - unused)));
  }
}

}  // extern "C"

namespace {

void PrintValue(const BerTlv& tlv) {
  if ((tlv.tag & BER_CONSTRUCTED) != 0 || tlv.value == nullptr) return;
  if (tlv.tag == BER_TAG_OCTET_STRING) {
    std::fwrite(tlv.value, 1, tlv.length, stdout);
    return;
  }
  for (uint32_t i = 0; i < tlv.length; ++i) std::printf("%02x ", tlv.value[i]);
}

}  // namespace

extern "C" {

void BerTlv_Print(const BerTlvNode* list, int first, int count) {
  int index = 0;
  for (const BerTlvNode* n = list; n != nullptr && index < first + count; n = n->next, ++index) {
    if (index < first) continue;
    static const char kTabs[] = "\t\t\t\t\t\t\t\t\t\t\t";
    const uint32_t tabs = n->depth < 11 ? n->depth : 11;
    std::printf("Count %03d - L:%03d %s %02x %04x ", index, n->depth, kTabs + (11 - tabs), n->tlv.tag,
                n->tlv.length);
    PrintValue(n->tlv);
    std::printf("\n");
  }
}

void Policy_print(const BerTlvNode* node) {
  if (node == nullptr) return;
  std::printf("L:%03d, %02x %04x\n", node->depth, node->tlv.tag, node->tlv.length);
  PrintValue(node->tlv);
  std::printf("\n");
}

}  // extern "C"
