#include <gtest/gtest.h>

#include <memory>

#include "diagnostics/ErrorChain.h"
#include "platform/Clock.h"
#include "platform/Platform.h"

namespace Nalo {
namespace {

TEST(ErrorChain, EachCauseIsIndentedTwoMoreSpaces) {
  struct Case {
    std::string_view name;
    std::shared_ptr<const ChainedError> error;
    std::string_view text;
  };
  const Case cases[] = {
      {"no cause", std::make_shared<ErrorChainLink>("alone"), "alone\n"},
      {"two causes",
       std::make_shared<ErrorChainLink>(
           "could not start the game",
           std::make_unique<ErrorChainLink>("could not write locale.cfg",
                                            std::make_unique<ErrorChainLink>("Permission denied"))),
       "could not start the game\n"
       "Caused by:\n"
       "  could not write locale.cfg\n"
       "  Caused by:\n"
       "    Permission denied\n"},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    EXPECT_EQ(ErrorChainText(*testCase.error), testCase.text);
  }
}

class FakeTickClock final : public TickClock {
 public:
  [[nodiscard]] std::uint64_t NowNanoseconds() const noexcept override { return mNow; }
  void AdvanceMilliseconds(std::uint64_t milliseconds) { mNow += milliseconds * 1'000'000; }

 private:
  std::uint64_t mNow = 5'000'000'000;
};

TEST(Stopwatch, AccumulatesRunningPeriodsOnly) {
  FakeTickClock clock;
  Stopwatch stopwatch(clock);
  clock.AdvanceMilliseconds(150);
  EXPECT_EQ(stopwatch.ElapsedMilliseconds(), 150U);

  stopwatch.Stop();
  clock.AdvanceMilliseconds(1000);
  EXPECT_EQ(stopwatch.ElapsedMilliseconds(), 150U);
  stopwatch.Stop();
  EXPECT_EQ(stopwatch.ElapsedMilliseconds(), 150U);

  stopwatch.Start();
  clock.AdvanceMilliseconds(25);
  stopwatch.Start();  // already running: the period is not restarted
  clock.AdvanceMilliseconds(25);
  EXPECT_TRUE(stopwatch.IsRunning());
  EXPECT_EQ(stopwatch.ElapsedMilliseconds(), 200U);
}

TEST(Clock, ReadingsMoveForward) {
  const double first = ElapsedSeconds();
  EXPECT_GE(ElapsedSeconds(), first);
  // 2020-01-01T00:00:00Z; any running system is past it.
  EXPECT_GT(NowMillisecondsSinceEpoch(), 1'577'836'800'000U);
}

// Log records are dated in local time from the wall clock, so a test host's
// virtual time dates them too. Time zones move hours (and some half hours),
// never seconds.
TEST(Clock, LocalTimeFollowsTheInstalledWallClock) {
  const ClockOverride source{
      .context = nullptr,
      .monotonicNanoseconds = [](void*) -> std::uint64_t { return 0; },
      // 2024-03-05T07:08:09.012Z
      .wallMilliseconds = [](void*) -> std::uint64_t { return 1'709'622'489'012; }};
  SetClockOverride(&source);
  const LocalTime local = detail::Platform::LocalTimeNow();
  SetClockOverride(nullptr);
  EXPECT_EQ(local.year, 2024);
  EXPECT_EQ(local.month, 3);
  EXPECT_EQ(local.second, 9);
  EXPECT_EQ(local.millisecond, 12);
}

}  // namespace
}  // namespace Nalo
