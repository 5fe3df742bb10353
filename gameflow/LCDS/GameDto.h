#pragma once
// GameDto: the platform server's record of the player's game, sent whenever
// the game changes state ("JOINING_CHAMP_SELECT", "TERMINATED", ...).
//
// The team lists and champion selections are kept as the server sent them;
// the gameflow copies them into its session without looking inside.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"

namespace Nalo::Client::Gameflow::LCDS {

// The server's class name for this record.
inline constexpr std::string_view kGameDtoClassName = "com.nalogames.platform.game.GameDTO";

struct GameDto {
  std::uint64_t id = 0;
  std::int32_t mapId = 0;
  std::string gameState;
  std::string queueTypeName;
  std::string gameMode;
  std::int32_t gameTypeConfigId = 0;
  std::int32_t maxNumPlayers = 0;
  std::string gameType;
  std::int32_t spectatorDelay = 0;  // seconds
  std::vector<BindingProperty> teamOne;
  std::vector<BindingProperty> teamTwo;
  std::vector<BindingProperty> playerChampionSelections;

  bool operator==(const GameDto&) const = default;
};

}  // namespace Nalo::Client::Gameflow::LCDS
