// The gameflow plugin watching the real stand-in game client, on the real
// clock: how long after the client's exit the plugin logs "Client is no
// longer running." (its monitoring looks every 100 ms), and what one
// monitoring look costs.
//
// ExitToNoticed/Plugin: 100 launches through the plugin (a served game, then
// a reconnect after each exit); the client ends 50 to 249 ms after it starts,
// so that it outlives the request that launched it and its exit is seen live.
// The exit is seen at once through a pid descriptor (which does not reap the
// client), and the time until the plugin's line is recorded; p50, p99 and max
// are reported as counters. ExitToNoticed/Polling100ms is the floor: the
// same clients watched by a bare loop that looks every 100 ms.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "binding/Json.h"
#include "gameflow/ProcessRecord.h"
#include "platform/ProcessSystem.h"
#include "host/core/Host.h"
#include "host/peers/Peers.h"
#include "tools/stand-in-client/StandInClientInstall.h"

namespace {

using Nalo::Client::Gameflow::kProcessRecordPath;

constexpr const char* kPluginPath = NALO_GAMEFLOW_PLUGIN_PATH;
constexpr const char* kClientPath = NALO_STAND_IN_CLIENT_PATH;
constexpr int kLaunches = 100;
constexpr std::string_view kNoticed = "Client is no longer running.";

using Clock = std::chrono::steady_clock;

// A state folder whose patcher folder holds the stand-in client.
class ClientFolder {
 public:
  ClientFolder() {
    char pattern[] = "/tmp/nalo-launch-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      std::abort();
    }
    mState = pattern;
    mClient = Nalo::StandIn::GameClientFolder(mState);
    if (Nalo::StandIn::InstallStandInClient({.program = kClientPath,
                                             .clientFolder = mClient,
                                             .windowsFolder = {},
                                             .control = std::nullopt})
            .HasFailure()) {
      std::abort();
    }
  }
  ~ClientFolder() {
    Nalo::StandIn::ForgetStandInClient();
    std::filesystem::remove_all(mState);
  }
  ClientFolder(const ClientFolder&) = delete;
  ClientFolder& operator=(const ClientFolder&) = delete;

  void Control(const std::string& text) const {
    std::ofstream(mClient / "stand-in-client.cfg", std::ios::trunc) << text;
  }
  const std::filesystem::path& State() const { return mState; }
  // The client in the patcher folder, where the launcher looks for it.
  std::filesystem::path Executable() const { return mClient / "Tavora.exe"; }

 private:
  std::filesystem::path mState;
  std::filesystem::path mClient;
};

// Blocks until `pid` has ended, without reaping it.
void AwaitExit(std::uint32_t pid) {
  const int descriptor = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (descriptor < 0) {
    return;  // already gone
  }
  pollfd entry{descriptor, POLLIN, 0};
  static_cast<void>(poll(&entry, 1, 10'000));
  close(descriptor);
}

void Report(benchmark::State& state, std::vector<double> milliseconds) {
  std::sort(milliseconds.begin(), milliseconds.end());
  const auto at = [&](double share) {
    return milliseconds[std::min(milliseconds.size() - 1,
                                 static_cast<std::size_t>(share * milliseconds.size()))];
  };
  state.counters["p50_ms"] = at(0.50);
  state.counters["p99_ms"] = at(0.99);
  state.counters["max_ms"] = milliseconds.back();
}

std::string Control(std::mt19937& random) {
  return "window = no\nend-delay-ms = " +
         std::to_string(std::uniform_int_distribution<int>(50, 249)(random)) + "\nend = exit 0\n";
}

void ExitToNoticedPlugin(benchmark::State& state) {
  ClientFolder folder;
  std::mt19937 random(7);
  std::vector<double> latencies;
  for (auto _ : state) {
    Nalo::Host::HostOptions options;
    options.clock = Nalo::Host::ClockMode::Real;
    options.peers = Nalo::Host::PeerSetup::Realistic;
    options.stateFolder = folder.State();
    Nalo::Host::Host host(options);
    if (host.Load(kPluginPath).HasFailure()) {
      state.SkipWithError("the plugin does not load");
      return;
    }
    host.Request("POST", "/tav-gameflow/v1/session/request-lobby");
    host.Request("POST", "/tav-gameflow/v1/session/event", R"("GAMEFLOW_EVENT.ENTERED_LOBBY")");
    host.GetPeers().PushLcds(
        "com.nalogames.platform.game.GameDTO",
        Nalo::ParseJson(R"({"id": 7, "gameState": "START_REQUESTED"})").Value());
    for (int launch = 0; launch < kLaunches; ++launch) {
      folder.Control(Control(random));
      if (launch == 0) {
        host.GetPeers().PushLcds(
            "com.nalogames.platform.game.PlayerCredentialsDto",
            Nalo::ParseJson(R"({"gameId": 7, "serverIp": "10.1.2.3", "serverPort": 5100,
                                "encryptionKey": "k", "summonerId": 2411})")
                .Value());
      } else {
        host.Request("POST", "/tav-gameflow/v1/reconnect");
      }
      const std::optional<Nalo::BindingProperty> info = host.GetPeers().Resource(kProcessRecordPath);
      if (!info.has_value() || info->Find("pid") == nullptr) {
        state.SkipWithError("the client was not launched");
        return;
      }
      const auto pid = static_cast<std::uint32_t>(info->Find("pid")->AsSigned(0));
      const std::size_t seen = host.LogLines().size();
      // The host runs its tasks on time while the client lives; the exit is
      // read the moment it happens.
      const int descriptor = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
      std::optional<Clock::time_point> exited;
      for (;;) {
        const auto next = host.TimeUntilNextTask().value_or(std::chrono::milliseconds(1));
        if (!exited.has_value()) {
          pollfd entry{descriptor, POLLIN, 0};
          const int timeout =
              static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next).count());
          if (descriptor < 0 || poll(&entry, 1, timeout) > 0) {
            exited = Clock::now();
          }
        } else {
          std::this_thread::sleep_for(
              std::min<std::chrono::nanoseconds>(next, std::chrono::milliseconds(1)));
        }
        host.RunDueTasks();
        const auto& lines = host.LogLines();
        if (exited.has_value() && std::any_of(lines.begin() + static_cast<std::ptrdiff_t>(seen),
                                              lines.end(), [](const Nalo::Host::LogLine& line) {
                                                return line.text.find(kNoticed) !=
                                                       std::string::npos;
                                              })) {
          break;
        }
      }
      if (descriptor >= 0) {
        close(descriptor);
      }
      const Clock::time_point noticed = Clock::now();
      latencies.push_back(std::chrono::duration<double, std::milli>(noticed - *exited).count());
    }
  }
  Report(state, latencies);
}

void ExitToNoticedPolling100ms(benchmark::State& state) {
  ClientFolder folder;
  std::mt19937 random(7);
  const std::unique_ptr<Nalo::ProcessSystem> processes = Nalo::CreatePlatformProcessSystem();
  std::vector<double> latencies;
  for (auto _ : state) {
    for (int launch = 0; launch < kLaunches; ++launch) {
      folder.Control(Control(random));
      auto spawned = processes->Spawn({.executable = folder.Executable().string()});
      if (spawned.HasFailure()) {
        state.SkipWithError("the client does not start");
        return;
      }
      const std::uint32_t pid = spawned.Value()->Pid();
      // The exit is read on another thread; the watcher looks every 100 ms
      // from the start, as the plugin's monitoring does from the launch.
      Clock::time_point exited;
      std::thread exitClock([&] {
        AwaitExit(pid);
        exited = Clock::now();
      });
      Clock::time_point look = Clock::now();
      while (processes->WaitForProcess(pid, std::chrono::milliseconds(1)) ==
             Nalo::ProcessWaitOutcome::StillRunning) {
        look += std::chrono::milliseconds(100);
        std::this_thread::sleep_until(look);
      }
      const Clock::time_point noticed = Clock::now();
      exitClock.join();
      latencies.push_back(
          std::chrono::duration<double, std::milli>(noticed - std::min(noticed, exited)).count());
    }
  }
  Report(state, latencies);
}

// One monitoring look at a client that runs on: the wait with the 1 ms
// timeout the monitoring uses, and a look without waiting.
void MonitoringLook(benchmark::State& state, std::chrono::milliseconds timeout) {
  ClientFolder folder;
  folder.Control("window = no\nend = hang\n");
  const std::unique_ptr<Nalo::ProcessSystem> processes = Nalo::CreatePlatformProcessSystem();
  auto spawned = processes->Spawn({.executable = folder.Executable().string()});
  if (spawned.HasFailure()) {
    state.SkipWithError("the client does not start");
    return;
  }
  const std::uint32_t pid = spawned.Value()->Pid();
  for (auto _ : state) {
    benchmark::DoNotOptimize(processes->WaitForProcess(pid, timeout));
  }
  static_cast<void>(spawned.Value()->Terminate());
  static_cast<void>(spawned.Value()->Wait(std::chrono::seconds(10)));
}

BENCHMARK(ExitToNoticedPlugin)
    ->Name("ExitToNoticed/Plugin")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ExitToNoticedPolling100ms)
    ->Name("ExitToNoticed/Polling100ms")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(MonitoringLook, Wait1ms, std::chrono::milliseconds(1))
    ->Name("MonitoringLook/Wait1ms")
    ->UseRealTime();
BENCHMARK_CAPTURE(MonitoringLook, Wait0ms, std::chrono::milliseconds(0))
    ->Name("MonitoringLook/Wait0ms")
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
