#include "host/http/PluginThread.h"

#include <chrono>
#include <memory>
#include <optional>
#include <utility>

namespace Nalo::Host::Http {

void PluginThread::CatchUp() {
  if (!mFollow) {
    return;
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - mStart);
  const auto target = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
  const std::uint64_t now = mHost.NowNanoseconds();
  if (target > now) {
    mHost.Advance(std::chrono::nanoseconds(target - now));
  }
}

void PluginThread::Run(const std::function<void(Host&)>& afterWork) {
  mStart = std::chrono::steady_clock::now() -
           std::chrono::nanoseconds(mFollow ? mHost.NowNanoseconds() : 0);
  for (;;) {
    CatchUp();
    mHost.RunDueTasks();
    if (afterWork) {
      afterWork(mHost);
    }
    std::deque<Job> jobs;
    {
      std::unique_lock lock(mMutex);
      const auto ready = [this] { return mStopping || !mJobs.empty(); };
      const std::optional<std::chrono::nanoseconds> next = mHost.TimeUntilNextTask();
      // On a virtual clock a pending task never falls due by waiting,
      // unless the thread follows real time (to the next whole millisecond).
      if (next && mClock == ClockMode::Real) {
        mWake.wait_for(lock, *next, ready);
      } else if (next && mFollow) {
        mWake.wait_for(lock, *next + std::chrono::milliseconds(1), ready);
      } else {
        mWake.wait(lock, ready);
      }
      if (mStopping) {
        break;
      }
      jobs.swap(mJobs);
    }
    for (Job& job : jobs) {
      CatchUp();
      job.work(mHost);
      job.done(true);
    }
  }
  std::deque<Job> left;
  {
    std::lock_guard lock(mMutex);
    left.swap(mJobs);
  }
  for (Job& job : left) {
    job.done(false);
  }
}

bool PluginThread::Call(std::function<void(Host&)> work) {
  auto ran = std::make_shared<std::promise<bool>>();
  std::future<bool> done = ran->get_future();
  Post(std::move(work), [ran](bool result) { ran->set_value(result); });
  return done.get();
}

void PluginThread::Post(std::function<void(Host&)> work, std::function<void(bool ran)> done) {
  {
    std::lock_guard lock(mMutex);
    if (!mStopping) {
      mJobs.push_back(Job{std::move(work), std::move(done)});
      done = nullptr;
    }
  }
  if (done) {
    done(false);
    return;
  }
  mWake.notify_one();
}

void PluginThread::Stop() {
  std::deque<Job> left;
  {
    std::lock_guard lock(mMutex);
    mStopping = true;
    left.swap(mJobs);
  }
  mWake.notify_all();
  // Refused here too, so that they are answered when Run() never runs.
  for (Job& job : left) {
    job.done(false);
  }
}

}  // namespace Nalo::Host::Http
