#pragma once
// LogTarget: a destination of log lines (a console, the host's log, a test).
//
// A target is attached to a LogManager, which offers it every record that got
// past the manager's own filters. The manager then applies the target's filters:
//   - a record below the target's minimum level is skipped;
//   - a record with a non-zero group mask is skipped when the mask shares a bit
//     with the target's exclude mask, or when the include mask is non-zero and
//     shares no bit with it.
// A record with group mask 0 therefore reaches every target whose level allows
// it. Records that pass are handed to the target's write function.
//
// Function table. The manager never calls a target's C++ methods: it drives
// every target through a LogTargetFunctions table of plain functions, so a
// target written elsewhere (in C, or behind another library's ABI) is attached
// and filtered exactly like a built-in one; ExternalLogTarget adapts such a
// table. A LogTarget's own table keeps the level, masks, format and attachment
// in the object and forwards GetName, GetFormat, Write and Flush to the virtual
// methods. The public setters and getters below go through the same table.
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

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "diagnostics/LogLevel.h"
#include "diagnostics/LogRecord.h"

namespace Nalo {

class LogManager;

inline constexpr std::string_view kDefaultLogLineFormat = "#D| #L| #G| #M";

extern "C" {

// A text that need not end in NUL.
struct LogTargetText {
  const char* data = nullptr;
  std::size_t length = 0;
};

// A record as the write function receives it; valid only during the call.
struct LogTargetRecord {
  LocalTime time;
  std::int32_t level = 0;  // a LogLevel value
  std::uint64_t groups = 0;
  const char* message = nullptr;  // at most 4095 characters; NUL-terminated from a LogManager
  std::size_t messageLength = 0;
};

// The functions through which a LogManager drives a target. Every entry is
// set, and each takes the target's opaque pointer first. The manager calls them
// with its own lock held, from any thread, so none may call into a LogManager
// or wait for a thread that logs, and none may throw. Levels are LogLevel
// values; booleans are 0 or 1.
struct LogTargetFunctions {
  void (*setMinimumLevel)(void* target, std::int32_t level);
  std::int32_t (*getMinimumLevel)(const void* target);
  // Stores both masks as given.
  void (*setMasks)(void* target, std::uint64_t includeGroups, std::uint64_t excludeGroups);
  std::uint64_t (*getIncludeMask)(const void* target);
  std::uint64_t (*getExcludeMask)(const void* target);
  // The target's kind; the text stays valid for the life of the target.
  LogTargetText (*getName)(const void* target);
  // Copies the line format into `buffer` like snprintf: at most capacity - 1
  // characters and a NUL (nothing when capacity is 0). Returns the full length.
  std::size_t (*getFormat)(const void* target, char* buffer, std::size_t capacity);
  // Replaces the line format with a copy of `length` characters at `format`.
  void (*setFormat)(void* target, const char* format, std::size_t length);
  // The target is now in `manager`'s list (an opaque, non-owning pointer); it
  // stays there until detach.
  void (*attach)(void* target, void* manager);
  // The target has left its manager's list.
  void (*detach)(void* target);
  // 1 between attach and detach, else 0.
  std::uint8_t (*isAttached)(const void* target);
  // Writes one record that passed every filter. Returns 0 when it could not be
  // written; the manager ignores the result.
  std::uint8_t (*write)(void* target, const LogTargetRecord* record);
  // Pushes out anything the target buffers.
  void (*flush)(void* target);
};

}  // extern "C"

// Everything LogManager::Configure sets on a target at once.
struct LogTargetConfig {
  LogLevel minimumLevel = LogLevel::Warn;
  std::uint64_t includeGroups = 0;
  std::uint64_t excludeGroups = 0;
  std::string_view format = kDefaultLogLineFormat;
};

class LogTarget {
 public:
  // Driven through the table that keeps the settings in this object.
  LogTarget();
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

  // These go through the target's function table.
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
  // A target driven through `functions`, which is called with this object
  // (as LogTarget*) as the opaque pointer and must outlive it.
  explicit LogTarget(const LogTargetFunctions& functions) : mFunctions(&functions) {}

  // The line format; call only from inside Write, where the lock is held.
  [[nodiscard]] std::string_view CurrentFormat() const noexcept { return mFormat; }
  // The executable name of the manager this target is attached to, or
  // "<unknown>"; call only from inside Write.
  [[nodiscard]] std::string_view ExecutableName() const noexcept;

 private:
  friend class LogManager;
  friend class ExternalLogTarget;  // keeps the attachment of the target it adapts
  struct OwnFunctions;             // the table of a target that keeps its own settings

  // The manager this target is listed in, or nullptr.
  void SetManager(LogManager* manager);

  // Lock order: a manager's lock is always taken before a target's lock, never
  // the other way round (see LogManager.h). Recursive, like the host's critical
  // sections, so a Write that reconfigures its own target does not deadlock.
  mutable std::recursive_mutex mMutex;
  const LogTargetFunctions* mFunctions;  // never null; not owning
  LogManager* mManager = nullptr;        // non-null exactly while attached
  LogLevel mMinimumLevel = LogLevel::Warn;
  std::uint64_t mIncludeMask = 0;
  std::uint64_t mExcludeMask = 0;
  std::string mFormat{kDefaultLogLineFormat};
};

// A target implemented outside this library, known only by its function table.
// The table's level, masks, format and attachment are the target's; this
// object adds the link to its manager, so that destroying it detaches the
// target. The manager calls the table with the external target pointer.
//
//   Nalo::ExternalLogTarget target(hostTable, hostTarget);
//   manager.Configure(target, {.minimumLevel = Nalo::LogLevel::Okay});
class ExternalLogTarget final : public LogTarget {
 public:
  // `functions` and `target` must stay valid until this object is destroyed.
  // Nothing is called on construction; the target's current settings stay.
  ExternalLogTarget(const LogTargetFunctions& functions, void* target);
  ~ExternalLogTarget() override;
  ExternalLogTarget(const ExternalLogTarget&) = delete;
  ExternalLogTarget& operator=(const ExternalLogTarget&) = delete;
  ExternalLogTarget(ExternalLogTarget&&) = delete;
  ExternalLogTarget& operator=(ExternalLogTarget&&) = delete;

  [[nodiscard]] std::string_view GetName() const override;
  [[nodiscard]] std::string GetFormat() const override;
  bool Write(const LogRecord& record) override;
  void Flush() override;

 private:
  struct ForwardingFunctions;

  const LogTargetFunctions& mExternalFunctions;
  void* mExternalTarget;  // not owning
};

}  // namespace Nalo
