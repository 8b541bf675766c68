// Single and triple DES: key schedule, block functions, one-shot CBC and the
// key helpers.
#include "qor/nc_des.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "common/secure_wipe.h"
#include "primitives/block_modes.h"
#include "primitives/des/des_bitslice.h"
#include "primitives/des/des_core.h"

namespace qor::des {
namespace {

constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                              10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                              63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                              14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr int kBlock = 8;

// The key schedule's two bit selections as byte tables derived from PC-1 and
// PC-2: each byte of the input contributes the OR of its bits' images, so a
// schedule is a few dozen lookups instead of a loop over every bit.
// kPc1Bytes[i][v]: the 56-bit C||D (C in bits 55..28) that key byte i = v gives.
constexpr std::array<std::array<uint64_t, 256>, 8> MakePc1Bytes() {
  std::array<std::array<uint64_t, 8>, 8> bit{};  // [byte][bit from the MSB]
  for (int j = 0; j < 56; ++j) {
    const int k = kPc1[j] - 1;
    bit[k / 8][k % 8] |= uint64_t{1} << (55 - j);
  }
  std::array<std::array<uint64_t, 256>, 8> table{};
  for (int i = 0; i < 8; ++i) {
    for (int v = 0; v < 256; ++v) {
      for (int b = 0; b < 8; ++b) {
        if ((v >> (7 - b)) & 1) table[i][v] |= bit[i][b];
      }
    }
  }
  return table;
}
constexpr auto kPc1Bytes = MakePc1Bytes();

// kPc2Bytes[m][v]: the two schedule words (high 32 bits: the even word) that
// bits 8m..8m+7 of C||D = v give.
constexpr std::array<std::array<uint64_t, 256>, 7> MakePc2Bytes() {
  std::array<std::array<uint64_t, 8>, 7> bit{};  // [byte][bit from the LSB]
  for (int j = 0; j < 48; ++j) {
    const int source = 56 - kPc2[j];
    const int group = j / 6;
    const int shift = (group % 2 == 0 ? 32 : 0) + (3 - group / 2) * 8 + (5 - j % 6);
    bit[source / 8][source % 8] |= uint64_t{1} << shift;
  }
  std::array<std::array<uint64_t, 256>, 7> table{};
  for (int m = 0; m < 7; ++m) {
    for (int v = 0; v < 256; ++v) {
      for (int b = 0; b < 8; ++b) {
        if ((v >> b) & 1) table[m][v] |= bit[m][b];
      }
    }
  }
  return table;
}
constexpr auto kPc2Bytes = MakePc2Bytes();

// CBC encryption of whole and trailing partial blocks; chaining is done in
// the permuted domain (the permutation is linear), so the previous block's
// state feeds the next without a final/initial permutation in between.
void Cbc3Encrypt(const uint8_t* in, uint8_t* out, size_t len, const uint8_t* iv, const uint32_t* k1,
                 const uint32_t* k2, const uint32_t* k3) {
  uint32_t cl, cr;
  LoadIp(iv, cl, cr);
  size_t off = 0;
  for (; off + kBlock <= len; off += kBlock) {
    uint32_t l[1], r[1];
    LoadIp(in + off, l[0], r[0]);
    l[0] ^= cl;
    r[0] ^= cr;
    Des3Core<false, 1>(l, r, k1, k2, k3);
    cl = l[0];
    cr = r[0];
    StoreFp(out + off, cl, cr);
  }
  if (off < len) {
    uint8_t last[kBlock] = {};
    std::memcpy(last, in + off, len - off);
    uint32_t l[1], r[1];
    LoadIp(last, l[0], r[0]);
    l[0] ^= cl;
    r[0] ^= cr;
    Des3Core<false, 1>(l, r, k1, k2, k3);
    StoreFp(out + off, l[0], r[0]);
  }
}

// N blocks of CBC decryption; |prev| is the IP-domain previous ciphertext.
template <int N>
inline void Cbc3DecryptGroup(const uint8_t* in, uint8_t* out, uint32_t& pl, uint32_t& pr,
                             const uint32_t* k1, const uint32_t* k2, const uint32_t* k3) {
  uint32_t l[N], r[N], cl[N], cr[N];
  for (int j = 0; j < N; ++j) {
    LoadIp(in + kBlock * j, cl[j], cr[j]);
    l[j] = cl[j];
    r[j] = cr[j];
  }
  Des3Core<true, N>(l, r, k1, k2, k3);
  l[0] ^= pl;
  r[0] ^= pr;
  for (int j = 1; j < N; ++j) {
    l[j] ^= cl[j - 1];
    r[j] ^= cr[j - 1];
  }
  pl = cl[N - 1];
  pr = cr[N - 1];
  for (int j = 0; j < N; ++j) StoreFp(out + kBlock * j, l[j], r[j]);
}

// CBC decryption of whole blocks through the bitsliced engine, a batch at a
// time. |prev| is the IV on entry and the last ciphertext block on return.
// Each batch is XORed back to front so that in == out works.
// Returns the number of blocks done; a remainder too short to pay for a batch
// is left to the table path.
size_t Cbc3DecryptBitsliced(const uint8_t* in, uint8_t* out, size_t blocks, uint8_t prev[kBlock],
                            const uint32_t* k1, const uint32_t* k2, const uint32_t* k3) {
  alignas(64) uint8_t plain[kBitsliceBatch * kBlock];
  size_t done = 0;
  while (blocks - done >= kBitsliceMinBlocks) {
    const size_t n = std::min(kBitsliceBatch, blocks - done);
    const uint8_t* c = in + done * kBlock;
    uint8_t* p = out + done * kBlock;
    Des3DecryptBitsliced(c, plain, n, k1, k2, k3);
    primitives::XorChainBackward<kBlock>(c, p, plain, n, prev);
    done += n;
  }
  SecureWipe(plain, sizeof(plain));
  return done;
}

void Cbc3Decrypt(const uint8_t* in, uint8_t* out, size_t len, const uint8_t* iv, const uint32_t* k1,
                 const uint32_t* k2, const uint32_t* k3) {
  uint8_t prev[kBlock];
  std::memcpy(prev, iv, kBlock);
  size_t off = 0;
  if (len / kBlock >= kBitsliceMinBlocks && BitsliceEnabled()) {
    off = Cbc3DecryptBitsliced(in, out, len / kBlock, prev, k1, k2, k3) * kBlock;
  }
  uint32_t pl, pr;
  LoadIp(prev, pl, pr);
  for (; off + 4 * kBlock <= len; off += 4 * kBlock) Cbc3DecryptGroup<4>(in + off, out + off, pl, pr, k1, k2, k3);
  for (; off + 2 * kBlock <= len; off += 2 * kBlock) Cbc3DecryptGroup<2>(in + off, out + off, pl, pr, k1, k2, k3);
  for (; off + kBlock <= len; off += kBlock) Cbc3DecryptGroup<1>(in + off, out + off, pl, pr, k1, k2, k3);
  if (off < len) {
    uint8_t last[kBlock] = {};
    std::memcpy(last, in + off, len - off);
    Cbc3DecryptGroup<1>(last, out + off, pl, pr, k1, k2, k3);
  }
}

template <bool kDecrypt>
void SingleBlock(const uint8_t* in, uint8_t* out, const uint32_t* k1, const uint32_t* k2,
                 const uint32_t* k3) {
  Des3Blocks<kDecrypt, 1>(in, out, k1, k2, k3);
}

inline bool CbcArgsOk(const uint8_t* in, uint8_t* out, const uint32_t* ks, int32_t len, const uint8_t* iv) {
  // The rounded-up length must still fit the int result.
  return len >= 0 && len <= INT32_MAX - 15 && ks != nullptr && iv != nullptr && (len == 0 || (in != nullptr && out != nullptr));
}

inline int32_t RoundUp(int32_t len) { return static_cast<int32_t>((static_cast<int64_t>(len) + 7) / 8 * 8); }

constexpr uint8_t kWeakKeys[16][8] = {
    {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01}, {0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE},
    {0xE0, 0xE0, 0xE0, 0xE0, 0xF1, 0xF1, 0xF1, 0xF1}, {0x1F, 0x1F, 0x1F, 0x1F, 0x0E, 0x0E, 0x0E, 0x0E},
    {0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE}, {0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01},
    {0x1F, 0xE0, 0x1F, 0xE0, 0x0E, 0xF1, 0x0E, 0xF1}, {0xE0, 0x1F, 0xE0, 0x1F, 0xF1, 0x0E, 0xF1, 0x0E},
    {0x01, 0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1}, {0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1, 0x01},
    {0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E, 0xFE}, {0xFE, 0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E},
    {0x01, 0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E}, {0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E, 0x01},
    {0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1, 0xFE}, {0xFE, 0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1},
};

}  // namespace

void KeySchedule(const uint8_t key[8], uint32_t ks[kScheduleWords]) {
  uint64_t cd0 = 0;
  for (int i = 0; i < 8; ++i) cd0 |= kPc1Bytes[i][key[i]];
  uint32_t c = static_cast<uint32_t>(cd0 >> 28);
  uint32_t d = static_cast<uint32_t>(cd0) & 0x0FFFFFFFu;
  for (int round = 0; round < 16; ++round) {
    const int s = kShifts[round];
    c = ((c << s) | (c >> (28 - s))) & 0x0FFFFFFFu;
    d = ((d << s) | (d >> (28 - s))) & 0x0FFFFFFFu;
    const uint64_t cd = (static_cast<uint64_t>(c) << 28) | d;
    uint64_t words = 0;
    for (int m = 0; m < 7; ++m) words |= kPc2Bytes[m][(cd >> (8 * m)) & 0xFF];
    ks[2 * round] = static_cast<uint32_t>(words >> 32);
    ks[2 * round + 1] = static_cast<uint32_t>(words);
  }
}

void EncryptHalves(uint32_t& hi, uint32_t& lo, const uint32_t* ks) {
  uint32_t l[1] = {hi}, r[1] = {lo};
  InitialPermutation(l[0], r[0]);
  DesCore<false, 1>(l, r, ks);
  FinalPermutation(l[0], r[0]);
  hi = l[0];
  lo = r[0];
}

}  // namespace qor::des

using qor::des::kScheduleWords;

extern "C" {

QOR_API void NC_E_DES_KeySchedule(const uint8_t key[8], uint32_t ks[NC_DES_SCHEDULE_WORDS]) {
  if (key == nullptr || ks == nullptr) return;
  qor::des::KeySchedule(key, ks);
}

QOR_API void NC_E_DES3_KeyScheduleEx(NC_DES3_CTX* ctx, const uint8_t key[16]) {
  if (ctx == nullptr || key == nullptr) return;
  qor::des::KeySchedule(key, ctx->ks[0]);
  qor::des::KeySchedule(key + 8, ctx->ks[1]);
  std::memcpy(ctx->ks[2], ctx->ks[0], sizeof(ctx->ks[0]));
}

QOR_API void NC_E_DES3_3Key_ScheduleEx(NC_DES3_CTX* ctx, const uint8_t key[24]) {
  if (ctx == nullptr || key == nullptr) return;
  for (int i = 0; i < 3; ++i) qor::des::KeySchedule(key + 8 * i, ctx->ks[i]);
}

QOR_API int NC_E_DES3_CBC_Encrypt(const uint8_t* in, uint8_t* out, const uint32_t* ks, int32_t len,
                                  const uint8_t* iv) {
  if (!qor::des::CbcArgsOk(in, out, ks, len, iv)) return -1;
  qor::des::Cbc3Encrypt(in, out, static_cast<size_t>(len), iv, ks, ks + kScheduleWords, ks);
  return qor::des::RoundUp(len);
}

QOR_API int NC_E_DES3_CBC_Decrypt(const uint8_t* in, uint8_t* out, const uint32_t* ks, int32_t len,
                                  const uint8_t* iv) {
  if (!qor::des::CbcArgsOk(in, out, ks, len, iv)) return -1;
  qor::des::Cbc3Decrypt(in, out, static_cast<size_t>(len), iv, ks, ks + kScheduleWords, ks);
  return qor::des::RoundUp(len);
}

QOR_API int NC_E_DES3_3Key_CBC_Encrypt(const uint8_t* in, uint8_t* out, const uint32_t* ks,
                                       int32_t len, const uint8_t* iv) {
  if (!qor::des::CbcArgsOk(in, out, ks, len, iv)) return -1;
  qor::des::Cbc3Encrypt(in, out, static_cast<size_t>(len), iv, ks, ks + kScheduleWords,
                        ks + 2 * kScheduleWords);
  return qor::des::RoundUp(len);
}

QOR_API int NC_E_DES3_3Key_CBC_Decrypt(const uint8_t* in, uint8_t* out, const uint32_t* ks,
                                       int32_t len, const uint8_t* iv) {
  if (!qor::des::CbcArgsOk(in, out, ks, len, iv)) return -1;
  qor::des::Cbc3Decrypt(in, out, static_cast<size_t>(len), iv, ks, ks + kScheduleWords,
                        ks + 2 * kScheduleWords);
  return qor::des::RoundUp(len);
}

QOR_API int NC_E_DES3_CBC_Encrypt_NO_PAD(const uint8_t* in, uint8_t* out, const uint32_t* ks,
                                         int32_t len, const uint8_t* iv) {
  if (!qor::des::CbcArgsOk(in, out, ks, len, iv) || len % 8 != 0) return -1;
  return NC_E_DES3_3Key_CBC_Encrypt(in, out, ks, len, iv);
}

QOR_API int NC_E_DES3_CBC_Decrypt_NO_PAD(const uint8_t* in, uint8_t* out, const uint32_t* ks,
                                         int32_t len, const uint8_t* iv) {
  if (!qor::des::CbcArgsOk(in, out, ks, len, iv) || len % 8 != 0) return -1;
  return NC_E_DES3_3Key_CBC_Decrypt(in, out, ks, len, iv);
}

QOR_API void NC_E_DES3_Encrypt(const uint8_t in[8], uint8_t out[8], const uint32_t* ks) {
  if (in == nullptr || out == nullptr || ks == nullptr) return;
  qor::des::SingleBlock<false>(in, out, ks, ks + kScheduleWords, ks);
}

QOR_API void NC_E_DES3_Decrypt(const uint8_t in[8], uint8_t out[8], const uint32_t* ks) {
  if (in == nullptr || out == nullptr || ks == nullptr) return;
  qor::des::SingleBlock<true>(in, out, ks, ks + kScheduleWords, ks);
}

QOR_API void NC_E_DES3_3Key_Encrypt(const uint8_t in[8], uint8_t out[8], const uint32_t* ks) {
  if (in == nullptr || out == nullptr || ks == nullptr) return;
  qor::des::SingleBlock<false>(in, out, ks, ks + kScheduleWords, ks + 2 * kScheduleWords);
}

QOR_API void NC_E_DES3_3Key_Decrypt(const uint8_t in[8], uint8_t out[8], const uint32_t* ks) {
  if (in == nullptr || out == nullptr || ks == nullptr) return;
  qor::des::SingleBlock<true>(in, out, ks, ks + kScheduleWords, ks + 2 * kScheduleWords);
}

QOR_API void NC_E_DES_Encrypt(const uint8_t in[8], uint8_t out[8], const uint32_t* ks) {
  if (in == nullptr || out == nullptr || ks == nullptr) return;
  uint32_t l[1], r[1];
  qor::des::LoadIp(in, l[0], r[0]);
  qor::des::DesCore<false, 1>(l, r, ks);
  qor::des::StoreFp(out, l[0], r[0]);
}

QOR_API void NC_E_DES_Decrypt(const uint8_t in[8], uint8_t out[8], const uint32_t* ks) {
  if (in == nullptr || out == nullptr || ks == nullptr) return;
  uint32_t l[1], r[1];
  qor::des::LoadIp(in, l[0], r[0]);
  qor::des::DesCore<true, 1>(l, r, ks);
  qor::des::StoreFp(out, l[0], r[0]);
}

QOR_API void _NC_E_DES_Encrypt(uint32_t data[2], const uint32_t ks[NC_DES_SCHEDULE_WORDS]) {
  if (data == nullptr || ks == nullptr) return;
  qor::des::EncryptHalves(data[0], data[1], ks);
}

QOR_API void NC_SetOddParity(uint8_t* key, int32_t len) {
  if (key == nullptr) return;
  for (int32_t i = 0; i < len; ++i) {
    const uint8_t high = key[i] & 0xFE;
    key[i] = static_cast<uint8_t>(high | ((std::popcount(static_cast<unsigned>(high)) & 1) ^ 1));
  }
}

QOR_API int NC_CheckParity(const uint8_t* key, int32_t len) {
  if (key == nullptr) return 0;
  for (int32_t i = 0; i < len; ++i) {
    if ((std::popcount(static_cast<unsigned>(key[i])) & 1) == 0) return 0;
  }
  return 1;
}

QOR_API int NC_IsWeakKey(const uint8_t key[8]) {
  if (key == nullptr) return 0;
  for (const auto& weak : qor::des::kWeakKeys) {
    bool same = true;
    for (int i = 0; i < 8; ++i) same = same && ((key[i] ^ weak[i]) & 0xFE) == 0;
    if (same) return 1;
  }
  return 0;
}

}  // extern "C"
