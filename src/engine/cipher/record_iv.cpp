// Record IVs: the value drawn for one encryption and, per thread, the value
// the exported setter leaves for the next encryption under each object.
// Nothing here writes a shared record's IV while values are being processed.
#include "engine/cipher/record_iv.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "log/log.h"
#include "qor/cipher_util.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/UACipherUtil";

struct Pending {
  const UACipherUtil* object;
  uint32_t value;
};

// A thread normally has at most one value pending (drawn, then used by the
// next encryption); the room for several covers interleaved policies. Plain
// arrays keep the thread-local storage free of constructors.
constexpr int kPendingSlots = 16;
thread_local Pending t_pending[kPendingSlots];
thread_local int t_pendingCount = 0;
thread_local unsigned char t_callIv[16];

int FindPending(const UACipherUtil* object) {
  for (int i = 0; i < t_pendingCount; ++i) {
    if (t_pending[i].object == object) return i;
  }
  return -1;
}

void RemovePending(int index) {
  for (int i = index + 1; i < t_pendingCount; ++i) t_pending[i - 1] = t_pending[i];
  --t_pendingCount;
}

// The object's head (latest) record, or NULL. A new head is published with a
// release store, so a reader without the key lock sees a complete record.
CipherUtil* Head(UACipherUtil** object) {
  if (object == nullptr || *object == nullptr || (*object)->data == nullptr) return nullptr;
  return std::atomic_ref<CipherUtil*>((*object)->data->ciphers).load(std::memory_order_acquire);
}

}  // namespace

namespace qor::engine {

bool DrawRecordIvFor(UACipherUtil** object, uint32_t* value) {
  CipherUtil* head = Head(object);
  if (head == nullptr) {
    QOR_LOG_AS("UACipherUtil_SetRecordIV", qor::log::kCrit, "Null Pointer Exception\n");
    return false;
  }
  *value = DrawRecordIv();
  std::atomic_ref<int32_t> useRecordIV(head->useRecordIV);
  if (useRecordIV.load(std::memory_order_relaxed) == 0) {
    useRecordIV.store(1, std::memory_order_relaxed);
  }
  return true;
}

void SetPendingRecordIv(const UACipherUtil* object, uint32_t value) {
  const int found = FindPending(object);
  if (found >= 0) {
    t_pending[found].value = value;
    return;
  }
  // The oldest unused value goes: its call never came.
  if (t_pendingCount == kPendingSlots) RemovePending(0);
  t_pending[t_pendingCount++] = {object, value};
}

bool TakePendingRecordIv(const UACipherUtil* object, uint32_t* value) {
  const int found = FindPending(object);
  if (found < 0) return false;
  if (value != nullptr) *value = t_pending[found].value;
  RemovePending(found);
  return true;
}

void ForgetPendingRecordIv(const UACipherUtil* object) {
  const int found = FindPending(object);
  if (found >= 0) RemovePending(found);
}

unsigned char* GetRecordIV(UACipherUtil** self) {
  CipherUtil* head = Head(self);
  if (head == nullptr) return nullptr;
  const int found = FindPending(*self);
  if (found < 0) return head->iv;
  MakeCallIv(head->iv, t_pending[found].value, t_callIv);
  return t_callIv;
}

}  // namespace qor::engine

extern "C" {

int UACipherUtil_SetRecordIV(UACipherUtil** object, const char* text) {
  if (text == nullptr) {
    uint32_t value = 0;
    if (!qor::engine::DrawRecordIvFor(object, &value)) return -1;
    qor::engine::SetPendingRecordIv(*object, value);
    return 0;
  }
  CipherUtil* head = Head(object);
  if (head == nullptr) {
    QOR_LOG(qor::log::kCrit, "Null Pointer Exception\n");
    return -1;
  }
  std::atomic_ref<int32_t> useRecordIV(head->useRecordIV);
  // A text configures the policy IV itself; this is not a per-value call.
  const size_t length = std::strlen(text);
  DataBuffer in{static_cast<int32_t>(length),
                reinterpret_cast<unsigned char*>(const_cast<char*>(text))};
  DataBuffer digest{0, nullptr};
  useRecordIV.store(0, std::memory_order_relaxed);
  if (doDigest256(&in, &digest) != 0 || digest.data == nullptr || digest.length < 16) {
    QOR_LOG(qor::log::kCrit, "doDigest256 Failed [value Len:%d]\n", in.length);
    std::free(digest.data);
    return -1;
  }
  std::memcpy(head->iv, digest.data, 16);
  std::free(digest.data);
  return 0;
}

int UDE_SetRecordIV(uint32_t* value) {
  if (value == nullptr) {
    QOR_LOG(qor::log::kCrit, "Null Pointer Exception\n");
    return -1;
  }
  *value = qor::engine::DrawRecordIv();
  return 0;
}

}  // extern "C"
