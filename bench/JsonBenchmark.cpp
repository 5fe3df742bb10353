// ParseJson and ToJson side by side with RapidJSON's own DOM on the three
// standard documents in bench/data: canada.json (numbers), citm_catalog.json
// (small objects, short keys) and twitter.json (strings, escapes, UTF-8).
//
//   ParseJson              vs rapidjson::Document::Parse (default flags)
//   ToJsonCompact          vs rapidjson::Writer over a Document
//   ToJsonPretty           vs rapidjson::PrettyWriter over a Document
//
// Inputs are loaded and parsed once, outside the timed loops. Bytes processed
// are the document's bytes for parsing and the produced text for writing.
// After the run, a summary prints each of ours against its baseline from the
// median CPU times (or the single run without repetitions): a ratio of 1.0
// means as fast as RapidJSON's DOM, 0.5 half as fast.

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "binding/BindingResult.h"
#include "binding/Json.h"

namespace {

// Each document is read once per process, on first use.
const std::string& Document(std::string_view fileName) {
  static std::map<std::string, std::string, std::less<>> loaded;
  if (const auto found = loaded.find(fileName); found != loaded.end()) {
    return found->second;
  }
  const std::string path = std::string(NALO_BENCH_DATA_DIR) + "/" + std::string(fileName);
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    std::fprintf(stderr, "can't read benchmark input %s\n", path.c_str());
    std::exit(1);
  }
  return loaded.emplace(fileName, std::string(std::istreambuf_iterator<char>(stream), {}))
      .first->second;
}

Nalo::BindingResult ParsedValue(std::string_view fileName) {
  Nalo::BindingResult parsed = Nalo::ParseJson(Document(fileName).c_str());
  if (parsed.Failed()) {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(fileName.size()), fileName.data(),
                 static_cast<int>(parsed.ErrorMessage().size()), parsed.ErrorMessage().data());
    std::exit(1);
  }
  return parsed;
}

void ParsedDocument(std::string_view fileName, rapidjson::Document& document) {
  document.Parse(Document(fileName).c_str());
  if (document.HasParseError()) {
    std::fprintf(stderr, "RapidJSON can't parse %.*s\n", static_cast<int>(fileName.size()),
                 fileName.data());
    std::exit(1);
  }
}

// --- Parsing. -----------------------------------------------------------------

void ParseJson(benchmark::State& state, std::string_view fileName) {
  const std::string& text = Document(fileName);
  for (auto _ : state) {
    Nalo::BindingResult result = Nalo::ParseJson(text.c_str());
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void RapidJsonDocumentParse(benchmark::State& state, std::string_view fileName) {
  const std::string& text = Document(fileName);
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(text.c_str());
    benchmark::DoNotOptimize(document);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// --- Writing. -----------------------------------------------------------------

void WriteWithToJson(benchmark::State& state, std::string_view fileName,
                     std::string_view lineSeparator) {
  const Nalo::BindingResult parsed = ParsedValue(fileName);
  std::size_t written = 0;
  for (auto _ : state) {
    std::string text = Nalo::ToJson(parsed.Value(), nullptr, lineSeparator);
    written = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * written));
}

template <class Writer>
void WriteWithRapidJson(benchmark::State& state, std::string_view fileName) {
  rapidjson::Document document;
  ParsedDocument(fileName, document);
  std::size_t written = 0;
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    document.Accept(writer);
    written = buffer.GetSize();
    benchmark::DoNotOptimize(buffer.GetString());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * written));
}

void ToJsonCompact(benchmark::State& state, std::string_view fileName) {
  WriteWithToJson(state, fileName, {});
}
void RapidJsonWriter(benchmark::State& state, std::string_view fileName) {
  WriteWithRapidJson<rapidjson::Writer<rapidjson::StringBuffer>>(state, fileName);
}
void ToJsonPretty(benchmark::State& state, std::string_view fileName) {
  WriteWithToJson(state, fileName, Nalo::kJsonLineFeed);
}
void RapidJsonPrettyWriter(benchmark::State& state, std::string_view fileName) {
  WriteWithRapidJson<rapidjson::PrettyWriter<rapidjson::StringBuffer>>(state, fileName);
}

// Ours right after its baseline, per document, so that both see the same
// machine load as far as possible.
BENCHMARK_CAPTURE(RapidJsonDocumentParse, canada, "canada.json");
BENCHMARK_CAPTURE(ParseJson, canada, "canada.json");
BENCHMARK_CAPTURE(RapidJsonDocumentParse, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(ParseJson, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(RapidJsonDocumentParse, twitter, "twitter.json");
BENCHMARK_CAPTURE(ParseJson, twitter, "twitter.json");

BENCHMARK_CAPTURE(RapidJsonWriter, canada, "canada.json");
BENCHMARK_CAPTURE(ToJsonCompact, canada, "canada.json");
BENCHMARK_CAPTURE(RapidJsonWriter, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(ToJsonCompact, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(RapidJsonWriter, twitter, "twitter.json");
BENCHMARK_CAPTURE(ToJsonCompact, twitter, "twitter.json");

BENCHMARK_CAPTURE(RapidJsonPrettyWriter, canada, "canada.json");
BENCHMARK_CAPTURE(ToJsonPretty, canada, "canada.json");
BENCHMARK_CAPTURE(RapidJsonPrettyWriter, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(ToJsonPretty, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(RapidJsonPrettyWriter, twitter, "twitter.json");
BENCHMARK_CAPTURE(ToJsonPretty, twitter, "twitter.json");

// --- Summary. -----------------------------------------------------------------

// Ours and the baseline it is measured against.
constexpr std::pair<std::string_view, std::string_view> kComparisons[] = {
    {"ParseJson", "RapidJsonDocumentParse"},
    {"ToJsonCompact", "RapidJsonWriter"},
    {"ToJsonPretty", "RapidJsonPrettyWriter"},
};

// Prints as usual and keeps each benchmark's median CPU time (the single run
// when there are no repetitions) for the summary.
class SummaryReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) {
        continue;
      }
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (single || median) {
        mCpuTimes[run.run_name.function_name] = run.GetAdjustedCPUTime();
      }
    }
  }

  void PrintSummary() const {
    std::printf("\n%-14s %-24s %14s %14s %8s\n", "ours", "document", "ours (ms)", "baseline (ms)",
                "ratio");
    for (const auto& [ours, baseline] : kComparisons) {
      for (const auto& [name, ourTime] : mCpuTimes) {
        const std::string_view fullName = name;
        const std::size_t slash = fullName.find('/');
        if (fullName.substr(0, slash) != ours || slash == std::string_view::npos) {
          continue;
        }
        const std::string_view document = fullName.substr(slash + 1);
        const auto found = mCpuTimes.find(std::string(baseline) + "/" + std::string(document));
        if (found == mCpuTimes.end()) {
          continue;
        }
        std::printf("%-14.*s %-24.*s %14.3f %14.3f %8.2f\n", static_cast<int>(ours.size()),
                    ours.data(), static_cast<int>(document.size()), document.data(), ourTime / 1e6,
                    found->second / 1e6, found->second / ourTime);
      }
    }
    std::printf("ratio = baseline time / our time (median CPU time; 1.0 = as fast)\n");
  }

 private:
  std::map<std::string, double> mCpuTimes;  // nanoseconds per iteration
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
