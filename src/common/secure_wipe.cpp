#include "common/secure_wipe.h"

#include <cstring>

namespace qor {

void SecureWipe(void* p, std::size_t n) {
  if (p == nullptr || n == 0) return;
  std::memset(p, 0, n);
  // The barrier tells the compiler the zeroed memory is read afterwards, so
  // the memset cannot be removed as a dead store.
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

void SecureFill(void* p, unsigned char value, std::size_t n) {
  if (p == nullptr || n == 0) return;
  std::memset(p, value, n);
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

}  // namespace qor
