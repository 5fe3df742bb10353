// Entering and leaving game flow against fake peers and a manual clock: what
// is asked of the patcher and the data store, what availability and the lock
// become, and that no failure leaves the gate half-way.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "gameflow/GameFlowGate.h"

namespace Nalo::Client::Gameflow {
namespace {

using State = Api::GameflowAvailabilityState;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr std::uint64_t kNow = 1'700'000'000'000;
constexpr std::uint64_t kMinute = 60'000;

class ManualClock final : public WallClock {
 public:
  std::uint64_t NowMillisecondsSinceEpoch() const noexcept override { return now; }
  std::uint64_t now = kNow;
};

// Records every request; a request named in `failing` fails.
class FakePeers final : public PatcherPeers {
 public:
  MaybeType<Failure, Api::PatcherProductState> ProductState() override {
    if (auto failure = Record("state")) {
      return *failure;
    }
    return state;
  }
  MaybeType<Failure, void> StopChecking() override { return Answer("stop"); }
  MaybeType<Failure, void> StartChecking() override { return Answer("start"); }
  MaybeType<Failure, void> StoreLock(std::uint64_t expiry) override {
    if (auto failure = Record("store " + std::to_string(expiry - kNow))) {
      return *failure;
    }
    stored.SetUnsigned(expiry);
    return {};
  }
  MaybeType<Failure, void> ClearStoredLock() override {
    if (auto failure = Record("clear")) {
      return *failure;
    }
    stored.SetString(std::string_view());
    return {};
  }
  MaybeType<Failure, BindingProperty> StoredLock() override {
    if (auto failure = Record("read")) {
      return *failure;
    }
    return stored;
  }
  MaybeType<Failure, Api::PatcherProductState> DetectCorruption() override {
    if (auto failure = Record("detect")) {
      return *failure;
    }
    return state;
  }
  MaybeType<Failure, void> RequestPartialRepair() override { return Answer("repair"); }
  MaybeType<Failure, void> StartPatching() override { return Answer("patch"); }

  Api::PatcherProductState state{.isUpToDate = true};
  BindingProperty stored;
  std::vector<std::string> requests;
  std::vector<std::string> failing;

 private:
  std::optional<Failure> Record(const std::string& request) {
    requests.push_back(request);
    const std::string verb = request.substr(0, request.find(' '));
    for (const std::string& name : failing) {
      if (name == verb) {
        return Failure(503, "Peer is down.");
      }
    }
    return std::nullopt;
  }
  MaybeType<Failure, void> Answer(const std::string& request) {
    if (auto failure = Record(request)) {
      return *failure;
    }
    return {};
  }
};

class FakeOwner final : public GameFlowGate::Owner {
 public:
  void PublishChangesAndLaunchOutcomes() override { ++ticks; }
  void ScheduleLockRefresh() override { ++refreshes; }
  bool PostEvent(GameflowEvent event) override {
    events.push_back(event);
    return true;
  }
  bool RelaunchInProgressGame() override {
    ++relaunches;
    return relaunch;
  }

  int ticks = 0;
  int refreshes = 0;
  std::vector<GameflowEvent> events;
  int relaunches = 0;
  bool relaunch = true;
};

struct Fixture {
  ManualClock clock;
  FakePeers peers;
  GameflowModel model;
  FakeOwner owner;
  GameFlowGate gate{peers, clock, model, owner};

  // A game record whose game is being served.
  void ServeGame() {
    LCDS::GameDto game;
    game.gameState = kGameStateInProgress;
    model.session.StoreGame(game);
  }

  // The state after start-up with the queues received and an idle patcher.
  Fixture() {
    gate.GetAvailability().SetBlocker(State::Configuration, true);
    gate.GetAvailability().SetBlocker(State::Configuration, false);
  }
};

const std::string kStoreFifteenMinutes = "store " + std::to_string(15 * kMinute);

TEST(GameFlowGate, EnteringStopsThePatcherWritesTheLockAndMarksInGameFlow) {
  Fixture f;
  EXPECT_TRUE(f.gate.Enter(AvailabilityCheck::Apply));
  EXPECT_THAT(f.peers.requests, ElementsAre("state", "stop", kStoreFifteenMinutes));
  EXPECT_EQ(f.gate.GetAvailability().CurrentState(), State::InGameFlow);
  EXPECT_TRUE(f.gate.GetAvailability().IsAvailable());
  EXPECT_TRUE(f.gate.Lock().IsActive());
  EXPECT_EQ(f.owner.ticks, 1);
  EXPECT_EQ(f.owner.refreshes, 1);

  // Again: nothing more is asked.
  f.peers.requests.clear();
  EXPECT_TRUE(f.gate.Enter(AvailabilityCheck::Apply));
  EXPECT_THAT(f.peers.requests, IsEmpty());
}

TEST(GameFlowGate, RefusalsLeaveThePatcherAsItWas) {
  struct Case {
    const char* name;
    AvailabilityCheck check;
    bool upToDate;
    bool corrupted;
    std::vector<std::string> failing;
    bool configurationBlocked;
    bool entered;
    std::vector<std::string> requests;
  };
  const Case cases[] = {
      {"an update is pending", AvailabilityCheck::Apply, false, false, {}, false, false, {"state"}},
      {"an update is pending, unchecked",
       AvailabilityCheck::Skip,
       false,
       false,
       {},
       false,
       true,
       {"stop", kStoreFifteenMinutes}},
      {"the product is corrupted", AvailabilityCheck::Skip, true, true, {}, false, false, {}},
      {"the patcher can't be stopped",
       AvailabilityCheck::Apply,
       true,
       false,
       {"stop"},
       false,
       false,
       {"state", "stop"}},
      // Stopped, then refused: unlocked again, no lock written.
      {"availability refuses",
       AvailabilityCheck::Apply,
       true,
       false,
       {},
       true,
       false,
       {"state", "stop", "start"}},
      {"the state can't be read",
       AvailabilityCheck::Apply,
       true,
       false,
       {"state"},
       false,
       true,
       {"state", "stop", kStoreFifteenMinutes}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.peers.state.isUpToDate = c.upToDate;
    f.peers.failing = c.failing;
    f.gate.SetCorrupted(c.corrupted);
    f.gate.GetAvailability().SetBlocker(State::Configuration, c.configurationBlocked);
    EXPECT_EQ(f.gate.Enter(c.check), c.entered);
    EXPECT_EQ(f.peers.requests, c.requests);
    EXPECT_EQ(f.gate.GetAvailability().CurrentState() == State::InGameFlow, c.entered);
    EXPECT_EQ(f.gate.Lock().IsActive(), c.entered);
  }
}

TEST(GameFlowGate, AFailedLockWriteIsNotRemembered) {
  Fixture f;
  f.peers.failing = {"store"};
  EXPECT_TRUE(f.gate.Enter(AvailabilityCheck::Apply));
  EXPECT_FALSE(f.gate.Lock().Expiry().has_value());
  EXPECT_EQ(f.gate.Lock().TakeStatusChange(), std::nullopt);  // still published inactive
}

TEST(GameFlowGate, ExitingUnlocksClearsAndRecomputes) {
  Fixture f;
  ASSERT_TRUE(f.gate.Enter(AvailabilityCheck::Apply));
  f.peers.requests.clear();
  f.peers.state.isUpToDate = false;
  f.gate.Exit();
  EXPECT_THAT(f.peers.requests, ElementsAre("start", "clear", "state"));
  EXPECT_EQ(f.gate.GetAvailability().CurrentState(), State::Patching);
  EXPECT_FALSE(f.gate.Lock().IsActive());

  f.peers.requests.clear();
  f.gate.Exit();  // already out
  EXPECT_THAT(f.peers.requests, IsEmpty());
}

TEST(GameFlowGate, AServedGameKeepsGameFlowOpenUnlessTheProductIsCorrupted) {
  Fixture f;
  ASSERT_TRUE(f.gate.Enter(AvailabilityCheck::Apply));
  f.peers.requests.clear();
  f.ServeGame();
  f.gate.Exit();
  EXPECT_THAT(f.peers.requests, IsEmpty());
  EXPECT_EQ(f.gate.GetAvailability().CurrentState(), State::InGameFlow);

  // Corrupted: the patcher is unlocked, but the lock is left to lapse.
  f.gate.SetCorrupted(true);
  f.gate.Exit();
  EXPECT_THAT(f.peers.requests, ElementsAre("start", "state"));
  EXPECT_TRUE(f.gate.Lock().IsActive());
  EXPECT_NE(f.gate.GetAvailability().CurrentState(), State::InGameFlow);
}

TEST(GameFlowGate, AStoredLockIsReadAfreshByTheTimeRules) {
  struct Case {
    const char* name;
    std::int64_t offset;
    bool active;
  };
  const Case cases[] = {
      {"sixteen minutes ahead", 16 * static_cast<std::int64_t>(kMinute), false},
      {"one second ahead", 1000, true},
      {"exactly now", 0, false},
      {"a minute ago", -static_cast<std::int64_t>(kMinute), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.peers.stored.SetUnsigned(kNow + c.offset);
    EXPECT_EQ(f.gate.ReadLockIsActive(), c.active);
  }
  Fixture f;
  f.peers.failing = {"read"};
  f.gate.Lock().Remember(kNow + kMinute);
  EXPECT_FALSE(f.gate.ReadLockIsActive());  // a failed read forgets the cached lock
  EXPECT_FALSE(f.gate.Lock().Expiry().has_value());
}

TEST(GameFlowGate, TheLockLapsesFifteenMinutesAfterItsLastWrite) {
  Fixture f;
  ASSERT_TRUE(f.gate.Enter(AvailabilityCheck::Apply));
  EXPECT_EQ(f.gate.Lock().TakeStatusChange(), true);
  f.clock.now += 14 * kMinute;
  f.gate.SetLock();  // a refresh
  f.clock.now += 14 * kMinute;
  EXPECT_EQ(f.gate.Lock().TakeStatusChange(), std::nullopt);
  f.clock.now += kMinute;
  EXPECT_EQ(f.gate.Lock().TakeStatusChange(), false);
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
