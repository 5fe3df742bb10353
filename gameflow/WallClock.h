#pragma once
// WallClock: the calendar time the gameflow reads, for expiry times that must
// mean the same after a restart (the patcher lock). Durations and deadlines use
// the module's monotonic clock instead.
//
// Injected so that tests can set "now" exactly:
//
//   class FixedClock final : public WallClock {
//     std::uint64_t NowMillisecondsSinceEpoch() const noexcept override { return 1000; }
//   };

#include <cstdint>

namespace Nalo::Client::Gameflow {

class WallClock {
 public:
  virtual ~WallClock() = default;
  // Milliseconds since 1970-01-01 00:00 UTC.
  [[nodiscard]] virtual std::uint64_t NowMillisecondsSinceEpoch() const noexcept = 0;

 protected:
  WallClock() = default;
  WallClock(const WallClock&) = default;
  WallClock& operator=(const WallClock&) = default;
  WallClock(WallClock&&) = default;
  WallClock& operator=(WallClock&&) = default;
};

// The system clock (Nalo::NowMillisecondsSinceEpoch); lives for the whole process.
[[nodiscard]] const WallClock& SystemWallClock() noexcept;

}  // namespace Nalo::Client::Gameflow
