// The gameflow plugin through the stand-in core: what scenario files cannot
// carry (a megabyte of text, raw bytes in a MessagePack body) and the memory
// a long run leaves behind.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/Json.h"
#include "host/Host.h"
#include "host/Peers.h"

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
  for (int match = 0; match < 20; ++match) {
    playMatch();
  }
  EXPECT_EQ(InUse(mHost.MemoryStatistics("tav-gameflow").value()), afterFirst);
  EXPECT_EQ(mHost.PendingTaskCount(), 1U);  // the tick alone
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
