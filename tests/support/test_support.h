// Helpers shared by tests: temporary directories, files, and running a piece
// of a test in a forked child (the instance and the environment are
// process-wide, so tests that change them run apart).
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace qor::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qor-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs |body| in a forked child. |body| returns an empty text on success or a
// description of what went wrong; the parent gets that text back.
inline std::string RunInChild(const std::function<std::string()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    close(fds[0]);
    const std::string failure = body();
    if (!failure.empty()) {
      ssize_t ignored = write(fds[1], failure.data(), failure.size());
      (void)ignored;
    }
    close(fds[1]);
    _exit(failure.empty() ? 0 : 1);
  }
  close(fds[1]);
  std::string failure;
  char buffer[512];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof(buffer))) > 0;) failure.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status)) return "child did not exit normally: " + failure;
  if (WEXITSTATUS(status) != 0 && failure.empty()) return "child failed without a reason";
  return failure;
}

}  // namespace qor::test

// Inside a RunInChild body: return the failure text when |cond| is false.
#define CHILD_CHECK(cond)                                                             \
  do {                                                                                \
    if (!(cond)) return std::string(__FILE__ ":") + std::to_string(__LINE__) + ": " #cond; \
  } while (0)
