#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/core/TaskQueue.h"

namespace Nalo::Host {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

constexpr std::uint64_t kSecond = 1'000'000'000;

TEST(TaskQueue, RunsByDueTimeThenPostingOrderAtTheirOwnTime) {
  TaskQueue queue(ClockMode::Virtual);
  std::vector<std::string> ran;
  const auto record = [&](const std::string& name) {
    return
        [&ran, &queue, name] { ran.push_back(name + "@" + std::to_string(queue.Now() / kSecond)); };
  };
  queue.Post("a", 0, 3 * kSecond, record("a"));
  queue.Post("b", 0, 1 * kSecond, record("b"));
  queue.Post("c", 0, 1 * kSecond, record("c"));
  queue.Post("d", 0, 0, record("d"));
  queue.AdvanceBy(2s);
  EXPECT_THAT(ran, ElementsAre("d@0", "b@1", "c@1"));
  EXPECT_EQ(queue.Now(), 2 * kSecond);
  queue.AdvanceBy(5s);
  EXPECT_THAT(ran, ElementsAre("d@0", "b@1", "c@1", "a@3"));
  EXPECT_EQ(queue.Now(), 7 * kSecond);
}

TEST(TaskQueue, TasksPostedWhileAdvancingRunWhenTheyFallDue) {
  TaskQueue queue(ClockMode::Virtual);
  std::vector<std::uint64_t> ranAt;
  std::function<void()> repeat = [&] {
    ranAt.push_back(queue.Now() / kSecond);
    queue.Post("repeat", 0, kSecond, repeat);
  };
  queue.Post("repeat", 0, kSecond, repeat);
  queue.AdvanceBy(3s);
  EXPECT_THAT(ranAt, ElementsAre(1, 2, 3));
  EXPECT_EQ(queue.NextDue(), 4 * kSecond);
  // Nothing is due now: RunDue leaves time and the queue alone.
  queue.RunDue();
  EXPECT_EQ(ranAt.size(), 3u);
}

TEST(TaskQueue, CancelDropsOnlyTheOwnersTasksAndJumpMovesTimeToTheNext) {
  TaskQueue queue(ClockMode::Virtual);
  std::vector<std::string> ran;
  queue.Post("mine", 7, kSecond, [&] { ran.push_back("mine"); });
  queue.Post("other", 8, 2 * kSecond, [&] { ran.push_back("other"); });
  queue.CancelOwnedBy(7);
  EXPECT_TRUE(queue.JumpToNext());
  EXPECT_EQ(queue.Now(), 2 * kSecond);
  EXPECT_THAT(ran, ElementsAre("other"));
  EXPECT_FALSE(queue.JumpToNext());
}

// A task that posts itself with no delay would keep time at one instant for
// ever; the queue stops at its bound, names the task and ends its chain.
TEST(TaskQueue, ATaskThatIsAlwaysDueStopsTheClockWithAStallNamingIt) {
  for (const bool advancing : {false, true}) {
    SCOPED_TRACE(advancing ? "AdvanceBy" : "RunDue");
    TaskQueue queue(ClockMode::Virtual);
    std::size_t runs = 0;
    std::function<void()> again = [&] {
      ++runs;
      queue.Post("Timer: spin", 1, 0, again);
    };
    std::size_t laterRuns = 0;
    queue.Post("Timer: spin", 1, advancing ? kSecond : 0, again);
    queue.Post("later", 1, 3 * kSecond, [&] { ++laterRuns; });
    if (advancing) {
      queue.AdvanceBy(2s);
    } else {
      queue.RunDue();
    }
    EXPECT_EQ(runs, TaskQueue::kMaxTasksPerInstant);
    std::optional<Stall> stall = queue.TakeStall();
    ASSERT_TRUE(stall.has_value());
    EXPECT_EQ(stall->label, "Timer: spin");
    EXPECT_EQ(stall->atNanoseconds, advancing ? kSecond : 0);
    EXPECT_EQ(stall->dropped, 1u);
    EXPECT_FALSE(queue.TakeStall().has_value());
    // The chain is over; the rest of the queue runs on.
    queue.AdvanceBy(3s);
    EXPECT_EQ(laterRuns, 1u);
    EXPECT_EQ(runs, TaskQueue::kMaxTasksPerInstant);
    EXPECT_FALSE(queue.TakeStall().has_value());
    if (advancing) {
      EXPECT_EQ(StallMessage(*stall),
                "Time stood still at 1 s: 100000 tasks ran at that instant, the last of them "
                "\"Timer: spin\"; its 1 queued run was dropped.");
    }
  }
}

// Many tasks at one instant spread over several calls are no stall.
TEST(TaskQueue, TheBoundCountsOneCallAtATime) {
  TaskQueue queue(ClockMode::Virtual);
  std::size_t runs = 0;
  for (int call = 0; call < 3; ++call) {
    for (std::size_t i = 0; i < TaskQueue::kMaxTasksPerInstant; ++i) {
      queue.Post("burst", 0, 0, [&] { ++runs; });
    }
    queue.RunDue();
  }
  EXPECT_EQ(runs, 3 * TaskQueue::kMaxTasksPerInstant);
  EXPECT_FALSE(queue.TakeStall().has_value());
}

}  // namespace
}  // namespace Nalo::Host
