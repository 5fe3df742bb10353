#pragma once
// PatcherLock: the time until which the patcher must leave the game's files
// alone, kept in the data store so that it outlives the plugin for a while.
//
// The stored value is an expiry in milliseconds since 1970 (wall clock),
// written 15 minutes ahead and refreshed every 30 seconds while a game is under
// way; clearing stores "". A lock is active exactly when now < expiry <=
// now + 15 minutes: an expiry in the past has lapsed, and one further ahead
// cannot have been written by a running gameflow, so it counts as no lock and
// can never hold the patcher back.
//
// This class keeps the cached expiry and what was last published about it;
// the plugin does the data-store requests and the publishing.
//
//   PatcherLock lock(SystemWallClock());
//   const std::uint64_t expiry = lock.NextExpiry();   // now + 15 minutes
//   ... POST expiry ...; lock.Remember(expiry);
//   if (auto status = lock.TakeStatusChange()) Publish(*status);

#include <cstdint>
#include <optional>

#include "binding/BindingProperty.h"
#include "gameflow/WallClock.h"

namespace Nalo::Client::Gameflow {

// How long a written lock lasts: 15 minutes.
inline constexpr std::uint64_t kPatcherLockValidityMilliseconds = std::uint64_t{15} * 60 * 1000;
// How often a lock is rewritten while a game is under way: 30 seconds.
inline constexpr std::uint64_t kPatcherLockRefreshNanoseconds = 30ULL * 1000 * 1000 * 1000;

// The activity rule: an expiry is known and now < expiry <= now + 15 minutes.
[[nodiscard]] bool IsPatcherLockActiveAt(std::optional<std::uint64_t> expiry,
                                         std::uint64_t nowMilliseconds) noexcept;

// The expiry in a value read from the data store. "" (a cleared lock) and an
// absent value give none. A value that is not a whole number, is negative, or
// lies more than 15 minutes after `nowMilliseconds` also gives none, with a
// WARN line saying why: such a lock was not written by a running gameflow.
[[nodiscard]] std::optional<std::uint64_t> ReadStoredPatcherLock(const BindingProperty& stored,
                                                                 std::uint64_t nowMilliseconds);

class PatcherLock {
 public:
  // `clock` must outlive the lock.
  explicit PatcherLock(const WallClock& clock) noexcept : mClock(&clock) {}

  // The expiry of a lock written now: now + 15 minutes.
  [[nodiscard]] std::uint64_t NextExpiry() const noexcept;
  void Remember(std::uint64_t expiry) noexcept { mExpiry = expiry; }
  void Forget() noexcept { mExpiry.reset(); }
  // Remembers what ReadStoredPatcherLock finds in `stored`, or forgets.
  void RememberStored(const BindingProperty& stored);
  [[nodiscard]] std::optional<std::uint64_t> Expiry() const noexcept { return mExpiry; }

  // The activity rule applied to the cached expiry and the clock's now.
  [[nodiscard]] bool IsActive() const noexcept;

  // When IsActive() differs from what was last published: records and
  // returns the new status; otherwise nothing. Starts as published inactive.
  [[nodiscard]] std::optional<bool> TakeStatusChange() noexcept;
  [[nodiscard]] bool IsPublishedActive() const noexcept { return mPublishedActive; }

 private:
  const WallClock* mClock;
  std::optional<std::uint64_t> mExpiry;
  bool mPublishedActive = false;
};

}  // namespace Nalo::Client::Gameflow
