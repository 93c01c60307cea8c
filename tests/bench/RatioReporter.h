#pragma once
// Prints the usual console table and keeps each benchmark's real time, so a benchmark program can
// print the ratio of its two sides after the run.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    for (const Run& Each : Runs) Times[Each.benchmark_name()] = Each.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(Runs);
  }

  // The time, in the benchmark's own unit, of the first benchmark whose name begins with Prefix;
  // 0 when none ran.
  double TimeOf(const std::string& Prefix) const {
    for (const auto& [Name, Time] : Times)
      if (Name.rfind(Prefix, 0) == 0) return Time;
    return 0;
  }

 private:
  std::map<std::string, double> Times;
};
