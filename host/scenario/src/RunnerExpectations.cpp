// The expectations over the host's records: responses, publications, stored
// values, log lines, telemetry, LCDS calls, requests to peers and timers.

#include <algorithm>
#include <array>

#include "host/peers/Peers.h"
#include "host/scenario/ValueMatch.h"
#include "host/scenario/src/Runner.h"

namespace Nalo::Host::detail {

namespace {

constexpr std::string_view kDeleteEvent = "Delete";

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

// Whether a log line is one the step looks for: its text, and its level
// and group when the step names them.
bool LogLineMatches(const ScenarioStep& step, const LogLine& line) {
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

std::string LogWanted(const ScenarioStep& step) {
  std::string wanted = "a log line containing " + Quoted(step.text);
  if (step.level) {
    wanted += " at level " + std::string(kLogLevelNames[*step.level]);
  }
  if (!step.group.empty()) {
    wanted += " in the group " + step.group;
  }
  return wanted;
}

// "\"text\" (WARN, DBG;NET)": a line with its level and groups.
std::string DescribeLogLine(const LogLine& line) {
  std::string text = Quoted(line.text) + " (" +
                     (line.level < kLogLevelNames.size() ? std::string(kLogLevelNames[line.level])
                                                         : std::to_string(line.level));
  if (!line.groups.empty()) {
    text += ", " + line.groups;
  }
  return text + ")";
}

// The length of the longest piece of `wanted` that `line` contains.
std::size_t LongestSharedPiece(std::string_view wanted, std::string_view line) {
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
std::vector<const LogLine*> NearestLines(std::string_view wanted, std::span<const LogLine> lines) {
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
  nearest.reserve(scored.size());
  for (const auto& entry : scored) {
    nearest.push_back(&lines[entry.second]);
  }
  return nearest;
}

}  // namespace

StepResult Runner::CheckResponse(const ResponseExpectation& expect) {
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
std::vector<const PublishedEvent*> Runner::Publications(std::string_view path) const {
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

StepResult Runner::ExpectPublished(const ScenarioStep& step) {
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
    return "the latest value differs " + *difference + "; it was " + Describe(data ? *data : none);
  }
  return std::nullopt;
}

StepResult Runner::ExpectNotPublished(const ScenarioStep& step) const {
  const auto publications = Publications(step.path);
  return publications.empty() ? StepResult()
                              : "expected no publication of " + step.path + ", saw " +
                                    std::to_string(publications.size());
}

StepResult Runner::ExpectSequence(const ScenarioStep& step) {
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

StepResult Runner::ExpectLog(const ScenarioStep& step, bool present) {
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

StepResult Runner::ExpectTelemetry(const ScenarioStep& step, bool present) {
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

StepResult Runner::ExpectLcdsCall(const ScenarioStep& step, bool present) {
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
StepResult Runner::ExpectRequest(const ScenarioStep& step, bool present) {
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
    return matching == 0 ? StepResult()
                         : "expected no " + what + ", saw " + std::to_string(matching) + ": " + saw;
  }
  if (step.expectedCount) {
    return matching == *step.expectedCount
               ? StepResult()
               : "expected " + std::to_string(*step.expectedCount) + " times a " + what + ", saw " +
                     std::to_string(matching) + " (" + saw + ")";
  }
  return matching > 0 ? StepResult() : "expected a " + what + ", saw " + saw;
}

StepResult Runner::ExpectResource(const ScenarioStep& step) {
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

// The timers whose runs the core holds now: a timer runs while a run of
// it is pending ("Timer: <name>").
StepResult Runner::ExpectTimers(const ScenarioStep& step) const {
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

}  // namespace Nalo::Host::detail
