// Request dispatch through the core's records (RouteTable::DispatchEntry,
// then the response's release), over the gameflow's table of 29 literal routes
// (with its types) and one more for a synthetic record.
//
//   GetLiteral/first           GET of the first route: match, bind nothing, 204
//   GetLiteral/last            GET of the last route: every other template compared first
//   PostQueryFlag/enabled      POST with a bool query argument ("?enabled=true")
//   PostJsonBody/BODY          POST of a 1 KB JSON body bound to a registered
//                              record (parse, convert, call, 204)
//   PostJsonObject/players     the players body bound to a BindingProperty
//   ParseJsonConvert/BODY      floor of PostJsonBody: ParseJson of the body and
//                              its conversion to the record, no routing
//   ParseJsonOnly/BODY         floor of both: ParseJson of the body alone
//
// Bodies: "dodge" is the gameflow's GameflowGameDodge with 1 KB of dodger
// ids; "players" a synthetic roster of 16 players with names and tags, whose
// conversion allocates per player.
//
// The summary divides each floor by the dispatch it bounds: 0.67 means the
// dispatch costs 1.5 times the floor. Requests are built once, outside the
// timed loops.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "bench/support/RatioReport.h"
#include "binding/BindingConvert.h"
#include "binding/BindingRegistration.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/Json.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/GameflowTypeRegistration.h"
#include "plugin/LcdsClassNames.h"
#include "routing/RouteTable.h"

namespace {

struct Player {
  std::string name;
  std::uint64_t id = 0;
  std::vector<std::string> tags;
};

struct Roster {
  std::string state;
  std::vector<Player> players;
};

using Nalo::Client::Gameflow::Api::GameflowGameDodge;

// The shape of the gameflow's table: 29 literal routes, in its order.
constexpr std::string_view kGetPaths[] = {
    "/tav-gameflow/v1/availability",
    "/tav-gameflow/v1/extra-game-client-args",
    "/tav-gameflow/v1/session",
    "/tav-gameflow/v1/active-patcher-lock",
    "/tav-gameflow/v1/watch",
    "/tav-gameflow/v1/spectate",
    "/tav-gameflow/v1/spectate/delayed-launch",
    "/tav-gameflow/v1/basic-tutorial",
    "/tav-gameflow/v1/battle-training",
    "/tav-gameflow/v1/gameflow-metadata/player-status",
};
constexpr std::string_view kPostPaths[] = {
    "/tav-gameflow/v1/reconnect",
    "/tav-gameflow/v1/ack-failed-to-launch",
    "/tav-gameflow/v1/session/event",
    "/tav-gameflow/v1/session/game-configuration",
    "/tav-gameflow/v1/session/request-lobby",
    "/tav-gameflow/v1/session/request-tournament-checkin",
    "/tav-gameflow/v1/session/tournament-ended",
    "/tav-gameflow/v1/tick",
    "/tav-gameflow/v1/pre-end-game-transition",
    "/tav-gameflow/v1/client-received-message",
    "/tav-gameflow/v1/watch/launch",
    "/tav-gameflow/v1/spectate/launch",
    "/tav-gameflow/v1/spectate/quit",
    "/tav-gameflow/v1/battle-training/start",
    "/tav-gameflow/v1/battle-training/stop",
    "/tav-gameflow/v1/basic-tutorial/start",
    "/tav-gameflow/v1/extra-game-client-args",
    "/tav-gameflow/v1/gameflow-metadata/player-status",
};
constexpr std::string_view kDodgePath = "/tav-gameflow/v1/session/dodge";
constexpr std::string_view kRosterPath = "/tav-gameflow/v1/bench/roster";
constexpr std::string_view kEventPath = "/tav-gameflow/v1/session/event";
constexpr std::string_view kFlagPath = "/tav-gameflow/v1/pre-end-game-transition";

struct Routes {
  Nalo::BindingTypeRegistry registry;
  Nalo::LcdsClassNames classNames;
  Nalo::RouteTable table{registry};

  Routes() {
    using namespace Nalo;
    RegisterStruct<Player>(
        registry, "Bench", "Player", "",
        {Field("name", &Player::name), Field("id", &Player::id), Field("tags", &Player::tags)});
    RegisterStruct<Roster>(registry, "Bench", "Roster", "",
                           {Field("state", &Roster::state), Field("players", &Roster::players)});
    Client::Gameflow::RegisterGameflowTypes(registry, classNames);
    for (const std::string_view path : kGetPaths) {
      table.Get(path, [] {});
    }
    for (const std::string_view path : kPostPaths) {
      if (path == kEventPath) {
        table.Post(
            path, [](const BindingProperty& event) { benchmark::DoNotOptimize(event); },
            InBody("event"));
      } else if (path == kFlagPath) {
        table.Post(
            path, [](bool enabled) { benchmark::DoNotOptimize(enabled); }, InQuery("enabled"));
      } else {
        table.Post(
            path, [](std::string) {}, InBody("argument").Optional());
      }
    }
    table.Post(
        kDodgePath, [](const GameflowGameDodge& dodge) { benchmark::DoNotOptimize(dodge); },
        InBody("dodgeData"));
    table.Post(
        kRosterPath, [](const Roster& roster) { benchmark::DoNotOptimize(roster); },
        InBody("roster"));
  }
};

const Routes& Table() {
  static const Routes* routes = new Routes();
  return *routes;
}

enum class Body : std::uint8_t { Dodge, Players };

constexpr std::size_t kBodySize = 1024;

// A JSON text of about kBodySize bytes of the given shape.
std::string BodyText(Body shape) {
  std::string body;
  if (shape == Body::Dodge) {
    body = R"({"phase":"ChampSelect","state":"PartyDodged","dodgeIds":[)";
    for (std::uint64_t i = 0; body.size() + 20 < kBodySize; ++i) {
      body += (i > 0 ? "," : "") + std::to_string(2300000000000 + i * 7919);
    }
  } else {
    body = R"({"state":"Dodged","players":[)";
    for (int i = 0; body.size() + 80 < kBodySize; ++i) {
      if (i > 0) {
        body += ',';
      }
      body += R"({"name":"Summoner )" + std::to_string(i) + R"(","id":)" +
              std::to_string(1000000 + i) + R"(,"tags":["ranked","duo"]})";
    }
  }
  body += "]}";
  return body;
}

std::string_view PathOf(Body shape) {
  return shape == Body::Dodge ? kDodgePath : kRosterPath;
}

void Serve(benchmark::State& state, const NaloRequest& request) {
  const Routes& routes = Table();
  for (auto _ : state) {
    NaloResponse response;
    Nalo::RouteTable::DispatchEntry(const_cast<Nalo::RouteTable*>(&routes.table), &response,
                                    &request);
    benchmark::DoNotOptimize(response.status);
    if (response.error != nullptr) {
      state.SkipWithError(response.error);
    }
    response.release(&response);
  }
}

void GetLiteral(benchmark::State& state, std::string_view path) {
  const std::string text(path);
  NaloRequest request{};
  request.method = NALO_METHOD_GET;
  request.path = text.c_str();
  Serve(state, request);
}

NaloRequest JsonPost(const std::string& path, const std::string& body) {
  NaloRequest request{};
  request.method = NALO_METHOD_POST;
  request.path = path.c_str();
  request.contentType = "application/json; charset=utf-8";
  request.body = reinterpret_cast<const std::uint8_t*>(body.data());
  request.bodyLength = body.size();
  return request;
}

void PostQueryFlag(benchmark::State& state, std::string_view query) {
  const std::string path = std::string(kFlagPath) + "?" + std::string(query);
  NaloRequest request{};
  request.method = NALO_METHOD_POST;
  request.path = path.c_str();
  Serve(state, request);
}

void PostJsonBody(benchmark::State& state, Body shape) {
  const std::string body = BodyText(shape);
  const std::string path(PathOf(shape));
  Serve(state, JsonPost(path, body));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

void PostJsonObject(benchmark::State& state, Body shape) {
  const std::string body = BodyText(shape);
  const std::string path(kEventPath);
  Serve(state, JsonPost(path, body));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

template <class Record>
void ParseAndConvert(benchmark::State& state, const std::string& body) {
  const Routes& routes = Table();
  for (auto _ : state) {
    Nalo::BindingResult parsed = Nalo::ParseJson(body.data(), body.size());
    Record record;
    Nalo::BindingResult converted =
        Nalo::FromProperty(record, parsed.Value(), "body", routes.registry);
    if (parsed.Failed() || converted.Failed()) {
      state.SkipWithError("the body doesn't convert");
    }
    benchmark::DoNotOptimize(record);
  }
}

void ParseJsonConvert(benchmark::State& state, Body shape) {
  const std::string body = BodyText(shape);
  if (shape == Body::Dodge) {
    ParseAndConvert<GameflowGameDodge>(state, body);
  } else {
    ParseAndConvert<Roster>(state, body);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

void ParseJsonOnly(benchmark::State& state, Body shape) {
  const std::string body = BodyText(shape);
  for (auto _ : state) {
    Nalo::BindingResult parsed = Nalo::ParseJson(body.data(), body.size());
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

BENCHMARK_CAPTURE(GetLiteral, first, kGetPaths[0]);
BENCHMARK_CAPTURE(GetLiteral, last, "/tav-gameflow/v1/gameflow-metadata/player-status");
BENCHMARK_CAPTURE(PostQueryFlag, enabled, "enabled=true");
BENCHMARK_CAPTURE(PostJsonBody, dodge, Body::Dodge);
BENCHMARK_CAPTURE(PostJsonBody, players, Body::Players);
BENCHMARK_CAPTURE(PostJsonObject, players, Body::Players);
BENCHMARK_CAPTURE(ParseJsonConvert, dodge, Body::Dodge);
BENCHMARK_CAPTURE(ParseJsonConvert, players, Body::Players);
BENCHMARK_CAPTURE(ParseJsonOnly, dodge, Body::Dodge);
BENCHMARK_CAPTURE(ParseJsonOnly, players, Body::Players);

// Each dispatch against the floor it can't go below.
constexpr Nalo::Bench::RatioComparison kComparisons[] = {
    {"PostJsonBody", "ParseJsonOnly"},
    {"PostJsonObject", "ParseJsonOnly"},
    {"PostJsonBody", "ParseJsonConvert"},
    {"ParseJsonConvert", "ParseJsonOnly"},
};

}  // namespace

int main(int argc, char** argv) {
  return Nalo::Bench::RunWithRatioSummary(argc, argv, kComparisons,
                                          {.baseline = Nalo::Bench::BaselineColumn::Shown,
                                           .unit = Nalo::Bench::SummaryTimeUnit::Microseconds});
}
