// Counter step of the ARIA counter mode.
#include "qor/nc_aria.h"

extern "C" QOR_API void CTR_INCREASE(uint8_t counter[16]) {
  if (counter == nullptr) return;
  // Bytes 8..15 form a big-endian 64-bit counter; the carry stops at byte 8.
  for (int i = 15; i >= 8; --i) {
    if (++counter[i] != 0) break;
  }
}
