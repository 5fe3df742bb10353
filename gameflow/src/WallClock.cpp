#include "gameflow/WallClock.h"

#include "platform/Clock.h"

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
