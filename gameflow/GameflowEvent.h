#pragma once
// GameflowEvent: the events of the gameflow's state chart.
//
// Inside the plugin an event is this enumeration; on the wire (the
// session-event endpoint, the log) it is its name, "GAMEFLOW_EVENT." and an
// upper-case word. Clients may post any text: ParseGameflowEvent answers
// nothing for a text that names no event, and such a text never reaches the
// chart.
//
//   auto event = ParseGameflowEvent("GAMEFLOW_EVENT.ENTERED_LOBBY");  // EnteredLobby
//   std::string_view name = GameflowEventName(GameflowEvent::GameStarted);

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace Nalo::Client::Gameflow {

// In the order in which the events are defined; kGameflowEventNames follows it.
enum class GameflowEvent : std::uint8_t {
  RequestedLobby,
  FailedLobby,
  EnteredLobby,
  ExitedLobby,
  EnteredQueue,
  ExitedQueue,
  ExitedKorvaQueue,
  TournamentCheckinRequested,
  FailedTournamentCheckin,
  CheckedInForTournament,
  CheckedOutOfTournament,
  EnteredReadyCheck,
  ExitedReadyCheck,
  EnteredChampSelect,
  ExitedChampSelect,
  EnteredDelayedSpectate,
  GameStartFailed,
  GameStarted,
  GameLaunched,
  GameFailedToLaunch,
  ReconnectAvailable,
  GameCompleted,
  StatsReceived,
  PreEndOfGameCompleted,
  StatsDismissed,
  Terminated,
  TerminatedInError,
  CorruptionDetected,
  ExitedSpectating,
  ExitedTutorial,
  QuitToLobby,
  TournamentEnded,
  StrangerDodged,
  PartyDodged,
  TournamentDodged,
};

inline constexpr std::size_t kGameflowEventCount = 35;

// The wire names, indexed by the enumeration's value.
inline constexpr std::array<std::string_view, kGameflowEventCount> kGameflowEventNames = {
    "GAMEFLOW_EVENT.REQUESTED_LOBBY",
    "GAMEFLOW_EVENT.FAILED_LOBBY",
    "GAMEFLOW_EVENT.ENTERED_LOBBY",
    "GAMEFLOW_EVENT.EXITED_LOBBY",
    "GAMEFLOW_EVENT.ENTERED_QUEUE",
    "GAMEFLOW_EVENT.EXITED_QUEUE",
    "GAMEFLOW_EVENT.EXITED_KORVA_QUEUE",
    "GAMEFLOW_EVENT.TOURNAMENT_CHECKIN_REQUESTED",
    "GAMEFLOW_EVENT.FAILED_TOURNAMENT_CHECKIN",
    "GAMEFLOW_EVENT.CHECKED_IN_FOR_TOURNAMENT",
    "GAMEFLOW_EVENT.CHECKED_OUT_OF_TOURNAMENT",
    "GAMEFLOW_EVENT.ENTERED_READY_CHECK",
    "GAMEFLOW_EVENT.EXITED_READY_CHECK",
    "GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT",
    "GAMEFLOW_EVENT.EXITED_CHAMP_SELECT",
    "GAMEFLOW_EVENT.ENTERED_DELAYED_SPECTATE",
    "GAMEFLOW_EVENT.GAME_START_FAILED",
    "GAMEFLOW_EVENT.GAME_STARTED",
    "GAMEFLOW_EVENT.GAME_LAUNCHED",
    "GAMEFLOW_EVENT.GAME_FAILED_TO_LAUNCH",
    "GAMEFLOW_EVENT.RECONNECT_AVAILABLE",
    "GAMEFLOW_EVENT.GAME_COMPLETED",
    "GAMEFLOW_EVENT.STATS_RECEIVED",
    "GAMEFLOW_EVENT.PRE_END_OF_GAME_COMPLETED",
    "GAMEFLOW_EVENT.STATS_DISMISSED",
    "GAMEFLOW_EVENT.TERMINATED",
    "GAMEFLOW_EVENT.TERMINATED_IN_ERROR",
    "GAMEFLOW_EVENT.CORRUPTION_DETECTED",
    "GAMEFLOW_EVENT.EXITED_SPECTATING",
    "GAMEFLOW_EVENT.EXITED_TUTORIAL",
    "GAMEFLOW_EVENT.QUIT_TO_LOBBY",
    "GAMEFLOW_EVENT.TOURNAMENT_ENDED",
    "GAMEFLOW_EVENT.STRANGER_DODGED",
    "GAMEFLOW_EVENT.PARTY_DODGED",
    "GAMEFLOW_EVENT.TOURNAMENT_DODGED",
};

// The game type of a custom game: a game of this type is never dodged.
inline constexpr std::string_view kPracticeGameType = "PRACTICE_GAME";

// The wire name of `event`.
[[nodiscard]] constexpr std::string_view GameflowEventName(GameflowEvent event) noexcept {
  return kGameflowEventNames[static_cast<std::size_t>(event)];
}

// The event named exactly `name` (same length, same bytes), or nothing.
// Never fails on any text: long texts, NUL bytes and invalid UTF-8 simply
// name no event.
[[nodiscard]] std::optional<GameflowEvent> ParseGameflowEvent(std::string_view name) noexcept;

}  // namespace Nalo::Client::Gameflow
