// Checks, module path, host lookups and clock helpers.
#include "qor/qoutil.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <string>

#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using qor::test::TempDir;

TEST(QOUtilChecks, IPAddress) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {"255.255.255.255", 1}, {"0.0.0.0", 1},         {"127.0.0.1", 1},
      {"10.20.30.40", 1},     {"256.1.1.1", 0},       {"1.256.1.1", 0},
      {"1.1.1.256", 0},       {"1.2.3", 0},           {"1.2.3.", 0},
      {"1.2.3.4.5", 0},       {"", 0},                {"a.b.c.d", 0},
      {"1..2.3", 0},          {"-1.2.3.4", 0},        {" 1.2.3.4", 0},
      {"1.2.3.4x", 0},        {"4294967297.1.1.1", 0}, {"1.2.3.0004", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QOUtil_IsValidIPAddress(c.text), c.expected) << c.text;
  }
  EXPECT_EQ(QOUtil_IsValidIPAddress(nullptr), 0);
}

TEST(QOUtilChecks, PortNumber) {
  struct Case {
    int port;
    int expected;
  };
  for (const Case& c : {Case{0, 0}, Case{1, 1}, Case{9909, 1}, Case{65534, 1}, Case{65535, 0},
                        Case{65536, 0}, Case{-1, 0}}) {
    EXPECT_EQ(QOUtil_IsValidPortNumber(c.port), c.expected) << c.port;
  }
}

TEST(QOUtilChecks, TextChecks) {
  EXPECT_EQ(QOUtil_isNull(nullptr), 1);
  EXPECT_EQ(QOUtil_isNotNull(nullptr), 0);
  EXPECT_EQ(QOUtil_isNull("x"), 0);
  EXPECT_EQ(QOUtil_isNotNull("x"), 1);

  EXPECT_EQ(QOUtil_isNullOrEmpty(nullptr), 1);
  EXPECT_EQ(QOUtil_isNullOrEmpty(""), 1);
  EXPECT_EQ(QOUtil_isNullOrEmpty(" "), 0);
  EXPECT_EQ(QOUtil_isNullString(""), 1);
  EXPECT_EQ(QOUtil_isNullString("a"), 0);

  struct Case {
    const char* text;
    int digit, mac, relative;
  };
  const Case cases[] = {
      {"", 1, 0, 0},
      {"0123456789", 1, 0, 1},
      {"12a", 0, 0, 1},
      {"-1", 0, 0, 1},
      {"00aaBBccDDee", 0, 1, 1},
      {"0123456789AB", 0, 1, 1},
      {"0123456789ABC", 0, 0, 1},
      {"0123456789A", 0, 0, 1},
      {"0123456789AG", 0, 0, 1},
      {"/a", 0, 0, 0},
      {"a", 0, 0, 0},
      {"./", 0, 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QOUtil_isDigit(c.text), c.digit) << c.text;
    EXPECT_EQ(QOUtil_IsInvalidMacAddress(c.text), c.mac) << c.text;
    EXPECT_EQ(QOUtil_IsRelativePath(c.text), c.relative) << c.text;
  }
  EXPECT_EQ(QOUtil_isDigit(nullptr), 0);
  EXPECT_EQ(QOUtil_IsInvalidMacAddress(nullptr), 0);
  EXPECT_EQ(QOUtil_IsRelativePath(nullptr), 0);
}

TEST(QOUtilChecks, IsDirectoryLooksAtTheLinkItself) {
  TempDir dir;
  mkdir((dir / "sub").c_str(), 0700);
  qor::test::WriteFile(dir / "file", "x");
  ASSERT_EQ(symlink((dir / "sub").c_str(), (dir / "link").c_str()), 0);
  struct Case {
    std::string path;
    int expected;
  };
  const Case cases[] = {
      {dir / "sub", 0},         {dir / "sub/", 0},   {dir.path(), 0},      {"/", 0},
      {dir / "file", -1},       {dir / "link", -1},  {dir / "missing", -1}, {"", -1},
      {std::string(300, 'a'), -1},
  };
  for (const Case& c : cases) EXPECT_EQ(QOUtil_IsDirectory(c.path.c_str()), c.expected) << c.path;
  EXPECT_EQ(QOUtil_IsDirectory(nullptr), -1);
}

TEST(QOUtilChecks, LastModifiedFileTime) {
  TempDir dir;
  qor::test::WriteFile(dir / "file", "x");
  utimbuf times{1000000000, 1234567890};
  ASSERT_EQ(utime((dir / "file").c_str(), &times), 0);
  EXPECT_EQ(QOUtil_GetLastModifiedFileTime((dir / "file").c_str()), 1234567890);
  EXPECT_EQ(QOUtil_GetLastModifiedFileTime((dir / "missing").c_str()), 0);
  EXPECT_EQ(QOUtil_GetLastModifiedFileTime(nullptr), 0);
}

TEST(QOUtilChecks, IsExpired) {
  const time_t now = time(nullptr);
  struct Case {
    time_t start;
    int minutes;
    int expected;
  };
  const Case cases[] = {
      {now - 120, 2, 1}, {now - 600, 2, 1}, {now + 60, 2, 0}, {now, 2, 0}, {now - 1, 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QOUtil_IsExpired(c.start, c.minutes), c.expected) << c.start - now << " " << c.minutes;
  }
}

TEST(QOUtilSystem, OperatingSystemAndCounts) {
  EXPECT_EQ(QOUtil_GetUnixSysName(), QOUTIL_OS_LINUX);
  EXPECT_EQ(QOUtil_isLittleEndian(), 1);
  EXPECT_EQ(QOUtil_GetMacAddress(), 0);
  EXPECT_GE(QOUtil_GetNumberOfCPU(), 1);
  struct utsname name;
  EXPECT_EQ(QOUtil_GetSystemInfo(&name), 0);
  EXPECT_STRCASEEQ(name.sysname, "Linux");
  EXPECT_EQ(QOUtil_GetSystemInfo(nullptr), -1);
}

TEST(QOUtilSystem, ClockAndRelease) {
  const int64_t before = static_cast<int64_t>(time(nullptr));
  const int64_t millis = QOUtil_currentTimeMillis();
  const int64_t after = static_cast<int64_t>(time(nullptr));
  EXPECT_GE(millis / 1000, before);
  EXPECT_LE(millis / 1000, after);
  QOUtil_Free(malloc(16));
  QOUtil_Free(nullptr);
}

TEST(QOUtilSystem, TestLogAppendsStampedLines) {
  TempDir dir;
  const std::string path = dir / "test.log";
  EXPECT_EQ(QOUtil_TestLog(path.c_str(), "first"), 0);
  EXPECT_EQ(QOUtil_TestLog(path.c_str(), nullptr), 0);
  // "YYYY-MM-DD hh:mm:ss >>> text" per line.
  auto stamped = [](const std::string& line, const std::string& text) {
    const std::string shape = "dddd-dd-dd dd:dd:dd >>> ";
    if (line.size() != shape.size() + text.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
      const bool digit = line[i] >= '0' && line[i] <= '9';
      if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return false;
    }
    return line.compare(shape.size(), std::string::npos, text) == 0;
  };
  const std::string content = qor::test::ReadFile(path);
  const size_t firstEnd = content.find('\n');
  ASSERT_NE(firstEnd, std::string::npos) << content;
  EXPECT_TRUE(stamped(content.substr(0, firstEnd), "first")) << content;
  ASSERT_EQ(content.back(), '\n');
  EXPECT_TRUE(stamped(content.substr(firstEnd + 1, content.size() - firstEnd - 2), "null data"))
      << content;
  EXPECT_EQ(QOUtil_TestLog((dir / "no/such/dir").c_str(), "x"), -1);
}

std::string SelfExe() {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  return n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
}

TEST(QOUtilModule, PathOfTheTestProgram) {
  // The utilities are linked statically here, so their module is this program.
  const std::string exe = SelfExe();
  ASSERT_FALSE(exe.empty());
  char path[PATH_MAX], dir[PATH_MAX], name[256];
  ASSERT_EQ(QOUtil_GetModulePath(nullptr, path, sizeof(path)), 0);
  EXPECT_EQ(std::string(path), exe);
  ASSERT_EQ(QOUtil_GetModulePathNameOnly(nullptr, dir, sizeof(dir)), 0);
  ASSERT_EQ(QOUtil_GetModuleFileNameOnly(nullptr, name, sizeof(name)), 0);
  EXPECT_EQ(std::string(name), "qoutil_test");
  EXPECT_EQ(std::string(dir) + "/" + name, exe);

  // The address of any function in the program gives the same file.
  ASSERT_EQ(QOUtil_GetModulePath(reinterpret_cast<const void*>(&SelfExe), path, sizeof(path)), 0);
  EXPECT_EQ(std::string(path), exe);
}

TEST(QOUtilModule, PathOfASharedLibrary) {
  void* libm = dlopen("libm.so.6", RTLD_NOW);
  ASSERT_NE(libm, nullptr);
  void* cosine = dlsym(libm, "cos");
  ASSERT_NE(cosine, nullptr);
  char path[PATH_MAX], name[256];
  ASSERT_EQ(QOUtil_GetModulePath(cosine, path, sizeof(path)), 0);
  EXPECT_EQ(path[0], '/');
  ASSERT_EQ(QOUtil_GetModuleFileNameOnly(cosine, name, sizeof(name)), 0);
  EXPECT_STREQ(name, "libm.so.6");
  dlclose(libm);
}

TEST(QOUtilModule, PathOfThisLibraryWhenLoadedShared) {
  // Inside the shared library the lookup names the library, not the program.
  void* library = dlopen(QOR_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) GTEST_SKIP() << dlerror();
  using Lookup = int (*)(const void*, char*, int);
  auto lookup = reinterpret_cast<Lookup>(dlsym(library, "QOUtil_GetModulePath"));
  ASSERT_NE(lookup, nullptr);
  char path[PATH_MAX], expected[PATH_MAX];
  ASSERT_EQ(lookup(nullptr, path, sizeof(path)), 0);
  ASSERT_NE(realpath(QOR_SHARED_LIBRARY, expected), nullptr);
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(path, resolved), nullptr);
  EXPECT_STREQ(resolved, expected);
  dlclose(library);
}

TEST(QOUtilModule, RefusesWhatDoesNotFit) {
  const std::string exe = SelfExe();
  char small[PATH_MAX];
  std::memset(small, 'z', sizeof(small));
  EXPECT_EQ(QOUtil_GetModulePath(nullptr, small, static_cast<int>(exe.size())), -1);
  EXPECT_EQ(QOUtil_GetModulePath(nullptr, small, static_cast<int>(exe.size()) + 1), 0);
  EXPECT_EQ(QOUtil_GetModulePath(nullptr, nullptr, 100), -1);
  EXPECT_EQ(QOUtil_GetModulePath(nullptr, small, 0), -1);
  char name[4];
  EXPECT_EQ(QOUtil_GetModuleFileNameOnly(nullptr, name, sizeof(name)), -1);
  int local = 0;
  EXPECT_EQ(QOUtil_GetModulePath(&local, small, sizeof(small)), -1);  // a stack address
}

TEST(QOUtilLog, FailuresAreLogged) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  EXPECT_EQ(QOUtil_IsDirectory(nullptr), -1);
  EXPECT_EQ(QOUtil_IsExpired(time(nullptr) + 60, 1), 0);
  const std::string text = log.text();
  EXPECT_NE(text.find("] >> Null Pointer Exception\n"), std::string::npos) << text;
  EXPECT_NE(text.find("] >>  eTime:"), std::string::npos) << text;
  EXPECT_NE(text.find(", curTime:"), std::string::npos) << text;
}

}  // namespace
