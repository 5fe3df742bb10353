#pragma once
// Scenario: a YAML script that drives a plugin through the stand-in core and
// checks what it does. docs/scenarios.md describes the format with examples.
//
//   auto scenario = Nalo::Host::ParseScenario(text);
//   if (scenario.HasFailure()) { ... scenario.GetFailure().Message() ... }
//   Nalo::Host::ScenarioOutcome outcome =
//       Nalo::Host::RunScenario(scenario.Value(), pluginPath, stateFolder);
//   if (!outcome.passed) std::cerr << outcome.report;
//
// A scenario runs on a virtual clock. The plugin is loaded before the first
// step unless a `load` step (or an `expect-fatal` around one) comes first.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "abi/HostAbi.h"
#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "host/core/Host.h"
#include "host/peers/Peers.h"

namespace Nalo::Host {

enum class StepKind {
  Load,
  Restart,
  Set,
  Publish,
  Delete,
  PushLcds,
  LcdsAnswer,
  Fault,
  ServiceProxy,
  Request,
  Advance,
  WallClock,
  Answer,
  Mark,
  Shutdown,
  ExpectResponse,
  ExpectPublished,
  ExpectNotPublished,
  ExpectSequence,
  ExpectResource,
  ExpectLog,
  ExpectNoLog,
  ExpectTelemetry,
  ExpectNoTelemetry,
  ExpectLcdsCall,
  ExpectNoLcdsCall,
  ExpectRequest,
  ExpectNoRequest,
  ExpectFatal,
  ExpectExit,
  // The stand-in game client (the scenario's "stand-in-client").
  ClientControl,
  ClientCommand,
  ExpectClientSpawned,
  ExpectFile,
  AwaitClientExit,
  SignalClient,
  AwaitClient,
  // The core's pending timer runs.
  ExpectTimers,
};

// The log levels by number (NALO_LOG_OKAY is 0), as expect-log names them.
inline constexpr std::array<std::string_view, 4> kLogLevelNames = {"OKAY", "WARN", "ERROR",
                                                                   "ALWAYS"};

// What a response must show; unset parts aren't checked.
struct ResponseExpectation {
  std::optional<std::uint32_t> status;
  bool anySuccess = false;  // status: success, any 2xx without an error
  std::optional<BindingProperty> body;
  bool subset = false;               // body is compared as a subset
  std::optional<std::string> error;  // a text the error must contain
};

struct ScenarioStep {
  StepKind kind = StepKind::Load;
  std::size_t index = 0;  // 1-based position in its list
  std::string title;      // "request POST /a/b", for reports
  std::string path;
  std::string method;
  std::string text;  // raw body, log text, LCDS call, type name, event name, fatal code
  std::string contentType;
  std::string member;     // expect-sequence: dotted member path, "" for the whole value
  std::string subtopic;   // push-lcds
  std::string clientId;   // push-lcds
  BindingProperty value;  // stored, published, pushed or expected value
  bool hasValue = false;
  bool subset = false;
  std::uint32_t count = 1;
  std::uint64_t milliseconds = 0;  // wall-clock
  std::uint32_t status = 500;
  std::chrono::nanoseconds duration{0};
  ServiceProxyKind proxyKind = ServiceProxyKind::Uuid;
  ServiceProxyReply reply;
  std::vector<LcdsAnswer> lcdsAnswers;         // lcds-answer, one per call in order
  std::vector<PeerAnswer> peerAnswers;         // answer, one per request in order
  std::optional<std::uint32_t> expectedCount;  // expect-request: how many times;
                                               // expect-client-spawned: how many clients
  std::optional<std::uint32_t> level;          // expect-log: NALO_LOG_*
  std::string group;                           // expect-log: "GEN", "DBG", ...
  int exitCode = 0;                            // expect-exit, await-client-exit
  std::optional<int> signal;                   // await-client-exit: the crash's signal;
                                               // signal-client: the signal to send
  std::vector<std::string> timersRunning;      // expect-timers
  std::vector<std::string> timersStopped;      // expect-timers
  std::optional<ResponseExpectation> expect;   // request, expect-response
  std::vector<ScenarioStep> during;            // expect-fatal, expect-exit
};

struct Scenario {
  std::string name;
  std::vector<std::string> commandLine;
  std::uint32_t coreMajor = NALO_PLUGIN_API_MAJOR;
  std::uint32_t coreMinor = NALO_PLUGIN_API_MINOR;
  std::uint32_t corePatch = NALO_PLUGIN_API_PATCH;
  std::size_t streamPieceSize = 4096;
  std::uint64_t wallClockAtStart = kDefaultWallClockAtStart;  // milliseconds since 1970
  PeerSetup peers = PeerSetup::Realistic;
  bool announcePeers = true;
  std::vector<std::pair<std::string, BindingProperty>> resources;  // seeded, not published
  // Set: the stand-in game client is installed in the realistic patcher's
  // folder with this control file.
  std::optional<std::string> standInClient;
  // Texts no log line may carry (the header's `secrets`), besides those the
  // runner finds itself in what the scenario hands out.
  std::vector<std::string> secrets;
  std::vector<ScenarioStep> steps;  // the lcds table of the file becomes leading lcds-answer steps
};

// Parses a scenario. Fails with 400 and a message naming the step (its
// position and kind) and the problem: unknown step kinds, missing members,
// values of the wrong kind and unreadable durations are all refused.
[[nodiscard]] MaybeType<Failure, Scenario> ParseScenario(std::string_view yamlText);

struct ScenarioOutcome {
  bool passed = false;
  // On failure: the first failing step, what was expected and what was seen.
  // On success: one line naming the scenario and its step count.
  std::string report;
};

// Runs `scenario` against the plugin at `plugin`, with a virtual clock and
// `stateFolder` as the host's state folder (empty: in memory). Stops at the
// first failing step.
[[nodiscard]] ScenarioOutcome RunScenario(const Scenario& scenario,
                                          const std::filesystem::path& plugin,
                                          const std::filesystem::path& stateFolder);

// Parses a duration: a number of seconds, or a number followed by "ms", "s"
// or "min" ("500ms", "1.5s"). Nothing for anything else or a negative value.
[[nodiscard]] std::optional<std::chrono::nanoseconds> ParseDuration(const BindingProperty& value);

}  // namespace Nalo::Host
