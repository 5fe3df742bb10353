#pragma once
// GameFlowGate: entering and leaving game flow, the stretch from asking for a
// lobby to the end of a game during which the patcher must keep away from the
// game's files.
//
// Entering stops the patcher's checks, writes the patcher lock and marks
// availability InGameFlow; leaving unlocks the patcher, clears the lock and
// recomputes availability. The gate owns availability and the lock's cached
// state; it reaches the patcher and the data store through PatcherPeers and
// the rest of the plugin through GameFlowGate::Owner, so it can be tested with
// fakes of both and a manual clock.
//
//   GameFlowGate gate(peers, SystemWallClock(), owner);
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
    // A game record is stored and its game is being served.
    [[nodiscard]] virtual bool IsGameBeingServed() const = 0;
    // Publishes what changed (the lock's status, availability).
    virtual void Tick() = 0;
    // Arranges for the lock to be written again in 30 seconds.
    virtual void ScheduleLockRefresh() = 0;

   protected:
    Owner() = default;
    Owner(const Owner&) = default;
    Owner& operator=(const Owner&) = default;
    Owner(Owner&&) = default;
    Owner& operator=(Owner&&) = default;
  };

  // All three must outlive the gate.
  GameFlowGate(PatcherPeers& peers, const WallClock& clock, Owner& owner) noexcept
      : mPeers(&peers), mLock(clock), mOwner(&owner) {}

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
  // Reads the stored lock afresh and answers whether it is active.
  [[nodiscard]] bool ReadLockIsActive();

  [[nodiscard]] Availability& GetAvailability() noexcept { return mAvailability; }
  [[nodiscard]] const Availability& GetAvailability() const noexcept { return mAvailability; }
  [[nodiscard]] PatcherLock& Lock() noexcept { return mLock; }
  [[nodiscard]] bool IsCorrupted() const noexcept { return mCorrupted; }
  void SetCorrupted(bool corrupted) noexcept { mCorrupted = corrupted; }

 private:
  PatcherPeers* mPeers;
  Availability mAvailability;
  PatcherLock mLock;
  Owner* mOwner;
  bool mCorrupted = false;
};

}  // namespace Nalo::Client::Gameflow
