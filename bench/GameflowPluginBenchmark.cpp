// The gameflow plugin shared object through the stand-in core, each path
// beside its floor measured in the same run:
//
//   PostedEvent       POST /tav-gameflow/v1/session/event with an event that
//                     changes state, through the chart to the session
//                     published as a resource event      vs SessionJson
//   TickTimer         the 0.5-second tick with nothing changed (the host's
//                     clock moved by one period)          vs PostedEvent
//   TickRoute         POST /tav-gameflow/v1/tick with nothing changed
//                                                         vs PostedEvent
//   WholeMatch        lobby to end of game and back to None: 19 requests and
//                     platform pushes, and a minute of ticks with one
//                     refresh of the patcher lock         vs MatchSessionsJson
//   SessionHostValue  the published session written straight from its native
//                     record into a host value (the plugin's share of a
//                     publication)                         vs SessionJson
//   SessionHostValueThroughTree  the same through a value tree (ToProperty,
//                     then the tree into a host value), as publications
//                     were once built                      vs SessionHostValue
//   HostReadsSession  the stand-in core reading that host value into a tree,
//                     as it does for every event a plugin sends (the
//                     host's share)                        vs SessionJson
//   TenThousandMatches  10,000 matches in a row; the plugin's memory in use
//                     (bytes and blocks) after the last must equal that after
//                     the first, else the program says so and fails
//
// The floors convert, with ToJson straight from the native record, exactly
// the sessions the plugin publishes: SessionJson the one PostedEvent
// publishes, MatchSessionsJson every session one match publishes. The
// sessions are read back from what the plugin published in an untimed run.
//
// Allocations are the plugin's own, read through the host
// (GetMemoryStatistics); the host's are not counted. The program ends with
// the ratio table and a list of the goals:
//   - a posted event costs at most 1.5 times its floor;
//   - a tick with nothing changed allocates nothing and costs under a
//     twentieth of a posted event;
//   - 10,000 matches leave the plugin's memory where the first left it.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/support/BenchmarkData.h"
#include "bench/support/GameflowRegistry.h"
#include "bench/support/RatioReport.h"
#include "binding/BindingConvert.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/Json.h"
#include "abi/HostValue.h"
#include "gameflow/Api/GameflowSession.h"
#include "host/core/Host.h"
#include "host/peers/Peers.h"

namespace {

using Nalo::BindingProperty;
using Nalo::Bench::Abort;
using Nalo::Bench::GameflowRegistry;
using Nalo::Client::Gameflow::Api::GameflowSession;

constexpr const char* kPluginPath = NALO_GAMEFLOW_PLUGIN_PATH;
constexpr std::string_view kPluginName = "tav-gameflow";
constexpr std::string_view kEventPath = "/tav-gameflow/v1/session/event";
constexpr std::string_view kSessionEventName = "OnJsonApiEvent_tav-gameflow_v1_session";
constexpr std::string_view kGameType = "com.nalogames.platform.game.GameDTO";
constexpr std::chrono::milliseconds kTickPeriod{500};
// The host keeps a record of every event and log line; clearing them now and
// then keeps their growth out of the timed loops.
constexpr std::int64_t kRecordsKept = 256;
constexpr int kMatchesInARow = 10'000;

// --- The plugin's memory. ----------------------------------------------------------

struct PluginMemory {
  std::uint64_t bytesInUse = 0;
  std::uint64_t blocksInUse = 0;
  std::uint64_t allocations = 0;
};

PluginMemory ReadPluginMemory(const Nalo::Host::Host& host) {
  const std::optional<std::vector<std::uint32_t>> words = host.MemoryStatistics(kPluginName);
  if (!words.has_value()) {
    Abort("The gameflow plugin is not loaded.");
  }
  const auto counter = [&](std::size_t index) {
    return (*words)[2 * index] | (static_cast<std::uint64_t>((*words)[2 * index + 1]) << 32);
  };
  // peak, outstanding at peak, bytes allocated, allocations, bytes freed, frees
  return {counter(2) - counter(4), counter(3) - counter(5), counter(3)};
}

// --- Driving the plugin. -----------------------------------------------------------

// A host with realistic peers (a logged-in player, an idle patcher, a few
// queues) and the plugin loaded, its start-up publications delivered.
std::unique_ptr<Nalo::Host::Host> LoadedHost() {
  Nalo::Host::HostOptions options;
  options.peers = Nalo::Host::PeerSetup::Realistic;
  auto host = std::make_unique<Nalo::Host::Host>(std::move(options));
  auto loaded = host->Load(kPluginPath);
  if (loaded.HasFailure()) {
    Abort("Can't load the gameflow plugin: " + std::string(loaded.GetFailure().Message()));
  }
  host->Advance(std::chrono::seconds(1));
  host->ClearRecords();
  return host;
}

void Post(Nalo::Host::Host& host, std::string_view path, std::string_view body = {}) {
  const Nalo::Host::Response response = host.Request("POST", path, body);
  if (!response.Succeeded()) {
    Abort("POST " + std::string(path) + " " + std::string(body) + " failed: " + response.error);
  }
}

// The JSON body of a posted event: the event's name as a JSON string.
std::string EventBody(std::string_view event) {
  return "\"GAMEFLOW_EVENT." + std::string(event) + "\"";
}

// A game of ten players as the platform server pushes it, in `gameState`.
const BindingProperty& Game(std::string_view gameState) {
  static const std::string team = [] {
    std::string players;
    for (int index = 0; index < 10; ++index) {
      const std::string number = std::to_string(index);
      players += (index == 0 || index == 5) ? "" : ",";
      players += R"({"summonerId":)" + std::to_string(2'000'000'000 + index) +
                 R"(,"summonerName":"Player )" + number + R"(","championId":)" +
                 std::to_string(100 + index) + R"(,"teamParticipantId":)" +
                 (index < 5 ? "1" : "2") + R"(,"spell1Id":4,"spell2Id":14})";
      if (index == 4) {
        players += R"(],"teamTwo":[)";
      }
    }
    return R"("teamOne":[)" + players + "]";
  }();
  // A map, so that the games already handed out stay where they are.
  static std::map<std::string, BindingProperty, std::less<>> games;
  if (const auto found = games.find(gameState); found != games.end()) {
    return found->second;
  }
  auto parsed = Nalo::ParseJson(R"({"id":6543210987,"gameState":")" + std::string(gameState) +
                                R"(","queueTypeName":"NORMAL","maxNumPlayers":10,)"
                                R"("gameType":"MATCHED_GAME","mapId":11,"gameMode":"CLASSIC",)"
                                R"("gameTypeConfigId":1,)" +
                                team + "}");
  if (!parsed.Succeeded()) {
    Abort("The benchmark's game doesn't parse.");
  }
  return games.emplace(std::string(gameState), std::move(parsed.Value())).first->second;
}

// One whole match: 19 requests and pushes, lobby to end of game and back to
// None (14 sessions published), with the patcher lock refreshed once during
// the game and its refreshes over by the end.
void PlayMatch(Nalo::Host::Host& host) {
  Nalo::Host::Peers& peers = host.GetPeers();
  Post(host, "/tav-gameflow/v1/session/request-lobby");
  Post(host, kEventPath, EventBody("ENTERED_LOBBY"));
  Post(host, kEventPath, EventBody("ENTERED_QUEUE"));
  Post(host, kEventPath, EventBody("EXITED_QUEUE"));
  Post(host, kEventPath, EventBody("ENTERED_QUEUE"));
  Post(host, kEventPath, EventBody("ENTERED_READY_CHECK"));
  Post(host, kEventPath, EventBody("STRANGER_DODGED"));
  Post(host, kEventPath, EventBody("ENTERED_READY_CHECK"));
  peers.PushLcds(kGameType, Game("JOINING_CHAMP_SELECT"));
  Post(host, kEventPath, EventBody("ENTERED_CHAMP_SELECT"));
  peers.PushLcds(kGameType, Game("CHAMP_SELECT"));
  peers.PushLcds(kGameType, Game("START_REQUESTED"));
  Post(host, kEventPath, EventBody("GAME_STARTED"));
  Post(host, kEventPath, EventBody("GAME_LAUNCHED"));
  peers.PushLcds(kGameType, Game("IN_PROGRESS"));
  host.Advance(std::chrono::seconds(31));
  peers.PushLcds(kGameType, Game("TERMINATED"));
  Post(host, kEventPath, EventBody("STATS_RECEIVED"));
  Post(host, kEventPath, EventBody("PRE_END_OF_GAME_COMPLETED"));
  Post(host, kEventPath, EventBody("STATS_DISMISSED"));
  host.Advance(std::chrono::seconds(31));
}

// The sessions published since the records were last cleared, read back
// into the native record.
std::vector<GameflowSession> PublishedSessions(const Nalo::Host::Host& host) {
  std::vector<GameflowSession> sessions;
  for (const Nalo::Host::PublishedEvent& event : host.PublishedEvents()) {
    if (event.name != kSessionEventName) {
      continue;
    }
    GameflowSession session;
    const Nalo::BindingResult read =
        Nalo::FromProperty(session, *event.Data(), "data", GameflowRegistry());
    if (read.Failed()) {
      Abort("A published session doesn't read back: " + std::string(read.ErrorMessage()));
    }
    sessions.push_back(std::move(session));
  }
  return sessions;
}

std::size_t CountSessionEvents(const Nalo::Host::Host& host) {
  std::size_t count = 0;
  for (const Nalo::Host::PublishedEvent& event : host.PublishedEvents()) {
    count += event.name == kSessionEventName ? 1 : 0;
  }
  return count;
}

// What the goals need beyond the times, filled in by the benchmarks (the last
// repetition wins; every repetition does the same work).
struct Findings {
  std::optional<double> allocationsPerPostedEvent;
  std::optional<double> allocationsPerTimerTick;
  std::optional<double> allocationsPerRouteTick;
  std::optional<double> allocationsPerMatch;
  std::size_t sessionJsonBytes = 0;
  std::size_t sessionsPerMatch = 0;
  std::optional<PluginMemory> afterFirstMatch;
  std::optional<PluginMemory> afterLastMatch;
};
Findings& TheFindings() {
  static Findings findings;
  return findings;
}

// A plugin in Lobby with a queue chosen; the events PostedEvent cycles
// through, each of which changes the state and publishes the session.
constexpr std::string_view kEventCycle[] = {"ENTERED_QUEUE", "EXITED_QUEUE"};

std::unique_ptr<Nalo::Host::Host> HostInLobby() {
  auto host = LoadedHost();
  Post(*host, "/tav-gameflow/v1/session/request-lobby");
  Post(*host, kEventPath, EventBody("ENTERED_LOBBY"));
  Post(*host, "/tav-gameflow/v1/session/game-configuration",
       R"({"id":420,"mapId":11,"name":"Ranked Solo/Duo","shortName":"Solo/Duo",)"
       R"("description":"5v5 Ranked Solo","type":"RANKED_DUO_QUEUE","gameMode":"CLASSIC",)"
       R"("category":"PvP","numPlayersPerTeam":5,"minLevel":30,"isRanked":true,)"
       R"("gameTypeConfig":{"id":18,"name":"GAME_CFG_DRAFT_RANKED","maxAllowableBans":10,)"
       R"("pickMode":"SimulPickStrategy","banMode":"StandardBanStrategy"}})");
  host->ClearRecords();
  return host;
}

// --- Benchmarks. -------------------------------------------------------------------

// The session PostedEvent publishes (the phase alternates; the text's length
// does not change by more than a few bytes).
const GameflowSession& PostedSession() {
  static const GameflowSession session = [] {
    auto host = HostInLobby();
    Post(*host, kEventPath, EventBody(kEventCycle[0]));
    std::vector<GameflowSession> sessions = PublishedSessions(*host);
    if (sessions.size() != 1) {
      Abort("A posted event published " + std::to_string(sessions.size()) +
            " sessions instead of one.");
    }
    return sessions.front();
  }();
  return session;
}

void SessionJson(benchmark::State& state) {
  const GameflowSession& session = PostedSession();
  const auto& registry = GameflowRegistry();
  std::string text;
  for (auto _ : state) {
    const Nalo::BindingResult written = Nalo::ToJson(session, registry, text);
    benchmark::DoNotOptimize(written);
    benchmark::DoNotOptimize(text);
  }
  TheFindings().sessionJsonBytes = text.size();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void PostedEvent(benchmark::State& state) {
  auto host = HostInLobby();
  const std::string bodies[] = {EventBody(kEventCycle[0]), EventBody(kEventCycle[1])};
  std::size_t published = 0;
  std::int64_t sinceCleared = 0;
  std::size_t next = 0;
  const PluginMemory before = ReadPluginMemory(*host);
  for (auto _ : state) {
    Nalo::Host::Response response = host->Request("POST", kEventPath, bodies[next]);
    benchmark::DoNotOptimize(response);
    next ^= 1;
    if (++sinceCleared == kRecordsKept) {
      state.PauseTiming();
      published += CountSessionEvents(*host);
      host->ClearRecords();
      sinceCleared = 0;
      state.ResumeTiming();
    }
  }
  const PluginMemory after = ReadPluginMemory(*host);
  published += CountSessionEvents(*host);
  if (published != static_cast<std::size_t>(state.iterations())) {
    state.SkipWithError("Not every posted event published the session.");
    return;
  }
  const double perEvent = static_cast<double>(after.allocations - before.allocations) /
                          static_cast<double>(state.iterations());
  TheFindings().allocationsPerPostedEvent = perEvent;
  state.counters["plugin_allocs"] = perEvent;
}

void SessionHostValue(benchmark::State& state) {
  const GameflowSession& session = PostedSession();
  const auto& registry = GameflowRegistry();
  // As the plugin publishes: the block starts at the largest size used yet.
  std::size_t blockHint = 0;
  for (auto _ : state) {
    Nalo::HostValueBuilder builder(registry, blockHint);
    const Nalo::BindingResult built = Nalo::VisitNative(session, registry, builder);
    blockHint = std::max(blockHint, builder.Used());
    Nalo::HostValue value = builder.Take();
    benchmark::DoNotOptimize(built);
    benchmark::DoNotOptimize(value);
  }
}

void SessionHostValueThroughTree(benchmark::State& state) {
  const GameflowSession& session = PostedSession();
  const auto& registry = GameflowRegistry();
  for (auto _ : state) {
    const Nalo::BindingResult tree = Nalo::ToProperty(session, registry);
    Nalo::HostValue value = Nalo::ToHostValue(tree.Value(), registry);
    benchmark::DoNotOptimize(value);
  }
}

void HostReadsSession(benchmark::State& state) {
  const auto& registry = GameflowRegistry();
  Nalo::HostValue value;
  if (Nalo::ToHostValue(PostedSession(), registry, value).Failed()) {
    state.SkipWithError("The session doesn't convert.");
    return;
  }
  for (auto _ : state) {
    Nalo::BindingResult read = Nalo::FromHostValue(value.Record(), "payload");
    benchmark::DoNotOptimize(read);
  }
}

// A plugin in None whose first ticks have run: nothing changes from one tick
// to the next.
std::unique_ptr<Nalo::Host::Host> IdleHost() {
  auto host = LoadedHost();
  host->Advance(std::chrono::seconds(2));
  host->ClearRecords();
  return host;
}

void CheckNothingPublished(benchmark::State& state, const Nalo::Host::Host& host) {
  if (!host.PublishedEvents().empty()) {
    state.SkipWithError(
        ("A tick with nothing changed published " + host.PublishedEvents().front().name).c_str());
  }
}

// Runs `tick` once per iteration on an idle host, checking that nothing was
// published, and returns the plugin's allocations per tick.
template <typename Tick>
double MeasureIdleTicks(benchmark::State& state, Nalo::Host::Host& host, Tick tick) {
  const PluginMemory before = ReadPluginMemory(host);
  std::int64_t sinceCleared = 0;
  for (auto _ : state) {
    tick();
    if (++sinceCleared == kRecordsKept) {
      state.PauseTiming();
      CheckNothingPublished(state, host);
      host.ClearRecords();
      sinceCleared = 0;
      state.ResumeTiming();
    }
  }
  const PluginMemory after = ReadPluginMemory(host);
  CheckNothingPublished(state, host);
  const double perTick = static_cast<double>(after.allocations - before.allocations) /
                         static_cast<double>(state.iterations());
  state.counters["plugin_allocs"] = perTick;
  return perTick;
}

void TickTimer(benchmark::State& state) {
  auto host = IdleHost();
  TheFindings().allocationsPerTimerTick =
      MeasureIdleTicks(state, *host, [&] { host->Advance(kTickPeriod); });
}

void TickRoute(benchmark::State& state) {
  auto host = IdleHost();
  if (const auto answer = host->Request("POST", "/tav-gameflow/v1/tick"); answer.status != 204) {
    state.SkipWithError(
        ("POST /tav-gameflow/v1/tick answered " + std::to_string(answer.status)).c_str());
    return;
  }
  TheFindings().allocationsPerRouteTick = MeasureIdleTicks(state, *host, [&] {
    Nalo::Host::Response response = host->Request("POST", "/tav-gameflow/v1/tick");
    benchmark::DoNotOptimize(response);
  });
}

// Every session one match publishes, in order.
const std::vector<GameflowSession>& MatchSessions() {
  static const std::vector<GameflowSession> sessions = [] {
    auto host = LoadedHost();
    PlayMatch(*host);
    std::vector<GameflowSession> published = PublishedSessions(*host);
    if (published.empty() ||
        published.back().phase != Nalo::Client::Gameflow::Api::GameflowPhase::None) {
      Abort("A match didn't end back in None.");
    }
    return published;
  }();
  return sessions;
}

void MatchSessionsJson(benchmark::State& state) {
  const std::vector<GameflowSession>& sessions = MatchSessions();
  const auto& registry = GameflowRegistry();
  std::string text;
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const GameflowSession& session : sessions) {
      const Nalo::BindingResult written = Nalo::ToJson(session, registry, text);
      benchmark::DoNotOptimize(written);
      benchmark::DoNotOptimize(text);
      bytes += text.size();
    }
  }
  TheFindings().sessionsPerMatch = sessions.size();
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void WholeMatch(benchmark::State& state) {
  auto host = LoadedHost();
  const PluginMemory before = ReadPluginMemory(*host);
  for (auto _ : state) {
    PlayMatch(*host);
    state.PauseTiming();
    host->ClearRecords();
    state.ResumeTiming();
  }
  const PluginMemory after = ReadPluginMemory(*host);
  const double perMatch = static_cast<double>(after.allocations - before.allocations) /
                          static_cast<double>(state.iterations());
  TheFindings().allocationsPerMatch = perMatch;
  state.counters["plugin_allocs"] = perMatch;
}

void TenThousandMatches(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto host = LoadedHost();
    PlayMatch(*host);
    host->ClearRecords();
    const PluginMemory first = ReadPluginMemory(*host);
    state.ResumeTiming();
    for (int match = 1; match < kMatchesInARow; ++match) {
      PlayMatch(*host);
      host->ClearRecords();
    }
    state.PauseTiming();
    const PluginMemory last = ReadPluginMemory(*host);
    TheFindings().afterFirstMatch = first;
    TheFindings().afterLastMatch = last;
    state.counters["bytes_after_first"] = static_cast<double>(first.bytesInUse);
    state.counters["blocks_after_first"] = static_cast<double>(first.blocksInUse);
    state.counters["bytes_after_last"] = static_cast<double>(last.bytesInUse);
    state.counters["blocks_after_last"] = static_cast<double>(last.blocksInUse);
    host.reset();
    state.ResumeTiming();
  }
}

// Each floor right before what it bounds, so that both see the same machine
// load as far as possible.
BENCHMARK(SessionJson);
BENCHMARK(PostedEvent);
BENCHMARK(SessionHostValue);
BENCHMARK(SessionHostValueThroughTree);
BENCHMARK(HostReadsSession);
BENCHMARK(TickTimer);
BENCHMARK(TickRoute);
BENCHMARK(MatchSessionsJson);
BENCHMARK(WholeMatch)->Unit(benchmark::kMicrosecond);
// One run is the measurement: its point is the memory check, and it takes
// seconds.
BENCHMARK(TenThousandMatches)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);

// --- Summary. -----------------------------------------------------------------------

constexpr Nalo::Bench::RatioComparison kComparisons[] = {
    {"PostedEvent", "SessionJson"},
    {"SessionHostValue", "SessionJson"},
    {"SessionHostValueThroughTree", "SessionHostValue"},
    {"HostReadsSession", "SessionJson"},
    {"TickTimer", "PostedEvent"},
    {"TickRoute", "PostedEvent"},
    {"WholeMatch", "MatchSessionsJson"},
};

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Prints one goal line; `met` is empty when a side of it did not run.
void PrintGoal(std::string_view goal, std::optional<bool> met, const std::string& measured) {
  const char* verdict = !met.has_value() ? "not run" : (*met ? "met" : "MISSED");
  std::printf("  %-58.*s %-22s %s\n", static_cast<int>(goal.size()), goal.data(), measured.c_str(),
              verdict);
}

// Prints the goals; answers false when the plugin's memory grew.
bool PrintGoals(const Nalo::Bench::RatioReporter& reporter) {
  const Findings& findings = TheFindings();
  std::printf("\ngoals (median CPU times):\n");
  const auto event = reporter.CpuNanoseconds("PostedEvent");
  const auto floor = reporter.CpuNanoseconds("SessionJson");
  if (event && floor) {
    PrintGoal("posted event <= 1.5 x session to JSON", *event <= 1.5 * *floor,
              Format("%.2f x", *event / *floor));
  } else {
    PrintGoal("posted event <= 1.5 x session to JSON", std::nullopt, "");
  }
  for (const auto& [name, allocations] :
       {std::pair{"TickTimer", findings.allocationsPerTimerTick},
        std::pair{"TickRoute", findings.allocationsPerRouteTick}}) {
    const std::string label = std::string(name) + ": no allocation";
    PrintGoal(label, allocations ? std::optional<bool>(*allocations == 0.0) : std::nullopt,
              allocations ? Format("%.2f per tick", *allocations) : "");
    const auto tick = reporter.CpuNanoseconds(name);
    const std::string faster = std::string(name) + ": under 1/20 of a posted event";
    if (tick && event) {
      PrintGoal(faster, *tick * 20 < *event, Format("1/%.1f", *event / *tick));
    } else {
      PrintGoal(faster, std::nullopt, "");
    }
  }
  if (findings.allocationsPerPostedEvent) {
    std::printf(
        "  (a posted event allocates %.1f blocks in the plugin; the session is %zu bytes "
        "of JSON)\n",
        *findings.allocationsPerPostedEvent, findings.sessionJsonBytes);
  }
  if (findings.allocationsPerMatch) {
    std::printf("  (a match publishes %zu sessions and allocates %.0f blocks in the plugin)\n",
                findings.sessionsPerMatch, *findings.allocationsPerMatch);
  }
  if (!findings.afterFirstMatch || !findings.afterLastMatch) {
    PrintGoal("10,000 matches: no growth", std::nullopt, "");
    return true;
  }
  const PluginMemory& first = *findings.afterFirstMatch;
  const PluginMemory& last = *findings.afterLastMatch;
  const bool same = first.bytesInUse == last.bytesInUse && first.blocksInUse == last.blocksInUse;
  PrintGoal(
      "10,000 matches: no growth", same,
      std::to_string(last.bytesInUse) + " B, " + std::to_string(last.blocksInUse) + " blocks");
  if (!same) {
    std::printf(
        "\nFAILED: after %d matches the gameflow plugin holds %llu bytes in %llu blocks; "
        "after the first it held %llu bytes in %llu blocks.\n",
        kMatchesInARow, static_cast<unsigned long long>(last.bytesInUse),
        static_cast<unsigned long long>(last.blocksInUse),
        static_cast<unsigned long long>(first.bytesInUse),
        static_cast<unsigned long long>(first.blocksInUse));
  }
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  // Inputs first: the sessions the floors convert come from untimed runs.
  PostedSession();
  MatchSessions();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  Nalo::Bench::RatioReporter reporter(kComparisons,
                                      {.baseline = Nalo::Bench::BaselineColumn::Shown,
                                       .unit = Nalo::Bench::SummaryTimeUnit::Microseconds});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  const bool noGrowth = PrintGoals(reporter);
  benchmark::Shutdown();
  return noGrowth ? 0 : 1;
}
