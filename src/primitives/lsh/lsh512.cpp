#include "qor/lsh.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "common/secure_wipe.h"
#include "primitives/lsh/lsh512_core.h"

namespace {

using qor::lsh::kBlockBytes;

using ChainValue = std::array<std::uint64_t, 16>;

// Published initial values of the four named lengths.
constexpr ChainValue kIv224 = {
    0x0C401E9FE8813A55ULL, 0x4A5F446268FD3D35ULL, 0xFF13E452334F612AULL, 0xF8227661037E354AULL,
    0xA5F223723C9CA29DULL, 0x95D965A11AED3979ULL, 0x01E23835B9AB02CCULL, 0x52D49CBAD5B30616ULL,
    0x9E5C2027773F4ED3ULL, 0x66A5C8801925B701ULL, 0x22BBC85B4C6779D9ULL, 0xC13171A42C559C23ULL,
    0x31E2B67D25BE3813ULL, 0xD522C4DEED8E4D83ULL, 0xA79F5509B43FBAFEULL, 0xE00D2CD88B4B6C6AULL};
constexpr ChainValue kIv256 = {
    0x6DC57C33DF989423ULL, 0xD8EA7F6E8342C199ULL, 0x76DF8356F8603AC4ULL, 0x40F1B44DE838223AULL,
    0x39FFE7CFC31484CDULL, 0x39C4326CC5281548ULL, 0x8A2FF85A346045D8ULL, 0xFF202AA46DBDD61EULL,
    0xCF785B3CD5FCDB8BULL, 0x1F0323B64A8150BFULL, 0xFF75D972F29EA355ULL, 0x2E567F30BF1CA9E1ULL,
    0xB596875BF8FF6DBAULL, 0xFCCA39B089EF4615ULL, 0xECFF4017D020B4B6ULL, 0x7E77384C772ED802ULL};
constexpr ChainValue kIv384 = {
    0x53156A66292808F6ULL, 0xB2C4F362B204C2BCULL, 0xB84B7213BFA05C4EULL, 0x976CEB7C1B299F73ULL,
    0xDF0CC63C0570AE97ULL, 0xDA4441BAA486CE3FULL, 0x6559F5D9B5F2ACC2ULL, 0x22DACF19B4B52A16ULL,
    0xBBCDACEFDE80953AULL, 0xC9891A2879725B3EULL, 0x7C9FE6330237E440ULL, 0xA30BA550553F7431ULL,
    0xBB08043FB34E3E30ULL, 0xA0DEC48D54618EADULL, 0x150317267464BC57ULL, 0x32D1501FDE63DC93ULL};
constexpr ChainValue kIv512 = {
    0xADD50F3C7F07094EULL, 0xE3F3CEE8F9418A4FULL, 0xB527ECDE5B3D0AE9ULL, 0x2EF6DEC68076F501ULL,
    0x8CB994CAE5ACA216ULL, 0xFBB9EAE4BBA48CC7ULL, 0x650A526174725FEAULL, 0x1F9A61A73F8D8085ULL,
    0xB6607378173B539BULL, 0x1BC99853B0C0B9EDULL, 0xDF727FC19B182D47ULL, 0xDBEF360CF893A457ULL,
    0x4981F5E570147E80ULL, 0xD00C4490CA7D3E30ULL, 0x5D73940C0E4AE1ECULL, 0x894085E2EDB2D819ULL};

bool ValidAlgType(std::uint32_t algType) {
  const std::uint32_t bytes = algType & 0xFFFFu;
  return (algType & 0xFFFF0000u) == 0x10000u && bytes >= 1 && bytes <= LSH512_MAX_DIGEST_BYTES;
}

// Between init and final; final wipes the context, so a finished one is refused.
bool Usable(const LSH512_CTX* state) {
  return ValidAlgType(state->algType) && state->remainBits < 8 * kBlockBytes;
}

// Lengths other than the four named ones: compress an all-zero block from a
// chaining value of (64, digest bits, 0, ...). The table is built on first use.
const ChainValue& DerivedIv(std::uint32_t digestBytes) {
  static const std::array<ChainValue, LSH512_MAX_DIGEST_BYTES + 1> table = [] {
    std::array<ChainValue, LSH512_MAX_DIGEST_BYTES + 1> t{};
    const std::uint8_t zero[kBlockBytes] = {};
    for (std::uint32_t n = 1; n <= LSH512_MAX_DIGEST_BYTES; ++n) {
      ChainValue cv{};
      cv[0] = LSH512_MAX_DIGEST_BYTES;
      cv[1] = 8u * n;
      qor::lsh::CompressPortable(cv.data(), zero, 1);
      t[n] = cv;
    }
    return t;
  }();
  return table[digestBytes];
}

const ChainValue& InitialValue(std::uint32_t algType) {
  switch (algType) {
    case LSH512_TYPE_224: return kIv224;
    case LSH512_TYPE_256: return kIv256;
    case LSH512_TYPE_384: return kIv384;
    case LSH512_TYPE_512: return kIv512;
    default: return DerivedIv(algType & 0xFFFFu);
  }
}

}  // namespace

namespace qor::lsh {

// For tests: the value the derivation rule gives for |digestBytes| (1..64),
// whatever the fixed table holds.
void DeriveInitialValue(std::uint32_t digestBytes, std::uint64_t out[16]) {
  const ChainValue& iv = DerivedIv(digestBytes);
  std::copy(iv.begin(), iv.end(), out);
}

}  // namespace qor::lsh

extern "C" {

int lsh512_init(LSH512_CTX* state, std::uint32_t algType) {
  if (state == nullptr) return LSH512_ERR_NULL_PTR;
  if (!ValidAlgType(algType)) return LSH512_ERR_ALG_TYPE;
  std::memset(state, 0, sizeof *state);
  const ChainValue& iv = InitialValue(algType);
  std::copy(iv.begin(), iv.end(), state->cv);
  state->algType = algType;
  return 0;
}

int lsh512_update(LSH512_CTX* state, const std::uint8_t* data, std::size_t bitLen) {
  if (state == nullptr) return LSH512_ERR_NULL_PTR;
  if (!Usable(state)) return LSH512_ERR_STATE;
  if (bitLen == 0) return 0;
  if (data == nullptr) return LSH512_ERR_NULL_PTR;
  if ((state->remainBits & 7u) != 0) return LSH512_ERR_DATA_BITLEN;

  std::size_t bytes = bitLen >> 3;
  const unsigned partialBits = static_cast<unsigned>(bitLen & 7u);
  std::size_t have = state->remainBits >> 3;

  if (have != 0) {
    const std::size_t take = std::min(bytes, kBlockBytes - have);
    std::memcpy(state->block + have, data, take);
    have += take;
    data += take;
    bytes -= take;
    // Padding always adds at least one bit, so a full block never has to
    // wait for final.
    if (have == kBlockBytes) {
      qor::lsh::Compress(state->cv, state->block, 1);
      have = 0;
    }
  }
  if (have == 0) {
    const std::size_t blocks = bytes / kBlockBytes;
    if (blocks > 0) {
      qor::lsh::Compress(state->cv, data, blocks);
      data += blocks * kBlockBytes;
      bytes -= blocks * kBlockBytes;
    }
    std::memcpy(state->block, data, bytes);
    have = bytes;
    data += bytes;
  }
  if (partialBits != 0) {
    state->block[have] = static_cast<std::uint8_t>(*data & (0xFFu << (8 - partialBits)));
  }
  state->remainBits = static_cast<std::uint32_t>(have * 8 + partialBits);
  return 0;
}

int lsh512_final(LSH512_CTX* state, std::uint8_t* out) {
  if (state == nullptr || out == nullptr) return LSH512_ERR_NULL_PTR;
  if (!Usable(state)) return LSH512_ERR_STATE;

  const std::size_t pos = state->remainBits >> 3;
  const unsigned partialBits = state->remainBits & 7u;
  // One-zeros padding: a single 1 bit right after the message, then zeros.
  if (partialBits != 0) {
    state->block[pos] = static_cast<std::uint8_t>(state->block[pos] | (0x80u >> partialBits));
  } else {
    state->block[pos] = 0x80;
  }
  std::memset(state->block + pos + 1, 0, kBlockBytes - pos - 1);
  qor::lsh::Compress(state->cv, state->block, 1);

  std::uint8_t digest[LSH512_MAX_DIGEST_BYTES];
  for (int l = 0; l < 8; ++l) {
    const std::uint64_t h = state->cv[l] ^ state->cv[l + 8];
    for (int i = 0; i < 8; ++i) digest[8 * l + i] = static_cast<std::uint8_t>(h >> (8 * i));
  }
  std::memcpy(out, digest, state->algType & 0xFFFFu);
  qor::SecureWipe(digest, sizeof digest);
  qor::SecureWipe(state, sizeof *state);
  return 0;
}

int lsh512_digest(std::uint32_t algType, const std::uint8_t* data, std::size_t bitLen,
                  std::uint8_t* out) {
  if (!ValidAlgType(algType)) return LSH512_ERR_ALG_TYPE;
  if (out == nullptr || (data == nullptr && bitLen > 0)) return LSH512_ERR_NULL_PTR;
  LSH512_CTX state;
  lsh512_init(&state, algType);
  const int rc = lsh512_update(&state, data, bitLen);
  if (rc != 0) {
    qor::SecureWipe(&state, sizeof state);
    return rc;
  }
  return lsh512_final(&state, out);
}

}  // extern "C"
