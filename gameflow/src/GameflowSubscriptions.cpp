// What the gameflow subscribes to (the platform server's game and credentials
// records, the login, the patcher, the host's crash count, the queues) and
// what each change does.

#include <cstdint>
#include <string>

#include "diagnostics/Log.h"
#include "gameflow/GameflowPlugin.h"
#include "gameflow/GameflowWireNames.h"

namespace Nalo::Client::Gameflow {

using namespace Wire;
using Api::GameflowAvailabilityState;
using Api::GameflowPhase;

void GameflowPlugin::SubscribeAll() {
  SubscribeLcds<LCDS::GameDto>(LCDS::kGameDtoClassName,
                               [this](LCDS::GameDto& game) { OnGameNotification(game); });
  SubscribeLcds<LCDS::PlayerCredentialsDto>(LCDS::kPlayerCredentialsDtoClassName,
                                            [this](LCDS::PlayerCredentialsDto& credentials) {
                                              OnPlayerCredentialsNotification(credentials);
                                            });
  AddResourceHandler<Api::LoginSession>(
      kLoginSessionPath,
      [this](std::string_view, PluginResourceEventType type, const Api::LoginSession* session) {
        OnLoginSession(type, session);
      });
  Subscribe(kLoginSessionPath);
  AddResourceHandler<BindingProperty>(
      kLoginDataPacketPath,
      [this](std::string_view, PluginResourceEventType type, const BindingProperty* packet) {
        OnLoginDataPacket(type, packet);
      });
  Subscribe(kLoginDataPacketPath);
  AddResourceHandler<BindingProperty>(
      kLoginInGameCredentialsPath,
      [this](std::string_view, PluginResourceEventType type, const BindingProperty* value) {
        // The login announces in-game credentials once; a later change of
        // them is no reason to launch.
        if (type == PluginResourceEventType::Create) {
          mLauncher->OnLoginInGameCredentials(value);
        }
      });
  Subscribe(kLoginInGameCredentialsPath);
  AddResourceHandler<Api::PatcherProductState>(
      kPatcherStatePath, [this](std::string_view, PluginResourceEventType type,
                                const Api::PatcherProductState* state) {
        // A patcher that starts after us announces its first state as a
        // creation; it counts like any later update.
        if (type != PluginResourceEventType::Delete && state != nullptr) {
          mGate.FollowPatcherState(*state);
        }
      });
  Subscribe(kPatcherStatePath);
  AddResourceHandler<BindingProperty>(
      kUxCrashCountPath,
      [this](std::string_view, PluginResourceEventType type, const BindingProperty* value) {
        // The count's first announcement is no crash; only a change of it is.
        if (type == PluginResourceEventType::Update) {
          mLauncher->OnUxCrashCount(value);
        }
      });
  Subscribe(kUxCrashCountPath);
  AddResourceHandler<BindingProperty>(
      kQueuesPath, [this](std::string_view, PluginResourceEventType type, const BindingProperty*) {
        OnQueues(type, false);
      });
  Subscribe(kQueuesPath);
  AddResourceHandler<BindingProperty>(kCustomQueuesPath,
                                      [this](std::string_view, PluginResourceEventType type,
                                             const BindingProperty*) { OnQueues(type, true); });
  Subscribe(kCustomQueuesPath);
}

void GameflowPlugin::OnGameNotification(const LCDS::GameDto& game) {
  Log(LogLevel::Okay, kLogGroupGeneral, "OnGameNotification - %s", game.gameState.c_str());
  mModel.session.StoreGame(game);
  switch (ClassifyGameNotification(game.gameState, mModel.session.Phase(),
                                   mLauncher->RunningTutorial().has_value())) {
    case GameNotificationOutcome::Terminate:
      // TerminatedInError publishes its phase, then TERMINATED leads on to None.
      PostEvent(GameflowEvent::TerminatedInError);
      PostEvent(GameflowEvent::Terminated);
      return;
    case GameNotificationOutcome::CompleteGame:
      PostEvent(GameflowEvent::GameCompleted);
      return;
    case GameNotificationOutcome::EvaluateLaunch:
      mLauncher->EvaluateGameLaunch();
      return;
    case GameNotificationOutcome::EnterReadyCheck:
      PostEvent(GameflowEvent::EnteredReadyCheck);
      return;
    case GameNotificationOutcome::StoreOnly:
      return;
  }
}

void GameflowPlugin::OnPlayerCredentialsNotification(
    const LCDS::PlayerCredentialsDto& credentials) {
  Log(LogLevel::Okay, kLogGroupGeneral, "OnPlayerCredentialsNotification");
  mModel.session.StoreCredentials(credentials);
  if (mModel.session.RefreshFromCredentials()) {
    PublishSession();
  }
  mLauncher->EvaluateGameLaunch();
}

void GameflowPlugin::OnLoginSession(PluginResourceEventType type,
                                    const Api::LoginSession* session) {
  if (type == PluginResourceEventType::Delete || session == nullptr) {
    mModel.login = Api::LoginSession();
    return;
  }
  const bool wasConnected = mModel.login.connected;
  mModel.login = *session;
  if (wasConnected || !mModel.login.connected) {
    return;
  }
  if (mModel.session.Phase() != GameflowPhase::None) {
    // Whether a client was relaunched changes nothing here: the chart keeps
    // its phase either way.
    static_cast<void>(mLauncher->RelaunchInProgressGame());
  } else {
    mLauncher->RelaunchAfterLogin();
  }
}

void GameflowPlugin::OnLoginDataPacket(PluginResourceEventType type,
                                       const BindingProperty* packet) {
  if (type == PluginResourceEventType::Delete || packet == nullptr) {
    return;
  }
  // A packet that is not an object carries no ban; reading it as "not
  // banned" would lift a ban on a malformed update.
  if (packet->Kind() != BindingKind::Structure) {
    Log(LogLevel::Warn, kLogGroupDebug, "Ignoring a login data packet that is not an object (%s).",
        std::string(packet->KindName()).c_str());
    return;
  }
  const BindingProperty* bannedUntil = packet->Find(kBannedUntilKey);
  const std::int64_t banned = bannedUntil != nullptr ? bannedUntil->AsSigned(0) : 0;
  SetAvailabilityBlocker(GameflowAvailabilityState::PlayerBanned, banned != 0);
  const BindingProperty* platformId = packet->Find(kPlatformIdKey);
  mModel.platformId =
      platformId != nullptr ? std::string(platformId->StringValue()) : std::string();
}

void GameflowPlugin::OnQueues(PluginResourceEventType type, bool custom) {
  if (type == PluginResourceEventType::Delete) {
    return;
  }
  (custom ? mModel.customQueuesReceived : mModel.queuesReceived) = true;
  SetAvailabilityBlocker(GameflowAvailabilityState::Configuration,
                         !(mModel.queuesReceived && mModel.customQueuesReceived));
}

}  // namespace Nalo::Client::Gameflow
