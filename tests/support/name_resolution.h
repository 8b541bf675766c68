// Name resolution without a name server: while a ScopedResolver lives, names
// in the reserved ".invalid" domain fail at once and every other name goes to
// the system resolver (which answers "localhost" and addresses from local
// files). Offline machines would otherwise wait out the resolver's timeout.
#pragma once

#include <cstring>

#include "common/host_lookup.h"

namespace qor::test {

inline bool ResolveWithoutInvalid(const char* name, in_addr* address) {
  static constexpr char kInvalid[] = ".invalid";
  const size_t n = std::strlen(name);
  const size_t k = sizeof(kInvalid) - 1;
  if (n >= k && std::strcmp(name + n - k, kInvalid) == 0) return false;
  return qor::host::SystemResolve(name, address);
}

class ScopedResolver {
 public:
  ScopedResolver() { qor::host::SetResolverForTesting(&ResolveWithoutInvalid); }
  ~ScopedResolver() { qor::host::SetResolverForTesting(nullptr); }
  ScopedResolver(const ScopedResolver&) = delete;
  ScopedResolver& operator=(const ScopedResolver&) = delete;
};

}  // namespace qor::test
