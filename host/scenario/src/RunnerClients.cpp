// The stand-in game clients of a run: installing the client, finding the
// clients started from its record (and the pids a recording names), and
// ending every one of them when the run ends.

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include "binding/Json.h"
#include "gameflow/ProcessRecord.h"
#include "host/peers/Peers.h"
#include "host/scenario/ChildRun.h"
#include "host/scenario/src/Runner.h"
#include "tools/stand-in-client/StandInClientInstall.h"

namespace Nalo::Host::detail {

namespace {

constexpr const char* kClientProgramVariable = "NALO_STAND_IN_CLIENT";

}  // namespace

// Puts the client in the realistic patcher's folder and points the client
// and the window system at the state folder. The run is a child
// process of its own, so the environment it changes is its own.
void Runner::InstallClient(const std::string& control) {
  const char* program = std::getenv(kClientProgramVariable);
  if (program == nullptr || *program == '\0') {
    mClientProblem = std::string("the scenario needs the stand-in client: set ") +
                     kClientProgramVariable + " to its program";
    return;
  }
  if (mStateFolder.empty()) {
#ifdef _WIN32
    mClientProblem = "the stand-in client needs a state folder";
    return;
#else
    std::string pattern = ScenarioFolderPattern();
    if (mkdtemp(pattern.data()) == nullptr) {
      mClientProblem = "no state folder could be made for the stand-in client";
      return;
    }
    mStateFolder = pattern;
    mOwnStateFolder = true;
#endif
  }
  mClientFolder = StandIn::GameClientFolder(mStateFolder);
  StandIn::StandInClientSetup setup;
  setup.program = program;
  setup.clientFolder = mClientFolder;
  setup.control = control;
#ifndef _WIN32
  // Windows: the client's window is a real one, with no stand-in window system.
  setup.windowsFolder = mStateFolder / "windows";
#endif
  if (auto installed = StandIn::InstallStandInClient(setup); installed.HasFailure()) {
    mClientProblem = std::string(installed.GetFailure().Message());
  }
}

// Every client started so far, from the record's start lines, in order.
std::vector<Runner::ClientStart> Runner::ClientStarts() const {
  std::vector<ClientStart> starts;
  if (mClientFolder.empty()) {
    return starts;
  }
  std::ifstream stream(mClientFolder / StandIn::kRecordFileName);
  std::string line;
  while (std::getline(stream, line)) {
    BindingResult parsed = ParseJson(line);
    if (parsed.Failed() || parsed.Value().Find("arguments") == nullptr) {
      continue;
    }
    const BindingProperty* pid = parsed.Value().Find("pid");
    starts.push_back(
        {static_cast<pid_t>(pid != nullptr ? pid->AsSigned(0) : 0), std::move(parsed.Value())});
  }
  return starts;
}

// The client the plugin started last: the pid of the plugin's process
// record while it holds one, else the last client that recorded its start.
// A client records itself as it starts, so this waits (in real time, up to
// 5 seconds) for the recorded pid's first line.
std::optional<Runner::ClientStart> Runner::LatestClient() const {
  std::optional<pid_t> wanted;
  if (const std::optional<BindingProperty> info =
          mHost->GetPeers().Resource(Client::Gameflow::kProcessRecordPath);
      info.has_value() && info->Find("pid") != nullptr) {
    wanted = static_cast<pid_t>(info->Find("pid")->AsSigned(0));
  }
  if (!wanted.has_value()) {
    // A client just started may not have written its line yet.
    std::vector<ClientStart> starts = SettledClientStarts();
    return starts.empty() ? std::nullopt : std::optional<ClientStart>(starts.back());
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    std::vector<ClientStart> starts = ClientStarts();
    for (auto start = starts.rbegin(); start != starts.rend(); ++start) {
      if (start->pid == *wanted) {
        return *start;
      }
    }
    if (std::chrono::steady_clock::now() > deadline) {
      return std::nullopt;
    }
    usleep(2000);
  }
}

// Every client started so far, once each client running has recorded its
// start: a client is this process's child from its spawn on, but writes
// its start line a moment later. Waits in real time, up to 5 seconds.
std::vector<Runner::ClientStart> Runner::SettledClientStarts() const {
  if (mClientFolder.empty()) {
    return {};
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    std::vector<ClientStart> starts = ClientStarts();
    const std::vector<int> children = detail::ChildrenOf(getpid());
    const bool settled = std::ranges::all_of(children, [&starts](int child) {
      return !detail::IsRunning(child) ||
             std::ranges::any_of(starts,
                                 [child](const ClientStart& start) { return start.pid == child; });
    });
    if (settled || std::chrono::steady_clock::now() > deadline) {
      return starts;
    }
    usleep(2000);
  }
}

// `expected` with each "<client-pid-N>" text in it (a recording's
// placeholder for the pid of the Nth client started) replaced by the pid
// of the Nth client this run started.
StepResult Runner::ResolveClientPids(const BindingProperty& expected,
                                     BindingProperty& resolved) const {
  resolved.assign(expected);
  std::optional<std::vector<ClientStart>> starts;
  std::function<StepResult(BindingProperty&)> resolve = [&](BindingProperty& value) -> StepResult {
    if (value.Kind() == BindingKind::Collection) {
      for (BindingProperty& element : value.Elements()) {
        if (StepResult failed = resolve(element)) {
          return failed;
        }
      }
    } else if (value.Kind() == BindingKind::Structure) {
      std::vector<std::string> names;
      for (const auto& member : value.Members()) {
        names.emplace_back(member.name);
      }
      for (const std::string& name : names) {
        if (StepResult failed = resolve(*value.Find(name))) {
          return failed;
        }
      }
    } else if (value.Kind() == BindingKind::String) {
      constexpr std::string_view kPrefix = "<client-pid-";
      const std::string_view text = value.StringValue();
      if (!text.starts_with(kPrefix) || !text.ends_with('>')) {
        return std::nullopt;
      }
      const std::string_view digits = text.substr(kPrefix.size(), text.size() - kPrefix.size() - 1);
      std::size_t number = 0;
      const auto [end, problem] =
          std::from_chars(digits.data(), digits.data() + digits.size(), number);
      if (problem != std::errc() || end != digits.data() + digits.size() || number == 0) {
        return std::nullopt;
      }
      if (!starts.has_value()) {
        starts = SettledClientStarts();
      }
      if (number > starts->size()) {
        return "expected the pid of client " + std::to_string(number) + " (" + std::string(text) +
               "), but " + std::to_string(starts->size()) + " clients have started";
      }
      value.SetSigned((*starts)[number - 1].pid);
    }
    return std::nullopt;
  };
  return resolve(resolved);
}

// The events the client `pid` recorded so far, in order.
std::vector<std::string> Runner::ClientEvents(pid_t pid) const {
  std::vector<std::string> events;
  std::ifstream stream(mClientFolder / StandIn::kRecordFileName);
  std::string line;
  while (std::getline(stream, line)) {
    BindingResult parsed = ParseJson(line);
    if (parsed.Failed()) {
      continue;
    }
    const BindingProperty* owner = parsed.Value().Find("pid");
    const BindingProperty* event = parsed.Value().Find("event");
    if (owner != nullptr && event != nullptr && owner->AsSigned(0) == pid) {
      events.emplace_back(event->StringValue());
    }
  }
  return events;
}

// Kills every client still running and reaps it, whether or not it
// recorded its start (the clients are this process's only children);
// removes a state folder made for the run. Runs at the end of every run,
// passed or failed. A run that crashes leaves this to RunScenario's
// keeper process.
void Runner::EndClients() {
  detail::EndChildren();
  if (mOwnStateFolder) {
    std::error_code error;
    std::filesystem::remove_all(mStateFolder, error);
  }
}

}  // namespace Nalo::Host::detail
