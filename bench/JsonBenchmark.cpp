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

#include <string>
#include <string_view>

#include "bench/support/BenchmarkData.h"
#include "bench/support/RatioReport.h"
#include "binding/BindingResult.h"
#include "binding/Json.h"

namespace {

Nalo::BindingResult ParsedValue(std::string_view fileName) {
  Nalo::BindingResult parsed = Nalo::ParseJson(Nalo::Bench::LoadDataFile(fileName).c_str());
  if (parsed.Failed()) {
    Nalo::Bench::Abort(std::string(fileName) + ": " + std::string(parsed.ErrorMessage()));
  }
  return parsed;
}

// --- Parsing. -----------------------------------------------------------------

void ParseJson(benchmark::State& state, std::string_view fileName) {
  const std::string& text = Nalo::Bench::LoadDataFile(fileName);
  for (auto _ : state) {
    Nalo::BindingResult result = Nalo::ParseJson(text.c_str());
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void RapidJsonDocumentParse(benchmark::State& state, std::string_view fileName) {
  const std::string& text = Nalo::Bench::LoadDataFile(fileName);
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
  Nalo::Bench::ParseDataFile(fileName, document);
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
constexpr Nalo::Bench::RatioComparison kComparisons[] = {
    {"ParseJson", "RapidJsonDocumentParse"},
    {"ToJsonCompact", "RapidJsonWriter"},
    {"ToJsonPretty", "RapidJsonPrettyWriter"},
};

}  // namespace

int main(int argc, char** argv) {
  return Nalo::Bench::RunWithRatioSummary(argc, argv, kComparisons,
                                          {.baseline = Nalo::Bench::BaselineColumn::Hidden});
}
