// The per-call check of the update stamp: ours reads its eight bytes with
// pread (a truncated file cannot raise a signal), the peer is the mapping the
// library once used (one load, but SIGBUS when the file shrinks).
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "api/update_stamp.h"
#include "ratio_reporter.h"

namespace {

struct StampFile {
  std::string dir;
  std::string path;
  StampFile() {
    char pattern[] = "/tmp/qor_bench_stamp_XXXXXX";
    dir = mkdtemp(pattern);
    path = dir + "/stamp";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
    const uint64_t value = 42;
    (void)!pwrite(fd, &value, sizeof(value), 0);
    close(fd);
  }
  ~StampFile() {
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
};

void ReadStamp(benchmark::State& state) {
  StampFile file;
  qor::api::UpdateStamp stamp;
  ErrorInfo error{};
  uint64_t value = 0;
  if (stamp.Open(file.path.c_str(), &error, &value) != 0) {
    state.SkipWithError("stamp did not open");
    return;
  }
  for (auto _ : state) {
    stamp.Read(&value);
    benchmark::DoNotOptimize(value);
  }
}

void MappedStamp(benchmark::State& state) {
  StampFile file;
  const int fd = open(file.path.c_str(), O_RDONLY);
  void* map = mmap(nullptr, 8, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (map == MAP_FAILED) {
    state.SkipWithError("no mapping");
    return;
  }
  const auto* stamp = static_cast<const uint64_t*>(map);
  for (auto _ : state) {
    uint64_t value = __atomic_load_n(stamp, __ATOMIC_RELAXED);
    benchmark::DoNotOptimize(value);
  }
  munmap(map, 8);
}

BENCHMARK(ReadStamp)->Name("stamp check/ours");
BENCHMARK(MappedStamp)->Name("stamp check/mmap");

}  // namespace

QOR_BENCH_MAIN()
