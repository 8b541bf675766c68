// The two configuration fields a key download writes while value calls on
// other threads read them (where the key set came from, and when). The
// record is a plain C struct of the public header, so the accesses are made
// atomic here instead of the fields.
#pragma once

#include <atomic>
#include <cstdint>

#include "qor/config.h"

namespace qor::config {

inline void StoreLoadTime(QORApiData* data, int64_t seconds) {
  std::atomic_ref<int64_t>(data->loadTime).store(seconds, std::memory_order_relaxed);
}
inline int64_t LoadTime(const QORApiData* data) {
  return std::atomic_ref<int64_t>(const_cast<QORApiData*>(data)->loadTime)
      .load(std::memory_order_relaxed);
}
inline void StorePolicyInitFrom(QORApiData* data, int32_t from) {
  std::atomic_ref<int32_t>(data->policyInitFrom).store(from, std::memory_order_relaxed);
}
inline int32_t PolicyInitFromOf(const QORApiData* data) {
  return std::atomic_ref<int32_t>(const_cast<QORApiData*>(data)->policyInitFrom)
      .load(std::memory_order_relaxed);
}

}  // namespace qor::config
