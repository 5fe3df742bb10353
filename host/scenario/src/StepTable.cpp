// The table of step kinds and the readers of the acting steps and the
// expectations (the stand-in client's steps are read in ClientStepReading.cpp).

#include <algorithm>
#include <array>
#include <optional>

#include "binding/Json.h"
#include "host/core/Host.h"
#include "host/scenario/src/StepReading.h"

namespace Nalo::Host::detail {

namespace {

constexpr std::array<std::string_view, 8> kGroupNames = {"DBG", "GEN", "XTR", "PRF",
                                                         "MEM", "DSK", "NET", "TST"};

// --- Pieces that several steps share -----------------------------------------------------

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

// Reads `exact` or `subset` into the step; true when either was given.
bool ReadExpectedValue(const StepReader& reader, ScenarioStep& step,
                       std::string_view exact = "value", std::string_view subset = "subset") {
  if (reader.Has(exact) && reader.Has(subset)) {
    throw Problem{"give \"" + std::string(exact) + "\" or \"" + std::string(subset) +
                  "\", not both"};
  }
  if (const BindingProperty* value = reader.Get(exact)) {
    step.value = *value;
    step.hasValue = true;
  } else if (const BindingProperty* part = reader.Get(subset)) {
    step.value = *part;
    step.hasValue = true;
    step.subset = true;
  }
  return step.hasValue;
}
// --- Steps written as a scalar -----------------------------------------------------------

void ReadNoMembers(const BindingProperty& body, ScenarioStep&) {
  if (!body.IsEmpty() && !(body.Kind() == BindingKind::Structure && body.size() == 0)) {
    throw Problem{"the step takes no members"};
  }
}

void ReadAdvance(const BindingProperty& body, ScenarioStep& step) {
  std::optional<std::chrono::nanoseconds> duration = ParseDuration(body);
  if (!duration) {
    throw Problem{"\"" + body.AsString() +
                  "\" is not a duration (write seconds, or a number with ms, s or min)"};
  }
  step.duration = *duration;
  step.title.append(" ").append(body.AsString());
}

void ReadWallClock(const BindingProperty& body, ScenarioStep& step) {
  if (body.Kind() != BindingKind::Unsigned) {
    throw Problem{"write the wall time as milliseconds since 1970"};
  }
  step.milliseconds = body.GetUnsigned(0);
  step.title.append(" ").append(body.AsString());
}

void ReadLogText(const BindingProperty& body, ScenarioStep& step) {
  if (body.Kind() != BindingKind::String) {
    throw Problem{"write the text to look for, or a mapping with \"contains\""};
  }
  step.text = std::string(body.StringValue());
  step.title.append(" ").append(step.text);
}

// --- Acting steps ------------------------------------------------------------------------

void ReadStore(const StepReader& reader, ScenarioStep& step) {
  step.path = reader.Text("path", true);
  if (!ReadExpectedValue(reader, step)) {
    throw Problem{"the member \"value\" is missing"};
  }
}

void ReadPath(const StepReader& reader, ScenarioStep& step) {
  step.path = reader.Text("path", true);
}

void ReadPushLcds(const StepReader& reader, ScenarioStep& step) {
  step.text = reader.Text("type", true);
  if (const BindingProperty* value = reader.Get("body")) {
    step.value = *value;
  }
  step.subtopic = reader.Text("subtopic", false);
  step.clientId = reader.Text("client-id", false);
}

void ReadFault(const StepReader& reader, ScenarioStep& step) {
  step.path = reader.Text("path", true);
  step.count = reader.Number("count", 1);
  step.status = reader.Number("status", 500);
  step.text = reader.Text("error", false, "Injected fault.");
}

void ReadServiceProxy(const StepReader& reader, ScenarioStep& step) {
  const std::string kind = reader.Text("kind", true);
  if (kind == "uuid") {
    step.proxyKind = ServiceProxyKind::Uuid;
  } else if (kind == "method") {
    step.proxyKind = ServiceProxyKind::Method;
  } else if (kind == "async") {
    step.proxyKind = ServiceProxyKind::Async;
  } else {
    throw Problem{"the kind must be uuid, method or async"};
  }
  step.reply = {reader.Text("uuid", false),   reader.Text("service", false),
                reader.Text("method", false), reader.Text("payload", false),
                reader.Text("status", false), reader.Text("error", false)};
}

void ReadRequest(const StepReader& reader, ScenarioStep& step) {
  step.method = reader.Text("method", false, "GET");
  CheckMethod(step.method);
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
  step.title.append(" ").append(step.method + " " + step.path);
}

// --- Expectations ------------------------------------------------------------------------

void ReadExpectResponse(const StepReader& reader, ScenarioStep& step) {
  step.expect = ReadExpectation(reader);
}

void ReadExpectLog(const StepReader& reader, ScenarioStep& step) {
  step.text = reader.Text("contains", true);
  if (reader.Has("level")) {
    const std::string level = reader.Text("level", true);
    const auto known = std::ranges::find(kLogLevelNames, level);
    if (known == kLogLevelNames.end()) {
      throw Problem{"the level must be OKAY, WARN, ERROR or ALWAYS"};
    }
    step.level = static_cast<std::uint32_t>(known - kLogLevelNames.begin());
  }
  step.group = reader.Text("group", false);
  if (!step.group.empty() && std::ranges::find(kGroupNames, step.group) == kGroupNames.end()) {
    throw Problem{"the group must be one of DBG, GEN, XTR, PRF, MEM, DSK, NET, TST"};
  }
}

void ReadExpectNoRequest(const StepReader& reader, ScenarioStep& step) {
  step.method = reader.Text("method", false);
  if (!step.method.empty()) {
    CheckMethod(step.method);
  }
  step.path = reader.Text("path", true);
  ReadExpectedValue(reader, step, "body", "body-subset");
  if (!step.method.empty()) {
    step.title.append(" ").append(step.method);
  }
}

void ReadExpectRequest(const StepReader& reader, ScenarioStep& step) {
  ReadExpectNoRequest(reader, step);
  if (reader.Has("count")) {
    step.expectedCount = reader.Number("count", 0);
  }
}

void ReadExpectValueAt(const StepReader& reader, ScenarioStep& step) {
  step.path = reader.Text("path", true);
  ReadExpectedValue(reader, step);
  // "deleted: false" asks for a value, like leaving the member out.
  if (const BindingProperty* deleted = reader.Get("deleted");
      deleted != nullptr && deleted->AsBool()) {
    step.method = "Delete";
  }
}

void ReadExpectSequence(const StepReader& reader, ScenarioStep& step) {
  step.path = reader.Text("path", true);
  step.member = reader.Text("member", false);
  const BindingProperty* values = reader.Get("values");
  if (values == nullptr || values->Kind() != BindingKind::Collection) {
    throw Problem{"the member \"values\" must be a list"};
  }
  step.value = *values;
  step.hasValue = true;
}

void ReadExpectTelemetry(const StepReader& reader, ScenarioStep& step) {
  step.text = reader.Text("name", true);
  ReadExpectedValue(reader, step);
}

void ReadExpectLcdsCall(const StepReader& reader, ScenarioStep& step) {
  step.text = reader.Text("call", true);
  if (const BindingProperty* arguments = reader.Get("arguments")) {
    step.value = *arguments;
    step.hasValue = true;
    step.subset = true;
  }
}

void ReadExpectTimers(const StepReader& reader, ScenarioStep& step) {
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
}

void ReadDuring(const StepReader& reader, ScenarioStep& step) {
  const BindingProperty* during = reader.Get("during");
  if (during == nullptr || during->Kind() != BindingKind::Collection || during->size() == 0) {
    throw Problem{"the member \"during\" must be a list of steps"};
  }
  std::size_t inner = 0;
  for (const BindingProperty& entry : during->Elements()) {
    step.during.push_back(ReadStep(entry, ++inner));
  }
}

void ReadExpectFatal(const StepReader& reader, ScenarioStep& step) {
  step.text = reader.Text("code", true);
  ReadDuring(reader, step);
}

void ReadExpectExit(const StepReader& reader, ScenarioStep& step) {
  const BindingProperty* code = reader.Get("code");
  if (code == nullptr || code->Kind() != BindingKind::Unsigned || code->GetUnsigned(0) > 255) {
    throw Problem{"the member \"code\" must be an exit code from 0 to 255"};
  }
  step.exitCode = static_cast<int>(code->GetUnsigned(0));
  step.text = std::to_string(step.exitCode);
  ReadDuring(reader, step);
}

// --- The table ---------------------------------------------------------------------------

using BodyReader = void (*)(const BindingProperty& body, ScenarioStep& step);
using MembersReader = void (*)(const StepReader& members, ScenarioStep& step);

// How a step's body is read. With only `body`, whatever is written is its
// body; with only `members`, it must be a mapping, whose members no reader
// asked for are refused and whose path (else its text) ends the title;
// with both, a mapping goes to `members` and anything else to `body`.
struct StepRow {
  std::string_view name;
  StepKind kind;
  BodyReader body = nullptr;
  MembersReader members = nullptr;
  bool titled = false;         // `members` writes the whole title itself
  bool standInClient = false;  // the step works on the stand-in game client
};

// clang-format off
constexpr std::array<StepRow, 38> kSteps = {{
    // name                     kind                            body                    members
    {"load",                    StepKind::Load,                 &ReadNoMembers},
    {"restart",                 StepKind::Restart,              &ReadNoMembers},
    {"shutdown",                StepKind::Shutdown,             &ReadNoMembers},
    {"mark",                    StepKind::Mark,                 &ReadNoMembers},
    {"set",                     StepKind::Set,                  nullptr,                &ReadStore},
    {"publish",                 StepKind::Publish,              nullptr,                &ReadStore},
    {"delete",                  StepKind::Delete,               nullptr,                &ReadPath},
    {"push-lcds",               StepKind::PushLcds,             nullptr,                &ReadPushLcds},
    {"lcds-answer",             StepKind::LcdsAnswer,           nullptr,                &ReadLcdsAnswerStep},
    {"answer",                  StepKind::Answer,               nullptr,                &ReadAnswerStep},
    {"fault",                   StepKind::Fault,                nullptr,                &ReadFault},
    {"service-proxy",           StepKind::ServiceProxy,         nullptr,                &ReadServiceProxy},
    {"request",                 StepKind::Request,              nullptr,                &ReadRequest, true},
    {"advance",                 StepKind::Advance,              &ReadAdvance},
    {"wall-clock",              StepKind::WallClock,            &ReadWallClock},
    {"expect-response",         StepKind::ExpectResponse,       nullptr,                &ReadExpectResponse},
    {"expect-published",        StepKind::ExpectPublished,      nullptr,                &ReadExpectValueAt},
    {"expect-not-published",    StepKind::ExpectNotPublished,   nullptr,                &ReadPath},
    {"expect-sequence",         StepKind::ExpectSequence,       nullptr,                &ReadExpectSequence},
    {"expect-resource",         StepKind::ExpectResource,       nullptr,                &ReadExpectValueAt},
    {"expect-log",              StepKind::ExpectLog,            &ReadLogText,           &ReadExpectLog},
    {"expect-no-log",           StepKind::ExpectNoLog,          &ReadLogText,           &ReadExpectLog},
    {"expect-telemetry",        StepKind::ExpectTelemetry,      nullptr,                &ReadExpectTelemetry},
    {"expect-no-telemetry",     StepKind::ExpectNoTelemetry,    nullptr,                &ReadExpectTelemetry},
    {"expect-lcds-call",        StepKind::ExpectLcdsCall,       nullptr,                &ReadExpectLcdsCall},
    {"expect-no-lcds-call",     StepKind::ExpectNoLcdsCall,     nullptr,                &ReadExpectLcdsCall},
    {"expect-request",          StepKind::ExpectRequest,        nullptr,                &ReadExpectRequest},
    {"expect-no-request",       StepKind::ExpectNoRequest,      nullptr,                &ReadExpectNoRequest},
    {"expect-timers",           StepKind::ExpectTimers,         nullptr,                &ReadExpectTimers},
    {"expect-fatal",            StepKind::ExpectFatal,          nullptr,                &ReadExpectFatal},
    {"expect-exit",             StepKind::ExpectExit,           nullptr,                &ReadExpectExit},
    {"client-control",          StepKind::ClientControl,        &ReadClientControlBody, nullptr,                   false, true},
    {"client-command",          StepKind::ClientCommand,        &ReadClientCommandBody, nullptr,                   false, true},
    {"signal-client",           StepKind::SignalClient,         &ReadSignalBody,        nullptr,                   false, true},
    {"await-client",            StepKind::AwaitClient,          &ReadClientEventBody,   &ReadClientEventMembers,   false, true},
    {"await-client-exit",       StepKind::AwaitClientExit,      nullptr,                &ReadClientExitMembers,    false, true},
    {"expect-client-spawned",   StepKind::ExpectClientSpawned,  nullptr,                &ReadClientSpawnedMembers, false, true},
    {"expect-file",             StepKind::ExpectFile,           nullptr,                &ReadFileMembers,          false, true},
}};
// clang-format on

void ReadBody(const StepRow& row, const BindingProperty& body, ScenarioStep& step) {
  if (row.body != nullptr && (row.members == nullptr || body.Kind() != BindingKind::Structure)) {
    row.body(body, step);
    return;
  }
  if (body.Kind() != BindingKind::Structure) {
    throw Problem{"the step needs a mapping of its members"};
  }
  const StepReader reader(body);
  row.members(reader, step);
  reader.RefuseUnknown();
  if (row.titled) {
    return;
  }
  if (!step.path.empty()) {
    step.title.append(" ").append(step.path);
  } else if (!step.text.empty()) {
    step.title.append(" ").append(step.text);
  }
}

}  // namespace

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
        kBadScenario, kStepMessage,
        {{"index", index}, {"kind", "?"}, {"problem", "a step is a mapping with one key"}});
  }
  const auto row = std::ranges::find(kSteps, name, &StepRow::name);
  if (row == kSteps.end()) {
    throw Failure(kBadScenario, kStepMessage,
                  {{"index", index}, {"kind", name}, {"problem", "no such step"}});
  }
  step.kind = row->kind;
  step.title = std::string(name);
  try {
    ReadBody(*row, *body, step);
  } catch (const Problem& problem) {
    throw Failure(kBadScenario, kStepMessage,
                  {{"index", index}, {"kind", name}, {"problem", problem.text}});
  }
  return step;
}

bool NeedsStandInClient(StepKind kind) {
  const auto row = std::ranges::find(kSteps, kind, &StepRow::kind);
  return row != kSteps.end() && row->standInClient;
}

}  // namespace Nalo::Host::detail
