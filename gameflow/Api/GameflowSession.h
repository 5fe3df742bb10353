#pragma once
// GameflowSession: the payload of the session resource, what peers see of
// the player's gameflow: the phase, the game, the game client, the map and
// the last dodge.
//
// A default-constructed session is the "no game" session: phase None, game
// id 0, queue id kNoQueueId, dodge state Invalid. The gameflow replaces its
// session with one whenever a gameflow ends.

#include <cstdint>
#include <string>
#include <vector>

#include "binding/BindingProperty.h"
#include "gameflow/Api/GameflowPhase.h"
#include "gameflow/Api/Queue.h"

namespace Nalo::Client::Gameflow::Api {

// The game client's connection and window state.
struct GameflowGameClient {
  std::string serverIp;
  std::uint16_t serverPort = 0;
  std::string observerServerIp;
  std::uint16_t observerServerPort = 0;
  bool running = false;
  bool visible = false;

  bool operator==(const GameflowGameClient&) const = default;
};

// The map of the current game, as the maps plugin describes it. `assets`
// and `properties` are carried through without a fixed shape.
struct GameflowGameMap {
  std::int64_t id = 0;
  std::string name;
  std::string mapStringId;
  std::string gameMode;
  std::string gameModeName;
  std::string gameModeShortName;
  std::string gameMutator;
  bool isRGM = false;
  std::string description;
  std::string platformId;
  std::string platformName;
  BindingProperty assets;
  BindingProperty properties;

  bool operator==(const GameflowGameMap&) const = default;
};

// The game as the platform server last described it. The team lists and the
// champion selections keep the server's objects as they came.
struct GameflowGameData {
  std::uint64_t gameId = 0;
  Queue queue;
  bool isCustomGame = false;
  std::string gameName;
  std::string password;
  std::vector<BindingProperty> teamOne;
  std::vector<BindingProperty> teamTwo;
  std::vector<BindingProperty> playerChampionSelections;
  bool spectatorsAllowed = false;

  bool operator==(const GameflowGameData&) const = default;
};

// Who dodged. The values are the character codes of the digits '0' to '3'
// (48 to 51), because the platform sends the state as one character: a
// state read as the character '1' is PartyDodged.
enum class GameflowGameDodgeState : std::int32_t {
  Invalid = '0',
  PartyDodged = '1',
  StrangerDodged = '2',
  TournamentDodged = '3',
};

// The last dodge: its state, the summoners who dodged and the phase the
// player was in. The gameflow always sets `phase` together with `state`.
struct GameflowGameDodge {
  GameflowGameDodgeState state = GameflowGameDodgeState::Invalid;
  std::vector<std::uint64_t> dodgeIds;
  GameflowPhase phase = GameflowPhase::None;

  bool operator==(const GameflowGameDodge&) const = default;
};

struct GameflowSession {
  GameflowPhase phase = GameflowPhase::None;
  GameflowGameData gameData;
  GameflowGameClient gameClient;
  GameflowGameMap map;
  GameflowGameDodge gameDodge;

  bool operator==(const GameflowSession&) const = default;
};

}  // namespace Nalo::Client::Gameflow::Api
