#pragma once
// GameLauncher: what the gameflow asks of the game client side: launching
// and relaunching the client, offering a reconnect, looking up maps, and the
// spectate and tutorial sessions that run a client of their own.
//
// The gameflow calls these at fixed points (a game record being served,
// credentials arriving, the login coming up, the client exiting, the patcher
// repairing corruption). GameClientLauncher is the one behind it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/Api/Queue.h"
#include "gameflow/GameflowModel.h"

namespace Nalo::Client::Gameflow {

// The tutorial a running tutorial game is; the numbers are the platform's.
enum class TutorialKind : std::int32_t { BasicTutorial = 0, BattleTraining = 1 };

class GameLauncher {
 public:
  virtual ~GameLauncher() = default;

  // Decides whether the game that is being served should be launched now,
  // and launches it.
  virtual void EvaluateGameLaunch() = 0;
  // Relaunches the game client of the game in progress; answers whether it
  // did.
  virtual bool RelaunchInProgressGame() = 0;
  // The platform connection came up in phase None: looks for a game to
  // return to.
  virtual void RelaunchAfterLogin() = 0;
  // The game client ended: offers a reconnect when the game goes on.
  virtual void OfferReconnect() = 0;
  // The player asks to return to the game in progress: relaunches the client
  // when a reconnect is (or becomes) available; 403 "Reconnect is not
  // available." otherwise.
  [[nodiscard]] virtual MaybeType<Failure, void> Reconnect() = 0;
  // The map of `queue`, or nothing when it cannot be found.
  [[nodiscard]] virtual std::optional<Api::GameflowGameMap> LookUpMap(const Api::Queue& queue) = 0;

  // The routes of the game client side. Each answers success (an empty
  // body) or the status and message of its refusal.
  // Watches the client running with `args` (any recorded one when empty), or
  // starts one without the host's credentials.
  [[nodiscard]] virtual MaybeType<Failure, void> WatchLaunch(
      const std::vector<std::string>& args) = 0;
  // Spectates the game of `summonerName`, or without a name the current
  // summoner's own game.
  [[nodiscard]] virtual MaybeType<Failure, void> SpectateLaunch(
      std::optional<std::string> summonerName) = 0;
  [[nodiscard]] virtual MaybeType<Failure, void> SpectateQuit() = 0;
  [[nodiscard]] virtual MaybeType<Failure, void> TutorialStart(TutorialKind kind) = 0;
  [[nodiscard]] virtual MaybeType<Failure, void> BattleTrainingStop() = 0;
  // Tells the platform that the client received `message` for the stored game.
  virtual void SetClientVestoMessage(std::string_view message) = 0;

  [[nodiscard]] virtual bool IsSpectating() const = 0;
  virtual void EndSpectating() = 0;
  [[nodiscard]] virtual std::optional<TutorialKind> RunningTutorial() const = 0;
  // Publishes the resource of the running tutorial and forgets it; nothing
  // when no tutorial runs.
  virtual void EndTutorial() = 0;

  // The login plugin's in-game credentials and the host's crash count
  // changed (`value` null for a deletion).
  virtual void OnLoginInGameCredentials(const BindingProperty* value) = 0;
  virtual void OnUxCrashCount(const BindingProperty* value) = 0;

  // A launch is under way (it may be waiting for a request while the core
  // runs a tick).
  [[nodiscard]] virtual bool IsLaunchRunning() const = 0;
  // Called by every tick: follows a game client found running after a
  // restart that could not be watched yet (`availabilityChanged`: the tick
  // found availability changed).
  virtual void FollowRestoredClient(bool availabilityChanged) = 0;
  // A game client found running after a restart waits to be watched; its
  // patcher lock is kept fresh meanwhile.
  [[nodiscard]] virtual bool IsRestoredClientWaiting() const = 0;

 protected:
  GameLauncher() = default;
  GameLauncher(const GameLauncher&) = default;
  GameLauncher& operator=(const GameLauncher&) = default;
  GameLauncher(GameLauncher&&) = default;
  GameLauncher& operator=(GameLauncher&&) = default;
};

}  // namespace Nalo::Client::Gameflow
