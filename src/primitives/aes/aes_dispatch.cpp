// Picks the AES implementation once per process.
#include <atomic>

#include "primitives/aes/aes_internal.h"

namespace qor::aes {
namespace {

constinit std::atomic<bool> g_forcePortable{false};

}  // namespace

const Impl& Active() {
  static const Impl* const chosen = [] {
    const Impl* hw = HardwareImpl();
    return hw != nullptr ? hw : &PortableImpl();
  }();
  return g_forcePortable.load(std::memory_order_relaxed) ? PortableImpl() : *chosen;
}

void ForcePortable(bool force) { g_forcePortable.store(force, std::memory_order_relaxed); }

}  // namespace qor::aes
