// Ownership of access-rule lists: copies handed to a policy and their release.
#include "engine/access/acl_list.h"

#include <cstdlib>
#include <cstring>

namespace {

// Bounded copy of a fixed text field; the target is already zero-filled.
template <std::size_t N>
void CopyField(char (&to)[N], const char (&from)[N]) {
  std::memcpy(to, from, strnlen(from, N - 1));
}

}  // namespace

extern "C" {

AccessRule* acs_copy(const AccessRule* rules) {
  AccessRule* first = nullptr;
  AccessRule** link = &first;
  // Iterative, so a long rule list cannot exhaust the stack.
  for (const AccessRule* r = rules; r != nullptr; r = r->next) {
    auto* node = static_cast<AccessRule*>(std::calloc(1, sizeof(AccessRule)));
    if (node == nullptr) {
      acs_rule_destroy(first);
      return nullptr;
    }
    CopyField(node->pattern, r->pattern);
    *link = node;
    link = &node->next;
  }
  return first;
}

void acs_rule_destroy(AccessRule* rules) {
  while (rules != nullptr) {
    AccessRule* next = rules->next;
    std::free(rules);
    rules = next;
  }
}

void AccessControlData_Destroy(AccessControlData* acl) {
  while (acl != nullptr) {
    AccessControlData* next = acl->next;
    acs_rule_destroy(acl->rules1);
    acs_rule_destroy(acl->rules2);
    acs_rule_destroy(acl->rules3);
    acs_rule_destroy(acl->rules4);
    std::free(acl);
    acl = next;
  }
}

}  // extern "C"

namespace qor::engine {

bool CopyAccessControlList(const AccessControlData* source, AccessControlData** copy) {
  *copy = nullptr;
  AccessControlData** link = copy;
  for (const AccessControlData* s = source; s != nullptr; s = s->next) {
    auto* entry = static_cast<AccessControlData*>(std::calloc(1, sizeof(AccessControlData)));
    if (entry == nullptr) break;
    *link = entry;
    link = &entry->next;
    entry->rules1 = acs_copy(s->rules1);
    entry->rules2 = acs_copy(s->rules2);
    entry->rules3 = acs_copy(s->rules3);
    entry->rules4 = acs_copy(s->rules4);
    if ((s->rules1 != nullptr && entry->rules1 == nullptr) ||
        (s->rules2 != nullptr && entry->rules2 == nullptr) ||
        (s->rules3 != nullptr && entry->rules3 == nullptr) ||
        (s->rules4 != nullptr && entry->rules4 == nullptr)) {
      break;
    }
    if (s->dateFrom[0] != '\0') {
      CopyField(entry->dateFrom, s->dateFrom);
      CopyField(entry->dateTo, s->dateTo);
    }
    if (s->timeFrom[0] != '\0') {
      CopyField(entry->timeFrom, s->timeFrom);
      CopyField(entry->timeTo, s->timeTo);
    }
    entry->decryptAllowed = s->decryptAllowed;
    entry->encryptAllowed = s->encryptAllowed;
    if (s->next == nullptr) return true;
  }
  if (source == nullptr) return true;
  // Only an allocation failure leaves the loop early.
  AccessControlData_Destroy(*copy);
  *copy = nullptr;
  return false;
}

}  // namespace qor::engine
