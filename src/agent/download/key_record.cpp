// The single-key record: the agent's answer to a request for one key version
// of one policy, turned into a version record of that policy.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "agent/download/download_internal.h"
#include "common/secure_wipe.h"
#include "engine/cipher/fixed_secrets.h"
#include "log/log.h"
#include "qor/cipher_util.h"
#include "qor/policy.h"

namespace qor::agent {

namespace {

constexpr char kLogUnit[] = "source/QORSocket";
// The record's SEQUENCE and its five elements.
constexpr uint32_t kRecordElements = 6;
constexpr uint32_t kMaxNumberBytes = 8;

struct ListDeleter {
  void operator()(BerTlvNode* list) const { BerTlv_free(list); }
};
using List = std::unique_ptr<BerTlvNode, ListDeleter>;

struct TextDeleter {
  void operator()(char* text) const { std::free(text); }
};
using Text = std::unique_ptr<char, TextDeleter>;

uint64_t ReadNumber(const BerTlv& element) {
  uint64_t value = 0;
  for (uint32_t i = 0; i < element.length; ++i) value = (value << 8) | element.value[i];
  return value;
}

// The five fields of the record, or false when it is not one.
struct KeyRecordFields {
  const BerTlv* version;
  const BerTlv* key;
  const BerTlv* status;
  const BerTlv* firstTime;
  const BerTlv* secondTime;
};

bool ReadFields(const BerTlvNode* list, KeyRecordFields* fields) {
  if (list == nullptr || list->tlv.tag != BER_TAG_SEQUENCE || list->depth != 0) return false;
  const BerTlv* items[kRecordElements - 1] = {};
  const BerTlvNode* node = list->next;
  for (auto& item : items) {
    // Only the record's own elements count; anything nested would shift them.
    if (node == nullptr || node->depth != 1) return false;
    item = &node->tlv;
    node = node->next;
  }
  *fields = {items[0], items[1], items[2], items[3], items[4]};
  return fields->version->length > 0 && fields->version->length <= kMaxNumberBytes;
}

}  // namespace

int AddKeyRecord(const DataBuffer& plain, KeyInfo* info, int32_t cryptoMode, const char* name,
                 int version) {
  UACipherUtil* policy = info->cipher;
  if (policy == nullptr) {
    QOR_LOG_AS("specficKeyParse2Cipher", log::kCrit, "Null Pointer Exception\n");
    return -1;
  }
  const auto algType = static_cast<uint32_t>(policy->GetAlgorithmType(&policy));
  const int32_t keyLength = policy->GetKeyLength(&policy);

  // The parser reads values in place; it needs a buffer of its own.
  uint32_t count = 0;
  uint32_t position = 0;
  List list(Parse_Tlv(plain.data, static_cast<uint32_t>(plain.length), 0, &count, &position));
  KeyRecordFields fields{};
  if (!ReadFields(list.get(), &fields)) {
    QOR_LOG_AS("specficKeyParse2Cipher", log::kCrit, "Packet data invalid [%s:%d]\n", name,
               version);
    return -1;
  }
  // A short key would be read past its end by the key schedule.
  if (keyLength <= 0 || fields.key->length < static_cast<uint32_t>(keyLength)) {
    QOR_LOG_AS("specficKeyParse2Cipher", log::kCrit,
               "Key length is invalid [key:%u, policy:%d] [%s:%d]\n", fields.key->length,
               keyLength, name, version);
    return -1;
  }
  Text status(Policy_split_item(fields.status));
  if (status == nullptr) {
    QOR_LOG_AS("specficKeyParse2Cipher", log::kCrit, "Memory Allocation Failed.\n");
    return -1;
  }

  auto* record = static_cast<CipherUtil*>(std::calloc(1, sizeof(CipherUtil)));
  if (record == nullptr) {
    QOR_LOG_AS("specficKeyParse2Cipher", log::kCrit, "Memory Allocation Failed.\n");
    return -1;
  }
  // A fetched version works in the same mode as the versions it joins.
  const CipherUtil* head = policy->data != nullptr ? policy->data->ciphers : nullptr;
  record->mode = head != nullptr ? head->mode : cryptoMode;
  const DataBuffer key{keyLength, fields.key->value};
  const DataBuffer iv{16, const_cast<unsigned char*>(engine::NC_NEW_FIXED_IV)};
  if (CipherUtil_Create(algType, &key, &iv, record) != 0) {
    QOR_LOG_AS("specficKeyParse2Cipher", log::kCrit, "CipherUtil_create Failed(algType:%d)\n",
               static_cast<int>(algType));
    CipherUtil_Destroy(record);
    return -1;
  }
  ChiperUtil_Set(record, static_cast<int64_t>(ReadNumber(*fields.version) & 0xFFFF),
                 Policy_split_item2(fields.firstTime), Policy_split_item2(fields.secondTime),
                 status.get());

  if (policy->AddKey(&policy, record) != 0) {
    QOR_LOG_AS("GetSpecficKeyFromQORServer", log::kCrit, "Fail: Added the key for [%s:%d] in KeyMgr\n", name, version);
    CipherUtil_Destroy(record);
    return -1;
  }
  QOR_LOG_RESULT_AS("GetSpecficKeyFromQORServer", log::kInfo, "Success: Added the key for [%s:%d] in KeyMgr \n", name, version);
  return 0;
}

void WipeAndFree(DataBuffer* block) {
  if (block->data != nullptr) {
    SecureWipe(block->data, block->length > 0 ? static_cast<size_t>(block->length) : 0);
    std::free(block->data);
  }
  *block = {0, nullptr};
}

}  // namespace qor::agent
