#pragma once
// LogTarget: a destination of log lines (a console, the host's log, a test).
//
// A target is attached to a LogManager, which offers it every record that got
// past the manager's own filters. The target then applies its own filters:
//   - a record below the target's minimum level is skipped;
//   - a record with a non-zero group mask is skipped when the mask shares a bit
//     with the target's exclude mask, or when the include mask is non-zero and
//     shares no bit with it.
// A record with group mask 0 therefore reaches every target whose level allows
// it. Records that pass are handed to Write.
//
// Deriving: implement GetName and Write. Write runs with the target's lock held
// and the manager's lock held, so it must not wait for another thread that
// logs. A log call made from inside Write on the same thread is dropped. A
// derived class whose Write uses its own members must call Detach() first thing
// in its destructor, so that no other thread can be inside Write while those
// members are destroyed; the built-in targets all do.
//
// Settings can be changed at any time from any thread; each change holds the
// target's lock. A target is neither copyable nor movable: the manager keeps
// its address while it is attached.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "diagnostics/LogLevel.h"
#include "diagnostics/LogRecord.h"

namespace Nalo {

class LogManager;

inline constexpr std::string_view kDefaultLogLineFormat = "#D| #L| #G| #M";

// Everything LogManager::Configure sets on a target at once.
struct LogTargetConfig {
  LogLevel minimumLevel = LogLevel::Warn;
  std::uint64_t includeGroups = 0;
  std::uint64_t excludeGroups = 0;
  std::string_view format = kDefaultLogLineFormat;
};

class LogTarget {
 public:
  LogTarget() = default;
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;
  LogTarget(LogTarget&&) = delete;
  LogTarget& operator=(LogTarget&&) = delete;
  // Detaches the target (see the note on deriving above).
  virtual ~LogTarget();

  // Removes the target from its manager's list; no effect when not attached.
  // When it returns, no thread is inside this target's Write.
  virtual void Detach();
  // The target's kind, used by LogManager::FindTarget ("StdErrLogTarget"). The
  // text must stay valid for the life of the target.
  [[nodiscard]] virtual std::string_view GetName() const = 0;
  // A copy of the current line format.
  [[nodiscard]] virtual std::string GetFormat() const;
  // Writes one record that passed every filter. Returns false when it could not
  // be written; the manager ignores the result. Must not throw.
  virtual bool Write(const LogRecord& record) = 0;
  // Pushes out anything the target buffers. The default does nothing.
  virtual void Flush() {}

  void SetMinimumLevel(LogLevel level);
  [[nodiscard]] LogLevel MinimumLevel() const;
  // Stores both masks as given; LogManager::Configure is the call that also
  // clears excluded bits from the include mask.
  void SetMasks(std::uint64_t includeGroups, std::uint64_t excludeGroups);
  [[nodiscard]] std::uint64_t IncludeMask() const;
  [[nodiscard]] std::uint64_t ExcludeMask() const;
  void SetFormat(std::string_view format);
  [[nodiscard]] bool IsAttached() const;

 protected:
  // The line format; call only from inside Write, where the lock is held.
  [[nodiscard]] std::string_view CurrentFormat() const noexcept { return mFormat; }
  // The executable name of the manager this target is attached to, or
  // "<unknown>"; call only from inside Write.
  [[nodiscard]] std::string_view ExecutableName() const noexcept;

 private:
  friend class LogManager;

  // Applies the target's filters and writes `record`; called by the manager with
  // its lock held.
  void Offer(const LogRecord& record);

  // Lock order: a manager's lock is always taken before a target's lock, never
  // the other way round (see LogManager.h). Recursive, like the host's critical
  // sections, so a Write that reconfigures its own target does not deadlock.
  mutable std::recursive_mutex mMutex;
  LogManager* mManager = nullptr;  // non-null exactly while attached
  LogLevel mMinimumLevel = LogLevel::Warn;
  std::uint64_t mIncludeMask = 0;
  std::uint64_t mExcludeMask = 0;
  std::string mFormat{kDefaultLogLineFormat};
};

}  // namespace Nalo
