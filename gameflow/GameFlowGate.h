#pragma once
// GameFlowGate: entering and leaving game flow, the stretch from asking for a
// lobby to the end of a game during which the patcher must keep away from the
// game's files.
//
// Entering stops the patcher's checks, writes the patcher lock and marks
// availability InGameFlow; leaving unlocks the patcher, clears the lock and
// recomputes availability. The gate also follows the patcher's product state:
// the Patching blocker, a corrupted product (leave the chart for None, ask for
// a repair) and its repair (enter game flow again and relaunch the game in
// progress). The gate owns availability, the lock's cached state and the
// corrupted mark; it reads the gameflow's state from the model, reaches the
// patcher and the data store through PatcherPeers and the rest of the plugin
// through GameFlowGate::Owner, so it can be tested with fakes of both and a
// manual clock.
//
//   GameFlowGate gate(peers, SystemWallClock(), model, owner);
//   if (gate.Enter(AvailabilityCheck::Apply)) PostEvent(GameflowEvent::RequestedLobby);
//
// Every failing request is logged and leaves the gate consistent: entering
// never half-succeeds (a refusal after the patcher was stopped unlocks it
// again), and a lock that could not be written is not remembered, so the next
// tick reports it inactive.

#include <cstdint>

#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "gameflow/Api/PatcherProductState.h"
#include "gameflow/Availability.h"
#include "gameflow/GameflowChart.h"
#include "gameflow/GameflowEvent.h"
#include "gameflow/GameflowModel.h"
#include "gameflow/PatcherLock.h"
#include "gameflow/WallClock.h"

namespace Nalo::Client::Gameflow {

// The requests that keep the patcher away from the game. Each answers the
// peer's failure, or success.
class PatcherPeers {
 public:
  virtual ~PatcherPeers() = default;
  // GET the patcher's product state.
  [[nodiscard]] virtual MaybeType<Failure, Api::PatcherProductState> ProductState() = 0;
  // POST stop-checking-request: the patcher leaves the game's files alone.
  [[nodiscard]] virtual MaybeType<Failure, void> StopChecking() = 0;
  // POST start-checking-request: the patcher may check and patch again.
  [[nodiscard]] virtual MaybeType<Failure, void> StartChecking() = 0;
  // POST the lock's expiry to the data store.
  [[nodiscard]] virtual MaybeType<Failure, void> StoreLock(std::uint64_t expiry) = 0;
  // POST "" to the data store's lock.
  [[nodiscard]] virtual MaybeType<Failure, void> ClearStoredLock() = 0;
  // GET the data store's lock as it is stored.
  [[nodiscard]] virtual MaybeType<Failure, BindingProperty> StoredLock() = 0;
  // POST detect-corruption-request: the patcher checks the game's files and
  // answers its product state.
  [[nodiscard]] virtual MaybeType<Failure, Api::PatcherProductState> DetectCorruption() = 0;
  // POST partial-repair-request; the patcher reports the repair through its
  // state resource.
  [[nodiscard]] virtual MaybeType<Failure, void> RequestPartialRepair() = 0;
  // POST start-patching-request; the patcher reports the update through its
  // state resource.
  [[nodiscard]] virtual MaybeType<Failure, void> StartPatching() = 0;

 protected:
  PatcherPeers() = default;
  PatcherPeers(const PatcherPeers&) = default;
  PatcherPeers& operator=(const PatcherPeers&) = default;
  PatcherPeers(PatcherPeers&&) = default;
  PatcherPeers& operator=(PatcherPeers&&) = default;
};

class GameFlowGate {
 public:
  // What the gate needs from the rest of the plugin.
  class Owner {
   public:
    virtual ~Owner() = default;
    // Publishes what changed (the lock's status, availability) and follows
    // the launch: the plugin's tick.
    virtual void PublishChangesAndLaunchOutcomes() = 0;
    // Arranges for the lock to be written again in 30 seconds.
    virtual void ScheduleLockRefresh() = 0;
    // Dispatches `event` through the chart; answers whether a row handled it.
    virtual bool PostEvent(GameflowEvent event) = 0;
    // Relaunches the game client of the game in progress once a corrupted
    // product is repaired; answers whether it did.
    virtual bool RelaunchInProgressGame() = 0;

   protected:
    Owner() = default;
    Owner(const Owner&) = default;
    Owner& operator=(const Owner&) = default;
    Owner(Owner&&) = default;
    Owner& operator=(Owner&&) = default;
  };

  // All four must outlive the gate.
  GameFlowGate(PatcherPeers& peers, const WallClock& clock, const GameflowModel& model,
               Owner& owner) noexcept
      : mPeers(&peers), mLock(clock), mModel(&model), mOwner(&owner) {}

  // Logs "Entering game flow". Answers true at once when already in game
  // flow; false when the product is corrupted, when `check` is Apply and an
  // update is pending, when the patcher cannot be stopped, or when `check` is
  // Apply and availability does not allow it (the patcher is unlocked again).
  // Otherwise writes the lock, marks availability InGameFlow and answers true.
  bool Enter(AvailabilityCheck check);
  // Logs "Exiting game flow". Does nothing when not in game flow, or when a
  // game is still being served and the product is not corrupted. Otherwise
  // unlocks the patcher, clears the lock and recomputes availability.
  void Exit();

  // Whether the patcher's product is not up to date; a failing request
  // answers false.
  [[nodiscard]] bool IsPatcherUpdatePending();
  // POSTs start-checking-request and logs the outcome.
  void UnlockPatcher();
  // Writes a lock 15 minutes ahead, runs the owner's tick and schedules the
  // next refresh.
  void SetLock();
  // Clears the stored lock and runs the owner's tick; refused while the
  // product is corrupted (the lock is then left to lapse).
  void ClearLock();
  // UnlockPatcher, then ClearLock.
  void ReleasePatcher() {
    UnlockPatcher();
    ClearLock();
  }
  // Reads the stored lock afresh and answers whether it is active.
  [[nodiscard]] bool ReadLockIsActive();

  // Follows the patcher's product state. Outside game flow, a product that is
  // not up to date blocks availability (Patching). An idle patcher that finds
  // the product corrupted marks it corrupted, posts CORRUPTION_DETECTED,
  // blocks availability, unlocks the patcher and asks for a partial repair. A
  // corrupted product that is repaired and up to date enters game flow again
  // (without the availability checks) and relaunches the game in progress;
  // when either fails, game flow is left. Otherwise an available update is
  // started while the phase is None.
  void FollowPatcherState(const Api::PatcherProductState& state);
  // Asks the patcher to check for corruption and follows the state it
  // answers; a failing request is logged (WARN) and changes nothing.
  void DetectCorruption();

  [[nodiscard]] Availability& GetAvailability() noexcept { return mAvailability; }
  [[nodiscard]] const Availability& GetAvailability() const noexcept { return mAvailability; }
  [[nodiscard]] PatcherLock& Lock() noexcept { return mLock; }
  [[nodiscard]] bool IsCorrupted() const noexcept { return mCorrupted; }
  void SetCorrupted(bool corrupted) noexcept { mCorrupted = corrupted; }

 private:
  PatcherPeers* mPeers;
  Availability mAvailability;
  PatcherLock mLock;
  const GameflowModel* mModel;
  Owner* mOwner;
  bool mCorrupted = false;
};

}  // namespace Nalo::Client::Gameflow
