#include "gameflow/GameflowSessionModel.h"

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
  bool publish = false;
  Api::GameflowGameClient& client = mSession.gameClient;
  if (client.serverIp != serverIp) {
    client.serverIp = serverIp;
    Log(LogLevel::Okay, kLogGroupGeneral, "mGameflowSession.gameClient.serverIp = %s",
        client.serverIp.c_str());
    publish = true;
  }
  if (client.serverPort != serverPort) {
    client.serverPort = serverPort;
    Log(LogLevel::Okay, kLogGroupGeneral, "mGameflowSession.gameClient.serverPort = %hu",
        client.serverPort);
    publish = true;
  }
  if (client.observerServerIp != observerServerIp) {
    client.observerServerIp = observerServerIp;
    Log(LogLevel::Okay, kLogGroupGeneral, "mGameflowSession.gameClient.observerServerIp = %s",
        client.observerServerIp.c_str());
    publish = true;
  }
  if (client.observerServerPort != observerServerPort) {
    client.observerServerPort = observerServerPort;
    Log(LogLevel::Okay, kLogGroupGeneral, "mGameflowSession.gameClient.observerServerPort = %hu",
        client.observerServerPort);
    publish = true;
  }
  if (mSession.gameData.gameId != gameId) {
    mSession.gameData.gameId = gameId;
    Log(LogLevel::Okay, kLogGroupGeneral, "mGameflowSession.gameData.gameId = %llu",
        static_cast<unsigned long long>(gameId));
    publish = true;
  }
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
