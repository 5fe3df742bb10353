#pragma once
// What every ProcessSystem promises, checked end to end against each
// implementation with the program it starts in the game client's place: the
// POSIX layer with the stand-in game client, once per way of spawning and of
// waiting (ProcessSystemTest.cpp), and the Win32 layer with its test client
// under Wine (win32/Win32ProcessSystemTest.cpp). Each of those files
// instantiates the cases below for its drivers and adds the cases only its
// system has.
//
// A driver knows how its client is told what to do and what its system
// reports; it provides:
//   void SetUp(); void TearDown();  make and remove the test's folders
//   std::unique_ptr<ProcessSystem> Create();
//   std::string Client();           the client's program path
//   fs::path Folder();              a folder the test may write into
//   std::string StartFolder();      a folder to start the client in, and the
//   std::string ExpectedWorkingDirectory();   one the client then reports
//   void Control(std::string_view ending);    how the next client ends:
//                                   "exit N", "crash" or "hang"
//   Recorded Record();              how the last client was started
//   kExtraArguments, kNotAProgramName, kErrors, CrashExit(), TerminatedExit(),
//   OwnPid(), ExtraEndings(), ExtraSpawnFailures(driver)
//
// Waits on real processes are bounded by kPatience, far longer than any of
// them takes; no case depends on how long anything takes. Every process a
// case starts is ended when the case ends.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/SystemError.h"
#include "platform/ProcessSystem.h"
#include "tests/support/FailureMatchers.h"

namespace Nalo::ProcessSystemTesting {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

inline constexpr milliseconds kPatience{20'000};

// How a client says it was started.
struct Recorded {
  std::string workingDirectory;
  std::vector<std::string> arguments;
};

struct EndingCase {
  std::string ending;
  ProcessExit exit;
};

struct SpawnFailureCase {
  std::string name;
  SpawnRequest request;
  std::uint32_t code;
};

// The system's codes for the spawn failures every system has.
struct SpawnErrors {
  std::uint32_t missingProgram;
  std::uint32_t notAProgram;
  std::uint32_t missingWorkingDirectory;
  std::uint32_t invalidRequest;  // no program, a NUL in a text
};

template <class Driver>
class ProcessSystemContract : public ::testing::Test {
 protected:
  void SetUp() override {
    mDriver.SetUp();
    if (HasFatalFailure()) {
      return;
    }
    mSystem = mDriver.Create();
  }

  void TearDown() override {
    for (const auto& process : mProcesses) {
      EXPECT_THAT(process->Terminate(), Succeeded());
      EXPECT_EQ(process->Wait(kPatience), ProcessWaitOutcome::Ended);
    }
    mProcesses.clear();
    mSystem.reset();
    mDriver.TearDown();
  }

  // Starts the client; the fixture ends it at the end of the case. Both
  // values are moved into the request (the check misreads the designated
  // initializers).
  // NOLINTNEXTLINE(performance-unnecessary-value-param)
  ProcessHandle& Start(std::vector<std::string> arguments = {}, std::string workingDirectory = {}) {
    auto spawned = mSystem->Spawn({.executable = mDriver.Client(),
                                   .workingDirectory = std::move(workingDirectory),
                                   .arguments = std::move(arguments)});
    if (spawned.HasFailure()) {
      ADD_FAILURE() << spawned.GetFailure().Text();
      throw std::runtime_error("spawn failed");
    }
    mProcesses.push_back(std::move(spawned).Value());
    return *mProcesses.back();
  }

  // Waits, in steps that end early if the process ends, until its window
  // stands as wanted (a window reaches the front a few milliseconds after it
  // is shown). False when the process ended first or time ran out.
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

  Driver mDriver;
  std::unique_ptr<ProcessSystem> mSystem;
  std::vector<std::unique_ptr<ProcessHandle>> mProcesses;
};

TYPED_TEST_SUITE_P(ProcessSystemContract);

// The arguments arrive one for one, untouched by any shell or quoting, in the
// given folder (whose name holds a space or is not ASCII).
TYPED_TEST_P(ProcessSystemContract, ClientReceivesWhatItWasStartedWith) {
  this->mDriver.Control("exit 7");
  std::vector<std::string> arguments = {"8394", "spectator 1.2.3.4:80 key 7", "", "a\"b\\",
                                        "\xc3\xa9\xe2\x82\xac"};
  arguments.insert(arguments.end(), std::begin(TypeParam::kExtraArguments),
                   std::end(TypeParam::kExtraArguments));
  ProcessHandle& client = this->Start(arguments, this->mDriver.StartFolder());
  ASSERT_EQ(client.Wait(kPatience), ProcessWaitOutcome::Ended);
  EXPECT_EQ(client.Exit(), (ProcessExit{ProcessExit::Kind::Exited, 7}));

  const Recorded recorded = this->mDriver.Record();
  EXPECT_EQ(recorded.workingDirectory, this->mDriver.ExpectedWorkingDirectory());
  EXPECT_THAT(recorded.arguments, ::testing::ElementsAreArray(arguments));
}

TYPED_TEST_P(ProcessSystemContract, EndingsAreTold) {
  std::vector<EndingCase> cases = {
      {"exit 0", {ProcessExit::Kind::Exited, 0}},
      {"crash", TypeParam::CrashExit()},
  };
  for (EndingCase& extra : TypeParam::ExtraEndings()) {
    cases.push_back(std::move(extra));
  }
  for (const EndingCase& c : cases) {
    SCOPED_TRACE(c.ending);
    this->mDriver.Control(c.ending);
    ProcessHandle& client = this->Start();
    ASSERT_EQ(client.Wait(kPatience), ProcessWaitOutcome::Ended);
    EXPECT_EQ(client.Exit(), c.exit);
  }
}

TYPED_TEST_P(ProcessSystemContract, HangingClientEndsOnlyWhenEnded) {
  this->mDriver.Control("hang");
  ProcessHandle& client = this->Start();
  ProcessSystem& system = *this->mSystem;
  EXPECT_EQ(client.Wait(milliseconds(0)), ProcessWaitOutcome::StillRunning);
  EXPECT_EQ(client.Wait(milliseconds(20)), ProcessWaitOutcome::StillRunning);
  EXPECT_EQ(system.WaitForProcess(client.Pid(), milliseconds(1)), ProcessWaitOutcome::StillRunning);
  EXPECT_EQ(client.Exit(), std::nullopt);
  EXPECT_EQ(system.ExecutableFileName(client.Pid()), "Tavora.exe");

  ASSERT_THAT(client.Terminate(), Succeeded());
  ASSERT_EQ(system.WaitForProcess(client.Pid(), kPatience), ProcessWaitOutcome::Ended);
  ASSERT_EQ(client.Wait(kPatience), ProcessWaitOutcome::Ended);
  EXPECT_EQ(client.Exit(), TypeParam::TerminatedExit());
  EXPECT_THAT(client.Terminate(), Succeeded());
}

TYPED_TEST_P(ProcessSystemContract, SpawnFailuresCarryTheSystemError) {
  TypeParam& driver = this->mDriver;
  const fs::path folder = driver.Folder();
  const SpawnErrors errors = TypeParam::kErrors;
  const auto text = [](const fs::path& path) {
    const std::u8string bytes = path.u8string();
    return std::string(bytes.begin(), bytes.end());
  };
  { std::ofstream(folder / TypeParam::kNotAProgramName) << "data"; }
  std::vector<SpawnFailureCase> cases = {
      {"missing program", {.executable = text(folder / "Missing.exe")}, errors.missingProgram},
      {"not a program",
       {.executable = text(folder / TypeParam::kNotAProgramName)},
       errors.notAProgram},
      {"missing working directory",
       {.executable = driver.Client(), .workingDirectory = text(folder / "missing")},
       errors.missingWorkingDirectory},
      {"no program", {}, errors.invalidRequest},
      {"NUL in an argument",
       {.executable = driver.Client(), .arguments = {std::string("a\0b", 3)}},
       errors.invalidRequest},
  };
  for (SpawnFailureCase& extra : TypeParam::ExtraSpawnFailures(driver)) {
    cases.push_back(std::move(extra));
  }
  for (const SpawnFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THAT(
        this->mSystem->Spawn(c.request),
        IsFailure(c.code, std::string(kSpawnFailureContext) + ": " + SystemErrorText(c.code)));
  }
}

TYPED_TEST_P(ProcessSystemContract, WaitByPid) {
  EXPECT_EQ(this->mSystem->WaitForProcess(0, milliseconds(0)), ProcessWaitOutcome::CannotOpen);
  EXPECT_EQ(this->mSystem->WaitForProcess(TypeParam::OwnPid(), milliseconds(0)),
            ProcessWaitOutcome::StillRunning);
  EXPECT_EQ(this->mSystem->ExecutableFileName(0), std::nullopt);
}

REGISTER_TYPED_TEST_SUITE_P(ProcessSystemContract, ClientReceivesWhatItWasStartedWith,
                            EndingsAreTold, HangingClientEndsOnlyWhenEnded,
                            SpawnFailuresCarryTheSystemError, WaitByPid);

// Names each instantiation after its driver's kName.
struct DriverName {
  template <class Driver>
  static std::string GetName(int /*index*/) {
    return std::string(Driver::kName);
  }
};

}  // namespace Nalo::ProcessSystemTesting
