#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "hsm/StateMachine.h"
#include "tests/hsm/Recorder.h"

namespace Nalo::Hsm::Testing {
namespace {

// Root ─┬─ A ─┬─ A1 ── A1a
//       │     └─ A2
//       ├─ B ── B1 ── B1a
//       ├─ BadToAncestor   (initial target: Root)
//       ├─ BadToSelf       (initial target: itself)
//       └─ BadToForeign    (initial target: ForeignChild)
// Foreign ── ForeignChild    (a second chart)
extern const State kRoot, kA, kA1, kA1a, kA2, kB, kB1, kB1a, kBadToAncestor, kBadToSelf,
    kBadToForeign, kForeign, kForeignChild;

void Reenter(const Machine& machine) {
  static_cast<void>(machine.GetOwner()->machine->ProcessEvent("tick"));
}

// clang-format off
const Transition kRows[] = {
//  source   event          action            target
  {&kRoot,  "shared",      Note("shared"),   nullptr},
  {&kRoot,  "toRoot",      Note("toRoot"),   &kRoot},
  {&kRoot,  "home",        Note("home"),     &kA1a},
  {&kRoot,  "toA2",        {},               &kA2},
  {&kRoot,  "toB",         {},               &kB},
  {&kRoot,  "foreign",     Note("foreign"),  &kForeignChild},
  {&kRoot,  "badAncestor", {},               &kBadToAncestor},
  {&kRoot,  "badSelf",     {},               &kBadToSelf},
  {&kRoot,  "badForeign",  {},               &kBadToForeign},
  {&kRoot,  "reenter",     Reenter,          nullptr},
  {&kA,     "shared",      Note("sharedA"),  nullptr},
  {&kA,     "toA",         Note("toA"),      &kA},
  {&kA1a,   "up",          Note("up"),       &kA1},
  {&kA1a,   "cousin",      Note("cousin"),   &kB1a},
  {&kA1a,   "self",        Note("self"),     &kA1a},
  {&kA1a,   "tick",        Note("tick"),     nullptr},
  {&kA1a,   "twice",       Note("first"),    &kA2},
  {&kA1a,   "twice",       Note("second"),   &kB},
  {&kA2,    "sibling",     Note("sibling"),  &kA1},
  {&kB,     "toB1",        Note("toB1"),     &kB1},
  {&kB1a,   "swallow",     {},               nullptr},
};

//                          name             parent     entry        exit        initial                       rows
const State kRoot          {"Root",          nullptr,   RecordEntry, RecordExit, {&kA, Note("initRoot")},      kRows};
const State kA             {"A",             &kRoot,    RecordEntry, RecordExit, {&kA1},                       kRows};
const State kA1            {"A1",            &kA,       RecordEntry, RecordExit, {&kA1a, Note("initA1")},      kRows};
const State kA1a           {"A1a",           &kA1,      RecordEntry, RecordExit, {},                           kRows};
const State kA2            {"A2",            &kA,       RecordEntry, RecordExit, {},                           kRows};
const State kB             {"B",             &kRoot,    RecordEntry, RecordExit, {},                           kRows};
const State kB1            {"B1",            &kB,       RecordEntry, RecordExit, {&kB1a, Note("initB1")},      kRows};
const State kB1a           {"B1a",           &kB1,      RecordEntry, RecordExit, {},                           kRows};
const State kBadToAncestor {"BadToAncestor", &kRoot,    RecordEntry, RecordExit, {&kRoot},                     kRows};
const State kBadToSelf     {"BadToSelf",     &kRoot,    RecordEntry, RecordExit, {&kBadToSelf},                kRows};
const State kBadToForeign  {"BadToForeign",  &kRoot,    RecordEntry, RecordExit, {&kForeignChild},             kRows};
const State kForeign       {"Foreign",       nullptr,   RecordEntry, RecordExit, {},                           {}};
const State kForeignChild  {"ForeignChild",  &kForeign, RecordEntry, RecordExit, {},                           {}};
// clang-format on

using Reports = std::vector<std::pair<Diagnostic, std::string>>;

// A machine started into A1a, with the steps of Start() forgotten.
struct Running {
  explicit Running(Machine::EventFormatter formatter = FormatEvent)
      : machine(&recorder, "TestMachine", &kRoot, std::move(formatter)) {
    recorder.machine = &machine;
    machine.SetTraceHook([this](Diagnostic id, std::string_view text) {
      reports.emplace_back(id, std::string(text));
    });
    machine.Start();
    recorder.steps.clear();
  }

  // Processes each event of `setup`, which must be handled, then forgets their steps.
  void Reach(const Steps& setup) {
    for (const std::string& event : setup) {
      EXPECT_TRUE(machine.ProcessEvent(event)) << event;
    }
    recorder.steps.clear();
  }

  std::string Current() const {
    return machine.GetCurrentState() ? machine.GetCurrentState()->Name() : "(none)";
  }

  Recorder recorder;
  Reports reports;
  Machine machine;
};

struct TransitionCase {
  const char* rule;
  Steps setup;
  std::string event;
  Steps steps;
  std::string finalState;
};

TEST(StateMachine, TransitionsExitAndEnterThroughTheCommonAncestor) {
  // clang-format off
  const TransitionCase cases[] = {
    // rule                                                   setup       event      steps                                                                                  final
    {"siblings: the parent is neither exited nor entered",    {"toA2"},   "sibling", {"exit A2", "sibling@A", "enter A1", "initA1@A1", "enter A1a"},                          "A1a"},
    {"cousins: initial transitions on the way are not taken", {},         "cousin",  {"exit A1a", "exit A1", "exit A", "cousin@Root", "enter B", "enter B1", "enter B1a"}, "B1a"},
    {"child to parent: the parent is not re-entered",         {},         "up",      {"exit A1a", "up@A1"},                                                                 "A1"},
    {"to the grandparent, through a row of its own",          {},         "toA",     {"exit A1a", "exit A1", "toA@A"},                                                      "A"},
    {"to the root: its initial transition is not taken",      {},         "toRoot",  {"exit A1a", "exit A1", "exit A", "toRoot@Root"},                                  "Root"},
    {"to a child: nothing exited, its initial follows",       {"toB"},    "toB1",    {"toB1@B", "enter B1", "initB1@B1", "enter B1a"},                                      "B1a"},
    {"target is the current state: internal",                 {},         "self",    {"self@A1a"},                                                                          "A1a"},
    {"ancestor's row to the current state: internal",         {},         "home",    {"home@A1a"},                                                                          "A1a"},
    {"ancestor's row from elsewhere: a real transition",      {"toA2"},   "home",    {"exit A2", "home@A", "enter A1", "enter A1a"},                                        "A1a"},
    {"null target runs the action only",                      {},         "tick",    {"tick@A1a"},                                                                          "A1a"},
    {"null target without action swallows the event",         {"cousin"}, "swallow", {},                                                                                    "B1a"},
    {"the nearest state's row wins",                          {},         "shared",  {"sharedA@A1a"},                                                                       "A1a"},
    {"an ancestor's row applies where no nearer one exists",  {"toB"},    "shared",  {"shared@B"},                                                                          "B"},
    {"the first of two rows for one event wins",              {},         "twice",   {"exit A1a", "exit A1", "first@A", "enter A2"},                                        "A2"},
  };
  // clang-format on
  for (const TransitionCase& c : cases) {
    SCOPED_TRACE(c.rule);
    Running running;
    running.Reach(c.setup);
    EXPECT_TRUE(running.machine.ProcessEvent(c.event));
    EXPECT_EQ(running.recorder.steps, c.steps);
    EXPECT_EQ(running.Current(), c.finalState);
    EXPECT_TRUE(running.reports.empty());
  }
}

struct DiagnosticCase {
  const char* rule;
  std::string event;
  bool handled;
  Steps steps;
  std::string finalState;
  Reports reports;
};

TEST(StateMachine, ReportsRefusedEventsAndInvalidInitialTransitions) {
  const std::string prefix = "State machine 'TestMachine': ";
  const auto badInitial = [&](const std::string& from, const std::string& to) {
    return std::pair(Diagnostic::InvalidInitialTransition,
                     prefix + "The initial transition from state '" + from + "' to state '" + to +
                         "' is invalid because the target state is not a descendant. The "
                         "transition will be ignored.");
  };
  // clang-format off
  const DiagnosticCase cases[] = {
    {"no row on the path to the root", "nope", false, {}, "A1a", {{Diagnostic::EventNotHandled,
     prefix + "Event 'nope' is not handled by state 'A1a', or its ancestors. The event will be ignored."}}},
    {"target in another chart: not even the action runs", "foreign", false, {}, "A1a", {{Diagnostic::NoCommonAncestor,
     prefix + "The transition from state 'A1a' to state 'ForeignChild' on event 'foreign' is invalid because the "
              "states do not share a common ancestry. The event will be ignored."}}},
    {"initial target is an ancestor: the entered state stays", "badAncestor", true,
     {"exit A1a", "exit A1", "exit A", "enter BadToAncestor"}, "BadToAncestor", {badInitial("BadToAncestor", "Root")}},
    {"initial target is the state itself", "badSelf", true,
     {"exit A1a", "exit A1", "exit A", "enter BadToSelf"}, "BadToSelf", {badInitial("BadToSelf", "BadToSelf")}},
    {"initial target in another chart", "badForeign", true,
     {"exit A1a", "exit A1", "exit A", "enter BadToForeign"}, "BadToForeign", {badInitial("BadToForeign", "ForeignChild")}},
  };
  // clang-format on
  for (const DiagnosticCase& c : cases) {
    SCOPED_TRACE(c.rule);
    Running running;
    EXPECT_EQ(running.machine.ProcessEvent(c.event), c.handled);
    EXPECT_EQ(running.recorder.steps, c.steps);
    EXPECT_EQ(running.Current(), c.finalState);
    EXPECT_EQ(running.reports, c.reports);
  }
}

TEST(StateMachine, StartsAndStopsLevelByLevel) {
  Recorder recorder;
  Machine machine(&recorder, "TestMachine", &kRoot);  // no event formatter
  Reports reports;
  machine.SetTraceHook(
      [&](Diagnostic id, std::string_view text) { reports.emplace_back(id, std::string(text)); });
  EXPECT_TRUE(recorder.steps.empty());  // constructing runs nothing

  const Steps startSteps = {"enter Root", "initRoot@Root", "enter A",
                            "enter A1",   "initA1@A1",     "enter A1a"};
  machine.Start();
  EXPECT_EQ(recorder.steps, startSteps);

  recorder.steps.clear();
  machine.Stop();
  EXPECT_EQ(recorder.steps, (Steps{"exit A1a", "exit A1", "exit A", "exit Root"}));
  EXPECT_EQ(machine.GetCurrentState(), nullptr);

  // Stopped: a second Stop does nothing, events are refused by state "n/a".
  recorder.steps.clear();
  machine.Stop();
  EXPECT_FALSE(machine.ProcessEvent("shared"));
  EXPECT_TRUE(recorder.steps.empty());
  EXPECT_EQ(reports, (Reports{{Diagnostic::EventNotHandled,
                               "State machine 'TestMachine': Event 'n/a' is not handled by state "
                               "'n/a', or its ancestors. The event will be ignored."}}));

  // A stopped machine starts again from the root.
  machine.Start();
  EXPECT_EQ(recorder.steps, startSteps);
}

struct ThrowCase {
  const char* rule;
  Steps setup;
  std::string throwAt;
  std::string event;
  Steps stepsUntilThrow;
  std::string stateAfterThrow;
  std::string followUp;
  Steps followUpSteps;
};

// The exception leaves at once; the machine stays where it was and keeps working from there.
TEST(StateMachine, ThrowingActionLeavesTheMachineWhereItWas) {
  // clang-format off
  const ThrowCase cases[] = {
    // rule, setup, throwAt, event, steps until the throw, state after it, follow-up event, its steps
    {"exit action: the state being exited stays current", {}, "exit A1", "cousin",
     {"exit A1a", "exit A1"}, "A1", "toRoot", {"exit A1", "exit A", "toRoot@Root"}},
    {"transition action: the common ancestor stays current", {}, "cousin@Root", "cousin",
     {"exit A1a", "exit A1", "exit A", "cousin@Root"}, "Root", "home", {"home@Root", "enter A", "enter A1", "enter A1a"}},
    {"entry action: the state being entered is current", {}, "enter B1", "cousin",
     {"exit A1a", "exit A1", "exit A", "cousin@Root", "enter B", "enter B1"}, "B1", "toRoot", {"exit B1", "exit B", "toRoot@Root"}},
    {"initial action: its target is not entered", {"toB"}, "initB1@B1", "toB1",
     {"toB1@B", "enter B1", "initB1@B1"}, "B1", "shared", {"shared@B1"}},
  };
  // clang-format on
  for (const ThrowCase& c : cases) {
    SCOPED_TRACE(c.rule);
    Running running;
    running.Reach(c.setup);
    running.recorder.throwAt = c.throwAt;
    EXPECT_THROW(running.machine.ProcessEvent(c.event), std::runtime_error);
    EXPECT_EQ(running.recorder.steps, c.stepsUntilThrow);
    EXPECT_EQ(running.Current(), c.stateAfterThrow);
    running.recorder.throwAt.clear();
    running.recorder.steps.clear();
    EXPECT_TRUE(running.machine.ProcessEvent(c.followUp));  // aborts if still marked busy
    EXPECT_EQ(running.recorder.steps, c.followUpSteps);
  }

  // An interrupted Stop is finished by a second one.
  Running running;
  running.recorder.throwAt = "exit A1";
  EXPECT_THROW(running.machine.Stop(), std::runtime_error);
  running.recorder.throwAt.clear();
  running.machine.Stop();
  EXPECT_EQ(running.recorder.steps,
            (Steps{"exit A1a", "exit A1", "exit A1", "exit A", "exit Root"}));
  EXPECT_EQ(running.machine.GetCurrentState(), nullptr);
}

// Charts that break the engine's rules, built on the spot.
struct SplitRows {
  Transition rows[3] = {
      {&split, "a", {}, nullptr}, {&kRoot, "b", {}, nullptr}, {&split, "c", {}, nullptr}};
  State split{"Split", nullptr, {}, {}, {}, rows};
};

// clang-format off
struct NineLevels {
  State s0{"S0", nullptr, {}, {}, {&s8}, {}};  State s1{"S1", &s0, {}, {}, {}, {}};  State s2{"S2", &s1, {}, {}, {}, {}};
  State s3{"S3", &s2,     {}, {}, {},    {}};  State s4{"S4", &s3, {}, {}, {}, {}};  State s5{"S5", &s4, {}, {}, {}, {}};
  State s6{"S6", &s5,     {}, {}, {},    {}};  State s7{"S7", &s6, {}, {}, {}, {}};  State s8{"S8", &s7, {}, {}, {}, {}};
};
// clang-format on

TEST(StateMachineDeathTest, BrokenRulesAbortNamingTheRule) {
  EXPECT_DEATH(const SplitRows chart, "the rows of one state must be adjacent");
  EXPECT_DEATH(
      {
        NineLevels chart;
        Recorder recorder;
        Machine(&recorder, "Deep", &chart.s0).Start();
      },
      "a chart nests deeper than kMaxStateDepth");
  EXPECT_DEATH(static_cast<void>(Running().machine.ProcessEvent("reenter")),
               "a state machine was called from inside one of its own actions");
}

}  // namespace
}  // namespace Nalo::Hsm::Testing
