#pragma once
// TaskQueue: the stand-in core's clock and its queue of due work (plugin
// tasks, timer firings, event deliveries).
//
// Guarantees:
// - A task runs at most once, never before its due time, and is moved out of
//   the queue before it runs, so it may post or cancel other tasks.
// - Tasks run in order of due time; tasks due at the same time run in the
//   order they were posted.
// - Virtual clock: time moves only in AdvanceBy/JumpToNext. AdvanceBy(d)
//   runs each task due before now + d at its own due time (Now() reads that
//   time while it runs), tasks those tasks post included, then sets Now() to
//   now + d.
// - Real clock: Now() is the system's monotonic time since construction;
//   AdvanceBy only runs what is due.
// - Time never stands still for ever: one call (RunOne, RunDue, AdvanceBy,
//   JumpToNext, with the calls that its tasks make inside it) runs at most
//   kMaxTasksPerInstant tasks at one virtual instant (on the real clock: in
//   all). At that bound the queue stops, drops the queued runs that carry
//   the label of the task that reached it (a task or timer that keeps posting
//   itself with no delay), and keeps a Stall naming it until TakeStall().
//
//   Nalo::Host::TaskQueue queue(Nalo::Host::ClockMode::Virtual);
//   queue.Post("tick", 0, 500'000'000, [] { ... });
//   queue.AdvanceBy(std::chrono::seconds(1));   // the tick ran at 0.5 s

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/core/Host.h"

namespace Nalo::Host {

// Why the queue stopped running tasks at one instant.
struct Stall {
  std::string label;  // of the task that reached the bound
  std::uint64_t atNanoseconds = 0;
  std::size_t taskCount = 0;  // tasks run at that instant
  std::size_t dropped = 0;    // queued runs of that label dropped
};

// "Time stood still at 1.5 s: 100000 tasks ran at that instant, the last
// of them "Timer: t"; its 1 queued run was dropped."
[[nodiscard]] std::string StallMessage(const Stall& stall);

class TaskQueue {
 public:
  static constexpr std::size_t kMaxTasksPerInstant = 100'000;

  // `onStall`, when set, is told of each stall as it happens (the host logs
  // it); the stall is kept for TakeStall() all the same.
  explicit TaskQueue(ClockMode mode, std::function<void(const Stall&)> onStall = {});

  [[nodiscard]] ClockMode Mode() const noexcept { return mMode; }
  // Nanoseconds since construction.
  [[nodiscard]] std::uint64_t Now() const noexcept;

  // Queues `task` due `delayNanoseconds` from now. `owner` (a plugin handle,
  // or 0 for the host) lets CancelOwnedBy drop the task. Returns its id.
  std::uint64_t Post(std::string label, std::uint32_t owner, std::uint64_t delayNanoseconds,
                     std::function<void()> task);
  // Drops every queued task of `owner` without running it.
  void CancelOwnedBy(std::uint32_t owner);

  // Runs the first task due now, if any; false when none is due.
  bool RunOne();
  // Runs tasks due now until none is left (tasks they post with no delay
  // included).
  void RunDue();
  // See the guarantees above.
  void AdvanceBy(std::chrono::nanoseconds duration);
  // Virtual clock only: moves time to the next task's due time (when it is
  // later than now) and runs it. False when the queue is empty.
  bool JumpToNext();

  [[nodiscard]] std::optional<std::uint64_t> NextDue() const;
  [[nodiscard]] std::size_t Size() const noexcept { return mTasks.size(); }
  // The queued tasks' labels, in run order.
  [[nodiscard]] std::vector<std::string> Labels() const;

  // The stall found since the last call, if any; clears it.
  [[nodiscard]] std::optional<Stall> TakeStall();

 private:
  // Marks the outermost of nested calls: the count of tasks at one instant
  // starts again with each outermost call.
  class CallScope {
   public:
    explicit CallScope(TaskQueue& queue) noexcept : mQueue(queue) {
      if (mQueue.mCallDepth++ == 0) {
        mQueue.mTasksAtInstant = 0;
        mQueue.mStopped = false;
      }
    }
    ~CallScope() { --mQueue.mCallDepth; }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
    CallScope(CallScope&&) = delete;
    CallScope& operator=(CallScope&&) = delete;

   private:
    TaskQueue& mQueue;
  };

  struct Task {
    std::string label;
    std::uint32_t owner = 0;
    std::function<void()> run;
  };
  // Keyed by (due time, posting sequence): the map's order is the run order.
  using Key = std::pair<std::uint64_t, std::uint64_t>;

  // Runs the first task; false (running nothing) once the bound is reached.
  bool RunFirst();
  bool RunOneDue();
  void SetVirtualNow(std::uint64_t now) noexcept;

  ClockMode mMode;
  std::chrono::steady_clock::time_point mStart;
  std::uint64_t mVirtualNow = 0;
  std::uint64_t mNextSequence = 1;
  std::map<Key, Task> mTasks;
  std::uint32_t mCallDepth = 0;
  std::size_t mTasksAtInstant = 0;
  bool mStopped = false;
  std::optional<Stall> mStall;
  std::function<void(const Stall&)> mOnStall;
};

}  // namespace Nalo::Host
