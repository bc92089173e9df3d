#pragma once
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

// The usual console table, then each measured benchmark's time over the baseline's (the same
// units: each benchmark reports in its own, so pair benchmarks that share one).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter(std::string baseline, std::vector<std::string> measured)
      : m_baseline(std::move(baseline)), m_measured(std::move(measured)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        m_times[run.run_name.function_name] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto baseline = m_times.find(m_baseline);
    if (baseline == m_times.end() || baseline->second <= 0) return;
    for (const std::string& name : m_measured)
      if (auto it = m_times.find(name); it != m_times.end())
        std::printf("%s / %s = %.2f (below 1: faster)\n", name.c_str(), m_baseline.c_str(),
                    it->second / baseline->second);
  }

 private:
  std::string m_baseline;
  std::vector<std::string> m_measured;
  std::map<std::string, double> m_times;
};
