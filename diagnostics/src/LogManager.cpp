#include "diagnostics/LogManager.h"

#include <algorithm>
#include <cstdio>

#include "diagnostics/Log.h"
#include "diagnostics/LogGroup.h"
#include "platform/Platform.h"

namespace Nalo {
namespace {

constexpr std::string_view kLocationGroupCode = "LOC";
constexpr std::size_t kExpectedTargetCount = 8;

// Set while this thread walks the targets of a manager, so that a log call made
// from inside a target's Write is dropped instead of recursing into the targets.
thread_local bool tDispatching = false;

class DispatchScope {
 public:
  DispatchScope() noexcept { tDispatching = true; }
  ~DispatchScope() { tDispatching = false; }
  DispatchScope(const DispatchScope&) = delete;
  DispatchScope& operator=(const DispatchScope&) = delete;
  DispatchScope(DispatchScope&&) = delete;
  DispatchScope& operator=(DispatchScope&&) = delete;
};

}  // namespace

LogManager::LogManager() {
  mTargets.reserve(kExpectedTargetCount);
  // Registering the code fixes its bit before any module asks for it.
  [[maybe_unused]] const std::uint64_t locationGroup = RegisterGroup(kLocationGroupCode);
  std::string executableName = detail::Platform::ExecutableFileName();
  if (!executableName.empty()) {
    mExecutableName = std::move(executableName);
  }
  Attach(mStdErr);
  Attach(mDebugger);
}

LogManager::~LogManager() {
  std::lock_guard lock(mMutex);
  for (LogTarget* target : mTargets) {
    target->mFunctions->detach(target);
  }
  mTargets.clear();
}

LogManager& LogManager::Instance() {
  // Leaked on purpose: static destructors of other modules may still log.
  static LogManager* const instance = [] {
    detail::Platform::RegisterTraceProviders();
    return new LogManager();
  }();
  return *instance;
}

void LogManager::Log(LogLevel level, std::uint64_t groups, const char* format, ...) noexcept {
  std::va_list arguments;
  va_start(arguments, format);
  LogV(level, groups, format, arguments);
  va_end(arguments);
}

void LogManager::LogV(LogLevel level, std::uint64_t groups, const char* format,
                      std::va_list arguments) noexcept {
  if (static_cast<std::int32_t>(level) < mMinimumLevel.load(std::memory_order_relaxed) ||
      (groups & mExcludedGroups.load(std::memory_order_relaxed)) != 0 || tDispatching) {
    return;
  }
  char message[kLogBufferSize];
  // The caller started the list (Log, or a wrapper of its own).
  const int length = std::vsnprintf(message, sizeof message, format,
                                    arguments);  // NOLINT(clang-analyzer-valist.Uninitialized)
  const std::size_t messageLength =
      length < 0 ? 0 : std::min(static_cast<std::size_t>(length), sizeof message - 1);
  message[messageLength] = '\0';
  const LogTargetRecord record{.time = detail::Platform::LocalTimeNow(),
                               .level = static_cast<std::int32_t>(level),
                               .groups = groups,
                               .message = message,
                               .messageLength = messageLength};

  std::lock_guard lock(mMutex);
  if (level == LogLevel::Warn) {
    ++mWarningCount;
  } else if (level == LogLevel::Error) {
    ++mErrorCount;
  }
  DispatchScope dispatching;
  for (LogTarget* target : mTargets) {
    // Each table call takes the target's lock on its own; a setting changed
    // between them applies from the next record on.
    const LogTargetFunctions& functions = *target->mFunctions;
    if (record.level < functions.getMinimumLevel(target)) {
      continue;
    }
    if (groups != 0) {
      if ((groups & functions.getExcludeMask(target)) != 0) {
        continue;
      }
      const std::uint64_t included = functions.getIncludeMask(target);
      if (included != 0 && (groups & included) == 0) {
        continue;
      }
    }
    // A failing write is not the caller's problem: logging never fails.
    static_cast<void>(functions.write(target, &record));
  }
}

void LogManager::SetMinimumLevel(LogLevel level) noexcept {
  mMinimumLevel.store(static_cast<std::int32_t>(level), std::memory_order_relaxed);
}

LogLevel LogManager::GetMinimumLevel() const noexcept {
  return static_cast<LogLevel>(mMinimumLevel.load(std::memory_order_relaxed));
}

void LogManager::SetExcludedGroups(std::uint64_t groups) noexcept {
  mExcludedGroups.store(groups, std::memory_order_relaxed);
}

std::uint64_t LogManager::GetExcludedGroups() const noexcept {
  return mExcludedGroups.load(std::memory_order_relaxed);
}

void LogManager::Attach(LogTarget& target) {
  bool listedHere = false;
  {
    std::lock_guard lock(mMutex);
    listedHere = std::find(mTargets.begin(), mTargets.end(), &target) != mTargets.end();
  }
  // A target attached elsewhere leaves that manager outside our lock, so that
  // two manager locks are never held together.
  if (!listedHere && target.mFunctions->isAttached(&target) != 0) {
    target.Detach();
  }
  std::lock_guard lock(mMutex);
  if (std::find(mTargets.begin(), mTargets.end(), &target) != mTargets.end()) {
    return;
  }
  mTargets.push_back(&target);
  target.mFunctions->attach(&target, this);
}

void LogManager::Detach(LogTarget& target) {
  std::lock_guard lock(mMutex);
  DetachLocked(target);
}

void LogManager::DetachLocked(LogTarget& target) {
  const auto found = std::find(mTargets.begin(), mTargets.end(), &target);
  if (found == mTargets.end()) {
    return;
  }
  mTargets.erase(found);
  target.mFunctions->detach(&target);
}

void LogManager::Configure(LogTarget& target, const LogTargetConfig& config) {
  const LogTargetFunctions& functions = *target.mFunctions;
  if (functions.isAttached(&target) != 0) {
    target.Detach();
  }
  // Holding our lock through the whole change keeps log calls from seeing a
  // half-configured target.
  std::lock_guard lock(mMutex);
  DetachLocked(target);
  functions.setMinimumLevel(&target, static_cast<std::int32_t>(config.minimumLevel));
  functions.setMasks(&target, config.includeGroups & ~config.excludeGroups, config.excludeGroups);
  functions.setFormat(&target, config.format.data(), config.format.size());
  mTargets.push_back(&target);
  functions.attach(&target, this);
}

LogTarget* LogManager::FindTarget(std::string_view name) {
  std::lock_guard lock(mMutex);
  const auto found = std::find_if(mTargets.begin(), mTargets.end(), [name](LogTarget* target) {
    const LogTargetText targetName = target->mFunctions->getName(target);
    return std::string_view(targetName.data, targetName.length) == name;
  });
  return found == mTargets.end() ? nullptr : *found;
}

void LogManager::FlushAll() {
  std::lock_guard lock(mMutex);
  for (LogTarget* target : mTargets) {
    target->mFunctions->flush(target);
  }
}

std::uint64_t LogManager::WarningCount() const {
  std::lock_guard lock(mMutex);
  return mWarningCount;
}

std::uint64_t LogManager::ErrorCount() const {
  std::lock_guard lock(mMutex);
  return mErrorCount;
}

void Log(LogLevel level, std::uint64_t groups, const char* format, ...) noexcept {
  std::va_list arguments;
  va_start(arguments, format);
  LogManager::Instance().LogV(level, groups, format, arguments);
  va_end(arguments);
}

}  // namespace Nalo
