// ParseMessagePack side by side with msgpack-c's unpack on the three standard
// documents in bench/data (canada.json, citm_catalog.json, twitter.json), each
// converted to MessagePack once, before any timing:
//
//   ParseMessagePack    the reader under test, building a BindingProperty tree
//   MsgpackUnpack       msgpack-c's msgpack_unpack_next into its zone-allocated
//                       object tree
//
// After the run a summary prints ours against the baseline from the median
// CPU times (or the single run without repetitions): a ratio of 1.0 means as
// fast as msgpack-c, 0.5 half as fast.

#include <benchmark/benchmark.h>
#include <msgpack.h>
#include <rapidjson/document.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/BindingResult.h"
#include "binding/MessagePack.h"

namespace {

// --- Inputs. --------------------------------------------------------------------

// Encodes a JSON document as MessagePack in the narrowest form of each family:
// objects as maps, arrays as arrays, strings as str, integers as fixint or
// (u)int 8..64, other numbers as float 64.
class MessagePackWriter {
 public:
  std::string Write(const rapidjson::Value& root) {
    mBytes.clear();
    Value(root);
    return std::move(mBytes);
  }

 private:
  void Byte(std::uint8_t byte) { mBytes.push_back(static_cast<char>(byte)); }

  template <class T>
  void BigEndian(T value) {
    for (std::size_t shift = sizeof(T) * 8; shift != 0; shift -= 8) {
      Byte(static_cast<std::uint8_t>(value >> (shift - 8)));
    }
  }

  // A header for `count` items or bytes: the fix form when it fits `fixLimit`,
  // else the 8- (when `type8` is non-zero), 16- or 32-bit form.
  void Header(std::size_t count, std::uint8_t fixBase, std::size_t fixLimit, std::uint8_t type8,
              std::uint8_t type16, std::uint8_t type32) {
    if (count < fixLimit) {
      Byte(static_cast<std::uint8_t>(fixBase | count));
    } else if (type8 != 0 && count <= 0xFF) {
      Byte(type8);
      Byte(static_cast<std::uint8_t>(count));
    } else if (count <= 0xFFFF) {
      Byte(type16);
      BigEndian(static_cast<std::uint16_t>(count));
    } else {
      Byte(type32);
      BigEndian(static_cast<std::uint32_t>(count));
    }
  }

  void String(const char* text, std::size_t length) {
    Header(length, 0xA0, 32, 0xD9, 0xDA, 0xDB);
    mBytes.append(text, length);
  }

  void Unsigned(std::uint64_t value) {
    if (value <= 0x7F) {
      Byte(static_cast<std::uint8_t>(value));
    } else if (value <= 0xFF) {
      Byte(0xCC);
      Byte(static_cast<std::uint8_t>(value));
    } else if (value <= 0xFFFF) {
      Byte(0xCD);
      BigEndian(static_cast<std::uint16_t>(value));
    } else if (value <= 0xFFFFFFFF) {
      Byte(0xCE);
      BigEndian(static_cast<std::uint32_t>(value));
    } else {
      Byte(0xCF);
      BigEndian(value);
    }
  }

  void Signed(std::int64_t value) {
    if (value >= -32) {
      Byte(static_cast<std::uint8_t>(value));
    } else if (value >= INT8_MIN) {
      Byte(0xD0);
      Byte(static_cast<std::uint8_t>(value));
    } else if (value >= INT16_MIN) {
      Byte(0xD1);
      BigEndian(static_cast<std::uint16_t>(value));
    } else if (value >= INT32_MIN) {
      Byte(0xD2);
      BigEndian(static_cast<std::uint32_t>(value));
    } else {
      Byte(0xD3);
      BigEndian(static_cast<std::uint64_t>(value));
    }
  }

  void Value(const rapidjson::Value& value) {
    if (value.IsNull()) {
      Byte(0xC0);
    } else if (value.IsBool()) {
      Byte(value.GetBool() ? 0xC3 : 0xC2);
    } else if (value.IsUint64()) {
      Unsigned(value.GetUint64());
    } else if (value.IsInt64()) {
      Signed(value.GetInt64());
    } else if (value.IsDouble()) {
      std::uint64_t bits = 0;
      const double number = value.GetDouble();
      std::memcpy(&bits, &number, sizeof bits);
      Byte(0xCB);
      BigEndian(bits);
    } else if (value.IsString()) {
      String(value.GetString(), value.GetStringLength());
    } else if (value.IsArray()) {
      Header(value.Size(), 0x90, 16, 0, 0xDC, 0xDD);
      for (const rapidjson::Value& element : value.GetArray()) {
        Value(element);
      }
    } else {
      Header(value.MemberCount(), 0x80, 16, 0, 0xDE, 0xDF);
      for (const auto& member : value.GetObject()) {
        String(member.name.GetString(), member.name.GetStringLength());
        Value(member.value);
      }
    }
  }

  std::string mBytes;
};

// Each document is read and converted once per process, on first use.
const std::string& MessagePackDocument(std::string_view fileName) {
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
  std::string bytes = MessagePackWriter().Write(document);
  // Both readers must take the whole encoding, or the timing means nothing.
  const Nalo::MessagePackParse check = Nalo::ParseMessagePack(bytes);
  if (check.result.Failed() || check.end != bytes.size()) {
    std::fprintf(stderr, "%s as MessagePack: %.*s (read %zu of %zu bytes)\n", path.c_str(),
                 static_cast<int>(check.result.ErrorMessage().size()),
                 check.result.ErrorMessage().data(), check.end, bytes.size());
    std::exit(1);
  }
  return converted.emplace(fileName, std::move(bytes)).first->second;
}

// --- Readers. -------------------------------------------------------------------

void ParseMessagePack(benchmark::State& state, std::string_view fileName) {
  const std::string& bytes = MessagePackDocument(fileName);
  for (auto _ : state) {
    Nalo::MessagePackParse parsed = Nalo::ParseMessagePack(bytes);
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void MsgpackUnpack(benchmark::State& state, std::string_view fileName) {
  const std::string& bytes = MessagePackDocument(fileName);
  for (auto _ : state) {
    msgpack_unpacked unpacked;
    msgpack_unpacked_init(&unpacked);
    std::size_t offset = 0;
    const msgpack_unpack_return outcome =
        msgpack_unpack_next(&unpacked, bytes.data(), bytes.size(), &offset);
    if (outcome != MSGPACK_UNPACK_SUCCESS || offset != bytes.size()) {
      state.SkipWithError("msgpack-c can't unpack the converted document");
    }
    benchmark::DoNotOptimize(unpacked.data);
    msgpack_unpacked_destroy(&unpacked);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// Ours right after its baseline, per document, so that both see the same
// machine load as far as possible.
BENCHMARK_CAPTURE(MsgpackUnpack, canada, "canada.json");
BENCHMARK_CAPTURE(ParseMessagePack, canada, "canada.json");
BENCHMARK_CAPTURE(MsgpackUnpack, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(ParseMessagePack, citm_catalog, "citm_catalog.json");
BENCHMARK_CAPTURE(MsgpackUnpack, twitter, "twitter.json");
BENCHMARK_CAPTURE(ParseMessagePack, twitter, "twitter.json");

// --- Summary. -------------------------------------------------------------------

constexpr std::string_view kOurs = "ParseMessagePack";
constexpr std::string_view kBaseline = "MsgpackUnpack";

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
    std::printf("\n%-18s %-14s %10s %14s %7s\n", "ours", "document", "ours (ms)", "baseline (ms)",
                "ratio");
    for (const auto& [name, ourTime] : mCpuTimes) {
      const std::string_view fullName = name;
      const std::size_t slash = fullName.find('/');
      if (slash == std::string_view::npos || fullName.substr(0, slash) != kOurs) {
        continue;
      }
      const std::string_view document = fullName.substr(slash + 1);
      const auto found = mCpuTimes.find(std::string(kBaseline) + "/" + std::string(document));
      if (found == mCpuTimes.end()) {
        continue;
      }
      std::printf("%-18.*s %-14.*s %10.3f %14.3f %7.2f\n", static_cast<int>(kOurs.size()),
                  kOurs.data(), static_cast<int>(document.size()), document.data(), ourTime / 1e6,
                  found->second / 1e6, found->second / ourTime);
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
