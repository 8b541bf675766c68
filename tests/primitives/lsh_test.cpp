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

// The initial chaining values as the LSH standard publishes them for
// LSH-512-224, -256, -384 and -512 (left half, then right half).
struct PublishedIv {
  uint32_t type;
  uint64_t cv[16];
};
const PublishedIv kPublishedIvs[] = {
    {LSH512_TYPE_224,
     {0x0C401E9FE8813A55, 0x4A5F446268FD3D35, 0xFF13E452334F612A, 0xF8227661037E354A,
      0xA5F223723C9CA29D, 0x95D965A11AED3979, 0x01E23835B9AB02CC, 0x52D49CBAD5B30616,
      0x9E5C2027773F4ED3, 0x66A5C8801925B701, 0x22BBC85B4C6779D9, 0xC13171A42C559C23,
      0x31E2B67D25BE3813, 0xD522C4DEED8E4D83, 0xA79F5509B43FBAFE, 0xE00D2CD88B4B6C6A}},
    {LSH512_TYPE_256,
     {0x6DC57C33DF989423, 0xD8EA7F6E8342C199, 0x76DF8356F8603AC4, 0x40F1B44DE838223A,
      0x39FFE7CFC31484CD, 0x39C4326CC5281548, 0x8A2FF85A346045D8, 0xFF202AA46DBDD61E,
      0xCF785B3CD5FCDB8B, 0x1F0323B64A8150BF, 0xFF75D972F29EA355, 0x2E567F30BF1CA9E1,
      0xB596875BF8FF6DBA, 0xFCCA39B089EF4615, 0xECFF4017D020B4B6, 0x7E77384C772ED802}},
    {LSH512_TYPE_384,
     {0x53156A66292808F6, 0xB2C4F362B204C2BC, 0xB84B7213BFA05C4E, 0x976CEB7C1B299F73,
      0xDF0CC63C0570AE97, 0xDA4441BAA486CE3F, 0x6559F5D9B5F2ACC2, 0x22DACF19B4B52A16,
      0xBBCDACEFDE80953A, 0xC9891A2879725B3E, 0x7C9FE6330237E440, 0xA30BA550553F7431,
      0xBB08043FB34E3E30, 0xA0DEC48D54618EAD, 0x150317267464BC57, 0x32D1501FDE63DC93}},
    {LSH512_TYPE_512,
     {0xADD50F3C7F07094E, 0xE3F3CEE8F9418A4F, 0xB527ECDE5B3D0AE9, 0x2EF6DEC68076F501,
      0x8CB994CAE5ACA216, 0xFBB9EAE4BBA48CC7, 0x650A526174725FEA, 0x1F9A61A73F8D8085,
      0xB6607378173B539B, 0x1BC99853B0C0B9ED, 0xDF727FC19B182D47, 0xDBEF360CF893A457,
      0x4981F5E570147E80, 0xD00C4490CA7D3E30, 0x5D73940C0E4AE1EC, 0x894085E2EDB2D819}},
};

// Each named length starts from its published initial value, and the
// derivation rule (compress a zero block from (64, bits, 0...)) reproduces
// those values, which pins it down for the other lengths.
TEST(LshInitialValue, DerivationReproducesPublishedValues) {
  for (const PublishedIv& published : kPublishedIvs) {
    SCOPED_TRACE(published.type);
    LSH512_CTX ctx;
    ASSERT_EQ(0, lsh512_init(&ctx, published.type));
    EXPECT_TRUE(std::equal(published.cv, published.cv + 16, ctx.cv));
    uint64_t derived[16];
    qor::lsh::DeriveInitialValue(published.type & 0xFFFF, derived);
    EXPECT_TRUE(std::equal(published.cv, published.cv + 16, derived));
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
