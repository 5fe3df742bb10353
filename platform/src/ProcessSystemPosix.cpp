// The POSIX process layer: the ProcessSystem and its handles over the
// spawning (PosixSpawning.cpp) and the waiting (PosixWaiting.cpp) rooms; the
// facts read from /proc are in ProcessFiles.cpp, windows come from the
// stand-in window system.

#include <memory>
#include <utility>

#include "platform/PosixProcessSystem.h"
#include "platform/src/PosixSpawning.h"
#include "platform/src/PosixWaiting.h"
#include "platform/src/ProcessFiles.h"

namespace Nalo {
namespace {

using Options = PosixProcessSystemOptions;
using Milliseconds = std::chrono::milliseconds;
using detail::LaunchPlan;
using detail::PosixChild;
using State = detail::PosixProcessState;

class PosixProcessHandle final : public ProcessHandle {
 public:
  PosixProcessHandle(std::shared_ptr<State> state, std::shared_ptr<PosixChild> child)
      : mState(std::move(state)), mChild(std::move(child)) {}

  std::uint32_t Pid() const noexcept override { return static_cast<std::uint32_t>(mChild->pid); }
  ProcessWaitOutcome Wait(Milliseconds timeout) override {
    return mState->WaitForChild(*mChild, timeout);
  }
  std::optional<ProcessExit> Exit() const override { return mState->ExitOf(*mChild); }
  MaybeType<Failure, void> Terminate() override { return mState->Terminate(*mChild); }

 private:
  std::shared_ptr<State> mState;
  std::shared_ptr<PosixChild> mChild;
};

class PosixProcessSystem final : public ProcessSystem {
 public:
  explicit PosixProcessSystem(Options options)
      : mState(std::make_shared<State>(std::move(options))) {}

  MaybeType<Failure, std::unique_ptr<ProcessHandle>> Spawn(const SpawnRequest& request) override {
    mState->ReapEnded();
    auto plan = detail::PlanLaunch(request);
    if (plan.HasFailure()) {
      return std::move(plan).GetFailure();
    }
    const auto [pid, error] = UseForkExec(plan.Value()) ? detail::StartWithForkExec(plan.Value())
                                                        : detail::StartWithPosixSpawn(plan.Value());
    if (error != 0) {
      return Failure::FromSystemError(static_cast<std::uint32_t>(error), kSpawnFailureContext);
    }
    return std::unique_ptr<ProcessHandle>(
        std::make_unique<PosixProcessHandle>(mState, mState->Adopt(pid)));
  }

  ProcessWaitOutcome WaitForProcess(std::uint32_t pid, Milliseconds timeout) override {
    return mState->WaitForPid(pid, timeout);
  }

  ProcessWindowState WindowOfProcess(std::uint32_t pid) override {
    const auto& windows = mState->GetOptions().windows;
    return windows ? windows->WindowOf(pid) : ProcessWindowState::None;
  }

  std::optional<std::string> ExecutableFileName(std::uint32_t pid) override {
    return detail::ProcessExecutableFileName(pid);
  }

 private:
  bool UseForkExec(const LaunchPlan& plan) const {
    switch (mState->GetOptions().spawnMethod) {
      case Options::SpawnMethod::ForkExec:
        return true;
      case Options::SpawnMethod::PosixSpawn:
        return false;
      case Options::SpawnMethod::Automatic:
        return !detail::SpawnCanChangeDirectory() && !plan.workingDirectory.empty();
    }
    return false;
  }

  std::shared_ptr<State> mState;
};

}  // namespace

std::unique_ptr<ProcessSystem> CreatePosixProcessSystem(PosixProcessSystemOptions options) {
  return std::make_unique<PosixProcessSystem>(std::move(options));
}

std::unique_ptr<ProcessSystem> CreatePlatformProcessSystem() {
  return CreatePosixProcessSystem({.windows = HeadlessWindows::FromEnvironment()});
}

}  // namespace Nalo
