// SHA-1 (FIPS 180-4): portable compression and the NC_E_SHA1 family.
#include <bit>

#include "primitives/sha/sha_internal.h"
#include "qor/nc_sha.h"

namespace qor::sha {

void Sha1BlocksPortable(uint32_t state[5], const uint8_t* data, size_t blocks) {
  for (; blocks != 0; --blocks, data += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = LoadBe32(data + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];

    // The schedule lives in a 16-word ring; word t overwrites word t - 16.
    auto next = [&w](int t) {
      uint32_t& slot = w[t & 15];
      slot = std::rotl(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ slot, 1);
      return slot;
    };
    auto step = [&](uint32_t f, uint32_t k, uint32_t wt) {
      const uint32_t t = std::rotl(a, 5) + f + e + k + wt;
      e = d;
      d = c;
      c = std::rotl(b, 30);
      b = a;
      a = t;
    };
#pragma GCC unroll 20
    for (int t = 0; t < 16; ++t) step(d ^ (b & (c ^ d)), 0x5a827999u, w[t]);
#pragma GCC unroll 4
    for (int t = 16; t < 20; ++t) step(d ^ (b & (c ^ d)), 0x5a827999u, next(t));
#pragma GCC unroll 20
    for (int t = 20; t < 40; ++t) step(b ^ c ^ d, 0x6ed9eba1u, next(t));
#pragma GCC unroll 20
    for (int t = 40; t < 60; ++t) step((b & c) | (d & (b | c)), 0x8f1bbcdcu, next(t));
#pragma GCC unroll 20
    for (int t = 60; t < 80; ++t) step(b ^ c ^ d, 0xca62c1d6u, next(t));

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
}

}  // namespace qor::sha

using qor::sha::Sha1Blocks;

int NC_E_SHA1_Init(NC_SHA1_CTX* ctx) {
  if (ctx == nullptr) return -1;
  qor::sha::Start(*ctx, qor::sha::kSha1Init);
  return 0;
}

int NC_E_SHA1_Update(NC_SHA1_CTX* ctx, const unsigned char* in, size_t inLen) {
  if (ctx == nullptr || (in == nullptr && inLen != 0)) return -1;
  qor::sha::Absorb<64>(*ctx, in, inLen, Sha1Blocks);
  return 0;
}

int NC_E_SHA1_Final(NC_SHA1_CTX* ctx, unsigned char* out) {
  if (ctx == nullptr || out == nullptr) return -1;
  qor::sha::Finish<64>(*ctx, out, 5, Sha1Blocks);
  return 0;
}

int NC_E_SHA1(unsigned char* out, const unsigned char* in, size_t inLen) {
  if (out == nullptr || (in == nullptr && inLen != 0)) return -1;
  NC_SHA1_CTX ctx;
  NC_E_SHA1_Init(&ctx);
  qor::sha::Absorb<64>(ctx, in, inLen, Sha1Blocks);
  qor::sha::Finish<64>(ctx, out, 5, Sha1Blocks);
  return 0;
}
