// ParseYaml side by side with two baselines on the three standard documents in
// bench/data (canada.json, citm_catalog.json, twitter.json), each converted to
// block-style YAML once, before any timing:
//
//   ParseYaml         the reader under test: libyaml events built into a tree
//   LibYamlEvents     libyaml's bare event loop, parsing and deleting events
//                     with nothing built: the ceiling for any libyaml reader
//   YamlCppLoad       yaml-cpp's YAML::Load into its node tree
//
// After the run a summary prints ParseYaml against each baseline from the
// median CPU times (or the single run without repetitions): a ratio of 1.0
// means as fast as the baseline, 0.5 half as fast.

#include <benchmark/benchmark.h>
#include <yaml-cpp/yaml.h>
#include <yaml.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bench/support/Conversions.h"
#include "bench/support/RatioReport.h"
#include "binding/BindingResult.h"
#include "binding/Yaml.h"

namespace {

// --- Readers. -------------------------------------------------------------------

void ParseYaml(benchmark::State& state, std::string_view fileName) {
  const std::string& text = Nalo::Bench::YamlDataFile(fileName);
  for (auto _ : state) {
    Nalo::BindingResult result = Nalo::ParseYaml(text);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void LibYamlEvents(benchmark::State& state, std::string_view fileName) {
  const std::string& text = Nalo::Bench::YamlDataFile(fileName);
  for (auto _ : state) {
    yaml_parser_t parser;
    if (yaml_parser_initialize(&parser) == 0) {
      state.SkipWithError("yaml_parser_initialize failed");
      break;
    }
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
    std::size_t events = 0;
    bool done = false;
    while (!done) {
      yaml_event_t event;
      if (yaml_parser_parse(&parser, &event) == 0) {
        state.SkipWithError("libyaml failed on the converted text");
        break;
      }
      done = event.type == YAML_STREAM_END_EVENT;
      ++events;
      yaml_event_delete(&event);
    }
    yaml_parser_delete(&parser);
    benchmark::DoNotOptimize(events);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void YamlCppLoad(benchmark::State& state, std::string_view fileName) {
  const std::string& text = Nalo::Bench::YamlDataFile(fileName);
  for (auto _ : state) {
    YAML::Node node = YAML::Load(text);
    benchmark::DoNotOptimize(node);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// Ours between its baselines, per document, so that all see the same machine
// load as far as possible.
BENCHMARK_CAPTURE(LibYamlEvents, canada, "canada.json")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ParseYaml, canada, "canada.json")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(YamlCppLoad, canada, "canada.json")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibYamlEvents, citm_catalog, "citm_catalog.json")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ParseYaml, citm_catalog, "citm_catalog.json")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(YamlCppLoad, citm_catalog, "citm_catalog.json")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibYamlEvents, twitter, "twitter.json")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ParseYaml, twitter, "twitter.json")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(YamlCppLoad, twitter, "twitter.json")->Unit(benchmark::kMillisecond);

// --- Summary. -------------------------------------------------------------------

// Ours and the baselines it is measured against.
constexpr Nalo::Bench::RatioComparison kComparisons[] = {
    {"ParseYaml", "LibYamlEvents"},
    {"ParseYaml", "YamlCppLoad"},
};

}  // namespace

int main(int argc, char** argv) {
  return Nalo::Bench::RunWithRatioSummary(argc, argv, kComparisons,
                                          {.baseline = Nalo::Bench::BaselineColumn::Shown});
}
