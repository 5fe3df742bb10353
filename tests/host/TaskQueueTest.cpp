#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/TaskQueue.h"

namespace Nalo::Host {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

constexpr std::uint64_t kSecond = 1'000'000'000;

TEST(TaskQueue, RunsByDueTimeThenPostingOrderAtTheirOwnTime) {
  TaskQueue queue(ClockMode::Virtual);
  std::vector<std::string> ran;
  const auto record = [&](std::string name) {
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

}  // namespace
}  // namespace Nalo::Host
