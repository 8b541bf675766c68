// A key delivered encrypted under a policy, as Base64 text: decrypted with the
// policy's current version.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "engine/cipher/cipher_lock.h"
#include "engine/cipher/record_iv.h"
#include "engine/cipher/ua_cipher_internal.h"
#include "log/log.h"
#include "qor/base64.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/UACipherUtil";

}  // namespace

namespace qor::engine {

int DecryptKeyFromBase64(UACipherUtil** self, DataBuffer* in, DataBuffer* out, int nullProcess) {
  const CipherUtil* head = HeadRecord(DataOf(self));
  if (head == nullptr || out == nullptr || head->algType >= QOR_ALG_COUNT) {
    QOR_LOG(qor::log::kCrit, "Null Pointer Exception\n");
    return -1;
  }
  if (in == nullptr || in->data == nullptr || in->length <= 0) {
    QOR_LOG(qor::log::kCrit, "Encrypted Data is Empty or Null\n");
    return -1;
  }
  unsigned char* decoded = nullptr;
  // Key texts carry no value prefix.
  int length = QOR_Base64Decode(reinterpret_cast<const char*>(in->data), in->length, &decoded, 1);
  if (length <= 0) {
    QOR_LOG(qor::log::kCrit, "QOR_Base64Decode Failed [data length:%d]\n", length);
    std::free(decoded);
    return -1;
  }
  // The record-IV tail goes into a copy of the IV: the shared record is read only.
  unsigned char iv[16];
  std::memcpy(iv, head->iv, sizeof(iv));
  if (std::atomic_ref<int32_t>(const_cast<CipherUtil*>(head)->useRecordIV)
          .load(std::memory_order_relaxed) != 0) {
    if (length <= 4) {
      QOR_LOG(qor::log::kCrit, "Encrypted Data is Empty or Null\n");
      std::free(decoded);
      return -1;
    }
    length -= 4;
    uint32_t recordIv;
    std::memcpy(&recordIv, decoded + length, 4);
    MakeCallIv(head->iv, recordIv, iv);
  }
  DataBuffer cipherText{length, decoded};
  const int result =
      DecryptFunctions[head->algType](&cipherText, head->pDKey, iv, out, nullProcess, 0);
  std::free(decoded);
  return result;
}

}  // namespace qor::engine
