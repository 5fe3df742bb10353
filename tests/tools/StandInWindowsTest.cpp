#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/stand-in-client/StandInWindows.h"
#include "tests/support/FailureMatchers.h"

namespace Nalo {
namespace {

namespace fs = std::filesystem;

class StandInWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nalo-windows-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    mRoot = pattern;
    // A second live process to own windows: a child that waits to be killed.
    mOther = fork();
    ASSERT_GE(mOther, 0);
    if (mOther == 0) {
      for (;;) {
        pause();
      }
    }
  }
  void TearDown() override {
    EndOther();
    fs::remove_all(mRoot);
  }
  void EndOther() {
    if (mOther > 0) {
      kill(mOther, SIGKILL);
      waitpid(mOther, nullptr, 0);
      mOther = 0;
    }
  }

  std::uint32_t Self() const { return static_cast<std::uint32_t>(getpid()); }
  std::uint32_t Other() const { return static_cast<std::uint32_t>(mOther); }

  fs::path mRoot;
  pid_t mOther = 0;
};

// Each change, then where both processes' windows stand and who is in front.
TEST_F(StandInWindowsTest, WindowsOpenComeForwardAndClose) {
  // The folder does not exist yet: the first change creates it.
  const StandInWindows windows((mRoot / "windows").string());
  using State = ProcessWindowState;
  struct Step {
    std::string_view name;
    std::function<MaybeType<Failure, void>()> change;
    State self;
    State other;
    std::optional<std::uint32_t> foreground;
  };
  const std::vector<Step> steps = {
      {"nothing open", [] { return MaybeType<Failure, void>(); }, State::None, State::None,
       std::nullopt},
      {"open one", [&] { return windows.OpenWindow(Self()); }, State::Background, State::None,
       std::nullopt},
      {"bring it forward", [&] { return windows.BringToForeground(Self()); }, State::Foreground,
       State::None, Self()},
      {"open another behind it", [&] { return windows.OpenWindow(Other()); }, State::Foreground,
       State::Background, Self()},
      {"opening again changes nothing", [&] { return windows.OpenWindow(Other()); },
       State::Foreground, State::Background, Self()},
      {"bring the other forward", [&] { return windows.BringToForeground(Other()); },
       State::Background, State::Foreground, Other()},
      {"close the one in front", [&] { return windows.CloseWindow(Other()); }, State::Background,
       State::None, std::nullopt},
      {"closing again succeeds", [&] { return windows.CloseWindow(Other()); }, State::Background,
       State::None, std::nullopt},
      {"a reopened window opens behind", [&] { return windows.OpenWindow(Other()); },
       State::Background, State::Background, std::nullopt},
      {"and closes again", [&] { return windows.CloseWindow(Other()); }, State::Background,
       State::None, std::nullopt},
      {"forward again", [&] { return windows.BringToForeground(Self()); }, State::Foreground,
       State::None, Self()},
      {"nobody in front", [&] { return windows.ClearForeground(); }, State::Background, State::None,
       std::nullopt},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    ASSERT_THAT(step.change(), Succeeded());
    EXPECT_EQ(windows.WindowOf(Self()), step.self);
    EXPECT_EQ(windows.WindowOf(Other()), step.other);
    EXPECT_EQ(windows.ForegroundProcess(), step.foreground);
  }
  // Every change was renamed into place: no temporary file is left.
  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator(mRoot / "windows")) {
    files.insert(entry.path().filename().string());
  }
  EXPECT_THAT(files, ::testing::ElementsAre("foreground", "window." + std::to_string(Self())));
}

// A crashed process closes nothing; its window is gone all the same, also
// from the foreground.
TEST_F(StandInWindowsTest, WindowEndsWithItsProcess) {
  const StandInWindows windows(mRoot.string());
  ASSERT_THAT(windows.OpenWindow(Other()), Succeeded());
  ASSERT_THAT(windows.BringToForeground(Other()), Succeeded());
  const std::uint32_t ended = Other();
  EndOther();
  EXPECT_EQ(windows.WindowOf(ended), ProcessWindowState::None);
  EXPECT_EQ(windows.ForegroundProcess(), std::nullopt);
  EXPECT_TRUE(fs::exists(mRoot / ("window." + std::to_string(ended))));
}

// The window file is the contract between processes; a record that names
// another pid, or a process started at another time, is no window.
TEST_F(StandInWindowsTest, StaleOrForeignRecordsAreNoWindows) {
  const StandInWindows windows(mRoot.string());
  ASSERT_THAT(windows.OpenWindow(Self()), Succeeded());
  const fs::path file = mRoot / ("window." + std::to_string(Self()));
  const std::string kept = [&] {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  // "<pid> <start time> <token>"
  const std::string self = std::to_string(Self());
  const std::string startAndToken = kept.substr(self.size());
  const std::string startOnly = startAndToken.substr(0, startAndToken.rfind(' ')) + "\n";
  const std::string records[] = {std::to_string(Other()) + startAndToken,
                                 self + " 1" + startAndToken.substr(startAndToken.find(' ', 1)),
                                 self + startOnly, "garbage", ""};
  for (const std::string& record : records) {
    SCOPED_TRACE(record);
    std::ofstream(file, std::ios::trunc) << record;
    EXPECT_EQ(windows.WindowOf(Self()), ProcessWindowState::None);
  }
  std::ofstream(file, std::ios::trunc) << kept;
  EXPECT_EQ(windows.WindowOf(Self()), ProcessWindowState::Background);
}

TEST_F(StandInWindowsTest, RefusesWhatCannotBe) {
  const StandInWindows windows(mRoot.string());
  EXPECT_THAT(windows.BringToForeground(Self()),
              IsFailure(404, "Process " + std::to_string(Self()) + " has no open window."));
  EXPECT_THAT(windows.OpenWindow(0),
              IsFailure(ESRCH, "Cannot open a window for process 0: No such process"));
  const StandInWindows unwritable("/proc/nalo-no-such-folder");
  EXPECT_THAT(unwritable.OpenWindow(Self()),
              IsFailure(ENOENT, ::testing::HasSubstr("/proc/nalo-no-such-folder")));
}

TEST_F(StandInWindowsTest, FolderComesFromTheEnvironment) {
  const std::string variable(StandInWindows::kDirectoryVariable);
  unsetenv(variable.c_str());
  EXPECT_FALSE(StandInWindows::FromEnvironment().has_value());
  setenv(variable.c_str(), "", 1);
  EXPECT_FALSE(StandInWindows::FromEnvironment().has_value());
  setenv(variable.c_str(), mRoot.c_str(), 1);
  ASSERT_TRUE(StandInWindows::FromEnvironment().has_value());
  EXPECT_EQ(StandInWindows::FromEnvironment()->Directory(), mRoot.string());
  unsetenv(variable.c_str());
}

}  // namespace
}  // namespace Nalo
