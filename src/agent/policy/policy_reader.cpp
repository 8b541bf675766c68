// Reads policies out of the element list. Items are found by position among
// a policy's direct children, so nested key versions and rule lists never shift
// them; a policy whose items are missing or of the wrong shape is unreadable
// as a whole rather than read out of its neighbours.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "agent/policy/policy_in_place.h"
#include "common/secure_wipe.h"
#include "log/log.h"
#include "qor/policy.h"

namespace {

constexpr char kLogUnit[] = "source/PolicyStv3.6";

constexpr int kItemCount = 33;
constexpr uint32_t kMaxRuleText = 127;
constexpr uint32_t kMaxDateText = 15;
constexpr int kMaxKeyVersions = 0xFFFF;  // the count travels as 16 bits

// Item kinds by position: Text, Number, Flag byte, Key versions, Access rules.
constexpr char kItemKinds[kItemCount + 2] = "-TTTNKTTTFTTTTTTTTNNTTTFFFFATTTFFF";
static_assert(sizeof(kItemKinds) == kItemCount + 2);

bool IsPrimitive(const BerTlvNode* n) { return (n->tlv.tag & BER_CONSTRUCTED) == 0; }

// The direct children of |node|: the following nodes one level deeper, up to
// the next node at its own depth or shallower.
std::vector<const BerTlvNode*> Children(const BerTlvNode* node) {
  std::vector<const BerTlvNode*> out;
  for (const BerTlvNode* n = node->next; n != nullptr && n->depth > node->depth; n = n->next) {
    if (n->depth == node->depth + 1) out.push_back(n);
  }
  return out;
}

// Stores the first |max| direct children of |node| in |out| and returns how
// many it has in all: the readers need only the leading items, and a list per
// policy and per key version was a heap block each.
size_t FirstChildren(const BerTlvNode* node, const BerTlvNode** out, size_t max) {
  size_t count = 0;
  for (const BerTlvNode* n = node->next; n != nullptr && n->depth > node->depth; n = n->next) {
    if (n->depth != node->depth + 1) continue;
    if (count < max) out[count] = n;
    ++count;
  }
  return count;
}

// Calls |visit| with each direct child of |node|, in order, while it returns true.
template <class Visit>
void ForEachChild(const BerTlvNode* node, Visit visit) {
  for (const BerTlvNode* n = node->next; n != nullptr && n->depth > node->depth; n = n->next) {
    if (n->depth == node->depth + 1 && !visit(n)) return;
  }
}

// Unsigned big-endian value of at most 8 bytes.
bool ReadNumber(const BerTlv& tlv, uint64_t* value) {
  if (tlv.length > 8) return false;
  uint64_t v = 0;
  for (uint32_t i = 0; i < tlv.length; ++i) v = (v << 8) | tlv.value[i];
  *value = v;
  return true;
}

uint8_t FlagByte(const BerTlv& tlv) { return tlv.length > 0 ? tlv.value[0] : 0; }

bool ItemHasKind(const BerTlvNode* n, char kind) {
  switch (kind) {
    case 'T':
    case 'F':
      return IsPrimitive(n);
    case 'N':
      return IsPrimitive(n) && n->tlv.length <= 8;
    case 'K':
      return n->tlv.tag == BER_TAG_SEQUENCE && n->tlv.length > 0;
    default:
      return true;  // item 27: rules only when it is a non-empty SEQUENCE
  }
}

void FreeKeys(KeyEntry* keys, size_t keyBytes) {
  while (keys != nullptr) {
    KeyEntry* next = keys->next;
    if (keys->key != nullptr) {
      qor::SecureWipe(keys->key, keyBytes);
      std::free(keys->key);
    }
    std::free(keys->status);
    std::free(keys);
    keys = next;
  }
}

// Copies a text of at most |max| characters into a 16-byte field.
bool CopyShortText(const BerTlvNode* n, char (&field)[16]) {
  if (!IsPrimitive(n) || n->tlv.length > kMaxDateText) return false;
  if (n->tlv.length > 0) std::memcpy(field, n->tlv.value, n->tlv.length);
  field[n->tlv.length] = 0;
  return true;
}

// Every text field of the parsed policy, so release and fill share one list.
char* PolicyData::*const kTextFields[] = {
    &PolicyData::name,         &PolicyData::item2,
    &PolicyData::algorithm,    &PolicyData::ivType,
    &PolicyData::item7,        &PolicyData::errorProcess,
    &PolicyData::duplication,  &PolicyData::patternType,
    &PolicyData::patternChars, &PolicyData::position,
    &PolicyData::compatibility, &PolicyData::item15,
    &PolicyData::item16,       &PolicyData::decryptCountUnit,
    &PolicyData::unauthorizedDecryption, &PolicyData::item21,
    &PolicyData::prio,         &PolicyData::targetExist,
    &PolicyData::orgFileHandling, &PolicyData::orgBackupExtension,
};

// The 33 items of the policy at |policy| in |item| (1-based), when they are
// all there and of the right kinds; false (logged) otherwise.
bool PolicyItems(const BerTlvNode* policy, const BerTlvNode* (&item)[kItemCount + 1]) {
  const size_t children = FirstChildren(policy, item + 1, kItemCount);
  if (children < static_cast<size_t>(kItemCount)) {
    QOR_LOG(qor::log::kError, "policy has %zu items, %d needed\n", children, kItemCount);
    return false;
  }
  if (item[5]->tlv.tag != BER_TAG_SEQUENCE || item[5]->tlv.length == 0) {
    QOR_LOG(qor::log::kCrit, "Packet data invalid; initialization failed.\n");
    return false;
  }
  for (int i = 1; i <= kItemCount; ++i) {
    if (!ItemHasKind(item[i], kItemKinds[i])) {
      QOR_LOG(qor::log::kError, "policy item %d has the wrong type (tag %02x)\n", i,
              item[i]->tlv.tag);
      return false;
    }
  }
  return true;
}

// Fills the zero-filled |p| from |item|; |copyText| makes the zero-terminated
// copy of an element's text (nullptr when it cannot). False when an item is
// unreadable; |p| then holds what was read, for its release.
template <class CopyText>
bool FillPolicy(const BerTlvNode* const (&item)[kItemCount + 1], PolicyData* p, CopyText copyText) {
  bool ok = true;
  auto text = [&](int i) -> char* {
    char* copy = copyText(&item[i]->tlv);
    if (copy == nullptr) ok = false;
    return copy;
  };
  p->name = text(1);
  p->item2 = text(2);
  p->algorithm = text(3);
  ReadNumber(item[4]->tlv, &p->keyBits);
  if (p->keyBits > static_cast<uint64_t>(INT32_MAX)) {
    QOR_LOG(qor::log::kError, "key length %llu out of range\n",
            static_cast<unsigned long long>(p->keyBits));
    p->keyBits = 0;
    ok = false;
  }
  if (ok && cipherInfo_parse(item[5], static_cast<uint32_t>(p->keyBits / 8), &p->keys,
                             &p->keyCount, &p->firstVersionFlag) != 0) {
    ok = false;
  }
  p->ivType = text(6);
  p->item7 = text(7);
  p->errorProcess = text(8);
  p->nullProcess = FlagByte(item[9]->tlv);
  p->duplication = text(10);
  p->patternType = text(11);
  if (p->patternType != nullptr && std::strcmp(p->patternType, "ALL") != 0) {
    p->patternChars = text(12);
    p->patternCharsLength = static_cast<int32_t>(item[12]->tlv.length);
    p->position = text(13);
  }
  p->compatibility = text(14);
  p->item15 = text(15);
  p->item16 = text(16);
  p->decryptCountUnit = text(17);
  ReadNumber(item[18]->tlv, &p->item18);
  ReadNumber(item[19]->tlv, &p->decryptCnt);
  p->unauthorizedDecryption = text(20);
  p->item21 = text(21);
  p->prio = text(22);
  for (int i = 0; i < 4; ++i) p->audit[i] = FlagByte(item[23 + i]->tlv);
  if (ok && item[27]->tlv.tag == BER_TAG_SEQUENCE && item[27]->tlv.length > 0 &&
      ACL_parse(item[27], &p->acl, &p->aclCount) != 0) {
    ok = false;
  }
  p->targetExist = text(28);
  p->orgFileHandling = text(29);
  p->orgBackupExtension = text(30);
  p->encFileDelete = FlagByte(item[31]->tlv);
  p->encDataVerify = FlagByte(item[32]->tlv);
  p->orgDataVerify = FlagByte(item[33]->tlv);
  return ok;
}

// Reads one policy whose node is |policy|; nullptr when it is unreadable.
PolicyData* ReadPolicy(const BerTlvNode* policy) {
  const BerTlvNode* item[kItemCount + 1] = {nullptr};
  if (!PolicyItems(policy, item)) return nullptr;
  auto* p = static_cast<PolicyData*>(std::calloc(1, sizeof(PolicyData)));
  if (p == nullptr) return nullptr;
  if (!FillPolicy(item, p, Policy_split_item)) freePolicy(&p);
  return p;
}

}  // namespace

extern "C" {

uint32_t Policy_count(const BerTlvNode* list, uint32_t count, const BerTlv** hash) {
  uint32_t policies = 0;
  const BerTlv* found = nullptr;
  uint32_t seen = 0;
  for (const BerTlvNode* n = list; n != nullptr && seen < count; n = n->next, ++seen) {
    if (n->depth == 2) ++policies;
    if (n->depth == 1 && n->tlv.tag == BER_TAG_OCTET_STRING) found = &n->tlv;
  }
  if (hash != nullptr) *hash = found;
  return policies;
}

uint32_t Policy_getIDList(const BerTlvNode* list, uint32_t count, const BerTlvNode** idList) {
  if (idList == nullptr) return 0;
  uint32_t ids = 0;
  uint32_t seen = 0;
  for (const BerTlvNode* n = list; n != nullptr && seen < count; n = n->next, ++seen) {
    if (n->depth == 2) idList[ids++] = n;
  }
  return ids;
}

const BerTlv* Policy_getName(const BerTlvNode* policy) {
  if (policy == nullptr || policy->next == nullptr || policy->next->depth != policy->depth + 1) {
    return nullptr;
  }
  return &policy->next->tlv;
}

const BerTlv* Policy_getAlgorithm(const BerTlvNode* policy) {
  if (policy == nullptr) return nullptr;
  try {
    const std::vector<const BerTlvNode*> children = Children(policy);
    return children.size() >= 2 ? &children[1]->tlv : nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int Policy_getPolicy(const BerTlvNode** idList, uint32_t idCount, const char* name,
                     uint32_t nameLength, PolicyData** parsed) {
  if (idList == nullptr || name == nullptr || parsed == nullptr) return 0;
  *parsed = nullptr;
  for (uint32_t i = 0; i < idCount; ++i) {
    const BerTlv* first = Policy_getName(idList[i]);
    if (first == nullptr || first->length != nameLength ||
        (nameLength > 0 && std::memcmp(first->value, name, nameLength) != 0)) {
      continue;
    }
    try {
      *parsed = ReadPolicy(idList[i]);
    } catch (const std::bad_alloc&) {
      *parsed = nullptr;
    }
    return *parsed != nullptr ? 1 : 0;
  }
  return 0;
}

char* Policy_split_item(const BerTlv* element) {
  if (element == nullptr) return nullptr;
  auto* copy = static_cast<char*>(std::malloc(static_cast<size_t>(element->length) + 1));
  if (copy == nullptr) return nullptr;
  if (element->length > 0) std::memcpy(copy, element->value, element->length);
  copy[element->length] = 0;
  return copy;
}

int32_t Policy_split_item2(const BerTlv* element) {
  if (element == nullptr || element->length < 2 || element->length > 48) return 0;
  const uint32_t digits = element->length >= 3 ? element->length - 3 : 0;
  int64_t value = 0;
  for (uint32_t i = 0; i < digits; ++i) {
    const unsigned char c = element->value[i];
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) return 0;
  }
  return static_cast<int32_t>(value);
}

int count_rule(const BerTlvNode* node) {
  int n = 0;
  for (const BerTlvNode* r = node != nullptr ? node->next : nullptr; r != nullptr && r->depth == 6;
       r = r->next) {
    ++n;
  }
  return n;
}

int Policy_check_seq(const BerTlvNode* node, AccessRule** rules) {
  if (node == nullptr || rules == nullptr) return -1;
  *rules = nullptr;
  AccessRule** link = rules;
  for (const BerTlvNode* r = node->next; r != nullptr && r->depth > node->depth; r = r->next) {
    if (r->depth != node->depth + 1) continue;
    // A cut rule would be a shorter prefix and so admit more callers.
    if (!IsPrimitive(r) || r->tlv.length > kMaxRuleText) {
      QOR_LOG(qor::log::kError, "access rule of %u bytes refused\n", r->tlv.length);
      free_acl(*rules);
      *rules = nullptr;
      return -1;
    }
    auto* rule = static_cast<AccessRule*>(std::calloc(1, sizeof(AccessRule)));
    if (rule == nullptr) {
      free_acl(*rules);
      *rules = nullptr;
      return -1;
    }
    if (r->tlv.length > 0) std::memcpy(rule->pattern, r->tlv.value, r->tlv.length);
    *link = rule;
    link = &rule->next;
    if (r->tlv.length == 0) break;  // an empty rule matches everyone: nothing after it counts
  }
  return 0;
}

int cipherInfo_parse(const BerTlvNode* node, uint32_t keyBytes, KeyEntry** keys, int32_t* count,
                     int32_t* firstVersionFlag) {
  if (node == nullptr || keys == nullptr || count == nullptr || firstVersionFlag == nullptr) {
    return -1;
  }
  *keys = nullptr;
  *count = 0;
  *firstVersionFlag = 0;
  try {
    const size_t records = FirstChildren(node, nullptr, 0);
    if (records == 0 || records > static_cast<size_t>(kMaxKeyVersions)) {
      QOR_LOG(qor::log::kError, "%zu key versions\n", records);
      return -1;
    }
    KeyEntry** link = keys;
    int result = 0;
    ForEachChild(node, [&](const BerTlvNode* record) {
      const BerTlvNode* f[5] = {nullptr};
      uint64_t version = 0;
      bool fine = record->tlv.tag == BER_TAG_SEQUENCE && FirstChildren(record, f, 5) >= 5;
      for (size_t i = 0; fine && i < 5; ++i) fine = IsPrimitive(f[i]);
      fine = fine && ReadNumber(f[0]->tlv, &version);
      if (fine && f[1]->tlv.length < keyBytes) {
        QOR_LOG(qor::log::kError, "key of %u bytes, the policy needs %u\n", f[1]->tlv.length,
                keyBytes);
        fine = false;
      }
      KeyEntry* entry = nullptr;
      if (fine) entry = static_cast<KeyEntry*>(std::calloc(1, sizeof(KeyEntry)));
      if (entry != nullptr) {
        *link = entry;
        link = &entry->next;
        entry->key = static_cast<unsigned char*>(std::calloc(keyBytes > 0 ? keyBytes : 1, 1));
        entry->status = Policy_split_item(&f[2]->tlv);
        if (entry->key != nullptr && keyBytes > 0) std::memcpy(entry->key, f[1]->tlv.value, keyBytes);
        entry->version = static_cast<int64_t>(version);
        entry->firstTime = Policy_split_item2(&f[3]->tlv);
        entry->secondTime = Policy_split_item2(&f[4]->tlv);
      }
      if (entry == nullptr || entry->key == nullptr || entry->status == nullptr) {
        if (entry == nullptr && fine) QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
        if (!fine) QOR_LOG(qor::log::kError, "key version record %d unreadable\n", *count + 1);
        FreeKeys(*keys, keyBytes);
        *keys = nullptr;
        *count = 0;
        result = -1;
        return false;
      }
      ++*count;
      return true;
    });
    if (result != 0) return result;
    *firstVersionFlag = ((*keys)->version & 0xFFFF) != 0 ? 1 : 0;
    return 0;
  } catch (const std::bad_alloc&) {
    FreeKeys(*keys, keyBytes);
    *keys = nullptr;
    *count = 0;
    return -1;
  }
}

int ACL_parse(const BerTlvNode* node, AccessControlData** acl, int32_t* count) {
  if (node == nullptr || acl == nullptr || count == nullptr) return -1;
  *acl = nullptr;
  *count = 0;
  try {
    AccessControlData** link = acl;
    int result = 0;
    ForEachChild(node, [&](const BerTlvNode* entryNode) {
      const BerTlvNode* f[10] = {nullptr};
      bool fine = entryNode->tlv.tag == BER_TAG_SEQUENCE && FirstChildren(entryNode, f, 10) >= 10;
      for (size_t i = 0; fine && i < 4; ++i) fine = f[i]->tlv.tag == BER_TAG_SEQUENCE;
      for (size_t i = 8; fine && i < 10; ++i) fine = IsPrimitive(f[i]);
      auto* e = fine ? static_cast<AccessControlData*>(std::calloc(1, sizeof(AccessControlData)))
                     : nullptr;
      if (e != nullptr) {
        *link = e;
        link = &e->next;
        AccessRule** lists[4] = {&e->rules1, &e->rules2, &e->rules3, &e->rules4};
        for (size_t i = 0; fine && i < 4; ++i) fine = Policy_check_seq(f[i], lists[i]) == 0;
        fine = fine && CopyShortText(f[4], e->dateFrom) && CopyShortText(f[5], e->dateTo) &&
               CopyShortText(f[6], e->timeFrom) && CopyShortText(f[7], e->timeTo);
        e->decryptAllowed = FlagByte(f[8]->tlv);
        e->encryptAllowed = FlagByte(f[9]->tlv);
      }
      if (e == nullptr || !fine) {
        QOR_LOG(qor::log::kError, "access rule entry %d unreadable\n", *count + 1);
        AccessControlData_Destroy(*acl);
        *acl = nullptr;
        *count = 0;
        result = -1;
        return false;
      }
      ++*count;
      return true;
    });
    return result;
  } catch (const std::bad_alloc&) {
    AccessControlData_Destroy(*acl);
    *acl = nullptr;
    *count = 0;
    return -1;
  }
}

void free_acl(AccessRule* rules) { acs_rule_destroy(rules); }

void freePolicy(PolicyData** parsed) {
  if (parsed == nullptr || *parsed == nullptr) return;
  PolicyData* p = *parsed;
  for (char* PolicyData::*field : kTextFields) std::free(p->*field);
  FreeKeys(p->keys, static_cast<size_t>(p->keyBits / 8));
  AccessControlData_Destroy(p->acl);
  std::free(p);
  *parsed = nullptr;
}

}  // extern "C"

namespace qor::agent {

bool ReadPolicyInPlace(const BerTlvNode* policy, PolicyData* out, std::vector<char>* texts) {
  *out = PolicyData{};
  const BerTlvNode* item[kItemCount + 1] = {nullptr};
  if (!PolicyItems(policy, item)) return false;
  // Room for every text item with its terminator, so that no copy moves the block.
  size_t room = 0;
  for (int i = 1; i <= kItemCount; ++i) {
    if (kItemKinds[i] == 'T') room += item[i]->tlv.length + size_t{1};
  }
  if (texts->size() < room) texts->resize(room);
  size_t used = 0;
  auto copyText = [&](const BerTlv* element) -> char* {
    char* copy = texts->data() + used;
    if (element->length > 0) std::memcpy(copy, element->value, element->length);
    copy[element->length] = 0;
    used += element->length + size_t{1};
    return copy;
  };
  if (FillPolicy(item, out, copyText)) return true;
  ReleasePolicyInPlace(out);
  return false;
}

void ReleasePolicyInPlace(PolicyData* p) {
  FreeKeys(p->keys, static_cast<size_t>(p->keyBits / 8));
  AccessControlData_Destroy(p->acl);
  *p = PolicyData{};
}

}  // namespace qor::agent
