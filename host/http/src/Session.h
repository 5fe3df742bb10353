#pragma once
// One connection of the HTTP front (private to host/http/src): reads a
// request's header under the header deadline, screens it (Access.cpp: the
// dashboard's files, a preflight, the token), reads its body under the body
// deadline, has the core answer it and writes the answer; then the next
// request, or an event stream (EventStreams.cpp), or a control route
// (ControlRoutes.cpp). Every member runs on the connection's strand.

// First: Asio's awaitable.hpp uses std::exchange without including it.
// clang-format off
#include <utility>
// clang-format on

#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Answer.h"
#include "FrontImpl.h"

namespace Nalo::Host::Http {

class Session : public std::enable_shared_from_this<Session> {
 public:
  // `refused`: the front holds too many connections; this one is answered
  // 503 and closed.
  Session(HttpFront::Impl& front, boost::asio::ip::tcp::socket socket, bool refused);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  Session(Session&&) = delete;
  Session& operator=(Session&&) = delete;

  void Start();
  // From Stop, once no I/O thread runs.
  void Close();
  [[nodiscard]] boost::asio::any_io_executor Executor() { return mStream.get_executor(); }

 private:
  const HttpFrontOptions& Options() const { return mFront.mOptions; }
  boost::beast::http::request<boost::beast::http::string_body>& Request() { return mParser->get(); }

  // The read and answer loop (Session.cpp).
  void ReadHeader();
  // The next request's header, read while the plugin thread answers this
  // one: it waits until the answer is out (FinishCall).
  void ReadHeaderAhead();
  void StartHeaderRead(bool ahead);
  void OnHeaderRead(boost::beast::error_code error);
  void ArmHeaderDeadline();
  void FinishCall();
  void TakeWaitingHeader();
  void ReadFailed(boost::beast::error_code error);
  void OnHeader(boost::beast::error_code error);
  void ReadBody(std::chrono::milliseconds allowance);
  void Dispatch();
  void AddCors(detail::Answer& answer);
  detail::Rendering RenderingNow();
  void Reply(detail::Answer answer);
  void Reply(const detail::Answer& answer, const detail::Rendering& rendering);
  void WriteAnswer(std::size_t from, bool keepAlive);
  void AfterAnswer(bool keepAlive);
  void Shutdown();
  void LingerClose();
  void Drain();

  // The answer to a request that doesn't reach the routes (Access.cpp).
  std::optional<detail::Answer> Screen();

  // The host's own routes (ControlRoutes.cpp).
  void ServeControl(const std::string& path);

  // The event stream (EventStreams.cpp).
  // `target`'s query may name a prefix of the resources streamed.
  void StartEvents(std::string_view target);
  void WatchClient();
  void PumpEvents();
  void WriteStream(std::string text, bool last);
  void ArmKeepAlive();
  void EndEvents();

  HttpFront::Impl& mFront;
  boost::beast::tcp_stream mStream;
  const bool mRefused;
  boost::beast::flat_buffer mBuffer;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> mParser;
  std::string mOutgoing;
  std::array<char, 4096> mDiscard{};
  std::size_t mDiscarded = 0;
  // The event stream, when this connection serves one.
  std::shared_ptr<EventStream> mEvents;
  boost::asio::steady_timer mKeepAlive;
  std::shared_ptr<std::atomic<bool>> mWakePosted = std::make_shared<std::atomic<bool>>(false);
  bool mWriting = false;
  bool mEnding = false;
  // A request handed to the plugin thread (Dispatch). Its thread writes the
  // answer itself; the next request's header is read meanwhile and waits
  // for the answer to be out before it is looked at. Only the plugin
  // thread's completion and the strand change it.
  enum CallState : int {
    kNoCall,       // no request is with the plugin thread
    kCalling,      // one is: its answer isn't out yet
    kNextWaiting,  // and the next request's header was read (or failed)
  };
  std::atomic<int> mCall{kNoCall};
  bool mReadingAhead = false;
  boost::beast::error_code mWaitingError;
  // The deadline of a header read ahead. Beast's own would close the
  // socket when it passes, perhaps while the plugin thread writes to it;
  // this one closes only a connection that no call is answering.
  boost::asio::steady_timer mHeaderDeadline;
};

}  // namespace Nalo::Host::Http
