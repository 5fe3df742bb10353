// The POSIX process layer: posix_spawn (or fork and exec), pid descriptors,
// and the stand-in window system.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/PosixProcessSystem.h"
#include "diagnostics/SystemError.h"
#include "platform/src/ProcessFiles.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): not declared by every libc

// posix_spawn_file_actions_addchdir_np came with glibc 2.29 and
// posix_spawn_file_actions_addclosefrom_np with glibc 2.34.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 29))
#define NALO_SPAWN_CAN_CHANGE_DIRECTORY 1
#else
#define NALO_SPAWN_CAN_CHANGE_DIRECTORY 0
#endif
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
#define NALO_SPAWN_CAN_CLOSE_FROM 1
#else
#define NALO_SPAWN_CAN_CLOSE_FROM 0
#endif

namespace Nalo {
namespace {

using Options = PosixProcessSystemOptions;
using Milliseconds = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kNullDevice = "/dev/null";
// The polling wait looks after 1 ms, then ever less often, at most every 10 ms.
constexpr Milliseconds kFirstPollingInterval{1};
constexpr Milliseconds kLongestPollingInterval{10};
// Linux's P_PIDFD (kernel 5.4), which older C library headers do not name.
constexpr auto kIdTypePidDescriptor = static_cast<idtype_t>(3);
// A child that cannot be started reports the errno of the failing call
// through a pipe and ends with this code.
constexpr int kChildSetupFailedExitCode = 127;

bool HasNul(std::string_view text) {
  return text.find('\0') != std::string_view::npos;
}

bool IsValidPid(std::uint32_t pid) {
  return pid != 0 && pid <= static_cast<std::uint32_t>(INT_MAX);
}

// A pid descriptor for `pid`, or -1 with errno set (ENOSYS where the kernel
// or the C library has none). It is closed on exec.
int OpenPidDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;  // no pid descriptors on this system
  errno = ENOSYS;
  return -1;
#endif
}

enum class PollResult { Ready, TimedOut, Failed };

// Waits until `descriptor` is readable (the process has ended) or `timeout`
// has passed, restarting after signals with the time left.
PollResult PollDescriptor(int descriptor, Milliseconds timeout) {
  const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
  Milliseconds left = timeout;
  for (;;) {
    pollfd entry{.fd = descriptor, .events = POLLIN, .revents = 0};
    const int slice = static_cast<int>(std::min<Milliseconds::rep>(left.count(), INT_MAX));
    const int ready = poll(&entry, 1, slice);
    if (ready > 0) {
      return PollResult::Ready;
    }
    if (ready < 0 && errno != EINTR) {
      return PollResult::Failed;
    }
    const SteadyClock::time_point now = SteadyClock::now();
    if (now >= deadline) {
      return PollResult::TimedOut;
    }
    left = std::chrono::ceil<Milliseconds>(deadline - now);
  }
}

// Calls `hasEnded` until it answers true or `timeout` has passed, sleeping
// between the calls; false when the time ran out.
template <typename Check>
bool PollUntil(Milliseconds timeout, Check hasEnded) {
  const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
  Milliseconds interval = kFirstPollingInterval;
  for (;;) {
    if (hasEnded()) {
      return true;
    }
    const SteadyClock::time_point now = SteadyClock::now();
    if (now >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::min<SteadyClock::duration>(interval, deadline - now));
    interval = std::min(interval * 2, kLongestPollingInterval);
  }
}

std::optional<ProcessExit> ExitFrom(const siginfo_t& info) {
  switch (info.si_code) {
    case CLD_EXITED:
      return ProcessExit{.kind = ProcessExit::Kind::Exited, .code = info.si_status};
    case CLD_KILLED:
    case CLD_DUMPED:
      return ProcessExit{.kind = ProcessExit::Kind::Crashed, .code = info.si_status};
    default:
      return std::nullopt;
  }
}

// One process that this object started. Shared by the table of children not
// yet reaped and the handle, and kept until both let go of it: the pid
// descriptor stays open as long as a wait may poll it.
struct Child {
  Child() = default;
  ~Child() {
    if (descriptor >= 0) {
      close(descriptor);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  Child(Child&&) = delete;
  Child& operator=(Child&&) = delete;

  pid_t pid = 0;
  int descriptor = -1;  // pid descriptor; -1 when waiting polls
  // Set, under the state's lock, once the child is reaped (or found reaped by
  // someone else); from then on the pid may name another process.
  bool ended = false;
  std::optional<ProcessExit> exit;
};

// Everything a ProcessHandle needs after its ProcessSystem is gone.
class State {
 public:
  explicit State(Options options) : mOptions(std::move(options)) {
    mUseDescriptors = mOptions.waitMethod != Options::WaitMethod::Polling;
  }
  ~State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  State(State&&) = delete;
  State& operator=(State&&) = delete;

  const Options& GetOptions() const { return mOptions; }

  std::shared_ptr<Child> Adopt(pid_t pid) {
    auto child = std::make_shared<Child>();
    child->pid = pid;
    if (mUseDescriptors.load(std::memory_order_relaxed)) {
      child->descriptor = OpenPidDescriptor(pid);
      if (child->descriptor < 0 && errno == ENOSYS) {
        mUseDescriptors.store(false, std::memory_order_relaxed);
      }
    }
    const std::lock_guard lock(mMutex);
    mChildren.emplace(pid, child);
    return child;
  }

  // Reaps every child that has ended; the rest keep running.
  void ReapEnded() {
    const std::lock_guard lock(mMutex);
    for (auto it = mChildren.begin(); it != mChildren.end();) {
      const std::shared_ptr<Child> child = it->second;
      ++it;  // TryReapLocked may erase the child's entry
      TryReapLocked(*child);
    }
  }

  bool TryReap(Child& child) {
    const std::lock_guard lock(mMutex);
    return TryReapLocked(child);
  }

  ProcessWaitOutcome WaitForChild(Child& child, Milliseconds timeout) {
    if (TryReap(child)) {
      return ProcessWaitOutcome::Ended;
    }
    if (timeout <= Milliseconds::zero()) {
      return ProcessWaitOutcome::StillRunning;
    }
    if (child.descriptor >= 0) {
      // The descriptor stays open while `child` lives, and the pid cannot be
      // reused before the reap below, so the poll watches exactly this child.
      switch (PollDescriptor(child.descriptor, timeout)) {
        case PollResult::Ready:
          return TryReap(child) ? ProcessWaitOutcome::Ended : ProcessWaitOutcome::Other;
        case PollResult::TimedOut:
          return ProcessWaitOutcome::StillRunning;
        case PollResult::Failed:
          return ProcessWaitOutcome::WaitFailed;
      }
    }
    return PollUntil(timeout, [&] { return TryReap(child); }) ? ProcessWaitOutcome::Ended
                                                              : ProcessWaitOutcome::StillRunning;
  }

  ProcessWaitOutcome WaitForPid(std::uint32_t pid, Milliseconds timeout) {
    if (!IsValidPid(pid)) {
      return ProcessWaitOutcome::CannotOpen;
    }
    std::shared_ptr<Child> child;
    {
      const std::lock_guard lock(mMutex);
      if (const auto found = mChildren.find(static_cast<pid_t>(pid)); found != mChildren.end()) {
        child = found->second;
      }
    }
    if (child) {
      return WaitForChild(*child, timeout);
    }
    return WaitForOtherProcess(static_cast<pid_t>(pid), timeout);
  }

  MaybeType<Failure, void> Terminate(Child& child) {
    const std::lock_guard lock(mMutex);
    // Under the lock the child cannot be reaped, so its pid still names it.
    if (child.ended || kill(child.pid, SIGKILL) == 0 || errno == ESRCH) {
      return {};
    }
    return Failure::FromLastSystemError("Could not end process " + std::to_string(child.pid));
  }

  std::optional<ProcessExit> ExitOf(const Child& child) {
    const std::lock_guard lock(mMutex);
    return child.exit;
  }

 private:
  bool TryReapLocked(Child& child) {
    if (child.ended) {
      return true;
    }
    siginfo_t info{};
    int result = 0;
    do {
      result = CollectIfEnded(child, info);
    } while (result != 0 && errno == EINTR);
    if (result == 0 && info.si_pid == 0) {
      return false;  // still running
    }
    // Reaped now, or (ECHILD) by someone else: with SIGCHLD ignored the system
    // reaps children itself, and then how it ended is unknown.
    child.ended = true;
    if (result == 0) {
      child.exit = ExitFrom(info);
    }
    mChildren.erase(child.pid);
    return true;
  }

  // A process this object did not start (or started and has reaped).
  ProcessWaitOutcome WaitForOtherProcess(pid_t pid, Milliseconds timeout) {
    if (mUseDescriptors.load(std::memory_order_relaxed)) {
      const int descriptor = OpenPidDescriptor(pid);
      if (descriptor >= 0) {
        const PollResult result = PollDescriptor(descriptor, timeout);
        close(descriptor);
        switch (result) {
          case PollResult::Ready:
            ReapIfOurChild(pid);
            return ProcessWaitOutcome::Ended;
          case PollResult::TimedOut:
            return ProcessWaitOutcome::StillRunning;
          case PollResult::Failed:
            return ProcessWaitOutcome::WaitFailed;
        }
      }
      if (errno == ESRCH || errno == EINVAL) {
        return ProcessWaitOutcome::CannotOpen;
      }
      if (errno != ENOSYS) {
        return ProcessWaitOutcome::WaitFailed;
      }
      mUseDescriptors.store(false, std::memory_order_relaxed);
    }
    // Without pid descriptors the start time tells a later process under the
    // same pid from the one first seen.
    const std::optional<std::uint64_t> startTime = detail::ProcessStartTime(pid);
    if (!startTime) {
      // A child of ours that has already ended is still there to collect:
      // that one ended under our eyes rather than being unknown.
      return ReapIfOurChild(pid) ? ProcessWaitOutcome::Ended : ProcessWaitOutcome::CannotOpen;
    }
    const bool ended = PollUntil(timeout, [&] {
      return detail::ProcessStartTime(static_cast<std::uint32_t>(pid)) != startTime;
    });
    if (!ended) {
      return ProcessWaitOutcome::StillRunning;
    }
    ReapIfOurChild(pid);
    return ProcessWaitOutcome::Ended;
  }

  // A process that a ProcessSystem since destroyed (say, of a plugin that was
  // unloaded) started is still a child of this process; once it has ended,
  // reap it. Anyone else's pid gives ECHILD and is left alone.
  // Answers whether it collected one.
  static bool ReapIfOurChild(pid_t pid) {
    siginfo_t info{};
    int result = 0;
    do {
      result = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG);
    } while (result != 0 && errno == EINTR);
    return result == 0 && info.si_pid == pid;
  }

  // waitid without waiting, by pid descriptor where the kernel takes one (so
  // that nothing but this very child can be collected), else by pid.
  static int CollectIfEnded(const Child& child, siginfo_t& info) {
    if (child.descriptor >= 0) {
      const int result = waitid(kIdTypePidDescriptor, static_cast<id_t>(child.descriptor), &info,
                                WEXITED | WNOHANG);
      if (result == 0 || errno != EINVAL) {
        return result;
      }
    }
    return waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG);
  }

  const Options mOptions;
  std::atomic<bool> mUseDescriptors{true};
  std::mutex mMutex;
  std::unordered_map<pid_t, std::shared_ptr<Child>> mChildren;  // not yet reaped
};

class PosixProcessHandle final : public ProcessHandle {
 public:
  PosixProcessHandle(std::shared_ptr<State> state, std::shared_ptr<Child> child)
      : mState(std::move(state)), mChild(std::move(child)) {}

  std::uint32_t Pid() const noexcept override { return static_cast<std::uint32_t>(mChild->pid); }
  ProcessWaitOutcome Wait(Milliseconds timeout) override {
    return mState->WaitForChild(*mChild, timeout);
  }
  std::optional<ProcessExit> Exit() const override { return mState->ExitOf(*mChild); }
  MaybeType<Failure, void> Terminate() override { return mState->Terminate(*mChild); }

 private:
  std::shared_ptr<State> mState;
  std::shared_ptr<Child> mChild;
};

// What the child needs, prepared before it starts: after fork only
// async-signal-safe calls may run.
struct LaunchPlan {
  std::string executable;
  std::string workingDirectory;
  std::vector<std::string> argumentTexts;
  std::vector<char*> argumentVector;  // into argumentTexts, ending in nullptr
};

MaybeType<Failure, LaunchPlan> PlanLaunch(const SpawnRequest& request) {
  bool valid = !request.executable.empty() && !HasNul(request.executable) &&
               !HasNul(request.workingDirectory);
  for (const std::string& argument : request.arguments) {
    valid = valid && !HasNul(argument);
  }
  if (!valid) {
    return Failure::FromSystemError(EINVAL, kSpawnFailureContext);
  }
  LaunchPlan plan;
  plan.executable = request.executable;
  // A relative program path means the caller's directory, not the child's.
  if (plan.executable.front() != '/' && !request.workingDirectory.empty()) {
    char current[PATH_MAX];
    if (getcwd(current, sizeof current) == nullptr) {
      return Failure::FromLastSystemError(kSpawnFailureContext);
    }
    plan.executable = std::string(current) + "/" + plan.executable;
  }
  plan.workingDirectory = request.workingDirectory;
  plan.argumentTexts.reserve(request.arguments.size() + 1);
  plan.argumentTexts.push_back(plan.executable);
  plan.argumentTexts.insert(plan.argumentTexts.end(), request.arguments.begin(),
                            request.arguments.end());
  for (std::string& text : plan.argumentTexts) {
    plan.argumentVector.push_back(text.data());
  }
  plan.argumentVector.push_back(nullptr);
  return plan;
}

// posix_spawn's attribute and file-action objects, destroyed on every path.
class SpawnSettings {
 public:
  SpawnSettings() {
    mAttributesReady = posix_spawnattr_init(&mAttributes) == 0;
    mActionsReady = posix_spawn_file_actions_init(&mActions) == 0;
  }
  ~SpawnSettings() {
    if (mAttributesReady) {
      posix_spawnattr_destroy(&mAttributes);
    }
    if (mActionsReady) {
      posix_spawn_file_actions_destroy(&mActions);
    }
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;
  SpawnSettings(SpawnSettings&&) = delete;
  SpawnSettings& operator=(SpawnSettings&&) = delete;

  // 0 or the error code of the first call that failed.
  int Prepare(const LaunchPlan& plan) {
    if (!mAttributesReady || !mActionsReady) {
      return ENOMEM;
    }
    sigset_t noSignals;
    sigset_t allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    flags |= POSIX_SPAWN_SETSID;
#else
    flags |= POSIX_SPAWN_SETPGROUP;  // own process group, pgid 0: its pid
#endif
    int error = posix_spawnattr_setflags(&mAttributes, flags);
    error = error ? error : posix_spawnattr_setsigmask(&mAttributes, &noSignals);
    error = error ? error : posix_spawnattr_setsigdefault(&mAttributes, &allSignals);
    error =
        error ? error
              : posix_spawn_file_actions_addopen(&mActions, STDIN_FILENO, kNullDevice, O_RDONLY, 0);
    error = error ? error
                  : posix_spawn_file_actions_addopen(&mActions, STDOUT_FILENO, kNullDevice,
                                                     O_WRONLY, 0);
    error = error ? error
                  : posix_spawn_file_actions_addopen(&mActions, STDERR_FILENO, kNullDevice,
                                                     O_WRONLY, 0);
#if NALO_SPAWN_CAN_CLOSE_FROM
    error = error ? error : posix_spawn_file_actions_addclosefrom_np(&mActions, STDERR_FILENO + 1);
#endif
    if (!error && !plan.workingDirectory.empty()) {
#if NALO_SPAWN_CAN_CHANGE_DIRECTORY
      error = posix_spawn_file_actions_addchdir_np(&mActions, plan.workingDirectory.c_str());
#else
      error = ENOSYS;
#endif
    }
    return error;
  }

  const posix_spawnattr_t* Attributes() const {
    return &mAttributes;
  }
  const posix_spawn_file_actions_t* Actions() const {
    return &mActions;
  }

 private:
  posix_spawnattr_t mAttributes{};
  posix_spawn_file_actions_t mActions{};
  bool mAttributesReady = false;
  bool mActionsReady = false;
};

// The pid, or the error code.
std::pair<pid_t, int> StartWithPosixSpawn(LaunchPlan& plan) {
  SpawnSettings settings;
  if (const int error = settings.Prepare(plan); error != 0) {
    return {0, error};
  }
  pid_t pid = 0;
  const int error = posix_spawn(&pid, plan.executable.c_str(), settings.Actions(),
                                settings.Attributes(), plan.argumentVector.data(), environ);
  return {pid, error};
}

[[noreturn]] void FailChild(int reportPipe) {
  const int error = errno;
  // Nothing to do if the report is lost: the parent then sees the exit code.
  [[maybe_unused]] const ssize_t written = write(reportPipe, &error, sizeof error);
  _exit(kChildSetupFailedExitCode);
}

// Runs in the forked child: only async-signal-safe calls from here to exec.
[[noreturn]] void RunChild(const LaunchPlan& plan, int reportPipe) {
  setsid();
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) {
    sigaction(signal, &defaultAction, nullptr);  // fails harmlessly for SIGKILL, SIGSTOP
  }
  sigset_t noSignals;
  sigemptyset(&noSignals);
  sigprocmask(SIG_SETMASK, &noSignals, nullptr);
  const int nullInput = open(kNullDevice, O_RDONLY);
  const int nullOutput = open(kNullDevice, O_WRONLY);
  if (nullInput < 0 || nullOutput < 0 || dup2(nullInput, STDIN_FILENO) < 0 ||
      dup2(nullOutput, STDOUT_FILENO) < 0 || dup2(nullOutput, STDERR_FILENO) < 0) {
    FailChild(reportPipe);
  }
  if (!plan.workingDirectory.empty() && chdir(plan.workingDirectory.c_str()) != 0) {
    FailChild(reportPipe);
  }
#if defined(SYS_close_range) && defined(CLOSE_RANGE_CLOEXEC)
  // Everything past the standard three closes at exec, the report pipe too.
  syscall(SYS_close_range, STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
#endif
  execve(plan.executable.c_str(), plan.argumentVector.data(), environ);
  FailChild(reportPipe);
}

std::pair<pid_t, int> StartWithForkExec(LaunchPlan& plan) {
  int reportPipe[2];
  if (pipe2(reportPipe, O_CLOEXEC) != 0) {
    return {0, errno};
  }
  const pid_t pid = fork();
  if (pid < 0) {
    const int error = errno;
    close(reportPipe[0]);
    close(reportPipe[1]);
    return {0, error};
  }
  if (pid == 0) {
    close(reportPipe[0]);
    RunChild(plan, reportPipe[1]);
  }
  close(reportPipe[1]);
  // The pipe closes at a successful exec; before that the child may report.
  int childError = 0;
  ssize_t got = 0;
  do {
    got = read(reportPipe[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  close(reportPipe[0]);
  if (got != static_cast<ssize_t>(sizeof childError)) {
    return {pid, 0};
  }
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return {0, childError};
}

class PosixProcessSystem final : public ProcessSystem {
 public:
  explicit PosixProcessSystem(Options options)
      : mState(std::make_shared<State>(std::move(options))) {}

  MaybeType<Failure, std::unique_ptr<ProcessHandle>> Spawn(const SpawnRequest& request) override {
    mState->ReapEnded();
    auto plan = PlanLaunch(request);
    if (plan.HasFailure()) {
      return std::move(plan).GetFailure();
    }
    const auto [pid, error] = UseForkExec(plan.Value()) ? StartWithForkExec(plan.Value())
                                                        : StartWithPosixSpawn(plan.Value());
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
        return !NALO_SPAWN_CAN_CHANGE_DIRECTORY && !plan.workingDirectory.empty();
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
