#pragma once
// GameflowPlugin: the plugin object of "tav-gameflow". It owns the gameflow's
// state (GameflowModel.h) and wires its parts together: the state chart
// (GameflowChart.h) run through a run-to-completion event queue, entering and
// leaving game flow with availability, the patcher lock and corruption
// (GameFlowGate.h), and the game client side (client/GameLauncher.h). It registers
// the REST routes under /tav-gameflow/v1/ (GameflowRoutes.cpp), subscribes to
// the resources and platform messages that drive the gameflow
// (GameflowSubscriptions.cpp), and publishes the session, availability and
// patcher-lock resources.
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

#include "diagnostics/Log.h"
#include "gameflow/Api/GameflowAvailability.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/Api/GameflowWatchPhase.h"
#include "gameflow/Api/LoginSession.h"
#include "gameflow/Api/PatcherProductState.h"
#include "gameflow/Api/PlayerStatus.h"
#include "gameflow/GameFlowGate.h"
#include "gameflow/GameflowChart.h"
#include "gameflow/GameflowModel.h"
#include "gameflow/GameflowRoutes.h"
#include "gameflow/WallClock.h"
#include "gameflow/client/GameClientLauncher.h"
#include "gameflow/client/GameLauncher.h"
#include "hsm/EventQueue.h"
#include "platform/ProcessSystem.h"
#include "plugin/AppModule.h"

namespace Nalo::Client::Gameflow {

class GameflowPlugin final : public AppModule,
                             private GameflowChartOwner,
                             private GameFlowGate::Owner,
                             private GameflowRoutes::Owner,
                             private GameClientOwner {
 public:
  // The production clocks, the system's processes and the game client launcher.
  GameflowPlugin();
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
  bool PostEvent(GameflowEvent event) override;

 private:
  // The clocks only; the default constructor then builds the launcher, which
  // reaches back into the plugin. `tickClock` and `wallClock` must outlive it.
  GameflowPlugin(const TickClock& tickClock, const WallClock& wallClock);

  // --- What the chart asks of the plugin ------------------------------------------------
  void PublishSession() override;
  void PostTournamentReroute() override;
  bool EnterGameFlow(AvailabilityCheck check) override { return mGate.Enter(check); }
  void ExitGameFlow() override { mGate.Exit(); }
  bool IsSpectating() const override { return mLauncher->IsSpectating(); }
  void EndSpectating() override { mLauncher->EndSpectating(); }
  bool EndTutorial() override {
    const bool running = mLauncher->RunningTutorial().has_value();
    mLauncher->EndTutorial();
    return running;
  }

  // --- What the game-flow gate asks of the plugin ----------------------------------------
  // The periodic work, run by the 0.5-second timer "tav-gameflow.tick", by
  // POST /tav-gameflow/v1/tick and after every change of the patcher lock:
  // publishes the lock's status (unlocking the patcher when it lapsed),
  // availability and the game client's state when they changed; turns the
  // end of the client into EXITED_TUTORIAL or a reconnect offer and a reload
  // of the post-game settings, and a launch that returned without launching
  // into GAME_FAILED_TO_LAUNCH.
  void PublishChangesAndLaunchOutcomes() override;
  void ScheduleLockRefresh() override;
  bool RelaunchInProgressGame() override { return mLauncher->RelaunchInProgressGame(); }

  // --- What the routes and the game client side ask of the plugin ----------------------
  void PublishWatchPhase() override;
  void PublishPlayerStatus() override;

  // --- Subscriptions (GameflowSubscriptions.cpp) ------------------------------------------
  void SubscribeAll();
  void OnGameNotification(const LCDS::GameDto& game);
  void OnPlayerCredentialsNotification(const LCDS::PlayerCredentialsDto& credentials);
  void OnLoginSession(PluginResourceEventType type, const Api::LoginSession* session);
  void OnLoginDataPacket(PluginResourceEventType type, const BindingProperty* packet);
  void OnQueues(PluginResourceEventType type, bool custom);

  // --- What the game client side asks of the plugin ------------------------------------
  void PublishSpectating() override;
  void StoreCredentials(const LCDS::PlayerCredentialsDto& credentials) override;
  // Applies `game` to the session and publishes it.
  void ApplyGame(const LCDS::GameDto& game) override;
  // Fills the session's queue from `game`: its type, map, mode, players per
  // team and category, the game-type configuration looked up by its id (kept
  // at its default, with a WARN line, when the lookup fails), and the map.
  // Does not publish.
  void ApplyGameToSession(const LCDS::GameDto& game);
  void NotifyGame(const LCDS::GameDto& game) override { OnGameNotification(game); }

  // --- Start-up ------------------------------------------------------------------------
  void SetAvailabilityBlocker(Api::GameflowAvailabilityState reason, bool blocked);
  void ExitIfAskedAfterUnlockCheck();

  // Publishes `value` at `uri`; a failure is logged.
  template <class T>
  void PublishValue(std::string_view uri, const T& value) {
    auto published = Publish(uri, value);
    if (published.HasFailure()) {
      Log(LogLevel::Error, kLogGroupDebug, "Couldn't publish %.*s: %s",
          static_cast<int>(uri.size()), uri.data(), published.GetFailure().Text().c_str());
    }
  }

  // The gameflow's own state; every part below reads and changes it.
  GameflowModel mModel;
  // Set once OnInitialize has started the chart: shutdown work that talks to
  // peers needs a bound core.
  bool mInitialized = false;
  // What the real launcher works with; empty with an injected launcher.
  std::unique_ptr<ProcessSystem> mProcesses;
  std::unique_ptr<GameClientPeers> mLauncherPeers;
  std::unique_ptr<GameLauncher> mLauncher;
  // Built once the launcher is.
  std::unique_ptr<GameflowRoutes> mRoutes;
  std::unique_ptr<PatcherPeers> mPatcherPeers;
  // Availability, the patcher lock and the corrupted mark.
  GameFlowGate mGate;
  GameflowChartContext mChartContext;
  GameflowMachine mMachine;
  Hsm::EventQueue<GameflowChartContext, GameflowEvent> mEvents;
};

}  // namespace Nalo::Client::Gameflow
