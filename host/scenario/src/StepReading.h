#pragma once
// Reading one step of a scenario file into a ScenarioStep: the table of step
// kinds (StepTable.cpp) names each kind and the reader of its body, and the
// readers take their members through StepReader, which refuses a member that
// no reader asked for (a typo), so that nothing written is silently ignored.
//
// A reader reports a problem by throwing Problem; ReadStep turns it into the
// 400 Failure naming the step ("Step 3 (request): unknown member \"expct\"").
// Neither leaves ParseScenario, which returns the Failure as a value.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "host/scenario/Scenario.h"

namespace Nalo::Host::detail {

inline constexpr std::uint32_t kBadScenario = 400;
inline constexpr std::string_view kStepMessage = "Step {index} ({kind}): {problem}";

// A problem found in one step; ReadStep turns it into a Failure naming the step.
struct Problem {
  std::string text;
};

// Reads the members of one mapping and remembers which it read.
class StepReader {
 public:
  explicit StepReader(const BindingProperty& body) : mBody(body) {}

  // The member `key`, or null; either way `key` counts as known.
  [[nodiscard]] const BindingProperty* Get(std::string_view key) const;
  [[nodiscard]] bool Has(std::string_view key) const { return Get(key) != nullptr; }
  // A text member; scalars are taken in their text form. Throws Problem when
  // a required one is missing or the member is a list or a mapping.
  [[nodiscard]] std::string Text(std::string_view key, bool required,
                                 std::string fallback = {}) const;
  // A whole number up to 2^32 - 1; `fallback` when absent. Throws Problem
  // for anything else.
  [[nodiscard]] std::uint32_t Number(std::string_view key, std::uint32_t fallback) const;
  // Throws Problem for the first member that no Get asked for; `where`
  // prefixes its name ("expect." for the members of a request's expectation).
  void RefuseUnknown(std::string_view where = {}) const;

 private:
  const BindingProperty& mBody;
  mutable std::vector<std::string_view> mKnown;
};

// Reads a step written as a bare word ("load") or a mapping with one key,
// the step's kind, whose value is its body. `index` is its 1-based position
// in its list (0 for the header's lcds answers). Throws the Failure to report.
[[nodiscard]] ScenarioStep ReadStep(const BindingProperty& entry, std::size_t index);

// Whether steps of `kind` work on the stand-in game client, which the
// scenario must then install.
[[nodiscard]] bool NeedsStandInClient(StepKind kind);

// Throws Problem for a method that the core doesn't know.
void CheckMethod(const std::string& method);

// Readers that StepTable.cpp's table names from other rooms. A body reader
// takes the step's whole body; a members reader its mapping.
// The answer steps (AnswerReading.cpp):
void ReadLcdsAnswerStep(const StepReader& members, ScenarioStep& step);
void ReadAnswerStep(const StepReader& members, ScenarioStep& step);

// The stand-in client's steps (ClientStepReading.cpp):
void ReadSignalBody(const BindingProperty& body, ScenarioStep& step);
void ReadClientEventBody(const BindingProperty& body, ScenarioStep& step);
void ReadClientEventMembers(const StepReader& members, ScenarioStep& step);
void ReadClientControlBody(const BindingProperty& body, ScenarioStep& step);
void ReadClientCommandBody(const BindingProperty& body, ScenarioStep& step);
void ReadClientSpawnedMembers(const StepReader& members, ScenarioStep& step);
void ReadFileMembers(const StepReader& members, ScenarioStep& step);
void ReadClientExitMembers(const StepReader& members, ScenarioStep& step);

}  // namespace Nalo::Host::detail
