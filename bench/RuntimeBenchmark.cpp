// The plugin runtime's two hot paths, through the stand-in core and the test
// plugin shared object:
//   - a GET of a plugin resource: request record, route dispatch, result
//     encoding and the read of the response stream;
//   - a resource event published by a peer and delivered to the plugin's
//     typed handler in the same process.
// Goal: under 10 us median each (Release build, --benchmark_repetitions).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>

#include "binding/Json.h"
#include "host/core/Host.h"
#include "host/peers/Peers.h"

namespace {

constexpr const char* kPluginPath = NALO_TEST_PLUGIN_PATH;

// A host with the test plugin loaded, or the reason it couldn't be.
bool LoadPlugin(Nalo::Host::Host& host, benchmark::State& state) {
  auto loaded = host.Load(kPluginPath);
  if (loaded.HasFailure()) {
    state.SkipWithError(std::string(loaded.GetFailure().Message()).c_str());
    return false;
  }
  return true;
}

void BM_GetPluginResource(benchmark::State& state) {
  Nalo::Host::Host host;
  if (!LoadPlugin(host, state)) {
    return;
  }
  const auto stored = host.Request("POST", "/tav-testplugin/v1/items",
                                   R"({"name":"a","count":2,"tags":["x","y"]})");
  if (!stored.Succeeded()) {
    state.SkipWithError(stored.error.c_str());
    return;
  }
  std::size_t bytes = 0;
  constexpr std::int64_t kRecordsKept = 256;
  std::int64_t sinceCleared = 0;
  for (auto _ : state) {
    Nalo::Host::Response response = host.Request("GET", "/tav-testplugin/v1/items/a");
    bytes += response.bodyText.size();
    benchmark::DoNotOptimize(response);
    if (++sinceCleared == kRecordsKept) {
      state.PauseTiming();
      host.ClearRecords();
      sinceCleared = 0;
      state.ResumeTiming();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_GetPluginResource);

void BM_DeliverResourceEvent(benchmark::State& state) {
  Nalo::Host::Host host;
  if (!LoadPlugin(host, state)) {
    return;
  }
  host.Request("POST", "/tav-testplugin/v1/subscribe?uri=/peer/v1/bench");
  const Nalo::BindingProperty value =
      Nalo::ParseJson(R"({"name":"bench","count":3,"tags":["x","y"]})").Value();
  Nalo::Host::Peers& peers = host.GetPeers();
  // The host records every event it carries; clearing the records now and
  // then keeps their growth (page faults) out of the measurement.
  constexpr std::int64_t kRecordsKept = 256;
  std::int64_t sinceCleared = 0;
  for (auto _ : state) {
    peers.PublishResource("/peer/v1/bench", value);
    if (++sinceCleared == kRecordsKept) {
      state.PauseTiming();
      host.ClearRecords();
      sinceCleared = 0;
      state.ResumeTiming();
    }
  }
  // After the timed loop: checks that every event arrived.
  const auto delivered = host.Request("GET", "/tav-testplugin/v1/bench-deliveries");
  if (delivered.body.AsUnsigned() != static_cast<std::uint64_t>(state.iterations())) {
    state.SkipWithError("The plugin didn't receive every event.");
  }
}
BENCHMARK(BM_DeliverResourceEvent);

}  // namespace

BENCHMARK_MAIN();
