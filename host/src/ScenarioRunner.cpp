// Scenario execution: one Host on a virtual clock, the steps in order, and a
// report of the first step that doesn't hold.

#ifndef _WIN32
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <span>
#include <utility>

#include "binding/Json.h"
#include "gameflow/ProcessRecord.h"
#include "host/Host.h"
#include "host/Peers.h"
#include "host/Scenario.h"
#include "host/ValueMatch.h"
#include "host/src/ChildRun.h"

namespace Nalo::Host {

namespace {

constexpr std::string_view kDeleteEvent = "Delete";
constexpr std::string_view kAuthTokenPath = "/naloclient/auth-token";

// The step's outcome: nothing when it holds, else what went wrong.
using StepResult = std::optional<std::string>;

#ifndef _WIN32
// The mkdtemp pattern of a run's own state folder, in the system's temporary
// folder (TMPDIR when set, else /tmp).
std::string ScenarioFolderPattern() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error || folder.empty()) {
    folder = "/tmp";
  }
  return (folder / "nalo-scenario-XXXXXX").string();
}
#endif

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

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

// What the run tells the process that watches it, as it happens. A run in a
// child process sends it to the parent as one message a line: "S<index>
// <title>" when a step starts, "L<text>" for a log line, and last "R<0|1>"
// followed by the report.
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
    if (mScenario.standInClient.has_value()) {
      InstallClient(*mScenario.standInClient);
    }
    CreateHost();
    RegisterSecrets();
  }

  ~Runner() { EndClients(); }
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  ScenarioOutcome Run() {
    if (!mClientProblem.empty()) {
      return {false, "Scenario " + Quoted(mScenario.name) + ": " + mClientProblem + "\n"};
    }
    bool loadDecided = false;
    for (const ScenarioStep& step : mScenario.steps) {
      // The plugin is loaded before the first step that isn't setting up a
      // peer, unless that step loads it itself.
      if (!loadDecided && !IsPeerSetup(step)) {
        loadDecided = true;
        if (!LoadsFirst(step)) {
          if (StepResult loaded = Load()) {
            return {false, "Scenario " + Quoted(mScenario.name) + ": " + *loaded + "\n"};
          }
        }
      }
      if (mWatch.stepStarts) {
        mWatch.stepStarts(step);
      }
      StepResult failed = Execute(step);
      if (std::optional<std::string> stall = mHost->TakeStall(); stall && !failed) {
        failed = *stall;
      }
      if (StepResult leak = FindSecretInLog(); leak && !failed) {
        failed = leak;
      }
      if (StepResult unknown = FindRefusedLcdsClass(step); unknown && !failed) {
        failed = unknown;
      }
      if (failed) {
        return {false, "Scenario " + Quoted(mScenario.name) + " failed at step " +
                           std::to_string(step.index) + " (" + step.title + "):\n  " + *failed +
                           "\n"};
      }
    }
    if (!loadDecided) {  // nothing but set-up: the load is what is checked
      if (StepResult loaded = Load()) {
        return {false, "Scenario " + Quoted(mScenario.name) + ": " + *loaded + "\n"};
      }
    }
    if (StepResult leak = FindSecretInLog()) {
      return {false, "Scenario " + Quoted(mScenario.name) + ": " + *leak + "\n"};
    }
    return {true, "Scenario " + Quoted(mScenario.name) + " passed (" +
                      std::to_string(mScenario.steps.size()) + " steps).\n"};
  }

 private:
  // Steps that only tell the peers or the clock how to behave; they may come
  // before the plugin is loaded (the header's lcds table becomes such steps).
  static bool IsPeerSetup(const ScenarioStep& step) {
    return step.kind == StepKind::LcdsAnswer || step.kind == StepKind::Answer ||
           step.kind == StepKind::Fault || step.kind == StepKind::WallClock;
  }

  // Whether `step` loads the plugin first thing: load, or an expect-fatal or
  // expect-exit around a load.
  static bool LoadsFirst(const ScenarioStep& step) {
    if (step.kind == StepKind::Load) {
      return true;
    }
    return (step.kind == StepKind::ExpectFatal || step.kind == StepKind::ExpectExit) &&
           !step.during.empty() && step.during.front().kind == StepKind::Load;
  }

  // --- LCDS answers of a class the plugin doesn't take ------------------------------------

  // The plugin runtime refuses a reply whose class is not the one it has
  // registered for the call's result ("Expected 'A' as LCDS response for
  // d.m, but got 'B'"); the failure reaches the plugin's code, which may log
  // it or answer a request with it, or drop it. The class table stays inside
  // the plugin, so the runner looks for that refusal in the new log lines
  // and in a request's answer: every LCDS answer comes from the scenario,
  // so the refusal means that an answer names the wrong class (a typo, for
  // one), and the step fails instead of the plugin failing silently.
  StepResult FindRefusedLcdsClass(const ScenarioStep& step) {
    const auto refusal = [](std::string_view text) -> std::optional<std::string> {
      constexpr std::string_view kExpected = "Expected '";
      constexpr std::string_view kFor = "' as LCDS response for ";
      constexpr std::string_view kGot = ", but got '";
      const std::size_t expectedAt = text.find(kExpected);
      const std::size_t forAt = text.find(kFor, expectedAt);
      const std::size_t gotAt = text.find(kGot, forAt);
      const std::size_t endAt =
          text.find('\'', gotAt == std::string_view::npos ? gotAt : gotAt + kGot.size());
      if (expectedAt == std::string_view::npos || forAt == std::string_view::npos ||
          gotAt == std::string_view::npos || endAt == std::string_view::npos) {
        return std::nullopt;
      }
      const std::string_view expected =
          text.substr(expectedAt + kExpected.size(), forAt - expectedAt - kExpected.size());
      const std::string_view call = text.substr(forAt + kFor.size(), gotAt - forAt - kFor.size());
      const std::string_view got = text.substr(gotAt + kGot.size(), endAt - gotAt - kGot.size());
      return "the LCDS answer for " + std::string(call) + " names the class " + Quoted(got) +
             ", which the plugin doesn't take for that call (it expects " + Quoted(expected) + ")";
    };
    std::optional<std::string> found;
    const std::vector<LogLine>& lines = mHost->LogLines();
    for (; mLcdsLinesChecked < lines.size(); ++mLcdsLinesChecked) {
      if (!found) {
        found = refusal(lines[mLcdsLinesChecked].text);
      }
    }
    if (!found && step.kind == StepKind::Request) {
      found = refusal(mLastResponse.error);
    }
    return found;
  }

  // --- Secrets -------------------------------------------------------------------------

  // Shorter texts can't be told from ordinary words in a log line.
  static constexpr std::size_t kShortestSecret = 6;

  struct Secret {
    std::string text;
    std::string source;  // "encryptionKey in step 4 (push-lcds ...)"
  };

  void AddSecret(std::string_view text, std::string source) {
    if (text.size() < kShortestSecret ||
        std::ranges::any_of(mSecrets, [text](const Secret& known) { return known.text == text; })) {
      return;
    }
    mSecrets.push_back({std::string(text), std::move(source)});
  }

  // The values of members that hold keys ("encryptionKey",
  // "observerEncryptionKey", any name ending so), at every depth of `value`.
  void AddSecretsIn(const BindingProperty& value, const std::string& where) {
    constexpr std::string_view kKeySuffix = "encryptionkey";
    if (value.Kind() == BindingKind::Collection) {
      for (const BindingProperty& element : value.Elements()) {
        AddSecretsIn(element, where);
      }
      return;
    }
    if (value.Kind() != BindingKind::Structure) {
      return;
    }
    for (const auto& member : value.Members()) {
      std::string name(member.name);
      std::ranges::transform(name, name.begin(),
                             [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (name.ends_with(kKeySuffix) && member.value.Kind() == BindingKind::String) {
        AddSecret(member.value.StringValue(), std::string(member.name) + " in " + where);
      } else {
        AddSecretsIn(member.value, where);
      }
    }
  }

  void AddSecretsOf(const ScenarioStep& step, const std::string& where) {
    AddSecretsIn(step.value, where);
    if (step.kind == StepKind::Request && !step.text.empty()) {
      if (const BindingResult body = ParseJson(step.text); body.Succeeded()) {
        AddSecretsIn(body.Value(), where);
      }
    }
    for (const LcdsAnswer& answer : step.lcdsAnswers) {
      AddSecretsIn(answer.body, where);
    }
    for (const PeerAnswer& answer : step.peerAnswers) {
      AddSecretsIn(answer.body, where);
    }
    if ((step.kind == StepKind::Set || step.kind == StepKind::Publish) &&
        step.path == kAuthTokenPath && step.value.Kind() == BindingKind::String) {
      AddSecret(step.value.StringValue(), "the auth token in " + where);
    }
    for (const ScenarioStep& inner : step.during) {
      AddSecretsOf(inner, where);
    }
  }

  // Every secret the scenario hands out, known before it runs: the keys in
  // its values, the game client's auth token and the header's secrets.
  void RegisterSecrets() {
    for (const std::string& secret : mScenario.secrets) {
      AddSecret(secret, "the header's secrets");
    }
    if (const std::optional<BindingProperty> token = mHost->GetPeers().Resource(kAuthTokenPath);
        token.has_value() && token->Kind() == BindingKind::String) {
      AddSecret(token->StringValue(), "the auth token");
    }
    for (const auto& [path, value] : mScenario.resources) {
      AddSecretsIn(value, "resources " + path);
    }
    for (const ScenarioStep& step : mScenario.steps) {
      AddSecretsOf(step,
                   step.index == 0 ? "the header's lcds" : "step " + std::to_string(step.index));
    }
  }

  // The first log line since the last look that carries a secret, shown
  // with the secret masked.
  StepResult FindSecretInLog() {
    const std::vector<LogLine>& lines = mHost->LogLines();
    for (; mLogLinesChecked < lines.size(); ++mLogLinesChecked) {
      const std::string& text = lines[mLogLinesChecked].text;
      for (const Secret& secret : mSecrets) {
        if (text.find(secret.text) == std::string::npos) {
          continue;
        }
        std::string masked = text;
        for (const Secret& shown : mSecrets) {
          for (std::size_t next = masked.find(shown.text); next != std::string::npos;
               next = masked.find(shown.text, next)) {
            masked.replace(next, shown.text.size(), "<secret>");
          }
        }
        ++mLogLinesChecked;
        return "a log line carries a secret (" + secret.source + "): " + Quoted(masked);
      }
    }
    return std::nullopt;
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
    options.wallClockAtStart = mScenario.wallClockAtStart;
    options.peers = mScenario.peers;
    options.announcePeers = mScenario.announcePeers;
    options.logEcho = mWatch.logLine;
    mHost = std::make_unique<Host>(std::move(options));
    // After a restart the data store already holds what was stored before;
    // the scenario's initial values don't overwrite it. Every other initial
    // value replaces the realistic default of its path.
    for (const auto& [path, value] : mScenario.resources) {
      const bool stored = std::string_view(path).starts_with("/data-store/") &&
                          mHost->GetPeers().Resource(path).has_value();
      if (!stored) {
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
    if (expect.anySuccess && (seen.status < 200 || seen.status >= 300 || !seen.error.empty())) {
      return "expected a success status (2xx), but " + summary;
    }
    if (expect.error && seen.error.find(*expect.error) == std::string::npos) {
      return "expected an error containing " + Quoted(*expect.error) + ", but " + summary;
    }
    if (expect.body) {
      BindingProperty expected;
      if (StepResult unresolved = ResolveClientPids(*expect.body, expected)) {
        return unresolved;
      }
      if (auto difference =
              Mismatch(expected, seen.body, expect.subset ? MatchMode::Subset : MatchMode::Exact)) {
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
    for (const PublishedEvent& event : Since(mHost->PublishedEvents(), mMark.events)) {
      if (event.name == name && event.uri == uri) {
        found.push_back(&event);
      }
    }
    return found;
  }

  // The records after the `mark` step's position, or all of them.
  template <class Record>
  static std::span<const Record> Since(const std::vector<Record>& records, std::size_t mark) {
    return std::span<const Record>(records).subspan(std::min(mark, records.size()));
  }

  void SetMark() {
    mMark = {mHost->LogLines().size(),
             mHost->PublishedEvents().size(),
             mHost->GetPeers().Requests().size(),
             mHost->GetPeers().LcdsCalls().size(),
             mHost->GetPeers().Telemetry().size(),
             SettledClientStarts().size()};
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
                           Describe(*last.Data());
    }
    if (deleted) {
      return "expected a value, but the latest event was a deletion";
    }
    if (!step.hasValue) {
      return std::nullopt;
    }
    const BindingProperty* data = last.Data();
    const BindingProperty none;
    BindingProperty expected;
    if (StepResult unresolved = ResolveClientPids(step.value, expected)) {
      return unresolved;
    }
    if (auto difference = Mismatch(expected, data ? *data : none,
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
      const BindingProperty* data = event->Data();
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

  // Whether a log line is one the step looks for: its text, and its level
  // and group when the step names them.
  static bool LogLineMatches(const ScenarioStep& step, const LogLine& line) {
    if (line.text.find(step.text) == std::string::npos) {
      return false;
    }
    if (step.level && *step.level != line.level) {
      return false;
    }
    if (step.group.empty()) {
      return true;
    }
    std::string_view groups = line.groups;
    while (!groups.empty()) {
      const std::size_t separator = groups.find(';');
      if (groups.substr(0, separator) == step.group) {
        return true;
      }
      groups =
          separator == std::string_view::npos ? std::string_view() : groups.substr(separator + 1);
    }
    return false;
  }

  static std::string LogWanted(const ScenarioStep& step) {
    std::string wanted = "a log line containing " + Quoted(step.text);
    if (step.level) {
      static constexpr std::array<std::string_view, 4> kLevels = {"OKAY", "WARN", "ERROR",
                                                                  "ALWAYS"};
      wanted += " at level " + std::string(kLevels[*step.level]);
    }
    if (!step.group.empty()) {
      wanted += " in the group " + step.group;
    }
    return wanted;
  }

  StepResult ExpectLog(const ScenarioStep& step, bool present) {
    const auto lines = Since(mHost->LogLines(), mMark.logLines);
    for (const LogLine& line : lines) {
      if (LogLineMatches(step, line)) {
        return present ? StepResult()
                       : "expected no " + LogWanted(step).substr(2) + ", saw " + Quoted(line.text);
      }
    }
    if (!present) {
      return std::nullopt;
    }
    std::string report = "expected " + LogWanted(step) + ", saw ";
    if (lines.empty()) {
      return report + "no log lines";
    }
    report += std::to_string(lines.size()) + " other lines";
    if (const std::vector<const LogLine*> nearest = NearestLines(step.text, lines);
        !nearest.empty()) {
      report += "; the nearest:";
      for (const LogLine* line : nearest) {
        report += "\n    " + DescribeLogLine(*line);
      }
      report += "\n  the last: ";
    } else {
      report += "; the last: ";
    }
    return report + DescribeLogLine(lines.back());
  }

  // "\"text\" (WARN, DBG;NET)": a line with its level and groups.
  static std::string DescribeLogLine(const LogLine& line) {
    static constexpr std::array<std::string_view, 4> kLevels = {"OKAY", "WARN", "ERROR", "ALWAYS"};
    std::string text = Quoted(line.text) + " (" +
                       (line.level < kLevels.size() ? std::string(kLevels[line.level])
                                                    : std::to_string(line.level));
    if (!line.groups.empty()) {
      text += ", " + line.groups;
    }
    return text + ")";
  }

  // The length of the longest piece of `wanted` that `line` contains.
  static std::size_t LongestSharedPiece(std::string_view wanted, std::string_view line) {
    std::vector<std::size_t> previous(line.size() + 1, 0);
    std::vector<std::size_t> current(line.size() + 1, 0);
    std::size_t longest = 0;
    for (std::size_t i = 1; i <= wanted.size(); ++i) {
      for (std::size_t j = 1; j <= line.size(); ++j) {
        current[j] = wanted[i - 1] == line[j - 1] ? previous[j - 1] + 1 : 0;
        longest = std::max(longest, current[j]);
      }
      std::swap(previous, current);
    }
    return longest;
  }

  // Up to three lines sharing the longest pieces with the wanted text (at
  // least a third of it, and 4 characters), in the order they were written.
  static std::vector<const LogLine*> NearestLines(std::string_view wanted,
                                                  std::span<const LogLine> lines) {
    constexpr std::size_t kShown = 3;
    const std::size_t least = std::max<std::size_t>(4, (wanted.size() + 2) / 3);
    std::vector<std::pair<std::size_t, std::size_t>> scored;  // (shared length, position)
    for (std::size_t position = 0; position < lines.size(); ++position) {
      const std::size_t shared = LongestSharedPiece(wanted, lines[position].text);
      if (shared >= least) {
        scored.emplace_back(shared, position);
      }
    }
    std::ranges::stable_sort(scored, std::ranges::greater{},
                             &std::pair<std::size_t, std::size_t>::first);
    scored.resize(std::min(scored.size(), kShown));
    std::ranges::sort(scored, {}, &std::pair<std::size_t, std::size_t>::second);
    std::vector<const LogLine*> nearest;
    for (const auto& entry : scored) {
      nearest.push_back(&lines[entry.second]);
    }
    return nearest;
  }

  StepResult ExpectTelemetry(const ScenarioStep& step, bool present) {
    std::string seenNames;
    for (const TelemetryRecord& record : Since(mHost->GetPeers().Telemetry(), mMark.telemetry)) {
      seenNames += (seenNames.empty() ? "" : ", ") + record.name;
      if (record.name != step.text) {
        continue;
      }
      if (!step.hasValue ||
          !Mismatch(step.value, record.data, step.subset ? MatchMode::Subset : MatchMode::Exact)) {
        return present ? StepResult()
                       : "expected no telemetry event " + step.text +
                             (step.hasValue ? " with " + Describe(step.value) : "") + ", saw " +
                             Describe(record.data);
      }
      seenNames += " " + Describe(record.data);
    }
    if (!present) {
      return std::nullopt;
    }
    return "expected the telemetry event " + step.text +
           (step.hasValue ? " with " + Describe(step.value) : "") + ", saw " +
           (seenNames.empty() ? "none" : seenNames);
  }

  StepResult ExpectLcdsCall(const ScenarioStep& step, bool present) {
    std::string seenCalls;
    for (const LcdsCall& call : Since(mHost->GetPeers().LcdsCalls(), mMark.lcdsCalls)) {
      const std::string key = call.destination + "." + call.method;
      seenCalls += (seenCalls.empty() ? "" : ", ") + key + Describe(call.arguments);
      if (key == step.text &&
          (!step.hasValue || !Mismatch(step.value, call.arguments, MatchMode::Subset))) {
        if (!present) {
          return "expected no LCDS call " + step.text +
                 (step.hasValue ? " with " + Describe(step.value) : "") + ", saw " + key +
                 Describe(call.arguments);
        }
        return std::nullopt;
      }
    }
    if (!present) {
      return std::nullopt;
    }
    return "expected the LCDS call " + step.text +
           (step.hasValue ? " with " + Describe(step.value) : "") + ", saw " +
           (seenCalls.empty() ? "none" : seenCalls);
  }

  // Requests that plugins sent to the peers: the method (any when the step
  // names none), the path (with its query when the step writes one, else
  // without) and the body (exact or as a subset).
  StepResult ExpectRequest(const ScenarioStep& step, bool present) {
    const bool withQuery = step.path.find('?') != std::string::npos;
    std::size_t matching = 0;
    std::string seen;
    for (const PeerRequest& request : Since(mHost->GetPeers().Requests(), mMark.requests)) {
      if (request.senderHandle == 0) {
        continue;  // the scenario's own
      }
      const std::string_view path =
          withQuery ? std::string_view(request.path)
                    : std::string_view(request.path).substr(0, request.path.find('?'));
      if (path != step.path || (!step.method.empty() && request.method != step.method)) {
        continue;
      }
      seen += (seen.empty() ? "" : ", ") + request.method + " " + Describe(request.value);
      if (step.hasValue &&
          Mismatch(step.value, request.value, step.subset ? MatchMode::Subset : MatchMode::Exact)) {
        continue;
      }
      ++matching;
    }
    const std::string what = (step.method.empty() ? std::string() : step.method + " ") +
                             "request to " + step.path +
                             (step.hasValue ? " with " + Describe(step.value) : "");
    const std::string saw = seen.empty() ? "none to that path" : seen;
    if (!present) {
      return matching == 0
                 ? StepResult()
                 : "expected no " + what + ", saw " + std::to_string(matching) + ": " + saw;
    }
    if (step.expectedCount) {
      return matching == *step.expectedCount
                 ? StepResult()
                 : "expected " + std::to_string(*step.expectedCount) + " times a " + what +
                       ", saw " + std::to_string(matching) + " (" + saw + ")";
    }
    return matching > 0 ? StepResult() : "expected a " + what + ", saw " + saw;
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

  // Runs `step.during` in a forked child. Its output (its own and the
  // plugin's log lines) comes back through one pipe; its log lines and peer
  // requests, as records, through another, and join this host's records, so
  // that later expectations see them. Otherwise the parent's host is left as
  // it was: the child's changes die with it.
  //   expect-fatal holds when the child ends other than with exit code 0
  //   and its output names the code;
  //   expect-exit holds when something inside `during` ends the process
  //   with exit code `code`.
  StepResult ExpectEnding(const ScenarioStep& step) {
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
  void RunEndingSteps(const ScenarioStep& step, int records) {
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

  struct ChildRecords {
    bool finished = false;
    std::optional<std::string> innerFailure;
  };

  // Adds the child's log lines and peer requests to this host's records.
  ChildRecords ImportChildRecords(std::string_view text) {
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

  StepResult Execute(const ScenarioStep& step) {
    Peers& peers = mHost->GetPeers();
    switch (step.kind) {
      case StepKind::Load:
        return Load();
      case StepKind::Restart: {
        // Virtual time starts again at 0; the wall clock carries on.
        const std::uint64_t wallClock = mHost->WallClockMilliseconds();
        mHost.reset();
        CreateHost();
        mHost->SetWallClock(wallClock);
        mMark = {};
        mMark.clientStarts = SettledClientStarts().size();
        mLogLinesChecked = 0;
        mLcdsLinesChecked = 0;
        // The header's lcds answers hold for the new host too (they are the
        // leading steps with index 0).
        for (const ScenarioStep& header : mScenario.steps) {
          if (header.index == 0 && header.kind == StepKind::LcdsAnswer) {
            static_cast<void>(Execute(header));
          }
        }
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
        // A message of a class no plugin knows would go nowhere, unseen.
        if (!mHost->PluginNames().empty() && !mHost->HasSubscriber(LcdsEventName(step.text))) {
          return "no loaded plugin knows the class " + Quoted(step.text) + ": none subscribes to " +
                 LcdsEventName(step.text);
        }
        peers.PushLcds(step.text, step.value, step.subtopic, step.clientId);
        return std::nullopt;
      case StepKind::LcdsAnswer: {
        const std::size_t dot = step.text.find('.');
        peers.SetLcdsAnswers(std::string_view(step.text).substr(0, dot),
                             std::string_view(step.text).substr(dot + 1), step.lcdsAnswers);
        return std::nullopt;
      }
      case StepKind::Answer:
        peers.SetAnswers(step.method, step.path, step.peerAnswers);
        return std::nullopt;
      case StepKind::Mark:
        SetMark();
        return std::nullopt;
      case StepKind::Shutdown:
        // The records stay for the expectations that follow.
        mHost->Shutdown();
        return std::nullopt;
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
      case StepKind::WallClock:
        mHost->SetWallClock(step.milliseconds);
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
        return ExpectTelemetry(step, true);
      case StepKind::ExpectNoTelemetry:
        return ExpectTelemetry(step, false);
      case StepKind::ExpectLcdsCall:
        return ExpectLcdsCall(step, true);
      case StepKind::ExpectNoLcdsCall:
        return ExpectLcdsCall(step, false);
      case StepKind::ExpectRequest:
        return ExpectRequest(step, true);
      case StepKind::ExpectNoRequest:
        return ExpectRequest(step, false);
      case StepKind::ExpectFatal:
      case StepKind::ExpectExit:
        return ExpectEnding(step);
      case StepKind::ClientControl:
        std::ofstream(mClientFolder / kClientControlFile, std::ios::trunc) << step.text;
        return std::nullopt;
      case StepKind::ClientCommand:
        return CommandClient(step.text);
      case StepKind::ExpectClientSpawned:
        return ExpectClientSpawned(step);
      case StepKind::ExpectFile:
        return ExpectFile(step);
      case StepKind::AwaitClientExit:
        return AwaitClientExit(step);
      case StepKind::SignalClient:
        return SignalClient(step);
      case StepKind::AwaitClient:
        return AwaitClientEvent(step);
      case StepKind::ExpectTimers:
        return ExpectTimers(step);
    }
    return "unknown step";
  }

  // --- The stand-in game client ----------------------------------------------------------

  static constexpr const char* kClientProgramVariable = "NALO_STAND_IN_CLIENT";
  static constexpr const char* kClientControlFile = "stand-in-client.cfg";
  static constexpr const char* kClientRecordFile = "stand-in-client.record";

  // Links the client into the realistic patcher's folder and points the
  // client and the window system at the state folder. The run is a child
  // process of its own, so the environment it changes is its own.
  void InstallClient(const std::string& control) {
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
    mClientFolder = mStateFolder / "tav_game_client_sln";
    std::error_code error;
    std::filesystem::create_directories(mClientFolder, error);
    // The client's record there holds the game's key and auth token.
    std::filesystem::permissions(mClientFolder, std::filesystem::perms::owner_all, error);
    std::filesystem::create_directories(mStateFolder / "windows", error);
    std::filesystem::remove(mClientFolder / "Tavora.exe", error);
    std::filesystem::remove(mClientFolder / kClientRecordFile, error);
#ifdef _WIN32
    // A copy: Windows starts the program from its own folder's file.
    std::filesystem::copy_file(program, mClientFolder / "Tavora.exe", error);
#else
    std::filesystem::create_symlink(program, mClientFolder / "Tavora.exe", error);
#endif
    if (error) {
      mClientProblem = "the stand-in client could not be linked into " + mClientFolder.string() +
                       ": " + error.message();
      return;
    }
    std::ofstream(mClientFolder / kClientControlFile, std::ios::trunc) << control;
#ifdef _WIN32
    // The client's window is a real one there: no stand-in window system.
    _wputenv_s(L"NALO_STAND_IN_CLIENT_DIR", mClientFolder.c_str());
#else
    setenv("NALO_STAND_IN_CLIENT_DIR", mClientFolder.c_str(), 1);
    setenv("NALO_STAND_IN_WINDOWS", (mStateFolder / "windows").c_str(), 1);
#endif
  }

  struct ClientStart {
    pid_t pid = 0;
    BindingProperty record;
  };

  // Every client started so far, from the record's start lines, in order.
  std::vector<ClientStart> ClientStarts() const {
    std::vector<ClientStart> starts;
    if (mClientFolder.empty()) {
      return starts;
    }
    std::ifstream stream(mClientFolder / kClientRecordFile);
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
  std::optional<ClientStart> LatestClient() const {
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

  StepResult CommandClient(const std::string& command) {
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
  std::vector<ClientStart> SettledClientStarts() const {
    if (mClientFolder.empty()) {
      return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      std::vector<ClientStart> starts = ClientStarts();
      const std::vector<int> children = detail::ChildrenOf(getpid());
      const bool settled = std::ranges::all_of(children, [&starts](int child) {
        return !detail::IsRunning(child) ||
               std::ranges::any_of(
                   starts, [child](const ClientStart& start) { return start.pid == child; });
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
  StepResult ResolveClientPids(const BindingProperty& expected, BindingProperty& resolved) const {
    resolved.assign(expected);
    std::optional<std::vector<ClientStart>> starts;
    std::function<StepResult(BindingProperty&)> resolve =
        [&](BindingProperty& value) -> StepResult {
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
        const std::string_view digits =
            text.substr(kPrefix.size(), text.size() - kPrefix.size() - 1);
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

  StepResult ExpectClientSpawned(const ScenarioStep& step) {
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
        return "expected the working directory " + Quoted(wanted.string()) + ", saw " +
               Quoted(seen);
      }
    }
    return std::nullopt;
  }

  StepResult ExpectFile(const ScenarioStep& step) {
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
  StepResult AwaitClientExit(const ScenarioStep& step) {
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
        return "expected the client to crash with signal " + std::to_string(*step.signal) +
               ", it " + (crashed ? "crashed with signal " : "exited with code ") +
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
  StepResult SignalClient(const ScenarioStep& step) {
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
  std::vector<std::string> ClientEvents(pid_t pid) const {
    std::vector<std::string> events;
    std::ifstream stream(mClientFolder / kClientRecordFile);
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
  StepResult AwaitClientEvent(const ScenarioStep& step) {
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

  // The timers whose runs the core holds now: a timer runs while a run of
  // it is pending ("Timer: <name>").
  StepResult ExpectTimers(const ScenarioStep& step) const {
    constexpr std::string_view kTimerPrefix = "Timer: ";
    std::vector<std::string> pending;
    for (const std::string& label : mHost->PendingTaskLabels()) {
      if (label.starts_with(kTimerPrefix) &&
          std::ranges::find(pending, label.substr(kTimerPrefix.size())) == pending.end()) {
        pending.push_back(label.substr(kTimerPrefix.size()));
      }
    }
    std::string all;
    for (const std::string& name : pending) {
      all += (all.empty() ? "" : ", ") + name;
    }
    const std::string seen = "; the core holds runs of " + (all.empty() ? "no timers" : all);
    for (const std::string& name : step.timersRunning) {
      if (std::ranges::find(pending, name) == pending.end()) {
        return "expected the timer " + Quoted(name) + " to run" + seen;
      }
    }
    for (const std::string& name : step.timersStopped) {
      if (std::ranges::find(pending, name) != pending.end()) {
        return "expected the timer " + Quoted(name) + " to be stopped" + seen;
      }
    }
    return std::nullopt;
  }

  // Kills every client still running and reaps it, whether or not it
  // recorded its start (the clients are this process's only children);
  // removes a state folder made for the run. Runs at the end of every run,
  // passed or failed. A run that crashes leaves this to RunScenario's
  // keeper process.
  void EndClients() {
    detail::EndChildren();
    if (mOwnStateFolder) {
      std::error_code error;
      std::filesystem::remove_all(mStateFolder, error);
    }
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

// Runs the scenario in this process; the child's half of RunScenario.
void RunScenarioSteps(const Scenario& scenario, const std::filesystem::path& plugin,
                      const std::filesystem::path& stateFolder, int messages) {
  RunnerWatch watch{
      .stepStarts =
          [messages](const ScenarioStep& step) {
            detail::WriteAll(messages, "S" + std::to_string(step.index) + " " +
                                           detail::OneLine(step.title) + "\n");
          },
      .logLine =
          [messages](std::string_view line) {
            detail::WriteAll(messages, "L" + detail::OneLine(line) + "\n");
          },
  };
  ScenarioOutcome outcome;
  {
    Runner runner(scenario, plugin, stateFolder, watch);
    outcome = runner.Run();
    detail::WriteAll(messages, "S0 shutdown\n");
  }  // the host shuts the plugin down here
  detail::WriteAll(messages,
                   std::string("R") + (outcome.passed ? "1" : "0") + "\n" + outcome.report);
}

constexpr std::size_t kLogLinesInCrashReport = 8;

}  // namespace

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
      if (logLines.size() > kLogLinesInCrashReport) {
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
    std::string pattern = ScenarioFolderPattern();
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
      [&](int messages) { RunScenarioSteps(scenario, plugin, runFolder, messages); }, {},
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
    return {false, "Scenario " + Quoted(scenario.name) + ": couldn't start the run.\n"};
  }
  const int status = ending.status;
  if (reportBegun && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    return {passed, pending};
  }
  std::string report = "Scenario " + Quoted(scenario.name) + " failed at " +
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
