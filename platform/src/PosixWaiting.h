#pragma once
// Waiting for processes on POSIX: the children a process system started and
// has not reaped yet, and waits on them or on any pid. Waiting uses a pid
// descriptor (pidfd_open and poll) where the kernel has one, else it looks
// every few milliseconds. Private to the platform library.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "platform/PosixProcessSystem.h"
#include "platform/ProcessSystem.h"

namespace Nalo::detail {

// One process that a process system started. Shared by the table of children
// not yet reaped and the handle, and kept until both let go of it: the pid
// descriptor stays open as long as a wait may poll it.
struct PosixChild {
  PosixChild() = default;
  ~PosixChild();
  PosixChild(const PosixChild&) = delete;
  PosixChild& operator=(const PosixChild&) = delete;
  PosixChild(PosixChild&&) = delete;
  PosixChild& operator=(PosixChild&&) = delete;

  pid_t pid = 0;
  int descriptor = -1;  // pid descriptor; -1 when waiting polls
  // Set, under the state's lock, once the child is reaped (or found reaped by
  // someone else); from then on the pid may name another process.
  bool ended = false;
  std::optional<ProcessExit> exit;
};

// Everything a ProcessHandle needs after its ProcessSystem is gone: the
// options and the children not yet reaped. Safe to call from several threads.
class PosixProcessState {
 public:
  using Milliseconds = std::chrono::milliseconds;

  explicit PosixProcessState(PosixProcessSystemOptions options);
  ~PosixProcessState() = default;
  PosixProcessState(const PosixProcessState&) = delete;
  PosixProcessState& operator=(const PosixProcessState&) = delete;
  PosixProcessState(PosixProcessState&&) = delete;
  PosixProcessState& operator=(PosixProcessState&&) = delete;

  [[nodiscard]] const PosixProcessSystemOptions& GetOptions() const { return mOptions; }

  // Records the child just started as `pid`, with a pid descriptor where the
  // options and the kernel allow one.
  std::shared_ptr<PosixChild> Adopt(pid_t pid);
  // Reaps every child that has ended; the rest keep running.
  void ReapEnded();
  // Waits up to `timeout` for `child` to end; the first wait that sees it
  // end reaps it.
  ProcessWaitOutcome WaitForChild(PosixChild& child, Milliseconds timeout);
  // Waits up to `timeout` for any process: one of ours through its record,
  // another through a pid descriptor or its start time. CannotOpen for an
  // invalid pid or one that names no process.
  ProcessWaitOutcome WaitForPid(std::uint32_t pid, Milliseconds timeout);
  // Ends `child` with SIGKILL; nothing to do once it has ended.
  MaybeType<Failure, void> Terminate(PosixChild& child);
  // How `child` ended, once a wait has seen it (nothing when someone else
  // reaped it).
  std::optional<ProcessExit> ExitOf(const PosixChild& child);

 private:
  bool TryReap(PosixChild& child);
  bool TryReapLocked(PosixChild& child);
  ProcessWaitOutcome WaitForOtherProcess(pid_t pid, Milliseconds timeout);

  const PosixProcessSystemOptions mOptions;
  std::atomic<bool> mUseDescriptors{true};
  std::mutex mMutex;
  std::unordered_map<pid_t, std::shared_ptr<PosixChild>> mChildren;  // not yet reaped
};

}  // namespace Nalo::detail
