#include "platform/src/PosixWaiting.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <thread>
#include <utility>

#include "platform/src/ProcessFiles.h"

namespace Nalo::detail {
namespace {

using Milliseconds = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

// The polling wait looks after 1 ms, then ever less often, at most every 10 ms.
constexpr Milliseconds kFirstPollingInterval{1};
constexpr Milliseconds kLongestPollingInterval{10};
// Linux's P_PIDFD (kernel 5.4), which older C library headers do not name.
constexpr auto kIdTypePidDescriptor = static_cast<idtype_t>(3);

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

// A process that a ProcessSystem since destroyed (say, of a plugin that was
// unloaded) started is still a child of this process; once it has ended,
// reap it. Anyone else's pid gives ECHILD and is left alone.
// Answers whether it collected one.
bool ReapIfOurChild(pid_t pid) {
  siginfo_t info{};
  int result = 0;
  do {
    result = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG);
  } while (result != 0 && errno == EINTR);
  return result == 0 && info.si_pid == pid;
}

// waitid without waiting, by pid descriptor where the kernel takes one (so
// that nothing but this very child can be collected), else by pid.
int CollectIfEnded(const PosixChild& child, siginfo_t& info) {
  if (child.descriptor >= 0) {
    const int result =
        waitid(kIdTypePidDescriptor, static_cast<id_t>(child.descriptor), &info, WEXITED | WNOHANG);
    if (result == 0 || errno != EINVAL) {
      return result;
    }
  }
  return waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG);
}

}  // namespace

PosixChild::~PosixChild() {
  if (descriptor >= 0) {
    close(descriptor);
  }
}

PosixProcessState::PosixProcessState(PosixProcessSystemOptions options)
    : mOptions(std::move(options)) {
  mUseDescriptors = mOptions.waitMethod != PosixProcessSystemOptions::WaitMethod::Polling;
}

std::shared_ptr<PosixChild> PosixProcessState::Adopt(pid_t pid) {
  auto child = std::make_shared<PosixChild>();
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

void PosixProcessState::ReapEnded() {
  const std::lock_guard lock(mMutex);
  for (auto it = mChildren.begin(); it != mChildren.end();) {
    const std::shared_ptr<PosixChild> child = it->second;
    ++it;  // TryReapLocked may erase the child's entry
    TryReapLocked(*child);
  }
}

bool PosixProcessState::TryReap(PosixChild& child) {
  const std::lock_guard lock(mMutex);
  return TryReapLocked(child);
}

ProcessWaitOutcome PosixProcessState::WaitForChild(PosixChild& child, Milliseconds timeout) {
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

ProcessWaitOutcome PosixProcessState::WaitForPid(std::uint32_t pid, Milliseconds timeout) {
  if (!IsValidPid(pid)) {
    return ProcessWaitOutcome::CannotOpen;
  }
  std::shared_ptr<PosixChild> child;
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

MaybeType<Failure, void> PosixProcessState::Terminate(PosixChild& child) {
  const std::lock_guard lock(mMutex);
  // Under the lock the child cannot be reaped, so its pid still names it.
  if (child.ended || kill(child.pid, SIGKILL) == 0 || errno == ESRCH) {
    return {};
  }
  return Failure::FromLastSystemError("Could not end process " + std::to_string(child.pid));
}

std::optional<ProcessExit> PosixProcessState::ExitOf(const PosixChild& child) {
  const std::lock_guard lock(mMutex);
  return child.exit;
}

bool PosixProcessState::TryReapLocked(PosixChild& child) {
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
ProcessWaitOutcome PosixProcessState::WaitForOtherProcess(pid_t pid, Milliseconds timeout) {
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
  const std::optional<std::uint64_t> startTime = ProcessStartTime(pid);
  if (!startTime) {
    // A child of ours that has already ended is still there to collect:
    // that one ended under our eyes rather than being unknown.
    return ReapIfOurChild(pid) ? ProcessWaitOutcome::Ended : ProcessWaitOutcome::CannotOpen;
  }
  const bool ended = PollUntil(
      timeout, [&] { return ProcessStartTime(static_cast<std::uint32_t>(pid)) != startTime; });
  if (!ended) {
    return ProcessWaitOutcome::StillRunning;
  }
  ReapIfOurChild(pid);
  return ProcessWaitOutcome::Ended;
}

}  // namespace Nalo::detail
