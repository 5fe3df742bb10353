#include "gameflow/client/src/Tutorials.h"

#include <cstdint>
#include <string_view>

#include "diagnostics/Log.h"
#include "gameflow/GameflowWireNames.h"
#include "gameflow/client/src/MapLookup.h"

namespace Nalo::Client::Gameflow {

namespace {

using Api::GameflowPhase;

constexpr std::int32_t kBattleTrainingMapId = 11;

std::string_view ResourcePath(TutorialKind kind) {
  return kind == TutorialKind::BattleTraining ? Wire::kBattleTrainingPath
                                              : Wire::kBasicTutorialPath;
}

}  // namespace

MaybeType<Failure, void> Tutorials::Start(TutorialKind kind) {
  const GameflowPhase phase = mGameflow.model.session.Phase();
  if (phase != GameflowPhase::None && phase != GameflowPhase::Lobby) {
    return Failure(403, "Tutorial must be triggered from Lobby or New Player page.");
  }
  if (mRunning.has_value()) {
    return Failure(403, "Tutorial is already running.");
  }
  if (!mGameflow.gate.Enter(AvailabilityCheck::Apply)) {
    return Failure(500, "Failed to enter gameflow.");
  }
  mRunning = kind;
  BindingProperty running;
  running.SetBool(true);
  const std::string_view path = ResourcePath(kind);
  mPeers->Publish(path, &running);
  if (kind == TutorialKind::BattleTraining) {
    Api::Queue queue;
    queue.mapId = kBattleTrainingMapId;
    queue.gameMode = "TUTORIAL";
    if (auto map = LookUpMap(*mPeers, queue)) {
      mGameflow.model.session.SetMap(*map);
    }
  }
  mGameflow.owner.PublishSession();
  auto game = mPeers->CreateTutorialGame(static_cast<std::int32_t>(kind));
  if (game.HasFailure()) {
    mRunning.reset();
    mPeers->Publish(path, nullptr);
    Log(LogLevel::Error, kLogGroupDebug, "Failed to launch battle training: %s",
        game.GetFailure().Text().c_str());
    mGameflow.gate.Exit();
    return Failure(500, game.GetFailure().Text());
  }
  mGameflow.model.session.StoreGame(game.Value());
  mGameflow.owner.ApplyGame(game.Value());
  return {};
}

MaybeType<Failure, void> Tutorials::StopBattleTraining() {
  if (mRunning != TutorialKind::BattleTraining) {
    return Failure(500, "Not in battle training.");
  }
  mGameflow.owner.PostEvent(GameflowEvent::ExitedTutorial);
  return {};
}

void Tutorials::End() {
  if (!mRunning.has_value()) {
    return;
  }
  mPeers->Publish(ResourcePath(*mRunning), nullptr);
  mRunning.reset();
}

}  // namespace Nalo::Client::Gameflow
