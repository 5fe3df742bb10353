// What the new log lines of every step must not show: a secret the scenario
// hands out, or the plugin refusing an LCDS answer of the wrong class.

#include <algorithm>
#include <cctype>

#include "binding/Json.h"
#include "host/peers/Peers.h"
#include "host/scenario/src/Runner.h"

namespace Nalo::Host::detail {

namespace {

constexpr std::string_view kAuthTokenPath = "/naloclient/auth-token";

// Shorter texts can't be told from ordinary words in a log line.
constexpr std::size_t kShortestSecret = 6;

}  // namespace

// The plugin runtime refuses a reply whose class is not the one it has
// registered for the call's result ("Expected 'A' as LCDS response for
// d.m, but got 'B'"); the failure reaches the plugin's code, which may log
// it or answer a request with it, or drop it. The class table stays inside
// the plugin, so the runner looks for that refusal in the new log lines
// and in a request's answer: every LCDS answer comes from the scenario,
// so the refusal means that an answer names the wrong class (a typo, for
// one), and the step fails instead of the plugin failing silently.
StepResult Runner::FindRefusedLcdsClass(const ScenarioStep& step) {
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

void Runner::AddSecret(std::string_view text, std::string source) {
  if (text.size() < kShortestSecret ||
      std::ranges::any_of(mSecrets, [text](const Secret& known) { return known.text == text; })) {
    return;
  }
  mSecrets.push_back({std::string(text), std::move(source)});
}

// The values of members that hold keys ("encryptionKey",
// "observerEncryptionKey", any name ending so), at every depth of `value`.
void Runner::AddSecretsIn(const BindingProperty& value, const std::string& where) {
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

void Runner::AddSecretsOf(const ScenarioStep& step, const std::string& where) {
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
void Runner::RegisterSecrets() {
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
StepResult Runner::FindSecretInLog() {
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

}  // namespace Nalo::Host::detail
