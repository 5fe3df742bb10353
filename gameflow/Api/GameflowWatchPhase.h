#pragma once
// GameflowWatchPhase: the progress of watching a replay, published apart
// from the session because a replay runs outside the gameflow's phases.

#include <cstdint>

namespace Nalo::Client::Gameflow::Api {

enum class GameflowWatchPhase : std::int32_t {
  None = 0,
  WatchStarted = 1,
  WatchInProgress = 2,
  WatchFailedToLaunch = 3,
};

}  // namespace Nalo::Client::Gameflow::Api
