// The Win32 process layer, end to end with a real Windows test client (run
// under Wine on Linux; docs/windows.md says what Wine does differently): the
// cases every process system passes (ProcessSystemContract.h) and those of
// Windows alone.
//
// Each test copies the client into a folder whose name is not ASCII, as an
// install folder may be, and starts it from there.

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
#include <string>
#include <vector>

#include "platform/ProcessSystem.h"
#include "platform/WindowsCommandLine.h"
#include "tests/platform/ProcessSystemContract.h"

namespace Nalo::ProcessSystemTesting {
namespace {

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

class Win32Driver {
 public:
  static constexpr std::string_view kName = "Win32";
  static constexpr const char* kExtraArguments[] = {"%PATH%", "C:\\dir\\"};
  static constexpr std::string_view kNotAProgramName = "not-a-program.exe";
  static constexpr SpawnErrors kErrors = {.missingProgram = ERROR_FILE_NOT_FOUND,
                                          .notAProgram = ERROR_BAD_EXE_FORMAT,
                                          .missingWorkingDirectory = ERROR_DIRECTORY,
                                          .invalidRequest = ERROR_INVALID_PARAMETER};

  static ProcessExit CrashExit() { return {ProcessExit::Kind::Crashed, 0xC0000005}; }
  // TerminateProcess's exit code.
  static ProcessExit TerminatedExit() { return {ProcessExit::Kind::Exited, 1}; }
  static std::uint32_t OwnPid() { return GetCurrentProcessId(); }
  static std::vector<EndingCase> ExtraEndings() {
    return {{"exit 300", {ProcessExit::Kind::Exited, 300}}};
  }
  static std::vector<SpawnFailureCase> ExtraSpawnFailures(Win32Driver& driver) {
    return {{"not UTF-8",
             {.executable = driver.Client(), .arguments = {"\xff"}},
             ERROR_NO_UNICODE_TRANSLATION},
            {"command line too long",
             {.executable = driver.Client(),
              .arguments = {std::string(kMaxWindowsCommandLineLength, 'a')}},
             ERROR_FILENAME_EXCED_RANGE}};
  }

  void SetUp() {
    std::random_device random;
    mRoot = fs::temp_directory_path() / ("nalo-win32-" + std::to_string(random()));
    mFolder = mRoot / Utf8Path(kFolderName);
    fs::create_directories(mFolder);
    fs::copy_file(Utf8Path(kClientPath), mFolder / "Tavora.exe");
    mClient = Utf8(mFolder / "Tavora.exe");
  }

  void TearDown() {
    std::error_code ignored;
    fs::remove_all(mRoot, ignored);
  }

  static std::unique_ptr<ProcessSystem> Create() { return CreatePlatformProcessSystem(); }
  std::string Client() const { return mClient; }
  fs::path Folder() const { return mFolder; }
  std::string StartFolder() const { return Utf8(mFolder); }
  std::string ExpectedWorkingDirectory() const { return Utf8(fs::path(mFolder).make_preferred()); }

  // The client's control words are the cases' own: "exit N", "crash",
  // "hang", and "window" and "hidden" for the window tests.
  void Control(std::string_view text) { std::ofstream(mFolder / "client.cfg") << text << "\n"; }

  std::vector<std::string> RecordLines() const {
    std::ifstream file(mFolder / "client.record", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  // "cwd=" and then one "arg=" line per argument.
  Recorded Record() const {
    Recorded recorded;
    for (const std::string& line : RecordLines()) {
      if (line.starts_with("cwd=")) {
        recorded.workingDirectory = line.substr(4);
      } else if (line.starts_with("arg=")) {
        recorded.arguments.push_back(line.substr(4));
      }
    }
    return recorded;
  }

 private:
  fs::path mRoot;
  fs::path mFolder;
  std::string mClient;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, ProcessSystemContract, ::testing::Types<Win32Driver>,
                               DriverName);

class Win32ProcessSystemTest : public ProcessSystemContract<Win32Driver> {
 protected:
  // Polls until the client has recorded how it was started (and so has read
  // its control file).
  bool AwaitRecord(ProcessHandle& process) {
    for (int step = 0; step < 4000; ++step) {
      if (!mDriver.RecordLines().empty()) {
        return true;
      }
      if (process.Wait(milliseconds(5)) == ProcessWaitOutcome::Ended) {
        return false;
      }
    }
    return false;
  }
};

// The client's window is found by its pid and reaches the front; a hidden
// window of the same process (an input method's) does not count as its
// window.
TEST_F(Win32ProcessSystemTest, TheVisibleWindowIsTheClientsWindow) {
  mDriver.Control("hidden");
  ProcessHandle& hidden = Start();
  ASSERT_TRUE(AwaitRecord(hidden));  // it has read its control file
  mDriver.Control("window");
  ProcessHandle& shown = Start();
  ASSERT_TRUE(AwaitWindow(shown, ProcessWindowState::Foreground));
  EXPECT_EQ(mSystem->WindowOfProcess(hidden.Pid()), ProcessWindowState::None);
  EXPECT_EQ(mSystem->WindowOfProcess(GetCurrentProcessId()), ProcessWindowState::None);
}

// The monitoring keeps only the pid: it still sees the client end after the
// handle is gone.
TEST_F(Win32ProcessSystemTest, WaitByPidWithoutTheHandle) {
  mDriver.Control("hang");
  std::uint32_t pid = 0;
  {
    auto spawned = mSystem->Spawn({.executable = mDriver.Client()});
    ASSERT_THAT(spawned, HasValue(::testing::NotNull()));
    pid = spawned.Value()->Pid();
    ASSERT_THAT(spawned.Value()->Terminate(), Succeeded());
  }
  EXPECT_EQ(mSystem->WaitForProcess(pid, kPatience), ProcessWaitOutcome::Ended);
}

}  // namespace
}  // namespace Nalo::ProcessSystemTesting
