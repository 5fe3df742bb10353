// The REST routes under /tav-gameflow/v1/ and their handlers.

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/Log.h"
#include "gameflow/GameflowPlugin.h"
#include "gameflow/src/GameflowWireNames.h"

namespace Nalo::Client::Gameflow {

using namespace detail;
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

void GameflowPlugin::RegisterRoutes() {
  auto routes = Routes().Bind(*this);
  routes.Get(kAvailabilityPath, &GameflowPlugin::GetAvailability);
  routes.Post(kReconnectPath, &GameflowPlugin::PostReconnect);
  routes.Post(kAckFailedToLaunchPath, &GameflowPlugin::AcknowledgeFailedLaunch);
  routes.Get(kExtraGameClientArgsPath, &GameflowPlugin::GetExtraGameClientArgs);
  routes.Post(kExtraGameClientArgsPath, &GameflowPlugin::SetExtraGameClientArgs,
              InBody(kExtraGameClientArgsArgument));
  routes.Get(kSessionPath, &GameflowPlugin::GetSession);
  routes.Get(kActivePatcherLockPath, &GameflowPlugin::GetActivePatcherLock);
  routes.Post(kSessionEventPath, &GameflowPlugin::PostSessionEvent, InBody(kSessionEventArgument));
  routes.Post(kDodgePath, &GameflowPlugin::PostDodge, InBody(kDodgeArgument));
  routes.Post(kGameConfigurationPath, &GameflowPlugin::PostGameConfiguration, InBody(kGameConfigurationArgument));
  routes.Post(kRequestLobbyPath, &GameflowPlugin::RequestLobby);
  routes.Post(kRequestTournamentCheckinPath, &GameflowPlugin::RequestTournamentCheckin);
  routes.Post(kTournamentEndedPath, &GameflowPlugin::PostTournamentEnded);
  routes.Post(kTickPath, &GameflowPlugin::PostTick);
  routes.Post(kPreEndGameTransitionPath, &GameflowPlugin::SetPreEndGameTransition,
              InQuery(kPreEndGameTransitionArgument));
  routes.Post(kClientReceivedMessagePath, &GameflowPlugin::PostClientReceivedMessage,
              InBody(kClientReceivedMessageArgument));
  routes.Get(kWatchPath, &GameflowPlugin::GetWatchPhase);
  routes.Post(kWatchLaunchPath, &GameflowPlugin::PostWatchLaunch, InBody(kWatchLaunchArgument));
  routes.Get(kSpectatePath, &GameflowPlugin::GetSpectating);
  routes.Post(kSpectateLaunchPath, &GameflowPlugin::PostSpectateLaunch, InBody(kSpectateLaunchArgument));
  routes.Get(kDelayedSpectateLaunchPath, &GameflowPlugin::GetDelayedSpectateLaunch);
  routes.Post(kSpectateQuitPath, &GameflowPlugin::PostSpectateQuit);
  routes.Get(kBasicTutorialPath, &GameflowPlugin::GetBasicTutorial);
  routes.Get(kBattleTrainingPath, &GameflowPlugin::GetBattleTraining);
  routes.Post(kBattleTrainingStartPath, &GameflowPlugin::PostBattleTrainingStart);
  routes.Post(kBattleTrainingStopPath, &GameflowPlugin::PostBattleTrainingStop);
  routes.Post(kBasicTutorialStartPath, &GameflowPlugin::PostBasicTutorialStart);
  routes.Post(kPlayerStatusPath, &GameflowPlugin::SetPlayerStatus, InBody(kPlayerStatusArgument));
  routes.Get(kPlayerStatusPath, &GameflowPlugin::GetPlayerStatus);
}

Api::GameflowAvailability GameflowPlugin::GetAvailability() {
  return mGate.GetAvailability().Value();
}

void GameflowPlugin::AcknowledgeFailedLaunch() {
  if (mModel.watchPhase != Api::GameflowWatchPhase::None) {
    mModel.watchPhase = Api::GameflowWatchPhase::None;
    PublishValue(kWatchPath, mModel.watchPhase);
    if (mModel.session.Phase() == GameflowPhase::None) {
      mGate.UnlockPatcher();
      mGate.ClearLock();
    }
    return;
  }
  if (mModel.session.IsGameBeingServed() && !mModel.session.Session().gameClient.running &&
      mGate.GetAvailability().IsAvailable() && mModel.session.Credentials().has_value() &&
      !mGate.IsCorrupted() && mModel.session.Phase() != GameflowPhase::Reconnect) {
    PostEvent(GameflowEvent::ReconnectAvailable);
  }
  PublishChangesAndLaunchOutcomes();
}

std::vector<std::string> GameflowPlugin::GetExtraGameClientArgs() {
  return mModel.extraGameClientArgs;
}

void GameflowPlugin::SetExtraGameClientArgs(std::vector<std::string> arguments) {
  mModel.extraGameClientArgs = std::move(arguments);
}

MaybeType<Failure, Api::GameflowSession> GameflowPlugin::GetSession() {
  if (mModel.session.Phase() == GameflowPhase::None) {
    return Failure(404, "No gameflow session exists.");
  }
  return mModel.session.Session();
}

bool GameflowPlugin::GetActivePatcherLock() {
  return mGate.ReadLockIsActive();
}

void GameflowPlugin::PostSessionEvent(std::string name) {
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
  if (mModel.tournamentRunning && *event == GameflowEvent::ExitedQueue) {
    PostEvent(GameflowEvent::ExitedKorvaQueue);
    return;
  }
  PostEvent(*event);
}

void GameflowPlugin::PostDodge(Api::GameflowGameDodge dodge) {
  switch (mModel.session.RecordDodge(dodge)) {
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
    PostEvent(*event);
  }
  mModel.session.ClearDodge();
  PublishSession();
}

void GameflowPlugin::PostGameConfiguration(Api::Queue queue) {
  if (mModel.session.Phase() == GameflowPhase::None) {
    Log(LogLevel::Error, kLogGroupDebug, "Invalid gameflow session.");
    return;
  }
  mModel.session.SetQueue(queue);
  if (auto map = mLauncher->LookUpMap(queue)) {
    mModel.session.SetMap(*map);
  }
  PublishSession();
}

bool GameflowPlugin::RequestLobby() {
  if (!EnterGameFlow(AvailabilityCheck::Apply)) {
    return false;
  }
  PostEvent(GameflowEvent::RequestedLobby);
  return true;
}

bool GameflowPlugin::RequestTournamentCheckin() {
  if (!EnterGameFlow(AvailabilityCheck::Apply)) {
    return false;
  }
  PostEvent(GameflowEvent::TournamentCheckinRequested);
  return true;
}

void GameflowPlugin::PostTournamentEnded() {
  Log(LogLevel::Always, kLogGroupDebug, "PostTournamentEnded received, unlocking gameflow");
  mModel.tournamentRunning = false;
  PostEvent(GameflowEvent::TournamentEnded);
}

void GameflowPlugin::PostTick() {
  PublishChangesAndLaunchOutcomes();
}

bool GameflowPlugin::SetPreEndGameTransition(bool enabled) {
  mModel.preEndGameTransitionEnabled = enabled;
  return mModel.preEndGameTransitionEnabled;
}

Api::GameflowWatchPhase GameflowPlugin::GetWatchPhase() {
  return mModel.watchPhase;
}

bool GameflowPlugin::GetSpectating() {
  return mLauncher->IsSpectating();
}

void GameflowPlugin::GetDelayedSpectateLaunch() {}

bool GameflowPlugin::GetBasicTutorial() {
  return mLauncher->RunningTutorial() == TutorialKind::BasicTutorial;
}

bool GameflowPlugin::GetBattleTraining() {
  return mLauncher->RunningTutorial() == TutorialKind::BattleTraining;
}

void GameflowPlugin::SetPlayerStatus(Api::PlayerStatus status) {
  mModel.playerStatus = std::move(status);
  PublishValue(kPlayerStatusPath, mModel.playerStatus);
}

Api::PlayerStatus GameflowPlugin::GetPlayerStatus() {
  return mModel.playerStatus;
}

}  // namespace Nalo::Client::Gameflow
