#pragma once
// LogManager: filters log calls and hands them to the attached targets.
//
// The plugin has one manager per process, LogManager::Instance(), created on
// first use and never destroyed; Nalo::Log (Log.h) writes through it. Tests and
// tools may build managers of their own.
//
// A log call is dropped, before its message is formatted, when its level is
// below the manager's minimum level (initially Warn) or its group mask shares a
// bit with the manager's excluded groups (initially "XTR"). Otherwise the
// message is formatted into a 4096-byte stack buffer (longer text is cut), the
// WARN and ERROR counters are updated, and the record is offered to every
// attached target in attachment order (LogTarget.h describes the target
// filters). The logging path never allocates and never fails towards its
// caller; a target's failing Write is ignored.
//
// A new manager builds the three console targets (ConsoleLogTargets.h),
// attaches the standard-error and debugger targets, takes the executable name
// from the running program's path and makes sure the group "LOC" exists.
//
// Concurrency: any thread may log or reconfigure. The manager lock is held
// while the targets are walked and written, so lines from different threads
// never interleave. Lock order: the manager lock first, then a target's lock;
// no code path takes the manager lock while holding a target's lock (a target
// setter takes only the target's lock), so a thread reconfiguring a target
// cannot deadlock with a thread that logs. Both locks are recursive, and a log
// call made from inside a target's Write on the same thread is dropped rather
// than written back into the targets.

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/ConsoleLogTargets.h"
#include "diagnostics/LogLevel.h"
#include "diagnostics/LogTarget.h"

namespace Nalo {

inline constexpr std::string_view kUnknownExecutableName = "<unknown>";

class LogManager {
 public:
  LogManager();
  // Detaches every target still attached; targets are not destroyed.
  ~LogManager();
  LogManager(const LogManager&) = delete;
  LogManager& operator=(const LogManager&) = delete;
  LogManager(LogManager&&) = delete;
  LogManager& operator=(LogManager&&) = delete;

  // The process-wide manager, created on first use (thread-safe) and never
  // destroyed, so logging from static destructors stays safe.
  [[nodiscard]] static LogManager& Instance();

  // Logs one printf-style line. See the class comment for the filtering.
  void Log(LogLevel level, std::uint64_t groups, const char* format, ...) noexcept
      __attribute__((format(printf, 4, 5)));
  void LogV(LogLevel level, std::uint64_t groups, const char* format,
            std::va_list arguments) noexcept __attribute__((format(printf, 4, 0)));

  void SetMinimumLevel(LogLevel level) noexcept;
  [[nodiscard]] LogLevel GetMinimumLevel() const noexcept;
  void SetExcludedGroups(std::uint64_t groups) noexcept;
  [[nodiscard]] std::uint64_t GetExcludedGroups() const noexcept;

  // Appends `target` to the attached targets. A target attached elsewhere is
  // detached from that manager first; attaching twice here changes nothing.
  // The caller keeps ownership and must keep the target alive until it is
  // detached (destroying a target detaches it).
  void Attach(LogTarget& target);
  // Removes `target`; no effect when it is not attached here. When it returns,
  // no thread is inside the target's Write.
  void Detach(LogTarget& target);
  // Detaches `target`, sets its minimum level, sets its include mask to
  // include AND NOT exclude and its exclude mask to exclude, sets its format,
  // and attaches it here again (at the end of the list).
  void Configure(LogTarget& target, const LogTargetConfig& config);
  // The first attached target whose GetName equals `name`, or nullptr.
  // The pointer is not owning.
  [[nodiscard]] LogTarget* FindTarget(std::string_view name);
  // Flushes every attached target, in order.
  void FlushAll();

  // The built-in console targets, owned by the manager.
  [[nodiscard]] StdErrLogTarget& StdErrTarget() noexcept { return mStdErr; }
  [[nodiscard]] StdOutLogTarget& StdOutTarget() noexcept { return mStdOut; }
  [[nodiscard]] DebuggerConsoleLogTarget& DebuggerTarget() noexcept { return mDebugger; }

  // The executable's file name without directory, or "<unknown>".
  [[nodiscard]] std::string_view ExecutableName() const noexcept { return mExecutableName; }
  // How many WARN and ERROR calls got past the manager's filters.
  [[nodiscard]] std::uint64_t WarningCount() const;
  [[nodiscard]] std::uint64_t ErrorCount() const;

 private:
  void DetachLocked(LogTarget& target);

  mutable std::recursive_mutex mMutex;
  std::vector<LogTarget*> mTargets;  // attachment order; not owning
  // Read without the lock by the pre-filter of every log call.
  std::atomic<std::int32_t> mMinimumLevel{static_cast<std::int32_t>(LogLevel::Warn)};
  std::atomic<std::uint64_t> mExcludedGroups{4};
  std::string mExecutableName{kUnknownExecutableName};  // set once, in the constructor
  std::uint64_t mWarningCount = 0;                      // guarded by mMutex
  std::uint64_t mErrorCount = 0;                        // guarded by mMutex
  StdErrLogTarget mStdErr;
  StdOutLogTarget mStdOut;
  DebuggerConsoleLogTarget mDebugger;
};

}  // namespace Nalo
