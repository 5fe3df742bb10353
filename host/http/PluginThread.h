#pragma once
// PluginThread: the core's one plugin thread for a Host that other threads
// (the HTTP front's I/O threads) talk to. A Host is not thread-safe; only the
// thread inside Run() touches it. Other threads hand it work through Post(),
// which queues the work and returns at once (a callback says when it ran),
// or Call(), which blocks until the plugin thread has run it.
//
// Between calls the plugin thread runs the Host's due work on its clock
// (tasks, timers, deliveries) and sleeps until the next task falls due or
// work is queued; it never polls. On a virtual clock nothing falls due by
// itself: time moves only when a call advances it.
//
//   Nalo::Host::Http::PluginThread thread(host, Nalo::Host::ClockMode::Real);
//   std::thread plugin([&] { thread.Run({}); });
//   Nalo::Host::Response answer;
//   thread.Call([&](Nalo::Host::Host& h) { answer = h.Request("GET", "/x"); });
//   thread.Stop();
//   plugin.join();

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>

#include "host/core/Host.h"

namespace Nalo::Host::Http {

class PluginThread {
 public:
  // `followRealTime` with a host on the virtual clock: before each round of
  // work the thread moves the host's time on to the real time elapsed since
  // Run() began, in whole milliseconds, so that the plugins live in real
  // time while every task runs at its exact due time and every call at a
  // whole millisecond, as a replay of a recording runs them.
  PluginThread(Host& host, ClockMode clock, bool followRealTime = false) noexcept
      : mHost(host), mClock(clock), mFollow(followRealTime && clock == ClockMode::Virtual) {}
  PluginThread(const PluginThread&) = delete;
  PluginThread& operator=(const PluginThread&) = delete;
  PluginThread(PluginThread&&) = delete;
  PluginThread& operator=(PluginThread&&) = delete;
  ~PluginThread() = default;

  // Runs the loop on the calling thread until Stop(). `afterWork` runs on
  // this thread after each round of work (due tasks or calls), so that the
  // caller can look at what the Host recorded.
  void Run(const std::function<void(Host&)>& afterWork);

  // From any thread but the plugin thread: runs `work` on the plugin thread
  // and returns once it has run (true), or false without running it when
  // the thread has stopped or stops before reaching it. `work` must not
  // throw.
  bool Call(std::function<void(Host&)> work);

  // From any thread: queues `work` and returns. `done` runs on the plugin
  // thread right after `work` with true, or with false and without `work`
  // when the thread has stopped or stops before reaching it (then on the
  // thread that stops it, or at once on this one). Neither may throw.
  void Post(std::function<void(Host&)> work, std::function<void(bool ran)> done);

  // Ends Run() after the work under way; queued calls return false. Safe
  // from any thread, and to call twice.
  void Stop();

 private:
  struct Job {
    std::function<void(Host&)> work;
    std::function<void(bool ran)> done;
  };

  // Following real time: moves the host's clock on to it.
  void CatchUp();

  Host& mHost;
  ClockMode mClock;
  const bool mFollow;
  std::chrono::steady_clock::time_point mStart;
  std::mutex mMutex;
  std::condition_variable mWake;
  std::deque<Job> mJobs;
  bool mStopping = false;
};

}  // namespace Nalo::Host::Http
