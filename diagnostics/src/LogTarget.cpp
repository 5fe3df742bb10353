#include "diagnostics/LogTarget.h"

#include "diagnostics/LogManager.h"

namespace Nalo {

LogTarget::~LogTarget() {
  LogTarget::Detach();
}

void LogTarget::Detach() {
  LogManager* manager = nullptr;
  {
    std::lock_guard lock(mMutex);
    manager = mManager;
  }
  // The target lock is released before the manager lock is taken: the manager
  // lock always comes first.
  if (manager != nullptr) {
    manager->Detach(*this);
  }
}

std::string LogTarget::GetFormat() const {
  std::lock_guard lock(mMutex);
  return mFormat;
}

void LogTarget::SetMinimumLevel(LogLevel level) {
  std::lock_guard lock(mMutex);
  mMinimumLevel = level;
}

LogLevel LogTarget::MinimumLevel() const {
  std::lock_guard lock(mMutex);
  return mMinimumLevel;
}

void LogTarget::SetMasks(std::uint64_t includeGroups, std::uint64_t excludeGroups) {
  std::lock_guard lock(mMutex);
  mIncludeMask = includeGroups;
  mExcludeMask = excludeGroups;
}

std::uint64_t LogTarget::IncludeMask() const {
  std::lock_guard lock(mMutex);
  return mIncludeMask;
}

std::uint64_t LogTarget::ExcludeMask() const {
  std::lock_guard lock(mMutex);
  return mExcludeMask;
}

void LogTarget::SetFormat(std::string_view format) {
  std::lock_guard lock(mMutex);
  mFormat.assign(format);
}

bool LogTarget::IsAttached() const {
  std::lock_guard lock(mMutex);
  return mManager != nullptr;
}

std::string_view LogTarget::ExecutableName() const noexcept {
  return mManager != nullptr ? mManager->ExecutableName() : kUnknownExecutableName;
}

void LogTarget::Offer(const LogRecord& record) {
  std::lock_guard lock(mMutex);
  if (static_cast<std::int32_t>(record.level) < static_cast<std::int32_t>(mMinimumLevel)) {
    return;
  }
  if (record.groups != 0) {
    if ((record.groups & mExcludeMask) != 0) {
      return;
    }
    if (mIncludeMask != 0 && (record.groups & mIncludeMask) == 0) {
      return;
    }
  }
  // A failing Write is not the caller's problem: logging never fails.
  static_cast<void>(Write(record));
}

}  // namespace Nalo
