#pragma once
// PlayerCredentialsDto: what the game client needs to join a game, sent by
// the platform server once the game server is ready for the player.
//
// The encryption keys are session values for one game: the gameflow hands
// them to the game client and drops them when the game ends. Never log them.

#include <cstdint>
#include <string>
#include <string_view>

namespace Nalo::Client::Gameflow::LCDS {

// The server's class name for this record.
inline constexpr std::string_view kPlayerCredentialsDtoClassName =
    "com.nalogames.platform.game.PlayerCredentialsDto";

struct PlayerCredentialsDto {
  std::uint64_t gameId = 0;
  std::string serverIp;
  std::uint16_t serverPort = 0;
  std::string encryptionKey;
  bool observer = false;
  std::string observerServerIp;
  std::uint16_t observerServerPort = 0;
  std::string observerEncryptionKey;
  std::uint64_t summonerId = 0;

  bool operator==(const PlayerCredentialsDto&) const = default;
};

}  // namespace Nalo::Client::Gameflow::LCDS
