// Counter step of the ARIA counter mode.
#include "primitives/aria/aria_internal.h"
#include "qor/nc_aria.h"

extern "C" QOR_API void CTR_INCREASE(uint8_t counter[16]) {
  if (counter == nullptr) return;
  qor::aria::CtrIncrease(counter);
}
