#pragma once
// PlayerStatus: the player's lobby as the gameflow publishes it in its
// player-status metadata, and LobbyStatus, the lobby record it is made of.
//
// Optional members are left out of the JSON when absent and read as absent
// when missing.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gameflow/Api/Queue.h"

namespace Nalo::Client::Gameflow::Api {

struct LobbyStatus {
  std::int32_t queueId = 0;
  bool isCustom = false;
  bool isPracticeTool = false;
  bool isLeader = false;
  bool isSpectator = false;
  bool allowedPlayAgain = false;
  std::vector<std::uint64_t> memberSummonerIds;
  std::vector<std::uint64_t> invitedSummonerIds;
  // Absent while the lobby service hasn't assigned one. Written only when
  // set and not empty.
  std::optional<std::string> lobbyId;
  QueueCustomGameSpectatorPolicy customSpectatorPolicy = QueueCustomGameSpectatorPolicy::NotAllowed;

  bool operator==(const LobbyStatus&) const = default;
};

struct PlayerStatus {
  // Absent when the player is in no lobby.
  std::optional<LobbyStatus> currentLobbyStatus;
  // The lobby of the last queued game, kept for "play again"; absent before
  // the first one.
  std::optional<LobbyStatus> lastQueuedLobbyStatus;
  bool canInviteOthersAtEog = false;

  bool operator==(const PlayerStatus&) const = default;
};

}  // namespace Nalo::Client::Gameflow::Api
