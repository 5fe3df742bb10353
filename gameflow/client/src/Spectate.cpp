#include "gameflow/client/src/Spectate.h"

#include <cstdint>
#include <string_view>
#include <utility>

#include "binding/Json.h"
#include "diagnostics/Log.h"
#include "gameflow/client/src/PeerValue.h"
#include "gameflow/GameflowWireNames.h"
#include "plugin/SecretRedaction.h"

namespace Nalo::Client::Gameflow {

namespace {

using Api::GameflowPhase;


BindingProperty Bool(bool value) {
  BindingProperty property;
  property.SetBool(value);
  return property;
}

// The member `name` of the platform's answer as a native record; a failure
// shows the member as JSON, its keys and tokens redacted.
template <class T>
MaybeType<Failure, T> ConvertMember(const BindingProperty& answer, std::string_view name,
                                    const BindingTypeRegistry& types) {
  const BindingProperty* member = answer.Find(name);
  if (member != nullptr) {
    auto converted = detail::Convert<T>(*member, types);
    if (!converted.HasFailure()) {
      return converted;
    }
  }
  return Failure(500, "Failed to convert " + (member != nullptr ? ToJson(RedactedSecrets(*member))
                                                                 : std::string("null")));
}

}  // namespace

Spectate::Spectate(const GameClientContext& gameflow, GameClientPeers& peers,
                   const TickClock& clock, LaunchClient launchClient)
    : mGameflow(gameflow),
      mPeers(&peers),
      mClock(&clock),
      mLaunchClient(std::move(launchClient)),
      mWatch(clock) {
  mWatch.Stop();
}

void Spectate::Begin() {
  mSpectating = true;
  mWatch = Stopwatch(*mClock);
  mWatchStarted = true;
  const BindingProperty flag = Bool(true);
  mPeers->Publish(Wire::kSpectatePath, &flag);
}

void Spectate::ClearRecord() {
  BindingProperty empty;
  empty.SetString(std::string_view());
  static_cast<void>(mPeers->Post(Wire::kSpectateRecordPath, &empty));
}

MaybeType<Failure, void> Spectate::Launch(std::optional<std::string> summonerName, bool relaunch,
                                          bool fromDelay) {
  Log(LogLevel::Always, kLogGroupDebug, "Launching spectate client.");
  std::string name;
  if (summonerName.has_value()) {
    name = *summonerName;
  } else {
    auto summoner = mPeers->Get(Wire::kCurrentSummonerPath);
    const BindingProperty* internalName =
        summoner.HasFailure() ? nullptr : summoner.Value().Find("internalName");
    if (internalName == nullptr) {
      return Failure(403, "Not logged in.");
    }
    name = internalName->StringValue();
  }
  const GameflowPhase phase = mGameflow.model.session.Phase();
  if (phase != GameflowPhase::None && phase != GameflowPhase::ChampSelect) {
    return Failure(403, "Already in gameflow.");
  }
  if (mSpectating) {
    return Failure(403, "Already spectating.");
  }
  if (mGameflow.model.watchPhase != Api::GameflowWatchPhase::None) {
    return Failure(403, "A watch is already running.");
  }
  if (!mGameflow.gate.Enter(AvailabilityCheck::Apply)) {
    return Failure(500, "Failed to enter gameflow.");
  }
  const std::optional<LCDS::GameDto>& stored = mGameflow.model.session.Game();
  const bool ownPractice =
      stored.has_value() && stored->gameType == "PRACTICE_GAME" && !summonerName.has_value();
  auto answer =
      mPeers->RetrieveSpectatorGame(ownPractice ? std::nullopt : std::optional<std::string>(name));
  if (answer.HasFailure()) {
    mGameflow.gate.Exit();
    return std::move(answer).GetFailure();
  }
  const BindingProperty game = answer.Value();
  std::int64_t delay = 0;
  if (const BindingProperty* reconnectDelay = game.Find("reconnectDelay")) {
    delay = reconnectDelay->AsSigned(0);
  }
  if (ownPractice && !relaunch && !fromDelay) {
    delay = stored->spectatorDelay;
  }
  auto converted = ConvertMember<LCDS::GameDto>(game, "game", mPeers->Types());
  if (converted.HasFailure()) {
    mGameflow.owner.PostEvent(GameflowEvent::ExitedSpectating);
    return std::move(converted).GetFailure();
  }
  mGameflow.owner.ApplyGame(converted.Value());
  if (delay <= 0) {
    Begin();
    mGameflow.model.session.StoreGame(converted.Value());
    auto credentials =
        ConvertMember<LCDS::PlayerCredentialsDto>(game, "playerCredentials", mPeers->Types());
    if (credentials.HasFailure()) {
      mGameflow.owner.PostEvent(GameflowEvent::ExitedSpectating);
      return std::move(credentials).GetFailure();
    }
    mGameflow.owner.StoreCredentials(credentials.Value());
    auto launched = mLaunchClient();
    if (launched.HasFailure()) {
      mGameflow.owner.PostEvent(GameflowEvent::ExitedSpectating);
      return launched;
    }
    Log(LogLevel::Always, kLogGroupDebug, "Saving spectator reconnect info.");
    auto saved = mPeers->Post(Wire::kSpectateRecordPath, &game);
    if (saved.HasFailure()) {
      Log(LogLevel::Error, kLogGroupDebug, "Failed to set spectate reconnect info: %s",
          saved.GetFailure().Text().c_str());
    }
    return {};
  }
  if (mGameflow.model.session.Phase() == GameflowPhase::None) {
    mPeers->Publish(Wire::kDelayedSpectateLaunchPath, &game);
    mGameflow.owner.PostEvent(GameflowEvent::EnteredDelayedSpectate);
  }
  mPeers->SetTimer(Wire::kReconnectDelayTimer, static_cast<double>(delay),
                   [this, name, summonerName, relaunch] {
                     // The timer's callable goes with the timer: work on copies.
                     // NOLINTBEGIN(performance-unnecessary-copy-initialization)
                     const std::string spectated = name;
                     const std::optional<std::string> requested = summonerName;
                     // NOLINTEND(performance-unnecessary-copy-initialization)
                     const bool again = relaunch;
                     Log(LogLevel::Always, kLogGroupDebug, "Launching spectate of %s after delay.",
                         spectated.c_str());
                     auto launched = Launch(requested, again, true);
                     if (launched.HasFailure()) {
                       Log(LogLevel::Error, kLogGroupDebug, "Failed to launch delayed spectate: %s",
                           launched.GetFailure().Text().c_str());
                     }
                     mPeers->RemoveTimer(Wire::kReconnectDelayTimer);
                   });
  return {};
}

MaybeType<Failure, void> Spectate::Quit() {
  if (!mSpectating) {
    return Failure(404, "Not spectating");
  }
  mGameflow.owner.PostEvent(GameflowEvent::ExitedSpectating);
  return {};
}

void Spectate::End() {
  mPeers->RemoveTimer(Wire::kReconnectDelayTimer);
  mSpectating = false;
  if (const std::optional<LCDS::GameDto>& game = mGameflow.model.session.Game()) {
    std::string duration;
    if (mWatchStarted) {
      mWatch.Stop();
      duration = std::to_string(mWatch.ElapsedMilliseconds());
      mWatchStarted = false;
    }
    mPeers->SendTelemetry(Wire::kSpectateEndTelemetryEvent, {{"durationMs", duration},
                                           {"gameId", std::to_string(game->id)},
                                           {"queueType", game->queueTypeName},
                                           {"gameMode", game->gameMode},
                                           {"gameType", game->gameType}});
  }
  const BindingProperty flag = Bool(false);
  mPeers->Publish(Wire::kSpectatePath, &flag);
  Log(LogLevel::Always, kLogGroupDebug, "Clearing spectator reconnect info.");
  ClearRecord();
}

bool Spectate::TryReconnect() {
  auto record = mPeers->Get(Wire::kSpectateRecordPath);
  if (!record.HasFailure() && record.Value().Kind() == BindingKind::Structure) {
    const BindingProperty* gameMember = record.Value().Find("game");
    const BindingProperty* credentialsMember = record.Value().Find("playerCredentials");
    if (gameMember != nullptr && credentialsMember != nullptr) {
      auto game = detail::Convert<LCDS::GameDto>(*gameMember, mPeers->Types());
      auto credentials =
          detail::Convert<LCDS::PlayerCredentialsDto>(*credentialsMember, mPeers->Types());
      if (!game.HasFailure() && !credentials.HasFailure() &&
          mGameflow.gate.Enter(AvailabilityCheck::Skip)) {
        mGameflow.owner.ApplyGame(game.Value());
        Begin();
        mGameflow.model.session.StoreGame(game.Value());
        mGameflow.owner.StoreCredentials(credentials.Value());
      }
    }
  }
  if (mSpectating) {
    mPeers->PostTask(Wire::kSpectateReconnectTask, 1.0, [this] {
      // A spectate quit meanwhile has nothing left to rejoin.
      if (mSpectating) {
        mGameflow.owner.PostEvent(GameflowEvent::ReconnectAvailable);
      }
    });
    return true;
  }
  ClearRecord();
  return false;
}

}  // namespace Nalo::Client::Gameflow
