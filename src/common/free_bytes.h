// The deleter for buffers that come from malloc: std::unique_ptr<T, FreeBytes>.
#pragma once

#include <cstdlib>

namespace qor {

struct FreeBytes {
  void operator()(void* p) const { std::free(p); }
};

}  // namespace qor
