// File copy with the target-exists modes.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "qor/qoutil.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using qor::test::ReadFile;
using qor::test::TempDir;
using qor::test::WriteFile;

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
  return bytes;
}

TEST(QOUtilCopy, TargetExistsModes) {
  struct Case {
    int mode;
    bool targetExists;
    bool dotOneExists;
    int result;
    const char* writtenTo;  // file that holds the source bytes afterwards, or nullptr
  };
  const Case cases[] = {
      {QOUTIL_TARGET_BYPASS, false, false, 1, "target"},
      {QOUTIL_TARGET_BYPASS, true, false, 1, nullptr},
      {QOUTIL_TARGET_OVERWRITE, true, false, 1, "target"},
      {QOUTIL_TARGET_RENAME, false, false, 1, "target"},
      {QOUTIL_TARGET_RENAME, true, false, 1, "target.1"},
      {QOUTIL_TARGET_RENAME, true, true, 1, "target.2"},
      {QOUTIL_TARGET_REFUSE, false, false, 1, "target"},
      {QOUTIL_TARGET_REFUSE, true, false, 0, nullptr},
      {0, true, false, 1, "target"},
      {99, true, false, 1, "target"},
  };
  const std::string source = Pattern(200000);  // several 65535-byte blocks
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " exists " << c.targetExists
                                    << " .1 " << c.dotOneExists);
    TempDir dir;
    WriteFile(dir / "source", source);
    if (c.targetExists) WriteFile(dir / "target", "old target");
    if (c.dotOneExists) WriteFile(dir / "target.1", "old target.1");
    EXPECT_EQ(QOUtil_Copy((dir / "source").c_str(), (dir / "target").c_str(), c.mode), c.result);
    const std::string written = c.writtenTo != nullptr ? c.writtenTo : "";
    if (!written.empty()) {
      EXPECT_EQ(ReadFile(dir / written), source);
    }
    if (c.targetExists && written != "target") {
      EXPECT_EQ(ReadFile(dir / "target"), "old target");
    }
    if (c.dotOneExists) {
      EXPECT_EQ(ReadFile(dir / "target.1"), "old target.1");
    }
    EXPECT_EQ(Exists(dir / "target.2"), written == "target.2");
  }
}

TEST(QOUtilCopy, EmptyAndSameFile) {
  TempDir dir;
  WriteFile(dir / "empty", "");
  EXPECT_EQ(QOUtil_Copy((dir / "empty").c_str(), (dir / "copy").c_str(), 2), 1);
  EXPECT_TRUE(Exists(dir / "copy"));
  EXPECT_EQ(ReadFile(dir / "copy"), "");
  // Equal names succeed without even opening the (missing) source.
  EXPECT_EQ(QOUtil_Copy((dir / "nothing").c_str(), (dir / "nothing").c_str(), 2), 1);
  EXPECT_FALSE(Exists(dir / "nothing"));
}

TEST(QOUtilCopy, SourceUnderAnotherNameIsLeftWhole) {
  // The same file as a second spelling of its path and as a hard link: a
  // copy onto it must not empty it, in any mode that writes the target.
  const std::string bytes = Pattern(70000);
  for (int mode : {QOUTIL_TARGET_OVERWRITE, 0, 99}) {
    SCOPED_TRACE(testing::Message() << "mode " << mode);
    TempDir dir;
    WriteFile(dir / "source", bytes);
    ASSERT_EQ(link((dir / "source").c_str(), (dir / "link").c_str()), 0);
    const std::string respelled = std::string(dir.path()) + "/./source";
    EXPECT_EQ(QOUtil_Copy((dir / "source").c_str(), respelled.c_str(), mode), 1);
    EXPECT_EQ(QOUtil_Copy((dir / "source").c_str(), (dir / "link").c_str(), mode), 1);
    EXPECT_EQ(ReadFile(dir / "source"), bytes);
  }
}

TEST(QOUtilCopy, Failures) {
  TempDir dir;
  WriteFile(dir / "source", "data");
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  EXPECT_EQ(QOUtil_Copy(nullptr, (dir / "t").c_str(), 2), 0);
  EXPECT_EQ(QOUtil_Copy((dir / "source").c_str(), nullptr, 2), 0);
  EXPECT_EQ(QOUtil_Copy((dir / "missing").c_str(), (dir / "t").c_str(), 2), 0);
  EXPECT_FALSE(Exists(dir / "t"));
  EXPECT_EQ(QOUtil_Copy((dir / "source").c_str(), (dir / "no/dir/t").c_str(), 2), 0);
  WriteFile(dir / "taken", "x");
  EXPECT_EQ(QOUtil_Copy((dir / "source").c_str(), (dir / "taken").c_str(), 4), 0);
  EXPECT_EQ(ReadFile(dir / "taken"), "x");

  const std::string text = log.text();
  for (const std::string& line :
       {std::string("] >> Source file is null\n"), std::string("] >> Destination file is null\n"),
        "] >> Can not open src file : " + (dir / "missing") + "\n",
        "] >> Can not open destination file : " + (dir / "no/dir/t") + "\n",
        "] >> The target file exists : " + (dir / "taken") + "\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
  EXPECT_NE(text.find("QOUtil_Copy [source/Common/QOUtil:"), std::string::npos);
}

TEST(QOUtilCopy, WriteFailureRemovesTheTarget) {
  // A child whose file-size limit is below the source's size: the target
  // opens fine and a write past the limit fails (EFBIG, the signal ignored);
  // the copy must report failure and remove what it wrote.
  TempDir dir;
  WriteFile(dir / "source", Pattern(100000));
  EXPECT_EQ(qor::test::RunInChild([&]() -> std::string {
              signal(SIGXFSZ, SIG_IGN);
              const rlimit limit{4096, 4096};
              CHILD_CHECK(setrlimit(RLIMIT_FSIZE, &limit) == 0);
              CHILD_CHECK(QOUtil_Copy((dir / "source").c_str(), (dir / "target").c_str(), 2) == 0);
              CHILD_CHECK(!Exists(dir / "target"));
              return "";
            }),
            "");
  EXPECT_TRUE(Exists(dir / "source"));
}

}  // namespace
