// Table-driven AES: key expansion, single blocks and the bulk modes used when
// the processor has no AES instructions (or when tests force this path).
#include <cstring>

#include "primitives/aes/aes_internal.h"
#include "primitives/aes/aes_tables.h"
#include "primitives/block_modes.h"
#include "primitives/byte_order.h"

namespace qor::aes {
namespace {

using primitives::LoadBe32;
using primitives::StoreBe32;

inline uint32_t Byte(uint32_t w, int n) { return (w >> (8 * n)) & 0xFF; }

inline uint32_t SubWord(const Tables& t, uint32_t w) {
  return (uint32_t{t.sbox[Byte(w, 3)]} << 24) | (uint32_t{t.sbox[Byte(w, 2)]} << 16) |
         (uint32_t{t.sbox[Byte(w, 1)]} << 8) | uint32_t{t.sbox[Byte(w, 0)]};
}

void PortableEcbEncrypt(const uint32_t* rk, int rounds, const uint8_t* in, uint8_t* out, size_t blocks) {
  for (size_t i = 0; i < blocks; ++i) PortableEncryptBlock(rk, rounds, in + 16 * i, out + 16 * i);
}

void PortableEcbDecrypt(const uint32_t* rk, int rounds, const uint8_t* in, uint8_t* out, size_t blocks) {
  for (size_t i = 0; i < blocks; ++i) PortableDecryptBlock(rk, rounds, in + 16 * i, out + 16 * i);
}

// The chained modes are the shared ones over the table cipher.
void PortableCbcEncrypt(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                        size_t blocks) {
  primitives::CbcEncrypt(in, out, blocks, iv,
                         [rk, rounds](const uint8_t* src, uint8_t* dst) { PortableEncryptBlock(rk, rounds, src, dst); });
}

void PortableCbcDecrypt(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                        size_t blocks) {
  primitives::CbcDecryptInChunks(in, out, blocks, iv, [rk, rounds](const uint8_t* src, uint8_t* dst, size_t n) {
    PortableEcbDecrypt(rk, rounds, src, dst, n);
  });
}

void PortableOfb(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                 size_t blocks) {
  primitives::FeedbackCrypt<false>(in, out, 16 * blocks, iv, [rk, rounds](const uint8_t* src, uint8_t* dst) {
    PortableEncryptBlock(rk, rounds, src, dst);
  });
}

void PortableCfbEncrypt(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                        size_t blocks) {
  primitives::FeedbackCrypt<true>(in, out, 16 * blocks, iv, [rk, rounds](const uint8_t* src, uint8_t* dst) {
    PortableEncryptBlock(rk, rounds, src, dst);
  });
}

void PortableCfbDecrypt(const uint32_t* rk, int rounds, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                        size_t blocks) {
  primitives::CfbDecrypt(in, out, 16 * blocks, iv, [rk, rounds](const uint8_t* src, uint8_t* dst, size_t n) {
    PortableEcbEncrypt(rk, rounds, src, dst, n);
  });
}

int ExpandWithTables(const uint8_t* key, size_t keyLength, uint32_t* rk);

void PortableExpandKey128(const uint8_t* key, uint32_t* rk) { ExpandWithTables(key, 16, rk); }

constexpr Impl kPortable = {
    "generic",          PortableEncryptBlock, PortableDecryptBlock, PortableEcbEncrypt,   PortableEcbDecrypt,
    PortableCbcEncrypt, PortableCbcDecrypt,   PortableOfb,          PortableCfbEncrypt,   PortableCfbDecrypt,
    PortableExpandKey128,
};

int ExpandWithTables(const uint8_t* key, size_t keyLength, uint32_t* rk) {
  const Tables& t = GetTables();
  const int nk = static_cast<int>(keyLength / 4);
  const int rounds = nk + 6;
  const int total = 4 * (rounds + 1);
  for (int i = 0; i < nk; ++i) rk[i] = LoadBe32(key + 4 * i);
  for (int i = nk; i < total; ++i) {
    uint32_t temp = rk[i - 1];
    if (i % nk == 0) {
      temp = SubWord(t, (temp << 8) | (temp >> 24)) ^ t.rcon[i / nk - 1];
    } else if (nk > 6 && i % nk == 4) {
      temp = SubWord(t, temp);
    }
    rk[i] = rk[i - nk] ^ temp;
  }
  return rounds;
}

}  // namespace

int ExpandEncryptKey(const uint8_t* key, size_t keyLength, uint32_t* rk) {
  if (keyLength == 16) {
    // 128-bit keys are the hot case (one schedule per format-preserving call).
    Active().expandKey128(key, rk);
    return 10;
  }
  if (keyLength != 24 && keyLength != 32) return 0;
  return ExpandWithTables(key, keyLength, rk);
}

void MakeDecryptKey(const uint32_t* enc, int rounds, uint32_t* dec) {
  const Tables& t = GetTables();
  for (int r = 0; r <= rounds; ++r) {
    const uint32_t* src = enc + 4 * (rounds - r);
    uint32_t* dst = dec + 4 * r;
    for (int c = 0; c < 4; ++c) {
      const uint32_t w = src[c];
      if (r == 0 || r == rounds) {
        dst[c] = w;
      } else {
        // Td[k][S(b)] is InvMixColumns applied to byte b alone in row k.
        dst[c] = t.td[0][t.sbox[Byte(w, 3)]] ^ t.td[1][t.sbox[Byte(w, 2)]] ^ t.td[2][t.sbox[Byte(w, 1)]] ^
                 t.td[3][t.sbox[Byte(w, 0)]];
      }
    }
  }
}

void PortableEncryptBlock(const uint32_t* rk, int rounds, const uint8_t in[16], uint8_t out[16]) {
  const Tables& t = GetTables();
  uint32_t s0 = LoadBe32(in) ^ rk[0];
  uint32_t s1 = LoadBe32(in + 4) ^ rk[1];
  uint32_t s2 = LoadBe32(in + 8) ^ rk[2];
  uint32_t s3 = LoadBe32(in + 12) ^ rk[3];
  for (int r = 1; r < rounds; ++r) {
    rk += 4;
    const uint32_t t0 = t.te[0][Byte(s0, 3)] ^ t.te[1][Byte(s1, 2)] ^ t.te[2][Byte(s2, 1)] ^ t.te[3][Byte(s3, 0)] ^ rk[0];
    const uint32_t t1 = t.te[0][Byte(s1, 3)] ^ t.te[1][Byte(s2, 2)] ^ t.te[2][Byte(s3, 1)] ^ t.te[3][Byte(s0, 0)] ^ rk[1];
    const uint32_t t2 = t.te[0][Byte(s2, 3)] ^ t.te[1][Byte(s3, 2)] ^ t.te[2][Byte(s0, 1)] ^ t.te[3][Byte(s1, 0)] ^ rk[2];
    const uint32_t t3 = t.te[0][Byte(s3, 3)] ^ t.te[1][Byte(s0, 2)] ^ t.te[2][Byte(s1, 1)] ^ t.te[3][Byte(s2, 0)] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  const uint8_t* sb = t.sbox;
  auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
    return ((uint32_t{sb[Byte(a, 3)]} << 24) | (uint32_t{sb[Byte(b, 2)]} << 16) | (uint32_t{sb[Byte(c, 1)]} << 8) |
            uint32_t{sb[Byte(d, 0)]}) ^ k;
  };
  const uint32_t o0 = last(s0, s1, s2, s3, rk[0]);
  const uint32_t o1 = last(s1, s2, s3, s0, rk[1]);
  const uint32_t o2 = last(s2, s3, s0, s1, rk[2]);
  const uint32_t o3 = last(s3, s0, s1, s2, rk[3]);
  StoreBe32(out, o0);
  StoreBe32(out + 4, o1);
  StoreBe32(out + 8, o2);
  StoreBe32(out + 12, o3);
}

void PortableDecryptBlock(const uint32_t* rk, int rounds, const uint8_t in[16], uint8_t out[16]) {
  const Tables& t = GetTables();
  uint32_t s0 = LoadBe32(in) ^ rk[0];
  uint32_t s1 = LoadBe32(in + 4) ^ rk[1];
  uint32_t s2 = LoadBe32(in + 8) ^ rk[2];
  uint32_t s3 = LoadBe32(in + 12) ^ rk[3];
  for (int r = 1; r < rounds; ++r) {
    rk += 4;
    const uint32_t t0 = t.td[0][Byte(s0, 3)] ^ t.td[1][Byte(s3, 2)] ^ t.td[2][Byte(s2, 1)] ^ t.td[3][Byte(s1, 0)] ^ rk[0];
    const uint32_t t1 = t.td[0][Byte(s1, 3)] ^ t.td[1][Byte(s0, 2)] ^ t.td[2][Byte(s3, 1)] ^ t.td[3][Byte(s2, 0)] ^ rk[1];
    const uint32_t t2 = t.td[0][Byte(s2, 3)] ^ t.td[1][Byte(s1, 2)] ^ t.td[2][Byte(s0, 1)] ^ t.td[3][Byte(s3, 0)] ^ rk[2];
    const uint32_t t3 = t.td[0][Byte(s3, 3)] ^ t.td[1][Byte(s2, 2)] ^ t.td[2][Byte(s1, 1)] ^ t.td[3][Byte(s0, 0)] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  const uint8_t* isb = t.invSbox;
  auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
    return ((uint32_t{isb[Byte(a, 3)]} << 24) | (uint32_t{isb[Byte(b, 2)]} << 16) |
            (uint32_t{isb[Byte(c, 1)]} << 8) | uint32_t{isb[Byte(d, 0)]}) ^ k;
  };
  const uint32_t o0 = last(s0, s3, s2, s1, rk[0]);
  const uint32_t o1 = last(s1, s0, s3, s2, rk[1]);
  const uint32_t o2 = last(s2, s1, s0, s3, rk[2]);
  const uint32_t o3 = last(s3, s2, s1, s0, rk[3]);
  StoreBe32(out, o0);
  StoreBe32(out + 4, o1);
  StoreBe32(out + 8, o2);
  StoreBe32(out + 12, o3);
}

const Impl& PortableImpl() { return kPortable; }

}  // namespace qor::aes
