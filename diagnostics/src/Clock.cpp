#include "diagnostics/Clock.h"

#include <chrono>

namespace Nalo {
namespace {

class SteadyTickClock final : public TickClock {
 public:
  [[nodiscard]] std::uint64_t NowNanoseconds() const noexcept override {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
};

constexpr double kNanosecondsPerSecond = 1e9;
constexpr std::uint64_t kNanosecondsPerMillisecond = 1'000'000;

}  // namespace

std::uint64_t NowMillisecondsSinceEpoch() noexcept {
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
