#include "host/http/HttpFront.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/Json.h"
#include "binding/Yaml.h"
#include "host/Peers.h"
#include "host/http/StaticFiles.h"

namespace Nalo::Host::Http {

namespace {

constexpr int kUnauthorized = 401;
constexpr int kNotFound = 404;
constexpr int kConflict = 409;
constexpr int kBadRequest = 400;
constexpr int kUnavailable = 503;
constexpr std::string_view kJson = "application/json";
constexpr std::string_view kEventsPath = "/events";
constexpr std::string_view kControlPrefix = "/host/v1/";
constexpr std::string_view kAccessFileName = "http-front.json";

namespace Message {
constexpr std::string_view kUnauthorized =
    "This host needs its token: send \"Authorization: Bearer <token>\" or the token as the "
    "password of HTTP Basic.";
constexpr std::string_view kBusy = "The host serves {count} connections at once; try again.";
constexpr std::string_view kStopping = "The host is stopping.";
constexpr std::string_view kBind = "Can't listen on {address}:{port}.";
constexpr std::string_view kAccessFile = "Can't write {path}: {error}";
constexpr std::string_view kNoControl = "There is no host control route {path}.";
constexpr std::string_view kBadControlBody = "The body of {path} can't be read: {error}";
constexpr std::string_view kMissing = "The body of {path} needs the member {member}.";
constexpr std::string_view kRealClock =
    "Time moves by itself on this host's real clock; start it with --virtual-clock to advance "
    "it.";
constexpr std::string_view kTooLarge = "The request body is larger than {limit} bytes.";
constexpr std::string_view kDropped =
    "This stream fell more than {limit} events behind and was dropped; connect again.";
}  // namespace Message

// Set on the thread that answers connections over the limit.
thread_local bool tRefusing = false;

// cpp-httplib's task queue for connections: `workers` threads serve them;
// up to `waiting` more wait their turn; beyond that each connection is
// handed to one refusing thread, whose requests are answered 503 at once.
class ConnectionPool final : public httplib::TaskQueue {
 public:
  ConnectionPool(std::size_t workers, std::size_t waiting) : mWaitingLimit(waiting) {
    for (std::size_t i = 0; i < std::max<std::size_t>(workers, 1); ++i) {
      mThreads.emplace_back([this] { Serve(false); });
    }
    mThreads.emplace_back([this] { Serve(true); });
  }
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;
  ConnectionPool(ConnectionPool&&) = delete;
  ConnectionPool& operator=(ConnectionPool&&) = delete;
  ~ConnectionPool() override = default;

  void enqueue(std::function<void()> job) override {
    {
      std::lock_guard lock(mMutex);
      (mJobs.size() < mWaitingLimit ? mJobs : mRefusals).push_back(std::move(job));
    }
    mWake.notify_all();
  }

  void shutdown() override {
    {
      std::lock_guard lock(mMutex);
      mStopping = true;
    }
    mWake.notify_all();
    for (std::thread& thread : mThreads) {
      thread.join();
    }
  }

 private:
  void Serve(bool refusing) {
    tRefusing = refusing;
    auto& queue = refusing ? mRefusals : mJobs;
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mMutex);
        mWake.wait(lock, [&] { return mStopping || !queue.empty(); });
        if (queue.empty()) {
          return;  // stopping, and nothing left to close
        }
        job = std::move(queue.front());
        queue.pop_front();
      }
      job();  // serves the connection, then closes it
    }
  }

  const std::size_t mWaitingLimit;
  std::mutex mMutex;
  std::condition_variable mWake;
  std::deque<std::function<void()>> mJobs;
  std::deque<std::function<void()>> mRefusals;
  bool mStopping = false;
  std::vector<std::thread> mThreads;
};

// cpp-httplib listens with a backlog of 5 connections, so that a burst of
// clients connecting at once overflows it and some of them fail. Listening
// again on the bound socket raises the backlog.
class Server final : public httplib::Server {
 public:
  void RaiseBacklog(int backlog) { ::listen(svr_sock_, backlog); }
};

constexpr int kListenBacklog = 1024;

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

void SetJson(httplib::Response& res, int status, const std::string& json) {
  res.status = status;
  if (!json.empty()) {
    res.set_content(json, std::string(kJson));
  }
}

// The phrases of the refusals the front makes itself.
std::string_view RefusalReason(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 409:
      return "Conflict";
    case 413:
      return "Request Entity Too Large";
    case 414:
      return "Request-URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "Internal Server Error";
  }
}

void SetError(httplib::Response& res, int status, std::string_view message) {
  res.set_header("X-Status-Reason", std::string(RefusalReason(status)));
  SetJson(res, status, ErrorJson(static_cast<std::uint32_t>(status), message));
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

}  // namespace

class HttpFront::Impl {
 public:
  Impl(PluginThread& pluginThread, EventHub& hub, HttpFrontOptions options)
      : mThread(pluginThread), mHub(hub), mOptions(std::move(options)) {
    if (mOptions.token.empty()) {
      mOptions.token = GenerateToken();
    }
  }

  MaybeType<Failure, void> Start();
  void Stop();

  PluginThread& mThread;
  EventHub& mHub;
  HttpFrontOptions mOptions;
  Server mServer;
  std::thread mListener;
  int mPort = 0;
  std::atomic<bool> mStopped{false};
  StaticFiles mUi{StaticFiles::DefaultFolder()};  // the dashboard, answered without the token

 private:
  httplib::Server::HandlerResponse Screen(const httplib::Request& req, httplib::Response& res);
  void Serve(const httplib::Request& req, httplib::Response& res);
  void ServeEvents(const httplib::Request& req, httplib::Response& res);
  void ServeControl(const httplib::Request& req, httplib::Response& res);
  void AddCors(const httplib::Request& req, httplib::Response& res) const;
  void Log(std::string_view line) const {
    if (mOptions.log) {
      mOptions.log(line);
    }
  }
};

MaybeType<Failure, void> HttpFront::Impl::Start() {
  const std::size_t workers = mOptions.maxConnections;
  mServer.new_task_queue = [workers] { return new ConnectionPool(workers, workers); };
  mServer.set_payload_max_length(mOptions.maxBodyBytes);
  mServer.set_read_timeout(mOptions.readTimeout);
  mServer.set_write_timeout(mOptions.writeTimeout);
  mServer.set_keep_alive_timeout(mOptions.readTimeout.count());
  mServer.set_keep_alive_max_count(1000);
  mServer.set_tcp_nodelay(true);
  mServer.set_pre_routing_handler(
      [this](const httplib::Request& req, httplib::Response& res) { return Screen(req, res); });
  const auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    Serve(req, res);
  };
  const std::string any = ".*";
  mServer.Get(any, handler);
  mServer.Post(any, handler);
  mServer.Put(any, handler);
  mServer.Patch(any, handler);
  mServer.Delete(any, handler);
  mServer.Options(any, handler);
  mServer.set_exception_handler(
      [this](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
        std::string what = "unknown";
        try {
          std::rethrow_exception(error);
        } catch (const std::exception& caught) {
          what = caught.what();
        } catch (...) {
        }
        Log("The HTTP front failed to answer a request: " + what);
        SetError(res, 500, "The host failed to answer the request.");
      });
  mServer.set_error_handler([this](const httplib::Request&, httplib::Response& res) {
    // Refusals of the server itself get a JSON body too.
    if (!res.body.empty()) {
      return;
    }
    switch (res.status) {
      case 413:
        SetError(
            res, res.status,
            Failure(413, Message::kTooLarge, {{"limit", std::to_string(mOptions.maxBodyBytes)}})
                .Message());
        break;
      case 414:
      case 431:
        SetError(res, res.status, "The request's target or headers are too long.");
        break;
      default:
        SetError(res, res.status, "The request can't be read as HTTP/1.1.");
    }
  });
  if (mOptions.port == 0) {
    mPort = mServer.bind_to_any_port(mOptions.address);
  } else if (mServer.bind_to_port(mOptions.address, mOptions.port)) {
    mPort = mOptions.port;
  } else {
    mPort = -1;
  }
  if (mPort <= 0) {
    return Failure(500, Message::kBind,
                   {{"address", mOptions.address}, {"port", std::to_string(mOptions.port)}});
  }
  mServer.RaiseBacklog(kListenBacklog);
  mListener = std::thread([this] { static_cast<void>(mServer.listen_after_bind()); });
  return {};
}

void HttpFront::Impl::Stop() {
  if (mStopped.exchange(true)) {
    return;
  }
  mHub.Close();
  mServer.stop();
  if (mListener.joinable()) {
    mListener.join();
  }
}

httplib::Server::HandlerResponse HttpFront::Impl::Screen(const httplib::Request& req,
                                                         httplib::Response& res) {
  using Handled = httplib::Server::HandlerResponse;
  if (tRefusing) {
    res.set_header("Connection", "close");
    res.set_header("Retry-After", "1");
    SetError(
        res, kUnavailable,
        Failure(kUnavailable, Message::kBusy, {{"count", std::to_string(mOptions.maxConnections)}})
            .Message());
    return Handled::Handled;
  }
  const std::string_view target = req.target;
  if (auto file = mUi.Answer(req.method, target.substr(0, target.find('?')))) {
    for (const auto& [name, value] : file->headers) {
      res.set_header(name, value);
    }
    res.status = file->status;
    res.set_content(std::move(file->body), file->contentType);
    return Handled::Handled;
  }
  // A preflight carries no credentials: it is answered for the named
  // origin only, and says which methods and headers it may send.
  if (!mOptions.corsOrigin.empty() && req.method == "OPTIONS" &&
      req.has_header("Access-Control-Request-Method")) {
    if (req.get_header_value("Origin") != mOptions.corsOrigin) {
      SetError(res, 403, "This origin may not call the host.");
      return Handled::Handled;
    }
    AddCors(req, res);
    res.set_header("Access-Control-Allow-Methods", "GET, HEAD, POST, PUT, PATCH, DELETE, OPTIONS");
    res.set_header("Access-Control-Allow-Headers", "Authorization, Content-Type");
    res.set_header("Access-Control-Max-Age", "600");
    res.status = 204;
    return Handled::Handled;
  }
  bool authorized = false;
  const std::size_t count = req.get_header_value_count("Authorization");
  for (std::size_t i = 0; i < count && !authorized; ++i) {
    authorized = AuthorizationMatches(req.get_header_value("Authorization", i), mOptions.token);
  }
  if (!authorized) {
    AddCors(req, res);
    res.set_header("WWW-Authenticate", "Bearer realm=\"nalo-host\"");
    // The body of the refused request may still be unread.
    res.set_header("Connection", "close");
    SetError(res, kUnauthorized, Message::kUnauthorized);
    return Handled::Handled;
  }
  return Handled::Unhandled;
}

void HttpFront::Impl::AddCors(const httplib::Request& req, httplib::Response& res) const {
  if (!mOptions.corsOrigin.empty() && req.get_header_value("Origin") == mOptions.corsOrigin) {
    res.set_header("Access-Control-Allow-Origin", mOptions.corsOrigin);
    res.set_header("Vary", "Origin");
  }
}

void HttpFront::Impl::Serve(const httplib::Request& req, httplib::Response& res) {
  AddCors(req, res);
  const std::string_view target = req.target;
  const std::string_view path = target.substr(0, target.find('?'));
  if (path == kEventsPath && req.method == "GET") {
    ServeEvents(req, res);
    return;
  }
  if (path.starts_with(kControlPrefix)) {
    ServeControl(req, res);
    return;
  }
  IncomingRequest incoming;
  incoming.method = req.method;
  incoming.target = req.target;
  incoming.body = req.body;
  incoming.headers.assign(req.headers.begin(), req.headers.end());
  auto translated = TranslateRequest(incoming, mOptions.limits);
  if (translated.HasFailure()) {
    const Failure& failure = translated.GetFailure();
    SetError(res, static_cast<int>(failure.Code()), failure.Message());
    return;
  }
  const TranslatedRequest& request = translated.Value();
  Response response;
  const bool ran = mThread.Call([&](Host& host) {
    response = host.Request(request.method, request.path, request.body, request.contentType,
                            request.headers);
    if (mOptions.recorder != nullptr) {
      mOptions.recorder->Request(host.NowNanoseconds(), request.method, request.path,
                                 request.contentType, request.body, response);
    }
  });
  if (!ran) {
    SetError(res, kUnavailable, Message::kStopping);
    return;
  }
  // cpp-httplib writes its own phrase in the status line; the router's
  // phrase travels in a header of its own.
  if (!response.reason.empty()) {
    res.set_header("X-Status-Reason", response.reason);
  }
  SetJson(res, static_cast<int>(response.status), ResponseJson(response));
}

void HttpFront::Impl::ServeEvents(const httplib::Request& req, httplib::Response& res) {
  const std::string prefix = req.get_param_value("prefix");
  std::shared_ptr<EventStream> stream = mHub.Subscribe(prefix, mOptions.eventQueueLimit);
  res.set_header("Cache-Control", "no-cache");
  res.set_header("X-Accel-Buffering", "no");
  const auto keepAlive = mOptions.streamKeepAlive;
  const std::size_t limit = mOptions.eventQueueLimit;
  res.set_chunked_content_provider(
      "text/event-stream",
      [stream, keepAlive, limit](std::size_t, httplib::DataSink& sink) {
        EventStream::Batch batch = stream->Wait(keepAlive);
        std::string text;
        for (const auto& event : batch.events) {
          text += FormatEvent(*event);
        }
        if (batch.dropped) {
          BindingProperty reason;
          reason.member("message").SetString(
              Failure(0, Message::kDropped, {{"limit", std::to_string(limit)}}).Message());
          text += "event: dropped\ndata: " + ToJson(reason) + "\n\n";
        }
        if (text.empty() && !batch.closed) {
          text = ": keep-alive\n\n";
        }
        if (!text.empty() && !sink.write(text.data(), text.size())) {
          return false;  // the client went away
        }
        if (batch.dropped || batch.closed) {
          sink.done();
        }
        return true;
      },
      [this, stream](bool) { mHub.Unsubscribe(stream); });
}

void HttpFront::Impl::ServeControl(const httplib::Request& req, httplib::Response& res) {
  const std::string path = req.path;
  BindingProperty body;
  if (!req.body.empty()) {
    const std::string type = Lower(req.get_header_value("Content-Type"));
    BindingResult parsed = type.starts_with("application/x-yaml") || type.starts_with("text/x-yaml")
                               ? ParseYaml(req.body)
                               : ParseJson(req.body);
    if (parsed.Failed()) {
      SetError(res, kBadRequest,
               Failure(kBadRequest, Message::kBadControlBody,
                       {{"path", path}, {"error", parsed.ErrorMessage()}})
                   .Message());
      return;
    }
    body = std::move(parsed.Value());
  }
  const auto missing = [&](std::string_view member) {
    SetError(
        res, kBadRequest,
        Failure(kBadRequest, Message::kMissing, {{"path", path}, {"member", member}}).Message());
  };
  const auto text = [&body](std::string_view member) {
    const BindingProperty* found = body.Find(member);
    return found != nullptr ? found->AsString() : std::string();
  };
  const auto number = [&body](std::string_view member, std::uint64_t fallback) {
    const BindingProperty* found = body.Find(member);
    return found != nullptr ? found->AsUnsigned(fallback) : fallback;
  };
  std::function<void(Host&)> work;
  int status = 204;
  std::string answer;
  if (path == "/host/v1/lcds/push" && req.method == "POST") {
    const BindingProperty* message = body.Find("body");
    if (text("type").empty() || message == nullptr) {
      missing(text("type").empty() ? "type" : "body");
      return;
    }
    work = [this, &text, message](Host& host) {
      host.GetPeers().PushLcds(text("type"), *message, text("subtopic"), text("clientId"));
      if (mOptions.recorder != nullptr) {
        BindingProperty step;
        step.member("type").SetString(text("type"));
        step.member("body").assign(*message);
        if (!text("subtopic").empty()) {
          step.member("subtopic").SetString(text("subtopic"));
        }
        if (!text("clientId").empty()) {
          step.member("client-id").SetString(text("clientId"));
        }
        mOptions.recorder->Step(host.NowNanoseconds(), "push-lcds", step);
      }
    };
  } else if (path.starts_with("/host/v1/lcds/answers/") && req.method == "PUT") {
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
    // Owned by the work, which runs after this block has ended.
    auto answers = std::make_shared<std::vector<LcdsAnswer>>();
    if (const BindingProperty* list = body.Find("answers")) {
      for (const BindingProperty& item : list->Elements()) {
        answers->push_back(toAnswer(item));
      }
    } else if (!body.IsEmpty()) {
      answers->push_back(toAnswer(body));
    }
    work = [this, answers, call, destination = call.substr(0, dot),
            method = call.substr(dot + 1)](Host& host) {
      if (mOptions.recorder != nullptr && !answers->empty()) {
        BindingProperty step;
        step.member("call").SetString(std::string_view(call));
        BindingProperty& list = step.member("answers").MakeCollection();
        for (const LcdsAnswer& answer : *answers) {
          BindingProperty& item = list.at(list.size());
          if (answer.failure) {
            item.member("status").SetUnsigned(answer.failure->Code());
            item.member("error").SetString(answer.failure->Message());
          } else {
            item.member("type").SetString(std::string_view(answer.typeName));
            item.member("body").assign(answer.body);
          }
        }
        mOptions.recorder->Step(host.NowNanoseconds(), "lcds-answer", step);
      }
      host.GetPeers().SetLcdsAnswers(destination, method, std::move(*answers));
    };
  } else if (path == "/host/v1/faults" && req.method == "POST") {
    if (text("path").empty()) {
      missing("path");
      return;
    }
    work = [&](Host& host) {
      const auto count = static_cast<std::uint32_t>(number("count", 1));
      const auto code = static_cast<std::uint32_t>(number("status", 500));
      const std::string error = text("error").empty() ? "Injected fault." : text("error");
      host.GetPeers().InjectFault(text("path"), count, code, error);
      if (mOptions.recorder != nullptr) {
        BindingProperty step;
        step.member("path").SetString(text("path"));
        step.member("count").SetUnsigned(count);
        step.member("status").SetUnsigned(code);
        step.member("error").SetString(std::string_view(error));
        mOptions.recorder->Step(host.NowNanoseconds(), "fault", step);
      }
    };
  } else if (path == "/host/v1/advance" && req.method == "POST") {
    if (mOptions.clock != ClockMode::Virtual) {
      SetError(res, kConflict, Message::kRealClock);
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
  } else if (path == "/host/v1/status" && req.method == "GET") {
    status = 200;
    work = [&](Host& host) {
      BindingProperty record;
      BindingProperty& plugins = record.member("plugins").MakeCollection();
      for (const std::string& name : host.PluginNames()) {
        plugins.at(plugins.size()).SetString(std::string_view(name));
      }
      record.member("clock").SetString(mOptions.clock == ClockMode::Virtual ? "virtual" : "real");
      record.member("nanoseconds").SetUnsigned(host.NowNanoseconds());
      record.member("wallClock").SetUnsigned(host.WallClockMilliseconds());
      record.member("eventStreams").SetUnsigned(mHub.StreamCount());
      answer = ToJson(record);
    };
  } else {
    SetError(res, kNotFound, Failure(kNotFound, Message::kNoControl, {{"path", path}}).Message());
    return;
  }
  if (!mThread.Call(work)) {
    SetError(res, kUnavailable, Message::kStopping);
    return;
  }
  SetJson(res, status, answer);
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
