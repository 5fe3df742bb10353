
#include "gameflow/GameflowRoutes.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/Log.h"
#include "gameflow/GameflowWireNames.h"

namespace Nalo::Client::Gameflow {

using namespace Wire;
using Api::GameflowPhase;

namespace {

// How much of a name that is not an event reaches the log.
constexpr std::size_t kMaxLoggedNameBytes = 64;

// `name` made safe for one log line: at most kMaxLoggedNameBytes bytes,
// anything but printable ASCII written as \xNN, and the full length named when
// it was cut.
std::string PrintableName(std::string_view name) {
  std::string text;
  const std::size_t shown = std::min(name.size(), kMaxLoggedNameBytes);
  for (std::size_t i = 0; i < shown; ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      text += static_cast<char>(byte);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    }
  }
  if (shown < name.size()) {
    text += "... (" + std::to_string(name.size()) + " bytes)";
  }
  return text;
}

}  // namespace

void GameflowRoutes::Register(RouteTable& table) {
  auto routes = table.Bind(*this);
  routes.Get(kAvailabilityPath, &GameflowRoutes::GetAvailability);
  routes.Post(kReconnectPath, &GameflowRoutes::PostReconnect);
  routes.Post(kAckFailedToLaunchPath, &GameflowRoutes::AcknowledgeFailedLaunch);
  routes.Get(kExtraGameClientArgsPath, &GameflowRoutes::GetExtraGameClientArgs);
  routes.Post(kExtraGameClientArgsPath, &GameflowRoutes::SetExtraGameClientArgs,
              InBody(kExtraGameClientArgsArgument));
  routes.Get(kSessionPath, &GameflowRoutes::GetSession);
  routes.Get(kActivePatcherLockPath, &GameflowRoutes::GetActivePatcherLock);
  routes.Post(kSessionEventPath, &GameflowRoutes::PostSessionEvent, InBody(kSessionEventArgument));
  routes.Post(kDodgePath, &GameflowRoutes::PostDodge, InBody(kDodgeArgument));
  routes.Post(kGameConfigurationPath, &GameflowRoutes::PostGameConfiguration,
              InBody(kGameConfigurationArgument));
  routes.Post(kRequestLobbyPath, &GameflowRoutes::RequestLobby);
  routes.Post(kRequestTournamentCheckinPath, &GameflowRoutes::RequestTournamentCheckin);
  routes.Post(kTournamentEndedPath, &GameflowRoutes::PostTournamentEnded);
  routes.Post(kTickPath, &GameflowRoutes::PostTick);
  routes.Post(kPreEndGameTransitionPath, &GameflowRoutes::SetPreEndGameTransition,
              InQuery(kPreEndGameTransitionArgument));
  routes.Post(kClientReceivedMessagePath, &GameflowRoutes::PostClientReceivedMessage,
              InBody(kClientReceivedMessageArgument));
  routes.Get(kWatchPath, &GameflowRoutes::GetWatchPhase);
  routes.Post(kWatchLaunchPath, &GameflowRoutes::PostWatchLaunch, InBody(kWatchLaunchArgument));
  routes.Get(kSpectatePath, &GameflowRoutes::GetSpectating);
  routes.Post(kSpectateLaunchPath, &GameflowRoutes::PostSpectateLaunch,
              InBody(kSpectateLaunchArgument));
  routes.Get(kDelayedSpectateLaunchPath, &GameflowRoutes::GetDelayedSpectateLaunch);
  routes.Post(kSpectateQuitPath, &GameflowRoutes::PostSpectateQuit);
  routes.Get(kBasicTutorialPath, &GameflowRoutes::GetBasicTutorial);
  routes.Get(kBattleTrainingPath, &GameflowRoutes::GetBattleTraining);
  routes.Post(kBattleTrainingStartPath, &GameflowRoutes::PostBattleTrainingStart);
  routes.Post(kBattleTrainingStopPath, &GameflowRoutes::PostBattleTrainingStop);
  routes.Post(kBasicTutorialStartPath, &GameflowRoutes::PostBasicTutorialStart);
  routes.Post(kPlayerStatusPath, &GameflowRoutes::SetPlayerStatus, InBody(kPlayerStatusArgument));
  routes.Get(kPlayerStatusPath, &GameflowRoutes::GetPlayerStatus);
}

Api::GameflowAvailability GameflowRoutes::GetAvailability() {
  return mGate->GetAvailability().Value();
}

void GameflowRoutes::AcknowledgeFailedLaunch() {
  if (mModel->watchPhase != Api::GameflowWatchPhase::None) {
    mModel->watchPhase = Api::GameflowWatchPhase::None;
    mOwner->PublishWatchPhase();
    if (mModel->session.Phase() == GameflowPhase::None) {
      mGate->ReleasePatcher();
    }
    return;
  }
  if (mModel->session.IsGameBeingServed() && !mModel->session.Session().gameClient.running &&
      mGate->GetAvailability().IsAvailable() && mModel->session.Credentials().has_value() &&
      !mGate->IsCorrupted() && mModel->session.Phase() != GameflowPhase::Reconnect) {
    mOwner->PostEvent(GameflowEvent::ReconnectAvailable);
  }
  mOwner->PublishChangesAndLaunchOutcomes();
}

std::vector<std::string> GameflowRoutes::GetExtraGameClientArgs() {
  return mModel->extraGameClientArgs;
}

void GameflowRoutes::SetExtraGameClientArgs(std::vector<std::string> arguments) {
  mModel->extraGameClientArgs = std::move(arguments);
}

MaybeType<Failure, Api::GameflowSession> GameflowRoutes::GetSession() {
  if (mModel->session.Phase() == GameflowPhase::None) {
    return Failure(404, "No gameflow session exists.");
  }
  return mModel->session.Session();
}

bool GameflowRoutes::GetActivePatcherLock() {
  return mGate->ReadLockIsActive();
}

void GameflowRoutes::PostSessionEvent(const std::string& name) {
  if (name.empty()) {
    Log(LogLevel::Error, kLogGroupDebug, "Empty gameflow update event.");
    return;
  }
  const std::optional<GameflowEvent> event = ParseGameflowEvent(name);
  if (!event.has_value()) {
    // No state handles a name that is not an event; it is logged in a form
    // that cannot break the log line and never reaches the chart.
    Log(LogLevel::Always, kLogGroupDebug, "Ignoring '%s': it is not a gameflow event.",
        PrintableName(name).c_str());
    return;
  }
  if (mModel->tournamentRunning && *event == GameflowEvent::ExitedQueue) {
    mOwner->PostEvent(GameflowEvent::ExitedKorvaQueue);
    return;
  }
  mOwner->PostEvent(*event);
}

void GameflowRoutes::PostDodge(const Api::GameflowGameDodge& dodge) {
  switch (mModel->session.RecordDodge(dodge)) {
    case DodgeOutcome::Invalid:
      Log(LogLevel::Error, kLogGroupDebug, "Received invalid dodge data.");
      return;
    case DodgeOutcome::CustomGame:
      Log(LogLevel::Okay, kLogGroupGeneral, "Custom games can't be dodged.");
      return;
    case DodgeOutcome::Recorded:
      break;
  }
  Log(LogLevel::Always, kLogGroupDebug, "Received dodge data.");
  // The entry action of the state the dodge leads to publishes the session
  // with the dodge record; the reset that follows publishes it without.
  if (const std::optional<GameflowEvent> event = DodgeEvent(dodge.state)) {
    mOwner->PostEvent(*event);
  }
  mModel->session.ClearDodge();
  mOwner->PublishSession();
}

void GameflowRoutes::PostGameConfiguration(const Api::Queue& queue) {
  if (mModel->session.Phase() == GameflowPhase::None) {
    Log(LogLevel::Error, kLogGroupDebug, "Invalid gameflow session.");
    return;
  }
  mModel->session.SetQueue(queue);
  if (auto map = mLauncher->LookUpMap(queue)) {
    mModel->session.SetMap(*map);
  }
  mOwner->PublishSession();
}

bool GameflowRoutes::RequestLobby() {
  if (!mGate->Enter(AvailabilityCheck::Apply)) {
    return false;
  }
  mOwner->PostEvent(GameflowEvent::RequestedLobby);
  return true;
}

bool GameflowRoutes::RequestTournamentCheckin() {
  if (!mGate->Enter(AvailabilityCheck::Apply)) {
    return false;
  }
  mOwner->PostEvent(GameflowEvent::TournamentCheckinRequested);
  return true;
}

void GameflowRoutes::PostTournamentEnded() {
  Log(LogLevel::Always, kLogGroupDebug, "PostTournamentEnded received, unlocking gameflow");
  mModel->tournamentRunning = false;
  mOwner->PostEvent(GameflowEvent::TournamentEnded);
}

void GameflowRoutes::PostTick() {
  mOwner->PublishChangesAndLaunchOutcomes();
}

bool GameflowRoutes::SetPreEndGameTransition(bool enabled) {
  mModel->preEndGameTransitionEnabled = enabled;
  return mModel->preEndGameTransitionEnabled;
}

Api::GameflowWatchPhase GameflowRoutes::GetWatchPhase() {
  return mModel->watchPhase;
}

bool GameflowRoutes::GetSpectating() {
  return mLauncher->IsSpectating();
}

void GameflowRoutes::GetDelayedSpectateLaunch() {}

bool GameflowRoutes::GetBasicTutorial() {
  return mLauncher->RunningTutorial() == TutorialKind::BasicTutorial;
}

bool GameflowRoutes::GetBattleTraining() {
  return mLauncher->RunningTutorial() == TutorialKind::BattleTraining;
}

void GameflowRoutes::SetPlayerStatus(Api::PlayerStatus status) {
  mModel->playerStatus = std::move(status);
  mOwner->PublishPlayerStatus();
}

Api::PlayerStatus GameflowRoutes::GetPlayerStatus() {
  return mModel->playerStatus;
}

}  // namespace Nalo::Client::Gameflow
