#pragma once
// GameflowPhase: where the player is on the way from lobby to the end of a
// game, as published in the session resource.
//
// The enumerator names are also the names of the corresponding states of the
// gameflow's state chart (which has further internal states that are not
// phases), and they are the texts peers see in JSON.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Nalo::Client::Gameflow::Api {

enum class GameflowPhase : std::int32_t {
  None = 0,
  Lobby = 1,
  Matchmaking = 2,
  CheckedIntoTournament = 3,
  ReadyCheck = 4,
  ChampSelect = 5,
  GameStart = 6,
  FailedToLaunch = 7,
  InProgress = 8,
  Reconnect = 9,
  WaitingForStats = 10,
  PreEndOfGame = 11,
  EndOfGame = 12,
  TerminatedInError = 13,
};

// The enumerator names, indexed by value.
inline constexpr std::array<std::string_view, 14> kGameflowPhaseNames = {"None",
                                                                         "Lobby",
                                                                         "Matchmaking",
                                                                         "CheckedIntoTournament",
                                                                         "ReadyCheck",
                                                                         "ChampSelect",
                                                                         "GameStart",
                                                                         "FailedToLaunch",
                                                                         "InProgress",
                                                                         "Reconnect",
                                                                         "WaitingForStats",
                                                                         "PreEndOfGame",
                                                                         "EndOfGame",
                                                                         "TerminatedInError"};

[[nodiscard]] constexpr std::string_view GameflowPhaseName(GameflowPhase phase) noexcept {
  return kGameflowPhaseNames[static_cast<std::size_t>(phase)];
}

// The phases of a game being launched or played.
[[nodiscard]] constexpr bool IsGamePhase(GameflowPhase phase) noexcept {
  return phase == GameflowPhase::GameStart || phase == GameflowPhase::FailedToLaunch ||
         phase == GameflowPhase::InProgress || phase == GameflowPhase::Reconnect;
}

}  // namespace Nalo::Client::Gameflow::Api
