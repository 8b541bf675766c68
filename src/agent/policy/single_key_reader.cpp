// Reading the single-key answer.
#include "agent/policy/single_key_reader.h"

#include <climits>

#include "common/secure_wipe.h"
#include "qor/policy.h"

namespace qor::agent {

KeyRecord::~KeyRecord() { qor::SecureWipe(key.data(), key.size()); }

bool ReadKeyRecord(const uint8_t* bytes, size_t length, uint32_t keyBytes, KeyRecord* out) {
  if (bytes == nullptr || out == nullptr || length > UINT32_MAX) return false;
  std::vector<unsigned char> copy(bytes, bytes + length);
  uint32_t count = 0;
  BerTlvNode* list = Parse_Tlv(copy.data(), static_cast<uint32_t>(length), 0, &count, nullptr);
  const BerTlvNode* f[5] = {nullptr};
  bool ok = list != nullptr && list->tlv.tag == BER_TAG_SEQUENCE;
  const BerTlvNode* n = ok ? list->next : nullptr;
  for (int i = 0; ok && i < 5; ++i) {
    // The five fields are the record's direct children, in order.
    while (n != nullptr && n->depth > 1) n = n->next;
    ok = n != nullptr && n->depth == 1 && (n->tlv.tag & BER_CONSTRUCTED) == 0;
    if (ok) f[i] = n;
    if (n != nullptr) n = n->next;
  }
  ok = ok && f[0]->tlv.length <= 8 && f[1]->tlv.length >= keyBytes;
  if (ok) {
    uint64_t version = 0;
    for (uint32_t i = 0; i < f[0]->tlv.length; ++i) version = (version << 8) | f[0]->tlv.value[i];
    out->version = static_cast<int64_t>(version);
    qor::SecureWipe(out->key.data(), out->key.size());
    out->key.assign(f[1]->tlv.value, f[1]->tlv.value + f[1]->tlv.length);
    out->status.assign(reinterpret_cast<const char*>(f[2]->tlv.value), f[2]->tlv.length);
    out->firstTime = Policy_split_item2(&f[3]->tlv);
    out->secondTime = Policy_split_item2(&f[4]->tlv);
  }
  BerTlv_free(list);
  qor::SecureWipe(copy.data(), copy.size());
  return ok;
}

}  // namespace qor::agent
