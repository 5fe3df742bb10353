#include "gameflow/GameflowSessionModel.h"

#include <string>

#include "diagnostics/Log.h"

namespace Nalo::Client::Gameflow {

using Api::GameflowGameDodgeState;
using Api::GameflowPhase;

GameNotificationOutcome ClassifyGameNotification(std::string_view gameState, GameflowPhase phase,
                                                 bool tutorialRunning) noexcept {
  if (gameState == kGameStateTerminatedInError) {
    return GameNotificationOutcome::Terminate;
  }
  if (gameState == kGameStateTerminated && Api::IsGamePhase(phase) && !tutorialRunning) {
    return GameNotificationOutcome::CompleteGame;
  }
  if (gameState == kGameStateStartRequested || gameState == kGameStateInProgress) {
    return GameNotificationOutcome::EvaluateLaunch;
  }
  if (gameState == kGameStateJoiningChampSelect) {
    return GameNotificationOutcome::EnterReadyCheck;
  }
  return GameNotificationOutcome::StoreOnly;
}

std::optional<GameflowEvent> DodgeEvent(GameflowGameDodgeState state) noexcept {
  switch (state) {
    case GameflowGameDodgeState::PartyDodged:
      return GameflowEvent::PartyDodged;
    case GameflowGameDodgeState::StrangerDodged:
      return GameflowEvent::StrangerDodged;
    case GameflowGameDodgeState::TournamentDodged:
      return GameflowEvent::TournamentDodged;
    case GameflowGameDodgeState::Invalid:
      break;
  }
  return std::nullopt;
}

void GameflowSessionModel::Reset() {
  mGame.reset();
  mCredentials.reset();
  mSession = Api::GameflowSession();
}

bool GameflowSessionModel::IsGameBeingServed() const noexcept {
  return mGame.has_value() &&
         (mGame->gameState == kGameStateStartRequested || mGame->gameState == kGameStateInProgress);
}

namespace {

std::string LogText(const std::string& value) {
  return value;
}

template <class Number>
std::string LogText(Number value) {
  return std::to_string(value);
}

// Sets `field` to `value` and logs it when they differ; tells whether it did.
template <class T>
bool UpdateLogged(T& field, const T& value, const char* name) {
  if (field == value) {
    return false;
  }
  field = value;
  Log(LogLevel::Okay, kLogGroupGeneral, "mGameflowSession.%s = %s", name, LogText(value).c_str());
  return true;
}

}  // namespace

bool GameflowSessionModel::RefreshFromCredentials() {
  std::uint64_t gameId = 0;
  std::string serverIp;
  std::uint16_t serverPort = 0;
  std::string observerServerIp;
  std::uint16_t observerServerPort = 0;
  if (mCredentials.has_value()) {
    gameId = mCredentials->gameId;
    if (!mCredentials->serverIp.empty()) {
      serverIp = mCredentials->serverIp;
      serverPort = mCredentials->serverPort;
    }
    if (!mCredentials->observerServerIp.empty()) {
      observerServerIp = mCredentials->observerServerIp;
      observerServerPort = mCredentials->observerServerPort;
    }
  }
  Api::GameflowGameClient& client = mSession.gameClient;
  bool publish = false;
  publish |= UpdateLogged(client.serverIp, serverIp, "gameClient.serverIp");
  publish |= UpdateLogged(client.serverPort, serverPort, "gameClient.serverPort");
  publish |= UpdateLogged(client.observerServerIp, observerServerIp, "gameClient.observerServerIp");
  publish |=
      UpdateLogged(client.observerServerPort, observerServerPort, "gameClient.observerServerPort");
  publish |= UpdateLogged(mSession.gameData.gameId, gameId, "gameData.gameId");
  if (mGame.has_value()) {
    if (!mGame->teamOne.empty()) {
      mSession.gameData.teamOne = mGame->teamOne;
      publish = true;
    }
    if (!mGame->teamTwo.empty()) {
      mSession.gameData.teamTwo = mGame->teamTwo;
      publish = true;
    }
    if (!mGame->playerChampionSelections.empty()) {
      mSession.gameData.playerChampionSelections = mGame->playerChampionSelections;
      publish = true;
    }
  }
  return publish;
}

Api::Queue GameflowSessionModel::QueueOfGame(const LCDS::GameDto& game) {
  Api::Queue queue;
  queue.type = game.queueTypeName;
  queue.mapId = game.mapId;
  queue.gameMode = game.gameMode;
  queue.numPlayersPerTeam = game.maxNumPlayers / 2;
  queue.category = game.gameType == kPracticeGameType ? Api::QueueGameCategory::Custom
                                                      : Api::QueueGameCategory::None;
  return queue;
}

void GameflowSessionModel::SetQueue(const Api::Queue& queue) {
  mSession.gameData.queue = queue;
  mSession.gameData.isCustomGame = queue.category == Api::QueueGameCategory::Custom;
}

DodgeOutcome GameflowSessionModel::RecordDodge(const Api::GameflowGameDodge& dodge) {
  if (!DodgeEvent(dodge.state).has_value()) {
    return DodgeOutcome::Invalid;
  }
  if (mSession.gameData.isCustomGame) {
    return DodgeOutcome::CustomGame;
  }
  mSession.gameDodge.state = dodge.state;
  mSession.gameDodge.dodgeIds = dodge.dodgeIds;
  // The phase the client sent is not trusted: the dodge happened now.
  mSession.gameDodge.phase = mSession.phase;
  return DodgeOutcome::Recorded;
}

void GameflowSessionModel::ClearDodge() {
  mSession.gameDodge = Api::GameflowGameDodge();
}

bool GameflowSessionModel::SetGameClientState(bool running, bool visible) noexcept {
  Api::GameflowGameClient& client = mSession.gameClient;
  if (client.running == running && client.visible == visible) {
    return false;
  }
  client.running = running;
  client.visible = visible;
  return true;
}

}  // namespace Nalo::Client::Gameflow
