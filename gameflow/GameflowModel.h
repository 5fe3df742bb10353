#pragma once
// GameflowModel: the gameflow's own state in one place. The plugin owns one;
// the chart's actions, the game-flow gate, the routes and the subscriptions
// read and change it by reference. It holds no behaviour beyond keeping the
// session's change mark in step with the game client's flags: what a change
// leads to (publishing, events) is decided by whoever changes it.
//
// Availability, the patcher lock's cached state and the corrupted mark are
// the game-flow gate's (GameFlowGate.h); the game client's process, spectates
// and tutorials are the launcher's.
//
//   GameflowModel model;
//   model.session.SetPhase(Api::GameflowPhase::Lobby);
//   if (model.SetGameClientState(true, false)) { /* the next tick publishes */ }

#include <cstdint>
#include <string>
#include <vector>

#include "gameflow/Api/GameflowWatchPhase.h"
#include "gameflow/Api/LoginSession.h"
#include "gameflow/Api/PlayerStatus.h"
#include "gameflow/GameflowSessionModel.h"

namespace Nalo::Client::Gameflow {

// Where a launch of the game client stands; the tick turns Launching (a launch
// that never completed) and Exited (the client ended) into events.
enum class LaunchState : std::int32_t { Idle = 0, Launching = 1, Launched = 2, Exited = 3 };

struct GameflowModel {
  // The published session, the last game record and the last credentials.
  GameflowSessionModel session;
  // Set when the game client's flags changed; the next tick publishes the
  // session and clears it.
  bool sessionChanged = false;

  // Where a launch of the game client stands; set by the launcher, turned
  // into events by the tick.
  LaunchState launchState = LaunchState::Idle;
  // The replay being watched, published at /tav-gameflow/v1/watch.
  Api::GameflowWatchPhase watchPhase = Api::GameflowWatchPhase::None;
  // Set while a tournament runs: the return to None walks back into it.
  bool tournamentRunning = false;

  // The login plugin's session, reset when it is deleted.
  Api::LoginSession login;
  // From the login data packet; empty until one names it.
  std::string platformId;
  // Arguments appended to the game client's command line
  // (/tav-gameflow/v1/extra-game-client-args).
  std::vector<std::string> extraGameClientArgs;
  // Whatever a client last posted to /tav-gameflow/v1/gameflow-metadata/player-status.
  Api::PlayerStatus playerStatus;
  bool preEndGameTransitionEnabled = false;
  // Both queue lists must have been announced before game flow is available.
  bool queuesReceived = false;
  bool customQueuesReceived = false;

  // Sets the game client's running and visible flags and marks the session
  // changed when they changed; answers whether they did.
  bool SetGameClientState(bool running, bool visible) {
    const bool changed = session.SetGameClientState(running, visible);
    sessionChanged = sessionChanged || changed;
    return changed;
  }
  // The client runs (or shows its window); the other flag stays.
  void MarkGameClientRunning() { SetGameClientState(true, session.Session().gameClient.visible); }
  void MarkGameClientVisible() { SetGameClientState(session.Session().gameClient.running, true); }
};

}  // namespace Nalo::Client::Gameflow
