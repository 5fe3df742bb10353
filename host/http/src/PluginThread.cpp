#include "host/http/PluginThread.h"

#include <chrono>
#include <optional>
#include <utility>

namespace Nalo::Host::Http {

void PluginThread::Run(const std::function<void(Host&)>& afterWork) {
  for (;;) {
    mHost.RunDueTasks();
    if (afterWork) {
      afterWork(mHost);
    }
    std::deque<Job> jobs;
    {
      std::unique_lock lock(mMutex);
      const auto ready = [this] { return mStopping || !mJobs.empty(); };
      const std::optional<std::chrono::nanoseconds> next = mHost.TimeUntilNextTask();
      // On a virtual clock a pending task never falls due by waiting.
      if (next && mClock == ClockMode::Real) {
        mWake.wait_for(lock, *next, ready);
      } else {
        mWake.wait(lock, ready);
      }
      if (mStopping) {
        break;
      }
      jobs.swap(mJobs);
    }
    for (Job& job : jobs) {
      job.work(mHost);
      job.done.set_value(true);
    }
  }
  std::deque<Job> left;
  {
    std::lock_guard lock(mMutex);
    left.swap(mJobs);
  }
  for (Job& job : left) {
    job.done.set_value(false);
  }
}

bool PluginThread::Call(std::function<void(Host&)> work) {
  std::future<bool> done;
  {
    std::lock_guard lock(mMutex);
    if (mStopping) {
      return false;
    }
    Job& job = mJobs.emplace_back();
    job.work = std::move(work);
    done = job.done.get_future();
  }
  mWake.notify_one();
  return done.get();
}

void PluginThread::Stop() {
  {
    std::lock_guard lock(mMutex);
    mStopping = true;
  }
  mWake.notify_all();
}

std::size_t PluginThread::QueuedCalls() const {
  std::lock_guard lock(mMutex);
  return mJobs.size();
}

}  // namespace Nalo::Host::Http
