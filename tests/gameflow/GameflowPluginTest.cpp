// The gameflow plugin through the stand-in core: what scenario files cannot
// carry (a megabyte of text, raw bytes in a MessagePack body) and the memory
// a long run leaves behind.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/Json.h"
#include "gameflow/GameflowChart.h"
#include "gameflow/GameflowEvent.h"
#include "host/core/Host.h"
#include "host/peers/Peers.h"

namespace Nalo::Client::Gameflow {
namespace {

constexpr const char* kPluginPath = NALO_GAMEFLOW_PLUGIN_PATH;
constexpr std::string_view kEventPath = "/tav-gameflow/v1/session/event";

// A MessagePack str (str 32) holding `bytes` exactly.
std::string MessagePackString(std::string_view bytes) {
  std::string packed = "\xDB";
  for (int shift = 24; shift >= 0; shift -= 8) {
    packed += static_cast<char>((bytes.size() >> shift) & 0xFF);
  }
  return packed + std::string(bytes);
}

class GameflowPluginThroughHost : public testing::Test {
 protected:
  void SetUp() override {
    auto loaded = mHost.Load(kPluginPath);
    ASSERT_FALSE(loaded.HasFailure()) << loaded.GetFailure();
  }

  bool Logged(std::string_view text) const {
    const auto& lines = mHost.LogLines();
    return std::any_of(lines.begin(), lines.end(), [&](const Host::LogLine& line) {
      return line.text.find(text) != std::string::npos;
    });
  }

  // The phases published for the session so far.
  std::vector<std::string> Phases() const {
    std::vector<std::string> phases;
    for (const Host::PublishedEvent& event : mHost.PublishedEvents()) {
      if (event.name == "OnJsonApiEvent_tav-gameflow_v1_session") {
        phases.emplace_back(event.payload->Find("data")->Find("phase")->StringValue());
      }
    }
    return phases;
  }

  Host::Host mHost;
};

TEST_F(GameflowPluginThroughHost, NamesThatAreNoEventNeverReachTheChart) {
  struct Case {
    const char* name;
    std::string body;
    std::string contentType;
    std::string logged;
  };
  const std::string megabyte = "GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT" + std::string(1 << 20, 'X');
  const Case cases[] = {
      {"a megabyte", ToJson([&] {
         BindingProperty text;
         text.SetString(std::string_view(megabyte));
         return text;
       }()),
       "application/json",
       "Ignoring '" + megabyte.substr(0, 64) + "... (" + std::to_string(megabyte.size()) +
           " bytes)'"},
      {"a NUL byte", MessagePackString(std::string("GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT\0", 36)),
       "application/x-msgpack", "Ignoring 'GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT\\x00'"},
      {"invalid UTF-8", MessagePackString("GAMEFLOW_EVENT.\xC3\x28\xFF"), "application/x-msgpack",
       "Ignoring 'GAMEFLOW_EVENT.\\xC3(\\xFF'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Host::Response response = mHost.Request("POST", kEventPath, c.body, c.contentType);
    EXPECT_EQ(response.status, 204U) << response.error;
    EXPECT_TRUE(Logged(c.logged));
  }
  EXPECT_THAT(Phases(), testing::ElementsAre("None"));
  // The chart still takes real events.
  mHost.Request("POST", kEventPath, "\"GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT\"");
  EXPECT_THAT(Phases(), testing::ElementsAre("None", "ChampSelect"));
}

// Bytes and blocks the plugin holds: allocated minus freed.
std::pair<std::uint64_t, std::uint64_t> InUse(const std::vector<std::uint32_t>& words) {
  const auto counter = [&](std::size_t index) {
    return words[2 * index] | (static_cast<std::uint64_t>(words[2 * index + 1]) << 32);
  };
  // peak, outstanding at peak, bytes allocated, allocations, bytes freed, frees
  return {counter(2) - counter(4), counter(3) - counter(5)};
}

TEST_F(GameflowPluginThroughHost, WholeMatchesLeaveNothingBehind) {
  BindingProperty empty;
  empty.MakeCollection();
  mHost.GetPeers().SetResource("/tav-game-queues/v1/queues", empty);
  mHost.GetPeers().SetResource("/tav-game-queues/v1/custom", empty);
  const auto post = [&](std::string_view event) {
    mHost.Request("POST", kEventPath, "\"GAMEFLOW_EVENT." + std::string(event) + "\"");
  };
  const auto push = [&](std::string_view state) {
    mHost.GetPeers().PushLcds("com.nalogames.platform.game.GameDTO",
                              ParseJson(R"({"id": 7, "gameState": ")" + std::string(state) +
                                        R"(", "teamOne": [{"summonerId": 1}]})")
                                  .Value());
  };
  const auto playMatch = [&] {
    mHost.Request("POST", "/tav-gameflow/v1/session/request-lobby");
    post("ENTERED_LOBBY");
    post("ENTERED_QUEUE");
    push("JOINING_CHAMP_SELECT");
    post("ENTERED_CHAMP_SELECT");
    post("GAME_STARTED");
    post("GAME_LAUNCHED");
    mHost.Advance(std::chrono::seconds(31));  // one refresh of the patcher lock
    push("TERMINATED");
    post("STATS_RECEIVED");
    post("PRE_END_OF_GAME_COMPLETED");
    post("STATS_DISMISSED");
    mHost.Advance(std::chrono::seconds(31));  // the refresh chain ends
    const std::vector<std::string> phases = Phases();
    ASSERT_GE(phases.size(), 10U);
    EXPECT_THAT(
        std::vector<std::string>(phases.end() - 10, phases.end()),
        testing::ElementsAre("Lobby", "Matchmaking", "ReadyCheck", "ChampSelect", "GameStart",
                             "InProgress", "WaitingForStats", "PreEndOfGame", "EndOfGame", "None"));
    mHost.ClearRecords();
  };
  playMatch();
  const auto afterFirst = InUse(mHost.MemoryStatistics("tav-gameflow").value());
  for (int match = 1; match < 200; ++match) {
    playMatch();
  }
  EXPECT_EQ(InUse(mHost.MemoryStatistics("tav-gameflow").value()), afterFirst);
  EXPECT_EQ(mHost.PendingTaskCount(), 1U);  // the tick alone
}

// Each subscribed resource acts on the event kinds its handler takes: the
// crash report only on a change of the count, the early relaunch only on the
// login's first credentials, a patcher that starts after the gameflow
// announces its first state as a creation, which counts like an update.
TEST(GameflowSubscriptions, EachResourceActsOnlyOnItsEventKinds) {
  enum Kind { Create, Update, Delete };
  struct Case {
    const char* path;
    const char* value;
    std::array<bool, 3> acts;  // Create, Update, Delete
    std::function<bool(Host::Host&)> acted;
    const char* before = nullptr;  // another resource set first
  };
  const auto availability = [](std::string_view state) {
    return [state = std::string(state)](Host::Host& host) {
      const Host::Response answer = host.Request("GET", "/tav-gameflow/v1/availability");
      return answer.body.Find("state") != nullptr &&
             answer.body.Find("state")->StringValue() == state;
    };
  };
  const auto logged = [](std::string_view text) {
    return [text = std::string(text)](Host::Host& host) {
      const auto& lines = host.LogLines();
      return std::any_of(lines.begin(), lines.end(), [&](const Host::LogLine& line) {
        return line.text.find(text) != std::string::npos;
      });
    };
  };
  const Case cases[] = {
      {"/tav-login/v1/session", R"({"connected": true})", {true, true, false},
       logged("Did not relaunch game because user was not logged in.")},
      {"/tav-login/v1/login-data-packet", R"({"bannedUntilDateMillis": 1})", {true, true, false},
       availability("PlayerBanned")},
      {"/tav-login/v1/login-in-game-creds",
       R"({"inGame": true, "gameId": 7, "serverIp": "10.1.2.3", "serverPort": 5100})",
       {true, false, false}, logged("Received login-in-game-creds")},
      {"/patcher/v1/products/tavora/state",
       R"({"action": "Idle", "isCorrupted": false, "isUpToDate": false})", {true, true, false},
       availability("Patching")},
      {"/naloclient/ux-crash-count", R"({"crashCount": 2})", {false, true, false},
       [](Host::Host& host) {
         const auto& telemetry = host.GetPeers().Telemetry();
         return std::any_of(telemetry.begin(), telemetry.end(), [](const auto& record) {
           return record.name == "ncp-be-tav-gameflow.ux-crash";
         });
       }},
      {"/tav-game-queues/v1/queues", "[]", {true, true, false}, availability("Available"),
       "/tav-game-queues/v1/custom"},
      {"/tav-game-queues/v1/custom", "[]", {true, true, false}, availability("Available"),
       "/tav-game-queues/v1/queues"},
  };
  for (const Case& c : cases) {
    for (const Kind kind : {Create, Update, Delete}) {
      constexpr std::array<const char*, 3> kKindNames = {"Create", "Update", "Delete"};
      SCOPED_TRACE(std::string(c.path) + " " + kKindNames[kind]);
      Host::Host host;
      ASSERT_FALSE(host.Load(kPluginPath).HasFailure());
      if (c.before != nullptr) {
        host.GetPeers().SetResource(c.before, ParseJson("[]").Value());
      }
      const BindingProperty value = ParseJson(c.value).Value();
      switch (kind) {
        case Create:
          host.GetPeers().SetResource(c.path, value);
          break;
        case Update:
          host.GetPeers().PublishResource(c.path, value);
          break;
        case Delete:
          host.GetPeers().DeleteResource(c.path);
          break;
      }
      EXPECT_EQ(c.acted(host), c.acts[kind]);
    }
  }
}

// The phase the chart's state `name` publishes on entry, as the session
// shows it; nothing for a state that publishes none.
std::optional<std::string> PhaseOfState(std::string_view name) {
  const GameflowChartState* state = FindGameflowChartState(name);
  if (state == nullptr || !state->PhaseOnEntry().has_value()) {
    return std::nullopt;
  }
  return std::string(Api::GameflowPhaseName(*state->PhaseOnEntry()));
}

// A random walk from a fixed seed: events posted by clients (and names that
// are none), platform pushes with random game states, patcher changes and
// ticks. After every step the last published phase is the one the state last
// entered publishes; after the walk, back in None, the plugin holds the memory
// it held the first time it was back in None.
TEST_F(GameflowPluginThroughHost, RandomWalkKeepsSessionAndChartInStep) {
  constexpr int kSteps = 100000;
  constexpr std::string_view kEntering = "Gameflow: entering state '";
  const std::array<std::string_view, 7> gameStates = {"JOINING_CHAMP_SELECT",
                                                      "TERMINATED",
                                                      "TERMINATED_IN_ERROR",
                                                      "IN_PROGRESS",
                                                      "START_REQUESTED",
                                                      "CHAMP_SELECT",
                                                      ""};
  std::mt19937 random(20261207);
  const auto pick = [&](std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
  };
  std::string state = "None";
  std::string phase = "None";
  std::size_t logSeen = 0;
  std::size_t eventsSeen = 0;
  // Follows the log and the publications since the last look.
  const auto follow = [&] {
    const auto& lines = mHost.LogLines();
    for (; logSeen < lines.size(); ++logSeen) {
      const std::string& text = lines[logSeen].text;
      if (text.starts_with(kEntering)) {
        const std::string name = text.substr(kEntering.size(), text.size() - kEntering.size() - 1);
        if (PhaseOfState(name).has_value()) {
          state = name;
        }
      }
    }
    const auto& events = mHost.PublishedEvents();
    for (; eventsSeen < events.size(); ++eventsSeen) {
      if (events[eventsSeen].name == "OnJsonApiEvent_tav-gameflow_v1_session") {
        phase = std::string(events[eventsSeen].payload->Find("data")->Find("phase")->StringValue());
      }
    }
  };
  const auto postEvent = [&](std::string_view name) {
    mHost.Request("POST", kEventPath, "\"" + std::string(name) + "\"");
  };
  const auto backToNone = [&] {
    postEvent("GAMEFLOW_EVENT.TERMINATED_IN_ERROR");
    postEvent("GAMEFLOW_EVENT.TERMINATED");
    mHost.RunDueTasks();  // a running tournament walks back to its check-in
    postEvent("GAMEFLOW_EVENT.CHECKED_OUT_OF_TOURNAMENT");
    mHost.Advance(std::chrono::seconds(31));  // refreshes of the patcher lock end
    follow();
    ASSERT_EQ(state, "None");
    mHost.ClearRecords();
    logSeen = 0;
    eventsSeen = 0;
  };
  backToNone();
  const auto walk = [&](int steps) {
    for (int step = 0; step < steps; ++step) {
      switch (pick(10)) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5: {
          const std::size_t index = pick(kGameflowEventCount + 1);
          postEvent(index < kGameflowEventCount
                        ? GameflowEventName(static_cast<GameflowEvent>(index))
                        : std::string_view("GAMEFLOW_EVENT.NOT_AN_EVENT"));
          break;
        }
        case 6:
          mHost.GetPeers().PushLcds(
              "com.nalogames.platform.game.GameDTO",
              ParseJson(R"({"id": 5, "gameState": ")" +
                        std::string(gameStates[pick(gameStates.size())]) + R"("})")
                  .Value());
          break;
        case 7: {
          BindingProperty patcher = ParseJson(R"({"action": "Idle", "isUpToDate": true})").Value();
          patcher.member("isCorrupted").SetBool(pick(8) == 0);
          patcher.member("isUpToDate").SetBool(pick(4) != 0);
          mHost.GetPeers().SetResource("/patcher/v1/products/tavora/state", patcher);
          break;
        }
        case 8:
          mHost.Request("POST", "/tav-gameflow/v1/session/request-lobby");
          break;
        default:
          mHost.Advance(std::chrono::milliseconds(500));
          break;
      }
      follow();
      const std::string expected = PhaseOfState(state).value();
      // "None" shows CheckedIntoTournament while a tournament runs.
      if (!(state == "None" && phase == "CheckedIntoTournament")) {
        ASSERT_EQ(phase, expected) << "after step " << step << " in state " << state;
      }
      if (step % 1000 == 999) {
        mHost.ClearRecords();
        logSeen = 0;
        eventsSeen = 0;
      }
    }
    BindingProperty clean =
        ParseJson(R"({"action": "Idle", "isCorrupted": false, "isUpToDate": true})").Value();
    mHost.GetPeers().SetResource("/patcher/v1/products/tavora/state", clean);
    backToNone();
  };
  // The first walk lets the runtime's tables (tasks, timers) reach the sizes a
  // walk needs; a second walk of the same length must leave nothing behind.
  walk(kSteps / 2);
  const auto baseline = InUse(mHost.MemoryStatistics("tav-gameflow").value());
  walk(kSteps / 2);
  EXPECT_EQ(InUse(mHost.MemoryStatistics("tav-gameflow").value()), baseline);
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
