#pragma once
// GameClientOwner and GameClientContext: what the game client side is given
// of the gameflow. It reads and changes the gameflow's state in the model
// (the phase, the stored game and credentials, the login, the launch state,
// the watch phase, the session's client flags) and enters and leaves game
// flow through the gate, both by reference; the owner does the rest: events,
// the tick and publications.

#include "gameflow/Api/GameflowWatchPhase.h"
#include "gameflow/GameFlowGate.h"
#include "gameflow/GameflowEvent.h"
#include "gameflow/GameflowModel.h"
#include "gameflow/LCDS/GameDto.h"
#include "gameflow/LCDS/PlayerCredentialsDto.h"

namespace Nalo::Client::Gameflow {

class GameClientOwner {
 public:
  virtual ~GameClientOwner() = default;
  // Dispatches `event` through the chart; answers whether a row handled it.
  virtual bool PostEvent(GameflowEvent event) = 0;
  // The plugin's tick: publishes what changed and follows the launch.
  virtual void PublishChangesAndLaunchOutcomes() = 0;
  // Publish the session, the spectating flag or the watch phase as they are now.
  virtual void PublishSession() = 0;
  virtual void PublishSpectating() = 0;
  virtual void PublishWatchPhase() = 0;
  // Stores the credentials and refreshes (and publishes) the session from them.
  virtual void StoreCredentials(const LCDS::PlayerCredentialsDto& credentials) = 0;
  // Fills the session from `game` (queue with its game-type configuration,
  // map) and publishes it.
  virtual void ApplyGame(const LCDS::GameDto& game) = 0;
  // Hands `game` to the platform's game notification.
  virtual void NotifyGame(const LCDS::GameDto& game) = 0;

 protected:
  GameClientOwner() = default;
  GameClientOwner(const GameClientOwner&) = default;
  GameClientOwner& operator=(const GameClientOwner&) = default;
  GameClientOwner(GameClientOwner&&) = default;
  GameClientOwner& operator=(GameClientOwner&&) = default;
};

// The gameflow as the game client side's rooms hold it. All three must
// outlive them.
struct GameClientContext {
  GameflowModel& model;
  GameFlowGate& gate;
  GameClientOwner& owner;
};

}  // namespace Nalo::Client::Gameflow
