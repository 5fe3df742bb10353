// The host's HTTP front on loopback: a GET of the gameflow session through
// the front (worker thread, queue to the plugin thread, routing, the plugin's
// dispatch, JSON) against a bare cpp-httplib handler that answers the same
// bytes, the floor of any server built on that library. Requests per second
// is items_per_second; p50 and p99 are latencies in microseconds. Real time,
// since the work happens on the server's threads.

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/Host.h"
#include "host/http/EventHub.h"
#include "host/http/HttpFront.h"
#include "host/http/PluginThread.h"

namespace {

using Nalo::Host::ClockMode;

// The host serving the plugin, and the bare server, started once.
struct Servers {
  Servers() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nalo-bench-XXXXXX").string();
    folder = mkdtemp(pattern.data());
    Nalo::Host::HostOptions options;
    options.clock = ClockMode::Real;
    options.peers = Nalo::Host::PeerSetup::Realistic;
    options.stateFolder = folder;
    host = std::make_unique<Nalo::Host::Host>(std::move(options));
    if (host->Load(NALO_BENCH_HTTP_PLUGIN).HasFailure()) {
      return;
    }
    thread = std::make_unique<Nalo::Host::Http::PluginThread>(*host, ClockMode::Real);
    front = std::make_unique<Nalo::Host::Http::HttpFront>(*thread, hub,
                                                          Nalo::Host::Http::HttpFrontOptions{});
    if (front->Start().HasFailure()) {
      return;
    }
    runner = std::thread(
        [this] { thread->Run([this](Nalo::Host::Host& running) { hub.TakeRecords(running); }); });
    httplib::Client client("127.0.0.1", front->Port());
    client.set_bearer_token_auth(front->Token().c_str());
#ifdef NALO_BENCH_HTTP_PREPARE_EVENT
    // The gameflow answers its session outside the phase None only.
    static_cast<void>(client.Post("/tav-gameflow/v1/session/event",
                                  "\"" NALO_BENCH_HTTP_PREPARE_EVENT "\"", "application/json"));
#endif
    auto answer = client.Get(NALO_BENCH_HTTP_PATH);
    if (!answer || answer->status != 200) {
      return;
    }
    body = answer->body;
    bare.set_keep_alive_max_count(1000);
    bare.set_tcp_nodelay(true);
    bare.Get(NALO_BENCH_HTTP_PATH, [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(body, "application/json");
    });
    barePort = bare.bind_to_any_port("127.0.0.1");
    bareListener = std::thread([this] { bare.listen_after_bind(); });
    ready = barePort > 0;
  }
  ~Servers() {
    bare.stop();
    if (bareListener.joinable()) {
      bareListener.join();
    }
    if (front) {
      front->Stop();
    }
    if (thread) {
      thread->Stop();
    }
    if (runner.joinable()) {
      runner.join();
    }
    host.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  Servers(const Servers&) = delete;
  Servers& operator=(const Servers&) = delete;
  Servers(Servers&&) = delete;
  Servers& operator=(Servers&&) = delete;

  std::filesystem::path folder;
  std::unique_ptr<Nalo::Host::Host> host;
  std::unique_ptr<Nalo::Host::Http::PluginThread> thread;
  Nalo::Host::Http::EventHub hub;
  std::unique_ptr<Nalo::Host::Http::HttpFront> front;
  std::thread runner;
  std::string body;
  httplib::Server bare;
  std::thread bareListener;
  int barePort = 0;
  bool ready = false;
};

Servers& Shared() {
  static Servers servers;
  return servers;
}

void Measure(benchmark::State& state, int port, const std::string& token) {
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  if (!token.empty()) {
    client.set_bearer_token_auth(token.c_str());
  }
  std::vector<double> latencies;
  latencies.reserve(100000);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
#ifdef NALO_BENCH_HTTP_PREPARE_EVENT
    // The gameflow answers its session outside the phase None only.
    static_cast<void>(client.Post("/tav-gameflow/v1/session/event",
                                  "\"" NALO_BENCH_HTTP_PREPARE_EVENT "\"", "application/json"));
#endif
    auto answer = client.Get(NALO_BENCH_HTTP_PATH);
    const auto end = std::chrono::steady_clock::now();
    if (!answer || answer->status != 200) {
      state.SkipWithError("a request failed");
      return;
    }
    benchmark::DoNotOptimize(answer->body.data());
    latencies.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  std::sort(latencies.begin(), latencies.end());
  const auto at = [&latencies](double share) {
    return latencies.empty()
               ? 0.0
               : latencies[std::min(latencies.size() - 1,
                                    static_cast<std::size_t>(share * latencies.size()))];
  };
  state.counters["p50_us"] = benchmark::Counter(at(0.50), benchmark::Counter::kAvgThreads);
  state.counters["p99_us"] = benchmark::Counter(at(0.99), benchmark::Counter::kAvgThreads);
  state.SetItemsProcessed(state.iterations());
}

void HostSessionOverHttp(benchmark::State& state) {
  Servers& servers = Shared();
  if (!servers.ready) {
    state.SkipWithError("the host didn't start");
    return;
  }
  Measure(state, servers.front->Port(), servers.front->Token());
}

void BareHandlerSameBytes(benchmark::State& state) {
  Servers& servers = Shared();
  if (!servers.ready) {
    state.SkipWithError("the host didn't start");
    return;
  }
  Measure(state, servers.barePort, "");
}

BENCHMARK(HostSessionOverHttp)->UseRealTime()->Threads(1)->Threads(8);
BENCHMARK(BareHandlerSameBytes)->UseRealTime()->Threads(1)->Threads(8);

}  // namespace

BENCHMARK_MAIN();
