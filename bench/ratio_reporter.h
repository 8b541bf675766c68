// Benchmarks register runs named "<case>/<impl>" (impl: ours, openssl, cryptopp).
// QOR_BENCH_MAIN() runs them and then prints, per case, how fast ours is
// against each peer: peer time / our time (above 1.0 means ours is faster),
// from the median of the repetitions. Cases named "..._t2/..." beside a
// "..._t1/..." twin also get the two-thread scaling of each implementation.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
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
      times_[key][impl].push_back(run.GetAdjustedRealTime());
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    // The column is peer time over our time: above 1.00x ours is faster.
    std::printf("\n%-44s %-10s %10s\n", "case", "peer", "peer/ours");
    for (const std::string& key : keys_) {
      const auto& impls = times_[key];
      const auto ours = impls.find("ours");
      if (ours == impls.end()) continue;
      const double oursTime = Median(ours->second);
      if (oursTime <= 0) continue;
      for (const auto& [impl, t] : impls) {
        if (impl == "ours") continue;
        std::printf("%-44s %-10s %9.2fx\n", key.c_str(), impl.c_str(), Median(t) / oursTime);
      }
    }
    PrintScaling();
    std::fflush(stdout);
  }

 private:
  static double Median(std::vector<double> t) {
    if (t.empty()) return 0;
    std::sort(t.begin(), t.end());
    const size_t n = t.size();
    return n % 2 == 1 ? t[n / 2] : (t[n / 2 - 1] + t[n / 2]) / 2;
  }

  // Real time per item on one thread over that on two: 2.00x is perfect.
  void PrintScaling() {
    bool header = false;
    for (const std::string& key : keys_) {
      const auto at = key.find("_t2/");
      if (at == std::string::npos) continue;
      std::string single = key;
      single.replace(at, 4, "_t1/");
      const auto one = times_.find(single);
      if (one == times_.end()) continue;
      for (const auto& [impl, t] : times_[key]) {
        const auto base = one->second.find(impl);
        const double two = Median(t);
        if (base == one->second.end() || two <= 0) continue;
        if (!header) {
          std::printf("\n%-44s %-10s %10s\n", "case", "impl", "2 threads");
          header = true;
        }
        std::printf("%-44s %-10s %9.2fx\n", key.c_str(), impl.c_str(), Median(base->second) / two);
      }
    }
  }

  std::vector<std::string> keys_;
  std::map<std::string, size_t> order_;
  std::map<std::string, std::map<std::string, std::vector<double>>> times_;
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
