#pragma once
// Runner: runs one scenario's steps in order against one Host on a virtual
// clock, and reports the first step that doesn't hold. RunScenario makes one
// in a child process. Its rooms:
//   ScenarioRunner.cpp       the run: loading, what each step does, restart, mark
//   RunnerExpectations.cpp   the expectations over the host's records
//   RunnerChildProtocol.cpp  the child processes: the whole run's messages to
//                            its parent, and expect-fatal's and expect-exit's child
//   RunnerClients.cpp        the stand-in game clients: installing, finding, ending them
//   RunnerClientSteps.cpp    the stand-in game client's steps
//   RunnerLogChecks.cpp      what each step's new log lines must not show:
//                            secrets, LCDS answers of a class the plugin refuses

#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "host/core/Host.h"
#include "host/scenario/Scenario.h"

namespace Nalo::Host::detail {

// The step's outcome: nothing when it holds, else what went wrong.
using StepResult = std::optional<std::string>;

inline std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// What the run tells the process that watches it, as it happens
// (RunnerChildProtocol.cpp sends it to the parent).
struct RunnerWatch {
  std::function<void(const ScenarioStep& step)> stepStarts;
  std::function<void(std::string_view line)> logLine;
};

class Runner {
 public:
  // Installs the stand-in client when the scenario has one, and makes the host.
  Runner(const Scenario& scenario, std::filesystem::path plugin, std::filesystem::path stateFolder,
         RunnerWatch watch);
  // Ends every client still running; removes a state folder made for the run.
  ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;
  Runner(Runner&&) = delete;
  Runner& operator=(Runner&&) = delete;

  // Runs every step, stopping at the first that fails.
  [[nodiscard]] ScenarioOutcome Run();

 private:
  // --- The run (ScenarioRunner.cpp) ---
  void CreateHost();
  StepResult Load();
  StepResult Restart();
  void SetMark();
  StepResult Execute(const ScenarioStep& step);

  // --- Expectations (RunnerExpectations.cpp) ---
  StepResult CheckResponse(const ResponseExpectation& expect);
  std::vector<const PublishedEvent*> Publications(std::string_view path) const;
  StepResult ExpectPublished(const ScenarioStep& step);
  StepResult ExpectNotPublished(const ScenarioStep& step) const;
  StepResult ExpectSequence(const ScenarioStep& step);
  StepResult ExpectLog(const ScenarioStep& step, bool present);
  StepResult ExpectTelemetry(const ScenarioStep& step, bool present);
  StepResult ExpectLcdsCall(const ScenarioStep& step, bool present);
  StepResult ExpectRequest(const ScenarioStep& step, bool present);
  StepResult ExpectResource(const ScenarioStep& step);
  StepResult ExpectTimers(const ScenarioStep& step) const;

  // --- Child processes (RunnerChildProtocol.cpp) ---
  struct ChildRecords {
    bool finished = false;
    std::optional<std::string> innerFailure;
  };
  StepResult ExpectEnding(const ScenarioStep& step);
  void RunEndingSteps(const ScenarioStep& step, int records);
  ChildRecords ImportChildRecords(std::string_view text);

  // --- The stand-in game clients (RunnerClients.cpp, RunnerClientSteps.cpp) ---
  struct ClientStart {
    pid_t pid = 0;
    BindingProperty record;
  };
  void InstallClient(const std::string& control);
  std::vector<ClientStart> ClientStarts() const;
  std::optional<ClientStart> LatestClient() const;
  std::vector<ClientStart> SettledClientStarts() const;
  std::vector<std::string> ClientEvents(pid_t pid) const;
  StepResult ResolveClientPids(const BindingProperty& expected, BindingProperty& resolved) const;
  StepResult ControlClient(const std::string& control);
  StepResult CommandClient(const std::string& command);
  StepResult ExpectClientSpawned(const ScenarioStep& step);
  StepResult ExpectFile(const ScenarioStep& step);
  StepResult AwaitClientExit(const ScenarioStep& step);
  StepResult SignalClient(const ScenarioStep& step);
  StepResult AwaitClientEvent(const ScenarioStep& step);
  void EndClients();

  // --- Log checks (RunnerLogChecks.cpp) ---
  struct Secret {
    std::string text;
    std::string source;  // "encryptionKey in step 4 (push-lcds ...)"
  };
  StepResult FindRefusedLcdsClass(const ScenarioStep& step);
  void AddSecret(std::string_view text, std::string source);
  void AddSecretsIn(const BindingProperty& value, const std::string& where);
  void AddSecretsOf(const ScenarioStep& step, const std::string& where);
  void RegisterSecrets();
  StepResult FindSecretInLog();

  // The records after the `mark` step's position, or all of them.
  template <class Record>
  static std::span<const Record> Since(const std::vector<Record>& records, std::size_t mark) {
    return std::span<const Record>(records).subspan(std::min(mark, records.size()));
  }

  const Scenario& mScenario;
  std::filesystem::path mPlugin;
  std::filesystem::path mStateFolder;
  bool mOwnStateFolder = false;
  std::filesystem::path mClientFolder;
  std::string mClientProblem;
  RunnerWatch mWatch;
  std::unique_ptr<Host> mHost;
  Response mLastResponse;
  std::vector<Secret> mSecrets;
  std::size_t mLogLinesChecked = 0;   // log lines looked through for secrets
  std::size_t mLcdsLinesChecked = 0;  // and for a refused LCDS class
  // Where the `mark` step left each record list; expectations look after it.
  struct Mark {
    std::size_t logLines = 0;
    std::size_t events = 0;
    std::size_t requests = 0;
    std::size_t lcdsCalls = 0;
    std::size_t telemetry = 0;
    std::size_t clientStarts = 0;  // start lines in the stand-in client's record
  } mMark;
};

// The mkdtemp pattern of a run's own state folder, in the system's temporary
// folder (TMPDIR when set, else /tmp). POSIX only.
[[nodiscard]] std::string ScenarioFolderPattern();

}  // namespace Nalo::Host::detail
