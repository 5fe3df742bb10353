#include "host/core/TaskQueue.h"

#include <algorithm>
#include <sstream>
#include <utility>

namespace Nalo::Host {

std::string StallMessage(const Stall& stall) {
  std::ostringstream text;
  text << "Time stood still at " << static_cast<double>(stall.atNanoseconds) / 1e9
       << " s: " << stall.taskCount << " tasks ran at that instant, the last of them \""
       << stall.label << "\"; its " << stall.dropped << " queued run"
       << (stall.dropped == 1 ? " was" : "s were") << " dropped.";
  return text.str();
}

TaskQueue::TaskQueue(ClockMode mode, std::function<void(const Stall&)> onStall)
    : mMode(mode), mStart(std::chrono::steady_clock::now()), mOnStall(std::move(onStall)) {}

std::uint64_t TaskQueue::Now() const noexcept {
  if (mMode == ClockMode::Virtual) {
    return mVirtualNow;
  }
  const auto elapsed = std::chrono::steady_clock::now() - mStart;
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
}

std::uint64_t TaskQueue::Post(std::string label, std::uint32_t owner,
                              std::uint64_t delayNanoseconds, std::function<void()> task) {
  const std::uint64_t sequence = mNextSequence++;
  mTasks.emplace(Key{Now() + delayNanoseconds, sequence},
                 Task{std::move(label), owner, std::move(task)});
  return sequence;
}

void TaskQueue::CancelOwnedBy(std::uint32_t owner) {
  std::erase_if(mTasks, [owner](const auto& entry) { return entry.second.owner == owner; });
}

void TaskQueue::SetVirtualNow(std::uint64_t now) noexcept {
  if (now != mVirtualNow) {
    mVirtualNow = now;
    mTasksAtInstant = 0;
  }
}

bool TaskQueue::RunFirst() {
  if (mStopped) {
    return false;
  }
  auto first = mTasks.begin();
  if (++mTasksAtInstant > kMaxTasksPerInstant) {
    // A task that is due again as soon as it has run would keep time here
    // for ever: stop, and end its chain by dropping its queued runs.
    const std::string label = first->second.label;
    const std::size_t dropped =
        std::erase_if(mTasks, [&](const auto& entry) { return entry.second.label == label; });
    mStall = Stall{label, Now(), mTasksAtInstant - 1, dropped};
    mStopped = true;
    if (mOnStall) {
      mOnStall(*mStall);
    }
    return false;
  }
  // Out of the queue before it runs: running it may post, cancel or clear.
  std::function<void()> run = std::move(first->second.run);
  mTasks.erase(first);
  if (run) {
    run();
  }
  return true;
}

bool TaskQueue::RunOneDue() {
  if (mTasks.empty() || mTasks.begin()->first.first > Now()) {
    return false;
  }
  return RunFirst();
}

bool TaskQueue::RunOne() {
  const CallScope scope(*this);
  return RunOneDue();
}

void TaskQueue::RunDue() {
  const CallScope scope(*this);
  while (RunOneDue()) {
  }
}

void TaskQueue::AdvanceBy(std::chrono::nanoseconds duration) {
  const CallScope scope(*this);
  if (mMode == ClockMode::Real) {
    while (RunOneDue()) {
    }
    return;
  }
  const std::uint64_t target =
      mVirtualNow + static_cast<std::uint64_t>(std::max<std::int64_t>(0, duration.count()));
  while (RunOneDue()) {
  }
  while (!mStopped && !mTasks.empty() && mTasks.begin()->first.first <= target) {
    SetVirtualNow(std::max(mVirtualNow, mTasks.begin()->first.first));
    RunFirst();
  }
  // A wait inside a task may have let time pass beyond the target.
  SetVirtualNow(std::max(mVirtualNow, target));
}

bool TaskQueue::JumpToNext() {
  const CallScope scope(*this);
  if (mTasks.empty()) {
    return false;
  }
  if (mMode == ClockMode::Virtual) {
    SetVirtualNow(std::max(mVirtualNow, mTasks.begin()->first.first));
  } else if (mTasks.begin()->first.first > Now()) {
    return false;
  }
  return RunFirst();
}

std::optional<Stall> TaskQueue::TakeStall() {
  return std::exchange(mStall, std::nullopt);
}

std::optional<std::uint64_t> TaskQueue::NextDue() const {
  if (mTasks.empty()) {
    return std::nullopt;
  }
  return mTasks.begin()->first.first;
}

std::vector<std::string> TaskQueue::Labels() const {
  std::vector<std::string> labels;
  labels.reserve(mTasks.size());
  for (const auto& [key, task] : mTasks) {
    labels.push_back(task.label);
  }
  return labels;
}

}  // namespace Nalo::Host
