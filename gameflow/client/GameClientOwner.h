#pragma once
// GameClientOwner: the gameflow's state and chart as the game client side
// reads and changes them (the phase, the stored game and credentials, the
// login, availability, the patcher lock, the session's client flags).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gameflow/Api/GameflowPhase.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/Api/GameflowWatchPhase.h"
#include "gameflow/Api/LoginSession.h"
#include "gameflow/GameflowChart.h"
#include "gameflow/GameflowEvent.h"
#include "gameflow/LCDS/GameDto.h"
#include "gameflow/LCDS/PlayerCredentialsDto.h"
#include "gameflow/client/GameLauncher.h"

namespace Nalo::Client::Gameflow {

class GameClientOwner {
 public:
  virtual ~GameClientOwner() = default;
  [[nodiscard]] virtual Api::GameflowPhase Phase() const = 0;
  [[nodiscard]] virtual bool IsGameBeingServed() const = 0;
  [[nodiscard]] virtual const std::optional<LCDS::GameDto>& StoredGame() const = 0;
  [[nodiscard]] virtual const std::optional<LCDS::PlayerCredentialsDto>& StoredCredentials()
      const = 0;
  virtual void StoreGame(const LCDS::GameDto& game) = 0;
  // Stores the credentials and refreshes (and publishes) the session from them.
  virtual void StoreCredentials(const LCDS::PlayerCredentialsDto& credentials) = 0;
  // Fills the session from `game` (queue, map) and publishes it.
  virtual void ApplyGame(const LCDS::GameDto& game) = 0;
  // Hands `game` to the platform's game notification.
  virtual void NotifyGame(const LCDS::GameDto& game) = 0;
  [[nodiscard]] virtual const Api::LoginSession& Login() const = 0;
  [[nodiscard]] virtual const std::string& PlatformId() const = 0;
  // The session's queue id (-1 without a queue).
  [[nodiscard]] virtual std::int64_t QueueId() const = 0;
  [[nodiscard]] virtual const std::vector<std::string>& ExtraGameClientArgs() const = 0;
  virtual void SetLaunchState(LaunchState state) = 0;
  // The session's gameClient flags; each change marks the session changed.
  [[nodiscard]] virtual bool IsGameClientRunning() const = 0;
  virtual void SetGameClientRunning() = 0;
  virtual void SetGameClientVisible() = 0;
  [[nodiscard]] virtual bool IsAvailable() const = 0;
  [[nodiscard]] virtual bool IsCorrupted() const = 0;
  // Blocks availability for game flow and marks the session changed.
  virtual void BlockForGameFlow() = 0;
  virtual bool PostEvent(GameflowEvent event) = 0;
  virtual void Tick() = 0;
  virtual bool EnterGameFlow(AvailabilityCheck check) = 0;
  virtual void ExitGameFlow() = 0;
  virtual void SetPatcherLock() = 0;
  // Unlocks the patcher and clears the stored lock.
  virtual void ReleasePatcher() = 0;
  // Asks the patcher to look for corruption and handles its answer.
  virtual void DetectCorruption() = 0;
  [[nodiscard]] virtual Api::GameflowWatchPhase WatchPhase() const = 0;
  virtual void PublishSession() = 0;
  // Sets the session's map (not published).
  virtual void SetMap(const Api::GameflowGameMap& map) = 0;
  // Publishes the spectating flag.
  virtual void PublishSpectating() = 0;
  // Sets and publishes the watch phase.
  virtual void SetWatchPhase(Api::GameflowWatchPhase phase) = 0;

 protected:
  GameClientOwner() = default;
  GameClientOwner(const GameClientOwner&) = default;
  GameClientOwner& operator=(const GameClientOwner&) = default;
  GameClientOwner(GameClientOwner&&) = default;
  GameClientOwner& operator=(GameClientOwner&&) = default;
};

}  // namespace Nalo::Client::Gameflow
