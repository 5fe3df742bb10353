// The process layer against Boost.Process and the bare system calls, on the
// stand-in game client (told to exit at once, or to hang).
//
//   SpawnAndWait/...           start the client and wait until it has exited
//     ProcessSystem            ours: posix_spawn, pid descriptor, poll, waitid
//     BoostProcess             boost::process::child and wait()
//     PosixSpawnWaitpid        floor: posix_spawn and a blocking waitpid
//   WaitZeroTimeout/...        ask whether a running (hanging) client has ended
//     ProcessSystemChild       ours, a child it started (table, waitid)
//     ProcessSystemOther       ours, a pid it did not start (pidfd_open, poll)
//     ProcessSystemPolling     ours without pid descriptors (/proc start time)
//     BoostProcessRunning      boost::process::child::running()
//     WaitidNoHang             floor: one waitid(WNOHANG)
//
// Process start-up is mostly the system's and the child's time, so the
// spawn benchmarks report wall time. Most of what ours adds over the floor is
// the new session (setsid), which the system pays for when the child starts
// and ends (with scheduler autogroups, a new scheduling group); a detached
// client is worth it. The clients run in a fresh temporary
// folder; every one is ended and reaped before the program exits.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/process.hpp>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/PosixProcessSystem.h"
#include "platform/ProcessSystem.h"
#include "tools/stand-in-client/StandInClientInstall.h"

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr const char* kClientPath = NALO_STAND_IN_CLIENT_PATH;
constexpr milliseconds kPatience{20'000};

// A temporary folder for the client, told how to end; removed at the end.
class ClientFolder {
 public:
  explicit ClientFolder(std::string_view ending) {
    char pattern[] = "/tmp/nalo-process-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      std::abort();  // a benchmark without its folder measures nothing
    }
    mPath = pattern;
    // The benchmarks start the client from where it was built.
    if (Nalo::StandIn::InstallStandInClient(
            {.program = {},
             .clientFolder = mPath,
             .windowsFolder = {},
             .control = "window = no\nend = " + std::string(ending) + "\n"})
            .HasFailure()) {
      std::abort();
    }
  }
  ~ClientFolder() {
    Nalo::StandIn::ForgetStandInClient();
    fs::remove_all(mPath);
  }
  ClientFolder(const ClientFolder&) = delete;
  ClientFolder& operator=(const ClientFolder&) = delete;
  ClientFolder(ClientFolder&&) = delete;
  ClientFolder& operator=(ClientFolder&&) = delete;

  [[nodiscard]] const fs::path& Path() const { return mPath; }

 private:
  fs::path mPath;
};

void SpawnAndWaitProcessSystem(benchmark::State& state) {
  const ClientFolder folder("exit 0");
  const auto system = Nalo::CreatePosixProcessSystem({});
  const Nalo::SpawnRequest request{.executable = kClientPath,
                                   .workingDirectory = folder.Path().string(),
                                   .arguments = {"8394", "TavoraClient.exe", "/path"}};
  for (auto _ : state) {
    auto spawned = system->Spawn(request);
    if (spawned.HasFailure() ||
        spawned.Value()->Wait(kPatience) != Nalo::ProcessWaitOutcome::Ended) {
      state.SkipWithError("the client did not start and end");
      break;
    }
  }
}

void SpawnAndWaitBoostProcess(benchmark::State& state) {
  namespace bp = boost::process;
  const ClientFolder folder("exit 0");
  for (auto _ : state) {
    bp::child child(kClientPath, "8394", "TavoraClient.exe", "/path",
                    bp::std_in<bp::null, bp::std_out> bp::null, bp::std_err > bp::null,
                    bp::start_dir = folder.Path().string());
    child.wait();
    benchmark::DoNotOptimize(child.exit_code());
  }
}

void SpawnAndWaitPosixSpawnWaitpid(benchmark::State& state) {
  const ClientFolder folder("exit 0");
  std::string program = kClientPath;
  std::string arguments[] = {"8394", "TavoraClient.exe", "/path"};
  char* argv[] = {program.data(), arguments[0].data(), arguments[1].data(), arguments[2].data(),
                  nullptr};
  for (auto _ : state) {
    pid_t pid = 0;
    if (posix_spawn(&pid, kClientPath, nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("posix_spawn failed");
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    benchmark::DoNotOptimize(status);
  }
}

// Runs `look(pid)` on a hanging client started by `system`.
template <typename Look>
void WaitOnHangingClient(benchmark::State& state, Nalo::ProcessSystem& starter, Look look) {
  const ClientFolder folder("hang");
  auto spawned = starter.Spawn({.executable = kClientPath});
  if (spawned.HasFailure()) {
    state.SkipWithError("the client did not start");
    return;
  }
  Nalo::ProcessHandle& client = *spawned.Value();
  for (auto _ : state) {
    if (look(client.Pid()) != Nalo::ProcessWaitOutcome::StillRunning) {
      state.SkipWithError("the client is not running");
      break;
    }
  }
  if (client.Terminate().HasFailure() ||
      client.Wait(kPatience) != Nalo::ProcessWaitOutcome::Ended) {
    std::abort();  // a client left behind would disturb every later measurement
  }
}

void WaitZeroTimeoutProcessSystemChild(benchmark::State& state) {
  const auto system = Nalo::CreatePosixProcessSystem({});
  WaitOnHangingClient(state, *system, [&](std::uint32_t pid) {
    return system->WaitForProcess(pid, milliseconds(0));
  });
}

void WaitZeroTimeoutProcessSystemOther(benchmark::State& state) {
  const auto starter = Nalo::CreatePosixProcessSystem({});
  const auto watcher = Nalo::CreatePosixProcessSystem({});
  WaitOnHangingClient(state, *starter, [&](std::uint32_t pid) {
    return watcher->WaitForProcess(pid, milliseconds(0));
  });
}

void WaitZeroTimeoutProcessSystemPolling(benchmark::State& state) {
  const auto starter = Nalo::CreatePosixProcessSystem({});
  const auto watcher = Nalo::CreatePosixProcessSystem(
      {.waitMethod = Nalo::PosixProcessSystemOptions::WaitMethod::Polling});
  WaitOnHangingClient(state, *starter, [&](std::uint32_t pid) {
    return watcher->WaitForProcess(pid, milliseconds(0));
  });
}

void WaitZeroTimeoutBoostProcessRunning(benchmark::State& state) {
  namespace bp = boost::process;
  const ClientFolder folder("hang");
  bp::child child(kClientPath, bp::std_in<bp::null, bp::std_out> bp::null, bp::std_err > bp::null);
  for (auto _ : state) {
    if (!child.running()) {
      state.SkipWithError("the client is not running");
      break;
    }
  }
  child.terminate();
}

void WaitZeroTimeoutWaitidNoHang(benchmark::State& state) {
  const auto starter = Nalo::CreatePosixProcessSystem({});
  WaitOnHangingClient(state, *starter, [](std::uint32_t pid) {
    siginfo_t info{};
    const int result = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    return result == 0 && info.si_pid == 0 ? Nalo::ProcessWaitOutcome::StillRunning
                                           : Nalo::ProcessWaitOutcome::Other;
  });
}

BENCHMARK(SpawnAndWaitProcessSystem)->Name("SpawnAndWait/ProcessSystem")->UseRealTime();
BENCHMARK(SpawnAndWaitBoostProcess)->Name("SpawnAndWait/BoostProcess")->UseRealTime();
BENCHMARK(SpawnAndWaitPosixSpawnWaitpid)->Name("SpawnAndWait/PosixSpawnWaitpid")->UseRealTime();
BENCHMARK(WaitZeroTimeoutProcessSystemChild)->Name("WaitZeroTimeout/ProcessSystemChild");
BENCHMARK(WaitZeroTimeoutProcessSystemOther)->Name("WaitZeroTimeout/ProcessSystemOther");
BENCHMARK(WaitZeroTimeoutProcessSystemPolling)->Name("WaitZeroTimeout/ProcessSystemPolling");
BENCHMARK(WaitZeroTimeoutBoostProcessRunning)->Name("WaitZeroTimeout/BoostProcessRunning");
BENCHMARK(WaitZeroTimeoutWaitidNoHang)->Name("WaitZeroTimeout/WaitidNoHang");

}  // namespace

BENCHMARK_MAIN();
