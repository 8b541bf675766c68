// Opening files the library only reads: regular files only, and never a
// blocking open.
#include "common/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

#include "support/test_support.h"

namespace {

using qor::test::TempDir;
using qor::test::WriteFile;

struct Case {
  const char* name;
  std::function<void(const std::string& path)> make;
  bool opens;
  bool notRegular;
};

TEST(RegularFile, OpensOnlyRegularFilesWithoutBlocking) {
  const Case cases[] = {
      {"regular", [](const std::string& p) { WriteFile(p, "12345678"); }, true, false},
      {"link to a regular file",
       [](const std::string& p) {
         WriteFile(p + ".real", "x");
         std::filesystem::create_symlink(p + ".real", p);
       },
       true, false},
      {"fifo", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, false, true},
      {"directory", [](const std::string& p) { std::filesystem::create_directory(p); }, false,
       true},
      {"dangling link",
       [](const std::string& p) { std::filesystem::create_symlink(p + ".gone", p); }, false,
       false},
      {"missing", [](const std::string&) {}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir / "file";
    c.make(path);
    const qor::RegularFile file = qor::OpenRegularFile(path.c_str());
    EXPECT_EQ(file.fd >= 0, c.opens);
    EXPECT_EQ(file.notRegular, c.notRegular);
    if (file.fd >= 0) {
      EXPECT_NE(fcntl(file.fd, F_GETFD) & FD_CLOEXEC, 0);
      close(file.fd);
    } else {
      EXPECT_NE(file.error, 0);
    }
    std::FILE* stream = qor::OpenRegularStream(path.c_str());
    EXPECT_EQ(stream != nullptr, c.opens);
    if (stream != nullptr) std::fclose(stream);
  }
}

}  // namespace
