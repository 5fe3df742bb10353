#pragma once
// GameflowPlugin: the plugin object of "tav-gameflow". It owns the gameflow's
// state and wires its parts together: the state chart (GameflowChart.h) run
// through a run-to-completion event queue, the session model
// (GameflowSessionModel.h), entering and leaving game flow with availability
// and the patcher lock (GameFlowGate.h), and the game client side
// (GameLauncher.h). It registers the REST routes under /tav-gameflow/v1/,
// subscribes to the resources and platform messages that drive the gameflow,
// and publishes the session, availability and patcher-lock resources.
//
// Built as libtav_gameflow.so with the export load_tav_gameflow. The core
// calls everything on the plugin thread; PostEvent may also be called from
// other threads, which then wait for the running dispatch.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gameflow/Api/GameflowAvailability.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/Api/GameflowWatchPhase.h"
#include "gameflow/Api/LoginSession.h"
#include "gameflow/Api/PatcherProductState.h"
#include "gameflow/Api/PlayerStatus.h"
#include "gameflow/GameFlowGate.h"
#include "gameflow/GameLauncher.h"
#include "gameflow/GameflowChart.h"
#include "gameflow/GameflowSessionModel.h"
#include "gameflow/WallClock.h"
#include "hsm/EventQueue.h"
#include "plugin/AppModule.h"

namespace Nalo::Client::Gameflow {

// Where a launch of the game client stands; the tick turns Launching (a launch
// that never completed) and Exited (the client ended) into events.
enum class LaunchState : std::int32_t { Idle = 0, Launching = 1, Launched = 2, Exited = 3 };

class GameflowPlugin final : public AppModule,
                             private GameflowChartOwner,
                             private GameFlowGate::Owner {
 public:
  // The production clocks and the pending game launcher.
  GameflowPlugin();
  // `tickClock` and `wallClock` must outlive the plugin.
  GameflowPlugin(const TickClock& tickClock, const WallClock& wallClock,
                 std::unique_ptr<GameLauncher> launcher);
  ~GameflowPlugin() override;

  GameflowPlugin(const GameflowPlugin&) = delete;
  GameflowPlugin& operator=(const GameflowPlugin&) = delete;
  GameflowPlugin(GameflowPlugin&&) = delete;
  GameflowPlugin& operator=(GameflowPlugin&&) = delete;

  // Clears the patcher lock unless a game is starting or running, stops the
  // chart (exit lines up to "Gameflow"), removes the tick timer, then runs the
  // base shutdown.
  void OnShutdown() override;
  // Registers the gameflow's types, then its routes in table order.
  void RegisterApi() override;
  // Subscribes, sets the first blockers, starts the chart in "None", checks
  // corruption and the patcher lock; always answers true (unless the host
  // asked to exit after the unlock check, which ends the process).
  bool OnInitialize() override;

  // Dispatches `event` through the chart. Inside a dispatch the event is
  // queued and runs once the dispatch is over (the answer is then true).
  // Answers whether a row handled it.
  bool PostEvent(GameflowEvent event);

  // Fills the session's queue from `game`: its type, map, mode, players per
  // team and category, the game-type configuration looked up by its id (kept
  // at its default, with a WARN line, when the lookup fails), and the map.
  // Does not publish.
  void ApplyGameToSession(const LCDS::GameDto& game);

 private:
  // --- Chart owner ---------------------------------------------------------------------
  Api::GameflowPhase Phase() const override { return mSessionModel.Phase(); }
  void SetPhase(Api::GameflowPhase phase) override;
  void ResetSession() override { mSessionModel.Reset(); }
  void DiscardCredentials() override { mSessionModel.DiscardCredentials(); }
  bool IsTournamentRunning() const override { return mTournamentRunning; }
  void SetTournamentRunning(bool running) override { mTournamentRunning = running; }
  void PostTournamentReroute() override;
  bool EnterGameFlow(AvailabilityCheck check) override { return mGate.Enter(check); }
  void ExitGameFlow() override { mGate.Exit(); }
  bool IsSpectating() const override { return mLauncher->IsSpectating(); }
  void EndSpectating() override { mLauncher->EndSpectating(); }
  void EndTutorial() override { mLauncher->EndTutorial(); }

  // --- Routes --------------------------------------------------------------------------
  Api::GameflowAvailability GetAvailability();
  void AcknowledgeFailedLaunch();
  std::vector<std::string> GetExtraGameClientArgs();
  void SetExtraGameClientArgs(std::vector<std::string> arguments);
  MaybeType<Failure, Api::GameflowSession> GetSession();
  bool GetActivePatcherLock();
  void PostSessionEvent(std::string name);
  void PostDodge(Api::GameflowGameDodge dodge);
  void PostGameConfiguration(Api::Queue queue);
  bool RequestLobby();
  bool RequestTournamentCheckin();
  void PostTournamentEnded();
  void PostTick();
  bool SetPreEndGameTransition(bool enabled);
  Api::GameflowWatchPhase GetWatchPhase();
  bool GetSpectating();
  void GetDelayedSpectateLaunch();
  bool GetBasicTutorial();
  bool GetBattleTraining();
  void SetPlayerStatus(Api::PlayerStatus status);
  Api::PlayerStatus GetPlayerStatus();

  // --- Handlers ------------------------------------------------------------------------
  void SubscribeAll();
  void OnGameNotification(const LCDS::GameDto& game);
  void OnPlayerCredentialsNotification(const LCDS::PlayerCredentialsDto& credentials);
  void OnLoginSession(PluginResourceEventType type, const Api::LoginSession* session);
  void OnLoginDataPacket(PluginResourceEventType type, const BindingProperty* packet);
  void OnPatcherProductState(const Api::PatcherProductState& state);
  void OnQueues(PluginResourceEventType type, bool custom);

  // --- Game flow gate owner ------------------------------------------------------------
  bool IsGameBeingServed() const override { return mSessionModel.IsGameBeingServed(); }
  // The periodic work: publishes the lock's status, availability and the
  // game client's state when they changed, and turns launch results into
  // events.
  void Tick() override;
  void ScheduleLockRefresh() override;

  // --- Start-up ------------------------------------------------------------------------
  void SetAvailabilityBlocker(Api::GameflowAvailabilityState reason, bool blocked);
  void DetectCorruption();
  void ExitIfAskedAfterUnlockCheck();

  // --- Publishing ----------------------------------------------------------------------
  void PublishSession();
  template <class T>
  void PublishValue(std::string_view uri, const T& value);

  bool mSessionChanged = false;
  GameflowSessionModel mSessionModel;
  bool mQueuesReceived = false;
  bool mCustomQueuesReceived = false;
  bool mPreEndGameTransitionEnabled = false;
  Api::PlayerStatus mPlayerStatus;
  std::vector<std::string> mExtraGameClientArgs;
  LaunchState mLaunchState = LaunchState::Idle;
  std::string mPlatformId;
  Api::LoginSession mLoginSession;
  Api::GameflowWatchPhase mWatchPhase = Api::GameflowWatchPhase::None;
  bool mTournamentRunning = false;
  // Set once OnInitialize has started the chart: shutdown work that talks to
  // peers needs a bound core.
  bool mInitialized = false;
  std::unique_ptr<GameLauncher> mLauncher;
  std::unique_ptr<PatcherPeers> mPatcherPeers;
  // Availability, the patcher lock and the corrupted mark.
  GameFlowGate mGate;
  GameflowMachine mMachine;
  Hsm::EventQueue<GameflowChartOwner, GameflowEvent> mEvents;
};

}  // namespace Nalo::Client::Gameflow
