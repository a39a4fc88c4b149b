// Console reporter for benchmarks that run ours and a peer library side by
// side: after the usual table it prints, for every benchmark of ours whose
// peer twin ran too, our time, the peer's time and ours / peer (lower is
// better); with --benchmark_repetitions, the fastest repetition of each.
// Twins are named by prefix pairs: {"OursABt", "EigenABt"} pairs
// "OursABt/256" with "EigenABt/256".
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter(std::string peer, std::vector<std::pair<std::string, std::string>> twins)
      : peer_(std::move(peer)), twins_(std::move(twins)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const std::string name = run.benchmark_name();
      const double time = run.GetAdjustedRealTime();
      auto known = times_.find(name);
      if (known == times_.end()) {
        order_.push_back(name);
        times_[name] = {time, benchmark::GetTimeUnitString(run.time_unit)};
      } else if (time < known->second.value) {
        known->second.value = time;  // with repetitions: the least disturbed run
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-48s %12s %12s %4s %7s\n", "benchmark", "ours", peer_.c_str(), "unit", "ratio");
    for (const std::string& name : order_) {
      for (const auto& [ours, peer] : twins_) {
        if (name.compare(0, ours.size(), ours) != 0) continue;
        if (name.size() > ours.size() && name[ours.size()] != '/') continue;
        auto twin = times_.find(peer + name.substr(ours.size()));
        if (twin == times_.end()) continue;
        const Time& a = times_[name];
        const Time& b = twin->second;
        // Both twins use the same time unit (they are declared alike).
        std::printf("%-48s %12.3f %12.3f %4s %7.2f\n", name.c_str(), a.value, b.value, a.unit,
                    a.value / b.value);
      }
    }
  }

 private:
  struct Time {
    double value = 0.0;
    const char* unit = "";
  };
  std::string peer_;
  std::vector<std::pair<std::string, std::string>> twins_;
  std::map<std::string, Time> times_;
  std::vector<std::string> order_;
};
