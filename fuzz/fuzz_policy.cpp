// Any bytes as a policy record: the element list stays inside the buffer, and
// the whole parse into a key manager neither crashes nor leaks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qor/key_mgr.h"
#include "qor/policy.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > 1 << 16) return 0;
  std::vector<unsigned char> buffer(data, data + size);
  uint32_t count = 0;
  uint32_t position = 0;
  BerTlvNode* list =
      Parse_Tlv(buffer.data(), static_cast<uint32_t>(size), 0, &count, &position);
  uint32_t seen = 0;
  for (const BerTlvNode* n = list; n != nullptr; n = n->next, ++seen) {
    if (n->tlv.value < buffer.data() || n->tlv.value + n->tlv.length > buffer.data() + size) abort();
    if (n->depth > 32) abort();
  }
  if (seen != count || position > size) abort();
  BerTlv_free(list);

  static KeyMgr* mgr = [] {
    (void)std::freopen("/dev/null", "w", stdout);  // the parser's "not found" lines
    return KeyMgr_Create(nullptr);
  }();
  const DataBuffer record{static_cast<int32_t>(size), const_cast<unsigned char*>(data)};
  KeyMgrParse(&record, mgr, 0, 0);
  mgr->Clear(mgr);
  return 0;
}
