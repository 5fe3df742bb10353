#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics/LogGroup.h"
#include "diagnostics/LogManager.h"
#include "diagnostics/PluginLogTarget.h"
#include "support/RegexMatchers.h"
#include "tests/diagnostics/RecordingLogTarget.h"

namespace Nalo {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using Testing::RecordingLogTarget;

void DetachConsoleTargets(LogManager& manager) {
  manager.StdErrTarget().Detach();
  manager.StdOutTarget().Detach();
  manager.DebuggerTarget().Detach();
}

struct FilterCase {
  std::string_view name;
  LogLevel managerLevel;
  std::uint64_t managerExcluded;
  LogTargetConfig target;
  LogLevel level;
  std::uint64_t groups;
  bool delivered;
};

const FilterCase kFilterCases[] = {
    {"below the target level", LogLevel::Okay, 0, {LogLevel::Warn, 0, 0}, LogLevel::Okay, 0, false},
    {"at the target level", LogLevel::Okay, 0, {LogLevel::Warn, 0, 0}, LogLevel::Warn, 0, true},
    {"include misses",
     LogLevel::Okay,
     0,
     {LogLevel::Okay, kLogGroupDebug, 0},
     LogLevel::Warn,
     kLogGroupGeneral,
     false},
    {"include shares a bit",
     LogLevel::Okay,
     0,
     {LogLevel::Okay, kLogGroupDebug, 0},
     LogLevel::Warn,
     kLogGroupDebug | kLogGroupGeneral,
     true},
    {"exclude shares a bit",
     LogLevel::Okay,
     0,
     {LogLevel::Okay, 0, kLogGroupGeneral},
     LogLevel::Warn,
     kLogGroupDebug | kLogGroupGeneral,
     false},
    {"mask 0 passes include",
     LogLevel::Okay,
     0,
     {LogLevel::Okay, kLogGroupDebug, 0},
     LogLevel::Okay,
     0,
     true},
    {"mask 0 passes exclude",
     LogLevel::Okay,
     0,
     {LogLevel::Okay, 0, kLogGroupDebug},
     LogLevel::Okay,
     0,
     true},
    {"below the manager level",
     LogLevel::Warn,
     0,
     {LogLevel::Okay, 0, 0},
     LogLevel::Okay,
     0,
     false},
    {"excluded by the manager",
     LogLevel::Okay,
     kLogGroupExtra,
     {LogLevel::Okay, 0, 0},
     LogLevel::Always,
     kLogGroupExtra | kLogGroupDebug,
     false},
    {"mask 0 passes the manager",
     LogLevel::Okay,
     kLogGroupExtra,
     {LogLevel::Okay, 0, 0},
     LogLevel::Okay,
     0,
     true},
};

TEST(LogManager, FiltersByLevelAndGroups) {
  for (const FilterCase& testCase : kFilterCases) {
    SCOPED_TRACE(testCase.name);
    LogManager manager;
    DetachConsoleTargets(manager);
    manager.SetMinimumLevel(testCase.managerLevel);
    manager.SetExcludedGroups(testCase.managerExcluded);
    RecordingLogTarget target;
    LogTargetConfig config = testCase.target;
    config.format = "#M";
    manager.Configure(target, config);

    manager.Log(testCase.level, testCase.groups, "line %d", 1);

    EXPECT_EQ(target.Lines().size(), testCase.delivered ? 1U : 0U);
  }
}

TEST(LogManager, ConfigureAttachesWithExcludedBitsRemovedFromInclude) {
  LogManager manager;
  DetachConsoleTargets(manager);
  RecordingLogTarget target;
  manager.Configure(target, {.minimumLevel = LogLevel::Okay,
                             .includeGroups = kLogGroupDebug | kLogGroupGeneral,
                             .excludeGroups = kLogGroupGeneral,
                             .format = "#L #M"});
  EXPECT_EQ(manager.FindTarget("RecordingLogTarget"), &target);
  EXPECT_EQ(target.IncludeMask(), kLogGroupDebug);
  EXPECT_EQ(target.ExcludeMask(), kLogGroupGeneral);
  EXPECT_EQ(target.GetFormat(), "#L #M");

  // Configuring again moves the target to the end of the list, once.
  RecordingLogTarget other("Other");
  manager.Attach(other);
  manager.Configure(target, {.minimumLevel = LogLevel::Warn, .format = "#M"});
  manager.Log(LogLevel::Warn, 0, "once");
  EXPECT_THAT(target.Lines(), ElementsAre("once\n"));
}

TEST(LogManager, ConsoleTargetsAtStartUp) {
  LogManager manager;
#ifdef _WIN32
  const std::string program = "diagnostics_tests.exe";
#else
  const std::string program = "diagnostics_tests";
#endif
  EXPECT_EQ(manager.ExecutableName(), program);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  manager.Log(LogLevel::Warn, 0, "to every target %d", 1);
  manager.Log(LogLevel::Warn, kLogGroupGeneral, "general only");
  manager.Log(LogLevel::Error, kLogGroupDebug, "debug only");
  manager.Log(LogLevel::Okay, kLogGroupDebug, "below the level");
  const std::string standardError = testing::internal::GetCapturedStderr();
  const std::string standardOutput = testing::internal::GetCapturedStdout();

  EXPECT_THAT(standardError, Testing::MatchesPattern(program +
                                                     "\\(0x[0-9a-f]+\\):   WARN\\| "
                                                     "to every target 1\n" +
                                                     program +
                                                     "\\(0x[0-9a-f]+\\):  ERROR\\| "
                                                     "debug only\n"));
  EXPECT_THAT(standardOutput, IsEmpty());

  manager.StdErrTarget().Detach();
  manager.Attach(manager.StdOutTarget());
  manager.StdOutTarget().SetFlush(StdOutFlush::EachLine);
  testing::internal::CaptureStdout();
  manager.Log(LogLevel::Warn, kLogGroupGeneral, "general only");
  manager.Log(LogLevel::Warn, kLogGroupDebug, "debug only");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "general only\n");
}

TEST(LogManager, CountsWarningsAndErrorsThatPassItsFilters) {
  LogManager manager;
  DetachConsoleTargets(manager);
  manager.Log(LogLevel::Warn, 0, "w");
  manager.Log(LogLevel::Warn, kLogGroupExtra, "excluded");
  manager.Log(LogLevel::Error, 0, "e");
  manager.Log(LogLevel::Error, 0, "e");
  manager.Log(LogLevel::Always, 0, "a");
  EXPECT_EQ(manager.WarningCount(), 1U);
  EXPECT_EQ(manager.ErrorCount(), 2U);
}

TEST(LogManager, PluginSetUp) {
  LogManager manager;
  std::vector<std::pair<LogLevel, std::string>> received;
  auto sink = [&received](LogLevel level, std::string_view message) {
    received.emplace_back(level, std::string(message));
  };
  std::unique_ptr<PluginLogTarget> target = InstallPluginLogTarget(sink, manager);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(manager.FindTarget("PluginLogTarget"), target.get());
  EXPECT_FALSE(manager.StdErrTarget().IsAttached());
  EXPECT_FALSE(manager.DebuggerTarget().IsAttached());
  EXPECT_EQ(target->GetFormat(), "#D| #L| #G| #M");

  manager.Log(LogLevel::Okay, kLogGroupGeneral, "ready %s", "now");
  manager.Log(LogLevel::Always, kLogGroupExtra | kLogGroupDebug, "extra");
  manager.Log(LogLevel::Error, 0, "no group");
  EXPECT_THAT(received, ElementsAre(std::pair(LogLevel::Okay, std::string("ready now")),
                                    std::pair(LogLevel::Error, std::string("no group"))));

  // A second set-up leaves everything as it is.
  manager.SetMinimumLevel(LogLevel::Warn);
  EXPECT_EQ(InstallPluginLogTarget(sink, manager), nullptr);
  EXPECT_EQ(manager.GetMinimumLevel(), LogLevel::Warn);

  target.reset();
  EXPECT_EQ(manager.FindTarget("PluginLogTarget"), nullptr);
  manager.Log(LogLevel::Error, 0, "after");
  EXPECT_EQ(received.size(), 2U);
}

TEST(LogManager, LogCallFromInsideWriteIsDropped) {
  LogManager manager;
  DetachConsoleTargets(manager);
  int writes = 0;
  PluginLogTarget target([&](LogLevel, std::string_view) {
    ++writes;
    manager.Log(LogLevel::Error, 0, "nested");
  });
  manager.Configure(target, {.minimumLevel = LogLevel::Okay});
  manager.Log(LogLevel::Error, 0, "outer");
  EXPECT_EQ(writes, 1);
}

TEST(LogManager, ThreadsLogWhileATargetIsReconfigured) {
  LogManager manager;
  DetachConsoleTargets(manager);
  RecordingLogTarget target;
  constexpr LogTargetConfig kConfig{.minimumLevel = LogLevel::Okay, .format = "#M"};
  manager.Configure(target, kConfig);
  constexpr int kThreads = 3;
  constexpr int kLinesPerThread = 300;
  std::vector<std::thread> workers;
  workers.reserve(kThreads);
  for (int worker = 0; worker < kThreads; ++worker) {
    workers.emplace_back([&manager, worker] {
      for (int line = 0; line < kLinesPerThread; ++line) {
        manager.Log(LogLevel::Warn, kLogGroupDebug, "worker %d line %d", worker, line);
      }
    });
  }
  for (int round = 0; round < 100; ++round) {
    manager.Configure(target, kConfig);
    target.SetMinimumLevel(LogLevel::Okay);
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  // The target may miss lines while detached, but every line is whole.
  for (const std::string& line : target.Lines()) {
    ASSERT_THAT(line, Testing::MatchesPattern("worker [0-9] line [0-9]+\n"));
  }
}

TEST(LogGroup, RegistrationHandsOutBitsOnce) {
  LogManager manager;  // registers "LOC"
  EXPECT_EQ(RegisterGroup("DBG"), kLogGroupDebug);
  EXPECT_EQ(RegisterGroup("TST"), kLogGroupTest);
  EXPECT_EQ(RegisterGroup("LOC"), std::uint64_t{1} << 8);
  for (std::string_view invalid :
       {std::string_view(), std::string_view("NINECHARS"), std::string_view("A\0B", 3)}) {
    SCOPED_TRACE(invalid);
    EXPECT_EQ(RegisterGroup(invalid), 0U);
  }

  std::uint64_t fromThreads[2] = {};
  std::thread first([&] { fromThreads[0] = RegisterGroup("RACE"); });
  std::thread second([&] { fromThreads[1] = RegisterGroup("RACE"); });
  first.join();
  second.join();
  EXPECT_EQ(fromThreads[0], fromThreads[1]);
  EXPECT_GT(fromThreads[0], std::uint64_t{1} << 8);

  const std::uint64_t game = RegisterGroup("GAMEFLOW");
  EXPECT_NE(game, 0U);
  EXPECT_EQ(RegisterGroup("GAMEFLOW"), game);
  DetachConsoleTargets(manager);
  RecordingLogTarget target;
  manager.Configure(target, {.minimumLevel = LogLevel::Okay, .format = "#G"});
  manager.Log(LogLevel::Warn, game | kLogGroupGeneral | fromThreads[0], "m");
  EXPECT_THAT(target.Lines(), ElementsAre("GEN;RACE;GAMEFLOW\n"));
}

}  // namespace
}  // namespace Nalo
