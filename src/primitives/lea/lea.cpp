// LEA: key schedule, portable block kernels, kernel choice and the block,
// ECB and CBC functions.
#include <bit>
#include <cstring>

#include "common/secure_wipe.h"
#include "primitives/byte_order.h"
#include "primitives/block_modes.h"
#include "primitives/lea/lea_internal.h"

namespace qor::lea {
namespace {

using primitives::LoadLe32;
using primitives::StoreLe32;

// Key-schedule constants (from the square root of 766965, "LEA" in ASCII).
constexpr uint32_t kDelta[8] = {0xc3efe9db, 0x44626b02, 0x79e27c8a, 0x78df30ec,
                                0x715ea49e, 0xc785da0a, 0xe04ef22a, 0xe5c40957};

void EcbEncPortable(const uint8_t* in, uint8_t* out, size_t blocks, const LEA_KEY* key) {
  for (size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
    uint32_t x0 = LoadLe32(in), x1 = LoadLe32(in + 4), x2 = LoadLe32(in + 8), x3 = LoadLe32(in + 12);
    EncryptRounds(x0, x1, x2, x3, key->rk, key->round);
    StoreLe32(out, x0);
    StoreLe32(out + 4, x1);
    StoreLe32(out + 8, x2);
    StoreLe32(out + 12, x3);
  }
}

void EcbDecPortable(const uint8_t* in, uint8_t* out, size_t blocks, const LEA_KEY* key) {
  for (size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
    uint32_t x0 = LoadLe32(in), x1 = LoadLe32(in + 4), x2 = LoadLe32(in + 8), x3 = LoadLe32(in + 12);
    DecryptRounds(x0, x1, x2, x3, key->rk, key->round);
    StoreLe32(out, x0);
    StoreLe32(out + 4, x1);
    StoreLe32(out + 8, x2);
    StoreLe32(out + 12, x3);
  }
}

constexpr Kernels kPortable = {EcbEncPortable, EcbDecPortable, "generic"};

constexpr primitives::Candidate<Kernels> kCandidates[] = {
    {"avx512", Avx512Kernels},
    {"avx2", Avx2Kernels},
    {"generic", [] { return &kPortable; }},
};

}  // namespace

const Kernels& PortableKernels() { return kPortable; }

constinit primitives::Dispatcher<Kernels> g_kernels{kCandidates};

void EncryptBlock(const uint8_t* in, uint8_t* out, const LEA_KEY* key) { EcbEncPortable(in, out, 1, key); }
void DecryptBlock(const uint8_t* in, uint8_t* out, const LEA_KEY* key) { EcbDecPortable(in, out, 1, key); }

void CbcEncryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const LEA_KEY* key,
                      uint8_t chain[16]) {
  // Serial by nature: one block at a time with the scalar rounds.
  uint32_t c0 = LoadLe32(chain), c1 = LoadLe32(chain + 4), c2 = LoadLe32(chain + 8), c3 = LoadLe32(chain + 12);
  for (size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
    c0 ^= LoadLe32(in);
    c1 ^= LoadLe32(in + 4);
    c2 ^= LoadLe32(in + 8);
    c3 ^= LoadLe32(in + 12);
    EncryptRounds(c0, c1, c2, c3, key->rk, key->round);
    StoreLe32(out, c0);
    StoreLe32(out + 4, c1);
    StoreLe32(out + 8, c2);
    StoreLe32(out + 12, c3);
  }
  StoreLe32(chain, c0);
  StoreLe32(chain + 4, c1);
  StoreLe32(chain + 8, c2);
  StoreLe32(chain + 12, c3);
}

void CbcDecryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const LEA_KEY* key,
                      uint8_t chain[16]) {
  if (blocks < 8) {
    // Too few blocks for the vector kernels: scalar rounds, block by block.
    uint32_t p0 = LoadLe32(chain), p1 = LoadLe32(chain + 4), p2 = LoadLe32(chain + 8), p3 = LoadLe32(chain + 12);
    for (size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
      const uint32_t c0 = LoadLe32(in), c1 = LoadLe32(in + 4), c2 = LoadLe32(in + 8), c3 = LoadLe32(in + 12);
      uint32_t x0 = c0, x1 = c1, x2 = c2, x3 = c3;
      DecryptRounds(x0, x1, x2, x3, key->rk, key->round);
      StoreLe32(out, x0 ^ p0);
      StoreLe32(out + 4, x1 ^ p1);
      StoreLe32(out + 8, x2 ^ p2);
      StoreLe32(out + 12, x3 ^ p3);
      p0 = c0;
      p1 = c1;
      p2 = c2;
      p3 = c3;
    }
    StoreLe32(chain, p0);
    StoreLe32(chain + 4, p1);
    StoreLe32(chain + 8, p2);
    StoreLe32(chain + 12, p3);
    return;
  }
  const Kernels& k = ActiveKernels();
  primitives::CbcDecryptInChunks(in, out, blocks, chain, [&](const uint8_t* c, uint8_t* p, size_t n) {
    k.ecbDec(c, p, n, key);
  });
}

bool ExpandKey(LEA_KEY* key, const uint8_t* mk, uint32_t len) {
  uint32_t t[8] = {};
  for (uint32_t i = 0; i < len / 4; ++i) t[i] = LoadLe32(mk + 4 * i);
  uint32_t* rk = key->rk;
  switch (len) {
    case 16:
      for (uint32_t i = 0; i < 24; ++i, rk += 6) {
        const uint32_t d = kDelta[i % 4];
        t[0] = std::rotl(t[0] + std::rotl(d, static_cast<int>(i)), 1);
        t[1] = std::rotl(t[1] + std::rotl(d, static_cast<int>(i + 1)), 3);
        t[2] = std::rotl(t[2] + std::rotl(d, static_cast<int>(i + 2)), 6);
        t[3] = std::rotl(t[3] + std::rotl(d, static_cast<int>(i + 3)), 11);
        rk[0] = t[0];
        rk[1] = t[1];
        rk[2] = t[2];
        rk[3] = t[1];
        rk[4] = t[3];
        rk[5] = t[1];
      }
      key->round = 24;
      break;
    case 24:
      for (uint32_t i = 0; i < 28; ++i, rk += 6) {
        const uint32_t d = kDelta[i % 6];
        constexpr int kRot[6] = {1, 3, 6, 11, 13, 17};
        for (int j = 0; j < 6; ++j) {
          t[j] = std::rotl(t[j] + std::rotl(d, static_cast<int>(i) + j), kRot[j]);
          rk[j] = t[j];
        }
      }
      key->round = 28;
      break;
    case 32:
      for (uint32_t i = 0; i < 32; ++i, rk += 6) {
        const uint32_t d = kDelta[i % 8];
        constexpr int kRot[6] = {1, 3, 6, 11, 13, 17};
        for (uint32_t j = 0; j < 6; ++j) {
          uint32_t& w = t[(6 * i + j) % 8];
          w = std::rotl(w + std::rotl(d, static_cast<int>(i + j)), kRot[j]);
          rk[j] = w;
        }
      }
      key->round = 32;
      break;
    default:
      return false;
  }
  qor::SecureWipe(t, sizeof t);
  return true;
}

}  // namespace qor::lea


extern "C" {

QOR_API int lea_set_key(LEA_KEY* key, const uint8_t* mk, uint32_t mk_len) {
  if (key == nullptr || mk == nullptr || (mk_len != 16 && mk_len != 24 && mk_len != 32)) return -1;
  return qor::lea::ExpandKey(key, mk, mk_len) ? 0 : -1;
}

QOR_API void lea_encrypt(uint8_t* ct, const uint8_t* pt, const LEA_KEY* key) {
  if (ct == nullptr || pt == nullptr || key == nullptr) return;
  qor::lea::EncryptBlock(pt, ct, key);
}

QOR_API void lea_decrypt(uint8_t* pt, const uint8_t* ct, const LEA_KEY* key) {
  if (ct == nullptr || pt == nullptr || key == nullptr) return;
  qor::lea::DecryptBlock(ct, pt, key);
}

QOR_API int lea_ecb_enc(uint8_t* ct, const uint8_t* pt, uint32_t pt_len, const LEA_KEY* key) {
  if (ct == nullptr || pt == nullptr || key == nullptr || pt_len == 0 || pt_len % 16 != 0) return -1;
  qor::lea::ActiveKernels().ecbEnc(pt, ct, pt_len / 16, key);
  return 0;
}

QOR_API int lea_ecb_dec(uint8_t* pt, const uint8_t* ct, uint32_t ct_len, const LEA_KEY* key) {
  if (ct == nullptr || pt == nullptr || key == nullptr || ct_len == 0 || ct_len % 16 != 0) return -1;
  qor::lea::ActiveKernels().ecbDec(ct, pt, ct_len / 16, key);
  return 0;
}

QOR_API int lea_cbc_enc(uint8_t* ct, const uint8_t* pt, uint32_t pt_len, const uint8_t* iv,
                        const LEA_KEY* key) {
  if (ct == nullptr || pt == nullptr || iv == nullptr || key == nullptr || pt_len == 0 ||
      pt_len % 16 != 0)
    return -1;
  uint8_t chain[16];
  std::memcpy(chain, iv, 16);
  qor::lea::CbcEncryptBlocks(pt, ct, pt_len / 16, key, chain);
  return 0;
}

QOR_API int lea_cbc_dec(uint8_t* pt, const uint8_t* ct, uint32_t ct_len, const uint8_t* iv,
                        const LEA_KEY* key) {
  if (ct == nullptr || pt == nullptr || iv == nullptr || key == nullptr || ct_len == 0 ||
      ct_len % 16 != 0)
    return -1;
  uint8_t chain[16];
  std::memcpy(chain, iv, 16);
  qor::lea::CbcDecryptBlocks(ct, pt, ct_len / 16, key, chain);
  return 0;
}

QOR_API const char* get_simd_type(void) { return qor::lea::ActiveKernels().name; }

QOR_API void init_simd(void) {}

}  // extern "C"
