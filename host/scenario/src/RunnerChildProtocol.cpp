// The runner's child processes and what they tell their parent. A whole run
// happens in a child (RunScenario), which sends its parent one message a line:
// "S<index> <title>" when a step starts, "L<text>" for a log line, and last
// "R<0|1>" followed by the report. expect-fatal and expect-exit run their
// steps in a child of the run, which sends back its records: "L" log lines
// and "Q" peer requests as tab-separated fields, then "D" when every step ran
// or "F<failure>" for a step that failed.

#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <charconv>
#include <deque>

#include "binding/Json.h"
#include "host/peers/Peers.h"
#include "host/scenario/ChildRun.h"
#include "host/scenario/src/Runner.h"

namespace Nalo::Host {

namespace detail {

#ifndef _WIN32
std::string ScenarioFolderPattern() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error || folder.empty()) {
    folder = "/tmp";
  }
  return (folder / "nalo-scenario-XXXXXX").string();
}
#endif

// Runs `step.during` in a forked child. Its output (its own and the
// plugin's log lines) comes back through one pipe; its log lines and peer
// requests, as records, through another, and join this host's records, so
// that later expectations see them. Otherwise the parent's host is left as
// it was: the child's changes die with it.
//   expect-fatal holds when the child ends other than with exit code 0
//   and its output names the code;
//   expect-exit holds when something inside `during` ends the process
//   with exit code `code`.
StepResult Runner::ExpectEnding(const ScenarioStep& step) {
#ifdef _WIN32
  // The Windows host runs a scenario in its own process: an ending expected
  // inside `during` would end the run itself.
  return std::string(step.kind == StepKind::ExpectExit ? "expect-exit" : "expect-fatal") +
         " needs a child process of its own, which the Windows host does not make";
#else
  std::string outputText;
  std::string recordText;
  const detail::ChildEnding ending = detail::RunInChild(
      {.captureOutput = true}, [&](int records) { RunEndingSteps(step, records); },
      [&](std::string_view chunk) { outputText += chunk; },
      [&](std::string_view chunk) { recordText += chunk; });
  if (!ending.started) {
    return "couldn't start the child process";
  }
  const int status = ending.status;
  const ChildRecords childRecords = ImportChildRecords(recordText);
  if (childRecords.innerFailure) {
    return "a step inside " + step.title.substr(0, step.title.find(' ')) +
           " failed: " + *childRecords.innerFailure;
  }
  std::string how = detail::DescribeEnding(status);
  if (step.kind == StepKind::ExpectExit) {
    if (!childRecords.finished && WIFEXITED(status) && WEXITSTATUS(status) == step.exitCode) {
      return std::nullopt;
    }
    if (childRecords.finished) {
      how = "ran every step and went on";
    }
    return "expected the process to exit with code " + step.text + "; it " + how;
  }
  const bool exitedWithZero = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  const bool namesCode = outputText.find(step.text) != std::string::npos;
  if (!exitedWithZero && namesCode) {
    return std::nullopt;
  }
  if (outputText.size() > 2000) {
    outputText = "..." + outputText.substr(outputText.size() - 2000);
  }
  return "expected the process to end with the fatal code " + step.text + "; it " + how +
         (namesCode ? "" : " and its output doesn't name the code") + ". Its output:\n" +
         outputText;
#endif
}

// The child's half of ExpectEnding: its log lines go to its output (where
// a fatal report lands too), its records to `records` as they are made.
void Runner::RunEndingSteps(const ScenarioStep& step, int records) {
  mHost->SetLogEcho(
      [](std::string_view line) { detail::WriteAll(STDERR_FILENO, std::string(line) + "\n"); });
  mHost->SetRecordEchoes(
      [records](const LogLine& line) {
        detail::WriteAll(records, "L" + std::to_string(line.level) + "\t" +
                                      std::to_string(line.pluginHandle) + "\t" +
                                      std::to_string(line.atNanoseconds) + "\t" + line.groups +
                                      "\t" + detail::OneLine(line.text) + "\n");
      },
      [records](const PeerRequest& request) {
        detail::WriteAll(records, "Q" + std::to_string(request.senderHandle) + "\t" +
                                      std::to_string(request.status) + "\t" + request.method +
                                      "\t" + detail::OneLine(request.path) + "\t" +
                                      detail::OneLine(ToJson(request.value)) + "\n");
      });
  for (const ScenarioStep& inner : step.during) {
    if (StepResult failed = Execute(inner)) {
      detail::WriteAll(records, "F" + detail::OneLine(*failed) + "\n");
      return;
    }
  }
  detail::WriteAll(records, "D\n");
}

// Adds the child's log lines and peer requests to this host's records.
Runner::ChildRecords Runner::ImportChildRecords(std::string_view text) {
  ChildRecords result;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty()) {
      continue;
    }
    std::vector<std::string_view> fields;
    std::string_view rest = line.substr(1);
    const std::size_t fieldCount = line[0] == 'L' || line[0] == 'Q' ? 5 : 1;
    while (fields.size() + 1 < fieldCount) {
      const std::size_t tab = rest.find('\t');
      if (tab == std::string_view::npos) {
        break;
      }
      fields.push_back(rest.substr(0, tab));
      rest.remove_prefix(tab + 1);
    }
    fields.push_back(rest);
    const auto number = [](std::string_view field) {
      std::uint64_t value = 0;
      std::from_chars(field.data(), field.data() + field.size(), value);
      return value;
    };
    if (line[0] == 'D') {
      result.finished = true;
    } else if (line[0] == 'F') {
      result.innerFailure = std::string(line.substr(1));
    } else if (line[0] == 'L' && fields.size() == 5) {
      mHost->ImportLogLine({static_cast<std::uint32_t>(number(fields[0])),
                            static_cast<std::uint32_t>(number(fields[1])), std::string(fields[4]),
                            number(fields[2]), std::string(fields[3])});
    } else if (line[0] == 'Q' && fields.size() == 5) {
      BindingResult value = ParseJson(fields[4]);
      mHost->GetPeers().ImportRequest(
          {std::string(fields[2]), std::string(fields[3]),
           value.Succeeded() ? std::move(value.Value()) : BindingProperty(),
           static_cast<std::uint32_t>(number(fields[0])),
           static_cast<std::uint32_t>(number(fields[1]))});
    }
  }
  return result;
}

namespace {

// Runs the scenario in this process; the child's half of RunScenario.
void RunScenarioSteps(const Scenario& scenario, const std::filesystem::path& plugin,
                      const std::filesystem::path& stateFolder, int messages) {
  RunnerWatch watch{
      .stepStarts =
          [messages](const ScenarioStep& step) {
            WriteAll(messages, "S" + std::to_string(step.index) + " " + OneLine(step.title) + "\n");
          },
      .logLine =
          [messages](std::string_view line) { WriteAll(messages, "L" + OneLine(line) + "\n"); },
  };
  ScenarioOutcome outcome;
  {
    Runner runner(scenario, plugin, stateFolder, watch);
    outcome = runner.Run();
    WriteAll(messages, "S0 shutdown\n");
  }  // the host shuts the plugin down here
  WriteAll(messages, std::string("R") + (outcome.passed ? "1" : "0") + "\n" + outcome.report);
}

constexpr std::size_t kLogLinesInCrashReport = 8;

}  // namespace

}  // namespace detail

ScenarioOutcome RunScenario(const Scenario& scenario, const std::filesystem::path& plugin,
                            const std::filesystem::path& stateFolder) {
  // The run happens in a child process, so that a plugin that crashes or
  // ends the process is reported at its step instead of taking the runner
  // (and its caller's clean-up) down with it. Its messages are taken in as
  // they come, so that a long run's log lines don't pile up here: only the
  // last few are kept.
  std::string pending;  // an incomplete last line, or the report once it began
  bool reportBegun = false;
  bool passed = false;
  std::string step;  // "step 3 (request GET /x)", the last one begun
  std::deque<std::string> logLines;
  const auto takeLine = [&](std::string_view line) {
    if (line.empty()) {
      return;
    }
    const std::string_view rest = line.substr(1);
    if (line.front() == 'S') {
      const std::size_t space = rest.find(' ');
      const std::string_view index = rest.substr(0, space);
      const std::string_view title =
          space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
      step = index == "0" ? "the shutdown after the last step"
                          : "step " + std::string(index) + " (" + std::string(title) + ")";
    } else if (line.front() == 'L') {
      logLines.emplace_back(rest);
      if (logLines.size() > detail::kLogLinesInCrashReport) {
        logLines.pop_front();
      }
    } else if (line.front() == 'R') {
      reportBegun = true;
      passed = rest == "1";
    }
  };
  // A run with the stand-in client needs a state folder: one made here is
  // removed here, once every process of the run is gone, however it ended.
  std::filesystem::path runFolder = stateFolder;
  bool ownFolder = false;
#ifndef _WIN32
  if (scenario.standInClient.has_value() && runFolder.empty()) {
    std::string pattern = detail::ScenarioFolderPattern();
    if (mkdtemp(pattern.data()) != nullptr) {
      runFolder = pattern;
      ownFolder = true;
    }
  }
#endif
  // The keeper around the run kills and reaps every process the run left
  // behind, also when the plugin crashed it.
  const detail::ChildEnding ending = detail::RunInChild(
      {.endDescendants = true},
      [&](int messages) { detail::RunScenarioSteps(scenario, plugin, runFolder, messages); }, {},
      [&](std::string_view chunk) {
        pending += chunk;
        std::size_t start = 0;
        std::size_t end;
        while (!reportBegun && (end = pending.find('\n', start)) != std::string::npos) {
          takeLine(std::string_view(pending).substr(start, end - start));
          start = end + 1;
        }
        pending.erase(0, start);
      });
  if (ownFolder) {
    std::error_code error;
    std::filesystem::remove_all(runFolder, error);
  }
  if (!ending.started) {
    return {false, "Scenario " + detail::Quoted(scenario.name) + ": couldn't start the run.\n"};
  }
  const int status = ending.status;
  if (reportBegun && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    return {passed, pending};
  }
  std::string report = "Scenario " + detail::Quoted(scenario.name) + " failed at " +
                       (step.empty() ? std::string("the start") : step) + ":\n  the process " +
                       detail::DescribeEnding(status) + " while it ran.\n";
  if (!logLines.empty()) {
    report += "  The last log lines:\n";
    for (const std::string& line : logLines) {
      report += "    " + line + "\n";
    }
  }
  return {false, report};
}

}  // namespace Nalo::Host
