#include "gameflow/Availability.h"

#include <cstddef>

#include "diagnostics/Log.h"

namespace Nalo::Client::Gameflow {

Availability::Availability() noexcept {
  mValue.isAvailable = false;
  mValue.state = State::Initializing;
}

bool Availability::SetBlocker(State reason, bool blocked) noexcept {
  const auto index = static_cast<std::size_t>(reason);
  if (index == 0 || index >= kBlockerCount) {
    return false;
  }
  mBlockers[index] = blocked;
  State next = State::Available;
  for (std::size_t i = 1; i < kBlockerCount; ++i) {
    if (mBlockers[i]) {
      next = static_cast<State>(i);
      break;
    }
  }
  if (next == mValue.state) {
    return false;
  }
  mValue.state = next;
  mValue.isAvailable = next == State::Available || next == State::InGameFlow;
  mChanged = true;
  Log(LogLevel::Okay, kLogGroupGeneral, "mAvailability.state = %d", static_cast<int>(next));
  Log(LogLevel::Okay, kLogGroupGeneral, "mAvailability.isAvailable = %s",
      mValue.isAvailable ? "true" : "false");
  return true;
}

void Availability::ClearBlockers() noexcept {
  mBlockers.fill(false);
}

bool Availability::IsBlocked(State reason) const noexcept {
  const auto index = static_cast<std::size_t>(reason);
  return index > 0 && index < kBlockerCount && mBlockers[index];
}

bool Availability::TakeChange() noexcept {
  const bool changed = mChanged;
  mChanged = false;
  return changed;
}

}  // namespace Nalo::Client::Gameflow
