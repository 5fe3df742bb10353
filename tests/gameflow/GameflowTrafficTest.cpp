// Random but seeded traffic through the stand-in core with realistic peers:
// every route with well-formed and slightly wrong arguments, events, platform
// messages in every game state, peer values and failures, LCDS answers,
// time, and restarts that keep the data store. After every step the plugin
// is still there, every answer came at once and is well formed, the phase
// last published for the session is the one GET session shows, and no log
// line names a key or token.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "binding/Json.h"
#include "gameflow/GameflowEvent.h"
#include "host/core/Host.h"
#include "host/peers/Peers.h"

namespace Nalo::Client::Gameflow {
namespace {

constexpr const char* kPluginPath = NALO_GAMEFLOW_PLUGIN_PATH;
constexpr std::string_view kSessionEvent = "OnJsonApiEvent_tav-gameflow_v1_session";
constexpr int kSteps = 8000;

struct Route {
  const char* method;
  const char* path;
  // Bodies that fit and bodies that are slightly wrong; empty: none.
  std::vector<std::string> bodies;
};

const std::vector<Route>& Routes() {
  static const std::vector<Route> routes = {
      {"GET", "/tav-gameflow/v1/availability", {}},
      {"POST", "/tav-gameflow/v1/reconnect", {}},
      {"POST", "/tav-gameflow/v1/ack-failed-to-launch", {}},
      {"GET", "/tav-gameflow/v1/extra-game-client-args", {}},
      {"POST", "/tav-gameflow/v1/extra-game-client-args",
       {R"(["-Windowed"])", "[]", R"([1, 2])", R"("-Windowed")", "{"}},
      {"GET", "/tav-gameflow/v1/session", {}},
      {"GET", "/tav-gameflow/v1/active-patcher-lock", {}},
      {"POST", "/tav-gameflow/v1/session/dodge",
       {R"({"state": "PartyDodged", "dodgeIds": [1], "phase": "ChampSelect"})",
        R"({"state": "StrangerDodged", "dodgeIds": [2411]})", R"({"state": "Nobody"})", "7", ""}},
      {"POST", "/tav-gameflow/v1/session/game-configuration",
       {R"({"id": 420, "mapId": 11, "gameMode": "CLASSIC"})", R"({"id": "x"})", "null"}},
      {"POST", "/tav-gameflow/v1/session/request-lobby", {}},
      {"POST", "/tav-gameflow/v1/session/request-tournament-checkin", {}},
      {"POST", "/tav-gameflow/v1/session/tournament-ended", {}},
      {"POST", "/tav-gameflow/v1/tick", {}},
      {"POST", "/tav-gameflow/v1/pre-end-game-transition?enabled=true", {}},
      {"POST", "/tav-gameflow/v1/pre-end-game-transition?enabled=maybe", {}},
      {"POST", "/tav-gameflow/v1/client-received-message", {R"("GameReconnect")", "3", ""}},
      {"GET", "/tav-gameflow/v1/watch", {}},
      {"POST", "/tav-gameflow/v1/watch/launch",
       {"[]", R"(["8394", "TavoraClient.exe"])", R"({"args": 1})", "[[]]"}},
      {"GET", "/tav-gameflow/v1/spectate", {}},
      {"POST", "/tav-gameflow/v1/spectate/launch", {R"("Somebody")", R"("")", "12", "{}"}},
      {"GET", "/tav-gameflow/v1/spectate/delayed-launch", {}},
      {"POST", "/tav-gameflow/v1/spectate/quit", {}},
      {"GET", "/tav-gameflow/v1/basic-tutorial", {}},
      {"GET", "/tav-gameflow/v1/battle-training", {}},
      {"POST", "/tav-gameflow/v1/battle-training/start", {}},
      {"POST", "/tav-gameflow/v1/battle-training/stop", {}},
      {"POST", "/tav-gameflow/v1/basic-tutorial/start", {}},
      {"POST", "/tav-gameflow/v1/gameflow-metadata/player-status",
       {R"({"currentLobbyStatus": {"queueId": 420, "isCustom": false}})", R"({"x": [1]})", "[]"}},
      {"GET", "/tav-gameflow/v1/gameflow-metadata/player-status", {}},
      {"GET", "/tav-gameflow/v1/no-such-route", {}},
      {"PATCH", "/tav-gameflow/v1/session", {}},
  };
  return routes;
}

constexpr std::array<std::string_view, 9> kGameStates = {
    "JOINING_CHAMP_SELECT", "CHAMP_SELECT", "START_REQUESTED", "IN_PROGRESS",   "TERMINATED",
    "TERMINATED_IN_ERROR",  "POST_CHAMP_SELECT", "",          "NOT_A_STATE"};

// Peer paths a failure can hit.
constexpr std::array<std::string_view, 9> kFaultPaths = {
    "/patcher/v1/products/tavora/stop-checking-request",
    "/patcher/v1/products/tavora/start-checking-request",
    "/patcher/v1/products/tavora/paths",
    "/naloclient/command-line-args",
    "/naloclient/app-port",
    "/naloclient/auth-token",
    "/data-store/v1/install-settings/gameflow-patcher-lock",
    "/data-store/v1/install-settings/gameflow-process-info",
    "/tav-login/v1/session/invoke",
};

class GameflowTraffic : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nalo-traffic-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    mState = pattern;
    Start();
  }

  void TearDown() override {
    mHost.reset();
    std::filesystem::remove_all(mState);
  }

  // No game client is installed in the state folder: every launch fails at
  // the spawn, and nothing outlives the test.
  void Start() {
    Host::HostOptions options;
    options.peers = Host::PeerSetup::Realistic;
    options.stateFolder = mState;
    // A wait that never ends ends the process: the test fails, not hangs.
    options.waitLimit = std::chrono::seconds(20);
    mHost.reset();
    mHost = std::make_unique<Host::Host>(options);
    auto loaded = mHost->Load(kPluginPath);
    ASSERT_FALSE(loaded.HasFailure()) << loaded.GetFailure();
    mPhase = "None";
    mSeen = 0;
    mLinesSeen = 0;
  }

  BindingProperty Json(std::string_view text) { return ParseJson(text).Value(); }

  std::size_t Pick(std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(mRandom);
  }

  // An answer of the core is timely (virtual time stood still but for the
  // LCDS delays this test sets, at most 2 s) and well formed.
  void Check(const Host::Response& answer, std::uint64_t before, const std::string& what) {
    EXPECT_LE(mHost->NowNanoseconds() - before, 2'000'000'000U) << what;
    EXPECT_GE(answer.status, 100U) << what;
    EXPECT_LT(answer.status, 600U) << what;
    EXPECT_EQ(answer.status >= 400, !answer.error.empty())
        << what << ": " << answer.status << " " << answer.error;
  }

  Host::Response Request(std::string_view method, std::string_view path, std::string_view body,
                         std::string_view contentType = "application/json") {
    const std::uint64_t before = mHost->NowNanoseconds();
    Host::Response answer = mHost->Request(method, path, body, contentType);
    Check(answer, before, std::string(method) + " " + std::string(path) + " " + std::string(body));
    return answer;
  }

  // The session's phase as last published and as GET session shows it; no
  // log line names a key or token the traffic handed out.
  void ExpectPhaseInStep(int step) {
    const auto& lines = mHost->LogLines();
    for (; mLinesSeen < lines.size(); ++mLinesSeen) {
      for (std::string_view secret : {"k3y-of-traffic", "stand-in-auth-token"}) {
        EXPECT_EQ(lines[mLinesSeen].text.find(secret), std::string::npos)
            << lines[mLinesSeen].text;
      }
    }
    const auto& events = mHost->PublishedEvents();
    for (; mSeen < events.size(); ++mSeen) {
      if (events[mSeen].name == kSessionEvent) {
        mPhase = std::string(events[mSeen].Data()->Find("phase")->StringValue());
      }
    }
    const Host::Response session = mHost->Request("GET", "/tav-gameflow/v1/session");
    if (session.status == 404) {
      EXPECT_EQ(mPhase, "None") << "after step " << step;
    } else {
      ASSERT_EQ(session.status, 200U) << session.error;
      EXPECT_EQ(session.body.Find("phase")->StringValue(), mPhase) << "after step " << step;
    }
  }

  void RouteStep() {
    const Route& route = Routes()[Pick(Routes().size())];
    std::string body;
    std::string contentType = "application/json";
    if (!route.bodies.empty()) {
      body = route.bodies[Pick(route.bodies.size())];
    } else if (Pick(8) == 0) {
      body = R"({"unexpected": true})";
    }
    if (Pick(20) == 0) {
      contentType = "text/x-yaml";
    }
    Request(route.method, route.path, body, contentType);
  }

  void EventStep() {
    // Most events carry a match forward, so the walk reaches the later phases.
    static constexpr std::array<GameflowEvent, 9> kForward = {
        GameflowEvent::RequestedLobby,     GameflowEvent::EnteredLobby,
        GameflowEvent::EnteredQueue,       GameflowEvent::EnteredReadyCheck,
        GameflowEvent::EnteredChampSelect, GameflowEvent::GameStarted,
        GameflowEvent::GameLaunched,       GameflowEvent::StatsReceived,
        GameflowEvent::PreEndOfGameCompleted};
    const std::size_t index = Pick(kGameflowEventCount + 3);
    std::string name;
    if (Pick(3) != 0) {
      name = GameflowEventName(kForward[Pick(kForward.size())]);
    } else if (index < kGameflowEventCount) {
      name = GameflowEventName(static_cast<GameflowEvent>(index));
    } else if (index == kGameflowEventCount) {
      name = "GAMEFLOW_EVENT.";
    } else if (index == kGameflowEventCount + 1) {
      name = "gameflow_event.game_started";
    }
    Request("POST", "/tav-gameflow/v1/session/event", "\"" + name + "\"");
  }

  void PlatformStep() {
    Host::Peers& peers = mHost->GetPeers();
    if (Pick(3) == 0) {
      const bool observer = Pick(4) == 0;
      std::string credentials =
          R"({"gameId": 7, "serverIp": "10.1.2.3", "serverPort": 5100, "encryptionKey": "k3y-of-traffic",
              "summonerId": 2411, "observer": )" +
          std::string(observer ? "true" : "false") +
          R"(, "observerServerIp": "10.9.9.9", "observerServerPort": 8088,
              "observerEncryptionKey": "obs-k3y-of-traffic"})";
      if (Pick(5) == 0) {
        credentials = R"({"gameId": "seven", "serverPort": -1})";
      }
      peers.PushLcds("com.nalogames.platform.game.PlayerCredentialsDto", Json(credentials));
      return;
    }
    const std::string state(kGameStates[Pick(kGameStates.size())]);
    const std::string type = Pick(6) == 0 ? "PRACTICE_GAME" : "MATCHED_GAME";
    peers.PushLcds("com.nalogames.platform.game.GameDTO",
                   Json(R"({"id": 7, "gameState": ")" + state + R"(", "gameType": ")" + type +
                        R"(", "queueTypeName": "NORMAL", "mapId": 11, "gameMode": "CLASSIC",
                            "teamOne": [{"summonerId": 2411}], "spectatorDelay": 3})"));
  }

  void PeerValueStep() {
    Host::Peers& peers = mHost->GetPeers();
    switch (Pick(7)) {
      case 0: {
        const bool connected = Pick(2) == 0;
        peers.SetResource("/tav-login/v1/session",
                          Json(connected ? R"({"state": "SUCCEEDED", "connected": true,
                                               "accountId": 7341, "summonerId": 2411})"
                                         : R"({"state": "IN_PROGRESS", "connected": false})"));
        break;
      }
      case 1: {
        BindingProperty state =
            Json(R"({"action": "Idle", "isCorrupted": false, "isUpToDate": true,
                     "isUpdateAvailable": false})");
        state.member("isCorrupted").SetBool(Pick(5) == 0);
        state.member("isUpToDate").SetBool(Pick(3) != 0);
        state.member("isUpdateAvailable").SetBool(Pick(4) == 0);
        peers.SetResource("/patcher/v1/products/tavora/state", state);
        break;
      }
      case 2:
        if (Pick(2) == 0) {
          peers.DeleteResource("/tav-login/v1/login-in-game-creds");
        } else {
          peers.SetResource("/tav-login/v1/login-in-game-creds",
                            Json(R"({"inGame": true, "gameId": 7, "serverIp": "10.1.2.3",
                                     "serverPort": 5100, "encryptionKey": "k3y-of-traffic",
                                     "summonerId": 2411})"));
        }
        break;
      case 3:
        peers.PublishResource("/naloclient/ux-crash-count",
                              Json(R"({"crashCount": )" + std::to_string(Pick(4)) + "}"));
        break;
      case 4:
        peers.SetResource("/tav-login/v1/login-data-packet",
                          Json(Pick(4) == 0 ? R"({"bannedUntilDateMillis": 1})"
                                            : R"({"bannedUntilDateMillis": 0,
                                                  "platformId": "ST1"})"));
        break;
      case 5:
        if (Pick(2) == 0) {
          peers.DeleteResource(Pick(2) == 0 ? "/tav-game-queues/v1/queues"
                                            : "/tav-game-queues/v1/custom");
        } else {
          peers.SetResource(Pick(2) == 0 ? "/tav-game-queues/v1/queues"
                                         : "/tav-game-queues/v1/custom",
                            Json("[]"));
        }
        break;
      default:
        peers.InjectFault(kFaultPaths[Pick(kFaultPaths.size())],
                          static_cast<std::uint32_t>(1 + Pick(3)), Pick(2) == 0 ? 500 : 404,
                          "Refused by the traffic test.");
        break;
    }
  }

  void LcdsAnswerStep() {
    Host::LcdsAnswer answer;
    answer.typeName = "com.nalogames.platform.game.PlatformGameLifecycleDTO";
    const std::string state(kGameStates[Pick(kGameStates.size())]);
    answer.body = Json(R"({"game": {"id": 9, "gameState": ")" + state + R"(", "mapId": 11},
        "playerCredentials": {"gameId": 9, "observer": true, "observerServerIp": "10.9.9.9",
                              "observerServerPort": 8088,
                              "observerEncryptionKey": "obs-k3y-of-traffic"},
        "reconnectDelay": )" + std::to_string(Pick(3) * 5) + "}");
    if (Pick(4) == 0) {
      answer.failure = Failure(404, "No game.");
    } else if (Pick(3) == 0) {
      answer.delay = std::chrono::milliseconds(500 * Pick(4));
    }
    static constexpr std::array<const char*, 3> kMethods = {
        "retrieveInProgressGameInfo", "retrieveInProgressSpectatorGameInfo",
        "setClientReceivedGameMessage"};
    mHost->GetPeers().SetLcdsAnswer("gameService", kMethods[Pick(kMethods.size())], answer);
  }

  std::filesystem::path mState;
  std::unique_ptr<Host::Host> mHost;
  std::mt19937 mRandom{20261207};
  std::string mPhase;
  std::size_t mSeen = 0;
  std::size_t mLinesSeen = 0;
};

TEST_F(GameflowTraffic, EveryAnswerIsTimelyAndWellFormedAndThePhaseAgrees) {
  for (int step = 0; step < kSteps && !HasFailure(); ++step) {
    const std::size_t kind = Pick(100);
    if (kind < 30) {
      RouteStep();
    } else if (kind < 55) {
      EventStep();
    } else if (kind < 70) {
      PlatformStep();
    } else if (kind < 82) {
      PeerValueStep();
    } else if (kind < 87) {
      LcdsAnswerStep();
    } else if (kind < 99) {
      mHost->Advance(std::chrono::milliseconds(100 * (1 + Pick(50))));
    } else {
      Start();
    }
    ASSERT_EQ(mHost->PluginNames(), std::vector<std::string>{"tav-gameflow"});
    ExpectPhaseInStep(step);
    if (step % 200 == 199) {
      mHost->ClearRecords();
      mSeen = 0;
      mLinesSeen = 0;
    }
  }
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
