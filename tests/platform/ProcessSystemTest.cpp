// The POSIX process layer, end to end with the stand-in game client.
//
// Every test runs for each way of spawning and of waiting. Waits on real
// processes are bounded by kPatience, far longer than any of them takes; no
// test depends on how long anything takes. Every process a test starts is
// killed and reaped when the test ends, whatever happened.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/HeadlessWindows.h"
#include "platform/PosixProcessSystem.h"
#include "platform/ProcessSystem.h"
#include "tests/support/FailureMatchers.h"
#include "tools/stand-in-client/StandInClientInstall.h"

namespace Nalo {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Options = PosixProcessSystemOptions;

constexpr milliseconds kPatience{20'000};
constexpr const char* kClientPath = NALO_STAND_IN_CLIENT_PATH;

struct Methods {
  Options::SpawnMethod spawn;
  Options::WaitMethod wait;
};

std::string MethodsName(const ::testing::TestParamInfo<Methods>& info) {
  const std::string spawn =
      info.param.spawn == Options::SpawnMethod::ForkExec ? "ForkExec" : "PosixSpawn";
  const std::string wait =
      info.param.wait == Options::WaitMethod::Polling ? "Polling" : "PidDescriptor";
  return spawn + "_" + wait;
}

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, std::string_view text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// True when the calling process has no child left, running or ended.
bool HasNoChildren() {
  return waitid(P_ALL, 0, nullptr, WEXITED | WNOHANG) != 0 && errno == ECHILD;
}

class ProcessSystemTest : public ::testing::TestWithParam<Methods> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nalo-process-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    mDirectory = pattern;
    mWindowDirectory = mDirectory / "windows";
    // The tests start the client from where it was built.
    ASSERT_THAT(StandIn::InstallStandInClient({.program = {},
                                               .clientFolder = mDirectory,
                                               .windowsFolder = mWindowDirectory,
                                               .control = std::nullopt}),
                Succeeded());
    mSystem = CreatePosixProcessSystem({.spawnMethod = GetParam().spawn,
                                        .waitMethod = GetParam().wait,
                                        .windows = HeadlessWindows(mWindowDirectory)});
  }

  void TearDown() override {
    for (const auto& process : mProcesses) {
      EXPECT_THAT(process->Terminate(), Succeeded());
      EXPECT_EQ(process->Wait(kPatience), ProcessWaitOutcome::Ended);
    }
    mProcesses.clear();
    for (const pid_t pid : mLoosePids) {
      kill(pid, SIGKILL);  // fails harmlessly once the test has reaped it
      waitpid(pid, nullptr, 0);
    }
    mSystem.reset();
    EXPECT_TRUE(HasNoChildren()) << "a test left a process behind";
    StandIn::ForgetStandInClient();
    fs::remove_all(mDirectory);
  }

  void Control(std::string_view text) { WriteText(mDirectory / "stand-in-client.cfg", text); }

  // Starts the stand-in client; the fixture ends it at the end of the test.
  ProcessHandle& Start(std::vector<std::string> arguments = {},
                       const fs::path& workingDirectory = {}) {
    auto spawned = mSystem->Spawn({.executable = kClientPath,
                                   .workingDirectory = workingDirectory.string(),
                                   .arguments = std::move(arguments)});
    if (spawned.HasFailure()) {
      ADD_FAILURE() << spawned.GetFailure().Text();
      throw std::runtime_error("spawn failed");
    }
    mProcesses.push_back(std::move(spawned).Value());
    return *mProcesses.back();
  }

  // Sends the client a command through its command file, written whole.
  void Command(const ProcessHandle& process, std::string_view command) {
    const fs::path temporary = mDirectory / "command.tmp";
    WriteText(temporary, command);
    fs::rename(temporary,
               mDirectory / ("stand-in-client." + std::to_string(process.Pid()) + ".command"));
  }

  // Waits, in steps that end early if the process ends, until its window
  // stands as wanted. False when the process ended first or time ran out.
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

  std::vector<std::string> RecordLines() const {
    std::vector<std::string> lines;
    std::istringstream record(ReadText(mDirectory / "stand-in-client.record"));
    for (std::string line; std::getline(record, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  fs::path mDirectory;
  fs::path mWindowDirectory;
  std::unique_ptr<ProcessSystem> mSystem;
  std::vector<std::unique_ptr<ProcessHandle>> mProcesses;
  // Started without a handle that the fixture keeps; ended at tear-down.
  std::vector<pid_t> mLoosePids;
};

// The arguments arrive one for one, untouched by any shell, in the given
// directory, next to the locale file the launcher wrote there.
TEST_P(ProcessSystemTest, ClientRecordsWhatItWasStartedWith) {
  Control("window = no\nend = exit 7\n");
  const fs::path game = mDirectory / "game dir";
  WriteText(game / "data/cfg/defaults/locale.cfg", "[General]\r\nLanguageLocaleRegion=en_US");
  ProcessHandle& client =
      Start({"8394", "spectator 1.2.3.4:80 key 7", "", "$HOME", "*", "a\"b\\", "\xc3\xa9"}, game);

  ASSERT_EQ(client.Wait(kPatience), ProcessWaitOutcome::Ended);
  EXPECT_EQ(client.Exit(), (ProcessExit{ProcessExit::Kind::Exited, 7}));
  const std::string expected =
      "{\"pid\":" + std::to_string(client.Pid()) + ",\"program\":\"" + kClientPath +
      "\",\"arguments\":[\"8394\",\"spectator 1.2.3.4:80 key 7\",\"\",\"$HOME\",\"*\","
      "\"a\\\"b\\\\\",\"\xc3\xa9\"],\"workingDirectory\":\"" +
      game.string() + "\",\"locale\":\"[General]\\r\\nLanguageLocaleRegion=en_US\"}";
  EXPECT_THAT(RecordLines(), ::testing::ElementsAre(expected));
  // Reaped by the wait: the pid no longer names a process of ours.
  EXPECT_EQ(mSystem->WaitForProcess(client.Pid(), milliseconds(0)), ProcessWaitOutcome::CannotOpen);
}

TEST_P(ProcessSystemTest, EndingsAreTold) {
  struct Case {
    std::string_view ending;
    ProcessExit exit;
  };
  const Case cases[] = {
      {"exit 0", {ProcessExit::Kind::Exited, 0}},
      {"exit 255", {ProcessExit::Kind::Exited, 255}},
      {"crash segv", {ProcessExit::Kind::Crashed, SIGSEGV}},
      {"crash abort", {ProcessExit::Kind::Crashed, SIGABRT}},
      {"explode", {ProcessExit::Kind::Exited, 2}},  // a control file it cannot follow
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ending);
    Control("window = no\nend = " + std::string(c.ending) + "\n");
    ProcessHandle& client = Start();
    ASSERT_EQ(client.Wait(kPatience), ProcessWaitOutcome::Ended);
    EXPECT_EQ(client.Exit(), c.exit);
  }
}

TEST_P(ProcessSystemTest, HangingClientEndsOnlyWhenKilled) {
  Control("window = no\nend = hang\n");
  ProcessHandle& client = Start();
  EXPECT_EQ(client.Wait(milliseconds(0)), ProcessWaitOutcome::StillRunning);
  EXPECT_EQ(client.Wait(milliseconds(20)), ProcessWaitOutcome::StillRunning);
  EXPECT_EQ(mSystem->WaitForProcess(client.Pid(), milliseconds(1)),
            ProcessWaitOutcome::StillRunning);
  EXPECT_EQ(client.Exit(), std::nullopt);

  ASSERT_THAT(client.Terminate(), Succeeded());
  ASSERT_EQ(mSystem->WaitForProcess(client.Pid(), kPatience), ProcessWaitOutcome::Ended);
  EXPECT_EQ(client.Exit(), (ProcessExit{ProcessExit::Kind::Crashed, SIGKILL}));
  EXPECT_EQ(client.Wait(milliseconds(0)), ProcessWaitOutcome::Ended);
  EXPECT_THAT(client.Terminate(), Succeeded());
}

// The client runs in a session of its own, reads nothing from the caller,
// inherits none of its files, and its window comes and goes with it.
TEST_P(ProcessSystemTest, ClientIsDetachedAndShowsItsWindow) {
  const int inheritable = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(inheritable, 0);
  Control("window-delay-ms = 1\n");
  ProcessHandle& client = Start();
  close(inheritable);
  ASSERT_TRUE(AwaitWindow(client, ProcessWindowState::Foreground));

  const auto pid = static_cast<pid_t>(client.Pid());
  EXPECT_EQ(getsid(pid), pid);
  std::set<std::string> descriptors;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    descriptors.insert(entry.path().filename().string());
  }
  EXPECT_THAT(descriptors, ::testing::ElementsAre("0", "1", "2"));
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/0"), "/dev/null");
  EXPECT_EQ(mSystem->ExecutableFileName(client.Pid()), "Tavora.exe");

  Command(client, "close-window");
  ASSERT_TRUE(AwaitWindow(client, ProcessWindowState::None));
  Command(client, "open-window");
  ASSERT_TRUE(AwaitWindow(client, ProcessWindowState::Background));
  Command(client, "exit 3");
  ASSERT_EQ(client.Wait(kPatience), ProcessWaitOutcome::Ended);
  EXPECT_EQ(client.Exit(), (ProcessExit{ProcessExit::Kind::Exited, 3}));
  EXPECT_EQ(mSystem->WindowOfProcess(client.Pid()), ProcessWindowState::None);
  EXPECT_EQ(mSystem->ExecutableFileName(client.Pid()), std::nullopt);
}

TEST_P(ProcessSystemTest, SpawnFailuresCarryTheSystemError) {
  WriteText(mDirectory / "not-a-program", "data");
  struct Case {
    std::string_view name;
    SpawnRequest request;
    std::uint32_t code;
    std::string_view message;
  };
  const Case cases[] = {
      {"missing program",
       {.executable = (mDirectory / "Tavora.exe").string()},
       ENOENT,
       "processSpawnW failed:: No such file or directory"},
      {"not executable",
       {.executable = (mDirectory / "not-a-program").string()},
       EACCES,
       "processSpawnW failed:: Permission denied"},
      {"missing working directory",
       {.executable = kClientPath, .workingDirectory = (mDirectory / "missing").string()},
       ENOENT,
       "processSpawnW failed:: No such file or directory"},
      {"no program", {}, EINVAL, "processSpawnW failed:: Invalid argument"},
      {"NUL in an argument",
       {.executable = kClientPath, .arguments = {std::string("a\0b", 3)}},
       EINVAL,
       "processSpawnW failed:: Invalid argument"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THAT(mSystem->Spawn(c.request), IsFailure(c.code, c.message));
  }
  EXPECT_TRUE(HasNoChildren());
}

// A relative program path is the caller's, as it is for CreateProcessW, even
// when the process starts in another directory.
TEST_P(ProcessSystemTest, RelativeProgramPathIsTheCallers) {
  Control("window = no\nend = exit 0\n");
  fs::create_directories(mDirectory / "elsewhere");
  auto spawned = mSystem->Spawn({.executable = fs::relative(kClientPath).string(),
                                 .workingDirectory = (mDirectory / "elsewhere").string()});
  ASSERT_THAT(spawned, HasValue(::testing::NotNull()));
  mProcesses.push_back(std::move(spawned).Value());
  ASSERT_EQ(mProcesses.back()->Wait(kPatience), ProcessWaitOutcome::Ended);
  EXPECT_EQ(mProcesses.back()->Exit(), (ProcessExit{ProcessExit::Kind::Exited, 0}));
}

TEST_P(ProcessSystemTest, WaitByPid) {
  struct Case {
    std::string_view name;
    std::uint32_t pid;
    ProcessWaitOutcome outcome;
  };
  const Case cases[] = {
      {"pid 0", 0, ProcessWaitOutcome::CannotOpen},
      {"beyond the pid range", static_cast<std::uint32_t>(INT_MAX) + 1,
       ProcessWaitOutcome::CannotOpen},
      {"the largest pid, unused", static_cast<std::uint32_t>(INT_MAX),
       ProcessWaitOutcome::CannotOpen},
      {"a process not started here", static_cast<std::uint32_t>(getpid()),
       ProcessWaitOutcome::StillRunning},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mSystem->WaitForProcess(c.pid, milliseconds(0)), c.outcome);
  }
}

// The monitoring keeps only the pid: its wait reaps the child, whose handle
// is long gone, and a later wait cannot open it.
TEST_P(ProcessSystemTest, WaitByPidReapsAChildWithoutItsHandle) {
  Control("window = no\nend = exit 0\n");
  std::uint32_t pid = 0;
  {
    auto spawned = mSystem->Spawn({.executable = kClientPath});
    ASSERT_THAT(spawned, HasValue(::testing::NotNull()));
    pid = spawned.Value()->Pid();
    mLoosePids.push_back(static_cast<pid_t>(pid));
  }
  EXPECT_EQ(mSystem->WaitForProcess(pid, kPatience), ProcessWaitOutcome::Ended);
  EXPECT_EQ(mSystem->WaitForProcess(pid, milliseconds(0)), ProcessWaitOutcome::CannotOpen);
  EXPECT_TRUE(HasNoChildren());
}

// A plugin that is unloaded and loaded again gets a new process layer, which
// still sees the old client end and reaps it.
TEST_P(ProcessSystemTest, LaterProcessSystemReapsAnEarlierOnesChild) {
  Control("window = no\nend = hang\n");
  std::uint32_t pid = 0;
  {
    auto earlier =
        CreatePosixProcessSystem({.spawnMethod = GetParam().spawn, .waitMethod = GetParam().wait});
    auto spawned = earlier->Spawn({.executable = kClientPath});
    ASSERT_THAT(spawned, HasValue(::testing::NotNull()));
    pid = spawned.Value()->Pid();
    mLoosePids.push_back(static_cast<pid_t>(pid));
  }
  EXPECT_EQ(mSystem->WaitForProcess(pid, milliseconds(0)), ProcessWaitOutcome::StillRunning);
  ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGKILL), 0);
  EXPECT_EQ(mSystem->WaitForProcess(pid, kPatience), ProcessWaitOutcome::Ended);
  EXPECT_TRUE(HasNoChildren());
}

INSTANTIATE_TEST_SUITE_P(
    Methods, ProcessSystemTest,
    ::testing::Values(Methods{Options::SpawnMethod::PosixSpawn, Options::WaitMethod::PidDescriptor},
                      Methods{Options::SpawnMethod::PosixSpawn, Options::WaitMethod::Polling},
                      Methods{Options::SpawnMethod::ForkExec, Options::WaitMethod::PidDescriptor},
                      Methods{Options::SpawnMethod::ForkExec, Options::WaitMethod::Polling}),
    MethodsName);

}  // namespace
}  // namespace Nalo
