#include "platform/Clock.h"

#include <atomic>
#include <chrono>

namespace Nalo {
namespace {

std::atomic<const ClockOverride*> gOverride{nullptr};

class SteadyTickClock final : public TickClock {
 public:
  [[nodiscard]] std::uint64_t NowNanoseconds() const noexcept override {
    if (const ClockOverride* source = gOverride.load(std::memory_order_acquire)) {
      return source->monotonicNanoseconds(source->context);
    }
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
};

constexpr double kNanosecondsPerSecond = 1e9;
constexpr std::uint64_t kNanosecondsPerMillisecond = 1'000'000;

}  // namespace

void SetClockOverride(const ClockOverride* source) noexcept {
  gOverride.store(source, std::memory_order_release);
}

std::uint64_t NowMillisecondsSinceEpoch() noexcept {
  if (const ClockOverride* source = gOverride.load(std::memory_order_acquire)) {
    return source->wallMilliseconds(source->context);
  }
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

double ElapsedSeconds() noexcept {
  static const std::uint64_t origin = SystemTickClock().NowNanoseconds();
  return static_cast<double>(SystemTickClock().NowNanoseconds() - origin) / kNanosecondsPerSecond;
}

const TickClock& SystemTickClock() noexcept {
  static const SteadyTickClock clock;
  return clock;
}

Stopwatch::Stopwatch(const TickClock& clock) noexcept : mClock(&clock) {
  Start();
}

void Stopwatch::Start() noexcept {
  if (!mRunning) {
    mStartNanoseconds = mClock->NowNanoseconds();
    mRunning = true;
  }
}

void Stopwatch::Stop() noexcept {
  if (mRunning) {
    mAccumulatedNanoseconds += mClock->NowNanoseconds() - mStartNanoseconds;
    mRunning = false;
  }
}

std::uint64_t Stopwatch::ElapsedMilliseconds() const noexcept {
  std::uint64_t total = mAccumulatedNanoseconds;
  if (mRunning) {
    total += mClock->NowNanoseconds() - mStartNanoseconds;
  }
  return total / kNanosecondsPerMillisecond;
}

}  // namespace Nalo
