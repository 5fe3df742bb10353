// Scenario parsing: YAML text to the typed step list.

#include "host/Scenario.h"

#include <yaml.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <csignal>
#include <utility>

#include "binding/Json.h"
#include "binding/Yaml.h"
#include "host/Host.h"

namespace Nalo::Host {

namespace {

constexpr std::uint32_t kBadScenario = 400;

namespace Message {
constexpr std::string_view kUnreadable = "The scenario can't be read: {error}";
constexpr std::string_view kYamlSyntax =
    "The scenario can't be read: YAML syntax error at line {line}, column {column}: "
    "{problem}{context}. Line {shown}: {text}";
constexpr std::string_view kNotAMapping = "The scenario must be a mapping with a list of steps.";
constexpr std::string_view kStep = "Step {index} ({kind}): {problem}";
constexpr std::string_view kHeader = "The scenario's {key}: {problem}";
}  // namespace Message

struct StepName {
  std::string_view name;
  StepKind kind;
};
constexpr std::array<std::string_view, 4> kLevelNames = {"OKAY", "WARN", "ERROR", "ALWAYS"};
constexpr std::array<std::string_view, 8> kGroupNames = {"DBG", "GEN", "XTR", "PRF",
                                                         "MEM", "DSK", "NET", "TST"};

constexpr std::array<StepName, 38> kStepNames = {{
    {"client-control", StepKind::ClientControl},
    {"signal-client", StepKind::SignalClient},
    {"await-client", StepKind::AwaitClient},
    {"expect-timers", StepKind::ExpectTimers},
    {"client-command", StepKind::ClientCommand},
    {"expect-client-spawned", StepKind::ExpectClientSpawned},
    {"expect-file", StepKind::ExpectFile},
    {"await-client-exit", StepKind::AwaitClientExit},
    {"load", StepKind::Load},
    {"restart", StepKind::Restart},
    {"set", StepKind::Set},
    {"publish", StepKind::Publish},
    {"delete", StepKind::Delete},
    {"push-lcds", StepKind::PushLcds},
    {"lcds-answer", StepKind::LcdsAnswer},
    {"fault", StepKind::Fault},
    {"service-proxy", StepKind::ServiceProxy},
    {"request", StepKind::Request},
    {"advance", StepKind::Advance},
    {"wall-clock", StepKind::WallClock},
    {"answer", StepKind::Answer},
    {"mark", StepKind::Mark},
    {"shutdown", StepKind::Shutdown},
    {"expect-no-telemetry", StepKind::ExpectNoTelemetry},
    {"expect-no-lcds-call", StepKind::ExpectNoLcdsCall},
    {"expect-request", StepKind::ExpectRequest},
    {"expect-no-request", StepKind::ExpectNoRequest},
    {"expect-exit", StepKind::ExpectExit},
    {"expect-response", StepKind::ExpectResponse},
    {"expect-published", StepKind::ExpectPublished},
    {"expect-not-published", StepKind::ExpectNotPublished},
    {"expect-sequence", StepKind::ExpectSequence},
    {"expect-resource", StepKind::ExpectResource},
    {"expect-log", StepKind::ExpectLog},
    {"expect-no-log", StepKind::ExpectNoLog},
    {"expect-telemetry", StepKind::ExpectTelemetry},
    {"expect-lcds-call", StepKind::ExpectLcdsCall},
    {"expect-fatal", StepKind::ExpectFatal},
}};

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
// The events of the stand-in client's record that await-client waits for.
constexpr std::array<std::string_view, 2> kClientEvents = {"window-opened", "foreground"};

// A problem found in one step; turned into a Failure naming the step.
struct Problem {
  std::string text;
};

// Reads the members of one step's mapping and remembers which it read, so
// that a member the step doesn't know (a typo) is refused, not ignored.
class StepReader {
 public:
  explicit StepReader(const BindingProperty& body) : mBody(body) {}

  [[nodiscard]] const BindingProperty* Get(std::string_view key) const {
    const BindingProperty* value = mBody.Find(key);
    if (value != nullptr) {
      mKnown.push_back(key);
    }
    return value;
  }
  [[nodiscard]] bool Has(std::string_view key) const { return Get(key) != nullptr; }

  // A text member; scalars are taken in their text form.
  std::string Text(std::string_view key, bool required, std::string fallback = {}) const {
    const BindingProperty* value = Get(key);
    if (value == nullptr || value->IsEmpty()) {
      if (required) {
        throw Problem{"the member \"" + std::string(key) + "\" is missing"};
      }
      return fallback;
    }
    if (value->Kind() == BindingKind::Structure || value->Kind() == BindingKind::Collection) {
      throw Problem{"the member \"" + std::string(key) + "\" must be a text"};
    }
    return value->AsString();
  }

  std::uint32_t Number(std::string_view key, std::uint32_t fallback) const {
    const BindingProperty* value = Get(key);
    if (value == nullptr) {
      return fallback;
    }
    if (value->Kind() != BindingKind::Unsigned || value->GetUnsigned(0) > UINT32_MAX) {
      throw Problem{"the member \"" + std::string(key) + "\" must be a whole number"};
    }
    return static_cast<std::uint32_t>(value->GetUnsigned(0));
  }

  // Refuses the first member that no Get asked for; `where` prefixes its
  // name ("expect." for the members of a request's expectation).
  void RefuseUnknown(std::string_view where = {}) const {
    for (const auto& member : mBody.Members()) {
      if (std::ranges::find(mKnown, member.name) == mKnown.end()) {
        throw Problem{"unknown member \"" + std::string(where) + std::string(member.name) + "\""};
      }
    }
  }

 private:
  const BindingProperty& mBody;
  mutable std::vector<std::string_view> mKnown;
};

ResponseExpectation ReadExpectation(const StepReader& reader) {
  ResponseExpectation expectation;
  if (const BindingProperty* status = reader.Get("status")) {
    if (status->Kind() == BindingKind::String && status->StringValue() == "success") {
      expectation.anySuccess = true;
    } else {
      expectation.status = reader.Number("status", 0);
    }
  }
  if (const BindingProperty* value = reader.Get("body")) {
    expectation.body = *value;
  } else if (const BindingProperty* subset = reader.Get("body-subset")) {
    expectation.body = *subset;
    expectation.subset = true;
  }
  if (reader.Has("error")) {
    expectation.error = reader.Text("error", true);
  }
  return expectation;
}

// Reads "value" or "subset" into the step; true when either was given.
bool ReadExpectedValue(const StepReader& reader, ScenarioStep& step) {
  if (reader.Has("value") && reader.Has("subset")) {
    throw Problem{"give \"value\" or \"subset\", not both"};
  }
  if (const BindingProperty* value = reader.Get("value")) {
    step.value = *value;
    step.hasValue = true;
  } else if (const BindingProperty* subset = reader.Get("subset")) {
    step.value = *subset;
    step.hasValue = true;
    step.subset = true;
  }
  return step.hasValue;
}

ScenarioStep ReadStep(const BindingProperty& entry, std::size_t index);

// One LCDS answer: {type, body, delay} or {status, error}.
LcdsAnswer ReadLcdsAnswer(const StepReader& reader) {
  LcdsAnswer answer;
  if (reader.Has("error") || reader.Has("status")) {
    answer.failure =
        Failure(reader.Number("status", 500), reader.Text("error", false, "LCDS call failed."));
    if (reader.Has("delay")) {
      throw Problem{"only an answer that succeeds can be delayed"};
    }
    return answer;
  }
  answer.typeName = reader.Text("type", false);
  if (const BindingProperty* value = reader.Get("body")) {
    answer.body = *value;
  }
  if (const BindingProperty* delay = reader.Get("delay")) {
    std::optional<std::chrono::nanoseconds> duration = ParseDuration(*delay);
    if (!duration) {
      throw Problem{"the member \"delay\" must be a duration"};
    }
    answer.delay = *duration;
  }
  return answer;
}

// One canned peer answer: {status, body} or {status, error}.
PeerAnswer ReadPeerAnswer(const StepReader& reader) {
  PeerAnswer answer;
  answer.error = reader.Text("error", false);
  answer.status = reader.Number("status", answer.error.empty() ? 200 : 500);
  if (const BindingProperty* value = reader.Get("body")) {
    if (!answer.error.empty()) {
      throw Problem{"an answer has a body or an error, not both"};
    }
    answer.body = *value;
  }
  if (answer.status >= 400 && answer.error.empty()) {
    answer.error = "Canned failure.";
  }
  return answer;
}

// The answer given in the step's own members, or the list under "answers"
// (one per call, in order).
template <class Answer, class ReadOne>
void ReadAnswers(const StepReader& reader, ReadOne readOne, std::vector<Answer>& into) {
  const BindingProperty* list = reader.Get("answers");
  if (list == nullptr) {
    into.push_back(readOne(reader));
    return;
  }
  if (list->Kind() != BindingKind::Collection || list->size() == 0) {
    throw Problem{"the member \"answers\" must be a list of answers"};
  }
  std::size_t position = 0;
  for (const BindingProperty& entry : list->Elements()) {
    ++position;
    if (entry.Kind() != BindingKind::Structure) {
      throw Problem{"answer " + std::to_string(position) + " must be a mapping"};
    }
    const StepReader one(entry);
    into.push_back(readOne(one));
    one.RefuseUnknown("answers[" + std::to_string(position) + "].");
  }
}

void ReadBody(StepKind kind, const BindingProperty& body, ScenarioStep& step) {
  if (kind == StepKind::Advance) {
    std::optional<std::chrono::nanoseconds> duration = ParseDuration(body);
    if (!duration) {
      throw Problem{"\"" + body.AsString() +
                    "\" is not a duration (write seconds, or a number with ms, s or min)"};
    }
    step.duration = *duration;
    step.title.append(" ").append(body.AsString());
    return;
  }
  if (kind == StepKind::WallClock) {
    if (body.Kind() != BindingKind::Unsigned) {
      throw Problem{"write the wall time as milliseconds since 1970"};
    }
    step.milliseconds = body.GetUnsigned(0);
    step.title.append(" ").append(body.AsString());
    return;
  }
  if (kind == StepKind::Load || kind == StepKind::Restart || kind == StepKind::Mark ||
      kind == StepKind::Shutdown) {
    if (!body.IsEmpty() && !(body.Kind() == BindingKind::Structure && body.size() == 0)) {
      throw Problem{"the step takes no members"};
    }
    return;
  }
  if (kind == StepKind::SignalClient) {
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
    return;
  }
  if (kind == StepKind::AwaitClient && body.Kind() != BindingKind::Structure) {
    if (body.Kind() != BindingKind::String ||
        std::ranges::find(kClientEvents, body.StringValue()) == kClientEvents.end()) {
      throw Problem{"the event must be window-opened or foreground"};
    }
    step.text = std::string(body.StringValue());
    step.title.append(" ").append(step.text);
    return;
  }
  if (kind == StepKind::ClientControl || kind == StepKind::ClientCommand) {
    if (body.Kind() != BindingKind::String) {
      throw Problem{kind == StepKind::ClientControl ? "write the control file's text"
                                                    : "write the command"};
    }
    step.text = std::string(body.StringValue());
    step.title.append(" ").append(step.text);
    return;
  }
  if ((kind == StepKind::ExpectLog || kind == StepKind::ExpectNoLog) &&
      body.Kind() != BindingKind::Structure) {
    if (body.Kind() != BindingKind::String) {
      throw Problem{"write the text to look for, or a mapping with \"contains\""};
    }
    step.text = std::string(body.StringValue());
    step.title.append(" ").append(step.text);
    return;
  }
  if (body.Kind() != BindingKind::Structure) {
    throw Problem{"the step needs a mapping of its members"};
  }
  StepReader reader(body);
  switch (kind) {
    case StepKind::ExpectClientSpawned: {
      if (reader.Has("count")) {
        step.expectedCount = reader.Number("count", 0);
        step.title.append(" count ").append(std::to_string(*step.expectedCount));
      }
      const BindingProperty* arguments = reader.Get("arguments");
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
      step.path = reader.Text("working-directory", false);
      if (!step.path.empty() && arguments == nullptr) {
        throw Problem{"\"working-directory\" is checked with \"arguments\""};
      }
      break;
    }
    case StepKind::AwaitClient: {
      step.text = reader.Text("event", true);
      if (std::ranges::find(kClientEvents, step.text) == kClientEvents.end()) {
        throw Problem{"the event must be window-opened or foreground"};
      }
      break;
    }
    case StepKind::ExpectTimers: {
      const auto names = [&reader](std::string_view key, std::vector<std::string>& into) {
        const BindingProperty* list = reader.Get(key);
        if (list == nullptr) {
          return;
        }
        if (list->Kind() != BindingKind::Collection) {
          throw Problem{"the member \"" + std::string(key) + "\" must be a list of timer names"};
        }
        for (const BindingProperty& name : list->Elements()) {
          into.push_back(name.AsString());
        }
      };
      names("running", step.timersRunning);
      names("stopped", step.timersStopped);
      if (step.timersRunning.empty() && step.timersStopped.empty()) {
        throw Problem{"name timers under \"running\" or \"stopped\""};
      }
      break;
    }
    case StepKind::ExpectFile:
      step.path = reader.Text("path", true);
      step.text = reader.Text("bytes", true);
      step.title.append(" ").append(step.path);
      break;
    case StepKind::AwaitClientExit:
      if (reader.Has("crash")) {
        const std::string crash = reader.Text("crash", true);
        if (crash == "segv") {
          step.signal = SIGSEGV;
        } else if (crash == "abort") {
          step.signal = SIGABRT;
        } else if (crash == "kill") {
          step.signal = SIGKILL;
        } else if (crash == "term") {
          step.signal = SIGTERM;
        } else {
          throw Problem{"the crash must be segv, abort, kill or term"};
        }
        step.title.append(" crash ").append(crash);
      } else {
        step.exitCode = static_cast<int>(reader.Number("code", 0));
        step.title.append(" code ").append(std::to_string(step.exitCode));
      }
      break;
    case StepKind::Set:
    case StepKind::Publish:
      step.path = reader.Text("path", true);
      if (!ReadExpectedValue(reader, step)) {
        throw Problem{"the member \"value\" is missing"};
      }
      break;
    case StepKind::Delete:
      step.path = reader.Text("path", true);
      break;
    case StepKind::PushLcds:
      step.text = reader.Text("type", true);
      if (const BindingProperty* value = reader.Get("body")) {
        step.value = *value;
      }
      step.subtopic = reader.Text("subtopic", false);
      step.clientId = reader.Text("client-id", false);
      break;
    case StepKind::LcdsAnswer: {
      step.text = reader.Text("call", true);
      if (step.text.find('.') == std::string::npos) {
        throw Problem{"the call must be written destination.method"};
      }
      ReadAnswers(
          reader, [](const StepReader& one) { return ReadLcdsAnswer(one); }, step.lcdsAnswers);
      break;
    }
    case StepKind::Answer: {
      step.method = reader.Text("method", false, "POST");
      if (MethodCode(step.method) == NALO_METHOD_NONE) {
        throw Problem{"\"" + step.method + "\" is not a method"};
      }
      step.path = reader.Text("path", true);
      ReadAnswers(
          reader, [](const StepReader& one) { return ReadPeerAnswer(one); }, step.peerAnswers);
      break;
    }
    case StepKind::Fault:
      step.path = reader.Text("path", true);
      step.count = reader.Number("count", 1);
      step.status = reader.Number("status", 500);
      step.text = reader.Text("error", false, "Injected fault.");
      break;
    case StepKind::ServiceProxy: {
      const std::string proxyKind = reader.Text("kind", true);
      if (proxyKind == "uuid") {
        step.proxyKind = ServiceProxyKind::Uuid;
      } else if (proxyKind == "method") {
        step.proxyKind = ServiceProxyKind::Method;
      } else if (proxyKind == "async") {
        step.proxyKind = ServiceProxyKind::Async;
      } else {
        throw Problem{"the kind must be uuid, method or async"};
      }
      step.reply = {reader.Text("uuid", false),   reader.Text("service", false),
                    reader.Text("method", false), reader.Text("payload", false),
                    reader.Text("status", false), reader.Text("error", false)};
      break;
    }
    case StepKind::Request:
      step.method = reader.Text("method", false, "GET");
      if (MethodCode(step.method) == NALO_METHOD_NONE) {
        throw Problem{"\"" + step.method + "\" is not a method"};
      }
      step.path = reader.Text("path", true);
      step.contentType = reader.Text("content-type", false, "application/json");
      if (reader.Has("body-text")) {
        step.text = reader.Text("body-text", true);
      } else if (const BindingProperty* value = reader.Get("body")) {
        step.text = ToJson(*value);
      }
      if (const BindingProperty* expect = reader.Get("expect")) {
        if (expect->Kind() != BindingKind::Structure) {
          throw Problem{"the member \"expect\" must be a mapping"};
        }
        const StepReader expectReader(*expect);
        step.expect = ReadExpectation(expectReader);
        expectReader.RefuseUnknown("expect.");
      }
      reader.RefuseUnknown();
      step.title.append(" ").append(step.method + " " + step.path);
      return;
    case StepKind::ExpectResponse:
      step.expect = ReadExpectation(reader);
      break;
    case StepKind::ExpectLog:
    case StepKind::ExpectNoLog:
      step.text = reader.Text("contains", true);
      if (reader.Has("level")) {
        const std::string level = reader.Text("level", true);
        const auto known = std::ranges::find(kLevelNames, level);
        if (known == kLevelNames.end()) {
          throw Problem{"the level must be OKAY, WARN, ERROR or ALWAYS"};
        }
        step.level = static_cast<std::uint32_t>(known - kLevelNames.begin());
      }
      step.group = reader.Text("group", false);
      if (!step.group.empty() && std::ranges::find(kGroupNames, step.group) == kGroupNames.end()) {
        throw Problem{"the group must be one of DBG, GEN, XTR, PRF, MEM, DSK, NET, TST"};
      }
      break;
    case StepKind::ExpectRequest:
    case StepKind::ExpectNoRequest:
      step.method = reader.Text("method", false);
      if (!step.method.empty() && MethodCode(step.method) == NALO_METHOD_NONE) {
        throw Problem{"\"" + step.method + "\" is not a method"};
      }
      step.path = reader.Text("path", true);
      if (reader.Has("body") && reader.Has("body-subset")) {
        throw Problem{"give \"body\" or \"body-subset\", not both"};
      }
      if (const BindingProperty* value = reader.Get("body")) {
        step.value = *value;
        step.hasValue = true;
      } else if (const BindingProperty* subset = reader.Get("body-subset")) {
        step.value = *subset;
        step.hasValue = true;
        step.subset = true;
      }
      if (kind == StepKind::ExpectRequest && reader.Has("count")) {
        step.expectedCount = reader.Number("count", 0);
      }
      if (!step.method.empty()) {
        step.title.append(" ").append(step.method);
      }
      break;
    case StepKind::ExpectPublished:
    case StepKind::ExpectResource:
      step.path = reader.Text("path", true);
      ReadExpectedValue(reader, step);
      // "deleted: false" asks for a value, like leaving the member out.
      if (const BindingProperty* deleted = reader.Get("deleted");
          deleted != nullptr && deleted->AsBool()) {
        step.method = "Delete";
      }
      break;
    case StepKind::ExpectNotPublished:
      step.path = reader.Text("path", true);
      break;
    case StepKind::ExpectSequence: {
      step.path = reader.Text("path", true);
      step.member = reader.Text("member", false);
      const BindingProperty* values = reader.Get("values");
      if (values == nullptr || values->Kind() != BindingKind::Collection) {
        throw Problem{"the member \"values\" must be a list"};
      }
      step.value = *values;
      step.hasValue = true;
      break;
    }
    case StepKind::ExpectTelemetry:
    case StepKind::ExpectNoTelemetry:
      step.text = reader.Text("name", true);
      ReadExpectedValue(reader, step);
      break;
    case StepKind::ExpectLcdsCall:
    case StepKind::ExpectNoLcdsCall:
      step.text = reader.Text("call", true);
      if (const BindingProperty* arguments = reader.Get("arguments")) {
        step.value = *arguments;
        step.hasValue = true;
        step.subset = true;
      }
      break;
    case StepKind::ExpectFatal:
    case StepKind::ExpectExit: {
      if (kind == StepKind::ExpectFatal) {
        step.text = reader.Text("code", true);
      } else {
        const BindingProperty* code = reader.Get("code");
        if (code == nullptr || code->Kind() != BindingKind::Unsigned ||
            code->GetUnsigned(0) > 255) {
          throw Problem{"the member \"code\" must be an exit code from 0 to 255"};
        }
        step.exitCode = static_cast<int>(code->GetUnsigned(0));
        step.text = std::to_string(step.exitCode);
      }
      const BindingProperty* during = reader.Get("during");
      if (during == nullptr || during->Kind() != BindingKind::Collection || during->size() == 0) {
        throw Problem{"the member \"during\" must be a list of steps"};
      }
      std::size_t inner = 0;
      for (const BindingProperty& entry : during->Elements()) {
        step.during.push_back(ReadStep(entry, ++inner));
      }
      break;
    }
    default:
      break;
  }
  reader.RefuseUnknown();
  if (!step.path.empty()) {
    step.title.append(" ").append(step.path);
  } else if (!step.text.empty()) {
    step.title.append(" ").append(step.text);
  }
}

ScenarioStep ReadStep(const BindingProperty& entry, std::size_t index) {
  ScenarioStep step;
  step.index = index;
  std::string_view name;
  const BindingProperty* body = nullptr;
  const BindingProperty none;
  if (entry.Kind() == BindingKind::String) {
    name = entry.StringValue();
    body = &none;
  } else if (entry.Kind() == BindingKind::Structure && entry.size() == 1) {
    const auto member = *entry.Members().begin();
    name = member.name;
    body = &member.value;
  } else {
    throw Failure(
        kBadScenario, Message::kStep,
        {{"index", index}, {"kind", "?"}, {"problem", "a step is a mapping with one key"}});
  }
  const auto known = std::ranges::find(kStepNames, name, &StepName::name);
  if (known == kStepNames.end()) {
    throw Failure(kBadScenario, Message::kStep,
                  {{"index", index}, {"kind", name}, {"problem", "no such step"}});
  }
  step.kind = known->kind;
  step.title = std::string(name);
  try {
    ReadBody(step.kind, *body, step);
  } catch (const Problem& problem) {
    throw Failure(kBadScenario, Message::kStep,
                  {{"index", index}, {"kind", name}, {"problem", problem.text}});
  }
  return step;
}

bool ParseVersion(std::string_view text, Scenario& scenario) {
  std::array<std::uint32_t, 3> parts{};
  const char* position = text.data();
  const char* end = text.data() + text.size();
  for (std::size_t i = 0; i < parts.size(); ++i) {
    auto [next, error] = std::from_chars(position, end, parts[i]);
    if (error != std::errc()) {
      return false;
    }
    position = next;
    if (i + 1 < parts.size()) {
      if (position == end || *position != '.') {
        return false;
      }
      ++position;
    }
  }
  if (position != end) {
    return false;
  }
  scenario.coreMajor = parts[0];
  scenario.coreMinor = parts[1];
  scenario.corePatch = parts[2];
  return true;
}

void ReadHost(const StepReader& host, Scenario& scenario) {
  if (const BindingProperty* line = host.Get("command-line")) {
    if (line->Kind() != BindingKind::Collection) {
      throw Problem{"command-line: it must be a list of texts"};
    }
    for (const BindingProperty& argument : line->Elements()) {
      scenario.commandLine.push_back(argument.AsString());
    }
  }
  if (const BindingProperty* version = host.Get("core-version")) {
    if (!ParseVersion(version->AsString(), scenario)) {
      throw Problem{"core-version: it must be written major.minor.patch"};
    }
  }
  if (const BindingProperty* piece = host.Get("stream-piece-size")) {
    if (piece->Kind() != BindingKind::Unsigned || piece->GetUnsigned(0) == 0) {
      throw Problem{"stream-piece-size: it must be a positive whole number"};
    }
    scenario.streamPieceSize = piece->GetUnsigned(0);
  }
  if (const BindingProperty* wall = host.Get("wall-clock")) {
    if (wall->Kind() != BindingKind::Unsigned) {
      throw Problem{"wall-clock: write the wall time at virtual time 0 as milliseconds since 1970"};
    }
    scenario.wallClockAtStart = wall->GetUnsigned(0);
  }
  if (host.Has("peers")) {
    const std::string peers = host.Text("peers", true);
    if (peers != "realistic" && peers != "plain") {
      throw Problem{"peers: it must be realistic or plain"};
    }
    scenario.peers = peers == "plain" ? PeerSetup::Plain : PeerSetup::Realistic;
  }
  if (const BindingProperty* announce = host.Get("announce-peers")) {
    if (announce->Kind() != BindingKind::Bool) {
      throw Problem{"announce-peers: it must be true or false"};
    }
    scenario.announcePeers = announce->AsBool();
  }
  host.RefuseUnknown();
}

void ReadHeader(const BindingProperty& document, Scenario& scenario) {
  const auto headerFailure = [](std::string_view key, std::string_view problem) {
    return Failure(kBadScenario, Message::kHeader, {{"key", key}, {"problem", problem}});
  };
  const StepReader top(document);
  const BindingProperty* name = top.Get("name");
  if (name == nullptr || name->Kind() != BindingKind::String || name->StringValue().empty()) {
    throw headerFailure("name", "every scenario needs one: a sentence naming the behaviour");
  }
  scenario.name = name->AsString();
  static_cast<void>(top.Get("steps"));  // read by the caller
  if (const BindingProperty* host = top.Get("host"); host != nullptr && !host->IsEmpty()) {
    if (host->Kind() != BindingKind::Structure) {
      throw headerFailure("host", "it must be a mapping");
    }
    try {
      ReadHost(StepReader(*host), scenario);
    } catch (const Problem& problem) {
      throw headerFailure("host", problem.text);
    }
  }
  if (const BindingProperty* client = top.Get("stand-in-client"); client != nullptr) {
    if (client->Kind() != BindingKind::String) {
      throw headerFailure("stand-in-client", "write the client's control file as a text");
    }
    scenario.standInClient = std::string(client->StringValue());
  }
  if (const BindingProperty* secrets = top.Get("secrets"); secrets != nullptr) {
    if (secrets->Kind() != BindingKind::Collection) {
      throw headerFailure("secrets", "it must be a list of texts");
    }
    for (const BindingProperty& secret : secrets->Elements()) {
      if (secret.Kind() != BindingKind::String || secret.StringValue().empty()) {
        throw headerFailure("secrets", "it must be a list of texts");
      }
      scenario.secrets.emplace_back(secret.StringValue());
    }
  }
  if (const BindingProperty* resources = top.Get("resources"); resources != nullptr) {
    if (resources->Kind() != BindingKind::Structure && !resources->IsEmpty()) {
      throw headerFailure("resources", "it must be a mapping from path to value");
    }
    for (const auto& member : resources->Members()) {
      scenario.resources.emplace_back(std::string(member.name), member.value);
    }
  }
  if (const BindingProperty* answers = top.Get("lcds"); answers != nullptr) {
    if (answers->Kind() != BindingKind::Structure && !answers->IsEmpty()) {
      throw headerFailure("lcds", "it must be a mapping from destination.method to answer");
    }
    for (const auto& member : answers->Members()) {
      BindingProperty entry;
      entry.member("lcds-answer") = member.value;
      entry.member("lcds-answer").member("call").SetString(member.name);
      ScenarioStep step = ReadStep(entry, 0);
      scenario.steps.push_back(std::move(step));
    }
  }
  try {
    top.RefuseUnknown();
  } catch (const Problem& problem) {
    throw headerFailure("header", problem.text);
  }
}

// The text of line `number` (counted from 1), without its line break.
std::string_view LineOf(std::string_view text, std::size_t number) {
  for (std::size_t line = 1; line < number && !text.empty(); ++line) {
    const std::size_t end = text.find('\n');
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return text.substr(0, text.find('\n'));
}

// Where libyaml finds `text` unreadable, told with lines and columns counted
// from 1, the construct it was reading and where that began (an unclosed
// quote or bracket is found only at the end of the text), and the text of
// the line that most likely holds the mistake. Nothing when libyaml reads
// the text without error (the problem is then the tree builder's, whose
// message already counts from 1).
std::optional<Failure> YamlSyntaxFailure(std::string_view text) {
  yaml_parser_t parser;
  if (yaml_parser_initialize(&parser) == 0) {
    return std::nullopt;
  }
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                               text.size());
  std::optional<Failure> failure;
  for (;;) {
    yaml_event_t event;
    if (yaml_parser_parse(&parser, &event) == 0) {
      const std::size_t line = parser.problem_mark.line + 1;
      const bool hasContext = parser.context != nullptr;
      const std::size_t contextLine = parser.context_mark.line + 1;
      std::string context;
      if (hasContext) {
        context = " (" + std::string(parser.context) + " that began at line " +
                  std::to_string(contextLine) + ", column " +
                  std::to_string(parser.context_mark.column + 1) + ")";
      }
      // An unclosed construct is noticed where the text ends: its start is
      // where to look.
      const bool atEnd = parser.problem_mark.index >= text.size();
      std::size_t shown = hasContext && atEnd ? contextLine : line;
      while (atEnd && shown > 1 && LineOf(text, shown).empty()) {
        --shown;  // the last line that holds something
      }
      const std::string_view shownText = LineOf(text, shown);
      failure = Failure(kBadScenario, Message::kYamlSyntax,
                        {{"line", line},
                         {"column", parser.problem_mark.column + 1},
                         {"problem", parser.problem != nullptr ? parser.problem : "unreadable"},
                         {"context", context},
                         {"shown", shown},
                         {"text", shownText.empty() ? std::string("(empty)")
                                                    : "\"" + std::string(shownText) + "\""}});
      break;
    }
    const bool end = event.type == YAML_STREAM_END_EVENT;
    yaml_event_delete(&event);
    if (end) {
      break;
    }
  }
  yaml_parser_delete(&parser);
  return failure;
}

}  // namespace

std::optional<std::chrono::nanoseconds> ParseDuration(const BindingProperty& value) {
  double seconds = -1;
  switch (value.Kind()) {
    case BindingKind::Unsigned:
      seconds = static_cast<double>(value.GetUnsigned(0));
      break;
    case BindingKind::Float:
      seconds = value.GetFloat(-1);
      break;
    case BindingKind::String: {
      const std::string_view text = value.StringValue();
      double scale = 1;
      std::string_view number = text;
      if (text.ends_with("ms")) {
        scale = 1e-3;
        number.remove_suffix(2);
      } else if (text.ends_with("min")) {
        scale = 60;
        number.remove_suffix(3);
      } else if (text.ends_with("s")) {
        number.remove_suffix(1);
      }
      double parsed = 0;
      auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), parsed);
      if (error != std::errc() || end != number.data() + number.size()) {
        return std::nullopt;
      }
      seconds = parsed * scale;
      break;
    }
    default:
      return std::nullopt;
  }
  if (!(seconds >= 0) || !std::isfinite(seconds)) {
    return std::nullopt;
  }
  return std::chrono::nanoseconds(static_cast<std::int64_t>(std::llround(seconds * 1e9)));
}

MaybeType<Failure, Scenario> ParseScenario(std::string_view yamlText) {
  BindingResult parsed = ParseYaml(yamlText);
  if (parsed.Failed()) {
    if (std::optional<Failure> syntax = YamlSyntaxFailure(yamlText)) {
      return std::move(*syntax);
    }
    return Failure(kBadScenario, Message::kUnreadable, {{"error", parsed.ErrorMessage()}});
  }
  const BindingProperty& document = parsed.Value();
  const BindingProperty* steps = document.Find("steps");
  if (document.Kind() != BindingKind::Structure || steps == nullptr ||
      steps->Kind() != BindingKind::Collection) {
    return Failure(kBadScenario, Message::kNotAMapping);
  }
  Scenario scenario;
  // Failures travel as exceptions only inside this function; none leaves it.
  try {
    ReadHeader(document, scenario);
    if (steps->size() == 0) {
      throw Failure(kBadScenario, Message::kHeader,
                    {{"key", "steps"}, {"problem", "a scenario needs at least one step"}});
    }
    std::size_t index = 0;
    for (const BindingProperty& entry : steps->Elements()) {
      scenario.steps.push_back(ReadStep(entry, ++index));
      const StepKind kind = scenario.steps.back().kind;
      const bool clientStep = kind == StepKind::ClientControl || kind == StepKind::ClientCommand ||
                              kind == StepKind::ExpectClientSpawned ||
                              kind == StepKind::ExpectFile || kind == StepKind::AwaitClientExit ||
                              kind == StepKind::SignalClient || kind == StepKind::AwaitClient;
      if (clientStep && !scenario.standInClient.has_value()) {
        throw Failure(
            kBadScenario, Message::kStep,
            {{"index", index},
             {"kind", scenario.steps.back().title.substr(0, scenario.steps.back().title.find(' '))},
             {"problem", "the scenario installs no stand-in-client"}});
      }
    }
  } catch (Failure& failure) {
    return std::move(failure);
  }
  return scenario;
}

}  // namespace Nalo::Host
