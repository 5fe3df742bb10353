// A target made of nothing but a function table, as a host written in C would
// build one, driven by the manager like a built-in target.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "diagnostics/LogGroup.h"
#include "diagnostics/LogManager.h"
#include "tests/diagnostics/RecordingLogTarget.h"

namespace Nalo {
namespace {

using testing::ElementsAre;

// The target's whole state, kept the way C code would keep it.
struct TableTarget {
  std::int32_t minimumLevel = 1;
  std::uint64_t include = 0;
  std::uint64_t exclude = 0;
  std::string format = "#M";
  void* manager = nullptr;
  std::vector<std::string> written;  // "<level> <groups> <message>"
  std::vector<std::string> calls;    // attach, detach and flush, in order
};

TableTarget& State(void* target) {
  return *static_cast<TableTarget*>(target);
}
const TableTarget& State(const void* target) {
  return *static_cast<const TableTarget*>(target);
}

constexpr LogTargetFunctions kTableFunctions{
    .setMinimumLevel = [](void* target, std::int32_t level) { State(target).minimumLevel = level; },
    .getMinimumLevel = [](const void* target) { return State(target).minimumLevel; },
    .setMasks =
        [](void* target, std::uint64_t include, std::uint64_t exclude) {
          State(target).include = include;
          State(target).exclude = exclude;
        },
    .getIncludeMask = [](const void* target) { return State(target).include; },
    .getExcludeMask = [](const void* target) { return State(target).exclude; },
    .getName = [](const void*) { return LogTargetText{.data = "TableTarget", .length = 11}; },
    .getFormat =
        [](const void* target, char* buffer, std::size_t capacity) {
          const std::string& format = State(target).format;
          if (capacity != 0) {
            const std::size_t copied = std::min(format.size(), capacity - 1);
            std::memcpy(buffer, format.data(), copied);
            buffer[copied] = '\0';
          }
          return format.size();
        },
    .setFormat = [](void* target, const char* format,
                    std::size_t length) { State(target).format.assign(format, length); },
    .attach =
        [](void* target, void* manager) {
          State(target).manager = manager;
          State(target).calls.emplace_back("attach");
        },
    .detach =
        [](void* target) {
          State(target).manager = nullptr;
          State(target).calls.emplace_back("detach");
        },
    .isAttached = [](const void* target) -> std::uint8_t {
      return State(target).manager != nullptr ? 1 : 0;
    },
    .write =
        [](void* target, const LogTargetRecord* record) {
          // The message must be usable as a C string.
          EXPECT_EQ(std::strlen(record->message), record->messageLength);
          State(target).written.push_back(std::to_string(record->level) + " " +
                                          std::to_string(record->groups) + " " +
                                          std::string(record->message, record->messageLength));
          return std::uint8_t{0};  // a failing write changes nothing for the caller
        },
    .flush = [](void* target) { State(target).calls.emplace_back("flush"); },
};

LogManager& ManagerWithoutConsoles(LogManager& manager) {
  manager.StdErrTarget().Detach();
  manager.StdOutTarget().Detach();
  manager.DebuggerTarget().Detach();
  return manager;
}

TEST(ExternalLogTarget, IsFilteredLikeABuiltInTarget) {
  struct Case {
    std::string_view name;
    LogTargetConfig config;
    LogLevel level;
    std::uint64_t groups;
  };
  const Case cases[] = {
      {"below the level", {LogLevel::Warn, 0, 0}, LogLevel::Okay, 0},
      {"at the level", {LogLevel::Warn, 0, 0}, LogLevel::Warn, kLogGroupDebug},
      {"include misses", {LogLevel::Okay, kLogGroupDebug, 0}, LogLevel::Warn, kLogGroupGeneral},
      {"include shares a bit",
       {LogLevel::Okay, kLogGroupDebug, 0},
       LogLevel::Warn,
       kLogGroupDebug | kLogGroupGeneral},
      {"exclude shares a bit",
       {LogLevel::Okay, 0, kLogGroupGeneral},
       LogLevel::Error,
       kLogGroupDebug | kLogGroupGeneral},
      {"mask 0 passes both masks",
       {LogLevel::Okay, kLogGroupDebug, kLogGroupGeneral},
       LogLevel::Okay,
       0},
      {"excluded bit removed from include",
       {LogLevel::Okay, kLogGroupGeneral, kLogGroupGeneral},
       LogLevel::Warn,
       kLogGroupDebug},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    LogManager manager;
    ManagerWithoutConsoles(manager).SetMinimumLevel(LogLevel::Okay);
    TableTarget state;
    ExternalLogTarget external(kTableFunctions, &state);
    Testing::RecordingLogTarget builtIn;
    LogTargetConfig config = testCase.config;
    config.format = "#M";
    manager.Configure(external, config);
    manager.Configure(builtIn, config);

    manager.Log(testCase.level, testCase.groups, "line %d", 7);

    EXPECT_EQ(state.written.size(), builtIn.Lines().size());
    EXPECT_EQ(state.include, builtIn.IncludeMask());
    EXPECT_EQ(state.exclude, builtIn.ExcludeMask());
  }
}

TEST(ExternalLogTarget, ReceivesTheRecordAndItsSettingsThroughTheTable) {
  LogManager manager;
  ManagerWithoutConsoles(manager);
  TableTarget state;
  {
    ExternalLogTarget target(kTableFunctions, &state);
    manager.Configure(target, {.minimumLevel = LogLevel::Okay,
                               .includeGroups = kLogGroupDebug | kLogGroupGeneral,
                               .excludeGroups = kLogGroupGeneral,
                               .format = "#L| #M"});
    EXPECT_EQ(state.minimumLevel, 0);
    EXPECT_EQ(state.include, kLogGroupDebug);
    EXPECT_EQ(state.format, "#L| #M");
    EXPECT_EQ(state.manager, &manager);
    EXPECT_EQ(manager.FindTarget("TableTarget"), &target);

    // The object's own setters reach the external state too.
    target.SetMinimumLevel(LogLevel::Warn);
    target.SetFormat(std::string(300, 'x'));
    EXPECT_EQ(state.minimumLevel, 1);
    EXPECT_EQ(target.GetFormat(), std::string(300, 'x'));
    EXPECT_TRUE(target.IsAttached());

    manager.Log(LogLevel::Okay, kLogGroupDebug, "dropped");
    manager.Log(LogLevel::Error, kLogGroupDebug, "kept %s", "once");
    manager.FlushAll();
  }
  // Destroying the adapter took the target out of the manager's list.
  EXPECT_EQ(manager.FindTarget("TableTarget"), nullptr);
  EXPECT_EQ(state.manager, nullptr);
  EXPECT_THAT(state.written, ElementsAre("2 1 kept once"));
  EXPECT_THAT(state.calls, ElementsAre("attach", "flush", "detach"));
  manager.Log(LogLevel::Error, 0, "after");
  EXPECT_EQ(state.written.size(), 1U);
}

TEST(ExternalLogTarget, MovesBetweenManagersAndIsReleasedByTheManager) {
  TableTarget state;
  ExternalLogTarget target(kTableFunctions, &state);
  {
    LogManager first;
    LogManager second;
    first.Attach(target);
    first.Attach(target);  // already listed: no second notification
    second.Attach(target);
    EXPECT_EQ(state.manager, &second);
    EXPECT_EQ(first.FindTarget("TableTarget"), nullptr);
    EXPECT_EQ(second.FindTarget("TableTarget"), &target);
  }
  // A manager that goes away lets its targets go.
  EXPECT_FALSE(target.IsAttached());
  EXPECT_THAT(state.calls, ElementsAre("attach", "detach", "attach", "detach"));
}

}  // namespace
}  // namespace Nalo
