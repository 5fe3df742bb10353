// Scenario execution: one Host on a virtual clock, the steps in order, and a
// report of the first step that doesn't hold.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

#include "host/Host.h"
#include "host/Scenario.h"
#include "host/ValueMatch.h"

namespace Nalo::Host {

namespace {

constexpr std::string_view kDeleteEvent = "Delete";

// The step's outcome: nothing when it holds, else what went wrong.
using StepResult = std::optional<std::string>;

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// The member at a dotted path ("gameData.queue.id"); null when absent.
const BindingProperty* MemberAt(const BindingProperty& value, std::string_view path) {
  const BindingProperty* current = &value;
  while (!path.empty() && current != nullptr) {
    const std::size_t dot = path.find('.');
    current = current->Find(path.substr(0, dot));
    path = dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
  }
  return current;
}

std::string NormalisedPath(std::string_view path) {
  std::string text(path);
  if (text.empty() || text.front() != '/') {
    text.insert(0, "/");
  }
  return text;
}

// What the run tells the process that watches it, as it happens.
struct RunnerWatch {
  std::function<void(const ScenarioStep& step)> stepStarts;
  std::function<void(std::string_view line)> logLine;
};

class Runner {
 public:
  Runner(const Scenario& scenario, std::filesystem::path plugin, std::filesystem::path stateFolder,
         RunnerWatch watch)
      : mScenario(scenario),
        mPlugin(std::move(plugin)),
        mStateFolder(std::move(stateFolder)),
        mWatch(std::move(watch)) {
    CreateHost();
  }

  ScenarioOutcome Run() {
    const bool loadsItself = !mScenario.steps.empty() && StartsWithLoad(mScenario.steps);
    if (!loadsItself) {
      if (StepResult loaded = Load()) {
        return {false, "Scenario " + Quoted(mScenario.name) + ": " + *loaded + "\n"};
      }
    }
    for (const ScenarioStep& step : mScenario.steps) {
      if (mWatch.stepStarts) {
        mWatch.stepStarts(step);
      }
      StepResult failed = Execute(step);
      if (std::optional<std::string> stall = mHost->TakeStall(); stall && !failed) {
        failed = *stall;
      }
      if (failed) {
        return {false, "Scenario " + Quoted(mScenario.name) + " failed at step " +
                           std::to_string(step.index) + " (" + step.title + "):\n  " + *failed +
                           "\n"};
      }
    }
    return {true, "Scenario " + Quoted(mScenario.name) + " passed (" +
                      std::to_string(mScenario.steps.size()) + " steps).\n"};
  }

 private:
  // Whether the first real step loads the plugin (lcds-answer steps from the
  // header may come before it).
  static bool StartsWithLoad(const std::vector<ScenarioStep>& steps) {
    for (const ScenarioStep& step : steps) {
      if (step.kind == StepKind::LcdsAnswer) {
        continue;
      }
      if (step.kind == StepKind::Load) {
        return true;
      }
      return step.kind == StepKind::ExpectFatal && !step.during.empty() &&
             step.during.front().kind == StepKind::Load;
    }
    return false;
  }

  void CreateHost() {
    HostOptions options;
    options.coreMajor = mScenario.coreMajor;
    options.coreMinor = mScenario.coreMinor;
    options.corePatch = mScenario.corePatch;
    options.clock = ClockMode::Virtual;
    options.stateFolder = mStateFolder;
    options.commandLine = mScenario.commandLine;
    options.streamPieceSize = mScenario.streamPieceSize;
    options.logEcho = mWatch.logLine;
    mHost = std::make_unique<Host>(std::move(options));
    // After a restart the data store already holds what was stored before;
    // the scenario's initial values don't overwrite it.
    for (const auto& [path, value] : mScenario.resources) {
      if (!mHost->GetPeers().Resource(path)) {
        mHost->GetPeers().SeedResource(path, value);
      }
    }
  }

  StepResult Load() {
    auto loaded = mHost->Load(mPlugin);
    if (loaded.HasFailure()) {
      return "the plugin didn't load: " + std::string(loaded.GetFailure().Message());
    }
    return std::nullopt;
  }

  StepResult CheckResponse(const ResponseExpectation& expect) {
    const Response& seen = mLastResponse;
    const std::string summary = "the response was " + std::to_string(seen.status) +
                                (seen.error.empty() ? "" : " with error " + Quoted(seen.error)) +
                                " and body " + Describe(seen.body);
    if (expect.status && *expect.status != seen.status) {
      return "expected status " + std::to_string(*expect.status) + ", but " + summary;
    }
    if (expect.error && seen.error.find(*expect.error) == std::string::npos) {
      return "expected an error containing " + Quoted(*expect.error) + ", but " + summary;
    }
    if (expect.body) {
      if (auto difference = Mismatch(*expect.body, seen.body,
                                     expect.subset ? MatchMode::Subset : MatchMode::Exact)) {
        return "the body differs " + *difference + "; " + summary;
      }
    }
    return std::nullopt;
  }

  // Publications of `path` under its own event name, oldest first.
  std::vector<const PublishedEvent*> Publications(std::string_view path) const {
    const std::string uri = NormalisedPath(path);
    const std::string name = ResourceEventName(uri);
    std::vector<const PublishedEvent*> found;
    for (const PublishedEvent& event : mHost->PublishedEvents()) {
      if (event.name == name && event.uri == uri) {
        found.push_back(&event);
      }
    }
    return found;
  }

  StepResult ExpectPublished(const ScenarioStep& step) {
    const auto publications = Publications(step.path);
    if (publications.empty()) {
      return "expected a publication of " + step.path + ", but nothing was published there";
    }
    const PublishedEvent& last = *publications.back();
    const bool deleted = last.eventType == kDeleteEvent;
    if (step.method == kDeleteEvent) {
      return deleted ? StepResult()
                     : "expected a deletion, but the latest event was " + last.eventType + " of " +
                           Describe(*last.payload.Find("data"));
    }
    if (deleted) {
      return "expected a value, but the latest event was a deletion";
    }
    if (!step.hasValue) {
      return std::nullopt;
    }
    const BindingProperty* data = last.payload.Find("data");
    const BindingProperty none;
    if (auto difference = Mismatch(step.value, data ? *data : none,
                                   step.subset ? MatchMode::Subset : MatchMode::Exact)) {
      return "the latest value differs " + *difference + "; it was " +
             Describe(data ? *data : none);
    }
    return std::nullopt;
  }

  StepResult ExpectSequence(const ScenarioStep& step) {
    BindingProperty seen;
    seen.MakeCollection();
    for (const PublishedEvent* event : Publications(step.path)) {
      if (event->eventType == kDeleteEvent) {
        continue;
      }
      const BindingProperty* data = event->payload.Find("data");
      const BindingProperty* member = data ? MemberAt(*data, step.member) : nullptr;
      BindingProperty& slot = seen.at(seen.size());
      if (member != nullptr) {
        slot = *member;
      }
    }
    if (auto difference = Mismatch(step.value, seen, MatchMode::Subset)) {
      return "expected the values " + Describe(step.value) + ", saw " + Describe(seen) + " (" +
             *difference + ")";
    }
    return std::nullopt;
  }

  StepResult ExpectLog(const ScenarioStep& step, bool present) {
    for (const LogLine& line : mHost->LogLines()) {
      if (line.text.find(step.text) != std::string::npos) {
        return present ? StepResult()
                       : "expected no log line containing " + Quoted(step.text) + ", saw " +
                             Quoted(line.text);
      }
    }
    if (!present) {
      return std::nullopt;
    }
    std::string report = "expected a log line containing " + Quoted(step.text) + ", saw ";
    const auto& lines = mHost->LogLines();
    if (lines.empty()) {
      return report + "no log lines";
    }
    report += std::to_string(lines.size()) + " other lines; the last: ";
    return report + Quoted(lines.back().text);
  }

  StepResult ExpectTelemetry(const ScenarioStep& step) {
    std::string seenNames;
    for (const TelemetryRecord& record : mHost->GetPeers().Telemetry()) {
      seenNames += (seenNames.empty() ? "" : ", ") + record.name;
      if (record.name != step.text) {
        continue;
      }
      if (!step.hasValue ||
          !Mismatch(step.value, record.data, step.subset ? MatchMode::Subset : MatchMode::Exact)) {
        return std::nullopt;
      }
      seenNames += " " + Describe(record.data);
    }
    return "expected the telemetry event " + step.text +
           (step.hasValue ? " with " + Describe(step.value) : "") + ", saw " +
           (seenNames.empty() ? "none" : seenNames);
  }

  StepResult ExpectLcdsCall(const ScenarioStep& step) {
    std::string seenCalls;
    for (const LcdsCall& call : mHost->GetPeers().LcdsCalls()) {
      const std::string key = call.destination + "." + call.method;
      seenCalls += (seenCalls.empty() ? "" : ", ") + key + Describe(call.arguments);
      if (key == step.text &&
          (!step.hasValue || !Mismatch(step.value, call.arguments, MatchMode::Subset))) {
        return std::nullopt;
      }
    }
    return "expected the LCDS call " + step.text +
           (step.hasValue ? " with " + Describe(step.value) : "") + ", saw " +
           (seenCalls.empty() ? "none" : seenCalls);
  }

  StepResult ExpectResource(const ScenarioStep& step) {
    std::optional<BindingProperty> stored = mHost->GetPeers().Resource(step.path);
    if (step.method == kDeleteEvent) {
      return stored ? "expected no value at " + step.path + ", saw " + Describe(*stored)
                    : StepResult();
    }
    if (!stored) {
      return "expected a value at " + step.path + ", but there is none";
    }
    if (step.hasValue) {
      if (auto difference =
              Mismatch(step.value, *stored, step.subset ? MatchMode::Subset : MatchMode::Exact)) {
        return "the stored value differs " + *difference + "; it is " + Describe(*stored);
      }
    }
    return std::nullopt;
  }

  // Runs `step.during` in a forked child whose output (its own and the
  // plugin's log lines) comes back through a pipe; the step holds when the
  // child ends abnormally and its output names the code. The parent's host
  // is left as it was: the child's changes die with it.
  StepResult ExpectFatal(const ScenarioStep& step) {
    int channel[2];
    if (pipe(channel) != 0) {
      return "couldn't create a pipe for the child process";
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
      close(channel[0]);
      close(channel[1]);
      return "couldn't fork the child process";
    }
    if (child == 0) {
      close(channel[0]);
      dup2(channel[1], STDOUT_FILENO);
      dup2(channel[1], STDERR_FILENO);
      const int output = channel[1];
      mHost->SetLogEcho([output](std::string_view line) {
        std::string text(line);
        text += '\n';
        static_cast<void>(write(output, text.data(), text.size()));  // best effort, like stderr
      });
      for (const ScenarioStep& inner : step.during) {
        if (StepResult failed = Execute(inner)) {
          std::string text = "step failed inside expect-fatal: " + *failed + "\n";
          static_cast<void>(write(output, text.data(), text.size()));
          _exit(2);
        }
      }
      _exit(0);
    }
    close(channel[1]);
    std::string output;
    char buffer[4096];
    for (;;) {
      const ssize_t count = read(channel[0], buffer, sizeof buffer);
      if (count <= 0) {
        break;
      }
      output.append(buffer, static_cast<std::size_t>(count));
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    const bool endedNormally = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const bool namesCode = output.find(step.text) != std::string::npos;
    if (!endedNormally && namesCode) {
      return std::nullopt;
    }
    std::string how = WIFSIGNALED(status)
                          ? "was ended by signal " + std::to_string(WTERMSIG(status))
                          : "exited with " + std::to_string(WEXITSTATUS(status));
    if (output.size() > 2000) {
      output = "..." + output.substr(output.size() - 2000);
    }
    return "expected the process to end with the fatal code " + step.text + "; it " + how +
           (namesCode ? "" : " and its output doesn't name the code") + ". Its output:\n" + output;
  }

  StepResult Execute(const ScenarioStep& step) {
    Peers& peers = mHost->GetPeers();
    switch (step.kind) {
      case StepKind::Load:
        return Load();
      case StepKind::Restart: {
        mHost.reset();
        CreateHost();
        return Load();
      }
      case StepKind::Set:
        peers.SetResource(step.path, step.value);
        return std::nullopt;
      case StepKind::Publish:
        peers.PublishResource(step.path, step.value);
        return std::nullopt;
      case StepKind::Delete:
        peers.DeleteResource(step.path);
        return std::nullopt;
      case StepKind::PushLcds:
        peers.PushLcds(step.text, step.value, step.subtopic, step.clientId);
        return std::nullopt;
      case StepKind::LcdsAnswer: {
        const std::size_t dot = step.text.find('.');
        LcdsAnswer answer{step.answer.typeName, step.answer.body, step.answer.failure};
        peers.SetLcdsAnswer(std::string_view(step.text).substr(0, dot),
                            std::string_view(step.text).substr(dot + 1), std::move(answer));
        return std::nullopt;
      }
      case StepKind::Fault:
        peers.InjectFault(step.path, step.count, step.status, step.text);
        return std::nullopt;
      case StepKind::ServiceProxy:
        peers.SendServiceProxyReply(step.proxyKind, step.reply);
        return std::nullopt;
      case StepKind::Request:
        mLastResponse = mHost->Request(step.method, step.path, step.text, step.contentType);
        return step.expect ? CheckResponse(*step.expect) : std::nullopt;
      case StepKind::Advance:
        mHost->Advance(step.duration);
        return std::nullopt;
      case StepKind::ExpectResponse:
        return CheckResponse(*step.expect);
      case StepKind::ExpectPublished:
        return ExpectPublished(step);
      case StepKind::ExpectNotPublished: {
        const auto publications = Publications(step.path);
        return publications.empty() ? StepResult()
                                    : "expected no publication of " + step.path + ", saw " +
                                          std::to_string(publications.size());
      }
      case StepKind::ExpectSequence:
        return ExpectSequence(step);
      case StepKind::ExpectResource:
        return ExpectResource(step);
      case StepKind::ExpectLog:
        return ExpectLog(step, true);
      case StepKind::ExpectNoLog:
        return ExpectLog(step, false);
      case StepKind::ExpectTelemetry:
        return ExpectTelemetry(step);
      case StepKind::ExpectLcdsCall:
        return ExpectLcdsCall(step);
      case StepKind::ExpectFatal:
        return ExpectFatal(step);
    }
    return "unknown step";
  }

  const Scenario& mScenario;
  std::filesystem::path mPlugin;
  std::filesystem::path mStateFolder;
  RunnerWatch mWatch;
  std::unique_ptr<Host> mHost;
  Response mLastResponse;
};

// The child's messages to the parent, one per line: "S<index> <title>"
// when a step starts, "L<text>" for a log line, "R<0|1>" and then the
// report, last.
void WriteAll(int descriptor, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(descriptor, text.data(), text.size());
    if (written <= 0) {
      return;  // the parent is gone; nobody is left to tell
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string OneLine(std::string_view text) {
  std::string line(text);
  std::ranges::replace(line, '\n', ' ');
  return line;
}

// Runs the scenario in this process; the child's half of RunScenario.
[[noreturn]] void RunInChild(const Scenario& scenario, const std::filesystem::path& plugin,
                             const std::filesystem::path& stateFolder, int output) {
  RunnerWatch watch{
      .stepStarts =
          [output](const ScenarioStep& step) {
            WriteAll(output, "S" + std::to_string(step.index) + " " + OneLine(step.title) + "\n");
          },
      .logLine = [output](std::string_view line) { WriteAll(output, "L" + OneLine(line) + "\n"); },
  };
  ScenarioOutcome outcome;
  {
    Runner runner(scenario, plugin, stateFolder, watch);
    outcome = runner.Run();
    WriteAll(output, "S0 shutdown\n");
  }  // the host shuts the plugin down here
  WriteAll(output, std::string("R") + (outcome.passed ? "1" : "0") + "\n" + outcome.report);
  close(output);
  _exit(0);
}

constexpr std::size_t kLogLinesInCrashReport = 8;

}  // namespace

ScenarioOutcome RunScenario(const Scenario& scenario, const std::filesystem::path& plugin,
                            const std::filesystem::path& stateFolder) {
  // The run happens in a child process, so that a plugin that crashes or
  // ends the process is reported at its step instead of taking the runner
  // (and its caller's clean-up) down with it.
  int channel[2];
  if (pipe(channel) != 0) {
    return {false, "Scenario " + Quoted(scenario.name) + ": couldn't create a pipe.\n"};
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    close(channel[0]);
    close(channel[1]);
    return {false, "Scenario " + Quoted(scenario.name) + ": couldn't start the run.\n"};
  }
  if (child == 0) {
    close(channel[0]);
    RunInChild(scenario, plugin, stateFolder, channel[1]);
  }
  close(channel[1]);
  std::string received;
  char buffer[65536];
  for (;;) {
    const ssize_t count = read(channel[0], buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      break;
    }
    received.append(buffer, static_cast<std::size_t>(count));
  }
  close(channel[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }

  std::string step;  // "step 3 (request GET /x)", the last one begun
  std::vector<std::string> logLines;
  std::size_t position = 0;
  while (position < received.size()) {
    const char tag = received[position];
    if (tag == 'R') {
      const bool passed = received.compare(position, 2, "R1") == 0;
      const std::size_t reportStart = received.find('\n', position);
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && reportStart != std::string::npos) {
        return {passed, received.substr(reportStart + 1)};
      }
      break;
    }
    std::size_t end = received.find('\n', position);
    if (end == std::string::npos) {
      end = received.size();
    }
    const std::string_view line(received.data() + position + 1, end - position - 1);
    if (tag == 'S') {
      const std::size_t space = line.find(' ');
      const std::string_view index = line.substr(0, space);
      const std::string_view title =
          space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
      step = index == "0" ? "the shutdown after the last step"
                          : "step " + std::string(index) + " (" + std::string(title) + ")";
    } else if (tag == 'L') {
      logLines.emplace_back(line);
      if (logLines.size() > kLogLinesInCrashReport) {
        logLines.erase(logLines.begin());
      }
    }
    position = end + 1;
  }
  std::string how;
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    const char* name = strsignal(signal);
    how = "the process was ended by signal " + std::to_string(signal) + " (" +
          (name != nullptr ? name : "unknown") + ")";
  } else {
    how = "the process exited with code " + std::to_string(WEXITSTATUS(status));
  }
  std::string report = "Scenario " + Quoted(scenario.name) + " failed at " +
                       (step.empty() ? std::string("the start") : step) + ":\n  " + how +
                       " while it ran.\n";
  if (!logLines.empty()) {
    report += "  The last log lines:\n";
    for (const std::string& line : logLines) {
      report += "    " + line + "\n";
    }
  }
  return {false, report};
}

}  // namespace Nalo::Host
