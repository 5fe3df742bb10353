#include "gameflow/PatcherLock.h"

#include <cmath>
#include <string>

#include "diagnostics/Log.h"

namespace Nalo::Client::Gameflow {

bool IsPatcherLockActiveAt(std::optional<std::uint64_t> expiry,
                           std::uint64_t nowMilliseconds) noexcept {
  if (!expiry.has_value()) {
    return false;
  }
  // Subtracting avoids overflow near the top of the range.
  return *expiry > nowMilliseconds && *expiry - nowMilliseconds <= kPatcherLockValidityMilliseconds;
}

std::optional<std::uint64_t> ReadStoredPatcherLock(const BindingProperty& stored,
                                                   std::uint64_t nowMilliseconds) {
  std::optional<std::uint64_t> expiry;
  switch (stored.Kind()) {
    case BindingKind::Empty:
      return std::nullopt;
    case BindingKind::String:
      if (stored.StringValue().empty()) {
        return std::nullopt;
      }
      break;
    case BindingKind::Unsigned:
      expiry = stored.GetUnsigned(0);
      break;
    case BindingKind::Signed:
      if (stored.GetSigned(0) < 0) {
        Log(LogLevel::Warn, kLogGroupDebug,
            "The stored gameflow patcher lock %lld is negative; treating it as no lock.",
            static_cast<long long>(stored.GetSigned(0)));
        return std::nullopt;
      }
      expiry = static_cast<std::uint64_t>(stored.GetSigned(0));
      break;
    case BindingKind::Float: {
      const double value = stored.GetFloat(0);
      if (value < 0) {
        Log(LogLevel::Warn, kLogGroupDebug,
            "The stored gameflow patcher lock %f is negative; treating it as no lock.", value);
        return std::nullopt;
      }
      // 2^64 itself is not representable as a uint64.
      if (std::isfinite(value) && value == std::floor(value) && value < 18446744073709551616.0) {
        expiry = static_cast<std::uint64_t>(value);
      }
      break;
    }
    default:
      break;
  }
  if (!expiry.has_value()) {
    Log(LogLevel::Warn, kLogGroupDebug,
        "The stored gameflow patcher lock is not a whole number (%s); treating it as no lock.",
        std::string(stored.KindName()).c_str());
    return std::nullopt;
  }
  if (*expiry > nowMilliseconds && *expiry - nowMilliseconds > kPatcherLockValidityMilliseconds) {
    Log(LogLevel::Warn, kLogGroupDebug,
        "The stored gameflow patcher lock %llu lies more than 15 minutes ahead of now (%llu); "
        "treating it as no lock.",
        static_cast<unsigned long long>(*expiry), static_cast<unsigned long long>(nowMilliseconds));
    return std::nullopt;
  }
  return expiry;
}

std::uint64_t PatcherLock::NextExpiry() const noexcept {
  return mClock->NowMillisecondsSinceEpoch() + kPatcherLockValidityMilliseconds;
}

void PatcherLock::RememberStored(const BindingProperty& stored) {
  mExpiry = ReadStoredPatcherLock(stored, mClock->NowMillisecondsSinceEpoch());
}

bool PatcherLock::IsActive() const noexcept {
  return IsPatcherLockActiveAt(mExpiry, mClock->NowMillisecondsSinceEpoch());
}

std::optional<bool> PatcherLock::TakeStatusChange() noexcept {
  const bool active = IsActive();
  if (active == mPublishedActive) {
    return std::nullopt;
  }
  mPublishedActive = active;
  return active;
}

}  // namespace Nalo::Client::Gameflow
