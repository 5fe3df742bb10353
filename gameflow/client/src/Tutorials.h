#pragma once
// Tutorials: the basic tutorial and battle training. Starting one enters game
// flow, publishes its resource ("/tav-gameflow/v1/basic-tutorial" or
// "/tav-gameflow/v1/battle-training") and asks the platform for the tutorial
// game; its client is launched like any game's once the credentials come.

#include <optional>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "gameflow/client/GameClientOwner.h"
#include "gameflow/client/GameClientPeers.h"
#include "gameflow/client/GameLauncher.h"

namespace Nalo::Client::Gameflow {

class Tutorials {
 public:
  // Both must outlive the object.
  Tutorials(const GameClientContext& gameflow, GameClientPeers& peers) noexcept
      : mGameflow(gameflow), mPeers(&peers) {}

  // From None or Lobby only, one tutorial at a time.
  [[nodiscard]] MaybeType<Failure, void> Start(TutorialKind kind);
  // Posts EXITED_TUTORIAL while battle training runs.
  [[nodiscard]] MaybeType<Failure, void> StopBattleTraining();
  [[nodiscard]] std::optional<TutorialKind> Running() const { return mRunning; }
  // Deletes the running tutorial's resource and forgets it.
  void End();

 private:
  GameClientContext mGameflow;
  GameClientPeers* mPeers;
  std::optional<TutorialKind> mRunning;
};

}  // namespace Nalo::Client::Gameflow
