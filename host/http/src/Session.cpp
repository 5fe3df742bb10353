#include "Session.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "FrontMessages.h"
#include "host/core/Host.h"
#include "host/http/RequestTranslation.h"

namespace Nalo::Host::Http {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using namespace detail;

Session::Session(HttpFront::Impl& front, tcp::socket socket, bool refused)
    : mFront(front),
      mStream(std::move(socket)),
      mRefused(refused),
      mKeepAlive(mStream.get_executor()),
      mHeaderDeadline(mStream.get_executor()) {
  (mRefused ? mFront.mRefusing : mFront.mConnections).fetch_add(1);
  std::lock_guard lock(mFront.mSessionsMutex);
  mFront.mSessions.insert(this);
}

Session::~Session() {
  if (mEvents) {
    mEvents->SetWaker(nullptr);
    mFront.mHub.Unsubscribe(mEvents);
  }
  (mRefused ? mFront.mRefusing : mFront.mConnections).fetch_sub(1);
  std::lock_guard lock(mFront.mSessionsMutex);
  mFront.mSessions.erase(this);
}

void Session::Start() {
  if (mRefused) {
    detail::Answer busy =
        Refusal(kUnavailable, Failure(kUnavailable, Message::kBusy,
                                      {{"count", std::to_string(mFront.mOptions.maxConnections)}})
                                  .Message());
    busy.headers.emplace_back("Retry-After", "1");
    Reply(std::move(busy));
    return;
  }
  ReadHeader();
}

void Session::Close() {
  beast::error_code ignored;
  mKeepAlive.cancel();
  mHeaderDeadline.cancel();
  mStream.socket().shutdown(tcp::socket::shutdown_both, ignored);
  mStream.socket().close(ignored);
}

void Session::ReadHeader() {
  StartHeaderRead(false);
}

void Session::ReadHeaderAhead() {
  StartHeaderRead(true);
}

void Session::StartHeaderRead(bool ahead) {
  mParser.emplace();
  mParser->header_limit(
      static_cast<std::uint32_t>(std::min<std::size_t>(Options().maxHeaderBytes, UINT32_MAX)));
  mParser->body_limit(static_cast<std::uint64_t>(Options().maxBodyBytes));
  mReadingAhead = ahead;
  if (ahead) {
    mStream.expires_never();
    ArmHeaderDeadline();
  } else {
    mStream.expires_after(Options().headerTimeout);
  }
  http::async_read_header(mStream, mBuffer, *mParser,
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                            self->OnHeaderRead(error);
                          });
}

void Session::OnHeaderRead(beast::error_code error) {
  if (mReadingAhead) {
    int calling = kCalling;
    if (mCall.compare_exchange_strong(calling, kNextWaiting)) {
      mWaitingError = error;
      return;  // FinishCall goes on once the answer is out
    }
    mReadingAhead = false;
    mHeaderDeadline.cancel();
  }
  OnHeader(error);
}

void Session::ArmHeaderDeadline() {
  mHeaderDeadline.expires_after(Options().headerTimeout);
  mHeaderDeadline.async_wait([weak = weak_from_this()](beast::error_code error) {
    const std::shared_ptr<Session> self = weak.lock();
    if (error || !self) {
      return;
    }
    if (self->mCall.load() != kNoCall) {
      // The plugin thread may be writing to the socket: the connection
      // ends once the answer is out and the next header still isn't in.
      self->ArmHeaderDeadline();
      return;
    }
    self->Shutdown();  // the pending read ends with operation_aborted
  });
}

// On the strand, once the answer of the call is out: the next request's
// header, if it was read meanwhile, is looked at now.
void Session::FinishCall() {
  if (mCall.exchange(kNoCall) == kNextWaiting) {
    TakeWaitingHeader();
  }
}

void Session::TakeWaitingHeader() {
  mReadingAhead = false;
  mHeaderDeadline.cancel();
  OnHeader(mWaitingError);
}

void Session::ReadFailed(beast::error_code error) {
  if (error == http::error::end_of_stream || error == asio::error::eof ||
      error == beast::error::timeout || error == asio::error::operation_aborted ||
      error == asio::error::connection_reset || error == http::error::partial_message) {
    Shutdown();
    return;
  }
  if (error == http::error::body_limit) {
    Reply(Refusal(kTooLarge, Failure(kTooLarge, Message::kBodyTooLarge,
                                     {{"limit", std::to_string(Options().maxBodyBytes)}})
                                 .Message()));
    return;
  }
  if (error == http::error::header_limit) {
    // The request line is parsed once it is whole: one that never was
    // is a target far over its limit.
    if (Request().target().empty()) {
      Reply(Refusal(kTargetTooLong,
                    Failure(kTargetTooLong, Message::kTargetTooLong,
                            {{"limit", std::to_string(Options().limits.maxTargetLength)}})
                        .Message()));
      return;
    }
    Reply(Refusal(kHeadersTooLarge, Failure(kHeadersTooLarge, Message::kHeadersTooLarge,
                                            {{"limit", std::to_string(Options().maxHeaderBytes)}})
                                        .Message()));
    return;
  }
  Reply(Refusal(kBadRequest, Message::kUnreadable));
}

void Session::OnHeader(beast::error_code error) {
  if (error) {
    ReadFailed(error);
    return;
  }
  const auto& request = Request();
  const auto count = static_cast<std::size_t>(std::distance(request.begin(), request.end()));
  if (count > Options().limits.maxHeaderCount) {
    Reply(Refusal(kHeadersTooLarge,
                  Failure(kHeadersTooLarge, Message::kHeaderCount,
                          {{"count", std::to_string(count)},
                           {"limit", std::to_string(Options().limits.maxHeaderCount)}})
                      .Message()));
    return;
  }
  if (request.count(http::field::transfer_encoding) > 0 && !mParser->chunked()) {
    const std::string coding(request[http::field::transfer_encoding].substr(0, 40));
    Reply(Refusal(kBadRequest,
                  Failure(kBadRequest, Message::kTransferCoding, {{"coding", HeaderSafe(coding)}})
                      .Message()));
    return;
  }
  if (std::optional<detail::Answer> screened = Screen()) {
    Reply(std::move(*screened));
    return;
  }
  if (auto checked =
          CheckRequestLine(View(request.method_string()), View(request.target()), Options().limits);
      checked.HasFailure()) {
    Reply(Refusal(checked.GetFailure().Code(), checked.GetFailure().Message()));
    return;
  }
  if (mParser->is_done()) {
    Dispatch();
    return;
  }
  // A body follows: its deadline allows the slowest rate served.
  const std::uint64_t expected =
      mParser->chunked() ? Options().maxBodyBytes : mParser->content_length().value_or(0);
  const auto allowance = std::chrono::milliseconds(
      expected * 1000 / std::max<std::size_t>(Options().bodyBytesPerSecond, 1));
  if (beast::iequals(request[http::field::expect], "100-continue")) {
    mOutgoing = "HTTP/1.1 100 Continue\r\n\r\n";
    mStream.expires_after(Options().writeTimeout);
    asio::async_write(
        mStream, asio::buffer(mOutgoing),
        [self = shared_from_this(), allowance](beast::error_code written, std::size_t) {
          if (written) {
            self->Shutdown();
          } else {
            self->ReadBody(allowance);
          }
        });
    return;
  }
  ReadBody(allowance);
}

void Session::ReadBody(std::chrono::milliseconds allowance) {
  mStream.expires_after(Options().bodyTimeout + allowance);
  http::async_read(mStream, mBuffer, *mParser,
                   [self = shared_from_this()](beast::error_code error, std::size_t) {
                     if (error) {
                       self->ReadFailed(error);
                     } else {
                       self->Dispatch();
                     }
                   });
}

void Session::AddCors(detail::Answer& answer) {
  const std::string& origin = Options().corsOrigin;
  if (!origin.empty() && mParser && Request()[http::field::origin] == origin) {
    answer.headers.emplace_back("Access-Control-Allow-Origin", origin);
    answer.headers.emplace_back("Access-Control-Expose-Headers", "X-Status-Reason");
    answer.headers.emplace_back("Vary", "Origin");
  }
}

void Session::Dispatch() {
  const auto& request = Request();
  const std::string_view target = View(request.target());
  const std::string_view path = target.substr(0, target.find('?'));
  if (path == kEventsPath && request.method() == http::verb::get) {
    StartEvents(target);
    return;
  }
  if (path.starts_with(kControlPrefix)) {
    ServeControl(std::string(path));
    return;
  }
  IncomingRequest incoming;
  incoming.method = std::string(request.method_string());
  incoming.target = std::string(target);
  incoming.headers.reserve(16);
  for (const auto& field : request) {
    incoming.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
  }
  incoming.body = std::move(Request().body());
  auto translated = TranslateRequest(incoming, Options().limits);
  if (translated.HasFailure()) {
    detail::Answer refused =
        Refusal(translated.GetFailure().Code(), translated.GetFailure().Message());
    refused.close = false;
    Reply(std::move(refused));
    return;
  }
  auto call = std::make_shared<TranslatedRequest>(std::move(translated).Value());
  if (call->method == "HEAD") {
    call->method = "GET";  // answered like GET, without its body
  }
  // The plugin thread renders the answer and writes it to the socket
  // itself, without waiting: nothing else writes to the socket until the
  // call is finished. When the whole answer went out on a kept connection,
  // the call ends there, on the plugin thread, and the strand isn't woken
  // for it; otherwise the strand writes the rest (or the refusal) and ends
  // it. Meanwhile the strand reads the next request's header (ahead).
  struct Outcome {
    std::string text;
    std::size_t sent = 0;
  };
  auto outcome = std::make_shared<Outcome>();
  auto rendering = std::make_shared<const Rendering>(RenderingNow());
  const bool keepAlive = rendering->keepAlive;
  Recorder* recorder = Options().recorder;
  const int socket = mStream.socket().native_handle();
  if (keepAlive) {
    mCall.store(kCalling);  // before the plugin thread may finish
  }
  mFront.RunOnPluginThread(
      [call, outcome, recorder, socket, rendering](Host& host) {
        if (recorder != nullptr) {
          recorder->Before();
        }
        // The recording keeps the answer's value; otherwise its text is all
        // that is written out.
        const Response response = recorder != nullptr
                                      ? host.Request(call->method, call->path, call->body,
                                                     call->contentType, call->headers)
                                      : host.RequestText(call->method, call->path, call->body,
                                                         call->contentType, call->headers);
        if (recorder != nullptr) {
          recorder->Request(host.NowNanoseconds(), call->method, call->path, call->contentType,
                            call->body, response);
        }
        detail::Answer answer;
        answer.status = response.status;
        answer.reason = response.reason;
        answer.json = ResponseJson(response);
        outcome->text = Render(answer, *rendering);
        const ssize_t sent =
            ::send(socket, outcome->text.data(), outcome->text.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        outcome->sent = sent > 0 ? static_cast<std::size_t>(sent) : 0;
      },
      [self = shared_from_this(), outcome, rendering, keepAlive](bool ran) {
        if (ran && keepAlive && outcome->sent == outcome->text.size()) {
          if (self->mCall.exchange(kNoCall) == kNextWaiting) {
            asio::post(self->Executor(), [self] { self->TakeWaitingHeader(); });
          }
          return;
        }
        asio::post(self->Executor(), [self, outcome, rendering, keepAlive, ran] {
          if (!ran) {
            self->Reply(Refusal(kUnavailable, Message::kStopping), *rendering);
            return;
          }
          self->mOutgoing = std::move(outcome->text);
          self->WriteAnswer(outcome->sent, keepAlive);
        });
      });
  if (keepAlive) {
    ReadHeaderAhead();
  }
}

detail::Rendering Session::RenderingNow() {
  Rendering rendering;
  rendering.head = mParser && Request().method() == http::verb::head;
  rendering.version10 = mParser && Request().version() == 10;
  rendering.keepAlive = !mRefused && mParser && mParser->is_done() && Request().keep_alive();
  detail::Answer cors;
  AddCors(cors);
  rendering.headers = std::move(cors.headers);
  return rendering;
}

// Callers hand their answer over (std::move); it is only read here.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void Session::Reply(detail::Answer answer) {
  Reply(answer, RenderingNow());
}

void Session::Reply(const detail::Answer& answer, const detail::Rendering& rendering) {
  const bool keepAlive = rendering.keepAlive && !answer.close;
  mOutgoing = Render(answer, rendering);
  WriteAnswer(0, keepAlive);
}

void Session::WriteAnswer(std::size_t from, bool keepAlive) {
  if (from >= mOutgoing.size()) {
    AfterAnswer(keepAlive);
    return;
  }
  mStream.expires_after(Options().writeTimeout);
  asio::async_write(mStream, asio::buffer(mOutgoing.data() + from, mOutgoing.size() - from),
                    [self = shared_from_this(), keepAlive](beast::error_code error, std::size_t) {
                      if (error) {
                        self->Shutdown();
                      } else {
                        self->AfterAnswer(keepAlive);
                      }
                    });
}

void Session::AfterAnswer(bool keepAlive) {
  if (mReadingAhead) {
    // The answer of a call: the next header is being read already.
    if (keepAlive) {
      FinishCall();
      return;
    }
    mReadingAhead = false;
    mCall.store(kNoCall);
    Shutdown();  // the read ahead ends with operation_aborted
    return;
  }
  if (keepAlive) {
    ReadHeader();
  } else {
    LingerClose();
  }
}

void Session::Shutdown() {
  beast::error_code ignored;
  mKeepAlive.cancel();
  mHeaderDeadline.cancel();
  mStream.socket().shutdown(tcp::socket::shutdown_both, ignored);
  mStream.close();
}

void Session::LingerClose() {
  beast::error_code ignored;
  mStream.socket().shutdown(tcp::socket::shutdown_send, ignored);
  mStream.expires_after(kLingerTime);
  Drain();
}

void Session::Drain() {
  mStream.async_read_some(asio::buffer(mDiscard),
                          [self = shared_from_this()](beast::error_code error, std::size_t n) {
                            self->mDiscarded += n;
                            if (error || self->mDiscarded > kLingerBytes) {
                              self->mStream.close();
                            } else {
                              self->Drain();
                            }
                          });
}

}  // namespace Nalo::Host::Http
