#pragma once
// Peers: the plugins and services that stand around a loaded plugin inside
// the stand-in core, reached by every request whose path no loaded plugin
// serves.
//
//   resources    GET, POST, PUT, DELETE on any other path. POST and PUT store
//                the value (the first request argument, else the parsed
//                body) and publish it as a resource event (Create the first
//                time, Update after); DELETE removes it and publishes Delete.
//                A GET of a path without a value answers 404.
//   data store   /data-store/v1/install-settings/<key>: the same verbs, kept
//                in "data-store.json" in the state folder, rewritten
//                atomically (temporary file, then rename) after each change,
//                so that values survive a restart of the host.
//   telemetry    POST /telemetry/v1/events/<name>: recorded, answers 204.
//   LCDS relay   POST /tav-login/v1/session/invoke (destination, method,
//                arguments): answered from a table keyed "destination.method"
//                with a PluginLcdsResponse {typeName, body} or a failure,
//                possibly after a virtual delay, or one answer after the
//                other; a call without an answer gets 404. Every call is
//                recorded.
//   host         GET /naloclient/command-line-args answers the host's command
//                line; other /naloclient paths are plain resources.
//   realistic    with PeerSetup::Realistic (below) the peers of a gameflow
//                start with realistic values, acknowledge the patcher's and
//                the host's actions without storing them, answer maps and
//                game-type configurations from tables, and announce their
//                subscribed resources after each load (docs/scenarios.md).
//
// Canned answers (SetAnswers) come before every peer; every request that
// reaches the peers is recorded with its sender and the status it got.
//
// Pushes (LCDS messages, service-proxy replies) and published resources are
// delivered to the plugins' subscriptions as queued events; the Host runs
// them before the mutator returns.
//
// Fault injection comes first: while a path has faults left, each request to
// it (a peer's or a plugin's) answers the fault's status and error text and
// uses one up.
//
//   host.GetPeers().SetResource("/patcher/v1/products/tavora/state", state);
//   host.GetPeers().SetLcdsAnswer("gameService", "retrieveInProgressGameInfo",
//                                 {.typeName = "com.example.ReconnectInfo", .body = info});
//   host.GetPeers().InjectFault("/naloclient/app-port", 1, 500, "Port not open.");

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"

namespace Nalo::Host {

// What the stand-in peers hold when the host starts (HostOptions::peers).
enum class PeerSetup {
  // Nothing: every peer path answers only what was stored there.
  Plain,
  // The peers a gameflow plugin expects, with realistic values: a logged-in
  // player, an idle and up-to-date patcher, a few queues, the host's own
  // resources; the patcher's and the host's action endpoints acknowledge
  // without storing; maps and game-type configurations answer from tables.
  Realistic,
};

// Answer of the LCDS relay for one destination.method.
struct LcdsAnswer {
  std::string typeName;
  BindingProperty body;
  // Set: the relay answers this failure (its code as the status) instead.
  std::optional<Failure> failure;
  // Virtual clock, success only: the reply's body arrives this long after
  // the call. Until then the plugin finds "more data follows" on the
  // response stream and yields to the core, which runs what falls due in
  // between (ticks, timers, deliveries) and moves virtual time on.
  std::chrono::nanoseconds delay{0};
};

// A canned answer of a peer path (Peers::SetAnswers).
struct PeerAnswer {
  std::uint32_t status = 200;
  BindingProperty body;  // empty: no content
  std::string error;     // not empty: the answer is this failure
};

// One call that reached the LCDS relay.
struct LcdsCall {
  std::string destination;
  std::string method;
  BindingProperty arguments;  // the array of arguments as sent
};

struct TelemetryRecord {
  std::string name;  // the event name: the path after /telemetry/v1/events/
  BindingProperty data;
  std::uint64_t atNanoseconds = 0;
};

// One request that reached the peers, in order, faults and canned answers
// included.
struct PeerRequest {
  std::string method;
  std::string path;                // as sent, query included
  BindingProperty value;           // the argument or body; empty when none
  std::uint32_t senderHandle = 0;  // the plugin that sent it; 0 from outside every plugin
  std::uint32_t status = 0;        // the status it was answered with
};

// Service-proxy reply kinds, one per event name.
enum class ServiceProxyKind { Uuid, Method, Async };

struct ServiceProxyReply {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};

class Peers {
 public:
  virtual ~Peers() = default;

  // Resources (the data store included, by its paths).
  // Stores `value` at `path` and publishes it (Create or Update).
  virtual void SetResource(std::string_view path, const BindingProperty& value) = 0;
  // Stores `value` without publishing: initial values.
  virtual void SeedResource(std::string_view path, const BindingProperty& value) = 0;
  // Publishes `value` for `path` without storing it (Update).
  virtual void PublishResource(std::string_view path, const BindingProperty& value) = 0;
  // Removes the value (if any) and publishes a Delete.
  virtual void DeleteResource(std::string_view path) = 0;
  // The stored value, or nullopt.
  [[nodiscard]] virtual std::optional<BindingProperty> Resource(std::string_view path) const = 0;

  // LCDS.
  virtual void SetLcdsAnswer(std::string_view destination, std::string_view method,
                             LcdsAnswer answer) = 0;
  // Answers one call after the other: the first call gets answers[0], the
  // next answers[1], and so on; the last one answers every call after it.
  // An empty list removes the answer.
  virtual void SetLcdsAnswers(std::string_view destination, std::string_view method,
                              std::vector<LcdsAnswer> answers) = 0;
  // Delivers a platform-server message to the subscribers of
  // "OnLcdsEvent_<typeName with . as _>" as a PluginLcdsEvent.
  virtual void PushLcds(std::string_view typeName, const BindingProperty& body,
                        std::string_view subtopic = {}, std::string_view clientId = {}) = 0;
  [[nodiscard]] virtual const std::vector<LcdsCall>& LcdsCalls() const = 0;

  // Delivers a service-proxy reply as OnServiceProxyUuidEvent,
  // OnServiceProxyMethodEvent or OnServiceProxyAsyncEvent.
  virtual void SendServiceProxyReply(ServiceProxyKind kind, const ServiceProxyReply& reply) = 0;

  // The next `count` requests to exactly `path` (without query) answer
  // `status` with `error`. Replaces the faults left for that path.
  virtual void InjectFault(std::string_view path, std::uint32_t count, std::uint32_t status,
                           std::string_view error) = 0;

  // Requests with `method` to exactly `path` (without query) get these
  // answers, one after the other, the last one repeating, before any peer
  // (realistic or plain) sees them; nothing is stored or published. An
  // empty list removes them. Faults still come first.
  virtual void SetAnswers(std::string_view method, std::string_view path,
                          std::vector<PeerAnswer> answers) = 0;

  [[nodiscard]] virtual const std::vector<TelemetryRecord>& Telemetry() const = 0;
  [[nodiscard]] virtual const std::vector<PeerRequest>& Requests() const = 0;
  // Adds records made elsewhere (by a forked run of the same scenario).
  virtual void ImportRequest(PeerRequest request) = 0;

 protected:
  Peers() = default;
  Peers(const Peers&) = default;
  Peers& operator=(const Peers&) = default;
  Peers(Peers&&) = default;
  Peers& operator=(Peers&&) = default;
};

}  // namespace Nalo::Host
