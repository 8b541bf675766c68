// Picks the AES implementation once per process.
#include <atomic>

#include "primitives/aes/aes_internal.h"

namespace qor::aes {
namespace {

constinit std::atomic<const Impl*> g_forced{nullptr};

}  // namespace

const Impl& Active() {
  static const Impl* const chosen = [] {
    if (const Impl* wide = VaesImpl()) return wide;
    if (const Impl* ni = AesNiImpl()) return ni;
    return &PortableImpl();
  }();
  const Impl* forced = g_forced.load(std::memory_order_relaxed);
  return forced != nullptr ? *forced : *chosen;
}

void ForceImpl(const Impl* impl) { g_forced.store(impl, std::memory_order_relaxed); }

void ForcePortable(bool force) { ForceImpl(force ? &PortableImpl() : nullptr); }

}  // namespace qor::aes
