#pragma once
// GameflowAvailability: whether the player may start a gameflow now, and if
// not, the first reason why. The gameflow computes it from its blockers and
// publishes it as its availability resource.

#include <cstdint>

namespace Nalo::Client::Gameflow::Api {

enum class GameflowAvailabilityState : std::int32_t {
  Available = 0,
  Initializing = 1,
  Patching = 2,
  PlayerBanned = 3,
  InGameFlow = 4,
  Configuration = 5,
};

struct GameflowAvailability {
  bool isAvailable = false;
  GameflowAvailabilityState state = GameflowAvailabilityState::Available;

  bool operator==(const GameflowAvailability&) const = default;
};

}  // namespace Nalo::Client::Gameflow::Api
