#pragma once
// Host: the stand-in core. It loads plugin shared objects, performs the
// handshake, hands each plugin a NaloCoreApi table and carries everything the
// plugin asks of the core: requests (to the plugins' routes or to the
// stand-in peers of Peers.h), events, tasks and timers, waits and log lines.
//
// A Host plays the core's plugin thread: every plugin callback runs on the
// thread that calls into the Host, one at a time. A Host is not thread-safe.
//
// Time. With ClockMode::Virtual (tests and scenarios) time moves only when
// Advance() moves it; advancing runs, in order, every task, timer firing and
// event delivery that falls due, and returns when none is left before the
// new time. With ClockMode::Real (the interactive program) time is the
// system's monotonic clock and RunDueTasks() runs whatever is due.
//
// In virtual time the plugins read the host's clocks too, through their
// test-only export nalo_set_clock_source (abi/HostAbi.h), installed before
// the plugin's entry runs: their monotonic clock reads NowNanoseconds()
// exactly (0 when the host starts), so a task posted with delay d at t runs
// at t + d; their wall clock reads WallClockMilliseconds(), which moves with
// virtual time from HostOptions::wallClockAtStart. A plugin without the
// export reads the system's clocks.
//
// Waits. While a plugin waits (BeginWait, Pump...) in virtual time, a pump
// that finds nothing due lets time move on to the next task: at once while
// a delayed peer answer is awaited (Peers.h), else after 64 idle pumps. One
// call runs at most TaskQueue::kMaxTasksPerInstant tasks at one instant;
// TakeStall() names the task that kept time standing still.
//
// Log lines carry their groups when the plugin exports the test-only
// nalo_pass_log_groups (LogLine::groups).
//
// Deliveries are queued, never nested: an event sent by a plugin (or
// published by a peer) is delivered to each subscriber as a task due now,
// after the current callback returns. Every top-level call (Request,
// Advance, the Peers mutators, RunDueTasks) ends by running all work that is
// due at the current time.
//
//   Nalo::Host::Host host({.stateFolder = tempDir});
//   auto loaded = host.Load("build/tests/plugin/libtest_plugin.so");
//   if (loaded.HasFailure()) { ... loaded.GetFailure().Message() ... }
//   host.GetPeers().SetResource("/tav-login/v1/session", session);
//   Nalo::Host::Response response = host.Request("GET", "/test-plugin/v1/value");
//   host.Advance(std::chrono::seconds(2));         // runs timers due by then
//   EXPECT_EQ(host.PublishedEvents().back().uri, "/test-plugin/v1/value");

#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "abi/HostAbi.h"
#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "host/peers/EventNames.h"
#include "host/peers/Peers.h"
#include "host/peers/Response.h"

namespace Nalo::Host {

enum class ClockMode { Virtual, Real };

inline constexpr std::uint64_t kDefaultWallClockAtStart = 1'700'000'000'000;

struct HostOptions {
  // The core's plugin API version offered in the handshake.
  std::uint32_t coreMajor = NALO_PLUGIN_API_MAJOR;
  std::uint32_t coreMinor = NALO_PLUGIN_API_MINOR;
  std::uint32_t corePatch = NALO_PLUGIN_API_PATCH;
  ClockMode clock = ClockMode::Virtual;
  // Virtual clock: the plugins' wall clock at virtual time 0, in
  // milliseconds since 1970-01-01 UTC (2023-11-14 22:13:20 UTC by default).
  std::uint64_t wallClockAtStart = kDefaultWallClockAtStart;
  // Where the data store keeps its file ("data-store.json"); empty keeps the
  // data store in memory only.
  std::filesystem::path stateFolder;
  // The host's own command line, served at /naloclient/command-line-args.
  std::vector<std::string> commandLine;
  PeerSetup peers = PeerSetup::Plain;
  // Realistic peers publish the values of their subscribed resources (login
  // session, login data packet, patcher state, crash count, queues, custom
  // queues) as Create events right after each plugin has initialised, as
  // peers starting beside it would. False: they only hold them.
  bool announcePeers = true;
  // A plugin that waits (BeginWait ... EndWait) longer than this in real
  // time waits for something that never comes: the host logs an error line
  // naming the wait and ends the process with exit code 3, rather than hang
  // the test or scenario that runs it. Zero: no limit.
  std::chrono::milliseconds waitLimit{std::chrono::minutes(2)};
  // Largest piece a response body stream hands out per read call (>= 1).
  std::size_t streamPieceSize = 4096;
  // Called with every log line as it is written (besides recording it);
  // the program echoes lines to standard error with it.
  std::function<void(std::string_view line)> logEcho;
};

// The payload of a published event, shared, never copied: with the
// deliveries to the subscribers, and between the two records of a resource
// event (under its own name and under "OnJsonApiEvent"). A payload a plugin
// sent is kept as a copy of its host value record and read into a value the
// first time anything asks for it (once, for every sharer); reading it is
// not thread-safe, like the Host. Two payloads compare equal when they are
// the same shared payload.
class EventPayload {
 public:
  struct State;

  // An empty value.
  EventPayload() = default;
  template <class T>
    requires std::convertible_to<T*, const BindingProperty*>
  EventPayload(std::shared_ptr<T> value)  // NOLINT(google-explicit-constructor)
      : mState(MakeState(std::shared_ptr<const BindingProperty>(std::move(value)))) {}
  // The host's own: a payload of `state`.
  explicit EventPayload(std::shared_ptr<State> state) noexcept : mState(std::move(state)) {}

  // The value, read now if it hasn't been yet.
  [[nodiscard]] const BindingProperty& Value() const;
  [[nodiscard]] const BindingProperty& operator*() const { return Value(); }
  [[nodiscard]] const BindingProperty* operator->() const { return &Value(); }
  [[nodiscard]] const BindingProperty* get() const { return &Value(); }
  // Whether the value has been read (always, for a payload made of a value).
  [[nodiscard]] bool IsRead() const noexcept;
  [[nodiscard]] const std::shared_ptr<State>& GetState() const noexcept { return mState; }

  friend bool operator==(const EventPayload& left, const EventPayload& right) noexcept {
    return left.mState == right.mState;
  }

 private:
  static std::shared_ptr<State> MakeState(std::shared_ptr<const BindingProperty> value);

  std::shared_ptr<State> mState;  // null: an empty value
};

// An event a plugin sent with NaloCoreApi.sendEvent or a peer published,
// in the order they were sent.
struct PublishedEvent {
  std::string name;  // "OnJsonApiEvent_tav-gameflow_v1_session", "OnJsonApiEvent", ...
  EventPayload payload;  // the whole payload
  std::string uri;                                 // payload "uri" of a resource event, else empty
  std::string eventType;  // "Create", "Update", "Delete" for resource events, else empty
  std::uint64_t atNanoseconds = 0;
  std::uint32_t senderHandle = 0;  // 0 for a peer of the host

  // The payload's "data" member (a resource event's value); null when absent.
  [[nodiscard]] const BindingProperty* Data() const { return payload->Find("data"); }
};

// One call a plugin made into its NaloCoreApi table, in call order. Tests of
// the runtime compare these sequences ("subscribe once, unsubscribe once").
enum class CoreEntry {
  Request,
  SendEvent,
  Subscribe,
  Unsubscribe,
  PostTask,
  Pump,
  BeginWait,
  EndWait,
  Log
};
struct CoreCall {
  CoreEntry entry = CoreEntry::Log;
  std::uint32_t pluginHandle = 0;
  // Request: "GET /path"; SendEvent, Subscribe, Unsubscribe: the event name;
  // PostTask and BeginWait: the label; Log: the message; otherwise empty.
  std::string text;
  std::uint32_t flags = 0;  // Subscribe, PostTask
  double delaySeconds = 0;  // PostTask
};

struct LogLine {
  std::uint32_t level = 0;         // NALO_LOG_*
  std::uint32_t pluginHandle = 0;  // 0: the host's own line
  std::string text;                // the message
  std::uint64_t atNanoseconds = 0;
  // The line's group codes joined with ";" ("DBG;NET"), when the plugin
  // tells them (its test-only log-groups export); empty otherwise.
  std::string groups;
};

class Host {
 public:
  explicit Host(HostOptions options = {});
  // Shuts every loaded plugin down (in reverse load order) and unloads it.
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;
  Host(Host&&) = delete;
  Host& operator=(Host&&) = delete;

  // Loads the shared object at `path`, calls its export load_<name> (the
  // first exported symbol whose name begins with "load_"), checks that the
  // registration record came back complete (callbacks, context, short name,
  // description and every callback) and calls Initialize with this host's
  // NaloCoreApi table. Fails with code 500 and a message naming the path
  // when the object can't be opened, has no export, leaves the record
  // incomplete, or Initialize returns 0. A failing plugin is shut down (when
  // it got as far as Initialize) and unloaded. An incompatible version ends
  // the process inside the plugin's export; the host can't prevent that.
  // `entryName` names the export when the object has several "load_"
  // symbols; empty looks it up.
  [[nodiscard]] MaybeType<Failure, void> Load(const std::filesystem::path& path,
                                              std::string_view entryName = {});
  // Shuts every loaded plugin down and unloads it. Safe to call twice.
  void Shutdown();

  // The short names of the loaded plugins, in load order.
  [[nodiscard]] std::vector<std::string> PluginNames() const;
  // The plugin's memory counters (GetMemoryStatistics), 14 words; nullopt
  // when no plugin of that short name is loaded.
  [[nodiscard]] std::optional<std::vector<std::uint32_t>> MemoryStatistics(
      std::string_view shortName) const;

  // A request from outside every plugin (the user interface, a scenario).
  // `method` is a method name in capitals ("GET"); an unknown one answers
  // 400. The path goes to the plugin whose route matches it or whose short
  // name is its first segment, else to the peers. The body is passed raw
  // with its content type to a plugin; a peer parses it as JSON, or as YAML
  // for "application/x-yaml" and "text/x-yaml". Runs due work afterwards.
  Response Request(std::string_view method, std::string_view path, std::string_view body = {},
                   std::string_view contentType = "application/json");
  // One header of a request from outside: name (in lower case, as the
  // plugin's header-located arguments are looked up) and value.
  using Header = std::pair<std::string, std::string>;
  // The same with the request's headers, handed to the plugin's dispatch
  // (peers don't read headers).
  Response Request(std::string_view method, std::string_view path, std::string_view body,
                   std::string_view contentType, std::span<const Header> headers);
  // The same for a caller that only writes the answer out (the HTTP
  // front): a plugin's value comes as `bodyText` alone, written straight
  // from the plugin's record when it can be, and `body` stays empty then.
  Response RequestText(std::string_view method, std::string_view path, std::string_view body,
                       std::string_view contentType, std::span<const Header> headers);
  // The same with one positional argument value instead of a body, as a
  // plugin sends it.
  Response RequestWithArgument(std::string_view method, std::string_view path,
                               const BindingProperty& argument);

  // Virtual clock: moves time forward by `duration` (>= 0), running every
  // due task in due order (ties in posting order) at its due time. Real
  // clock: runs what is due now and ignores `duration`.
  void Advance(std::chrono::nanoseconds duration);
  // Runs every task due at the current time, including those they post with
  // no delay.
  void RunDueTasks();
  // Nanoseconds since the host started (virtual or real).
  [[nodiscard]] std::uint64_t NowNanoseconds() const noexcept;
  // Virtual clock: the plugins' wall clock, in milliseconds since 1970,
  // which moves with virtual time. Real clock: the system's.
  [[nodiscard]] std::uint64_t WallClockMilliseconds() const noexcept;
  // Virtual clock: sets the wall clock to read `millisecondsSince1970` now;
  // it moves on with virtual time from there. No effect on a real clock.
  void SetWallClock(std::uint64_t millisecondsSince1970) noexcept;
  // Time until the next pending task; nullopt when none is pending.
  [[nodiscard]] std::optional<std::chrono::nanoseconds> TimeUntilNextTask() const;
  [[nodiscard]] std::size_t PendingTaskCount() const noexcept;
  // The labels of the pending tasks, in run order ("Timer: t" for a run of
  // a plugin's timer t).
  [[nodiscard]] std::vector<std::string> PendingTaskLabels() const;
  // Whether some loaded plugin subscribes to the event `name` now.
  [[nodiscard]] bool HasSubscriber(std::string_view name) const;
  // Set when a call ran more tasks at one instant than the clock allows
  // (TaskQueue.h): the message names the task or timer that kept time
  // standing still. Cleared by reading it.
  [[nodiscard]] std::optional<std::string> TakeStall();

  // The stand-in peers: resources, data store, telemetry, LCDS, faults.
  [[nodiscard]] Peers& GetPeers() noexcept;

  // Everything recorded since the start (or the last ClearRecords()).
  [[nodiscard]] const std::vector<LogLine>& LogLines() const noexcept;
  [[nodiscard]] const std::vector<PublishedEvent>& PublishedEvents() const noexcept;
  [[nodiscard]] const std::vector<CoreCall>& CoreCalls() const noexcept;
  void ClearRecords();

  // Writes a line of the host's own into its log (pluginHandle 0).
  void WriteLog(std::uint32_t level, std::string_view text);
  // Replaces HostOptions::logEcho.
  void SetLogEcho(std::function<void(std::string_view line)> echo);
  // Called with every log line and every request that reaches the peers as
  // they are recorded; a forked run hands its records to its parent so.
  void SetRecordEchoes(std::function<void(const LogLine&)> logLine,
                       std::function<void(const PeerRequest&)> request);
  // Adds a log line recorded elsewhere (by a forked run), without echo.
  void ImportLogLine(LogLine line);

  // The core's state; its definition is private to the core's library.
  class Impl;

 private:
  std::unique_ptr<Impl> mImpl;
};

}  // namespace Nalo::Host
