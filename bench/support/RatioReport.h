#pragma once
// RatioReporter: the console output of a benchmark run, followed by a table of
// our times against the baselines'.
//
// Each comparison names our benchmark and its baseline. A benchmark captured
// per document ("ParseJson/canada") is paired with the baseline of the same
// document ("RapidJsonDocumentParse/canada"); a plain one ("SessionToJson")
// with the plain baseline. The table takes the median CPU time of each (the
// single run when there are no repetitions), and the ratio is baseline time /
// our time: 1.0 means as fast as the baseline, 0.5 half as fast. A pair with a
// side that did not run (filtered out, or failed) has no row.
//
//   constexpr Nalo::Bench::RatioComparison kComparisons[] = {{"ParseJson",
//   "RapidJsonDocumentParse"}}; int main(int argc, char** argv) {
//     return Nalo::Bench::RunWithRatioSummary(argc, argv, kComparisons,
//                                             {.baseline = Nalo::Bench::BaselineColumn::Hidden});
//   }

#include <benchmark/benchmark.h>

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Nalo::Bench {

struct RatioComparison {
  std::string_view ours;
  std::string_view baseline;
};

// Whether the table names the baseline of each row. Hide it when each of ours
// has one baseline and the name of ours says which.
enum class BaselineColumn { Hidden, Shown };
// The unit of the two time columns.
enum class SummaryTimeUnit { Milliseconds, Microseconds };

struct RatioTableLayout {
  BaselineColumn baseline = BaselineColumn::Shown;
  SummaryTimeUnit unit = SummaryTimeUnit::Milliseconds;
};

class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  // `comparisons` must outlive the reporter.
  RatioReporter(std::span<const RatioComparison> comparisons, RatioTableLayout layout);

  // Prints the runs as the console reporter does and keeps their times.
  void ReportRuns(const std::vector<Run>& runs) override;
  // Prints the table to standard output: one row per comparison and document,
  // comparisons in the given order, documents in name order. A document column
  // appears when some row has a document.
  void PrintSummary() const;
  // The median CPU time of the benchmark `name` (the single run without
  // repetitions), in nanoseconds; empty when it did not run or failed.
  [[nodiscard]] std::optional<double> CpuNanoseconds(std::string_view name) const;

 private:
  std::span<const RatioComparison> mComparisons;
  RatioTableLayout mLayout;
  std::map<std::string, double, std::less<>> mCpuTimes;  // nanoseconds per iteration
};

// The whole main() of a benchmark program: initializes the library from the
// command line, runs the selected benchmarks through a RatioReporter, prints
// the summary and returns the exit status (1 for an unknown argument).
int RunWithRatioSummary(int argc, char** argv, std::span<const RatioComparison> comparisons,
                        RatioTableLayout layout);

}  // namespace Nalo::Bench
