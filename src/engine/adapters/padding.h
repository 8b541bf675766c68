// The check of the block padding a decryption ends with, shared by the value
// adapters and the key-set answer read while it arrives.
#pragma once

namespace qor::engine::adapters {

// The padding count that |last|, the final |kBlock| bytes of a decrypted
// text, ends with (1 to kBlock), or 0 when any padding byte does not hold it.
// Every padding byte is checked: checking only the last one lets one random
// block in sixteen pass. The whole block is read in one pass without early
// exits: as fast for a full padding block as for one byte, and the time says
// nothing about where a wrong byte sits.
template <int kBlock>
inline int PaddingCount(const unsigned char* last) {
  const int p = last[kBlock - 1];
  unsigned wrong = 0;
  for (int i = 0; i < kBlock; ++i) {
    const unsigned covered = 0u - static_cast<unsigned>(kBlock - i <= p);
    wrong |= (last[i] ^ static_cast<unsigned>(p)) & covered;
  }
  return p != 0 && p <= kBlock && wrong == 0 ? p : 0;
}

}  // namespace qor::engine::adapters
