// The stand-in game client's steps: handing the client its control file,
// commands and signals, waiting for its events and its end, and checking
// what it was given (RunnerClients.cpp finds the clients).

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

#include "host/peers/Peers.h"
#include "host/scenario/ChildRun.h"
#include "host/scenario/ValueMatch.h"
#include "host/scenario/src/Runner.h"
#include "tools/stand-in-client/StandInClientInstall.h"

namespace Nalo::Host::detail {

namespace {

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

}  // namespace Nalo::Host::detail
