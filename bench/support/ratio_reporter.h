// Prints, after the usual table, each measured figure as a ratio of speed
// against the baseline it was paired with in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kavbench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Pairs a measured benchmark with its baseline, by name (without arguments).
  void pair(std::string measured, std::string baseline, std::string target = "") {
    pairs_.push_back({std::move(measured), std::move(baseline), std::move(target)});
  }

  void ReportRuns(const std::vector<Run> &runs) override {
    for (const auto &r : runs) {
      if (r.run_type == Run::RT_Iteration && !r.error_occurred && r.iterations > 0)
        seconds_[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nspeed ratios (baseline time / measured time; 1.0 = as fast as the baseline)\n");
    for (const auto &p : pairs_) {
      auto m = seconds_.find(p.measured), b = seconds_.find(p.baseline);
      if (m == seconds_.end() || b == seconds_.end() || m->second <= 0) continue;
      std::printf("  %-40s vs %-32s %6.2fx%s%s\n", p.measured.c_str(), p.baseline.c_str(), b->second / m->second,
                  p.target.empty() ? "" : "   target ", p.target.c_str());
    }
  }

 private:
  struct Pair {
    std::string measured, baseline, target;
  };
  std::vector<Pair> pairs_;
  std::map<std::string, double> seconds_;
};

}  // namespace kavbench
