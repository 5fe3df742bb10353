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
  machine.GetOwner()->model.tournamentRunning = false;
}

extern const GameflowChartState kNone;
void ReturnToNone(const GameflowChartContext& context);

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
  LeaveGameFlowInNone(machine, machine.GetOwner()->owner.EndTutorial());
}

void EndSpectating(const Machine& machine) {
  GameflowChartOwner& owner = machine.GetOwner()->owner;
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

// Stores `phase` in the session and publishes the whole session.
void PublishPhase(const GameflowChartContext& context, GameflowPhase phase) {
  context.model.session.SetPhase(phase);
  context.owner.PublishSession();
}

void ReturnToNone(const GameflowChartContext& context) {
  GameflowChartOwner& owner = context.owner;
  Log(LogLevel::Always, kLogGroupDebug, "Resetting gameflow session resource");
  context.model.session.Reset();
  if (context.model.tournamentRunning) {
    Log(LogLevel::Always, kLogGroupDebug,
        "gameflow transitioned to None but Tournament is still going, putting us back into "
        "CheckedIntoTournament (this is normal)");
    PublishPhase(context, GameflowPhase::CheckedIntoTournament);
    // Entry actions must not post events: the walk back to
    // CheckedIntoTournament runs as a task once this dispatch is over.
    owner.PostTournamentReroute();
    return;
  }
  PublishPhase(context, GameflowPhase::None);
  owner.ExitGameFlow();
  if (owner.IsSpectating()) {
    owner.EndSpectating();
  }
}

void EnterState(const Machine& machine) {
  const auto& state = static_cast<const GameflowChartState&>(*machine.GetCurrentState());
  const GameflowChartContext& context = *machine.GetOwner();
  GameflowChartOwner& owner = context.owner;
  GameflowModel& model = context.model;
  Log(LogLevel::Always, kLogGroupDebug, "Gameflow: entering state '%s'", state.Name().c_str());
  std::optional<GameflowPhase> phase = state.PhaseOnEntry();
  switch (state.Work()) {
    case EntryWork::None:
      break;
    case EntryWork::ResetSession:
      ReturnToNone(context);
      return;
    case EntryWork::EndSpectatingFirst:
      if (owner.IsSpectating()) {
        owner.EndSpectating();
      }
      break;
    case EntryWork::JoinTournament:
      model.tournamentRunning = true;
      if (model.session.Phase() == GameflowPhase::CheckedIntoTournament) {
        phase.reset();
      }
      break;
    case EntryWork::EnterGameFlow:
      // Whether game flow was entered does not change the chart: the game is
      // starting either way.
      static_cast<void>(owner.EnterGameFlow(AvailabilityCheck::Skip));
      break;
    case EntryWork::DiscardCredentials:
      model.session.DiscardCredentials();
      break;
  }
  if (phase.has_value()) {
    PublishPhase(context, *phase);
  }
}

void ExitState(const Machine& machine) {
  Log(LogLevel::Always, kLogGroupDebug, "Gameflow: exiting state '%s'",
      machine.GetCurrentState()->Name().c_str());
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

}  // namespace Nalo::Client::Gameflow
