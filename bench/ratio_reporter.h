// Benchmarks register runs named "<case>/<impl>" (impl: ours, openssl, cryptopp).
// QOR_BENCH_MAIN() runs them and then prints, per case, how fast ours is
// against each peer: peer time / our time (above 1.0 means ours is faster).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace qor::bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      std::string name = run.benchmark_name();
      // Strip benchmark's own suffixes such as "/real_time" or "/threads:N" (the
      // case name says the thread count when it matters).
      for (const char* suffix : {"/real_time", "/process_time", "/threads:"}) {
        if (auto pos = name.find(suffix); pos != std::string::npos) name.erase(pos);
      }
      const auto slash = name.rfind('/');
      if (slash == std::string::npos) continue;
      const std::string key = name.substr(0, slash);
      const std::string impl = name.substr(slash + 1);
      if (!order_.count(key)) {
        order_[key] = keys_.size();
        keys_.push_back(key);
      }
      times_[key][impl] = run.GetAdjustedRealTime();
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    // The column is peer time over our time: above 1.00x ours is faster.
    std::printf("\n%-44s %-10s %10s\n", "case", "peer", "peer/ours");
    for (const std::string& key : keys_) {
      const auto& impls = times_[key];
      const auto ours = impls.find("ours");
      if (ours == impls.end() || ours->second <= 0) continue;
      for (const auto& [impl, t] : impls) {
        if (impl == "ours") continue;
        std::printf("%-44s %-10s %9.2fx\n", key.c_str(), impl.c_str(), t / ours->second);
      }
    }
    std::fflush(stdout);
  }

 private:
  std::vector<std::string> keys_;
  std::map<std::string, size_t> order_;
  std::map<std::string, std::map<std::string, double>> times_;
};

}  // namespace qor::bench

#define QOR_BENCH_MAIN()                                        \
  int main(int argc, char** argv) {                             \
    benchmark::Initialize(&argc, argv);                         \
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1; \
    qor::bench::RatioReporter reporter;                         \
    benchmark::RunSpecifiedBenchmarks(&reporter);               \
    benchmark::Shutdown();                                      \
    return 0;                                                   \
  }
