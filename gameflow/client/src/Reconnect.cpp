// The ways back to a game: a reconnect offered once the client ended while
// the game goes on, the relaunch of a game in progress (the login coming up,
// in-game credentials before it, a repaired product), the spectate or client
// found after a restart, and the watch that follows a running client.

#include "gameflow/client/GameClientLauncher.h"

#include <chrono>
#include <utility>

#include "diagnostics/Log.h"
#include "gameflow/GameflowSessionModel.h"
#include "gameflow/client/src/PeerValue.h"
#include "gameflow/client/src/Spectate.h"
#include "gameflow/client/src/WatchedProcess.h"
#include "gameflow/GameflowWireNames.h"

namespace Nalo::Client::Gameflow {

namespace {

using Api::GameflowPhase;

// Codes of refusals that a peer's state or failure causes: each is an ERROR
// line naming its code, and the action is refused (nothing is launched, game
// flow is not entered). A product that is repaired later relaunches the game
// through the platform.
constexpr std::string_view kInGameCredentialsRefusal = "ALE-4974EF56";
constexpr std::string_view kInProgressGameRefusal = "ALE-4974EF55";

bool IsLoggedIn(const Api::LoginSession& login) {
  return login.state == Api::LoginSessionStates::SUCCEEDED && login.accountId != 0 &&
         login.summonerId != 0;
}

}  // namespace

bool GameClientLauncher::CanReconnect() const {
  return mGameflow.model.session.IsGameBeingServed() &&
         !mGameflow.model.session.Session().gameClient.running &&
         mGameflow.gate.GetAvailability().IsAvailable() &&
         mGameflow.model.session.Credentials().has_value() && !mGameflow.gate.IsCorrupted();
}

void GameClientLauncher::OfferReconnect() {
  if (CanReconnect() && mGameflow.model.session.Phase() != GameflowPhase::Reconnect) {
    mGameflow.owner.PostEvent(GameflowEvent::ReconnectAvailable);
  }
}

MaybeType<Failure, void> GameClientLauncher::Reconnect() {
  Log(LogLevel::Always, kLogGroupDebug, "Attempting to reconnect to existing game");
  OfferReconnect();
  if (mGameflow.model.session.Phase() != GameflowPhase::Reconnect) {
    return Failure(403, "Reconnect is not available.");
  }
  auto launched = LaunchGameClient();
  mGameflow.owner.PublishSpectating();
  if (launched.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to launch reconnect: %s",
        launched.GetFailure().Text().c_str());
    return launched;
  }
  SetClientVestoMessage("GameReconnect");
  return {};
}

void GameClientLauncher::SetClientVestoMessage(std::string_view message) {
  const std::optional<LCDS::GameDto>& game = mGameflow.model.session.Game();
  if (!game.has_value()) {
    Log(LogLevel::Error, kLogGroupDebug,
        "Failed to set client vesto message because of invalid game.");
    return;
  }
  auto sent = mPeers->SetVestoMessage(game->id, message);
  if (sent.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to set client vesto message: %s",
        sent.GetFailure().Text().c_str());
  }
}

bool GameClientLauncher::RelaunchInProgressGame() {
  auto info = mPeers->RetrieveInProgressGame();
  if (info.HasFailure()) {
    Log(LogLevel::Okay, kLogGroupGeneral,
        "Unable to retrieve in-progress game info from the platform.");
    return false;
  }
  const LCDS::ReconnectInfoDto& reconnect = info.Value();
  if (reconnect.game.gameState != kGameStateInProgress) {
    mGameflow.owner.NotifyGame(reconnect.game);
    return false;
  }
  if (!mGameflow.gate.Enter(AvailabilityCheck::Skip)) {
    Log(LogLevel::Error, kLogGroupDebug,
        "%s: game flow could not be entered for the game in progress; it is not relaunched.",
        kInProgressGameRefusal.data());
    return false;
  }
  mGameflow.model.session.StoreGame(reconnect.game);
  mGameflow.owner.StoreCredentials(reconnect.playerCredentials);
  mGameflow.owner.ApplyGame(reconnect.game);
  auto launched = LaunchGameOrSpectate(true);
  if (launched.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to launch game: %s",
        launched.GetFailure().Text().c_str());
  }
  return true;
}

void GameClientLauncher::RelaunchAfterLogin() {
  if (!IsLoggedIn(mGameflow.model.login)) {
    Log(LogLevel::Okay, kLogGroupGeneral, "Did not relaunch game because user was not logged in.");
    return;
  }
  if (mGameflow.gate.IsCorrupted()) {
    Log(LogLevel::Okay, kLogGroupGeneral, "Did not relaunch game due to product corruption.");
    return;
  }
  if (mSpectate->TryReconnect()) {
    Log(LogLevel::Okay, kLogGroupGeneral, "Spectate reconnect info detected.");
    return;
  }
  auto credentials = mPeers->Get(Wire::kLoginInGameCredentialsPath);
  if (!credentials.HasFailure()) {
    if (!RelaunchInProgressGame()) {
      Log(LogLevel::Error, kLogGroupDebug, "Failed to relaunch game.");
    }
    return;
  }
  auto running = mWatched->FindRunning({});
  if (running.HasFailure()) {
    mGameflow.gate.ReleasePatcher();
    return;
  }
  // Unavailable game flow would only stop the patcher and let it go again.
  if (!mGameflow.gate.GetAvailability().IsAvailable() || WatchLaunch({}).HasFailure()) {
    // The game still runs: the patcher stays locked, and the watch is tried
    // again whenever availability changes, until it starts or the client ends.
    Log(LogLevel::Always, kLogGroupDebug,
        "The game client (pid %u) still runs; watching it once game flow is available.",
        running.Value());
    // A fresh lock starts the refreshes that keep it while the client waits;
    // the lock from before the restart may lapse before the watch can start.
    mGameflow.gate.SetLock();
    mRestoredClient = running.Value();
  }
}

void GameClientLauncher::FollowRestoredClient(bool availabilityChanged) {
  if (!mRestoredClient.has_value()) {
    return;
  }
  // Taken out while it is handled: entering game flow runs a tick of its own.
  const std::uint32_t pid = *std::exchange(mRestoredClient, std::nullopt);
  if (!mWatched->IsRunningGameClient(pid)) {
    Log(LogLevel::Always, kLogGroupDebug, "Client is no longer running.");
    mWatched->SetRecord(std::nullopt);
    mGameflow.gate.ReleasePatcher();
    return;
  }
  if (availabilityChanged && mGameflow.gate.GetAvailability().IsAvailable() &&
      !WatchLaunch({}).HasFailure()) {
    return;  // the watch follows the client from now on
  }
  mRestoredClient = pid;
}

MaybeType<Failure, void> GameClientLauncher::WatchLaunch(const std::vector<std::string>& args) {
  const GameflowPhase phase = mGameflow.model.session.Phase();
  if (phase != GameflowPhase::None && phase != GameflowPhase::Lobby &&
      phase != GameflowPhase::EndOfGame) {
    return Failure(403, "Already in gameflow.");
  }
  if (mGameflow.model.watchPhase != Api::GameflowWatchPhase::None) {
    return Failure(403, "A watch is already running.");
  }
  if (mSpectate->IsSpectating()) {
    return Failure(403, "Already spectating.");
  }
  if (!mGameflow.gate.Enter(AvailabilityCheck::Apply)) {
    return Failure(500, "Failed to enter gameflow.");
  }
  auto pid = FindOrLaunchGameProcess(args, false);
  if (pid.HasFailure()) {
    mGameflow.model.watchPhase = Api::GameflowWatchPhase::WatchFailedToLaunch;
    mGameflow.owner.PublishWatchPhase();
    if (mGameflow.model.session.Phase() == GameflowPhase::None) {
      mGameflow.gate.Exit();
    }
    return Failure(500, "Failed to launch the watch client: " + pid.GetFailure().Text());
  }
  mRestoredClient.reset();
  mWatched->WatchExit("watch", pid.Value(), [this] {
    if (mGameflow.model.session.Phase() == GameflowPhase::None) {
      mGameflow.gate.Exit();
    }
    mGameflow.model.watchPhase = Api::GameflowWatchPhase::None;
    mGameflow.owner.PublishWatchPhase();
  });
  mGameflow.model.watchPhase = Api::GameflowWatchPhase::WatchInProgress;
  mGameflow.owner.PublishWatchPhase();
  return {};
}

void GameClientLauncher::OnLoginInGameCredentials(const BindingProperty* value) {
  if (value == nullptr || IsLoggedIn(mGameflow.model.login)) {
    return;
  }
  const BindingProperty* inGame = value->Find("inGame");
  if (inGame == nullptr || !inGame->BoolValue()) {
    return;
  }
  Log(LogLevel::Always, kLogGroupDebug,
      "Received login-in-game-creds to quickly re-launch an in-progress game before login has "
      "completed.");
  auto credentials = detail::Convert<LCDS::PlayerCredentialsDto>(*value, mPeers->Types());
  if (credentials.HasFailure()) {
    Log(LogLevel::Warn, kLogGroupDebug,
        "Invalid login-in-game-creds. Cannot re-launch an in-progress game at this time.");
    return;
  }
  if (!mGameflow.gate.Enter(AvailabilityCheck::Skip)) {
    Log(LogLevel::Error, kLogGroupDebug,
        "%s: game flow could not be entered for the login's in-game credentials; the game is not "
        "relaunched.",
        kInGameCredentialsRefusal.data());
    return;
  }
  mGameflow.owner.StoreCredentials(credentials.Value());
  static_cast<void>(LaunchGameClient());
}

}  // namespace Nalo::Client::Gameflow
