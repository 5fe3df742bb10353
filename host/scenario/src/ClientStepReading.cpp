// Reading the steps that drive and check the stand-in game client.

#include <algorithm>
#include <array>
#include <cctype>
#include <csignal>

#include "host/scenario/src/StepReading.h"

namespace Nalo::Host::detail {

namespace {

#ifdef _WIN32
// Windows has only a few of the POSIX signals; a scenario's signal names
// still parse there (with Linux's numbers), though no client is signalled.
#define SIGKILL 9
#define SIGHUP 1
#define SIGQUIT 3
#define SIGSTOP 19
#define SIGCONT 18
#define SIGUSR1 10
#define SIGUSR2 12
#endif

struct SignalName {
  std::string_view name;
  int number;
};
constexpr std::array<SignalName, 11> kSignalNames = {{
    {"KILL", SIGKILL},
    {"TERM", SIGTERM},
    {"INT", SIGINT},
    {"HUP", SIGHUP},
    {"QUIT", SIGQUIT},
    {"STOP", SIGSTOP},
    {"CONT", SIGCONT},
    {"SEGV", SIGSEGV},
    {"ABRT", SIGABRT},
    {"USR1", SIGUSR1},
    {"USR2", SIGUSR2},
}};

// How await-client-exit names a crash, and its signal.
constexpr std::array<SignalName, 4> kCrashNames = {{
    {"segv", SIGSEGV},
    {"abort", SIGABRT},
    {"kill", SIGKILL},
    {"term", SIGTERM},
}};

// The events of the stand-in client's record that await-client waits for.
constexpr std::array<std::string_view, 2> kClientEvents = {"window-opened", "foreground"};

constexpr std::string_view kUnknownEvent = "the event must be window-opened or foreground";

void CheckClientEvent(std::string_view event) {
  if (std::ranges::find(kClientEvents, event) == kClientEvents.end()) {
    throw Problem{std::string(kUnknownEvent)};
  }
}

void ReadText(const BindingProperty& body, ScenarioStep& step, std::string_view problem) {
  if (body.Kind() != BindingKind::String) {
    throw Problem{std::string(problem)};
  }
  step.text = std::string(body.StringValue());
  step.title.append(" ").append(step.text);
}

}  // namespace

void ReadSignalBody(const BindingProperty& body, ScenarioStep& step) {
  if (body.Kind() == BindingKind::Unsigned && body.GetUnsigned(0) >= 1 &&
      body.GetUnsigned(0) < NSIG) {
    step.signal = static_cast<int>(body.GetUnsigned(0));
  } else if (body.Kind() == BindingKind::String) {
    std::string name(body.StringValue());
    std::ranges::transform(name, name.begin(), [](unsigned char c) { return std::toupper(c); });
    if (name.starts_with("SIG")) {
      name.erase(0, 3);
    }
    if (const auto known = std::ranges::find(kSignalNames, name, &SignalName::name);
        known != kSignalNames.end()) {
      step.signal = known->number;
    }
  }
  if (!step.signal) {
    throw Problem{
        "write the signal as a name (KILL, TERM, INT, HUP, QUIT, STOP, CONT, SEGV, "
        "ABRT, USR1, USR2) or a number"};
  }
  step.title.append(" ").append(body.AsString());
}

void ReadClientEventBody(const BindingProperty& body, ScenarioStep& step) {
  if (body.Kind() == BindingKind::String) {
    CheckClientEvent(body.StringValue());
  }
  ReadText(body, step, kUnknownEvent);
}

void ReadClientEventMembers(const StepReader& members, ScenarioStep& step) {
  step.text = members.Text("event", true);
  CheckClientEvent(step.text);
}

void ReadClientControlBody(const BindingProperty& body, ScenarioStep& step) {
  ReadText(body, step, "write the control file's text");
}

void ReadClientCommandBody(const BindingProperty& body, ScenarioStep& step) {
  ReadText(body, step, "write the command");
}

void ReadClientSpawnedMembers(const StepReader& members, ScenarioStep& step) {
  if (members.Has("count")) {
    step.expectedCount = members.Number("count", 0);
    step.title.append(" count ").append(std::to_string(*step.expectedCount));
  }
  const BindingProperty* arguments = members.Get("arguments");
  if (arguments != nullptr && arguments->Kind() != BindingKind::Collection) {
    throw Problem{"the member \"arguments\" must be a list of texts"};
  }
  if (arguments == nullptr && !step.expectedCount) {
    throw Problem{"give \"arguments\" (a list of texts), \"count\" or both"};
  }
  if (arguments != nullptr) {
    step.value = *arguments;
    step.hasValue = true;
  }
  step.path = members.Text("working-directory", false);
  if (!step.path.empty() && arguments == nullptr) {
    throw Problem{"\"working-directory\" is checked with \"arguments\""};
  }
}

void ReadFileMembers(const StepReader& members, ScenarioStep& step) {
  step.path = members.Text("path", true);
  step.text = members.Text("bytes", true);
}

void ReadClientExitMembers(const StepReader& members, ScenarioStep& step) {
  if (!members.Has("crash")) {
    step.exitCode = static_cast<int>(members.Number("code", 0));
    step.title.append(" code ").append(std::to_string(step.exitCode));
    return;
  }
  const std::string crash = members.Text("crash", true);
  const auto known = std::ranges::find(kCrashNames, crash, &SignalName::name);
  if (known == kCrashNames.end()) {
    throw Problem{"the crash must be segv, abort, kill or term"};
  }
  step.signal = known->number;
  step.title.append(" crash ").append(crash);
}

}  // namespace Nalo::Host::detail
