// SHA-256 (FIPS 180-4): round constants, portable compression and the
// NC_E_SHA256 family. NC_NewSha2 (new_sha2.cpp) runs the same compression.
#include <bit>

#include "primitives/sha/sha_internal.h"
#include "qor/nc_sha.h"

namespace qor::sha {

const uint32_t kSha256K[64] = {
    0x428a2f98u, 0x71374491u, 0xb5c0fbcfu, 0xe9b5dba5u, 0x3956c25bu, 0x59f111f1u, 0x923f82a4u,
    0xab1c5ed5u, 0xd807aa98u, 0x12835b01u, 0x243185beu, 0x550c7dc3u, 0x72be5d74u, 0x80deb1feu,
    0x9bdc06a7u, 0xc19bf174u, 0xe49b69c1u, 0xefbe4786u, 0x0fc19dc6u, 0x240ca1ccu, 0x2de92c6fu,
    0x4a7484aau, 0x5cb0a9dcu, 0x76f988dau, 0x983e5152u, 0xa831c66du, 0xb00327c8u, 0xbf597fc7u,
    0xc6e00bf3u, 0xd5a79147u, 0x06ca6351u, 0x14292967u, 0x27b70a85u, 0x2e1b2138u, 0x4d2c6dfcu,
    0x53380d13u, 0x650a7354u, 0x766a0abbu, 0x81c2c92eu, 0x92722c85u, 0xa2bfe8a1u, 0xa81a664bu,
    0xc24b8b70u, 0xc76c51a3u, 0xd192e819u, 0xd6990624u, 0xf40e3585u, 0x106aa070u, 0x19a4c116u,
    0x1e376c08u, 0x2748774cu, 0x34b0bcb5u, 0x391c0cb3u, 0x4ed8aa4au, 0x5b9cca4fu, 0x682e6ff3u,
    0x748f82eeu, 0x78a5636fu, 0x84c87814u, 0x8cc70208u, 0x90befffau, 0xa4506cebu, 0xbef9a3f7u,
    0xc67178f2u};

void Sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t blocks) {
  for (; blocks != 0; --blocks, data += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = LoadBe32(data + 4 * i);
    uint32_t v[8];
    for (int i = 0; i < 8; ++i) v[i] = state[i];

    // Round t keeps a..h at v[(i - t) & 7], so no values are moved between
    // rounds; full unrolling turns every index into a fixed register.
#pragma GCC unroll 64
    for (int t = 0; t < 64; ++t) {
      uint32_t wt;
      if (t < 16) {
        wt = w[t];
      } else {
        const uint32_t w15 = w[(t + 1) & 15], w2 = w[(t + 14) & 15];
        const uint32_t s0 = std::rotr(w15, 7) ^ std::rotr(w15, 18) ^ (w15 >> 3);
        const uint32_t s1 = std::rotr(w2, 17) ^ std::rotr(w2, 19) ^ (w2 >> 10);
        wt = w[t & 15] += s0 + w[(t + 9) & 15] + s1;
      }
      uint32_t& a = v[(0 - t) & 7];
      uint32_t& b = v[(1 - t) & 7];
      uint32_t& c = v[(2 - t) & 7];
      uint32_t& d = v[(3 - t) & 7];
      uint32_t& e = v[(4 - t) & 7];
      uint32_t& f = v[(5 - t) & 7];
      uint32_t& g = v[(6 - t) & 7];
      uint32_t& h = v[(7 - t) & 7];
      const uint32_t t1 = h + (std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25)) +
                          (g ^ (e & (f ^ g))) + kSha256K[t] + wt;
      const uint32_t t2 = (std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22)) +
                          ((a & b) | (c & (a | b)));
      d += t1;
      h = t1 + t2;  // becomes the next round's a
    }
    for (int i = 0; i < 8; ++i) state[i] += v[i];
  }
}

}  // namespace qor::sha

using qor::sha::Sha256Blocks;

int NC_E_SHA256_Init(NC_SHA256_CTX* ctx) {
  if (ctx == nullptr) return -1;
  qor::sha::Start(*ctx, qor::sha::kSha256Init);
  return 0;
}

int NC_E_SHA256_Update(NC_SHA256_CTX* ctx, const unsigned char* in, size_t inLen) {
  if (ctx == nullptr || (in == nullptr && inLen != 0)) return -1;
  qor::sha::Absorb<64>(*ctx, in, inLen, Sha256Blocks);
  return 0;
}

int NC_E_SHA256_Final(NC_SHA256_CTX* ctx, unsigned char* out) {
  if (ctx == nullptr || out == nullptr) return -1;
  qor::sha::Finish<64>(*ctx, out, 8, Sha256Blocks);
  return 0;
}

int NC_E_SHA256(unsigned char* out, int* outLen, const unsigned char* in, size_t inLen) {
  // The length is reported even when the call is refused: callers size
  // their output from it.
  if (outLen != nullptr) *outLen = NC_SHA256_DIGEST_LEN;
  if (out == nullptr || (in == nullptr && inLen != 0)) return -1;
  NC_SHA256_CTX ctx;
  NC_E_SHA256_Init(&ctx);
  qor::sha::Absorb<64>(ctx, in, inLen, Sha256Blocks);
  qor::sha::Finish<64>(ctx, out, 8, Sha256Blocks);
  return 0;
}
