#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "hsm/EventQueue.h"
#include "tests/hsm/Recorder.h"

namespace Nalo::Hsm::Testing {
namespace {

constexpr const char* kOutcomeNames[] = {"handled", "ignored", "queued"};

// Records each step, then posts each event through the owner's queue, recording the outcome.
Machine::Action RecordThenPost(Machine::Action record, std::vector<std::string> events) {
  return [record = std::move(record), events = std::move(events)](const Machine& machine) {
    if (record) {
      record(machine);
    }
    Recorder& recorder = *machine.GetOwner();
    for (const std::string& event : events) {
      const PostOutcome outcome = recorder.queue->Post(event);
      recorder.Record("post " + event + ": " + kOutcomeNames[static_cast<int>(outcome)]);
    }
  };
}

void Restart(const Machine& machine) {
  machine.GetOwner()->queue->Start();
}

// Root ─┬─ Idle
//       ├─ Busy ── BusyInner
//       └─ Done
extern const State kRoot, kIdle, kBusy, kBusyInner, kDone;

// clang-format off
const Transition kRows[] = {
//  source   event      action                                          target
  {&kRoot,  "ping",    Note("ping"),                                    nullptr},
  {&kRoot,  "boot",    Note("boot"),                                    nullptr},
  {&kRoot,  "restart", Restart,                                         nullptr},
  {&kIdle,  "go",      Note("go"),                                      &kBusy},
  {&kIdle,  "fanOut",  RecordThenPost(Note("fanOut"), {"first", "second"}), nullptr},
  {&kIdle,  "first",   RecordThenPost(Note("first"), {"third"}),        nullptr},
  {&kIdle,  "second",  Note("second"),                                  nullptr},
  {&kIdle,  "third",   Note("third"),                                   nullptr},
  {&kBusy,  "next",    Note("next"),                                    &kDone},
};

//                      name         parent   entry                                  exit                                  initial        rows
const State kRoot      {"Root",      nullptr, RecordThenPost(RecordEntry, {"boot"}), RecordThenPost(RecordExit, {"late"}), {&kIdle},      kRows};
const State kIdle      {"Idle",      &kRoot,  RecordEntry,                           RecordExit,                           {},            kRows};
const State kBusy      {"Busy",      &kRoot,  RecordThenPost(RecordEntry, {"next"}), RecordExit,                           {&kBusyInner}, kRows};
const State kBusyInner {"BusyInner", &kBusy,  RecordEntry,                           RecordExit,                           {},            kRows};
const State kDone      {"Done",      &kRoot,  RecordEntry,                           RecordExit,                           {},            kRows};
// clang-format on

struct Started {
  Started() : machine(&recorder, "QueueMachine", &kRoot, FormatEvent), queue(machine) {
    recorder.machine = &machine;
    recorder.queue = &queue;
    machine.SetTraceHook(
        [this](Diagnostic, std::string_view message) { reports.emplace_back(message); });
    queue.Start();
    startSteps = std::exchange(recorder.steps, {});
  }

  Steps startSteps;
  Recorder recorder;
  Machine machine;
  Queue queue;
  std::vector<std::string> reports;
};

TEST(EventQueue, PostFromAnEntryActionRunsOnceTheOuterTransitionIsComplete) {
  Started started;
  EXPECT_EQ(started.queue.Post("go"), PostOutcome::Handled);
  // Busy's entry posts "next"; Busy's initial transition still completes before it runs.
  EXPECT_EQ(started.recorder.steps,
            (Steps{"exit Idle", "go@Root", "enter Busy", "post next: queued", "enter BusyInner",
                   "exit BusyInner", "exit Busy", "next@Root", "enter Done"}));
  EXPECT_EQ(started.machine.GetCurrentState(), &kDone);

  // Outside any dispatch, a post runs at once and reports its own outcome.
  EXPECT_EQ(started.queue.Post("nope"), PostOutcome::Ignored);
  EXPECT_EQ(started.reports.size(), 1u);
}

TEST(EventQueue, QueuedEventsRunInPostingOrderAndPostsDuringThemQueueBehind) {
  Started started;
  EXPECT_EQ(started.queue.Post("fanOut"), PostOutcome::Handled);
  EXPECT_EQ(started.recorder.steps,
            (Steps{"fanOut@Idle", "post first: queued", "post second: queued", "first@Idle",
                   "post third: queued", "second@Idle", "third@Idle"}));
}

TEST(EventQueue, StartAndStopRunWhatTheirActionsPosted) {
  Started started;
  EXPECT_EQ(started.startSteps,
            (Steps{"enter Root", "post boot: queued", "enter Idle", "boot@Idle"}));

  started.queue.Stop();
  EXPECT_EQ(started.recorder.steps, (Steps{"exit Idle", "exit Root", "post late: queued"}));
  // The event posted on the way out reaches a stopped machine, which refuses it.
  EXPECT_EQ(started.reports,
            (Steps{"State machine 'QueueMachine': Event 'late' is not handled by state 'n/a', or "
                   "its ancestors. The event will be ignored."}));
}

TEST(EventQueue, EventsLeftByAThrowingDispatchRunFirstAtTheNextPost) {
  Started started;
  started.recorder.throwAt = "enter BusyInner";
  EXPECT_THROW(static_cast<void>(started.queue.Post("go")), std::runtime_error);
  EXPECT_EQ(started.recorder.steps,
            (Steps{"exit Idle", "go@Root", "enter Busy", "post next: queued", "enter BusyInner"}));

  // Not stuck in "dispatching": the next post runs now, after the event left behind.
  started.recorder.throwAt.clear();
  started.recorder.steps.clear();
  EXPECT_EQ(started.queue.Post("ping"), PostOutcome::Handled);
  EXPECT_EQ(started.recorder.steps,
            (Steps{"exit BusyInner", "exit Busy", "next@Root", "enter Done", "ping@Done"}));
}

TEST(EventQueueDeathTest, StartFromInsideADispatchAbortsInsteadOfDeadlocking) {
  EXPECT_DEATH(
      {
        Started started;
        static_cast<void>(started.queue.Post("restart"));
      },
      "Start\\(\\) or Stop\\(\\) was called from inside a dispatch");
}

}  // namespace
}  // namespace Nalo::Hsm::Testing
