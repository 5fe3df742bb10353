#pragma once
// Clocks: wall time, elapsed time and stopwatches.
//
// NowMillisecondsSinceEpoch gives wall-clock time for stored expiry times.
// Durations are measured on a monotonic clock (TickClock), which code that
// must be tested takes as an injected reference:
//
//   Nalo::Stopwatch stopwatch(clock);   // running from here
//   ...
//   if (stopwatch.ElapsedMilliseconds() > kLaunchTimeoutMilliseconds) ...

#include <cstdint>

namespace Nalo {

// Milliseconds since 1970-01-01 00:00 UTC: the system's wall clock, or the
// installed override's.
[[nodiscard]] std::uint64_t NowMillisecondsSinceEpoch() noexcept;

// Clocks that replace the system's, for tests: a test host installs its
// virtual time here (through a plugin's clock-source export) so that every
// clock the plugin reads follows it. Each function is called with `context`.
struct ClockOverride {
  void* context = nullptr;
  std::uint64_t (*monotonicNanoseconds)(void* context) = nullptr;
  std::uint64_t (*wallMilliseconds)(void* context) = nullptr;
};

// Makes SystemTickClock() and NowMillisecondsSinceEpoch() read `source`'s
// functions; null gives the system's clocks back. The record must stay valid
// until the next call. Process-wide, per copy of this library: every plugin
// shared object has its own.
void SetClockOverride(const ClockOverride* source) noexcept;

// Seconds since the first call of this function in the process (so the first
// call returns about 0). Thread-safe. Used by the "#H" log format code.
[[nodiscard]] double ElapsedSeconds() noexcept;

// A monotonic clock in nanoseconds from an arbitrary origin.
class TickClock {
 public:
  virtual ~TickClock() = default;
  [[nodiscard]] virtual std::uint64_t NowNanoseconds() const noexcept = 0;

 protected:
  TickClock() = default;
  TickClock(const TickClock&) = default;
  TickClock& operator=(const TickClock&) = default;
  TickClock(TickClock&&) = default;
  TickClock& operator=(TickClock&&) = default;
};

// The system's monotonic clock (or the installed override's); lives for the
// whole process.
[[nodiscard]] const TickClock& SystemTickClock() noexcept;

// Measures running time, possibly over several start/stop periods. The clock
// must outlive the stopwatch. Not thread-safe.
class Stopwatch {
 public:
  // Starts running at once.
  explicit Stopwatch(const TickClock& clock = SystemTickClock()) noexcept;

  // Starts a new running period; no effect while running.
  void Start() noexcept;
  // Adds the running period to the accumulated time; no effect while stopped.
  void Stop() noexcept;
  [[nodiscard]] bool IsRunning() const noexcept { return mRunning; }
  // Accumulated time plus the current running period, in whole milliseconds.
  [[nodiscard]] std::uint64_t ElapsedMilliseconds() const noexcept;

 private:
  const TickClock* mClock;
  std::uint64_t mStartNanoseconds = 0;
  std::uint64_t mAccumulatedNanoseconds = 0;
  bool mRunning = false;
};

}  // namespace Nalo
