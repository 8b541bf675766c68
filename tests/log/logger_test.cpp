// The API log against real files in a temporary directory and real threads.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <gtest/gtest.h>

#include <ctime>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "log/log.h"
#include "log/lwl_handle.h"
#include "support/descriptors.h"
#include "support/test_support.h"
#include "support/text_shape.h"

namespace {

constexpr char kLogUnit[] = "tests/log";

using qor::test::ReadFile;
using qor::test::TempDir;

std::string DateText(time_t when) {
  tm local;
  localtime_r(&when, &local);
  char text[16];
  strftime(text, sizeof(text), "%Y-%m-%d", &local);
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

using qor::test::OpenDescriptorsTo;

// Captures what is written to standard error while it lives.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string& path) : path_(path) {
    fflush(stderr);
    saved_ = dup(2);
    FILE* f = fopen(path.c_str(), "w");
    dup2(fileno(f), 2);
    fclose(f);
  }
  std::string Finish() {
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    return ReadFile(path_);
  }

 private:
  std::string path_;
  int saved_;
};

class QOLogTest : public ::testing::Test {
 protected:
  void TearDown() override { QOLog_Uninit(); }
  std::string Base() const { return dir_ / "qor_api.log"; }
  // The day file the logger has open, when it is named for the day this
  // test began or the day it is now (a run may cross midnight); otherwise
  // the name for today.
  std::string TodayFile() const {
    const char* open = QOLog_GetPath();
    const std::string now = DateText(time(nullptr));
    for (const std::string& day : {dayBefore_, now}) {
      if (open != nullptr && Base() + "." + day == open) return open;
    }
    return Base() + "." + now;
  }
  const std::string dayBefore_ = DateText(time(nullptr));
  TempDir dir_;
};

TEST_F(QOLogTest, OpensTheDayFileWithMode0644) {
  ASSERT_EQ(QOLog_Init(Base().c_str(), 1), 0);
  EXPECT_EQ(std::string(QOLog_GetPath()), TodayFile());
  struct stat st;
  ASSERT_EQ(stat(TodayFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(lwl_get_log_level(QOLog_GetHandle()), 6u);

  QOR_LOG_RESULT(qor::log::kInfo, "Key Init %s\n", "SUCCESS");
  const std::string text = ReadFile(TodayFile());
  // Date, time, level name, ": ", the message, and the writer's own line feed.
  EXPECT_TRUE(qor::test::MatchesShape(
      text, "####.##.## ##:##:## INFO : TestBody >> Key Init SUCCESS\n\n"))
      << text;
}

TEST_F(QOLogTest, RefusesUnusablePaths) {
  EXPECT_EQ(QOLog_Init(nullptr, 1), 1);
  EXPECT_EQ(QOLog_Init("", 1), 1);
  const std::string tooLong = dir_ / std::string(500, 'x');
  EXPECT_EQ(QOLog_Init(tooLong.c_str(), 1), 1);
  const std::string missingDir = dir_ / "no/such/dir/qor_api.log";
  EXPECT_EQ(QOLog_Init(missingDir.c_str(), 1), 1);
  EXPECT_EQ(QOLog_IsEnable(2), 0);
}

struct LevelCase {
  int configured;
  int handleLevel;
  unsigned int flags;
};

TEST_F(QOLogTest, ConfiguredLevelsMapToHandleLevelsAndFlags) {
  const LevelCase cases[] = {{2, 7, 0x4f}, {1, 6, 0x4d}, {3, 3, 0x4d}, {4, 2, 0x4d}, {9, 2, 0x4d}};
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(c.configured);
    ASSERT_EQ(QOLog_Init(Base().c_str(), c.configured), 0);
    lwl_s* handle = QOLog_GetHandle();
    EXPECT_EQ(static_cast<int>(handle->level), c.handleLevel);
    EXPECT_EQ(handle->flags, c.flags);
    EXPECT_EQ(QOLog_IsEnable(c.handleLevel), 1);
    EXPECT_EQ(QOLog_IsEnable(c.handleLevel + 1), 0);
  }
}

TEST_F(QOLogTest, NoneStillWritesCriticalEntriesAlsoToStandardError) {
  ASSERT_EQ(QOLog_Init(Base().c_str(), 4), 0);
  StderrCapture capture(dir_ / "stderr.txt");
  QOR_LOG(qor::log::kCrit, "Failed to Connect Main[ msg:%s]\n", "refused");
  QOR_LOG(qor::log::kError, "not written\n");
  const std::string echoed = capture.Finish();
  const std::string text = ReadFile(TodayFile());
  EXPECT_NE(text.find(" CRIT : TestBody [tests/log:"), std::string::npos) << text;
  EXPECT_EQ(text.find("not written"), std::string::npos);
  EXPECT_EQ(echoed, text);
}

TEST_F(QOLogTest, DisabledLevelsCostNoFormatting) {
  ASSERT_EQ(QOLog_Init(Base().c_str(), 1), 0);
  int evaluated = 0;
  QOR_LOG(qor::log::kDebug, "%d\n", ++evaluated);
  EXPECT_EQ(evaluated, 0);
  QOR_LOG(qor::log::kCrit, "%d\n", ++evaluated);
  EXPECT_EQ(evaluated, 1);
}

TEST_F(QOLogTest, SecondInitKeepsOneHandleAndOneOpenFile) {
  ASSERT_EQ(QOLog_Init(Base().c_str(), 1), 0);
  ASSERT_EQ(QOLog_Init(Base().c_str(), 2), 0);
  EXPECT_EQ(OpenDescriptorsTo(dir_.path()), 1);
  QOLog_Uninit();
  EXPECT_EQ(OpenDescriptorsTo(dir_.path()), 0);
  EXPECT_EQ(QOLog_GetHandle(), nullptr);
  EXPECT_STREQ(QOLog_GetPath(), "");
  QOLog_Uninit();  // nothing open: harmless
}

TEST_F(QOLogTest, ConcurrentWritersNeverInterleave) {
  ASSERT_EQ(QOLog_Init(Base().c_str(), 1), 0);
  constexpr int kThreads = 8;
  constexpr int kEntries = 1500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string body(100 + 37 * t, static_cast<char>('a' + t));
      for (int i = 0; i < kEntries; ++i) QOR_LOG_RESULT(qor::log::kInfo, "%d %s\n", t, body.c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  int entries = 0;
  for (const std::string& line : Lines(ReadFile(TodayFile()))) {
    if (line.empty()) continue;
    const auto at = line.find(" >> ");
    ASSERT_NE(at, std::string::npos) << line;
    const int t = line[at + 4] - '0';
    ASSERT_EQ(line.substr(at + 6), std::string(100 + 37 * t, static_cast<char>('a' + t)));
    ++entries;
  }
  EXPECT_EQ(entries, kThreads * kEntries);
}

class LwlTest : public ::testing::Test {
 protected:
  void SetUp() override { handle_ = lwl_alloc(); }
  void TearDown() override {
    FILE* file = lwl_get_default_log_file(handle_);
    if (file != nullptr && file != stdout && file != stderr) fclose(file);
    lwl_free(handle_);
  }
  lwl_t* handle_ = nullptr;
  TempDir dir_;
};

TEST_F(LwlTest, AttributesApplyUntilTheFirstBadPair) {
  EXPECT_EQ(lwl_get_log_level(handle_), 7u);
  EXPECT_EQ(lwl_get_default_log_file(handle_), stdout);
  EXPECT_EQ(lwl_set_attributes(handle_, LWL_ATTR_LEVEL, 3, LWL_ATTR_HOSTNAME, "db01", 0), 0);
  EXPECT_EQ(lwl_get_log_level(handle_), 3u);
  EXPECT_STREQ(lwl_get_hostname(handle_), "db01");
  EXPECT_EQ(lwl_set_attributes(handle_, LWL_ATTR_LEVEL, 5, LWL_ATTR_LEVEL, 8, 0), -1);
  EXPECT_EQ(lwl_get_log_level(handle_), 5u);
  EXPECT_EQ(lwl_set_attributes(handle_, 99, 1, 0), -1);
}

TEST_F(LwlTest, FieldsAppearInTheirFixedOrder) {
  FILE* file = fopen((dir_ / "out").c_str(), "w+");
  ASSERT_EQ(lwl_set_attributes(handle_, LWL_ATTR_STREAM, file, LWL_ATTR_FLAGS,
                               0x4 | 0x8 | 0x20 | 0x80 | 0x2 | 0x40, LWL_ATTR_HOSTNAME, "db01",
                               LWL_ATTR_IDENT, "qor", LWL_ATTR_LEVEL, 6, 0),
            0);
  lwl_write_log(handle_, 6, "hello");
  lwl_write_log(handle_, 9, "too verbose");
  fflush(file);
  const std::string text = ReadFile(dir_ / "out");
  EXPECT_TRUE(qor::test::MatchesShape(text, "####.##.## ##:##:## db01 qor +#+ INFO : hello\n"))
      << text;
  char pid[16];
  snprintf(pid, sizeof(pid), "%10d ", static_cast<int>(getpid()));
  EXPECT_NE(text.find(pid), std::string::npos);
}

TEST_F(LwlTest, LinesNeverExceed2048Bytes) {
  FILE* file = fopen((dir_ / "out").c_str(), "w+");
  lwl_set_attributes(handle_, LWL_ATTR_STREAM, file, LWL_ATTR_LEVEL, 6, LWL_ATTR_FLAGS, 0x40, 0);
  const std::string message(5000, 'm');
  lwl_write_log(handle_, 6, "%s", message.c_str());
  // An ident that fills the line leaves no room even for ": ".
  lwl_set_attributes(handle_, LWL_ATTR_IDENT, std::string(3000, 'i').c_str(), LWL_ATTR_FLAGS,
                     0x80, 0);
  lwl_write_log(handle_, 6, "lost");
  fflush(file);
  const std::string text = ReadFile(dir_ / "out");
  const auto first = text.find('\n');
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(text.substr(0, first), "INFO : " + std::string(1023, 'm'));
  const std::string second = text.substr(first + 1);
  ASSERT_EQ(second.size(), 2048u);
  EXPECT_EQ(second.back(), '\n');
  EXPECT_EQ(second.find("lost"), std::string::npos);
}

TEST_F(LwlTest, FirstEntryOfANewDayMovesToTheNewDateFile) {
  const std::string base = dir_ / "qor_api.log";
  const std::string old = base + ".2026-01-14";
  FILE* file = fopen(old.c_str(), "a+");
  fputs("yesterday\n", file);
  fflush(file);
  const time_t jan14 = 1768392000;  // 2026-01-14 12:00 UTC
  utimbuf times{jan14, jan14};
  ASSERT_EQ(utime(old.c_str(), &times), 0);
  lwl_s* h = handle_;
  snprintf(h->baseName, sizeof(h->baseName), "%s", base.c_str());
  snprintf(h->fileName, sizeof(h->fileName), "%s", old.c_str());
  h->file = file;
  h->level = 6;
  h->lastMday = 0;  // never a day of the month: the day has changed
  lwl_write_log(handle_, 6, "today");
  EXPECT_EQ(ReadFile(old), "yesterday\n");
  const std::string today = base + "." + DateText(time(nullptr));
  EXPECT_EQ(std::string(h->fileName), today);
  EXPECT_EQ(ReadFile(today), ": today\n");
}

TEST_F(LwlTest, SizeLimitRotatesWithoutLosingEntries) {
  const std::string base = dir_ / "big.log";
  lwl_s* h = handle_;
  snprintf(h->baseName, sizeof(h->baseName), "%s", base.c_str());
  snprintf(h->fileName, sizeof(h->fileName), "%s", (base + ".first").c_str());
  h->file = fopen(h->fileName, "a+");
  h->level = 6;
  h->maxSizeMb = 1;
  // Four threads race through two size checks (every 4096 entries).
  const std::string body(400, 'z');
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2100; ++i) lwl_write_log(handle_, 6, "%s", body.c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  fflush(h->file);
  int entries = 0;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    ++files;
    for (const std::string& line : Lines(ReadFile(entry.path()))) {
      ASSERT_EQ(line, ": " + body);
      ++entries;
    }
  }
  EXPECT_EQ(entries, 4 * 2100);
  EXPECT_GE(files, 2);  // rotations within one second share a name
  EXPECT_TRUE(qor::test::MatchesShape(h->fileName, "*/big.log_########_######.log")) << h->fileName;
}

TEST(MakeUnique, KeepsTheLast15CharactersZeroPadded) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"abc", "000000000000abc"},
               {"", "000000000000000"},
               {"0123456789abcdefghij", "56789abcdefghij"}};
  for (const Case& c : cases) {
    char out[16];
    memset(out, 'x', sizeof(out));
    EXPECT_EQ(make_unique(c.in, out), 0);
    EXPECT_STREQ(out, c.out);
  }
}

}  // namespace
