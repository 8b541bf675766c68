// Block padding written by the one-shot adapters before they encipher.
#include <cstring>

#include "qor/cipher_adapters.h"

namespace {

int PadCount(int length, int block) { return block - length % block; }

}  // namespace

extern "C" QOR_API int DoPadding(unsigned char* buffer, int length, int block) {
  if (buffer == nullptr || length < 0 || block < 1) return -1;
  const int p = PadCount(length, block);
  std::memset(buffer + length, p, static_cast<size_t>(p));
  return length + p;
}

extern "C" QOR_API int DoPaddingOnlyFinal(unsigned char* buffer, int length, int block) {
  if (buffer == nullptr || length < 0 || block < 1) return -1;
  const int p = PadCount(length, block);
  buffer[length + p - 1] = static_cast<unsigned char>(p);
  return length + p;
}
