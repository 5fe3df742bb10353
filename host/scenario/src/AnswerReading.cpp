// Reading the canned answers of the lcds-answer and answer steps (and of the
// header's lcds table): one answer in the step's own members, or a list of
// them under "answers", one per call in order.

#include "host/core/Host.h"
#include "host/scenario/src/StepReading.h"

namespace Nalo::Host::detail {

namespace {

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
template <class Answer>
void ReadAnswers(const StepReader& reader, Answer (*readOne)(const StepReader&),
                 std::vector<Answer>& into) {
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

}  // namespace

void CheckMethod(const std::string& method) {
  if (MethodCode(method) == NALO_METHOD_NONE) {
    throw Problem{"\"" + method + "\" is not a method"};
  }
}

void ReadLcdsAnswerStep(const StepReader& reader, ScenarioStep& step) {
  step.text = reader.Text("call", true);
  if (step.text.find('.') == std::string::npos) {
    throw Problem{"the call must be written destination.method"};
  }
  ReadAnswers(reader, &ReadLcdsAnswer, step.lcdsAnswers);
}

void ReadAnswerStep(const StepReader& reader, ScenarioStep& step) {
  step.method = reader.Text("method", false, "POST");
  CheckMethod(step.method);
  step.path = reader.Text("path", true);
  ReadAnswers(reader, &ReadPeerAnswer, step.peerAnswers);
}

}  // namespace Nalo::Host::detail
