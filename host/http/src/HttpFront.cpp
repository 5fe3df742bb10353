// The HTTP front's listening side: binds the address, accepts connections
// (beyond the limit, a connection is answered 503 at once), runs the I/O
// threads, hands calls to the plugin thread and stops. Each connection is a
// Session (Session.h).

#include <fcntl.h>

#include <algorithm>
#include <exception>
#include <string>

#include "FrontImpl.h"
#include "FrontMessages.h"
#include "Session.h"

namespace Nalo::Host::Http {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using namespace detail;

namespace {

void CloseOnExec(int descriptor) {
  const int flags = ::fcntl(descriptor, F_GETFD);
  if (flags >= 0) {
    ::fcntl(descriptor, F_SETFD, flags | FD_CLOEXEC);
  }
}

}  // namespace

void HttpFront::Impl::CallPlugin(const std::shared_ptr<Session>& session,
                                 std::function<void(Host&)> work,
                                 std::function<void(bool ran)> then) {
  RunOnPluginThread(std::move(work),
                    [executor = session->Executor(), then = std::move(then)](bool ran) mutable {
                      asio::post(executor, [then = std::move(then), ran] { then(ran); });
                    });
}

void HttpFront::Impl::RunOnPluginThread(std::function<void(Host&)> work,
                                        std::function<void(bool ran)> finished) {
  {
    std::lock_guard lock(mCallsMutex);
    ++mPendingCalls;
  }
  mThread.Post(std::move(work), [this, finished = std::move(finished)](bool ran) {
    finished(ran);
    // Notified under the lock: Stop may return as soon as it is released.
    std::lock_guard lock(mCallsMutex);
    --mPendingCalls;
    mCallsDone.notify_all();
  });
}

MaybeType<Failure, void> HttpFront::Impl::Start() {
  const auto failed = [this](const std::string& error) {
    beast::error_code ignored;
    mAcceptor.close(ignored);
    return Failure(
        500, Message::kBind,
        {{"address", mOptions.address}, {"port", std::to_string(mOptions.port)}, {"error", error}});
  };
  beast::error_code error;
  const asio::ip::address address = asio::ip::make_address(mOptions.address, error);
  if (error) {
    return failed(error.message());
  }
  const tcp::endpoint endpoint(address, static_cast<std::uint16_t>(mOptions.port));
  // SO_REUSEADDR lets a restarted host bind over connections still in
  // TIME_WAIT; it never lets two listeners share the port (SO_REUSEPORT,
  // never set, would).
  if (mAcceptor.open(endpoint.protocol(), error) ||
      mAcceptor.set_option(asio::socket_base::reuse_address(true), error) ||
      mAcceptor.bind(endpoint, error) ||
      mAcceptor.listen(asio::socket_base::max_listen_connections, error)) {
    return failed(error.message());
  }
  CloseOnExec(mAcceptor.native_handle());
  mPort = mAcceptor.local_endpoint(error).port();
  Accept();
  const unsigned threads = std::max(1u, mOptions.ioThreads);
  for (unsigned i = 0; i < threads; ++i) {
    mThreads.emplace_back([this] {
      for (;;) {
        try {
          mContext.run();
          return;
        } catch (const std::exception& caught) {
          Log(std::string("The HTTP front failed to serve a connection: ") + caught.what());
        }
      }
    });
  }
  return {};
}

void HttpFront::Impl::Accept() {
  mAcceptor.async_accept(asio::make_strand(mContext),
                         [this](beast::error_code error, tcp::socket socket) {
                           if (!mAcceptor.is_open()) {
                             return;
                           }
                           if (error) {
                             // Out of descriptors, say: try again a little later rather than spin.
                             mAcceptPause.expires_after(std::chrono::milliseconds(50));
                             mAcceptPause.async_wait([this](beast::error_code waited) {
                               if (!waited) {
                                 Accept();
                               }
                             });
                             return;
                           }
                           beast::error_code ignored;
                           CloseOnExec(socket.native_handle());
                           socket.set_option(tcp::no_delay(true), ignored);
                           if (mConnections.load() < mOptions.maxConnections) {
                             std::make_shared<Session>(*this, std::move(socket), false)->Start();
                           } else if (mRefusing.load() < mOptions.maxConnections) {
                             std::make_shared<Session>(*this, std::move(socket), true)->Start();
                           } else {
                             socket.close(ignored);
                           }
                           Accept();
                         });
}

void HttpFront::Impl::Stop() {
  if (mStopped.exchange(true)) {
    return;
  }
  mHub.Close();
  mContext.stop();
  for (std::thread& thread : mThreads) {
    thread.join();
  }
  mThreads.clear();
  beast::error_code ignored;
  mAcceptor.close(ignored);
  // The plugin thread runs or refuses every call it was handed (and may
  // write an answer to its connection); their completions go nowhere now,
  // but they must not outlive the I/O context, nor meet a closed socket.
  {
    std::unique_lock lock(mCallsMutex);
    mCallsDone.wait(lock, [this] { return mPendingCalls == 0; });
  }
  std::lock_guard lock(mSessionsMutex);
  for (Session* session : mSessions) {
    session->Close();
  }
}

HttpFront::HttpFront(PluginThread& pluginThread, EventHub& hub, HttpFrontOptions options)
    : mImpl(std::make_unique<Impl>(pluginThread, hub, std::move(options))) {}

HttpFront::~HttpFront() {
  Stop();
}

MaybeType<Failure, void> HttpFront::Start() {
  return mImpl->Start();
}

void HttpFront::Stop() {
  mImpl->Stop();
}

int HttpFront::Port() const noexcept {
  return mImpl->mPort;
}

std::string HttpFront::Url() const {
  std::string host = mImpl->mOptions.address;
  if (host.find(':') != std::string::npos) {
    host = "[" + host + "]";
  }
  return "http://" + host + ":" + std::to_string(mImpl->mPort);
}

const std::string& HttpFront::Token() const noexcept {
  return mImpl->mOptions.token;
}

}  // namespace Nalo::Host::Http
