// Helpers shared by tests: temporary directories, files, and running a piece
// of a test in a forked child (the instance and the environment are
// process-wide, so tests that change them run apart).
#pragma once

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <type_traits>

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

namespace detail {

inline bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

struct ChildRun {
  std::string output;  // everything the child wrote to the pipe
  bool exited = false;
  int exitCode = -1;
};

// Forks; the child runs |child| with the write end of a pipe and exits with
// the code it returns. |setupFailure| says why nothing ran.
inline ChildRun ForkWithPipe(const std::function<int(int fd)>& child, std::string* setupFailure) {
  int fds[2];
  if (pipe(fds) != 0) {
    *setupFailure = "pipe failed";
    return {};
  }
  fflush(nullptr);  // nothing buffered may be written twice
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    *setupFailure = "fork failed";
    return {};
  }
  if (pid == 0) {
    // A child outlives no crashed test: it goes with its parent.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    close(fds[0]);
    const int code = child(fds[1]);
    close(fds[1]);
    _exit(code);
  }
  close(fds[1]);
  ChildRun run;
  char buffer[512];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof(buffer))) > 0;) run.output.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.exited = WIFEXITED(status);
  run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace detail

// Runs |body| in a forked child. |body| returns an empty text on success or a
// description of what went wrong; the parent gets that text back.
inline std::string RunInChild(const std::function<std::string()>& body) {
  std::string setupFailure;
  const detail::ChildRun run = detail::ForkWithPipe(
      [&](int fd) {
        const std::string failure = body();
        if (!failure.empty()) (void)detail::WriteAll(fd, failure.data(), failure.size());
        return failure.empty() ? 0 : 1;
      },
      &setupFailure);
  if (!setupFailure.empty()) return setupFailure;
  if (!run.exited) return "child did not exit normally: " + run.output;
  if (run.exitCode != 0 && run.output.empty()) return "child failed without a reason";
  return run.output;
}

// Runs |body| in a forked child and brings back the plain value it returns;
// std::nullopt when the child crashed, failed or sent less than a whole value.
template <class T>
std::optional<T> RunInChildFor(const std::function<T()>& body) {
  static_assert(std::is_trivially_copyable_v<T>, "the value crosses a pipe byte by byte");
  std::string setupFailure;
  const detail::ChildRun run = detail::ForkWithPipe(
      [&](int fd) {
        const T value = body();
        return detail::WriteAll(fd, reinterpret_cast<const char*>(&value), sizeof(value)) ? 0 : 2;
      },
      &setupFailure);
  if (!setupFailure.empty() || !run.exited || run.exitCode != 0 || run.output.size() != sizeof(T)) {
    return std::nullopt;
  }
  T value;
  std::memcpy(&value, run.output.data(), sizeof(T));
  return value;
}

}  // namespace qor::test

// Inside a RunInChild body: return the failure text when |cond| is false.
#define CHILD_CHECK(cond)                                                             \
  do {                                                                                \
    if (!(cond)) return std::string(__FILE__ ":") + std::to_string(__LINE__) + ": " #cond; \
  } while (0)
