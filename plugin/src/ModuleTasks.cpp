// ModuleBase's deferred tasks and named repeating timers, run through the
// core's PostTask (the ordering guarantees are listed in ModuleBase.h).

#include <cmath>
#include <exception>
#include <sstream>

#include "diagnostics/Log.h"
#include "plugin/ModuleBase.h"
#include "plugin/src/PositionalText.h"
#include "plugin/src/RuntimeMessages.h"

namespace Nalo {

namespace {

constexpr double kNanosecondsPerSecond = 1e9;
constexpr std::uint64_t kNanosecondsPerMillisecond = 1'000'000;
constexpr double kMillisecondsPerSecond = 1e3;
constexpr std::uint64_t kMissingTimerGroups = kLogGroupDebug | kLogGroupNetwork;

}  // namespace

// --- Tasks and timers -------------------------------------------------------------------

void ModuleBase::Yield() {
  HostBeginWait(detail::kYieldLabel.data(), 0);
  HostPump();
  HostEndWait();
}

bool ModuleBase::PostTask(std::string_view label, std::uint64_t deadlineNanoseconds, Task task) {
  const double delay = DelaySecondsUntil(deadlineNanoseconds);
  TaskRecord* record = nullptr;
  std::uint64_t id = 0;
  {
    const std::lock_guard lock(mTaskMutex);
    id = mNextTaskId++;
    auto owned = std::make_unique<TaskRecord>(TaskRecord{this, id, std::move(task)});
    record = owned.get();
    mTasks.emplace(id, std::move(owned));
  }
  const std::string labelText(label);
  if (HostPostTask(labelText.c_str(), &ModuleBase::RunTaskTrampoline, record, delay, 0) != 0) {
    return true;
  }
  const std::lock_guard lock(mTaskMutex);
  mTasks.erase(id);
  return false;
}

double ModuleBase::DelaySecondsUntil(std::uint64_t deadlineNanoseconds) const {
  const std::uint64_t now = NowNanoseconds();
  // Whole milliseconds: deadlines computed a few microseconds apart for the
  // same moment ("now + 1 s" in two handlers of one callback) reach the core
  // as the same delay, so they run in posting order.
  const std::uint64_t delayMilliseconds =
      deadlineNanoseconds > now ? (deadlineNanoseconds - now + kNanosecondsPerMillisecond / 2) /
                                      kNanosecondsPerMillisecond
                                : 0;
  return static_cast<double>(delayMilliseconds) / kMillisecondsPerSecond;
}

void NALO_ABI_CALL ModuleBase::RunTaskTrampoline(void* userData) noexcept {
  if (userData == nullptr) {
    return;
  }
  const auto* record = static_cast<const TaskRecord*>(userData);
  record->module->RunTask(record->id);
}

void ModuleBase::RunTask(std::uint64_t id) noexcept {
  Task task;
  {
    const std::lock_guard lock(mTaskMutex);
    const auto found = mTasks.find(id);
    if (found == mTasks.end()) {
      return;  // dropped by OnShutdown
    }
    task = std::move(found->second->task);
    mTasks.erase(found);
  }
  if (task) {
    RunGuarded("a task", task);
  }
}

void ModuleBase::RunGuarded(std::string_view what, const std::function<void()>& callable) noexcept {
  try {
    callable();
  } catch (const std::exception& exception) {
    Log(LogLevel::Error, kLogGroupDebug, detail::kCallbackExceptionFormat, mShortName.c_str(),
        std::string(what).c_str(), exception.what());
  } catch (...) {
    Log(LogLevel::Error, kLogGroupDebug, detail::kCallbackExceptionFormat, mShortName.c_str(),
        std::string(what).c_str(), "an exception of unknown type");
  }
}

MaybeType<Failure, void> ModuleBase::SetTimer(std::string_view name, double intervalSeconds,
                                              Task callable) {
  // Written so that NaN fails too. An interval below a nanosecond would
  // round to a deadline of now.
  if (!(intervalSeconds * kNanosecondsPerSecond >= 1) || !std::isfinite(intervalSeconds)) {
    std::ostringstream interval;
    interval << intervalSeconds;
    return Failure(400, detail::kTimerIntervalRefused,
                   {{"name", name}, {"interval", interval.str()}});
  }
  const std::uint64_t deadline =
      NowNanoseconds() +
      static_cast<std::uint64_t>(std::llround(intervalSeconds * kNanosecondsPerSecond));
  const auto [position, inserted] = mTimers.try_emplace(std::string(name));
  Timer& timer = position->second;
  if (timer.record != nullptr && (timer.record->posted || timer.record->firing)) {
    // The core still holds the old schedule's firing: it keeps that record.
    DetachTimerRecord(std::move(timer.record), TimerRecord::State::Detached);
  }
  if (timer.record == nullptr) {
    timer.record = std::make_unique<TimerRecord>(TimerRecord{
        this, position->first, detail::FillPositional(detail::kTimerTaskLabel, {name})});
  }
  timer.callable = std::make_shared<Task>(std::move(callable));
  timer.intervalSeconds = intervalSeconds;
  timer.generation = ++mLastTimerGeneration;
  timer.nextDeadlineNanoseconds = deadline;
  timer.record->generation = timer.generation;
  ScheduleTimer(*timer.record, deadline);
  return {};
}

void ModuleBase::RemoveTimer(std::string_view name) {
  if (const auto found = mTimers.find(name); found != mTimers.end()) {
    DetachTimerRecord(std::move(found->second.record), TimerRecord::State::Detached);
    mTimers.erase(found);
  }
}

bool ModuleBase::HasTimer(std::string_view name) const {
  return mTimers.contains(name);
}

void ModuleBase::DetachTimerRecord(std::unique_ptr<TimerRecord> record, TimerRecord::State state) {
  if (record == nullptr || !(record->posted || record->firing)) {
    return;  // nothing refers to it any more
  }
  record->state = state;
  mDetachedTimerRecords.push_back(std::move(record));
}

void ModuleBase::ScheduleTimer(TimerRecord& record, std::uint64_t deadlineNanoseconds) {
  if (HostPostTask(record.label.c_str(), &ModuleBase::FireTimerTrampoline, &record,
                   DelaySecondsUntil(deadlineNanoseconds), 0) != 0) {
    record.posted = true;
  }
}

void NALO_ABI_CALL ModuleBase::FireTimerTrampoline(void* userData) noexcept {
  if (userData == nullptr) {
    return;
  }
  auto* record = static_cast<TimerRecord*>(userData);
  record->module->FireTimer(*record);
}

void ModuleBase::FireTimer(TimerRecord& record) {
  record.posted = false;
  const auto forget = [this](const TimerRecord& detached) {
    std::erase_if(mDetachedTimerRecords, [&](const std::unique_ptr<TimerRecord>& owned) {
      return owned.get() == &detached;
    });
  };
  if (record.state != TimerRecord::State::Current) {
    // Removed, set again or shut down since this firing was scheduled. Only
    // a removed timer is worth a line: a replaced one fires on its new
    // schedule.
    if (record.state == TimerRecord::State::Detached && !mTimers.contains(record.name)) {
      Log(LogLevel::Warn, kMissingTimerGroups, detail::kMissingTimerFormat, mShortName.c_str(),
          record.name.c_str());
    }
    forget(record);
    return;
  }
  const auto found = mTimers.find(record.name);
  if (found == mTimers.end() || found->second.record.get() != &record) {
    return;  // not reached: a current record belongs to its timer
  }
  Timer& timer = found->second;
  const std::uint64_t nextDeadline =
      NowNanoseconds() +
      static_cast<std::uint64_t>(std::llround(timer.intervalSeconds * kNanosecondsPerSecond));
  timer.nextDeadlineNanoseconds = nextDeadline;
  // Held by a copy: the callable may set or remove its own timer, which
  // detaches this record (it is firing) instead of freeing it.
  const std::shared_ptr<Task> callable = timer.callable;
  record.firing = true;
  RunGuarded(record.name, *callable);
  record.firing = false;
  if (record.state != TimerRecord::State::Current) {
    forget(record);
    return;
  }
  ScheduleTimer(record, nextDeadline);
}

}  // namespace Nalo
