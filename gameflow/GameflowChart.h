#pragma once
// GameflowChart: the gameflow's state chart, and what the chart asks of the
// object that runs it.
//
// The chart is data: eighteen states, each publishing the phase of its row on
// entry, and one table of transition rows (source, event, action, target) in
// src/GameflowChart.cpp. That table is the one place that answers "what
// happens to event X in state Y"; the diagrams (docs/gameflow-chart.md, the
// dashboard's chart) are written from it by tools/chart/, and a test fails
// when the checked-in diagram no longer matches.
//
//   GameflowChartContext context{model, owner};
//   GameflowMachine machine(&context, kGameflowMachineName, &GameflowChartRoot(),
//                           FormatGameflowEvent);
//   Nalo::Hsm::EventQueue<GameflowChartContext, GameflowEvent> events(machine);
//   events.Start();                                   // Gameflow, then None
//   events.Post(GameflowEvent::RequestedLobby);       // None -> LobbyRequested
//
// Every entry action logs "Gameflow: entering state '<name>'" and every exit
// action "Gameflow: exiting state '<name>'", at level ALWAYS. The actions
// change the gameflow's state in the GameflowModel they are given and reach
// the plugin only through GameflowChartOwner, so the chart can be run against
// a plain model and a recording owner in tests.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "gameflow/Api/GameflowPhase.h"
#include "gameflow/GameflowEvent.h"
#include "gameflow/GameflowModel.h"
#include "hsm/StateMachine.h"

namespace Nalo::Client::Gameflow {

// Whether entering game flow checks availability and the patcher first.
enum class AvailabilityCheck { Skip, Apply };

// What the chart's actions ask of the plugin beyond the gameflow's state.
// Called only from inside a dispatch; none of them may call the machine back
// (events they need to raise go through the event queue or a posted task).
class GameflowChartOwner {
 public:
  virtual ~GameflowChartOwner() = default;

  // Publishes the whole session as the model holds it, also when the phase
  // did not change.
  virtual void PublishSession() = 0;
  // Posts the task that walks the machine back into CheckedIntoTournament
  // once the current dispatch is over.
  virtual void PostTournamentReroute() = 0;

  // Stops and locks the patcher; answers whether game flow is now active.
  virtual bool EnterGameFlow(AvailabilityCheck check) = 0;
  // Unlocks the patcher and clears the lock, unless a game is still served.
  virtual void ExitGameFlow() = 0;

  [[nodiscard]] virtual bool IsSpectating() const = 0;
  virtual void EndSpectating() = 0;
  // Publishes the resource of the tutorial that ran and forgets it; with no
  // tutorial running it does nothing. Answers whether a tutorial ended.
  virtual bool EndTutorial() = 0;

 protected:
  GameflowChartOwner() = default;
  GameflowChartOwner(const GameflowChartOwner&) = default;
  GameflowChartOwner& operator=(const GameflowChartOwner&) = default;
  GameflowChartOwner(GameflowChartOwner&&) = default;
  GameflowChartOwner& operator=(GameflowChartOwner&&) = default;
};

// What the machine runs against: the gameflow's state, which the actions read
// and change directly (the phase, the session's reset, the credentials, the
// tournament flag), and the owner for everything else. Both must outlive the
// machine.
struct GameflowChartContext {
  GameflowModel& model;
  GameflowChartOwner& owner;
};

using GameflowMachine = Hsm::StateMachine<GameflowChartContext, GameflowEvent>;

inline constexpr std::string_view kGameflowMachineName = "GameflowStateMachine";

// What an entry action does besides logging and publishing its phase.
enum class EntryWork {
  None,
  // The entry of "None": reset the session; publish None and exit game flow,
  // or, while a tournament runs, publish CheckedIntoTournament and post the
  // reroute task.
  ResetSession,
  // End a running spectate before publishing the phase.
  EndSpectatingFirst,
  // Mark the tournament as running; publish the phase only if the session
  // does not show it yet.
  JoinTournament,
  // Enter game flow without the availability checks, then publish.
  EnterGameFlow,
  // Forget the player credentials.
  DiscardCredentials,
};

// A state of the gameflow chart: an engine state plus the phase its entry
// publishes (none for the states that only pass through) and its entry work.
class GameflowChartState : public GameflowMachine::State {
 public:
  GameflowChartState(std::string name, const GameflowChartState* parent,
                     std::optional<Api::GameflowPhase> phase, EntryWork work,
                     const GameflowChartState* initial);

  [[nodiscard]] std::optional<Api::GameflowPhase> PhaseOnEntry() const noexcept { return mPhase; }
  [[nodiscard]] EntryWork Work() const noexcept { return mWork; }

 private:
  std::optional<Api::GameflowPhase> mPhase;
  EntryWork mWork;
};

// The root, "Gameflow".
[[nodiscard]] const GameflowChartState& GameflowChartRoot() noexcept;
// Every state in definition order, the root first.
[[nodiscard]] std::span<const GameflowChartState* const> GameflowChartStates() noexcept;
// The state named `name`, or null.
[[nodiscard]] const GameflowChartState* FindGameflowChartState(std::string_view name) noexcept;
// The whole transition table, in table order.
[[nodiscard]] std::span<const GameflowMachine::Transition> GameflowChartRows() noexcept;
// The name of a row's action ("tournament checkout", "end the tutorial",
// "end spectating"), empty for a row without one.
[[nodiscard]] std::string_view GameflowChartActionName(
    const GameflowMachine::Transition& row) noexcept;

// The machine's event formatter: the event's wire name.
[[nodiscard]] std::string FormatGameflowEvent(const GameflowEvent& event);

}  // namespace Nalo::Client::Gameflow
