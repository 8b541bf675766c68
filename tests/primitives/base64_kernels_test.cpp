// The Base64 kernels: each vector kernel this processor has must encode and
// decode exactly as the portable code does, both directly and through the
// exported functions, where it must also refuse the same texts and leave
// the same bytes in the caller's buffer (including what a refused text
// leaves behind).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "primitives/base64/base64_internal.h"
#include "qor/base64.h"
#include "support/bytes.h"
#include "support/kernel_paths.h"

namespace {

using qor::base64::g_kernels;
using qor::base64::Kernels;
using qor::base64::PortableKernels;
using qor::test::Bytes;

constexpr uint8_t kGuard = 0xA5;

std::string Alphabet() { return qor::base64::kAlphabet; }

bool InAlphabet(int c) { return c != 0 && Alphabet().find(static_cast<char>(c)) != std::string::npos; }

std::string OpenSslEncode(const Bytes& in) {
  std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
  out.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), in.data(),
                                                 static_cast<int>(in.size()))));
  return out;
}

// Everything the exported decoders let a caller see of one text.
struct Seen {
  std::vector<int> results;
  std::vector<Bytes> outputs;
  bool operator==(const Seen&) const = default;
};

void SeeDecode(const std::string& text, int prefixFlag, Seen& seen) {
  unsigned char* bytes = nullptr;
  const int n = QOR_Base64Decode(text.data(), static_cast<int>(text.size()), &bytes, prefixFlag);
  seen.results.push_back(n);
  seen.outputs.push_back(n > 0 ? Bytes(bytes, bytes + n) : Bytes{});
  seen.results.push_back(bytes == nullptr ? 0 : 1);
  std::free(bytes);
}

// The whole caller buffer, guard bytes after |outSize| included.
void SeeDecodeBuffer(const std::string& text, int outSize, Seen& seen) {
  Bytes out(static_cast<size_t>(outSize) + 8, kGuard);
  seen.results.push_back(
      QOR_Base64Decode_Buffer(text.data(), static_cast<int>(text.size()), out.data(), outSize));
  seen.outputs.push_back(out);
}

Seen SeeDecoders(const std::string& text) {
  Seen seen;
  SeeDecode(text, 0, seen);
  SeeDecode(text, 1, seen);
  const int len = static_cast<int>(text.size());
  // Room for exactly the decoded bytes and a terminator, one byte less, and plenty.
  int padding = 0;
  if (len >= 2 && text[len - 2] == '=') {
    padding = 2;
  } else if (len >= 1 && text[len - 1] == '=') {
    padding = 1;
  }
  const int tight = len / 4 * 3 + 1 - padding;
  for (int outSize : {tight, tight - 1, len + 8}) {
    if (outSize > 0) SeeDecodeBuffer(text, outSize, seen);
  }
  return seen;
}

Seen SeeEncoders(const Bytes& in) {
  Seen seen;
  for (int prefixFlag : {0, 1}) {
    char* text = nullptr;
    seen.results.push_back(QOR_Base64Encode(in.data(), static_cast<int>(in.size()), &text, prefixFlag));
    seen.outputs.push_back(text != nullptr ? Bytes(text, text + std::strlen(text)) : Bytes{});
    std::free(text);
  }
  Bytes buffer(4 * ((in.size() + 2) / 3) + 1 + 8, kGuard);
  seen.results.push_back(
      QOR_Base64Encode_Buffer(in.data(), static_cast<int>(in.size()), reinterpret_cast<char*>(buffer.data())));
  seen.outputs.push_back(buffer);
  char* text = nullptr;
  seen.results.push_back(QOR_Base64Encod(in.data(), static_cast<int>(in.size()), &text));
  seen.outputs.push_back(text != nullptr ? Bytes(text, text + std::strlen(text)) : Bytes{});
  std::free(text);
  return seen;
}

class Base64KernelTest : public qor::test::KernelPathTest<g_kernels> {
 protected:
  void SetUp() override {
    KernelPathTest::SetUp();
    kernel_ = &g_kernels.Active();
  }

  // |see| under the portable kernel, then under the one being tested.
  template <class F>
  void ExpectSameAsPortable(F see, const std::string& what) {
    g_kernels.Force(&PortableKernels());
    const Seen expected = see();
    g_kernels.Force(kernel_);
    const Seen got = see();
    EXPECT_TRUE(got == expected) << GetParam() << ": " << what;
  }

  Bytes Random(size_t n) { return qor::test::RandomBytes(rng_, n); }

  // |groups| random groups of alphabet characters.
  std::string RandomText(size_t groups) {
    std::string s(4 * groups, 'A');
    for (char& c : s) c = Alphabet()[rng_() % 64];
    return s;
  }

  const Kernels* kernel_ = nullptr;
  std::mt19937 rng_{4242};
};

QOR_INSTANTIATE_KERNEL_PATHS(Base64KernelTest, g_kernels);

TEST_P(Base64KernelTest, EncodesEveryLengthAsThePortableCodeAndOpenSsl) {
  for (size_t len = 0; len <= 256; ++len) {
    const Bytes in = Random(len);
    ExpectSameAsPortable([&] { return SeeEncoders(in); }, "length " + std::to_string(len));
    char* text = nullptr;
    ASSERT_GE(QOR_Base64Encode(in.data(), static_cast<int>(len), &text, 1), 0);
    EXPECT_EQ(std::string(text), OpenSslEncode(in)) << len;
    std::free(text);
  }
}

// Texts of every length from 0 to 256 characters: whole groups with every
// padding form, and cut-short last groups.
TEST_P(Base64KernelTest, DecodesEveryLengthAsThePortableCode) {
  for (size_t len = 0; len <= 256; ++len) {
    std::string text = OpenSslEncode(Random(len / 4 * 3));
    text += RandomText(1).substr(0, len % 4);
    ASSERT_EQ(text.size(), len);
    ExpectSameAsPortable([&] { return SeeDecoders(text); }, "length " + std::to_string(len));
    for (const char* tail : {"=", "==", "A=", "AA=", "A==", "==="}) {
      const std::string padded = text.substr(0, len - std::min(len, std::strlen(tail))) + tail;
      ExpectSameAsPortable([&] { return SeeDecoders(padded); }, "length " + std::to_string(len) + " ending " + tail);
    }
  }
}

// Every byte outside the alphabet ("=" included) at every position of a
// text long enough for several vector steps, ending in each padding form.
TEST_P(Base64KernelTest, RefusesEveryOddByteAtEveryPositionAsThePortableCode) {
  for (size_t bytes : {size_t{192}, size_t{191}, size_t{190}}) {
    const std::string text = OpenSslEncode(Random(bytes));
    ASSERT_EQ(text.size(), 256u);
    for (size_t pos = 0; pos < text.size(); ++pos) {
      for (int c = 0; c < 256; ++c) {
        if (InAlphabet(c)) continue;
        std::string odd = text;
        odd[pos] = static_cast<char>(c);
        ExpectSameAsPortable([&] { return SeeDecoders(odd); },
                             "byte " + std::to_string(c) + " at " + std::to_string(pos) + " of " +
                                 std::to_string(bytes));
        if (HasFailure()) return;
      }
    }
  }
}

// The same for every short text of whole groups, up to a little past one
// step of the widest kernel, so that the texts where the exported functions
// first hand groups to a kernel, and a kernel its tail to the next one, are
// all covered; the padding form rotates with the length.
TEST_P(Base64KernelTest, RefusesEveryOddByteAtEveryPositionOfShortTexts) {
  for (size_t groups = 1; groups <= 20; ++groups) {
    const size_t bytes = 3 * groups - groups % 3;
    const std::string text = OpenSslEncode(Random(bytes));
    ASSERT_EQ(text.size(), 4 * groups);
    for (size_t pos = 0; pos < text.size(); ++pos) {
      for (int c = 0; c < 256; ++c) {
        if (InAlphabet(c)) continue;
        std::string odd = text;
        odd[pos] = static_cast<char>(c);
        ExpectSameAsPortable([&] { return SeeDecoders(odd); },
                             "byte " + std::to_string(c) + " at " + std::to_string(pos) + " of " +
                                 std::to_string(text.size()) + " characters");
        if (HasFailure()) return;
      }
    }
  }
}

// Longer texts with padding groups and odd characters sprinkled in: the
// decoders pick up again after each one.
TEST_P(Base64KernelTest, MixedTextsDecodeAsThePortableCode) {
  for (int round = 0; round < 400; ++round) {
    const size_t groups = 1 + rng_() % 300;
    std::string text = RandomText(groups);
    const int oddOnes = static_cast<int>(rng_() % 4);
    for (int i = 0; i < oddOnes; ++i) {
      const size_t g = rng_() % groups;
      switch (rng_() % 4) {
        case 0:
          text.replace(4 * g + 2, 2, "==");
          break;
        case 1:
          text[4 * g + 3] = '=';
          break;
        case 2:
          text[4 * g + rng_() % 4] = static_cast<char>(rng_() % 256);
          break;
        default:
          text[4 * g + rng_() % 4] = '\n';
          break;
      }
    }
    ExpectSameAsPortable([&] { return SeeDecoders(text); }, "round " + std::to_string(round));
    if (HasFailure()) return;
  }
}

// The kernel functions themselves: groups encoded, groups decoded before
// the first one that is not plain, and no write beyond the one spare byte.
TEST_P(Base64KernelTest, KernelCallsMatchThePortableKernel) {
  const Kernels& portable = PortableKernels();
  for (size_t groups = 0; groups <= 100; ++groups) {
    const Bytes in = Random(3 * groups);
    std::string expected(4 * groups + 8, '\0'), got(4 * groups + 8, '\0');
    portable.encode(in.data(), groups, expected.data());
    kernel_->encode(in.data(), groups, got.data());
    EXPECT_EQ(got, expected) << groups;

    for (size_t stop = 0; stop <= groups; ++stop) {
      std::string text = RandomText(groups);
      if (stop < groups) text[4 * stop + rng_() % 4] = "=!\x80 "[rng_() % 4];
      Bytes want(3 * groups + 8, kGuard), have(3 * groups + 8, kGuard);
      ASSERT_EQ(portable.decode(text.data(), groups, want.data()), stop);
      ASSERT_EQ(kernel_->decode(text.data(), groups, have.data()), stop) << groups << " groups, stop " << stop;
      EXPECT_EQ(Bytes(have.begin(), have.begin() + 3 * stop), Bytes(want.begin(), want.begin() + 3 * stop));
      for (size_t i = 3 * stop + 1; i < have.size(); ++i) ASSERT_EQ(have[i], kGuard) << groups << " " << stop;
    }
  }
}

}  // namespace
