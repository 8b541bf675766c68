// The pattern runner around a whole-value operation: which segment the
// operation sees, what stays clear, when the pattern does not apply, and how
// the operation's result and output come back. The operation is a fake that
// brackets the segment, so no cipher is involved.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/pattern/pattern.h"
#include "qor/ua_cipher_util.h"

namespace {

constexpr int kPassThrough = 3104;

struct TestPolicy {
  UACipherUtilData data{};
  UACipherUtil object{};
  UACipherUtil* pointer = &object;
  TestPolicy() { object.data = &data; }
  UACipherUtil** self() { return &pointer; }
  void SetPattern(int type, int position, const char* text) {
    data.hasPattern = 1;
    data.pattern.type = type;
    data.pattern.position = position;
    std::strncpy(reinterpret_cast<char*>(data.pattern.chars), text, 256);
  }
};

unsigned char* Copy(const std::string& text) {
  auto* p = static_cast<unsigned char*>(std::malloc(text.size() + 1));
  std::memcpy(p, text.data(), text.size() + 1);
  return p;
}

// A whole-value operation that returns "[" + segment + "]" (or a set output)
// with a set result, and remembers what it was given.
struct FakeOperation {
  int result = 0;
  int outLength = 0;       // used when |bracket| is false
  const char* outText = nullptr;
  bool bracket = true;
  std::vector<std::string> segments;
  bool padInPlace = false;  // write a blank and a padding block after the segment, as encryption does
  DataBuffer* lastInput = nullptr;

  int operator()(DataBuffer* segment, DataBuffer* out) {
    lastInput = segment;
    const std::string seen(reinterpret_cast<const char*>(segment->data), static_cast<size_t>(segment->length));
    segments.push_back(seen);
    if (padInPlace) std::memset(segment->data + segment->length, 0x10, 17);
    if (bracket) {
      const std::string text = "[" + seen + "]";
      out->data = Copy(text);
      out->length = static_cast<int>(text.size());
    } else {
      out->data = outText != nullptr ? Copy(outText) : nullptr;
      out->length = outLength;
    }
    return result;
  }
};

struct Outcome {
  int result;
  int length;
  std::string text;  // "(none)" without data
};

class PatternTest : public ::testing::Test {
 protected:
  // Runs on the first |length| bytes of |buffer|; bytes after them are there
  // to show they are never read.
  Outcome Run(const std::string& buffer, bool decrypt, int length = -1) {
    DataBuffer in{length < 0 ? static_cast<int>(buffer.size()) : length,
                  reinterpret_cast<unsigned char*>(const_cast<char*>(buffer.data()))};
    DataBuffer out{0, nullptr};
    Outcome outcome;
    outcome.result = qor::engine::RunWithPattern(policy_.self(), &in, &out, decrypt, fake_);
    outcome.length = out.length;
    if (out.data == nullptr) {
      outcome.text = "(none)";
    } else {
      EXPECT_EQ(out.data[out.length], 0) << "not zero-terminated";
      outcome.text.assign(reinterpret_cast<const char*>(out.data), static_cast<size_t>(out.length));
      std::free(out.data);
    }
    return outcome;
  }

  TestPolicy policy_;
  FakeOperation fake_;
};

TEST_F(PatternTest, EncryptionSelectsTheSegment) {
  struct Case {
    int type, position;
    const char* pattern;
    std::string input;
    int result;
    const char* output;
  };
  const Case cases[] = {
      // Exclude N characters.
      {1, 1, "4", "0123456789", 0, "0123[456789]"},
      {1, 2, "4", "0123456789", 0, "[012345]6789"},
      {1, 1, "0", "0123456789", 0, "[0123456789]"},
      {1, 1, "10", "0123456789", kPassThrough, "(none)"},
      {1, 2, "11", "0123456789", kPassThrough, "(none)"},
      {1, 0, "4", "0123456789", kPassThrough, "(none)"},  // neither end: nothing to encrypt
      {1, 1, "-3", "0123456789", kPassThrough, "(none)"},
      {1, 1, "abc", "0123456789", kPassThrough, "(none)"},
      {1, 1, "99999999999999999999", "0123456789", kPassThrough, "(none)"},
      // Around a separator.
      {2, 1, "@", "user@example.com", 0, "[user]@example.com"},
      {2, 2, "@", "user@example.com", 0, "user@[example.com]"},
      {2, 2, "@", "a@b@c", 0, "a@[b@c]"},
      {2, 1, "::", "ab::cd", 0, "[ab]::cd"},
      {2, 2, "@", "no separator", kPassThrough, "(none)"},
      {2, 2, "@", "trailing@", kPassThrough, "(none)"},
      {2, 1, "@", "@leading", kPassThrough, "(none)"},
      {2, 0, "@", "user@example.com", kPassThrough, "(none)"},
      // A middle window.
      {3, 1, "2,4", "abcdefgh", 0, "ab[cdef]gh"},
      {3, 2, "2,4", "0123456789", 0, "0123[4567]89"},
      {3, 1, "2,6", "abcdefgh", 0, "ab[cdefgh]"},
      {3, 1, "2,7", "abcdefgh", kPassThrough, "(none)"},
      {3, 1, "0,8", "abcdefgh", kPassThrough, "(none)"},  // the whole input
      {3, 1, "8,0", "abcdefgh", kPassThrough, "(none)"},  // nothing but the front
      {3, 1, "2,0", "abcdefgh", kPassThrough, "(none)"},  // empty window
      {3, 1, "2,x", "abcdefgh", kPassThrough, "(none)"},
      // No known type.
      {0, 1, "4", "0123456789", kPassThrough, "(none)"},
      {9, 1, "4", "0123456789", kPassThrough, "(none)"},
  };
  for (const Case& c : cases) {
    policy_.SetPattern(c.type, c.position, c.pattern);
    fake_.segments.clear();
    const Outcome outcome = Run(c.input, false);
    const std::string label = std::to_string(c.type) + "/" + std::to_string(c.position) + "/" + c.pattern +
                              " on " + c.input;
    EXPECT_EQ(outcome.result, c.result) << label;
    EXPECT_EQ(outcome.text, c.output) << label;
    EXPECT_EQ(fake_.segments.size(), c.result == kPassThrough ? 0u : 1u) << label;
  }
}

TEST_F(PatternTest, DecryptionFindsTheEncryptedSegment) {
  const std::string token24(24, 'T');
  const std::string token23(23, 'T');
  const std::string token44(44, 'T');
  struct Case {
    int type, position;
    const char* pattern;
    int compatibility;
    std::string input;
    int result;
    std::string output;
  };
  const Case cases[] = {
      {1, 1, "4", 1, "0123" + token24, 0, "0123[" + token24 + "]"},
      {1, 2, "4", 1, token24 + "6789", 0, "[" + token24 + "]6789"},
      {1, 1, "4", 1, "0123", kPassThrough, "(none)"},
      {2, 1, "@", 1, token24 + "@example.com", 0, "[" + token24 + "]@example.com"},
      {2, 2, "@", 1, "user@" + token24, 0, "user@[" + token24 + "]"},
      {2, 2, "@", 1, "user@" + token23, kPassThrough, "(none)"},  // too short to be encrypted
      {2, 2, "@", 1, "user" + token24, kPassThrough, "(none)"},
      {3, 1, "2,4", 1, "ab" + token24 + "gh", 0, "ab[" + token24 + "]gh"},
      {3, 2, "2,4", 1, "abc" + token24 + "gh", 0, "abc[" + token24 + "]gh"},
      {3, 1, "2,20", 1, "ab" + token44 + "gh", 0, "ab[" + token44 + "]gh"},
      {3, 1, "2,4", 0, "ab" + token24 + "gh", 0, "ab[" + token24 + "gh]"},  // 26 with "$."
      {3, 1, "2,4", 0, "ab" + token24 + "g", kPassThrough, "(none)"},
      {3, 1, "2,4", 1, "ab" + token23, kPassThrough, "(none)"},
  };
  for (const Case& c : cases) {
    policy_.SetPattern(c.type, c.position, c.pattern);
    policy_.data.compatibility = c.compatibility;
    const Outcome outcome = Run(c.input, true);
    const std::string label = std::to_string(c.type) + "/" + std::to_string(c.position) + "/" + c.pattern +
                              " on " + c.input;
    EXPECT_EQ(outcome.result, c.result) << label;
    EXPECT_EQ(outcome.text, c.output) << label;
  }
}

TEST_F(PatternTest, NeverReadsPastTheInputLength) {
  policy_.SetPattern(1, 1, "4");
  EXPECT_EQ(Run("0123456789XXXX", false, 10).text, "0123[456789]");
  policy_.SetPattern(2, 2, "@");
  EXPECT_EQ(Run("abc@def", false, 3).result, kPassThrough);  // the separator lies beyond
  policy_.SetPattern(3, 1, "2,4");
  EXPECT_EQ(Run("abcdefgh", false, 5).result, kPassThrough);
}

TEST_F(PatternTest, SegmentIsACopyWithRoomForPadding) {
  // The sanitizer build catches a buffer without the room; any build sees
  // whether the caller's input was written.
  policy_.SetPattern(1, 1, "4");
  fake_.padInPlace = true;
  const std::string input = "0123456789";
  EXPECT_EQ(Run(input, false).text, "0123[456789]");
  EXPECT_EQ(input, "0123456789");
}

TEST_F(PatternTest, WithoutPatternTheOperationGetsTheInputItself) {
  policy_.data.pattern.type = 1;  // a block without hasPattern is ignored
  policy_.data.pattern.position = 1;
  std::strcpy(reinterpret_cast<char*>(policy_.data.pattern.chars), "4");
  fake_.result = 7;
  std::string text = "0123456789";
  DataBuffer in{10, reinterpret_cast<unsigned char*>(text.data())};
  DataBuffer out{0, nullptr};
  EXPECT_EQ(qor::engine::RunWithPattern(policy_.self(), &in, &out, false, fake_), 7);
  EXPECT_EQ(fake_.lastInput, &in);
  ASSERT_NE(out.data, nullptr);
  EXPECT_STREQ(reinterpret_cast<char*>(out.data), "[0123456789]");
  std::free(out.data);
}

TEST_F(PatternTest, OperationResultsAndOutputs) {
  policy_.SetPattern(1, 1, "4");
  struct Case {
    const char* name;
    int result;
    int outLength;
    const char* outText;
    int expectedResult;
    int expectedLength;
    const char* expectedText;
  };
  const Case cases[] = {
      {"failure", -1, 0, nullptr, -1, -1, "(none)"},
      {"failure with an output", -1, 3, "abc", -1, -1, "(none)"},
      {"refused with length -1", 2200, -1, nullptr, 2200, -1, "(none)"},
      {"refused with length -2 counts as empty", 2200, -2, nullptr, 2200, 4, "0123"},
      {"refused with a substitute", 2200, 6, "******", 2200, 10, "0123******"},
      {"refused with nothing", 2200, 0, nullptr, 2200, 4, "0123"},
      {"other result keeps the output", 3033, 6, "456789", 3033, 10, "0123456789"},
      {"a length without data fails", 0, 5, nullptr, -1, -1, "(none)"},
  };
  for (const Case& c : cases) {
    fake_.bracket = false;
    fake_.result = c.result;
    fake_.outLength = c.outLength;
    fake_.outText = c.outText;
    const Outcome outcome = Run("0123456789", true);
    EXPECT_EQ(outcome.result, c.expectedResult) << c.name;
    EXPECT_EQ(outcome.length, c.expectedLength) << c.name;
    EXPECT_EQ(outcome.text, c.expectedText) << c.name;
  }
}

TEST_F(PatternTest, AcceptsAFunctionWithContext) {
  policy_.SetPattern(3, 1, "2,4");
  struct Upper {
    static int Run(void* context, DataBuffer* segment, DataBuffer* out) {
      ++*static_cast<int*>(context);
      std::string text(reinterpret_cast<const char*>(segment->data), static_cast<size_t>(segment->length));
      for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      out->data = Copy(text);
      out->length = static_cast<int>(text.size());
      return 0;
    }
  };
  int calls = 0;
  std::string text = "abcdefgh";
  DataBuffer in{8, reinterpret_cast<unsigned char*>(text.data())};
  DataBuffer out{0, nullptr};
  EXPECT_EQ(qor::engine::RunWithPattern(policy_.self(), &in, &out, false, &Upper::Run, &calls), 0);
  EXPECT_EQ(calls, 1);
  ASSERT_NE(out.data, nullptr);
  EXPECT_STREQ(reinterpret_cast<char*>(out.data), "abCDEFgh");
  std::free(out.data);
}

TEST_F(PatternTest, RejectsBrokenInput) {
  policy_.SetPattern(1, 1, "4");
  DataBuffer bad{5, nullptr};
  DataBuffer out{0, nullptr};
  EXPECT_EQ(qor::engine::RunWithPattern(policy_.self(), &bad, &out, false, fake_), -1);
  EXPECT_EQ(out.data, nullptr);
  DataBuffer negative{-4, reinterpret_cast<unsigned char*>(const_cast<char*>("abcd"))};
  EXPECT_EQ(qor::engine::RunWithPattern(policy_.self(), &negative, &out, false, fake_), -1);
  EXPECT_TRUE(fake_.segments.empty());
}

}  // namespace
