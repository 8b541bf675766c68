// LSH-512: published values, Crypto++ on many lengths and split points,
// the initial-value derivation, bit lengths, error codes, and every
// compression body (portable, AVX2, AVX-512VL).
#include <crypto++/lsh.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "primitives/cpu_features.h"
#include "primitives/lsh/lsh512_core.h"
#include "qor/lsh.h"
#include "support/bytes.h"
#include "support/kernel_paths.h"

namespace {

using qor::test::Bytes;
using qor::test::FromHex;
using qor::test::RandomBytes;

// Crypto++ keeps the algorithm-type constructor protected; this opens it for
// any digest length.
class CryptoppLsh512 : public CryptoPP::LSH512_Base {
 public:
  CryptoppLsh512(unsigned algType, unsigned digestSize) : LSH512_Base(algType, digestSize) {
    Restart();
  }
};

Bytes CryptoppDigest(uint32_t algType, const Bytes& in) {
  const unsigned size = algType & 0xFFFF;
  CryptoppLsh512 h(algType, size);
  h.Update(in.data(), in.size());
  Bytes out(size);
  h.TruncatedFinal(out.data(), out.size());
  return out;
}

Bytes OurDigest(uint32_t algType, const Bytes& in) {
  Bytes out(algType & 0xFFFF);
  EXPECT_EQ(0, lsh512_digest(algType, in.data(), 8 * in.size(), out.data()));
  return out;
}

Bytes OurStreamed(uint32_t algType, const Bytes& in, std::mt19937_64& rng) {
  LSH512_CTX ctx;
  EXPECT_EQ(0, lsh512_init(&ctx, algType));
  size_t pos = 0;
  while (pos < in.size()) {
    const size_t piece = std::min<size_t>(in.size() - pos, rng() % 600);
    EXPECT_EQ(0, lsh512_update(&ctx, in.data() + pos, 8 * piece));
    pos += piece;
  }
  Bytes out(algType & 0xFFFF);
  EXPECT_EQ(0, lsh512_final(&ctx, out.data()));
  return out;
}

const uint32_t kNamedTypes[] = {LSH512_TYPE_224, LSH512_TYPE_256, LSH512_TYPE_384, LSH512_TYPE_512};

// Every test runs on each compression body this CPU has.
class LshTest : public qor::test::KernelPathTest<qor::lsh::g_kernels> {};

TEST_P(LshTest, PublishedAndReferenceValues) {
  struct Case {
    uint32_t algType;
    const char* msg;
    const char* digest;
  };
  const Case cases[] = {
      // "abc": the standard's published examples.
      {LSH512_TYPE_224, "abc", "d1683234513ec5698394571ead128a8cd5373e97661ba20dcf89e489"},
      {LSH512_TYPE_256, "abc", "cd892310532602332b613f1ec11a6962fca61ea09ecffcd4bcf75858d802edec"},
      {LSH512_TYPE_384, "abc",
       "5f344efaa0e43ccd2e5e194d6039794b4fb431f10fb4b65fd45e9da4ecde0f27b66e8dbdfa47252e0d0b741bfd91f9fe"},
      {LSH512_TYPE_512, "abc",
       "a3d93cfe60dc1aacdd3bd4bef0a6985381a396c7d49d9fd177795697c3535208b5c57224bef21084d42083e95a4bd8eb"
       "33e869812b65031c428819a1e7ce596d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.algType);
    const Bytes expected = FromHex(c.digest);
    const Bytes msg(c.msg, c.msg + std::strlen(c.msg));
    EXPECT_EQ(expected, OurDigest(c.algType, msg));
    EXPECT_EQ(expected, CryptoppDigest(c.algType, msg));  // the oracle agrees
  }
  // The empty message, against the oracle (also through a NULL pointer).
  for (const uint32_t type : kNamedTypes) {
    SCOPED_TRACE(type);
    Bytes out(type & 0xFFFF);
    ASSERT_EQ(0, lsh512_digest(type, nullptr, 0, out.data()));
    EXPECT_EQ(CryptoppDigest(type, {}), out);
  }
}

TEST_P(LshTest, MatchesCryptoppAroundBlockBoundaries) {
  std::mt19937_64 rng(0x15A);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (size_t k = 2; k <= 4; ++k) {
    for (size_t d = 0; d <= 2; ++d) {
      lengths.push_back(k * 256 - d);
      lengths.push_back(k * 256 + d);
    }
  }
  for (int n = 0; n < 30; ++n) lengths.push_back(rng() % 5000);
  for (const uint32_t type : kNamedTypes) {
    for (const size_t len : lengths) {
      SCOPED_TRACE(std::to_string(type) + " len " + std::to_string(len));
      const Bytes in = RandomBytes(rng, len);
      const Bytes expected = CryptoppDigest(type, in);
      ASSERT_EQ(expected, OurDigest(type, in));
      ASSERT_EQ(expected, OurStreamed(type, in, rng));
    }
  }
}

TEST_P(LshTest, OtherLengthsUseTheirOwnInitialValue) {
  std::mt19937_64 rng(5);
  const Bytes in = RandomBytes(rng, 700);
  for (const uint32_t type : {0x10001u, 0x10011u, 0x1001Bu, 0x10021u, 0x1003Fu}) {
    SCOPED_TRACE(type);
    const Bytes ours = OurDigest(type, in);
    const Bytes full = OurDigest(LSH512_TYPE_512, in);
    EXPECT_NE(Bytes(full.begin(), full.begin() + static_cast<long>(ours.size())), ours)
        << "a derived length must not be a truncation of LSH-512-512";
    EXPECT_EQ(CryptoppDigest(type, in), ours);
    EXPECT_EQ(ours, OurStreamed(type, in, rng));
  }
}

QOR_INSTANTIATE_KERNEL_PATHS(LshTest, qor::lsh::g_kernels);

// The derivation rule (compress a zero block from (64, bits, 0...)) must
// reproduce the four published initial values, which pins it down for the
// other lengths.
TEST(LshInitialValue, DerivationReproducesPublishedValues) {
  for (const uint32_t type : kNamedTypes) {
    SCOPED_TRACE(type);
    LSH512_CTX ctx;
    ASSERT_EQ(0, lsh512_init(&ctx, type));
    uint64_t derived[16];
    qor::lsh::DeriveInitialValue(type & 0xFFFF, derived);
    EXPECT_TRUE(std::equal(derived, derived + 16, ctx.cv));
  }
}

TEST(LshCompress, BodiesAgreeOnRandomInput) {
  std::mt19937_64 rng(31);
  const Bytes blocks = RandomBytes(rng, 5 * 256);
  uint64_t start[16];
  for (auto& w : start) w = rng();
  uint64_t reference[16];
  std::copy(start, start + 16, reference);
  qor::lsh::CompressPortable(reference, blocks.data(), 5);
  if (qor::cpu::HasAvx2()) {
    uint64_t v[16];
    std::copy(start, start + 16, v);
    qor::lsh::CompressAvx2(v, blocks.data(), 5);
    EXPECT_TRUE(std::equal(v, v + 16, reference));
  }
  if (qor::cpu::HasAvx512Vl() && qor::cpu::HasAvx2()) {
    uint64_t v[16];
    std::copy(start, start + 16, v);
    qor::lsh::CompressAvx512(v, blocks.data(), 5);
    EXPECT_TRUE(std::equal(v, v + 16, reference));
  }
}

TEST(LshErrors, InitRejectsNullStateAndBadTypes) {
  EXPECT_EQ(9217, lsh512_init(nullptr, LSH512_TYPE_512));
  const uint32_t bad[] = {
      0x10000,     // length 0
      0x10041,     // 65 bytes
      0x1FFFF,     // far too long
      0x00040,     // family bits 16..19 are 0
      0x20040,     // family 2
      0xF0020,     // family 15
      0x110040,    // bits above the family field
      0x1010040,
      0xFFFFFFFF,
      0,
  };
  for (const uint32_t type : bad) {
    SCOPED_TRACE(type);
    LSH512_CTX ctx;
    std::memset(&ctx, 0x3C, sizeof ctx);
    EXPECT_EQ(9218, lsh512_init(&ctx, type));
    for (size_t i = 0; i < sizeof ctx; ++i) {
      ASSERT_EQ(0x3C, reinterpret_cast<const uint8_t*>(&ctx)[i]) << "touched by a refused init";
    }
    uint8_t out[64] = {};
    EXPECT_EQ(9218, lsh512_digest(type, nullptr, 0, out));
    EXPECT_EQ(9217, lsh512_init(nullptr, type));  // the NULL state is reported first
  }
  for (uint32_t n = 1; n <= 64; ++n) {
    LSH512_CTX ctx;
    EXPECT_EQ(0, lsh512_init(&ctx, 0x10000 | n)) << n;
  }
}

TEST(LshErrors, UpdateAndFinalRefusals) {
  const uint8_t in[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t out[64];
  LSH512_CTX ctx;
  ASSERT_EQ(0, lsh512_init(&ctx, LSH512_TYPE_256));
  EXPECT_EQ(9217, lsh512_update(nullptr, in, 64));
  EXPECT_EQ(9217, lsh512_update(&ctx, nullptr, 8));
  EXPECT_EQ(0, lsh512_update(&ctx, nullptr, 0));
  EXPECT_EQ(9217, lsh512_final(nullptr, out));
  EXPECT_EQ(9217, lsh512_final(&ctx, nullptr));
  ASSERT_EQ(0, lsh512_update(&ctx, in, 64));  // still usable after the refusals
  ASSERT_EQ(0, lsh512_final(&ctx, out));
  EXPECT_EQ(OurDigest(LSH512_TYPE_256, Bytes(in, in + 8)), Bytes(out, out + 32));

  // final wipes the context; a finished context is refused.
  for (size_t i = 0; i < sizeof ctx; ++i) {
    ASSERT_EQ(0, reinterpret_cast<const uint8_t*>(&ctx)[i]) << "byte " << i << " not wiped";
  }
  EXPECT_EQ(9220, lsh512_update(&ctx, in, 8));
  EXPECT_EQ(9220, lsh512_final(&ctx, out));

  EXPECT_EQ(9217, lsh512_digest(LSH512_TYPE_512, in, 8, nullptr));
  EXPECT_EQ(9217, lsh512_digest(LSH512_TYPE_512, nullptr, 8, out));
}

// A length that is not a multiple of 8 takes the top bits of the last byte,
// pads right after them, and ends the message.
TEST(LshBits, PartialFinalByte) {
  std::mt19937_64 rng(8);
  for (const size_t wholeBytes : {size_t{0}, size_t{3}, size_t{255}, size_t{256}, size_t{600}}) {
    Bytes msg = RandomBytes(rng, wholeBytes + 1);
    for (unsigned bits = 1; bits <= 7; ++bits) {
      SCOPED_TRACE(std::to_string(wholeBytes) + " bytes + " + std::to_string(bits) + " bits");
      const size_t bitLen = 8 * wholeBytes + bits;
      uint8_t a[64];
      uint8_t b[64];
      ASSERT_EQ(0, lsh512_digest(LSH512_TYPE_512, msg.data(), bitLen, a));

      // Bits beyond the length do not count.
      Bytes other = msg;
      other.back() ^= static_cast<uint8_t>(0xFFu >> bits);
      ASSERT_EQ(0, lsh512_digest(LSH512_TYPE_512, other.data(), bitLen, b));
      EXPECT_TRUE(std::equal(a, a + 64, b));

      // The last counted bit does.
      other = msg;
      other.back() ^= static_cast<uint8_t>(0x100u >> bits);
      ASSERT_EQ(0, lsh512_digest(LSH512_TYPE_512, other.data(), bitLen, b));
      EXPECT_FALSE(std::equal(a, a + 64, b));

      // Whole bytes first, then the partial byte on its own.
      LSH512_CTX ctx;
      ASSERT_EQ(0, lsh512_init(&ctx, LSH512_TYPE_512));
      ASSERT_EQ(0, lsh512_update(&ctx, msg.data(), 8 * wholeBytes));
      ASSERT_EQ(0, lsh512_update(&ctx, msg.data() + wholeBytes, bits));
      EXPECT_EQ(9219, lsh512_update(&ctx, msg.data(), 8));  // nothing may follow
      EXPECT_EQ(0, lsh512_update(&ctx, msg.data(), 0));
      ASSERT_EQ(0, lsh512_final(&ctx, b));
      EXPECT_TRUE(std::equal(a, a + 64, b));

      // Independent model: the padded last block holds the tail bytes, the
      // partial byte with a 1 bit right after its bits, then zeros.
      uint64_t cv[16];
      LSH512_CTX fresh;
      ASSERT_EQ(0, lsh512_init(&fresh, LSH512_TYPE_512));
      std::copy(fresh.cv, fresh.cv + 16, cv);
      const size_t full = wholeBytes / 256;
      qor::lsh::CompressPortable(cv, msg.data(), full);
      Bytes block(256, 0);
      const size_t tail = wholeBytes - 256 * full;
      std::copy(msg.begin() + static_cast<long>(256 * full), msg.begin() + static_cast<long>(wholeBytes),
                block.begin());
      block[tail] = static_cast<uint8_t>((msg.back() & (0xFFu << (8 - bits))) | (0x80u >> bits));
      qor::lsh::CompressPortable(cv, block.data(), 1);
      uint8_t model[64];
      for (int l = 0; l < 8; ++l) {
        for (int i = 0; i < 8; ++i) model[8 * l + i] = static_cast<uint8_t>((cv[l] ^ cv[l + 8]) >> (8 * i));
      }
      EXPECT_TRUE(std::equal(a, a + 64, model));
    }
  }
}

TEST(LshThreads, ConcurrentDigestsDoNotInterfere) {
  std::mt19937_64 rng(12);
  const Bytes in = RandomBytes(rng, 3000);
  const Bytes expected = CryptoppDigest(LSH512_TYPE_512, in);
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        LSH512_CTX ctx;
        uint8_t out[64];
        lsh512_init(&ctx, LSH512_TYPE_512);
        const size_t step = 97 + static_cast<size_t>(t) * 61;
        for (size_t pos = 0; pos < in.size(); pos += step) {
          lsh512_update(&ctx, in.data() + pos, 8 * std::min(step, in.size() - pos));
        }
        lsh512_final(&ctx, out);
        if (!std::equal(out, out + 64, expected.begin())) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(std::vector<int>(4, 0), failures);
}

}  // namespace
