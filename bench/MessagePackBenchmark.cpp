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

#include <cstdint>
#include <string>
#include <string_view>

#include "bench/support/Conversions.h"
#include "bench/support/RatioReport.h"
#include "binding/MessagePack.h"

namespace {

// --- Readers. -------------------------------------------------------------------

void ParseMessagePack(benchmark::State& state, std::string_view fileName) {
  const std::string& bytes = Nalo::Bench::MessagePackDataFile(fileName);
  for (auto _ : state) {
    Nalo::MessagePackParse parsed = Nalo::ParseMessagePack(bytes);
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void MsgpackUnpack(benchmark::State& state, std::string_view fileName) {
  const std::string& bytes = Nalo::Bench::MessagePackDataFile(fileName);
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

constexpr Nalo::Bench::RatioComparison kComparisons[] = {{"ParseMessagePack", "MsgpackUnpack"}};

}  // namespace

int main(int argc, char** argv) {
  return Nalo::Bench::RunWithRatioSummary(argc, argv, kComparisons,
                                          {.baseline = Nalo::Bench::BaselineColumn::Hidden});
}
