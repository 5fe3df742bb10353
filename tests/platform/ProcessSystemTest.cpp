// The POSIX process layer, end to end with the stand-in game client: the
// cases every process system passes (ProcessSystemContract.h) and those of
// POSIX alone, each run for every way of spawning and of waiting. Every
// process a test starts is killed and reaped when the test ends, whatever
// happened, and no test leaves a child behind.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "binding/Json.h"
#include "platform/PosixProcessSystem.h"
#include "platform/HeadlessWindows.h"
#include "tests/platform/ProcessSystemContract.h"
#include "tests/support/FailureMatchers.h"
#include "tools/stand-in-client/StandInClientInstall.h"

namespace Nalo::ProcessSystemTesting {
namespace {

using Options = PosixProcessSystemOptions;

constexpr const char* kClientPath = NALO_STAND_IN_CLIENT_PATH;

void WriteText(const fs::path& path, std::string_view text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// True when the calling process has no child left, running or ended.
bool HasNoChildren() {
  return waitid(P_ALL, 0, nullptr, WEXITED | WNOHANG) != 0 && errno == ECHILD;
}

template <Options::SpawnMethod kSpawn, Options::WaitMethod kWait>
class PosixDriver {
 public:
  static constexpr std::string_view kName =
      kSpawn == Options::SpawnMethod::ForkExec
          ? (kWait == Options::WaitMethod::Polling ? "ForkExec_Polling" : "ForkExec_PidDescriptor")
          : (kWait == Options::WaitMethod::Polling ? "PosixSpawn_Polling"
                                                   : "PosixSpawn_PidDescriptor");
  static constexpr const char* kExtraArguments[] = {"$HOME", "*"};
  static constexpr std::string_view kNotAProgramName = "not-a-program";  // not executable
  static constexpr SpawnErrors kErrors = {.missingProgram = ENOENT,
                                          .notAProgram = EACCES,
                                          .missingWorkingDirectory = ENOENT,
                                          .invalidRequest = EINVAL};

  static ProcessExit CrashExit() { return {ProcessExit::Kind::Crashed, SIGSEGV}; }
  static ProcessExit TerminatedExit() { return {ProcessExit::Kind::Crashed, SIGKILL}; }
  static std::uint32_t OwnPid() { return static_cast<std::uint32_t>(getpid()); }
  static std::vector<EndingCase> ExtraEndings() {
    return {{"exit 255", {ProcessExit::Kind::Exited, 255}},
            {"crash abort", {ProcessExit::Kind::Crashed, SIGABRT}},
            // A control file it cannot follow.
            {"explode", {ProcessExit::Kind::Exited, 2}}};
  }
  static std::vector<SpawnFailureCase> ExtraSpawnFailures(PosixDriver& /*driver*/) { return {}; }

  void SetUp() {
    char pattern[] = "/tmp/nalo-process-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    mDirectory = pattern;
    // The tests start the client from where it was built.
    ASSERT_THAT(StandIn::InstallStandInClient({.program = {},
                                               .clientFolder = mDirectory,
                                               .windowsFolder = WindowFolder(),
                                               .control = std::nullopt}),
                Succeeded());
  }

  void TearDown() {
    for (const pid_t pid : mLoosePids) {
      kill(pid, SIGKILL);  // fails harmlessly once the test has reaped it
      waitpid(pid, nullptr, 0);
    }
    EXPECT_TRUE(HasNoChildren()) << "a test left a process behind";
    StandIn::ForgetStandInClient();
    fs::remove_all(mDirectory);
  }

  std::unique_ptr<ProcessSystem> Create() const {
    return CreatePosixProcessSystem(
        {.spawnMethod = kSpawn, .waitMethod = kWait, .windows = HeadlessWindows(WindowFolder())});
  }
  // Another process system, as a plugin loaded earlier had.
  static std::unique_ptr<ProcessSystem> CreateWithoutWindows() {
    return CreatePosixProcessSystem({.spawnMethod = kSpawn, .waitMethod = kWait});
  }

  std::string Client() const { return kClientPath; }
  fs::path Folder() const { return mDirectory; }
  std::string StartFolder() const {
    fs::create_directories(mDirectory / "game dir");
    return (mDirectory / "game dir").string();
  }
  std::string ExpectedWorkingDirectory() const { return StartFolder(); }

  void Control(std::string_view ending) {
    WriteText(
        mDirectory / "stand-in-client.cfg",
        "window = no\nend = " + std::string(ending == "crash" ? "crash segv" : ending) + "\n");
  }

  // Sends a client a command through its command file, written whole.
  void Command(const ProcessHandle& process, std::string_view command) {
    const fs::path temporary = mDirectory / "command.tmp";
    WriteText(temporary, command);
    fs::rename(temporary,
               mDirectory / ("stand-in-client." + std::to_string(process.Pid()) + ".command"));
  }

  Recorded Record() const {
    std::ifstream file(mDirectory / "stand-in-client.record", std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    const BindingResult record = ParseJson(text.str());
    Recorded recorded;
    if (record.Failed() || record.Value().Find("workingDirectory") == nullptr ||
        record.Value().Find("arguments") == nullptr) {
      ADD_FAILURE() << "the client recorded no start: " << text.str();
      return recorded;
    }
    recorded.workingDirectory = record.Value().Find("workingDirectory")->StringValue();
    for (const BindingProperty& argument : record.Value().Find("arguments")->Elements()) {
      recorded.arguments.emplace_back(argument.StringValue());
    }
    return recorded;
  }

  // Started without a handle that the fixture keeps; ended at tear-down.
  std::vector<pid_t> mLoosePids;

 private:
  fs::path WindowFolder() const { return mDirectory / "windows"; }

  fs::path mDirectory;
};

using PosixDrivers = ::testing::Types<
    PosixDriver<Options::SpawnMethod::PosixSpawn, Options::WaitMethod::PidDescriptor>,
    PosixDriver<Options::SpawnMethod::PosixSpawn, Options::WaitMethod::Polling>,
    PosixDriver<Options::SpawnMethod::ForkExec, Options::WaitMethod::PidDescriptor>,
    PosixDriver<Options::SpawnMethod::ForkExec, Options::WaitMethod::Polling>>;

INSTANTIATE_TYPED_TEST_SUITE_P(Posix, ProcessSystemContract, PosixDrivers, DriverName);

template <class Driver>
class PosixProcessSystemTest : public ProcessSystemContract<Driver> {};
TYPED_TEST_SUITE(PosixProcessSystemTest, PosixDrivers, DriverName);

// The client runs in a session of its own, reads nothing from the caller,
// inherits none of its files, and its window comes and goes with it. The
// wait that sees it end reaps it.
TYPED_TEST(PosixProcessSystemTest, ClientIsDetachedAndShowsItsWindow) {
  ProcessSystem& system = *this->mSystem;
  const int inheritable = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(inheritable, 0);
  WriteText(this->mDriver.Folder() / "stand-in-client.cfg", "window-delay-ms = 1\n");
  ProcessHandle& client = this->Start();
  close(inheritable);
  ASSERT_TRUE(this->AwaitWindow(client, ProcessWindowState::Foreground));

  const auto pid = static_cast<pid_t>(client.Pid());
  EXPECT_EQ(getsid(pid), pid);
  std::set<std::string> descriptors;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    descriptors.insert(entry.path().filename().string());
  }
  EXPECT_THAT(descriptors, ::testing::ElementsAre("0", "1", "2"));
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/0"), "/dev/null");

  this->mDriver.Command(client, "close-window");
  ASSERT_TRUE(this->AwaitWindow(client, ProcessWindowState::None));
  this->mDriver.Command(client, "open-window");
  ASSERT_TRUE(this->AwaitWindow(client, ProcessWindowState::Background));
  this->mDriver.Command(client, "exit 3");
  ASSERT_EQ(client.Wait(kPatience), ProcessWaitOutcome::Ended);
  EXPECT_EQ(client.Exit(), (ProcessExit{ProcessExit::Kind::Exited, 3}));
  EXPECT_EQ(system.WindowOfProcess(client.Pid()), ProcessWindowState::None);
  EXPECT_EQ(system.ExecutableFileName(client.Pid()), std::nullopt);
  EXPECT_EQ(system.WaitForProcess(client.Pid(), milliseconds(0)), ProcessWaitOutcome::CannotOpen);
}

// A relative program path is the caller's, as it is for CreateProcessW, even
// when the process starts in another directory.
TYPED_TEST(PosixProcessSystemTest, RelativeProgramPathIsTheCallers) {
  this->mDriver.Control("exit 0");
  fs::create_directories(this->mDriver.Folder() / "elsewhere");
  auto spawned =
      this->mSystem->Spawn({.executable = fs::relative(kClientPath).string(),
                            .workingDirectory = (this->mDriver.Folder() / "elsewhere").string()});
  ASSERT_THAT(spawned, HasValue(::testing::NotNull()));
  this->mProcesses.push_back(std::move(spawned).Value());
  ASSERT_EQ(this->mProcesses.back()->Wait(kPatience), ProcessWaitOutcome::Ended);
  EXPECT_EQ(this->mProcesses.back()->Exit(), (ProcessExit{ProcessExit::Kind::Exited, 0}));
}

TYPED_TEST(PosixProcessSystemTest, PidsOutsideTheRangeCannotBeOpened) {
  for (const std::uint32_t pid :
       {static_cast<std::uint32_t>(INT_MAX) + 1, static_cast<std::uint32_t>(INT_MAX)}) {
    SCOPED_TRACE(pid);
    EXPECT_EQ(this->mSystem->WaitForProcess(pid, milliseconds(0)), ProcessWaitOutcome::CannotOpen);
  }
}

// The monitoring keeps only the pid: its wait reaps the child, whose handle
// is long gone, and a later wait cannot open it.
TYPED_TEST(PosixProcessSystemTest, WaitByPidReapsAChildWithoutItsHandle) {
  this->mDriver.Control("exit 0");
  std::uint32_t pid = 0;
  {
    auto spawned = this->mSystem->Spawn({.executable = kClientPath});
    ASSERT_THAT(spawned, HasValue(::testing::NotNull()));
    pid = spawned.Value()->Pid();
    this->mDriver.mLoosePids.push_back(static_cast<pid_t>(pid));
  }
  EXPECT_EQ(this->mSystem->WaitForProcess(pid, kPatience), ProcessWaitOutcome::Ended);
  EXPECT_EQ(this->mSystem->WaitForProcess(pid, milliseconds(0)), ProcessWaitOutcome::CannotOpen);
  EXPECT_TRUE(HasNoChildren());
}

// A plugin that is unloaded and loaded again gets a new process layer, which
// still sees the old client end and reaps it.
TYPED_TEST(PosixProcessSystemTest, LaterProcessSystemReapsAnEarlierOnesChild) {
  this->mDriver.Control("hang");
  std::uint32_t pid = 0;
  {
    auto earlier = TypeParam::CreateWithoutWindows();
    auto spawned = earlier->Spawn({.executable = kClientPath});
    ASSERT_THAT(spawned, HasValue(::testing::NotNull()));
    pid = spawned.Value()->Pid();
    this->mDriver.mLoosePids.push_back(static_cast<pid_t>(pid));
  }
  EXPECT_EQ(this->mSystem->WaitForProcess(pid, milliseconds(0)), ProcessWaitOutcome::StillRunning);
  ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGKILL), 0);
  EXPECT_EQ(this->mSystem->WaitForProcess(pid, kPatience), ProcessWaitOutcome::Ended);
  EXPECT_TRUE(HasNoChildren());
}

}  // namespace
}  // namespace Nalo::ProcessSystemTesting
