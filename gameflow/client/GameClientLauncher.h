#pragma once
// GameClientLauncher: the GameLauncher that drives the real game client
// process. It decides when a served game is launched, gathers what the
// client's command line needs (ClientCommandLine.h), writes the game's locale
// file (ClientFiles.h), spawns "Tavora.exe" from the patcher's
// "tav_game_client_sln" folder (or reuses the client recorded in the data
// store), watches the process and its window, and offers a reconnect once the
// client ends while the game goes on.
//
// It reads and changes the gameflow's state in the model and enters game flow
// through the gate (GameClientContext), asks the plugin for events and
// publications through GameClientOwner, reaches the other plugins and the
// core's timers through GameClientPeers, and the machine through a
// ProcessSystem, so that tests drive it with fakes:
//
//   GameClientLauncher launcher(processes, {model, gate, owner}, peers, clock);
//   launcher.EvaluateGameLaunch();  // spawns the client when the game is served
//
// Spectates (observer credentials, now or after the platform's delay), watches
// and tutorials run their own client through the same launch; a spectate is
// recorded in the data store so that a restarted plugin can rejoin it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "gameflow/client/ClientCommandLine.h"
#include "gameflow/client/GameClientOwner.h"
#include "gameflow/client/GameClientPeers.h"
#include "gameflow/client/GameLauncher.h"
#include "platform/Clock.h"
#include "platform/ProcessSystem.h"

namespace Nalo::Client::Gameflow {

class Spectate;
class Tutorials;
class WatchedProcess;

class GameClientLauncher final : public GameLauncher {
 public:
  using Owner = GameClientOwner;
  using Peers = GameClientPeers;

  // All four (and what `gameflow` names) must outlive the launcher; `clock`
  // times spectates.
  GameClientLauncher(ProcessSystem& processes, const GameClientContext& gameflow, Peers& peers,
                     const TickClock& clock);
  // The rooms' timers call back into the launcher.
  GameClientLauncher(const GameClientLauncher&) = delete;
  GameClientLauncher& operator=(const GameClientLauncher&) = delete;
  GameClientLauncher(GameClientLauncher&&) = delete;
  GameClientLauncher& operator=(GameClientLauncher&&) = delete;
  ~GameClientLauncher() override;

  void EvaluateGameLaunch() override;
  bool RelaunchInProgressGame() override;
  void RelaunchAfterLogin() override;
  void OfferReconnect() override;
  MaybeType<Failure, void> Reconnect() override;
  std::optional<Api::GameflowGameMap> LookUpMap(const Api::Queue& queue) override;
  MaybeType<Failure, void> WatchLaunch(const std::vector<std::string>& args) override;
  MaybeType<Failure, void> SpectateLaunch(std::optional<std::string> summonerName) override;
  MaybeType<Failure, void> SpectateQuit() override;
  MaybeType<Failure, void> TutorialStart(TutorialKind kind) override;
  MaybeType<Failure, void> BattleTrainingStop() override;
  void SetClientVestoMessage(std::string_view message) override;
  bool IsSpectating() const override;
  void EndSpectating() override;
  std::optional<TutorialKind> RunningTutorial() const override;
  void EndTutorial() override;
  void FollowRestoredClient(bool availabilityChanged) override;
  bool IsRestoredClientWaiting() const override { return mRestoredClient.has_value(); }
  void OnLoginInGameCredentials(const BindingProperty* value) override;
  void OnUxCrashCount(const BindingProperty* value) override;
  bool IsLaunchRunning() const override { return mLaunchRunning; }

 private:
  // Spectates for observer credentials, else launches the game client.
  MaybeType<Failure, void> LaunchGameOrSpectate(bool relaunch);
  // Launches (or finds) the game client for the stored credentials.
  MaybeType<Failure, void> LaunchGameClient();
  // The arguments that name the game (the process record keeps exactly these).
  MaybeType<Failure, std::vector<std::string>> CreateGameClientArgs();
  // Reuses the recorded client when it runs with `args` (any, when empty),
  // else spawns one.
  MaybeType<Failure, std::uint32_t> FindOrLaunchGameProcess(const std::vector<std::string>& args,
                                                            bool withHostCredentials);
  MaybeType<Failure, std::uint32_t> LaunchGameProcess(const std::vector<std::string>& args,
                                                      bool withHostCredentials);
  // The whole command line: the peers' part of it is asked for here.
  MaybeType<Failure, ClientCommandLine> GatherCommandLine(const std::vector<std::string>& args,
                                                          bool withHostCredentials);
  MaybeType<Failure, void> GetAndWriteGameLocale(const std::string& directory);
  bool CanReconnect() const;

  ProcessSystem* mProcesses;
  GameClientContext mGameflow;
  Peers* mPeers;
  bool mLaunchRunning = false;
  // A game client found running after a restart that is not watched yet.
  std::optional<std::uint32_t> mRestoredClient;
  std::unique_ptr<WatchedProcess> mWatched;
  std::unique_ptr<Spectate> mSpectate;
  std::unique_ptr<Tutorials> mTutorials;
};

}  // namespace Nalo::Client::Gameflow
