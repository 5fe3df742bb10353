#include "bench/support/RatioReport.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace Nalo::Bench {
namespace {

enum class Alignment { Left, Right };

struct Column {
  std::string_view heading;
  Alignment alignment;
};

std::string FormatNumber(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// Prints `rows` under `columns`, each column as wide as its widest cell and
// the columns two spaces apart.
void PrintTable(const std::vector<Column>& columns,
                const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const Column& column : columns) {
    widths.push_back(column.heading.size());
  }
  for (const auto& row : rows) {
    for (std::size_t index = 0; index < row.size(); ++index) {
      widths[index] = std::max(widths[index], row[index].size());
    }
  }
  const auto printRow = [&](const auto& cells) {
    std::string line;
    for (std::size_t index = 0; index < columns.size(); ++index) {
      const std::string_view cell = cells[index];
      const std::string padding(widths[index] - cell.size(), ' ');
      if (index != 0) {
        line += "  ";
      }
      if (columns[index].alignment == Alignment::Right) {
        line += padding;
        line += cell;
      } else {
        line += cell;
        // No trailing blanks after the last column.
        if (index + 1 != columns.size()) {
          line += padding;
        }
      }
    }
    std::printf("%s\n", line.c_str());
  };
  std::vector<std::string_view> headings;
  for (const Column& column : columns) {
    headings.push_back(column.heading);
  }
  printRow(headings);
  for (const auto& row : rows) {
    printRow(row);
  }
}

}  // namespace

RatioReporter::RatioReporter(std::span<const RatioComparison> comparisons, RatioTableLayout layout)
    : mComparisons(comparisons), mLayout(layout) {}

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.error_occurred) {
      continue;
    }
    const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
    const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    if (single || median) {
      // Stored in nanoseconds whatever the display unit.
      mCpuTimes[run.run_name.function_name] =
          run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
    }
  }
}

std::optional<double> RatioReporter::CpuNanoseconds(std::string_view name) const {
  const auto found = mCpuTimes.find(name);
  if (found == mCpuTimes.end()) {
    return std::nullopt;
  }
  return found->second;
}

void RatioReporter::PrintSummary() const {
  const bool milliseconds = mLayout.unit == SummaryTimeUnit::Milliseconds;
  const double nanosecondsPerUnit = milliseconds ? 1e6 : 1e3;
  const int decimals = milliseconds ? 3 : 2;

  struct Row {
    RatioComparison comparison;
    std::string_view document;
    double ourTime;
    double baselineTime;
  };
  std::vector<Row> found;
  for (const RatioComparison& comparison : mComparisons) {
    for (const auto& [name, ourTime] : mCpuTimes) {
      const std::string_view fullName = name;
      if (!fullName.starts_with(comparison.ours)) {
        continue;
      }
      // Empty, or "/" and the document.
      const std::string_view suffix = fullName.substr(comparison.ours.size());
      if (!suffix.empty() && suffix.front() != '/') {
        continue;
      }
      const auto baseline = mCpuTimes.find(std::string(comparison.baseline) + std::string(suffix));
      if (baseline == mCpuTimes.end()) {
        continue;
      }
      found.push_back(
          {comparison, suffix.empty() ? suffix : suffix.substr(1), ourTime, baseline->second});
    }
  }
  const bool documents =
      std::any_of(found.begin(), found.end(), [](const Row& row) { return !row.document.empty(); });
  const bool baselines = mLayout.baseline == BaselineColumn::Shown;

  std::vector<Column> columns{{"ours", Alignment::Left}};
  if (baselines) {
    columns.push_back({"baseline", Alignment::Left});
  }
  if (documents) {
    columns.push_back({"document", Alignment::Left});
  }
  columns.push_back({milliseconds ? "ours (ms)" : "ours (us)", Alignment::Right});
  columns.push_back({milliseconds ? "baseline (ms)" : "baseline (us)", Alignment::Right});
  columns.push_back({"ratio", Alignment::Right});

  std::vector<std::vector<std::string>> rows;
  for (const Row& row : found) {
    std::vector<std::string> cells{std::string(row.comparison.ours)};
    if (baselines) {
      cells.emplace_back(row.comparison.baseline);
    }
    if (documents) {
      cells.emplace_back(row.document);
    }
    cells.push_back(FormatNumber(row.ourTime / nanosecondsPerUnit, decimals));
    cells.push_back(FormatNumber(row.baselineTime / nanosecondsPerUnit, decimals));
    cells.push_back(FormatNumber(row.baselineTime / row.ourTime, 2));
    rows.push_back(std::move(cells));
  }
  std::printf("\n");
  PrintTable(columns, rows);
  std::printf("ratio = baseline time / our time (median CPU time; 1.0 = as fast)\n");
}

int RunWithRatioSummary(int argc, char** argv, std::span<const RatioComparison> comparisons,
                        RatioTableLayout layout) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  RatioReporter reporter(comparisons, layout);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}

}  // namespace Nalo::Bench
