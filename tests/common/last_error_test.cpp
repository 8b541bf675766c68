#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/error_codes.h"
#include "common/last_error.h"
#include "qorapi.h"

namespace {

class ErrorRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { qor::ErrorClearChain(qor::LastErrorRecord()); }
};

TEST_F(ErrorRecordTest, ClearedRecordReadsOk) {
  char buffer[QOR_ERROR_MESSAGE_SIZE];
  memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(QOR_GetLastErrorCode(), 0);
  EXPECT_STREQ(QOR_GetLastErrorMsg(), "");
  EXPECT_EQ(QOR_GetLastErrorMsgEx(buffer), -1);
  EXPECT_STREQ(buffer, "OK");
}

TEST_F(ErrorRecordTest, PlainSetterKeepsMessageWhenTextIsEmpty) {
  QOR_ERR_Set(3001, "argument value cannot be null");
  QOR_ERR_Set(5, "");
  EXPECT_EQ(QOR_GetLastErrorCode(), 5);
  EXPECT_STREQ(QOR_GetLastErrorMsg(), "argument value cannot be null");
  QOR_ERR_Set(6, nullptr);
  EXPECT_EQ(QOR_GetLastErrorCode(), 6);
  EXPECT_STREQ(QOR_GetLastErrorMsg(), "argument value cannot be null");
  // A shorter text replaces the longer one whole.
  QOR_ERR_Set(7, "short");
  EXPECT_STREQ(QOR_GetLastErrorMsg(), "short");
}

TEST_F(ErrorRecordTest, LongMessagesAreCutAtTheirLimits) {
  const std::string longText(3000, 'm');
  QOR_ERR_Set(1, longText.c_str());
  EXPECT_EQ(strlen(QOR_GetLastErrorMsg()), 1023u);

  qor::ErrorSet(qor::LastErrorRecord(), 2, "%s", longText.c_str());
  EXPECT_EQ(QOR_GetLastErrorCode(), 2);
  EXPECT_EQ(strlen(QOR_GetLastErrorMsg()), 1022u);

  char buffer[QOR_ERROR_MESSAGE_SIZE];
  memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(QOR_GetLastErrorMsgEx(buffer), 0);
  EXPECT_EQ(strlen(buffer), 1022u);
}

TEST_F(ErrorRecordTest, FormattedSetterClearsTheWholeArea) {
  qor::ErrorSet(qor::LastErrorRecord(), 9, "%s", std::string(500, 'a').c_str());
  qor::ErrorSet(qor::LastErrorRecord(), 9, "port %d", 70000);
  const char* message = QOR_GetLastErrorMsg();
  EXPECT_STREQ(message, "port 70000");
  for (int i = 10; i < QOR_ERROR_MESSAGE_SIZE; ++i) ASSERT_EQ(message[i], '\0') << i;
}

TEST_F(ErrorRecordTest, ErrorsLandInTheLastRecordOfTheChain) {
  ErrorInfo object{};
  object.next = qor::LastErrorRecord();
  qor::ErrorSet(&object, 4, "time limit [%d ms]", 1000);
  EXPECT_EQ(object.code, 0);
  EXPECT_EQ(QOR_GetLastErrorCode(), 4);
  EXPECT_STREQ(QOR_GetLastErrorMsg(), "time limit [1000 ms]");

  // An object without a link keeps its errors to itself.
  ErrorInfo loose{};
  qor::ErrorSet(&loose, 3, "connect");
  EXPECT_EQ(loose.code, 3);
  EXPECT_EQ(QOR_GetLastErrorCode(), 4);

  // Clearing through a local record in front clears the whole chain.
  ErrorInfo local{};
  local.code = 8;
  local.next = &object;
  object.code = 6;
  qor::ErrorClearChain(&local);
  EXPECT_EQ(local.code, 0);
  EXPECT_EQ(object.code, 0);
  EXPECT_EQ(QOR_GetLastErrorCode(), 0);
  EXPECT_STREQ(QOR_GetLastErrorMsg(), "");
}

// Concurrent setters and copying readers: every copy is one whole message.
TEST_F(ErrorRecordTest, CopiesAreWholeUnderConcurrentSetters) {
  constexpr int kSetters = 4;
  constexpr int kRounds = 20000;
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kSetters; ++t) {
    threads.emplace_back([t] {
      // Each setter writes a message of its own letter and length.
      const std::string text(200 + 200 * t, static_cast<char>('a' + t));
      for (int i = 0; i < kRounds; ++i) {
        if (i % 2 == 0) QOR_ERR_Set(t + 1, text.c_str());
        else qor::ErrorSet(qor::LastErrorRecord(), t + 1, "%s", text.c_str());
      }
    });
  }
  for (int r = 0; r < 2; ++r) {
    threads.emplace_back([&] {
      char buffer[QOR_ERROR_MESSAGE_SIZE];
      while (!stop.load()) {
        if (QOR_GetLastErrorMsgEx(buffer) != 0) continue;
        const size_t length = strlen(buffer);
        const char letter = buffer[0];
        const size_t expected = 200 + 200 * static_cast<size_t>(letter - 'a');
        bool uniform = length == expected;
        for (size_t i = 0; uniform && i < length; ++i) uniform = buffer[i] == letter;
        if (!uniform) ++torn;
      }
    });
  }
  for (int t = 0; t < kSetters; ++t) threads[t].join();
  stop = true;
  for (size_t t = kSetters; t < threads.size(); ++t) threads[t].join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace

namespace {

TEST(ErrorTags, CodesMapToTheirTags) {
  const struct {
    int code;
    const char* tag;
  } cases[] = {{3033, "DUP"}, {3034, "DUP"}, {3035, "DUP"}, {3036, "DUP"}, {3032, "KED"},
               {3037, "KED"}, {3103, "HDF"}, {3104, "KED"}, {-1, "KED"},  {0, "KED"}};
  for (const auto& c : cases) EXPECT_STREQ(Error_Spliter(c.code), c.tag) << c.code;
}

}  // namespace
