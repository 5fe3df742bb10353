// The Win32 process layer, end to end with a real Windows test client (run
// under Wine on Linux; docs/windows.md says what Wine does differently).
//
// Each test copies the client into a folder whose name is not ASCII, as an
// install folder may be, and starts it from there. Waits are bounded by
// kPatience, far longer than any of them takes; every process a test starts
// is ended when the test ends.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define NOGDI
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/SystemError.h"
#include "platform/ProcessSystem.h"
#include "platform/WindowsCommandLine.h"
#include "tests/support/FailureMatchers.h"

namespace Nalo {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr milliseconds kPatience{20'000};
constexpr const char* kClientPath = NALO_WIN32_TEST_CLIENT_PATH;
// "Jeux é" in UTF-8: the install folder's name.
constexpr std::string_view kFolderName = "Jeux \xc3\xa9";

fs::path Utf8Path(std::string_view text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

class Win32ProcessSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    mRoot = fs::temp_directory_path() / ("nalo-win32-" + std::to_string(random()));
    mFolder = mRoot / Utf8Path(kFolderName);
    fs::create_directories(mFolder);
    fs::copy_file(Utf8Path(kClientPath), mFolder / "Tavora.exe");
    mClient = Utf8(mFolder / "Tavora.exe");
    mSystem = CreatePlatformProcessSystem();
  }

  void TearDown() override {
    for (const auto& process : mProcesses) {
      EXPECT_THAT(process->Terminate(), Succeeded());
      EXPECT_EQ(process->Wait(kPatience), ProcessWaitOutcome::Ended);
    }
    mProcesses.clear();
    std::error_code ignored;
    fs::remove_all(mRoot, ignored);
  }

  void Control(std::string_view text) { std::ofstream(mFolder / "client.cfg") << text << "\n"; }

  ProcessHandle& Start(std::vector<std::string> arguments = {}, std::string workingDirectory = {}) {
    auto spawned = mSystem->Spawn({.executable = mClient,
                                   .workingDirectory = std::move(workingDirectory),
                                   .arguments = std::move(arguments)});
    if (spawned.HasFailure()) {
      ADD_FAILURE() << spawned.GetFailure().Text();
      throw std::runtime_error("spawn failed");
    }
    mProcesses.push_back(std::move(spawned).Value());
    return *mProcesses.back();
  }

  std::vector<std::string> RecordLines() const {
    std::ifstream file(mFolder / "client.record", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  // Polls until the client has recorded how it was started (and so has read
  // its control file).
  bool AwaitRecord(ProcessHandle& process) {
    for (int step = 0; step < 4000; ++step) {
      if (!RecordLines().empty()) {
        return true;
      }
      if (process.Wait(milliseconds(5)) == ProcessWaitOutcome::Ended) {
        return false;
      }
    }
    return false;
  }

  // Polls until the process's window stands as wanted (a window reaches the
  // front a few milliseconds after it is shown). False when the process
  // ended first or time ran out.
  bool AwaitWindow(ProcessHandle& process, ProcessWindowState wanted) {
    for (int step = 0; step < 4000; ++step) {
      if (mSystem->WindowOfProcess(process.Pid()) == wanted) {
        return true;
      }
      if (process.Wait(milliseconds(5)) == ProcessWaitOutcome::Ended) {
        return false;
      }
    }
    return false;
  }

  fs::path mRoot;
  fs::path mFolder;
  std::string mClient;
  std::unique_ptr<ProcessSystem> mSystem;
  std::vector<std::unique_ptr<ProcessHandle>> mProcesses;
};

// The arguments arrive one for one through the one command line, in the
// given (non-ASCII) folder; the program's file name is known by its pid.
TEST_F(Win32ProcessSystemTest, ClientReceivesWhatItWasStartedWith) {
  Control("exit 7");
  const std::vector<std::string> arguments = {
      "8394",      "spectator 1.2.3.4:80 key 7", "", "%PATH%", "a\"b\\",
      "C:\\dir\\", "\xc3\xa9\xe2\x82\xac"};
  ProcessHandle& client = Start(arguments, Utf8(mFolder));
  ASSERT_EQ(client.Wait(kPatience), ProcessWaitOutcome::Ended);
  EXPECT_EQ(client.Exit(), (ProcessExit{ProcessExit::Kind::Exited, 7}));

  std::vector<std::string> expected = {"cwd=" + Utf8(fs::path(mFolder).make_preferred())};
  for (const std::string& argument : arguments) {
    expected.push_back("arg=" + argument);
  }
  EXPECT_THAT(RecordLines(), ::testing::ElementsAreArray(expected));
}

TEST_F(Win32ProcessSystemTest, EndingsAreTold) {
  struct Case {
    std::string_view control;
    ProcessExit exit;
  };
  const Case cases[] = {
      {"exit 0", {ProcessExit::Kind::Exited, 0}},
      {"exit 300", {ProcessExit::Kind::Exited, 300}},
      {"crash", {ProcessExit::Kind::Crashed, 0xC0000005}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    Control(c.control);
    ProcessHandle& client = Start();
    ASSERT_EQ(client.Wait(kPatience), ProcessWaitOutcome::Ended);
    EXPECT_EQ(client.Exit(), c.exit);
  }
}

TEST_F(Win32ProcessSystemTest, HangingClientEndsOnlyWhenEnded) {
  Control("hang");
  ProcessHandle& client = Start();
  EXPECT_EQ(client.Wait(milliseconds(0)), ProcessWaitOutcome::StillRunning);
  EXPECT_EQ(mSystem->WaitForProcess(client.Pid(), milliseconds(1)),
            ProcessWaitOutcome::StillRunning);
  EXPECT_EQ(client.Exit(), std::nullopt);
  EXPECT_EQ(mSystem->ExecutableFileName(client.Pid()), "Tavora.exe");

  ASSERT_THAT(client.Terminate(), Succeeded());
  ASSERT_EQ(mSystem->WaitForProcess(client.Pid(), kPatience), ProcessWaitOutcome::Ended);
  ASSERT_EQ(client.Wait(kPatience), ProcessWaitOutcome::Ended);
  EXPECT_EQ(client.Exit(), (ProcessExit{ProcessExit::Kind::Exited, 1}));
  EXPECT_THAT(client.Terminate(), Succeeded());
}

// The client's window is found by its pid and reaches the front; a hidden
// window of the same process (an input method's) does not count as its
// window.
TEST_F(Win32ProcessSystemTest, TheVisibleWindowIsTheClientsWindow) {
  Control("hidden");
  ProcessHandle& hidden = Start();
  ASSERT_TRUE(AwaitRecord(hidden));  // it has read its control file
  Control("window");
  ProcessHandle& shown = Start();
  ASSERT_TRUE(AwaitWindow(shown, ProcessWindowState::Foreground));
  EXPECT_EQ(mSystem->WindowOfProcess(hidden.Pid()), ProcessWindowState::None);
  EXPECT_EQ(mSystem->WindowOfProcess(GetCurrentProcessId()), ProcessWindowState::None);
}

TEST_F(Win32ProcessSystemTest, SpawnFailuresCarryTheSystemError) {
  std::ofstream(mFolder / "not-a-program.exe") << "data";
  struct Case {
    std::string_view name;
    SpawnRequest request;
    std::uint32_t code;
  };
  const Case cases[] = {
      {"missing program", {.executable = Utf8(mFolder / "Missing.exe")}, ERROR_FILE_NOT_FOUND},
      {"not a program", {.executable = Utf8(mFolder / "not-a-program.exe")}, ERROR_BAD_EXE_FORMAT},
      {"missing working directory",
       {.executable = mClient, .workingDirectory = Utf8(mFolder / "missing")},
       ERROR_DIRECTORY},
      {"no program", {}, ERROR_INVALID_PARAMETER},
      {"NUL in an argument",
       {.executable = mClient, .arguments = {std::string("a\0b", 3)}},
       ERROR_INVALID_PARAMETER},
      {"not UTF-8", {.executable = mClient, .arguments = {"\xff"}}, ERROR_NO_UNICODE_TRANSLATION},
      {"command line too long",
       {.executable = mClient, .arguments = {std::string(kMaxWindowsCommandLineLength, 'a')}},
       ERROR_FILENAME_EXCED_RANGE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THAT(mSystem->Spawn(c.request),
                IsFailure(c.code, "processSpawnW failed:: " + SystemErrorText(c.code)));
  }
}

TEST_F(Win32ProcessSystemTest, WaitByPid) {
  EXPECT_EQ(mSystem->WaitForProcess(0, milliseconds(0)), ProcessWaitOutcome::CannotOpen);
  EXPECT_EQ(mSystem->WaitForProcess(GetCurrentProcessId(), milliseconds(0)),
            ProcessWaitOutcome::StillRunning);
  EXPECT_EQ(mSystem->ExecutableFileName(0), std::nullopt);

  // The monitoring keeps only the pid: it still sees the client end after
  // the handle is gone.
  Control("hang");
  std::uint32_t pid = 0;
  {
    auto spawned = mSystem->Spawn({.executable = mClient});
    ASSERT_THAT(spawned, HasValue(::testing::NotNull()));
    pid = spawned.Value()->Pid();
    ASSERT_THAT(spawned.Value()->Terminate(), Succeeded());
  }
  EXPECT_EQ(mSystem->WaitForProcess(pid, kPatience), ProcessWaitOutcome::Ended);
}

}  // namespace
}  // namespace Nalo
