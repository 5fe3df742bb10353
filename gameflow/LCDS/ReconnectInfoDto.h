#pragma once
// ReconnectInfoDto: the platform server's answer when the player asks to
// rejoin a running game: the game, fresh credentials for it, and how long to
// wait before reconnecting.
//
// The server knows this record by a class name of its own game life cycle,
// not by the name of this type.

#include <cstdint>
#include <string_view>

#include "gameflow/LCDS/GameDto.h"
#include "gameflow/LCDS/PlayerCredentialsDto.h"

namespace Nalo::Client::Gameflow::LCDS {

// The server's class name for this record.
inline constexpr std::string_view kReconnectInfoDtoClassName =
    "com.nalogames.platform.game.PlatformGameLifecycleDTO";

struct ReconnectInfoDto {
  PlayerCredentialsDto playerCredentials;
  GameDto game;
  std::uint32_t reconnectDelay = 0;  // seconds

  bool operator==(const ReconnectInfoDto&) const = default;
};

}  // namespace Nalo::Client::Gameflow::LCDS
