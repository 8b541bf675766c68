// A single SHA-1 compression from the standard initial value, and the ANSI
// X9.62 G function (seed-to-value step of the X9.62 / FIPS 186 generators).
#include "common/secure_wipe.h"
#include "primitives/sha/sha_internal.h"
#include "qor/nc_sha.h"

int NC_E_MySHA1(unsigned char* out, const unsigned char* block) {
  if (out == nullptr || block == nullptr) return -1;
  uint32_t state[5];
  std::memcpy(state, qor::sha::kSha1Init, sizeof(state));
  qor::sha::Sha1Blocks(state, block, 1);
  for (int i = 0; i < 5; ++i) qor::sha::StoreBe32(out + 4 * i, state[i]);
  qor::SecureWipe(state, sizeof(state));
  return 0;
}

int NC_E_X9_62_G(unsigned char* out, const unsigned char* c, size_t cLen) {
  if (out == nullptr || c == nullptr || cLen < 20 || cLen > 64) return -1;
  // c is secret seed material in the generators that use G.
  uint8_t block[64] = {};
  std::memcpy(block, c, cLen);
  const int rc = NC_E_MySHA1(out, block);
  qor::SecureWipe(block, sizeof(block));
  return rc;
}
