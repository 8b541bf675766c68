// Zero-filled small blocks for structures built by the thousand, as a key
// load builds them.
#pragma once

#include <cstdlib>
#include <cstring>

namespace qor {

// As calloc(1, size). glibc's calloc bypasses the per-thread cache that
// malloc serves small blocks from, and on a heap full of a freed key set its
// search of the bins costs several times malloc and the fill together.
inline void* ZeroedAlloc(size_t size) {
  void* block = std::malloc(size);
  if (block != nullptr) std::memset(block, 0, size);
  return block;
}

}  // namespace qor
