// The single-key record: the agent's answer to a request for one key version
// of one policy, turned into a version record of that policy.
#include <cstdlib>

#include "agent/download/download_internal.h"
#include "agent/policy/single_key_reader.h"
#include "common/secure_wipe.h"
#include "engine/cipher/fixed_secrets.h"
#include "log/log.h"
#include "qor/cipher_util.h"

namespace qor::agent {

namespace {
constexpr char kLogUnit[] = "source/QORSocket";
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

  // A short key would be read past its end by the key schedule: the reader
  // refuses a key shorter than the policy's.
  KeyRecord fields;
  if (keyLength <= 0 || plain.data == nullptr || plain.length <= 0 ||
      !ReadKeyRecord(plain.data, static_cast<size_t>(plain.length),
                     static_cast<uint32_t>(keyLength), &fields)) {
    QOR_LOG_AS("specficKeyParse2Cipher", log::kCrit, "Packet data invalid [%s:%d]\n", name,
               version);
    return -1;
  }

  // Only the version asked for may join: another one would take over the
  // encryption of new values under a key nobody rotated to.
  if ((fields.version & 0xFFFF) != (int64_t{version} & 0xFFFF)) {
    QOR_LOG_AS("specficKeyParse2Cipher", log::kCrit,
               "Packet data invalid [%s:%d]: the answer holds version %d\n", name, version,
               static_cast<int>(fields.version & 0xFFFF));
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
  const DataBuffer key{keyLength, fields.key.data()};
  const DataBuffer iv{16, const_cast<unsigned char*>(engine::NC_NEW_FIXED_IV)};
  if (CipherUtil_Create(algType, &key, &iv, record) != 0) {
    QOR_LOG_AS("specficKeyParse2Cipher", log::kCrit, "CipherUtil_create Failed(algType:%d)\n",
               static_cast<int>(algType));
    CipherUtil_Destroy(record);
    return -1;
  }
  ChiperUtil_Set(record, fields.version & 0xFFFF, fields.firstTime, fields.secondTime,
                 fields.status.c_str());

  if (policy->AddKey(&policy, record) != 0) {
    QOR_LOG_AS("GetSpecficKeyFromQORServer", log::kCrit,
               "Fail: Added the key for [%s:%d] in KeyMgr\n", name, version);
    CipherUtil_Destroy(record);
    return -1;
  }
  QOR_LOG_RESULT_AS("GetSpecficKeyFromQORServer", log::kInfo,
                    "Success: Added the key for [%s:%d] in KeyMgr \n", name, version);
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
