#include "host/http/HttpFront.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/Json.h"
#include "host/Peers.h"
#include "host/http/StaticFiles.h"
#include "routing/PercentDecoding.h"
#include "routing/QueryString.h"

namespace Nalo::Host::Http {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr unsigned kBadRequest = 400;
constexpr unsigned kUnauthorized = 401;
constexpr unsigned kNotFound = 404;
constexpr unsigned kConflict = 409;
constexpr unsigned kTooLarge = 413;
constexpr unsigned kTargetTooLong = 414;
constexpr unsigned kHeadersTooLarge = 431;
constexpr unsigned kUnavailable = 503;
constexpr std::string_view kJson = "application/json";
constexpr std::string_view kEventsPath = "/events";
constexpr std::string_view kControlPrefix = "/host/v1/";
constexpr std::string_view kAccessFileName = "http-front.json";
// A connection closed after a refusal first reads (and drops) what the
// client still sends, for this long and up to this much, so that its
// unread request doesn't turn the close into a reset that loses the answer.
constexpr std::chrono::seconds kLingerTime{1};
constexpr std::size_t kLingerBytes = 2 * 1024 * 1024;

namespace Message {
constexpr std::string_view kUnauthorized =
    "This host needs its token: send \"Authorization: Bearer <token>\" or the token as the "
    "password of HTTP Basic.";
constexpr std::string_view kBusy = "The host holds {count} connections at once; try again.";
constexpr std::string_view kStopping = "The host is stopping.";
constexpr std::string_view kBind = "Can't listen on {address}:{port}: {error}";
constexpr std::string_view kAccessFile = "Can't write {path}: {error}";
constexpr std::string_view kNoControl = "There is no host control route {method} {path}.";
constexpr std::string_view kBadControlBody = "The body of {path} can't be read: {error}";
constexpr std::string_view kMissing = "The body of {path} needs the member {member}.";
constexpr std::string_view kRealClock =
    "Time moves by itself on this host's real clock; start it with --virtual-clock to advance "
    "it.";
constexpr std::string_view kBodyTooLarge = "The request body is larger than {limit} bytes.";
constexpr std::string_view kHeadersTooLarge =
    "The request's headers are larger than {limit} bytes.";
constexpr std::string_view kHeaderCount =
    "The request has {count} headers; at most {limit} are read.";
constexpr std::string_view kTargetTooLong = "The request target is longer than {limit} bytes.";
constexpr std::string_view kUnreadable = "The request can't be read as HTTP/1.1.";
constexpr std::string_view kTransferCoding =
    "The transfer coding {coding} is not read: send the body chunked or with a Content-Length.";
constexpr std::string_view kFaultStatus = "A fault's status lies between 100 and 599.";
constexpr std::string_view kFaultCount = "A fault's count is at least 1.";
constexpr std::string_view kDropped =
    "This stream fell more than {limit} events behind and was dropped; connect again.";
}  // namespace Message

// Decodes standard Base64; nullopt for anything else.
std::optional<std::string> DecodeBase64(std::string_view text) {
  std::string out;
  std::uint32_t buffer = 0;
  int bits = 0;
  std::size_t padding = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+') {
      value = 62;
    } else if (c == '/') {
      value = 63;
    } else if (c == '=') {
      ++padding;
      continue;
    } else {
      return std::nullopt;
    }
    if (padding > 0) {
      return std::nullopt;  // data after padding
    }
    buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  return out;
}

// Compares in time that depends on the length of `expected` only.
bool ConstantTimeEquals(std::string_view given, std::string_view expected) noexcept {
  unsigned difference = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const char mine = i < given.size() ? given[i] : 0;
    difference |= static_cast<unsigned char>(mine ^ expected[i]);
  }
  return difference == 0;
}


// Beast's text views as the standard's.
std::string_view View(beast::string_view text) noexcept {
  return {text.data(), text.size()};
}

// A header value as sent on: control bytes (a line break in a plugin's
// reason phrase) become spaces.
std::string HeaderSafe(std::string_view text) {
  std::string safe(text.substr(0, 256));
  for (char& c : safe) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      c = ' ';
    }
  }
  return safe;
}

// One server-sent event.
std::string FormatEvent(const StreamEvent& event) {
  std::string text;
  text.reserve(event.json.size() + event.name.size() + 40);
  text += "id: ";
  text += std::to_string(event.sequence);
  text += "\nevent: ";
  text += event.name;
  text += "\ndata: ";
  text += event.json;  // compact JSON holds no line break
  text += "\n\n";
  return text;
}

// `text` as one piece of a chunked body.
std::string Chunk(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string size;
  for (std::size_t n = text.size(); n > 0; n >>= 4) {
    size.insert(size.begin(), kDigits[n & 0xF]);
  }
  std::string chunk;
  chunk.reserve(size.size() + text.size() + 4);
  chunk.append(size).append("\r\n").append(text).append("\r\n");
  return chunk;
}

// The decoded value of the query parameter `name` of `target`; empty when
// it isn't there.
std::string QueryValue(std::string_view target, std::string_view name) {
  std::string value;
  static_cast<void>(VisitQueryString(target, [&](std::string_view key, std::string_view raw) {
    if (key != name) {
      return true;
    }
    value = percentDecode(raw);
    return false;
  }));
  return value;
}

void CloseOnExec(int descriptor) {
  const int flags = ::fcntl(descriptor, F_GETFD);
  if (flags >= 0) {
    ::fcntl(descriptor, F_SETFD, flags | FD_CLOEXEC);
  }
}

// An answer the front writes.
struct Answer {
  unsigned status = 200;
  std::string reason;  // X-Status-Reason; empty: the status's own phrase
  std::string json;    // the body; empty for none
  std::string contentType;  // the body's type; empty: JSON
  std::vector<std::pair<std::string, std::string>> headers;
  bool close = false;  // end the connection after it
};

Answer Refusal(unsigned status, std::string_view message) {
  Answer answer;
  answer.status = status;
  answer.json = ErrorJson(status, message);
  answer.close = true;
  return answer;
}

// What an answer's bytes depend on beside the answer itself.
struct Rendering {
  bool head = false;       // a HEAD request: no body
  bool version10 = false;  // an HTTP/1.0 request
  bool keepAlive = false;  // the connection may serve another request
  std::vector<std::pair<std::string, std::string>> headers;  // CORS
};

// The bytes of an answer: status line, headers, body.
std::string Render(const Answer& answer, const Rendering& rendering) {
  // An informational status can't end an exchange, and a status outside
  // the three digits can't be written: the core failed to answer.
  unsigned status = answer.status;
  if (status < 200 || status > 599) {
    status = 500;
  }
  const beast::string_view standard = http::obsolete_reason(http::int_to_status(status));
  std::string phrase = standard == "<unknown-status>"
                           ? (answer.reason.empty() ? std::string("Unknown") : HeaderSafe(answer.reason))
                           : std::string(standard);
  const bool noBody = status == 204 || status == 304;
  const bool keepAlive = rendering.keepAlive && !answer.close;
  std::string text;
  text.reserve(answer.json.size() + 256);
  text.append("HTTP/1.1 ").append(std::to_string(status)).append(" ").append(phrase).append("\r\n");
  if (!answer.reason.empty()) {
    text.append("X-Status-Reason: ").append(HeaderSafe(answer.reason)).append("\r\n");
  } else if (status >= 400) {
    text.append("X-Status-Reason: ").append(phrase).append("\r\n");
  }
  for (const auto& [name, value] : rendering.headers) {
    text.append(name).append(": ").append(value).append("\r\n");
  }
  for (const auto& [name, value] : answer.headers) {
    text.append(name).append(": ").append(value).append("\r\n");
  }
  if (!keepAlive) {
    text.append("Connection: close\r\n");
  } else if (rendering.version10) {
    text.append("Connection: keep-alive\r\n");
  }
  if (!noBody) {
    if (!answer.json.empty()) {
      const std::string_view type = answer.contentType.empty() ? kJson : answer.contentType;
      text.append("Content-Type: ").append(type).append("\r\n");
    }
    text.append("Content-Length: ").append(std::to_string(answer.json.size())).append("\r\n");
  }
  text.append("\r\n");
  if (!noBody && !rendering.head) {
    text.append(answer.json);
  }
  return text;
}

}  // namespace

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
  asio::io_context mContext;
  tcp::acceptor mAcceptor{mContext};
  asio::steady_timer mAcceptPause{mContext};

 private:
  void Accept();
};

// One connection: reads a request's header under the header deadline,
// screens it, reads its body under the body deadline, has the core answer
// it and writes the answer; then the next request, or an event stream.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(HttpFront::Impl& front, tcp::socket socket, bool refused)
      : mFront(front), mStream(std::move(socket)), mRefused(refused),
        mKeepAlive(mStream.get_executor()) {
    (mRefused ? mFront.mRefusing : mFront.mConnections).fetch_add(1);
    std::lock_guard lock(mFront.mSessionsMutex);
    mFront.mSessions.insert(this);
  }
  ~Session() {
    if (mEvents) {
      mEvents->SetWaker(nullptr);
      mFront.mHub.Unsubscribe(mEvents);
    }
    (mRefused ? mFront.mRefusing : mFront.mConnections).fetch_sub(1);
    std::lock_guard lock(mFront.mSessionsMutex);
    mFront.mSessions.erase(this);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  Session(Session&&) = delete;
  Session& operator=(Session&&) = delete;

  void Start() {
    if (mRefused) {
      Answer busy = Refusal(
          kUnavailable,
          Failure(kUnavailable, Message::kBusy,
                  {{"count", std::to_string(mFront.mOptions.maxConnections)}})
              .Message());
      busy.headers.emplace_back("Retry-After", "1");
      Reply(std::move(busy));
      return;
    }
    ReadHeader();
  }

  // From Stop, once no I/O thread runs.
  void Close() {
    beast::error_code ignored;
    mKeepAlive.cancel();
    mStream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    mStream.socket().close(ignored);
  }

  [[nodiscard]] asio::any_io_executor Executor() { return mStream.get_executor(); }

 private:
  const HttpFrontOptions& Options() const { return mFront.mOptions; }
  http::request<http::string_body>& Request() { return mParser->get(); }

  void ReadHeader() {
    mParser.emplace();
    mParser->header_limit(static_cast<std::uint32_t>(
        std::min<std::size_t>(Options().maxHeaderBytes, UINT32_MAX)));
    mParser->body_limit(static_cast<std::uint64_t>(Options().maxBodyBytes));
    mStream.expires_after(Options().headerTimeout);
    http::async_read_header(mStream, mBuffer, *mParser,
                            [self = shared_from_this()](beast::error_code error, std::size_t) {
                              self->OnHeader(error);
                            });
  }

  // A read that failed: a refusal for what can't be served, a quiet close
  // for a client that went away or ran out of time.
  void ReadFailed(beast::error_code error) {
    if (error == http::error::end_of_stream || error == asio::error::eof ||
        error == beast::error::timeout || error == asio::error::operation_aborted ||
        error == asio::error::connection_reset || error == http::error::partial_message) {
      Shutdown();
      return;
    }
    if (error == http::error::body_limit) {
      Reply(Refusal(kTooLarge,
                    Failure(kTooLarge, Message::kBodyTooLarge,
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
      Reply(Refusal(kHeadersTooLarge,
                    Failure(kHeadersTooLarge, Message::kHeadersTooLarge,
                            {{"limit", std::to_string(Options().maxHeaderBytes)}})
                        .Message()));
      return;
    }
    Reply(Refusal(kBadRequest, Message::kUnreadable));
  }

  void OnHeader(beast::error_code error) {
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
    if (std::optional<Answer> screened = Screen()) {
      Reply(std::move(*screened));
      return;
    }
    if (auto checked = CheckRequestLine(View(request.method_string()), View(request.target()),
                                        Options().limits);
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
      asio::async_write(mStream, asio::buffer(mOutgoing),
                        [self = shared_from_this(), allowance](beast::error_code written,
                                                               std::size_t) {
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

  void ReadBody(std::chrono::milliseconds allowance) {
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

  void AddCors(Answer& answer) {
    const std::string& origin = Options().corsOrigin;
    if (!origin.empty() && mParser && Request()[http::field::origin] == origin) {
      answer.headers.emplace_back("Access-Control-Allow-Origin", origin);
      answer.headers.emplace_back("Access-Control-Expose-Headers", "X-Status-Reason");
      answer.headers.emplace_back("Vary", "Origin");
    }
  }

  // The answer to a request that doesn't reach the routes: a preflight,
  // or one without the token.
  std::optional<Answer> Screen() {
    const auto& request = Request();
    const std::string_view target = View(request.target());
    if (auto file = mFront.mUi.Answer(View(request.method_string()),
                                      target.substr(0, target.find('?')))) {
      Answer page;
      page.status = static_cast<unsigned>(file->status);
      page.json = std::move(file->body);
      page.contentType = std::move(file->contentType);
      page.headers = std::move(file->headers);
      page.close = !mParser->is_done();  // a body sent with it is not read
      return page;
    }
    // A preflight carries no credentials: it is answered for the named
    // origin only, and says which methods and headers it may send.
    if (!Options().corsOrigin.empty() && request.method() == http::verb::options &&
        request.count(http::field::access_control_request_method) > 0) {
      if (request[http::field::origin] != Options().corsOrigin) {
        Answer refused = Refusal(403, "This origin may not call the host.");
        return refused;
      }
      Answer preflight;
      preflight.status = 204;
      preflight.close = !mParser->is_done();
      preflight.headers = {{"Access-Control-Allow-Methods",
                            "GET, HEAD, POST, PUT, PATCH, DELETE, OPTIONS"},
                           {"Access-Control-Allow-Headers", "Authorization, Content-Type"},
                           {"Access-Control-Max-Age", "600"}};
      return preflight;
    }
    bool authorized = false;
    for (auto [it, end] = request.equal_range(http::field::authorization);
         it != end && !authorized; ++it) {
      authorized = AuthorizationMatches(View(it->value()), Options().token);
    }
    if (!authorized) {
      Answer refused = Refusal(kUnauthorized, Message::kUnauthorized);
      refused.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"nalo-host\"");
      return refused;
    }
    return std::nullopt;
  }

  void Dispatch() {
    const auto& request = Request();
    const std::string_view target = View(request.target());
    const std::string_view path = target.substr(0, target.find('?'));
    if (path == kEventsPath && request.method() == http::verb::get) {
      StartEvents(QueryValue(target, "prefix"));
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
      Answer refused = Refusal(translated.GetFailure().Code(), translated.GetFailure().Message());
      refused.close = false;
      Reply(std::move(refused));
      return;
    }
    auto call = std::make_shared<TranslatedRequest>(std::move(translated).Value());
    if (call->method == "HEAD") {
      call->method = "GET";  // answered like GET, without its body
    }
    // The plugin thread renders the answer and writes it to the socket
    // itself, without waiting: nothing else touches the socket until the
    // strand hears back, and what didn't fit is written from the strand.
    struct Outcome {
      std::string text;
      std::size_t sent = 0;
      bool keepAlive = false;
    };
    auto outcome = std::make_shared<Outcome>();
    Rendering rendering = RenderingNow();
    outcome->keepAlive = rendering.keepAlive;
    Recorder* recorder = Options().recorder;
    const int socket = mStream.socket().native_handle();
    mFront.CallPlugin(
        shared_from_this(),
        [call, outcome, recorder, socket, rendering = std::move(rendering)](Host& host) {
          if (recorder != nullptr) {
            recorder->Before();
          }
          const Response response = host.Request(call->method, call->path, call->body,
                                                 call->contentType, call->headers);
          if (recorder != nullptr) {
            recorder->Request(host.NowNanoseconds(), call->method, call->path, call->contentType,
                              call->body, response);
          }
          Answer answer;
          answer.status = response.status;
          answer.reason = response.reason;
          answer.json = ResponseJson(response);
          outcome->text = Render(answer, rendering);
          const ssize_t sent = ::send(socket, outcome->text.data(), outcome->text.size(),
                                      MSG_DONTWAIT | MSG_NOSIGNAL);
          outcome->sent = sent > 0 ? static_cast<std::size_t>(sent) : 0;
        },
        [self = shared_from_this(), outcome](bool ran) {
          if (!ran) {
            self->Reply(Refusal(kUnavailable, Message::kStopping));
            return;
          }
          self->mOutgoing = std::move(outcome->text);
          self->WriteAnswer(outcome->sent, outcome->keepAlive);
        });
  }

  void ServeControl(const std::string& path);

  // What an answer to the current request depends on, taken on the strand
  // so that the plugin thread can write the answer itself.
  Rendering RenderingNow() {
    Rendering rendering;
    rendering.head = mParser && Request().method() == http::verb::head;
    rendering.version10 = mParser && Request().version() == 10;
    rendering.keepAlive = !mRefused && mParser && mParser->is_done() && Request().keep_alive();
    Answer cors;
    AddCors(cors);
    rendering.headers = std::move(cors.headers);
    return rendering;
  }

  void Reply(Answer answer) {
    const Rendering rendering = RenderingNow();
    const bool keepAlive = rendering.keepAlive && !answer.close;
    mOutgoing = Render(answer, rendering);
    WriteAnswer(0, keepAlive);
  }

  // Writes what is left of mOutgoing from `from`, then goes on with the
  // connection.
  void WriteAnswer(std::size_t from, bool keepAlive) {
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

  void AfterAnswer(bool keepAlive) {
    if (keepAlive) {
      ReadHeader();
    } else {
      LingerClose();
    }
  }

  void Shutdown() {
    beast::error_code ignored;
    mKeepAlive.cancel();
    mStream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    mStream.close();
  }

  // Ends the connection after a refusal: no more writes, then what the
  // client still sends is read and dropped for a while.
  void LingerClose() {
    beast::error_code ignored;
    mStream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    mStream.expires_after(kLingerTime);
    Drain();
  }
  void Drain() {
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

  // The event stream: a chunked answer that never ends on its own.
  void StartEvents(const std::string& prefix) {
    mEvents = mFront.mHub.Subscribe(prefix, mFront.mOptions.eventQueueLimit);
    Answer head;
    AddCors(head);
    std::string text =
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
        "X-Accel-Buffering: no\r\nTransfer-Encoding: chunked\r\n";
    for (const auto& [name, value] : head.headers) {
      text += name + ": " + value + "\r\n";
    }
    text += "\r\n";
    std::weak_ptr<Session> weak = weak_from_this();
    mEvents->SetWaker([weak, executor = Executor(), posted = mWakePosted]() {
      if (!posted->exchange(true)) {
        asio::post(executor, [weak] {
          if (auto self = weak.lock()) {
            self->PumpEvents();
          }
        });
      }
    });
    WriteStream(std::move(text), false);
    WatchClient();
  }

  // Reads what the client sends on a stream (nothing, normally): its end
  // or an error ends the stream at once.
  void WatchClient() {
    mStream.socket().async_read_some(
        asio::buffer(mDiscard), [self = shared_from_this()](beast::error_code error, std::size_t) {
          if (error) {
            self->EndEvents();
          } else {
            self->WatchClient();
          }
        });
  }

  void PumpEvents() {
    if (mEnding || mWriting) {
      return;  // a write under way pumps again when it is done
    }
    mWakePosted->store(false);
    EventStream::Batch batch = mEvents->Wait(std::chrono::milliseconds(0));
    std::string text;
    for (const auto& event : batch.events) {
      text += FormatEvent(*event);
    }
    if (batch.dropped) {
      BindingProperty reason;
      reason.member("message").SetString(
          Failure(0, Message::kDropped, {{"limit", std::to_string(Options().eventQueueLimit)}})
              .Message());
      text += "event: dropped\ndata: " + ToJson(reason) + "\n\n";
    }
    const bool last = batch.dropped || batch.closed;
    if (text.empty() && !last) {
      return;
    }
    WriteStream(text.empty() ? std::string() : Chunk(text), last);
  }

  void WriteStream(std::string text, bool last) {
    mOutgoing = std::move(text);
    if (last) {
      mOutgoing += "0\r\n\r\n";
    }
    mWriting = true;
    mStream.expires_after(Options().writeTimeout);
    asio::async_write(mStream, asio::buffer(mOutgoing),
                      [self = shared_from_this(), last](beast::error_code error, std::size_t) {
                        self->mWriting = false;
                        if (error || last) {
                          self->EndEvents();
                          return;
                        }
                        self->ArmKeepAlive();
                        self->PumpEvents();
                      });
  }

  // An idle stream writes a comment now and then, which also finds
  // clients that went away without a word.
  void ArmKeepAlive() {
    mKeepAlive.expires_after(Options().streamKeepAlive);
    mKeepAlive.async_wait([weak = weak_from_this()](beast::error_code error) {
      auto self = weak.lock();
      if (error || !self || self->mEnding || self->mWriting) {
        return;
      }
      self->WriteStream(Chunk(": keep-alive\n\n"), false);
    });
  }

  void EndEvents() {
    if (mEnding) {
      return;
    }
    mEnding = true;
    mKeepAlive.cancel();
    mEvents->SetWaker(nullptr);
    mFront.mHub.Unsubscribe(mEvents);
    Shutdown();
  }

  HttpFront::Impl& mFront;
  beast::tcp_stream mStream;
  const bool mRefused;
  beast::flat_buffer mBuffer;
  std::optional<http::request_parser<http::string_body>> mParser;
  std::string mOutgoing;
  std::array<char, 4096> mDiscard{};
  std::size_t mDiscarded = 0;
  // The event stream, when this connection serves one.
  std::shared_ptr<EventStream> mEvents;
  asio::steady_timer mKeepAlive;
  std::shared_ptr<std::atomic<bool>> mWakePosted = std::make_shared<std::atomic<bool>>(false);
  bool mWriting = false;
  bool mEnding = false;
};

void Session::ServeControl(const std::string& path) {
  const auto& request = Request();
  const http::verb method = request.method();
  BindingProperty body;
  if (!request.body().empty()) {
    BindingResult parsed =
        Http::ReadBody(View(request[http::field::content_type]), request.body());
    if (parsed.Failed()) {
      Answer refused = Refusal(kBadRequest, Failure(kBadRequest, Message::kBadControlBody,
                                                    {{"path", path}, {"error", parsed.ErrorMessage()}})
                                                .Message());
      Reply(std::move(refused));
      return;
    }
    body = std::move(parsed.Value());
  }
  const auto missing = [&](std::string_view member) {
    Reply(Refusal(kBadRequest,
                  Failure(kBadRequest, Message::kMissing, {{"path", path}, {"member", member}})
                      .Message()));
  };
  const auto text = [&body](std::string_view member) {
    const BindingProperty* found = body.Find(member);
    return found != nullptr ? found->AsString() : std::string();
  };
  Recorder* recorder = Options().recorder;
  std::function<void(Host&)> work;
  unsigned status = 204;
  auto answer = std::make_shared<std::string>();
  if (path == "/host/v1/lcds/push" && method == http::verb::post) {
    const BindingProperty* message = body.Find("body");
    if (text("type").empty() || message == nullptr) {
      missing(text("type").empty() ? "type" : "body");
      return;
    }
    auto step = std::make_shared<BindingProperty>();
    step->member("type").SetString(text("type"));
    step->member("body").assign(*message);
    if (!text("subtopic").empty()) {
      step->member("subtopic").SetString(text("subtopic"));
    }
    if (!text("clientId").empty()) {
      step->member("client-id").SetString(text("clientId"));
    }
    work = [step, recorder](Host& host) {
      if (recorder != nullptr) {
        recorder->Before();
      }
      const BindingProperty* subtopic = step->Find("subtopic");
      const BindingProperty* client = step->Find("client-id");
      host.GetPeers().PushLcds(step->Find("type")->AsString(), *step->Find("body"),
                               subtopic != nullptr ? subtopic->AsString() : std::string(),
                               client != nullptr ? client->AsString() : std::string());
      if (recorder != nullptr) {
        recorder->Step(host.NowNanoseconds(), "push-lcds", *step);
      }
    };
  } else if (path.starts_with("/host/v1/lcds/answers/") && method == http::verb::put) {
    const std::string call = path.substr(std::strlen("/host/v1/lcds/answers/"));
    const std::size_t dot = call.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == call.size()) {
      missing("destination.method in the path");
      return;
    }
    const auto toAnswer = [](const BindingProperty& item) {
      LcdsAnswer answerRecord;
      if (const BindingProperty* error = item.Find("error")) {
        const BindingProperty* code = item.Find("status");
        answerRecord.failure =
            Failure(static_cast<std::uint32_t>(code != nullptr ? code->AsUnsigned(500) : 500),
                    error->AsString());
      } else {
        if (const BindingProperty* type = item.Find("type")) {
          answerRecord.typeName = type->AsString();
        }
        if (const BindingProperty* value = item.Find("body")) {
          answerRecord.body.assign(*value);
        }
      }
      return answerRecord;
    };
    auto answers = std::make_shared<std::vector<LcdsAnswer>>();
    if (const BindingProperty* list = body.Find("answers")) {
      for (const BindingProperty& item : list->Elements()) {
        answers->push_back(toAnswer(item));
      }
    } else if (!body.IsEmpty()) {
      answers->push_back(toAnswer(body));
    }
    work = [answers, call, recorder, destination = call.substr(0, dot),
            name = call.substr(dot + 1)](Host& host) {
      if (recorder != nullptr && !answers->empty()) {
        BindingProperty step;
        step.member("call").SetString(std::string_view(call));
        BindingProperty& list = step.member("answers").MakeCollection();
        for (const LcdsAnswer& item : *answers) {
          BindingProperty& entry = list.at(list.size());
          if (item.failure) {
            entry.member("status").SetUnsigned(item.failure->Code());
            entry.member("error").SetString(item.failure->Message());
          } else {
            entry.member("type").SetString(std::string_view(item.typeName));
            entry.member("body").assign(item.body);
          }
        }
        recorder->Step(host.NowNanoseconds(), "lcds-answer", step);
      }
      host.GetPeers().SetLcdsAnswers(destination, name, std::move(*answers));
    };
  } else if (path == "/host/v1/faults" && method == http::verb::post) {
    if (text("path").empty()) {
      missing("path");
      return;
    }
    const BindingProperty* countValue = body.Find("count");
    const BindingProperty* statusValue = body.Find("status");
    const std::int64_t count = countValue != nullptr ? countValue->AsSigned(0) : 1;
    const std::int64_t code = statusValue != nullptr ? statusValue->AsSigned(0) : 500;
    if (code < 100 || code > 599) {
      Reply(Refusal(kBadRequest, Message::kFaultStatus));
      return;
    }
    if (count < 1) {
      Reply(Refusal(kBadRequest, Message::kFaultCount));
      return;
    }
    auto step = std::make_shared<BindingProperty>();
    step->member("path").SetString(text("path"));
    step->member("count").SetUnsigned(static_cast<std::uint64_t>(count));
    step->member("status").SetUnsigned(static_cast<std::uint64_t>(code));
    step->member("error").SetString(text("error").empty() ? "Injected fault." : text("error"));
    work = [step, recorder](Host& host) {
      host.GetPeers().InjectFault(
          step->Find("path")->AsString(),
          static_cast<std::uint32_t>(std::min<std::uint64_t>(step->Find("count")->AsUnsigned(),
                                                             UINT32_MAX)),
          static_cast<std::uint32_t>(step->Find("status")->AsUnsigned()),
          step->Find("error")->AsString());
      if (recorder != nullptr) {
        recorder->Step(host.NowNanoseconds(), "fault", *step);
      }
    };
  } else if (path == "/host/v1/advance" && method == http::verb::post) {
    if (Options().clock != ClockMode::Virtual) {
      Reply(Refusal(kConflict, Message::kRealClock));
      return;
    }
    const BindingProperty* seconds = body.Find("seconds");
    if (seconds == nullptr) {
      missing("seconds");
      return;
    }
    double value = seconds->GetFloat(static_cast<double>(seconds->AsSigned(0)));
    value = std::clamp(value, 0.0, 365.0 * 24 * 3600);
    work = [value](Host& host) {
      host.Advance(std::chrono::nanoseconds(static_cast<std::int64_t>(value * 1e9)));
    };
  } else if (path == "/host/v1/status" &&
             (method == http::verb::get || method == http::verb::head)) {
    status = 200;
    const bool virtualClock = Options().clock == ClockMode::Virtual;
    EventHub* hub = &mFront.mHub;
    work = [answer, virtualClock, hub](Host& host) {
      BindingProperty record;
      BindingProperty& plugins = record.member("plugins").MakeCollection();
      for (const std::string& name : host.PluginNames()) {
        plugins.at(plugins.size()).SetString(std::string_view(name));
      }
      record.member("clock").SetString(virtualClock ? "virtual" : "real");
      record.member("nanoseconds").SetUnsigned(host.NowNanoseconds());
      record.member("wallClock").SetUnsigned(host.WallClockMilliseconds());
      record.member("eventStreams").SetUnsigned(hub->StreamCount());
      *answer = ToJson(record);
    };
  } else {
    Answer refused = Refusal(
        kNotFound,
        Failure(kNotFound, Message::kNoControl,
                {{"method", std::string(request.method_string())}, {"path", path}})
            .Message());
    refused.close = false;
    Reply(std::move(refused));
    return;
  }
  mFront.CallPlugin(shared_from_this(), std::move(work),
                    [self = shared_from_this(), status, answer](bool ran) {
                      if (!ran) {
                        self->Reply(Refusal(kUnavailable, Message::kStopping));
                        return;
                      }
                      Answer done;
                      done.status = status;
                      done.json = std::move(*answer);
                      self->Reply(std::move(done));
                    });
}

void HttpFront::Impl::CallPlugin(const std::shared_ptr<Session>& session,
                                 std::function<void(Host&)> work,
                                 std::function<void(bool ran)> then) {
  {
    std::lock_guard lock(mCallsMutex);
    ++mPendingCalls;
  }
  mThread.Post(std::move(work),
               [this, executor = session->Executor(), then = std::move(then)](bool ran) mutable {
                 asio::post(executor, [then = std::move(then), ran] { then(ran); });
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
    return Failure(500, Message::kBind,
                   {{"address", mOptions.address},
                    {"port", std::to_string(mOptions.port)},
                    {"error", error}});
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
  mAcceptor.async_accept(asio::make_strand(mContext), [this](beast::error_code error,
                                                             tcp::socket socket) {
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

std::string GenerateToken() {
  std::random_device source;  // the system's random source (getrandom)
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 8; ++i) {
    std::uint32_t word = source();
    for (int j = 0; j < 8; ++j) {
      token.push_back(kDigits[word & 0xF]);
      word >>= 4;
    }
  }
  return token;
}

bool AuthorizationMatches(std::string_view header, std::string_view token) noexcept {
  try {
    while (!header.empty() && header.front() == ' ') {
      header.remove_prefix(1);
    }
    const std::size_t space = header.find(' ');
    if (space == std::string_view::npos || token.empty()) {
      return false;
    }
    const std::string scheme = Lower(header.substr(0, space));
    std::string_view credentials = header.substr(space + 1);
    while (!credentials.empty() && (credentials.back() == ' ' || credentials.front() == ' ')) {
      credentials = credentials.front() == ' ' ? credentials.substr(1)
                                               : credentials.substr(0, credentials.size() - 1);
    }
    if (scheme == "bearer") {
      return ConstantTimeEquals(credentials, token);
    }
    if (scheme == "basic") {
      const std::optional<std::string> decoded = DecodeBase64(credentials);
      if (!decoded) {
        return false;
      }
      const std::size_t colon = decoded->find(':');
      return colon != std::string::npos &&
             ConstantTimeEquals(std::string_view(*decoded).substr(colon + 1), token);
    }
    return false;
  } catch (...) {
    return false;  // out of memory decoding a header: not authorised
  }
}

MaybeType<Failure, std::filesystem::path> WriteAccessFile(const std::filesystem::path& folder,
                                                          std::string_view url,
                                                          std::string_view token) {
  const std::filesystem::path path = folder / kAccessFileName;
  const auto failed = [&path](std::string_view error) {
    return Failure(500, Message::kAccessFile, {{"path", path.string()}, {"error", error}});
  };
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  BindingProperty record;
  record.member("url").SetString(url);
  record.member("token").SetString(token);
  record.member("authorization").SetString("Bearer " + std::string(token));
  record.member("example").SetString("curl -H 'Authorization: Bearer " + std::string(token) + "' " +
                                     std::string(url) + "/tav-gameflow/v1/session");
  const std::string text = ToJson(record, nullptr, "\n") + "\n";
  // Written beside the file and renamed over it, created 0600 from the
  // start, so that no other user can ever read the token in it.
  const std::filesystem::path temporary = path.string() + ".tmp";
  const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (descriptor < 0) {
    return failed(std::strerror(errno));
  }
  bool written = ::fchmod(descriptor, 0600) == 0;
  std::size_t offset = 0;
  while (written && offset < text.size()) {
    const ssize_t count = ::write(descriptor, text.data() + offset, text.size() - offset);
    written = count > 0;
    offset += count > 0 ? static_cast<std::size_t>(count) : 0;
  }
  written = ::close(descriptor) == 0 && written;
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    ::unlink(temporary.c_str());
    return failed(reason);
  }
  return path;
}

}  // namespace Nalo::Host::Http
