#include "host/TaskQueue.h"

#include <algorithm>

namespace Nalo::Host {

TaskQueue::TaskQueue(ClockMode mode) : mMode(mode), mStart(std::chrono::steady_clock::now()) {}

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

void TaskQueue::RunFirst() {
  auto first = mTasks.begin();
  // Out of the queue before it runs: running it may post, cancel or clear.
  std::function<void()> run = std::move(first->second.run);
  mTasks.erase(first);
  if (run) {
    run();
  }
}

bool TaskQueue::RunOne() {
  if (mTasks.empty() || mTasks.begin()->first.first > Now()) {
    return false;
  }
  RunFirst();
  return true;
}

void TaskQueue::RunDue() {
  while (RunOne()) {
  }
}

void TaskQueue::AdvanceBy(std::chrono::nanoseconds duration) {
  if (mMode == ClockMode::Real) {
    RunDue();
    return;
  }
  const std::uint64_t target =
      mVirtualNow + static_cast<std::uint64_t>(std::max<std::int64_t>(0, duration.count()));
  RunDue();
  while (!mTasks.empty() && mTasks.begin()->first.first <= target) {
    mVirtualNow = std::max(mVirtualNow, mTasks.begin()->first.first);
    RunFirst();
  }
  // A wait inside a task may have let time pass beyond the target.
  mVirtualNow = std::max(mVirtualNow, target);
}

bool TaskQueue::JumpToNext() {
  if (mTasks.empty()) {
    return false;
  }
  if (mMode == ClockMode::Virtual) {
    mVirtualNow = std::max(mVirtualNow, mTasks.begin()->first.first);
  } else if (mTasks.begin()->first.first > Now()) {
    return false;
  }
  RunFirst();
  return true;
}

std::optional<std::uint64_t> TaskQueue::NextDue() const {
  if (mTasks.empty()) {
    return std::nullopt;
  }
  return mTasks.begin()->first.first;
}

}  // namespace Nalo::Host
