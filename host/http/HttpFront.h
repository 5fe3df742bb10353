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
// Without it: 401. Limits (HttpFrontOptions): body size (413), target length
// (414), header count (431), read and write timeouts, connections served at
// once (503 beyond). No CORS headers unless an origin is named.
//
// Threads: cpp-httplib's workers hand each request to the plugin thread
// (PluginThread.h) and wait for its answer; event streams are fed by the
// plugin thread through bounded queues (EventHub.h).

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "host/Host.h"
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
  std::size_t maxBodyBytes = 1024 * 1024;
  TranslationLimits limits;
  std::chrono::seconds readTimeout{5};
  std::chrono::seconds writeTimeout{5};
  // Connections served at once, event streams included; up to as many more
  // wait their turn, and beyond that a connection is answered 503.
  std::size_t maxConnections = 64;
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

  // Binds the address and starts serving on threads of its own. Fails with
  // 500 naming the address when it can't be bound.
  [[nodiscard]] MaybeType<Failure, void> Start();
  // Ends every event stream, stops accepting and waits for the workers.
  // Safe to call twice.
  void Stop();

  [[nodiscard]] int Port() const noexcept;
  // "http://127.0.0.1:8080"
  [[nodiscard]] std::string Url() const;
  [[nodiscard]] const std::string& Token() const noexcept;

 private:
  class Impl;
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
