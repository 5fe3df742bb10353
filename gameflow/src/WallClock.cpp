#include "gameflow/WallClock.h"

#include "diagnostics/Clock.h"

namespace Nalo::Client::Gameflow {

namespace {

class SystemClock final : public WallClock {
 public:
  std::uint64_t NowMillisecondsSinceEpoch() const noexcept override {
    return Nalo::NowMillisecondsSinceEpoch();
  }
};

}  // namespace

const WallClock& SystemWallClock() noexcept {
  static const SystemClock clock;
  return clock;
}

}  // namespace Nalo::Client::Gameflow
