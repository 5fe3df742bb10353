#pragma once
// GameflowRoutes: the 29 REST routes under /tav-gameflow/v1/ and their
// handlers. It reads and changes the gameflow's state in the model, enters
// game flow and reads availability and the lock through the gate, hands the
// game client's routes to the launcher, and asks the plugin for events and
// publications through GameflowRoutes::Owner.
//
//   GameflowRoutes routes(model, gate, launcher, owner);
//   routes.Register(Routes());   // in table order, once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "gameflow/Api/GameflowAvailability.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/Api/GameflowWatchPhase.h"
#include "gameflow/Api/PlayerStatus.h"
#include "gameflow/Api/Queue.h"
#include "gameflow/GameFlowGate.h"
#include "gameflow/GameflowEvent.h"
#include "gameflow/GameflowModel.h"
#include "gameflow/client/GameLauncher.h"
#include "routing/RouteTable.h"

namespace Nalo::Client::Gameflow {

class GameflowRoutes {
 public:
  // What the handlers ask of the plugin.
  class Owner {
   public:
    virtual ~Owner() = default;
    // Dispatches `event` through the chart; answers whether a row handled it.
    virtual bool PostEvent(GameflowEvent event) = 0;
    // Publishes the session, the watch phase or the player status as the
    // model holds them.
    virtual void PublishSession() = 0;
    virtual void PublishWatchPhase() = 0;
    virtual void PublishPlayerStatus() = 0;
    // The plugin's tick.
    virtual void PublishChangesAndLaunchOutcomes() = 0;

   protected:
    Owner() = default;
    Owner(const Owner&) = default;
    Owner& operator=(const Owner&) = default;
    Owner(Owner&&) = default;
    Owner& operator=(Owner&&) = default;
  };

  // All four must outlive the routes.
  GameflowRoutes(GameflowModel& model, GameFlowGate& gate, GameLauncher& launcher,
                 Owner& owner) noexcept
      : mModel(&model), mGate(&gate), mLauncher(&launcher), mOwner(&owner) {}

  // Adds the routes to `table` in table order; call once.
  void Register(RouteTable& table);

 private:
  Api::GameflowAvailability GetAvailability();
  MaybeType<Failure, void> PostReconnect() { return mLauncher->Reconnect(); }
  void AcknowledgeFailedLaunch();
  std::vector<std::string> GetExtraGameClientArgs();
  void SetExtraGameClientArgs(std::vector<std::string> arguments);
  MaybeType<Failure, Api::GameflowSession> GetSession();
  bool GetActivePatcherLock();
  void PostSessionEvent(const std::string& name);
  void PostDodge(const Api::GameflowGameDodge& dodge);
  void PostGameConfiguration(const Api::Queue& queue);
  bool RequestLobby();
  bool RequestTournamentCheckin();
  void PostTournamentEnded();
  void PostTick();
  bool SetPreEndGameTransition(bool enabled);
  Api::GameflowWatchPhase GetWatchPhase();
  bool GetSpectating();
  void GetDelayedSpectateLaunch();
  void PostClientReceivedMessage(const std::string& message) {
    mLauncher->SetClientVestoMessage(message);
  }
  MaybeType<Failure, void> PostWatchLaunch(const std::vector<std::string>& args) {
    return mLauncher->WatchLaunch(args);
  }
  MaybeType<Failure, void> PostSpectateLaunch(std::string summonerName) {
    return mLauncher->SpectateLaunch(std::move(summonerName));
  }
  MaybeType<Failure, void> PostSpectateQuit() { return mLauncher->SpectateQuit(); }
  MaybeType<Failure, void> PostBattleTrainingStart() {
    return mLauncher->TutorialStart(TutorialKind::BattleTraining);
  }
  MaybeType<Failure, void> PostBattleTrainingStop() { return mLauncher->BattleTrainingStop(); }
  MaybeType<Failure, void> PostBasicTutorialStart() {
    return mLauncher->TutorialStart(TutorialKind::BasicTutorial);
  }
  bool GetBasicTutorial();
  bool GetBattleTraining();
  void SetPlayerStatus(Api::PlayerStatus status);
  Api::PlayerStatus GetPlayerStatus();

  GameflowModel* mModel;
  GameFlowGate* mGate;
  GameLauncher* mLauncher;
  Owner* mOwner;
};

}  // namespace Nalo::Client::Gameflow
