// Starting a helper program (the agent, qorctl) from a test: the child gets
// SIGKILL when the test process dies, so a crashed or killed test leaves no
// program behind holding ports and files.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace qor::test {

// In a freshly forked child: ask for SIGKILL when the parent goes, and go at
// once when the parent is already gone (it may have died before the request).
inline void DieWithParent(pid_t parent) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
}

// Forks and runs |args| (args[0] is the program path) with standard input
// from /dev/null and standard output and error to the given files ("" keeps
// them). Returns the child's pid, or -1.
inline pid_t SpawnProgram(const std::vector<std::string>& args, const std::string& outPath = "",
                          const std::string& errPath = "") {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  DieWithParent(parent);
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) dup2(null, 0);
  const auto redirect = [](const std::string& path, int target) {
    if (path.empty()) return true;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return fd >= 0 && dup2(fd, target) >= 0;
  };
  if (!redirect(outPath, 1) || !redirect(errPath, 2)) _exit(127);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

}  // namespace qor::test
