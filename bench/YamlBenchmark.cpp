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
#include <rapidjson/document.h>
#include <yaml-cpp/yaml.h>
#include <yaml.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/BindingResult.h"
#include "binding/Yaml.h"

namespace {

// --- Inputs. --------------------------------------------------------------------

// Writes a JSON document as block-style YAML: one mapping member or sequence
// entry per line, nested containers indented by two spaces on the lines below
// their key or dash, empty containers in flow style. Keys and strings are
// double-quoted with JSON-compatible escapes; numbers, booleans and null are
// plain, so they resolve to the same kinds as in JSON.
class YamlWriter {
 public:
  std::string Write(const rapidjson::Value& root) {
    mText.clear();
    if (IsNonEmptyContainer(root)) {
      Block(root, 0);
    } else {
      Scalar(root);
      mText += '\n';
    }
    return std::move(mText);
  }

 private:
  static bool IsNonEmptyContainer(const rapidjson::Value& value) {
    return (value.IsObject() && value.MemberCount() != 0) || (value.IsArray() && !value.Empty());
  }

  void Block(const rapidjson::Value& value, std::size_t indent) {
    if (value.IsObject()) {
      for (const auto& member : value.GetObject()) {
        mText.append(indent, ' ');
        Quoted(std::string_view(member.name.GetString(), member.name.GetStringLength()));
        mText += ':';
        Child(member.value, indent);
      }
      return;
    }
    for (const rapidjson::Value& element : value.GetArray()) {
      mText.append(indent, ' ');
      mText += '-';
      Child(element, indent);
    }
  }

  void Child(const rapidjson::Value& value, std::size_t indent) {
    if (IsNonEmptyContainer(value)) {
      mText += '\n';
      Block(value, indent + 2);
      return;
    }
    mText += ' ';
    Scalar(value);
    mText += '\n';
  }

  void Scalar(const rapidjson::Value& value) {
    char number[32];
    if (value.IsNull()) {
      mText += "null";
    } else if (value.IsBool()) {
      mText += value.GetBool() ? "true" : "false";
    } else if (value.IsInt64()) {
      std::snprintf(number, sizeof number, "%lld", static_cast<long long>(value.GetInt64()));
      mText += number;
    } else if (value.IsUint64()) {
      std::snprintf(number, sizeof number, "%llu",
                    static_cast<unsigned long long>(value.GetUint64()));
      mText += number;
    } else if (value.IsDouble()) {
      std::snprintf(number, sizeof number, "%.17g", value.GetDouble());
      mText += number;
    } else if (value.IsString()) {
      Quoted(std::string_view(value.GetString(), value.GetStringLength()));
    } else {
      mText += value.IsObject() ? "{}" : "[]";
    }
  }

  // A double-quoted scalar. Control characters are escaped; everything else,
  // UTF-8 included, is written as it is.
  void Quoted(std::string_view text) {
    mText += '"';
    for (const char c : text) {
      switch (c) {
        case '"':
          mText += "\\\"";
          break;
        case '\\':
          mText += "\\\\";
          break;
        case '\n':
          mText += "\\n";
          break;
        case '\t':
          mText += "\\t";
          break;
        default:
          if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
            mText += escape;
          } else {
            mText += c;
          }
      }
    }
    mText += '"';
  }

  std::string mText;
};

// Each document is read and converted once per process, on first use.
const std::string& YamlDocument(std::string_view fileName) {
  static std::map<std::string, std::string, std::less<>> converted;
  if (const auto found = converted.find(fileName); found != converted.end()) {
    return found->second;
  }
  const std::string path = std::string(NALO_BENCH_DATA_DIR) + "/" + std::string(fileName);
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    std::fprintf(stderr, "can't read benchmark input %s\n", path.c_str());
    std::exit(1);
  }
  const std::string json((std::istreambuf_iterator<char>(stream)), {});
  rapidjson::Document document;
  document.Parse(json.c_str());
  if (document.HasParseError()) {
    std::fprintf(stderr, "can't parse benchmark input %s\n", path.c_str());
    std::exit(1);
  }
  std::string yaml = YamlWriter().Write(document);
  // Every reader must accept the converted text, or its timing means nothing.
  const Nalo::BindingResult check = Nalo::ParseYaml(yaml);
  if (check.Failed()) {
    std::fprintf(stderr, "%s as YAML: %.*s\n", path.c_str(),
                 static_cast<int>(check.ErrorMessage().size()), check.ErrorMessage().data());
    std::exit(1);
  }
  return converted.emplace(fileName, std::move(yaml)).first->second;
}

// --- Readers. -------------------------------------------------------------------

void ParseYaml(benchmark::State& state, std::string_view fileName) {
  const std::string& text = YamlDocument(fileName);
  for (auto _ : state) {
    Nalo::BindingResult result = Nalo::ParseYaml(text);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void LibYamlEvents(benchmark::State& state, std::string_view fileName) {
  const std::string& text = YamlDocument(fileName);
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
  const std::string& text = YamlDocument(fileName);
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
constexpr std::pair<std::string_view, std::string_view> kComparisons[] = {
    {"ParseYaml", "LibYamlEvents"},
    {"ParseYaml", "YamlCppLoad"},
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
        // Stored in nanoseconds whatever the display unit.
        mCpuTimes[run.run_name.function_name] =
            run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
      }
    }
  }

  void PrintSummary() const {
    std::printf("\n%-10s %-15s %-14s %10s %14s %7s\n", "ours", "baseline", "document", "ours (ms)",
                "baseline (ms)", "ratio");
    for (const auto& [ours, baseline] : kComparisons) {
      for (const auto& [name, ourTime] : mCpuTimes) {
        const std::string_view fullName = name;
        const std::size_t slash = fullName.find('/');
        if (slash == std::string_view::npos || fullName.substr(0, slash) != ours) {
          continue;
        }
        const std::string_view document = fullName.substr(slash + 1);
        const auto found = mCpuTimes.find(std::string(baseline) + "/" + std::string(document));
        if (found == mCpuTimes.end()) {
          continue;
        }
        std::printf("%-10.*s %-15.*s %-14.*s %10.3f %14.3f %7.2f\n", static_cast<int>(ours.size()),
                    ours.data(), static_cast<int>(baseline.size()), baseline.data(),
                    static_cast<int>(document.size()), document.data(), ourTime / 1e6,
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
