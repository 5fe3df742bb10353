#pragma once

// A hierarchical state machine that runs a chart of nested states.
//
// A chart is two tables of objects that live as long as every machine running them (in practice
// objects of static storage duration, never changed after construction):
//  - the transition table, one row per transition: source, event, action, target;
//  - the states, each with its name, parent, entry and exit actions and initial transition.
// A state takes its rows from the table when it is constructed, so define the event constants
// first, then the table, then the states; declare the states ahead of the table, since rows and
// states refer to each other by address.
//
//   using Machine = Nalo::Hsm::StateMachine<Player, std::string>;
//   extern const Machine::State kRoot, kIdle, kPlaying;
//
//   // clang-format off
//   const Machine::Transition kRows[] = {
//   //  source     event     action        target
//     {&kRoot,    "STOP",   {},           &kIdle},
//     {&kIdle,    "PLAY",   StartClock,   &kPlaying},
//     {&kPlaying, "PLAY",   {},           nullptr},    // already playing: swallow the event
//   };
//   //                   name       parent   entry      exit       initial   rows
//   const Machine::State kRoot   {"Root",    nullptr, {},        {},        {&kIdle}, kRows};
//   const Machine::State kIdle   {"Idle",    &kRoot,  LogEntry,  LogExit,   {},       kRows};
//   const Machine::State kPlaying{"Playing", &kRoot,  LogEntry,  LogExit,   {},       kRows};
//   // clang-format on
//
//   Machine machine(&player, "PlayerMachine", &kRoot, [](const std::string& e) { return e; });
//   machine.Start();               // enters Root, then Idle
//   machine.ProcessEvent("PLAY");  // exits Idle, runs StartClock, enters Playing
//
// Dispatch looks for the event in the current state's rows, then in each ancestor's; the first
// matching row wins. A transition exits up to the least common ancestor of the current state and
// the target, runs the row's action, enters down to the target and then follows initial
// transitions. A null target, or a target that is the current state, makes the row internal:
// only its action runs.
//
// Threading and re-entrancy: a machine has no queue, thread or lock. Every call runs on the
// caller's thread and returns when all the actions it triggered have returned. The owner
// serialises calls; calling Start, ProcessEvent or Stop from inside an action of the same machine
// is a bug and aborts. An action that needs to raise an event goes through EventQueue, which runs
// it once the current dispatch has finished.
//
// Exceptions: the machine catches nothing. An exception thrown by an action (or by the trace
// hook or the event formatter) leaves Start, ProcessEvent or Stop at once and skips the steps
// still to come. The machine stays usable: the current state is the one the algorithm had reached
// when the action ran (the state being exited for an exit action, the state being entered for an
// entry action, the deepest state neither exited nor entered for a transition action), always a
// state of the chart, and the next event is dispatched from there.

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "hsm/Diagnostic.h"

namespace Nalo::Hsm {

// The deepest chart the engine runs: the root and up to seven levels below it. Paths live in
// fixed arrays of this size, so a transition allocates nothing.
inline constexpr std::size_t kMaxStateDepth = 8;

namespace detail {

// Ends the process when a rule that no correct caller or chart can break was broken.
[[noreturn]] inline void FailInvariant(std::string_view why) noexcept {
  std::fprintf(stderr, "Nalo::Hsm invariant failed: %.*s\n", static_cast<int>(why.size()),
               why.data());
  std::abort();
}

inline void Invariant(bool holds, std::string_view why) noexcept {
  if (!holds) {
    FailInvariant(why);
  }
}

}  // namespace detail

// Owner: the object that actions act on; the machine points to it and never owns it.
// Event: a regular value type (copyable, default-constructible, equality-comparable); rows hold
// their event by value.
template <typename Owner, typename Event>
class StateMachine {
 public:
  class State;

  // Runs on entry, exit or transition. Reads the owner and the current state through the
  // machine; cannot change the machine. May be empty.
  using Action = std::function<void(const StateMachine&)>;
  // Turns an event into text for diagnostics. May be empty: events then show as "n/a".
  using EventFormatter = std::function<std::string(const Event&)>;
  // Receives every diagnostic, fully formatted. Empty by default: nothing is reported.
  using TraceHook = std::function<void(Diagnostic, std::string_view message)>;

  // One row of the chart's transition table. `source` is the state whose table holds the row;
  // `target` null makes the transition internal (only `action` runs). Rows are aggregates so that
  // a table reads as one row per line.
  struct Transition {
    const State* source = nullptr;
    Event event{};
    Action action;
    const State* target = nullptr;
  };

  // One node of the chart. Immutable after construction; other states, rows and machines refer
  // to it by address, so it can be neither copied nor moved.
  class State {
   public:
    // The transition taken right after the state is entered. `target` null means none; otherwise
    // it must be a strict descendant of the state (else the machine reports
    // InvalidInitialTransition and stays).
    // Written `{}` for none, `{&kChild}` or `{&kChild, action}`.
    struct Initial {
      Initial() = default;
      // Implicit, so that a chart can write the braces only.
      Initial(const State* initialTarget, Action initialAction = {})
          : target(initialTarget), action(std::move(initialAction)) {}

      const State* target = nullptr;
      Action action;
    };

    // `parent` is null for the root. `chart` is the whole transition table: the state keeps the
    // rows whose source is this state, which must be adjacent in the table (aborts otherwise); a
    // state with no rows may pass an empty span. The table must be constructed before the state
    // and outlive it.
    State(std::string name, const State* parent, Action entry, Action exit, Initial initial,
          std::span<const Transition> chart)
        : mName(std::move(name)),
          mParent(parent),
          mEntry(std::move(entry)),
          mExit(std::move(exit)),
          mInitial{this, Event{}, std::move(initial.action), initial.target},
          mTransitions(RowsOf(this, chart)) {}

    State(const State&) = delete;
    State(State&&) = delete;
    State& operator=(const State&) = delete;
    State& operator=(State&&) = delete;
    ~State() = default;

    const std::string& Name() const noexcept { return mName; }
    // Null for the root.
    const State* Parent() const noexcept { return mParent; }
    const Action& Entry() const noexcept { return mEntry; }
    const Action& Exit() const noexcept { return mExit; }
    // Its source is this state and its event is a default Event, never compared.
    const Transition& InitialTransition() const noexcept { return mInitial; }
    // This state's rows, in table order; the first row matching an event wins.
    std::span<const Transition> Transitions() const noexcept { return mTransitions; }

   private:
    static std::span<const Transition> RowsOf(const State* state,
                                              std::span<const Transition> chart) noexcept {
      std::size_t first = 0;
      while (first < chart.size() && chart[first].source != state) {
        ++first;
      }
      std::size_t last = first;
      while (last < chart.size() && chart[last].source == state) {
        ++last;
      }
      for (std::size_t i = last; i < chart.size(); ++i) {
        detail::Invariant(chart[i].source != state,
                          "the rows of one state must be adjacent in the transition table, or "
                          "dispatch would not see them in table order");
      }
      return chart.subspan(first, last - first);
    }

    std::string mName;
    const State* mParent;
    Action mEntry;
    Action mExit;
    Transition mInitial;
    std::span<const Transition> mTransitions;
  };

  // `root` is the chart's root and becomes the current state; no action runs. `owner` is handed
  // to actions and must outlive the machine. `name` appears in diagnostics only.
  StateMachine(Owner* owner, std::string name, const State* root, EventFormatter formatter = {})
      : mOwner(owner),
        mName(std::move(name)),
        mRoot(root),
        mCurrent(root),
        mFormatter(std::move(formatter)) {
    detail::Invariant(root != nullptr && root->Parent() == nullptr,
                      "a machine starts at the root of its chart");
  }

  // Actions and queues hold references to the machine.
  StateMachine(const StateMachine&) = delete;
  StateMachine(StateMachine&&) = delete;
  StateMachine& operator=(const StateMachine&) = delete;
  StateMachine& operator=(StateMachine&&) = delete;
  ~StateMachine() = default;

  // Sends diagnostics to `hook` from now on; an empty hook silences them.
  void SetTraceHook(TraceHook hook) { mTraceHook = std::move(hook); }

  // Enters the root, then follows initial transitions. Call once after construction, or again
  // after Stop() to restart from the root. Aborts if the machine has left the root, i.e. was
  // started and not stopped.
  void Start() {
    const DispatchScope scope(*this);
    detail::Invariant(mCurrent == mRoot || mCurrent == nullptr,
                      "Start() needs a machine that is new or stopped");
    mCurrent = mRoot;
    Run(mRoot->Entry());
    FollowInitialTransitions();
  }

  // Dispatches `event`: the first row for it on the path from the current state to the root is
  // carried out. Returns true if a row was found and carried out (internal rows included), false
  // if no state handles the event (EventNotHandled) or the row's target is in another chart
  // (NoCommonAncestor); in both false cases nothing runs and the current state is unchanged.
  // After Stop() every event is reported as not handled by state "n/a".
  bool ProcessEvent(const Event& event) {
    const DispatchScope scope(*this);
    const Path path = PathToRoot(mCurrent);
    for (std::size_t i = 0; i < path.size; ++i) {
      for (const Transition& row : path.states[i]->Transitions()) {
        if (row.event == event) {
          return Take(row, event);
        }
      }
    }
    if (mTraceHook) {
      Report(Diagnostic::EventNotHandled,
             {mName, FormatEvent(event),
              mCurrent ? std::string_view(mCurrent->Name()) : kNotAvailable});
    }
    return false;
  }

  // Exits the current state and each of its ancestors, innermost first, leaving no current
  // state. No transition action runs and nothing is entered. Does nothing on a stopped machine.
  void Stop() {
    const DispatchScope scope(*this);
    const Path path = PathToRoot(mCurrent);
    for (std::size_t i = 0; i < path.size; ++i) {
      Run(mCurrent->Exit());
      mCurrent = mCurrent->Parent();
    }
  }

  Owner* GetOwner() const noexcept { return mOwner; }
  // The state being exited or entered while an exit or entry action runs; the deepest state
  // neither exited nor entered while a transition action runs; null once stopped.
  const State* GetCurrentState() const noexcept { return mCurrent; }
  const std::string& Name() const noexcept { return mName; }

 private:
  // Marks the machine busy for one public call; a nested call from an action aborts.
  class DispatchScope {
   public:
    explicit DispatchScope(StateMachine& machine) noexcept : mMachine(machine) {
      detail::Invariant(!mMachine.mDispatching,
                        "a state machine was called from inside one of its own actions; raise "
                        "the event through an EventQueue so that it runs after this dispatch");
      mMachine.mDispatching = true;
    }
    DispatchScope(const DispatchScope&) = delete;
    DispatchScope(DispatchScope&&) = delete;
    DispatchScope& operator=(const DispatchScope&) = delete;
    DispatchScope& operator=(DispatchScope&&) = delete;
    ~DispatchScope() { mMachine.mDispatching = false; }

   private:
    StateMachine& mMachine;
  };

  // A state and its ancestors, innermost first.
  struct Path {
    std::array<const State*, kMaxStateDepth> states{};
    std::size_t size = 0;

    const State* Outermost() const noexcept { return states[size - 1]; }
    bool Contains(const State* state, std::size_t from) const noexcept {
      for (std::size_t i = from; i < size; ++i) {
        if (states[i] == state) {
          return true;
        }
      }
      return false;
    }
  };

  // Empty for a null state. Also catches a cycle of parent pointers, which would be deeper than
  // any bound.
  static Path PathToRoot(const State* state) noexcept {
    Path path;
    for (; state != nullptr; state = state->Parent()) {
      detail::Invariant(path.size < kMaxStateDepth,
                        "a chart nests deeper than kMaxStateDepth, or its parents form a cycle");
      path.states[path.size++] = state;
    }
    return path;
  }

  bool Take(const Transition& row, const Event& event) {
    // Internal: a null target, or a target that is already current (also when the row belongs
    // to an ancestor). The state is neither exited nor re-entered.
    if (row.target == nullptr || row.target == mCurrent) {
      Run(row.action);
      return true;
    }
    const Path exitPath = PathToRoot(mCurrent);
    const Path entryPath = PathToRoot(row.target);
    if (exitPath.Outermost() != entryPath.Outermost()) {
      if (mTraceHook) {
        Report(Diagnostic::NoCommonAncestor,
               {mName, mCurrent->Name(), row.target->Name(), FormatEvent(event)});
      }
      return false;
    }
    if (Traverse(exitPath, entryPath, row.action)) {
      FollowInitialTransitions();
    }
    return true;
  }

  // Moves from the current state (innermost element of `exitPath`) to the target (innermost
  // element of `entryPath`); both paths end at the same root. Returns whether any state was
  // entered. With A the least common ancestor:
  //  - target and current in different branches below A (siblings, cousins): exit up to just
  //    below A, run the action, enter down from just below A to the target;
  //  - target is an ancestor of current (A is the target): exit up to the target, run the
  //    action; the target is not re-entered and nothing is entered;
  //  - target is a descendant of current (A is current): nothing is exited; run the action,
  //    enter down to the target. Initial transitions always take this case.
  // The target being current itself is an internal transition and never gets here.
  bool Traverse(Path exitPath, Path entryPath, const Action& action) {
    const State* ancestor = nullptr;
    while (exitPath.size > 0 && entryPath.size > 0 &&
           exitPath.Outermost() == entryPath.Outermost()) {
      ancestor = exitPath.Outermost();
      --exitPath.size;
      --entryPath.size;
    }
    detail::Invariant(ancestor != nullptr, "a transition stays within one chart");
    detail::Invariant(exitPath.size + entryPath.size > 0,
                      "a transition to the current state is internal");

    for (std::size_t i = 0; i < exitPath.size; ++i) {
      detail::Invariant(exitPath.states[i] == mCurrent, "states are exited innermost first");
      Run(mCurrent->Exit());
      mCurrent = mCurrent->Parent();
    }
    detail::Invariant(mCurrent == ancestor,
                      "the transition action runs in the least common ancestor");
    Run(action);
    for (std::size_t i = entryPath.size; i-- > 0;) {
      detail::Invariant(entryPath.states[i]->Parent() == mCurrent,
                        "states are entered outermost first");
      mCurrent = entryPath.states[i];
      Run(mCurrent->Entry());
    }
    return entryPath.size > 0;
  }

  // Follows the initial transition of the current state, then of the state it entered, and so
  // on until a state has none or an invalid one.
  void FollowInitialTransitions() {
    // Every step enters at least one level deeper, so the depth bounds the chain.
    for (std::size_t step = 0;; ++step) {
      detail::Invariant(step < kMaxStateDepth, "initial transitions always descend");
      const Transition& initial = mCurrent->InitialTransition();
      if (initial.target == nullptr) {
        return;
      }
      const Path entryPath = PathToRoot(initial.target);
      // Index 0 is the target itself: meeting the current state there would not be "strictly
      // below".
      if (!entryPath.Contains(mCurrent, 1)) {
        Report(Diagnostic::InvalidInitialTransition,
               {mName, mCurrent->Name(), initial.target->Name()});
        return;
      }
      Traverse(PathToRoot(mCurrent), entryPath, initial.action);
    }
  }

  void Run(const Action& action) {
    if (action) {
      action(*this);
    }
  }

  std::string FormatEvent(const Event& event) const {
    return mFormatter ? mFormatter(event) : std::string(kNotAvailable);
  }

  // Callers check mTraceHook first, so that nothing is formatted for a silent machine.
  void Report(Diagnostic id, std::initializer_list<std::string_view> arguments) const {
    if (mTraceHook) {
      mTraceHook(id, FormatDiagnostic(id, arguments));
    }
  }

  Owner* mOwner;
  std::string mName;
  const State* mRoot;
  // Null only after Stop(); otherwise a state of the chart rooted at mRoot.
  const State* mCurrent;
  EventFormatter mFormatter;
  TraceHook mTraceHook;
  bool mDispatching = false;
};

}  // namespace Nalo::Hsm
