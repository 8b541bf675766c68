// encrypt-file and decrypt-file: one whole file by policy name, into a target
// or in place. On a terminal a progress line shows how far the output has
// grown against the source, its throughput and the time left.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "qor/file_entry.h"
#include "qor/qorfile.h"
#include "qorapi.h"
#include "qorctl.h"

namespace qorctl {
namespace {

using Clock = std::chrono::steady_clock;

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

long long SizeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::string Duration(double seconds) {
  const long s = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof(text), "%ld:%02ld", s / 60, s % 60);
  return text;
}

// Draws the progress line until |done|: the output's size (the swap file of
// an in-place run while it grows) against the source's.
void ShowProgress(FILE* terminal, const std::string& source, const std::string& output,
                  const std::atomic<bool>& done) {
  const long long total = SizeOf(source);
  const std::string swap = output + QOR_FILE_SWAP_SUFFIX;
  const bool inPlace = output == source;
  const Clock::time_point start = Clock::now();
  bool drawn = false;
  while (!done.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (done.load() || total <= 0) continue;
    long long now = SizeOf(inPlace ? swap : output);
    if (now < 0) now = 0;
    if (now > total) now = total;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const double rate = elapsed > 0 ? static_cast<double>(now) / elapsed : 0;
    const double fraction = static_cast<double>(now) / static_cast<double>(total);
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, ' ');
    const std::string left =
        rate > 0 ? Duration(static_cast<double>(total - now) / rate) : std::string("?:??");
    std::fprintf(terminal, "\r[%s] %3d%%  %7.1f MiB/s  %s left ", bar.c_str(),
                 static_cast<int>(fraction * 100), rate / 1048576.0, left.c_str());
    std::fflush(terminal);
    drawn = true;
  }
  if (drawn) {
    std::fprintf(terminal, "\r%*s\r", 70, "");
    std::fflush(terminal);
  }
}

// Runs |work| with a progress line on the terminal when standard error is one.
template <class Work>
void WithProgress(const FileOptions& options, const std::string& output, Work work) {
  FILE* terminal = ErrorStream();
  const bool show = !options.quiet && terminal != nullptr && isatty(fileno(terminal)) == 1;
  if (!show) {
    work();
    return;
  }
  std::atomic<bool> done{false};
  std::thread progress(ShowProgress, terminal, options.source, output, std::cref(done));
  work();
  done = true;
  progress.join();
}

int FileFailure(int code, const std::string& tag, const std::string& message) {
  std::string text = message;
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return Report("qorctl: " + std::to_string(code) + (tag.empty() ? "" : " " + tag) + " " + text,
                1);
}

}  // namespace

int EncryptFileCommand(const FileOptions& options) {
  const std::string target = options.target.empty() ? options.source : options.target;
  int code = -1;
  WithProgress(options, target, [&] {
    code = QOR_EncryptFile(options.policy.c_str(), options.source.c_str(), target.c_str(), 1,
                           OrNull(options.identity1), OrNull(options.identity2),
                           OrNull(options.identity3));
  });
  if (code != 0) return FileFailure(code, "", QOR_GetLastErrorMsg());
  return 0;
}

int DecryptFileCommand(const FileOptions& options) {
  const std::string target = options.target.empty() ? options.source : options.target;
  FileResult result;
  std::memset(&result, 0, sizeof(result));
  WithProgress(options, target, [&] {
    result = QOR_DecryptFile_JNI(static_cast<int>(options.policy.size()), options.policy.c_str(),
                                 options.source.c_str(), target.c_str(),
                                 OrNull(options.identity1), OrNull(options.identity2),
                                 OrNull(options.identity3));
  });
  if (result.code != 0) return FileFailure(result.code, result.tag, result.message);
  if (QOR_GetLastErrorCode() != 0 && std::strstr(QOR_GetLastErrorMsg(), "verification") != nullptr) {
    // The data came out but does not match what was encrypted; the encrypted
    // file was kept.
    return FileFailure(0, "", QOR_GetLastErrorMsg());
  }
  return 0;
}

}  // namespace qorctl
