#include "gameflow/GameFlowGate.h"

#include "diagnostics/Log.h"

namespace Nalo::Client::Gameflow {

using State = Api::GameflowAvailabilityState;

bool GameFlowGate::Enter(AvailabilityCheck check) {
  Log(LogLevel::Always, kLogGroupDebug, "Entering game flow");
  if (mAvailability.CurrentState() == State::InGameFlow) {
    Log(LogLevel::Always, kLogGroupDebug, "Game flow is already active.");
    return true;
  }
  if (mCorrupted) {
    Log(LogLevel::Warn, kLogGroupDebug, "Cannot enter game flow while a product is corrupted.");
    return false;
  }
  if (check == AvailabilityCheck::Apply && IsPatcherUpdatePending()) {
    Log(LogLevel::Warn, kLogGroupDebug,
        "Cannot enter game flow until all products are up to date.");
    return false;
  }
  auto stopped = mPeers->StopChecking();
  if (stopped.HasFailure()) {
    Log(LogLevel::Warn, kLogGroupDebug, "Patcher failed to lock: %s",
        stopped.GetFailure().Text().c_str());
    return false;
  }
  Log(LogLevel::Always, kLogGroupDebug, "Patcher stopped and locked");
  mAvailability.SetBlocker(State::Patching, false);
  if (check == AvailabilityCheck::Apply && !mAvailability.IsAvailable()) {
    Log(LogLevel::Warn, kLogGroupDebug, "Game flow is not currently available.");
    UnlockPatcher();
    return false;
  }
  SetLock();
  mAvailability.SetBlocker(State::InGameFlow, true);
  return true;
}

void GameFlowGate::Exit() {
  Log(LogLevel::Always, kLogGroupDebug, "Exiting game flow");
  if (mAvailability.CurrentState() != State::InGameFlow) {
    Log(LogLevel::Always, kLogGroupDebug, "Game flow is already inactive.");
    return;
  }
  if (mModel->session.IsGameBeingServed() && !mCorrupted) {
    Log(LogLevel::Warn, kLogGroupDebug,
        "The game is still being served. Request to exit game flow is denied.");
    return;
  }
  UnlockPatcher();
  ClearLock();
  mAvailability.SetBlocker(State::Patching, IsPatcherUpdatePending());
  mAvailability.SetBlocker(State::InGameFlow, false);
}

bool GameFlowGate::IsPatcherUpdatePending() {
  auto state = mPeers->ProductState();
  return state.HasValue() && !state.Value().isUpToDate;
}

void GameFlowGate::UnlockPatcher() {
  auto started = mPeers->StartChecking();
  if (started.HasFailure()) {
    Log(LogLevel::Warn, kLogGroupDebug, "Patcher failed to unlock: %s",
        started.GetFailure().Text().c_str());
  } else {
    Log(LogLevel::Always, kLogGroupDebug, "Patcher unlocked");
  }
}

void GameFlowGate::SetLock() {
  const std::uint64_t expiry = mLock.NextExpiry();
  Log(LogLevel::Always, kLogGroupDebug, "Setting gameflow patcher lock to %llu.",
      static_cast<unsigned long long>(expiry));
  auto written = mPeers->StoreLock(expiry);
  if (written.HasFailure()) {
    mLock.Forget();
    Log(LogLevel::Error, kLogGroupDebug, "Failed to set gameflow lock: %s",
        written.GetFailure().Text().c_str());
  } else {
    mLock.Remember(expiry);
  }
  mOwner->PublishChangesAndLaunchOutcomes();
  mOwner->ScheduleLockRefresh();
}

void GameFlowGate::ClearLock() {
  if (mCorrupted) {
    Log(LogLevel::Always, kLogGroupDebug,
        "Not clearing gameflow patcher lock because product is corrupted.");
    return;
  }
  Log(LogLevel::Always, kLogGroupDebug, "Clearing gameflow patcher lock.");
  mLock.Forget();
  auto cleared = mPeers->ClearStoredLock();
  if (cleared.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to clear gameflow patcher lock: %s",
        cleared.GetFailure().Text().c_str());
  }
  mOwner->PublishChangesAndLaunchOutcomes();
}

bool GameFlowGate::ReadLockIsActive() {
  mLock.Forget();
  auto stored = mPeers->StoredLock();
  if (stored.HasFailure()) {
    return false;
  }
  mLock.RememberStored(stored.Value());
  return mLock.IsActive();
}

void GameFlowGate::FollowPatcherState(const Api::PatcherProductState& state) {
  if (mAvailability.CurrentState() != State::InGameFlow) {
    mAvailability.SetBlocker(State::Patching, !state.isUpToDate);
  }
  if (state.action == Api::PatcherProductStateAction::Idle && !mCorrupted && state.isCorrupted) {
    mCorrupted = true;
    Log(LogLevel::Always, kLogGroupDebug, "Corruption detected, attempting repair.");
    mOwner->PostEvent(GameflowEvent::CorruptionDetected);
    mAvailability.SetBlocker(State::Patching, true);
    UnlockPatcher();
    // The patcher reports the repair through its state resource.
    static_cast<void>(mPeers->RequestPartialRepair());
    return;
  }
  if (mCorrupted && !state.isCorrupted && state.isUpToDate) {
    mCorrupted = false;
    Log(LogLevel::Always, kLogGroupDebug,
        "Corruption was fixed, attempting to relaunch and reconnect to the original game (if it "
        "exists).");
    if (!Enter(AvailabilityCheck::Skip)) {
      Log(LogLevel::Error, kLogGroupDebug,
          "Unable to reenter flow after fixing corruption. Game was not relaunched.");
      Exit();
    } else if (!mOwner->RelaunchInProgressGame()) {
      Exit();
    }
    return;
  }
  if (state.isUpdateAvailable && mModel->session.Phase() == Api::GameflowPhase::None) {
    // The patcher reports the update through its state resource.
    static_cast<void>(mPeers->StartPatching());
  }
}

void GameFlowGate::DetectCorruption() {
  auto state = mPeers->DetectCorruption();
  if (state.HasFailure()) {
    Log(LogLevel::Warn, kLogGroupDebug, "Patcher failed detect corruption request: %s",
        state.GetFailure().Text().c_str());
    return;
  }
  FollowPatcherState(state.Value());
}

}  // namespace Nalo::Client::Gameflow
