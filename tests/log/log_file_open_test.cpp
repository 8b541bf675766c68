// What the API log refuses to open: a name planted in the log directory ahead
// of the library (a link to another file, a FIFO, a directory) is never
// written through, and the log file does not leak into programs the host runs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

#include "log/log.h"
#include "log/lwl_handle.h"
#include "support/test_support.h"

namespace {

constexpr char kLogUnit[] = "tests/log";

using qor::test::ReadFile;
using qor::test::TempDir;
using qor::test::WriteFile;

std::string Today() {
  const time_t now = time(nullptr);
  tm local;
  localtime_r(&now, &local);
  char text[16];
  strftime(text, sizeof(text), "%Y-%m-%d", &local);
  return text;
}

struct Planted {
  const char* name;
  std::function<void(const std::string& at, const std::string& victim)> plant;
};

TEST(LogFileOpen, RefusesWhatWasPlantedAtItsName) {
  const Planted cases[] = {
      {"link to another file",
       [](const std::string& at, const std::string& victim) {
         std::filesystem::create_symlink(victim, at);
       }},
      {"link to a missing file",
       [](const std::string& at, const std::string& victim) {
         std::filesystem::remove(victim);
         std::filesystem::create_symlink(victim, at);
       }},
      {"fifo", [](const std::string& at, const std::string&) { ASSERT_EQ(mkfifo(at.c_str(), 0600), 0); }},
      {"directory",
       [](const std::string& at, const std::string&) { std::filesystem::create_directory(at); }},
  };
  for (const Planted& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string base = dir / "qor_api.log";
    const std::string victim = dir / "victim";
    WriteFile(victim, "untouched\n");
    c.plant(base + "." + Today(), victim);
    EXPECT_NE(QOLog_Init(base.c_str(), 2), 0);
    QOR_LOG(qor::log::kCrit, "must not land anywhere\n");
    QOLog_Uninit();
    if (std::filesystem::exists(victim)) {
      EXPECT_EQ(ReadFile(victim), "untouched\n");
    }
    EXPECT_FALSE(std::filesystem::exists(victim) && !std::filesystem::is_regular_file(victim));
  }
}

TEST(LogFileOpen, LogFileIsClosedOnExec) {
  TempDir dir;
  const std::string base = dir / "qor_api.log";
  ASSERT_EQ(QOLog_Init(base.c_str(), 2), 0);
  FILE* file = lwl_get_default_log_file(QOLog_GetHandle());
  ASSERT_NE(file, nullptr);
  const int flags = fcntl(fileno(file), F_GETFD);
  EXPECT_NE(flags & FD_CLOEXEC, 0);
  QOR_LOG(qor::log::kCrit, "a line\n");
  QOLog_Uninit();
  EXPECT_NE(ReadFile(base + "." + Today()).find("a line"), std::string::npos);
}

}  // namespace
