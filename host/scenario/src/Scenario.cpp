// Scenario parsing: YAML text to the typed step list. This file reads the
// header and the list; each step is read by the table of StepTable.cpp.

#include "host/scenario/Scenario.h"

#include <yaml.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

#include "binding/Yaml.h"
#include "host/scenario/src/StepReading.h"

namespace Nalo::Host {

namespace {

using detail::kBadScenario;
using detail::Problem;
using detail::ReadStep;
using detail::StepReader;

namespace Message {
constexpr std::string_view kUnreadable = "The scenario can't be read: {error}";
constexpr std::string_view kYamlSyntax =
    "The scenario can't be read: YAML syntax error at line {line}, column {column}: "
    "{problem}{context}. Line {shown}: {text}";
constexpr std::string_view kNotAMapping = "The scenario must be a mapping with a list of steps.";
constexpr std::string_view kHeader = "The scenario's {key}: {problem}";
}  // namespace Message

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

namespace detail {

const BindingProperty* StepReader::Get(std::string_view key) const {
  const BindingProperty* value = mBody.Find(key);
  if (value != nullptr) {
    mKnown.push_back(key);
  }
  return value;
}

std::string StepReader::Text(std::string_view key, bool required, std::string fallback) const {
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

std::uint32_t StepReader::Number(std::string_view key, std::uint32_t fallback) const {
  const BindingProperty* value = Get(key);
  if (value == nullptr) {
    return fallback;
  }
  if (value->Kind() != BindingKind::Unsigned || value->GetUnsigned(0) > UINT32_MAX) {
    throw Problem{"the member \"" + std::string(key) + "\" must be a whole number"};
  }
  return static_cast<std::uint32_t>(value->GetUnsigned(0));
}

void StepReader::RefuseUnknown(std::string_view where) const {
  for (const auto& member : mBody.Members()) {
    if (std::ranges::find(mKnown, member.name) == mKnown.end()) {
      throw Problem{"unknown member \"" + std::string(where) + std::string(member.name) + "\""};
    }
  }
}

}  // namespace detail

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
      if (detail::NeedsStandInClient(scenario.steps.back().kind) &&
          !scenario.standInClient.has_value()) {
        throw Failure(
            kBadScenario, detail::kStepMessage,
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
