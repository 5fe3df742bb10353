#pragma once
// HttpFront: the stand-in core served over HTTP/1.1, for the people who
// build the user interface and the peer plugins: every route of the loaded
// plugins and every peer path, live resource events, and a few control
// routes of the host itself.
//
//   GET|POST|PUT|PATCH|DELETE|HEAD|OPTIONS /any/path?query
//       the request the core routes (a plugin's route, or a peer path: a
//       PUT, POST or DELETE there sets or removes the value and publishes
//       it); the answer carries the core's status, reason and JSON body
//   GET /events[?prefix=/tav-gameflow/]
//       Server-Sent Events: "event: <event name>", "id: <sequence>",
//       "data: {"data":...,"eventType":"Update","uri":"/..."}"; first the
//       current value of each resource under the prefix, then the changes;
//       a stream that falls too far behind ends with "event: dropped"
//   POST /host/v1/lcds/push            {type, body, subtopic?, clientId?}
//   PUT  /host/v1/lcds/answers/<destination.method>
//                                      {type, body} | {status, error} | {answers: [...]}
//   POST /host/v1/faults               {path, count?, status?, error?}
//   POST /host/v1/advance              {seconds} (virtual clock only)
//   GET  /host/v1/status               plugins, clock, time, streams
//
// Security: every request needs the token, as "Authorization: Bearer
// <token>" or as the password of HTTP Basic (any user name); it is compared
// in constant time and never passed on to a plugin or written to a log.
// Without it: 401. No CORS headers unless an origin is named.
//
// Limits (HttpFrontOptions), which hold whatever the client does: the
// headers must arrive within a deadline (which also ends idle keep-alive
// connections) and the body within one that grows with its size; header
// bytes and count (431), target length (414), body size whatever its
// transfer coding (413, as soon as it is passed); connections held at once
// (beyond that a new one is answered 503 at once).
//
// Threads: Boost.Beast over Boost.Asio on a few I/O threads; a connection
// costs no thread while it waits, event streams included. Each request is
// posted to the plugin thread (PluginThread.h) and answered when it has
// run; event streams are fed by the plugin thread through bounded queues
// (EventHub.h).

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "host/core/Host.h"
#include "host/http/EventHub.h"
#include "host/http/PluginThread.h"
#include "host/http/Recorder.h"
#include "host/http/RequestTranslation.h"

namespace Nalo::Host::Http {

struct HttpFrontOptions {
  // Loopback unless the user names another address.
  std::string address = "127.0.0.1";
  int port = 0;  // 0: any free port (Port() tells which)
  // Empty: a random one (GenerateToken).
  std::string token;
  // Non-empty: requests from this origin get CORS headers, and its
  // preflight requests are answered; no other origin ever does.
  std::string corsOrigin;
  // Largest body read, whatever its transfer coding (413 beyond).
  std::size_t maxBodyBytes = std::size_t{1024} * 1024;
  // Header bytes (request line included) read at most (431 beyond).
  std::size_t maxHeaderBytes = std::size_t{64} * 1024;
  TranslationLimits limits;
  // From the connection's start or the end of the previous answer until the
  // last header byte: an idle keep-alive connection is closed after it.
  std::chrono::milliseconds headerTimeout{5000};
  // The body must arrive within this plus its length at bodyBytesPerSecond
  // (a chunked body: the largest one's).
  std::chrono::milliseconds bodyTimeout{5000};
  std::size_t bodyBytesPerSecond = std::size_t{64} * 1024;
  // Writing one answer, or one piece of an event stream.
  std::chrono::milliseconds writeTimeout{5000};
  // Connections held at once, event streams included; beyond that a new
  // connection is answered 503 and closed.
  std::size_t maxConnections = 512;
  // Threads that read and write connections; the plugins run on the
  // plugin thread whatever this says.
  unsigned ioThreads = 2;
  // Unread events an event stream may hold before it is dropped.
  std::size_t eventQueueLimit = 4096;
  // An idle event stream writes a comment this often, which also finds
  // clients that went away.
  std::chrono::milliseconds streamKeepAlive{15000};
  // Which clock the host runs (POST /host/v1/advance needs a virtual one).
  ClockMode clock = ClockMode::Real;
  // Set: every request and control action is recorded there, on the plugin
  // thread (the caller hands it the publications, Recorder.h). Not owned.
  Recorder* recorder = nullptr;
  // The front's own log lines (never with the token).
  std::function<void(std::string_view line)> log;
};

class HttpFront {
 public:
  HttpFront(PluginThread& pluginThread, EventHub& hub, HttpFrontOptions options);
  // Stops serving.
  ~HttpFront();
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;
  HttpFront(HttpFront&&) = delete;
  HttpFront& operator=(HttpFront&&) = delete;

  // Binds the address (never sharing a port with another listener) and
  // starts serving on threads of its own. Fails with 500, "Can't listen on
  // ADDRESS:PORT: reason", when it can't be bound.
  [[nodiscard]] MaybeType<Failure, void> Start();
  // Ends every event stream, stops accepting, closes every connection and
  // waits for the I/O threads and for the calls posted to the plugin thread
  // (which runs or refuses them). Safe to call twice.
  void Stop();

  [[nodiscard]] int Port() const noexcept;
  // "http://127.0.0.1:8080"
  [[nodiscard]] std::string Url() const;
  [[nodiscard]] const std::string& Token() const noexcept;

 private:
  class Impl;
  friend class Session;
  std::unique_ptr<Impl> mImpl;
};

// 32 random bytes from the system's random source, as 64 hexadecimal digits.
[[nodiscard]] std::string GenerateToken();

// True when an Authorization header value carries `token` as a bearer
// token or as the password of HTTP Basic; compared in constant time.
[[nodiscard]] bool AuthorizationMatches(std::string_view header, std::string_view token) noexcept;

// Writes the URL, the token and how to use them to
// `folder`/"http-front.json", readable and writable by its owner only
// (mode 0600, also when the file was there before). Returns its path.
[[nodiscard]] MaybeType<Failure, std::filesystem::path> WriteAccessFile(
    const std::filesystem::path& folder, std::string_view url, std::string_view token);

}  // namespace Nalo::Host::Http
