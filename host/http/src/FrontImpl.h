#pragma once
// The HTTP front's shared state (private to host/http/src): the options, the
// I/O context and its threads, the listener, the connections held, and the
// calls handed to the plugin thread. HttpFront.cpp listens, admits and
// stops; each connection is a Session (Session.h).

// First: Asio's awaitable.hpp uses std::exchange without including it.
// clang-format off
#include <utility>
// clang-format on

#include <atomic>
#include <boost/asio.hpp>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "host/http/HttpFront.h"
#include "host/http/StaticFiles.h"

namespace Nalo::Host::Http {

class Session;

class HttpFront::Impl {
 public:
  Impl(PluginThread& pluginThread, EventHub& hub, HttpFrontOptions options)
      : mThread(pluginThread), mHub(hub), mOptions(std::move(options)) {
    if (mOptions.token.empty()) {
      mOptions.token = GenerateToken();
    }
  }
  ~Impl() { Stop(); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  Impl(Impl&&) = delete;
  Impl& operator=(Impl&&) = delete;

  MaybeType<Failure, void> Start();
  void Stop();

  // Runs `work` on the plugin thread, then `then` on the session's strand
  // (with false when the plugin thread stopped first).
  void CallPlugin(const std::shared_ptr<Session>& session, std::function<void(Host&)> work,
                  std::function<void(bool ran)> then);
  // Runs `work` on the plugin thread and `finished` right after it on that
  // thread (or with false, without `work`, on the thread that found the
  // plugin thread stopped). Stop waits for `finished`.
  void RunOnPluginThread(std::function<void(Host&)> work, std::function<void(bool ran)> finished);

  void Log(std::string_view line) const {
    if (mOptions.log) {
      mOptions.log(line);
    }
  }

  PluginThread& mThread;
  EventHub& mHub;
  HttpFrontOptions mOptions;
  int mPort = 0;
  std::atomic<bool> mStopped{false};
  StaticFiles mUi{StaticFiles::DefaultFolder()};  // the dashboard, answered without the token
  // Connections held (refused ones apart) and refusals being written.
  std::atomic<std::size_t> mConnections{0};
  std::atomic<std::size_t> mRefusing{0};
  std::mutex mSessionsMutex;
  std::set<Session*> mSessions;
  std::mutex mCallsMutex;
  std::condition_variable mCallsDone;
  std::size_t mPendingCalls = 0;
  std::vector<std::thread> mThreads;
  // Last, so that it goes first: the handlers it still holds end their
  // sessions while the members above are there.
  boost::asio::io_context mContext;
  boost::asio::ip::tcp::acceptor mAcceptor{mContext};
  boost::asio::steady_timer mAcceptPause{mContext};

 private:
  void Accept();
};

}  // namespace Nalo::Host::Http
