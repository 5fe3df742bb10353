#pragma once
// Availability: whether a new game flow may start, computed from five
// blocking reasons.
//
// Each GameflowAvailabilityState from Initializing (1) to Configuration (5)
// has a blocker; the state is the smallest index whose blocker is set, or
// Available when none is. `isAvailable` is true for Available and InGameFlow
// (a player already in game flow may go on). A blocker change that changes
// the state logs it and marks the availability as changed; the plugin's tick
// publishes it and takes the mark away, so the resource is published only on
// change.
//
//   Availability availability;                       // Initializing, not available
//   availability.SetBlocker(State::Configuration, true);
//   if (availability.TakeChange()) Publish(availability.Value());

#include <array>

#include "gameflow/Api/GameflowAvailability.h"

namespace Nalo::Client::Gameflow {

class Availability {
 public:
  using State = Api::GameflowAvailabilityState;

  // State Initializing, not available, no blocker set, not changed.
  Availability() noexcept;

  // Sets or clears the blocker of `reason` (Available has none and is
  // ignored) and recomputes the state. When the state changes: logs
  // "mAvailability.state = %d" and "mAvailability.isAvailable = %s" (OKAY)
  // and marks the availability changed. Returns whether the state changed.
  bool SetBlocker(State reason, bool blocked) noexcept;
  // Clears every blocker without recomputing: the state stays as it is until
  // the next SetBlocker.
  void ClearBlockers() noexcept;

  [[nodiscard]] const Api::GameflowAvailability& Value() const noexcept { return mValue; }
  [[nodiscard]] State CurrentState() const noexcept { return mValue.state; }
  [[nodiscard]] bool IsAvailable() const noexcept { return mValue.isAvailable; }
  [[nodiscard]] bool IsBlocked(State reason) const noexcept;

  // Whether the state changed since the last call, and clears the mark.
  [[nodiscard]] bool TakeChange() noexcept;

 private:
  static constexpr std::size_t kBlockerCount = 6;  // index 0 (Available) is never used

  Api::GameflowAvailability mValue;
  std::array<bool, kBlockerCount> mBlockers{};
  bool mChanged = false;
};

}  // namespace Nalo::Client::Gameflow
