// The stand-in game client's steps: installing it for the run, finding the
// clients started from its record, handing them commands and signals,
// waiting for their events and their end, and checking what they were given.

#ifndef _WIN32
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "binding/Json.h"
#include "gameflow/ProcessRecord.h"
#include "host/Peers.h"
#include "host/scenario/ChildRun.h"
#include "host/scenario/ValueMatch.h"
#include "host/scenario/src/Runner.h"
#include "tools/stand-in-client/StandInClientInstall.h"

namespace Nalo::Host::detail {

namespace {

constexpr const char* kClientProgramVariable = "NALO_STAND_IN_CLIENT";

// `bytes` quoted, with line breaks, tabs, quotes, backslashes and every
// byte outside printable ASCII escaped, so that "\r\n" and "\n" differ.
std::string Escaped(std::string_view bytes) {
  std::string text = "\"";
  for (const char byte : bytes) {
    switch (byte) {
      case '\r':
        text += "\\r";
        break;
      case '\n':
        text += "\\n";
        break;
      case '\t':
        text += "\\t";
        break;
      case '"':
      case '\\':
        text += '\\';
        text += byte;
        break;
      default: {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x20 || code >= 0x7F) {
          static constexpr std::string_view kDigits = "0123456789abcdef";
          text += "\\x";
          text += kDigits[code >> 4];
          text += kDigits[code & 0xF];
        } else {
          text += byte;
        }
      }
    }
  }
  return text + "\"";
}

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

StepResult Runner::ControlClient(const std::string& control) {
  std::ofstream(mClientFolder / StandIn::kControlFileName, std::ios::trunc) << control;
  return std::nullopt;
}

StepResult Runner::CommandClient(const std::string& command) {
  const std::optional<ClientStart> client = LatestClient();
  if (!client.has_value()) {
    return "no stand-in client has started";
  }
  const std::string name = "stand-in-client." + std::to_string(client->pid) + ".command";
  std::ofstream(mClientFolder / (name + ".tmp"), std::ios::trunc) << command << "\n";
  std::error_code error;
  std::filesystem::rename(mClientFolder / (name + ".tmp"), mClientFolder / name, error);
  if (error) {
    return "the command could not be handed to the client: " + error.message();
  }
  return std::nullopt;
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

StepResult Runner::ExpectClientSpawned(const ScenarioStep& step) {
  if (step.expectedCount) {
    const std::vector<ClientStart> starts = SettledClientStarts();
    const std::size_t since = std::min(mMark.clientStarts, starts.size());
    if (starts.size() - since != *step.expectedCount) {
      std::string pids;
      for (std::size_t i = since; i < starts.size(); ++i) {
        pids += (pids.empty() ? " (pids " : ", ") + std::to_string(starts[i].pid);
      }
      return "expected " + std::to_string(*step.expectedCount) +
             " clients started since the mark, saw " + std::to_string(starts.size() - since) +
             (pids.empty() ? "" : pids + ")");
    }
    if (!step.hasValue) {
      return std::nullopt;
    }
  }
  const std::optional<ClientStart> client = LatestClient();
  if (!client.has_value()) {
    return "expected a stand-in client to have started, but none has";
  }
  const BindingProperty* arguments = client->record.Find("arguments");
  if (std::optional<std::string> mismatch = Mismatch(step.value, *arguments, MatchMode::Exact)) {
    return "the client's arguments differ " + *mismatch;
  }
  if (!step.path.empty()) {
    const std::filesystem::path wanted = std::filesystem::path(step.path).is_absolute()
                                             ? std::filesystem::path(step.path)
                                             : mStateFolder / step.path;
    const BindingProperty* folder = client->record.Find("workingDirectory");
    const std::string seen(folder != nullptr ? folder->StringValue() : "");
    if (std::filesystem::path(seen).lexically_normal() != wanted.lexically_normal()) {
      return "expected the working directory " + Quoted(wanted.string()) + ", saw " + Quoted(seen);
    }
  }
  return std::nullopt;
}

StepResult Runner::ExpectFile(const ScenarioStep& step) {
  const std::filesystem::path file = mStateFolder / step.path;
  std::ifstream stream(file, std::ios::binary);
  if (!stream) {
    return "expected the file " + Quoted(file.string()) + ", but it cannot be read";
  }
  const std::string bytes((std::istreambuf_iterator<char>(stream)),
                          std::istreambuf_iterator<char>());
  if (bytes != step.text) {
    const auto [seenEnd, wantedEnd] = std::ranges::mismatch(bytes, step.text);
    return "the file " + Quoted(file.string()) + " holds " + Escaped(bytes) + " (" +
           std::to_string(bytes.size()) + " bytes), expected " + Escaped(step.text) + " (" +
           std::to_string(step.text.size()) + " bytes); they differ from byte " +
           std::to_string(seenEnd - bytes.begin());
  }
  return std::nullopt;
}

// Waits (in real time, up to 10 seconds) until the latest client has
// ended, without reaping it: the plugin's monitoring must still find it
// gone. Then checks how it ended.
StepResult Runner::AwaitClientExit(const ScenarioStep& step) {
  const std::optional<ClientStart> client = LatestClient();
  if (!client.has_value()) {
    return "no stand-in client has started";
  }
#ifdef _WIN32
  const std::optional<std::uint32_t> code = detail::AwaitExitCode(client->pid, 10'000);
  if (!code.has_value()) {
    return "the client " + std::to_string(client->pid) + " still runs after 10 seconds";
  }
  // A crash is an exception code; SIGSEGV's is the access violation.
  constexpr std::uint32_t kAccessViolation = 0xC0000005;
  const bool crashed = *code >= 0xC0000000;
  if (step.signal.has_value()) {
    if (*step.signal != SIGSEGV || *code != kAccessViolation) {
      return "expected the client to crash with signal " + std::to_string(*step.signal) +
             ", it ended with code " + std::to_string(*code);
    }
  } else if (crashed || *code != static_cast<std::uint32_t>(step.exitCode)) {
    return "expected the client to exit with code " + std::to_string(step.exitCode) +
           ", it ended with code " + std::to_string(*code);
  }
  return std::nullopt;
#else
  siginfo_t info{};
  const int descriptor = static_cast<int>(syscall(SYS_pidfd_open, client->pid, 0));
  if (descriptor >= 0) {
    pollfd entry{descriptor, POLLIN, 0};
    const int ready = poll(&entry, 1, 10'000);
    close(descriptor);
    if (ready <= 0) {
      return "the client " + std::to_string(client->pid) + " still runs after 10 seconds";
    }
  }
  if (waitid(P_PID, static_cast<id_t>(client->pid), &info, WEXITED | WNOWAIT) != 0) {
    return "the client " + std::to_string(client->pid) +
           " ended, but how cannot be told: it was already reaped";
  }
  const bool crashed = info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED;
  if (step.signal.has_value()) {
    if (!crashed || info.si_status != *step.signal) {
      return "expected the client to crash with signal " + std::to_string(*step.signal) + ", it " +
             (crashed ? "crashed with signal " : "exited with code ") +
             std::to_string(info.si_status);
    }
  } else if (crashed || info.si_status != step.exitCode) {
    return "expected the client to exit with code " + std::to_string(step.exitCode) + ", it " +
           (crashed ? "crashed with signal " : "exited with code ") +
           std::to_string(info.si_status);
  }
  return std::nullopt;
#endif
}

// Sends the step's signal to the latest client, which must still be a
// running child of this run (a pid that ended may belong to someone else).
StepResult Runner::SignalClient(const ScenarioStep& step) {
  const std::optional<ClientStart> client = LatestClient();
  if (!client.has_value()) {
    return "no stand-in client has started";
  }
  const std::vector<int> children = detail::ChildrenOf(getpid());
  if (std::ranges::find(children, client->pid) == children.end() ||
      !detail::IsRunning(client->pid)) {
    return "the client " + std::to_string(client->pid) + " no longer runs";
  }
#ifdef _WIN32
  static_cast<void>(step);
  return std::string("the Windows host sends no signals to the client");
#else
  if (kill(client->pid, *step.signal) != 0) {
    return "the signal could not be sent to the client " + std::to_string(client->pid) + ": " +
           std::strerror(errno);
  }
  return std::nullopt;
#endif
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

// Waits (in real time, up to 10 seconds) until the latest client has
// recorded the step's event (its window opened, it came to the
// foreground); fails at once when the client ends without it.
StepResult Runner::AwaitClientEvent(const ScenarioStep& step) {
  const std::optional<ClientStart> client = LatestClient();
  if (!client.has_value()) {
    return "no stand-in client has started";
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    const bool running = detail::IsRunning(client->pid);
    const std::vector<std::string> events = ClientEvents(client->pid);
    if (std::ranges::find(events, step.text) != events.end()) {
      return std::nullopt;
    }
    const bool late = std::chrono::steady_clock::now() > deadline;
    if (!running || late) {
      std::string seen;
      for (const std::string& event : events) {
        seen += (seen.empty() ? "" : ", ") + event;
      }
      return "the client " + std::to_string(client->pid) + " recorded no " + Quoted(step.text) +
             (running ? " within 10 seconds" : " before it ended") + "; it recorded " +
             (seen.empty() ? std::string("no events") : seen);
    }
    usleep(2000);
  }
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
