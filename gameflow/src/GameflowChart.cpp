// The gameflow's state chart: its rows, its states and their entry and exit
// actions. Read the transition table as "in <source>, <event> runs <action>
// and leads to <target>"; a state without a row for an event passes it to its
// parent, and the root's rows apply wherever no inner row matches. A target of
// nullptr accepts the event and changes nothing.

#include "gameflow/GameflowChart.h"

#include <array>
#include <string>
#include <vector>

#include "diagnostics/Log.h"

namespace Nalo::Client::Gameflow {

namespace {

using Api::GameflowPhase;
using Machine = GameflowMachine;
using Row = Machine::Transition;
using enum GameflowEvent;

constexpr std::optional<GameflowPhase> kNoPhase = std::nullopt;

// --- Actions -------------------------------------------------------------------------

void TournamentCheckout(const Machine& machine) {
  Log(LogLevel::Always, kLogGroupDebug, "Explicit checkout from Tournament, unlocking gameflow");
  machine.GetOwner()->SetTournamentRunning(false);
}

extern const GameflowChartState kNone;
void ReturnToNone(GameflowChartOwner& owner);

// The root's rows to None are internal while None is current, so None's entry
// (which forgets the game and leaves game flow) does not run again: a tutorial
// or a restored spectate that really ends in None does that work here
// instead. The same event with nothing running leaves the session alone.
void LeaveGameFlowInNone(const Machine& machine, bool ended) {
  if (ended && machine.GetCurrentState() == &kNone) {
    ReturnToNone(*machine.GetOwner());
  }
}

void EndTutorial(const Machine& machine) {
  LeaveGameFlowInNone(machine, machine.GetOwner()->EndTutorial());
}

void EndSpectating(const Machine& machine) {
  GameflowChartOwner& owner = *machine.GetOwner();
  const bool spectating = owner.IsSpectating();
  owner.EndSpectating();
  LeaveGameFlowInNone(machine, spectating);
}

void EnterState(const Machine& machine);
void ExitState(const Machine& machine);

struct ActionName {
  void (*action)(const Machine&);
  std::string_view name;
};
constexpr ActionName kActionNames[] = {
    {TournamentCheckout, "tournament checkout"},
    {EndTutorial, "end the tutorial"},
    {EndSpectating, "end spectating"},
};

// --- The chart -----------------------------------------------------------------------

extern const GameflowChartState kGameflow, kNone, kLobbyRequested, kLobby, kMatchmaking,
    kTournamentCheckinRequested, kCheckedIntoTournament, kReadyCheck, kChampSelect, kGameStart,
    kFailedToLaunch, kInProgress, kReconnectAvailable, kPostGame, kWaitingForStats, kPreEndOfGame,
    kEndOfGame, kTerminatedInError;

// clang-format off
const Row kRows[] = {
//  source                         event                        action               target
  {&kGameflow,                    TerminatedInError,           {},                  &kTerminatedInError},
  {&kGameflow,                    CorruptionDetected,          {},                  &kNone},
  {&kGameflow,                    ExitedTutorial,              EndTutorial,         &kNone},
  {&kGameflow,                    ExitedSpectating,            EndSpectating,       &kNone},

  {&kNone,                        FailedLobby,                 {},                  nullptr},
  {&kNone,                        TournamentEnded,             {},                  nullptr},
  {&kNone,                        RequestedLobby,              {},                  &kLobbyRequested},
  {&kNone,                        TournamentCheckinRequested,  {},                  &kTournamentCheckinRequested},
  {&kNone,                        ReconnectAvailable,          {},                  &kReconnectAvailable},
  {&kNone,                        GameStarted,                 {},                  &kGameStart},
  {&kNone,                        EnteredChampSelect,          {},                  &kChampSelect},
  {&kNone,                        EnteredDelayedSpectate,      {},                  &kChampSelect},

  {&kLobbyRequested,              EnteredLobby,                {},                  &kLobby},
  {&kLobbyRequested,              FailedLobby,                 {},                  &kNone},

  {&kLobby,                       ExitedLobby,                 {},                  &kNone},
  {&kLobby,                       EnteredQueue,                {},                  &kMatchmaking},
  {&kLobby,                       TournamentCheckinRequested,  {},                  &kTournamentCheckinRequested},
  {&kLobby,                       EnteredChampSelect,          {},                  &kChampSelect},
  {&kLobby,                       GameStarted,                 {},                  &kGameStart},
  {&kLobby,                       EnteredLobby,                {},                  nullptr},
  {&kLobby,                       RequestedLobby,              {},                  nullptr},
  {&kLobby,                       FailedLobby,                 {},                  nullptr},
  {&kLobby,                       QuitToLobby,                 {},                  nullptr},
  {&kLobby,                       StatsDismissed,              {},                  nullptr},

  {&kMatchmaking,                 ExitedLobby,                 {},                  &kNone},
  {&kMatchmaking,                 ExitedQueue,                 {},                  &kLobby},
  {&kMatchmaking,                 TournamentCheckinRequested,  {},                  &kTournamentCheckinRequested},
  {&kMatchmaking,                 EnteredReadyCheck,           {},                  &kReadyCheck},
  {&kMatchmaking,                 EnteredQueue,                {},                  nullptr},

  {&kTournamentCheckinRequested,  CheckedOutOfTournament,      TournamentCheckout,  &kNone},
  {&kTournamentCheckinRequested,  FailedTournamentCheckin,     TournamentCheckout,  &kNone},
  {&kTournamentCheckinRequested,  TournamentEnded,             {},                  &kNone},
  {&kTournamentCheckinRequested,  CheckedInForTournament,      {},                  &kCheckedIntoTournament},
  {&kTournamentCheckinRequested,  TournamentCheckinRequested,  {},                  nullptr},
  {&kTournamentCheckinRequested,  RequestedLobby,              {},                  nullptr},

  {&kCheckedIntoTournament,       CheckedOutOfTournament,      TournamentCheckout,  &kNone},
  {&kCheckedIntoTournament,       TournamentEnded,             {},                  &kNone},
  {&kCheckedIntoTournament,       EnteredReadyCheck,           {},                  &kReadyCheck},
  {&kCheckedIntoTournament,       EnteredQueue,                {},                  nullptr},
  {&kCheckedIntoTournament,       TournamentCheckinRequested,  {},                  nullptr},
  {&kCheckedIntoTournament,       CheckedInForTournament,      {},                  nullptr},
  {&kCheckedIntoTournament,       RequestedLobby,              {},                  nullptr},

  {&kReadyCheck,                  ExitedLobby,                 {},                  &kNone},
  {&kReadyCheck,                  PartyDodged,                 {},                  &kLobby},
  {&kReadyCheck,                  StrangerDodged,              {},                  &kMatchmaking},
  {&kReadyCheck,                  TournamentDodged,            {},                  &kCheckedIntoTournament},
  {&kReadyCheck,                  EnteredChampSelect,          {},                  &kChampSelect},
  {&kReadyCheck,                  ExitedQueue,                 {},                  &kLobby},
  {&kReadyCheck,                  ExitedKorvaQueue,            {},                  &kCheckedIntoTournament},
  {&kReadyCheck,                  EnteredReadyCheck,           {},                  nullptr},

  {&kChampSelect,                 ExitedLobby,                 {},                  &kNone},
  {&kChampSelect,                 PartyDodged,                 {},                  &kLobby},
  {&kChampSelect,                 StrangerDodged,              {},                  &kMatchmaking},
  {&kChampSelect,                 TournamentDodged,            {},                  &kCheckedIntoTournament},
  {&kChampSelect,                 GameStartFailed,             {},                  &kNone},
  {&kChampSelect,                 QuitToLobby,                 {},                  &kLobby},
  {&kChampSelect,                 GameStarted,                 {},                  &kGameStart},
  {&kChampSelect,                 GameCompleted,               {},                  &kWaitingForStats},

  {&kGameStart,                   GameLaunched,                {},                  &kInProgress},
  {&kGameStart,                   GameFailedToLaunch,          {},                  &kFailedToLaunch},
  {&kGameStart,                   ExitedLobby,                 {},                  nullptr},

  {&kFailedToLaunch,              ReconnectAvailable,          {},                  &kReconnectAvailable},

  {&kInProgress,                  ReconnectAvailable,          {},                  &kReconnectAvailable},
  {&kInProgress,                  GameCompleted,               {},                  &kWaitingForStats},
  {&kInProgress,                  StatsReceived,               {},                  &kPreEndOfGame},
  {&kInProgress,                  ExitedLobby,                 {},                  nullptr},

  {&kReconnectAvailable,          GameStarted,                 {},                  &kGameStart},
  {&kReconnectAvailable,          GameCompleted,               {},                  &kWaitingForStats},
  {&kReconnectAvailable,          StatsReceived,               {},                  &kPreEndOfGame},

  {&kWaitingForStats,             RequestedLobby,              {},                  &kLobbyRequested},
  {&kWaitingForStats,             EnteredReadyCheck,           {},                  &kReadyCheck},
  {&kWaitingForStats,             StatsReceived,               {},                  &kPreEndOfGame},
  {&kWaitingForStats,             PreEndOfGameCompleted,       {},                  &kEndOfGame},
  {&kWaitingForStats,             StatsDismissed,              {},                  &kNone},

  {&kPreEndOfGame,                PreEndOfGameCompleted,       {},                  &kEndOfGame},
  {&kPreEndOfGame,                RequestedLobby,              {},                  &kLobbyRequested},
  {&kPreEndOfGame,                EnteredReadyCheck,           {},                  &kReadyCheck},
  {&kPreEndOfGame,                StatsDismissed,              {},                  &kNone},

  {&kEndOfGame,                   RequestedLobby,              {},                  &kLobbyRequested},
  {&kEndOfGame,                   EnteredReadyCheck,           {},                  &kReadyCheck},
  {&kEndOfGame,                   StatsDismissed,              {},                  &kNone},

  {&kTerminatedInError,           Terminated,                  {},                  &kNone},
};

//                                  name                          parent       phase on entry                        entry work                       initial
const GameflowChartState kGameflow                  {"Gameflow",                   nullptr,     kNoPhase,                             EntryWork::None,                 &kNone};
const GameflowChartState kNone                      {"None",                       &kGameflow,  GameflowPhase::None,                  EntryWork::ResetSession,         nullptr};
const GameflowChartState kLobbyRequested            {"LobbyRequested",             &kGameflow,  kNoPhase,                             EntryWork::None,                 nullptr};
const GameflowChartState kLobby                     {"Lobby",                      &kGameflow,  GameflowPhase::Lobby,                 EntryWork::EndSpectatingFirst,   nullptr};
const GameflowChartState kMatchmaking               {"Matchmaking",                &kGameflow,  GameflowPhase::Matchmaking,           EntryWork::None,                 nullptr};
const GameflowChartState kTournamentCheckinRequested{"TournamentCheckinRequested", &kGameflow,  GameflowPhase::CheckedIntoTournament, EntryWork::None,                 nullptr};
const GameflowChartState kCheckedIntoTournament     {"CheckedIntoTournament",      &kGameflow,  GameflowPhase::CheckedIntoTournament, EntryWork::JoinTournament,       nullptr};
const GameflowChartState kReadyCheck                {"ReadyCheck",                 &kGameflow,  GameflowPhase::ReadyCheck,            EntryWork::None,                 nullptr};
const GameflowChartState kChampSelect               {"ChampSelect",                &kGameflow,  GameflowPhase::ChampSelect,           EntryWork::None,                 nullptr};
const GameflowChartState kGameStart                 {"GameStart",                  &kGameflow,  GameflowPhase::GameStart,             EntryWork::EnterGameFlow,        nullptr};
const GameflowChartState kFailedToLaunch            {"FailedToLaunch",             &kGameflow,  GameflowPhase::FailedToLaunch,        EntryWork::None,                 nullptr};
const GameflowChartState kInProgress                {"InProgress",                 &kGameflow,  GameflowPhase::InProgress,            EntryWork::None,                 nullptr};
const GameflowChartState kReconnectAvailable        {"ReconnectAvailable",         &kGameflow,  GameflowPhase::Reconnect,             EntryWork::None,                 nullptr};
const GameflowChartState kPostGame                  {"PostGame",                   &kGameflow,  kNoPhase,                             EntryWork::DiscardCredentials,   nullptr};
const GameflowChartState kWaitingForStats           {"WaitingForStats",            &kPostGame,  GameflowPhase::WaitingForStats,       EntryWork::None,                 nullptr};
const GameflowChartState kPreEndOfGame              {"PreEndOfGame",               &kPostGame,  GameflowPhase::PreEndOfGame,          EntryWork::None,                 nullptr};
const GameflowChartState kEndOfGame                 {"EndOfGame",                  &kPostGame,  GameflowPhase::EndOfGame,             EntryWork::EndSpectatingFirst,   nullptr};
const GameflowChartState kTerminatedInError         {"TerminatedInError",          &kPostGame,  GameflowPhase::TerminatedInError,     EntryWork::None,                 nullptr};
// clang-format on

const std::array<const GameflowChartState*, 18> kStates = {
    &kGameflow,
    &kNone,
    &kLobbyRequested,
    &kLobby,
    &kMatchmaking,
    &kTournamentCheckinRequested,
    &kCheckedIntoTournament,
    &kReadyCheck,
    &kChampSelect,
    &kGameStart,
    &kFailedToLaunch,
    &kInProgress,
    &kReconnectAvailable,
    &kPostGame,
    &kWaitingForStats,
    &kPreEndOfGame,
    &kEndOfGame,
    &kTerminatedInError,
};

// --- Entry and exit ------------------------------------------------------------------

void ReturnToNone(GameflowChartOwner& owner) {
  Log(LogLevel::Always, kLogGroupDebug, "Resetting gameflow session resource");
  owner.ResetSession();
  if (owner.IsTournamentRunning()) {
    Log(LogLevel::Always, kLogGroupDebug,
        "gameflow transitioned to None but Tournament is still going, putting us back into "
        "CheckedIntoTournament (this is normal)");
    owner.SetPhase(GameflowPhase::CheckedIntoTournament);
    // Entry actions must not post events: the walk back to
    // CheckedIntoTournament runs as a task once this dispatch is over.
    owner.PostTournamentReroute();
    return;
  }
  owner.SetPhase(GameflowPhase::None);
  owner.ExitGameFlow();
  if (owner.IsSpectating()) {
    owner.EndSpectating();
  }
}

void EnterState(const Machine& machine) {
  const auto& state = static_cast<const GameflowChartState&>(*machine.GetCurrentState());
  GameflowChartOwner& owner = *machine.GetOwner();
  Log(LogLevel::Always, kLogGroupDebug, "Gameflow: entering state '%s'", state.Name().c_str());
  std::optional<GameflowPhase> phase = state.PhaseOnEntry();
  switch (state.Work()) {
    case EntryWork::None:
      break;
    case EntryWork::ResetSession:
      ReturnToNone(owner);
      return;
    case EntryWork::EndSpectatingFirst:
      if (owner.IsSpectating()) {
        owner.EndSpectating();
      }
      break;
    case EntryWork::JoinTournament:
      owner.SetTournamentRunning(true);
      if (owner.Phase() == GameflowPhase::CheckedIntoTournament) {
        phase.reset();
      }
      break;
    case EntryWork::EnterGameFlow:
      // Whether game flow was entered does not change the chart: the game is
      // starting either way.
      static_cast<void>(owner.EnterGameFlow(AvailabilityCheck::Skip));
      break;
    case EntryWork::DiscardCredentials:
      owner.DiscardCredentials();
      break;
  }
  if (phase.has_value()) {
    owner.SetPhase(*phase);
  }
}

void ExitState(const Machine& machine) {
  Log(LogLevel::Always, kLogGroupDebug, "Gameflow: exiting state '%s'",
      machine.GetCurrentState()->Name().c_str());
}

std::string_view ShortEventName(GameflowEvent event) {
  std::string_view name = GameflowEventName(event);
  name.remove_prefix(name.find('.') + 1);
  return name;
}

}  // namespace

GameflowChartState::GameflowChartState(std::string name, const GameflowChartState* parent,
                                       std::optional<Api::GameflowPhase> phase, EntryWork work,
                                       const GameflowChartState* initial)
    : GameflowMachine::State(std::move(name), parent, EnterState, ExitState, {initial}, kRows),
      mPhase(phase),
      mWork(work) {}

const GameflowChartState& GameflowChartRoot() noexcept {
  return kGameflow;
}

std::span<const GameflowChartState* const> GameflowChartStates() noexcept {
  return kStates;
}

const GameflowChartState* FindGameflowChartState(std::string_view name) noexcept {
  for (const GameflowChartState* state : kStates) {
    if (state->Name() == name) {
      return state;
    }
  }
  return nullptr;
}

std::span<const GameflowMachine::Transition> GameflowChartRows() noexcept {
  return kRows;
}

std::string_view GameflowChartActionName(const GameflowMachine::Transition& row) noexcept {
  if (!row.action) {
    return {};
  }
  using Function = void (*)(const Machine&);
  const Function* function = row.action.target<Function>();
  if (function == nullptr) {
    return "?";
  }
  for (const ActionName& entry : kActionNames) {
    if (entry.action == *function) {
      return entry.name;
    }
  }
  return "?";
}

std::string FormatGameflowEvent(const GameflowEvent& event) {
  return std::string(GameflowEventName(event));
}

std::string RenderGameflowChartMermaid() {
  // Composite states are written with their children inside; the root's rows
  // apply in every state, so they leave from a pseudo-state "any state".
  std::string text =
      "# The gameflow state chart\n\n"
      "Written by `cmake --build --preset default --target gameflow-chart-diagram` from the\n"
      "transition table in `gameflow/src/GameflowChart.cpp`; a test fails when this file and\n"
      "the table differ. Edges are labelled with the event (without `GAMEFLOW_EVENT.`) and the\n"
      "action it runs; a loop lists the events a state accepts without leaving it. Each state\n"
      "names the phase its entry publishes.\n\n"
      "```mermaid\nstateDiagram-v2\n";
  const auto childrenOf = [](const GameflowChartState* parent) {
    std::vector<const GameflowChartState*> children;
    for (const GameflowChartState* state : kStates) {
      if (state->Parent() == parent) {
        children.push_back(state);
      }
    }
    return children;
  };
  const auto phaseText = [](const GameflowChartState& state) -> std::string {
    if (&state == &kNone) {
      return "publishes None (CheckedIntoTournament while a tournament runs)";
    }
    if (!state.PhaseOnEntry().has_value()) {
      return "publishes no phase";
    }
    return "publishes " + std::string(Api::GameflowPhaseName(*state.PhaseOnEntry()));
  };
  const auto writeState = [&](const auto& self, const GameflowChartState& state,
                              const std::string& indent) -> void {
    const std::vector<const GameflowChartState*> children = childrenOf(&state);
    if (children.empty()) {
      text += indent + state.Name() + " : " + phaseText(state) + "\n";
      return;
    }
    text += indent + "state " + state.Name() + " {\n";
    const std::string inner = indent + "  ";
    if (&state != &kGameflow) {
      text += inner + "note right of " + children.front()->Name() + " : " + state.Name() + " " +
              phaseText(state) + "\n";
    }
    if (const auto* initial = state.InitialTransition().target) {
      text += inner + "[*] --> " + initial->Name() + "\n";
    }
    for (const GameflowChartState* child : children) {
      self(self, *child, inner);
    }
    text += indent + "}\n";
  };
  writeState(writeState, kGameflow, "  ");
  text += "  state \"any state\" as AnyState\n";
  for (const GameflowChartState* state : kStates) {
    std::string accepted;
    for (const Row& row : state->Transitions()) {
      const std::string_view action = GameflowChartActionName(row);
      const std::string label = std::string(ShortEventName(row.event)) +
                                (action.empty() ? std::string() : " / " + std::string(action));
      if (row.target == nullptr) {
        accepted += (accepted.empty() ? "" : ", ") + label;
        continue;
      }
      const std::string source = state == &kGameflow ? "AnyState" : state->Name();
      text += "  " + source + " --> " + row.target->Name() + " : " + label + "\n";
    }
    if (!accepted.empty()) {
      text += "  " + state->Name() + " --> " + state->Name() + " : " + accepted + "\n";
    }
  }
  text += "```\n";
  return text;
}

}  // namespace Nalo::Client::Gameflow
