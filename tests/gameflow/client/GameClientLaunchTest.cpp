// The gameflow plugin launching the real stand-in game client through the
// stand-in core, for what the scenarios (gameflow_client_*.yaml) leave out:
// the launches that fail or must not be taken for failed, a recorded pid of
// another program, a client that stays unwatched after a restart, watches,
// spectates now, delayed and unconvertible, battle training, ends in None and
// the front-end crash report; no log line of any test names a secret.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "binding/Json.h"
#include "gameflow/ProcessRecord.h"
#include "platform/ProcessSystem.h"
#include "host/core/Host.h"
#include "host/peers/Peers.h"
#include "tools/stand-in-client/StandInClientInstall.h"

namespace Nalo::Client::Gameflow {
namespace {

constexpr const char* kPluginPath = NALO_GAMEFLOW_PLUGIN_PATH;
constexpr const char* kStandInClientPath = NALO_STAND_IN_CLIENT_PATH;
constexpr std::string_view kEventPath = "/tav-gameflow/v1/session/event";
constexpr std::string_view kEncryptionKey = "k3y-of-the-game";
constexpr std::string_view kAuthToken = "stand-in-auth-token";
constexpr std::string_view kObserverKey = "obs-key-of-the-game";

BindingProperty Json(std::string_view text) {
  return ParseJson(text).Value();
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

class GameClientLaunch : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nalo-launch-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    mState = pattern;
    mClientFolder = mState / "tav_game_client_sln";
    std::filesystem::create_directories(mClientFolder);
    std::filesystem::create_directories(mState / "windows");
    setenv("NALO_STAND_IN_WINDOWS", (mState / "windows").c_str(), 1);
    // The client is a link: its control file and record are in this folder,
    // not beside the program the link points to.
    setenv("NALO_STAND_IN_CLIENT_DIR", mClientFolder.c_str(), 1);
  }

  void TearDown() override {
    EXPECT_THAT(mLeaks, testing::IsEmpty()) << "log lines that name a secret";
    mLeaks.clear();
    // No client outlives its test.
    if (const std::optional<std::uint32_t> pid = RecordedPid()) {
      static_cast<void>(mProcesses->WaitForProcess(*pid, std::chrono::milliseconds(0)));
    }
    for (std::uint32_t pid : mSpawned) {
      if (mProcesses->WaitForProcess(pid, std::chrono::milliseconds(0)) ==
          ProcessWaitOutcome::StillRunning) {
        kill(static_cast<pid_t>(pid), SIGKILL);
        static_cast<void>(mProcesses->WaitForProcess(pid, std::chrono::seconds(10)));
      }
    }
    mSpawned.clear();
    mHost.reset();
    unsetenv("NALO_STAND_IN_WINDOWS");
    unsetenv("NALO_STAND_IN_CLIENT_DIR");
    std::filesystem::remove_all(mState);
  }

  // Installs the stand-in client under the game client's name, told how to end.
  void InstallClient(std::string_view control) {
    auto installed = Nalo::StandIn::InstallStandInClient({.program = kStandInClientPath,
                                                    .clientFolder = mClientFolder,
                                                    .windowsFolder = mState / "windows",
                                                    .control = std::string(control)});
    ASSERT_FALSE(installed.HasFailure()) << installed.GetFailure();
  }

  void Start(bool announcePeers = true) {
    Host::HostOptions options;
    // No log line of any host a test starts names a secret the test handed out.
    options.logEcho = [this](std::string_view line) {
      for (const std::string& secret : mSecrets) {
        if (line.find(secret) != std::string_view::npos) {
          mLeaks.emplace_back(line);
        }
      }
    };
    options.announcePeers = announcePeers;
    options.peers = Host::PeerSetup::Realistic;
    options.stateFolder = mState;
    mHost = std::make_unique<Host::Host>(options);
    auto loaded = mHost->Load(kPluginPath);
    ASSERT_FALSE(loaded.HasFailure()) << loaded.GetFailure();
  }

  // The host restarts (the data store keeps its file; a client runs on) with
  // its peers silent; `first` runs on the new host, then the peers at
  // `announce` announce their values again, in that order.
  void Restart(std::initializer_list<const char*> announce,
               const std::function<void()>& first = [] {}) {
    mHost.reset();
    Start(false);
    first();
    for (const char* path : announce) {
      mHost->GetPeers().SetResource(path, *mHost->GetPeers().Resource(path));
    }
  }

  void Post(std::string_view event) {
    mHost->Request("POST", kEventPath, "\"GAMEFLOW_EVENT." + std::string(event) + "\"");
  }

  // Lobby, then a served game and its credentials: the launch runs inside the
  // credentials' delivery.
  void ServeGame() {
    mHost->Request("POST", "/tav-gameflow/v1/session/request-lobby");
    Post("ENTERED_LOBBY");
    mHost->GetPeers().PushLcds("com.nalogames.platform.game.GameDTO",
                               Json(R"({"id": 7, "gameState": "START_REQUESTED"})"));
    mHost->GetPeers().PushLcds("com.nalogames.platform.game.PlayerCredentialsDto",
                               Json(R"({"gameId": 7, "serverIp": "10.1.2.3", "serverPort": 5100,
                 "encryptionKey": ")" +
                                    std::string(kEncryptionKey) + R"(", "summonerId": 2411})"));
    if (const std::optional<std::uint32_t> pid = RecordedPid()) {
      mSpawned.push_back(*pid);
    }
  }

  std::optional<std::uint32_t> RecordedPid() const {
    if (mHost == nullptr) {
      return std::nullopt;
    }
    const std::optional<BindingProperty> info = mHost->GetPeers().Resource(kProcessRecordPath);
    if (!info.has_value() || info->Find("pid") == nullptr) {
      return std::nullopt;
    }
    return static_cast<std::uint32_t>(info->Find("pid")->AsSigned(0));
  }

  bool Logged(std::string_view text) const {
    const auto& lines = mHost->LogLines();
    return std::any_of(lines.begin(), lines.end(), [&](const Host::LogLine& line) {
      return line.text.find(text) != std::string::npos;
    });
  }

  // The values published at `path` (a deletion as "deleted").
  std::vector<std::string> Published(std::string_view path) const {
    std::vector<std::string> values;
    for (const Host::PublishedEvent& event : mHost->PublishedEvents()) {
      if (event.name != "OnJsonApiEvent" && event.uri == path) {
        const BindingProperty* data = event.Data();
        values.push_back(event.eventType == "Delete" || data == nullptr ? "deleted"
                                                                        : ToJson(*data));
      }
    }
    return values;
  }

  std::string ClientArguments() const {
    const std::string lines = ReadAll(mClientFolder / "stand-in-client.record");
    return ToJson(*Json(lines.substr(0, lines.find('\n'))).Find("arguments"));
  }

  std::vector<std::string> Phases() const {
    std::vector<std::string> phases;
    for (const Host::PublishedEvent& event : mHost->PublishedEvents()) {
      if (event.name == "OnJsonApiEvent_tav-gameflow_v1_session") {
        phases.emplace_back(event.payload->Find("data")->Find("phase")->StringValue());
      }
    }
    return phases;
  }

  std::filesystem::path mState;
  std::filesystem::path mClientFolder;
  std::unique_ptr<ProcessSystem> mProcesses = CreatePlatformProcessSystem();
  std::unique_ptr<Host::Host> mHost;
  std::vector<std::uint32_t> mSpawned;
  // The keys and tokens the tests hand out (the stand-in host's auth token
  // among them), and the log lines that named one.
  std::vector<std::string> mSecrets = {std::string(kEncryptionKey), std::string(kAuthToken),
                                       std::string(kObserverKey)};
  std::vector<std::string> mLeaks;
};

// The login comes up before the queues (game flow is not available yet) and
// the queues never arrive: the running client keeps its patcher lock until
// it ends, then the record and the lock go.
TEST_F(GameClientLaunch, AfterARestartAClientNeverWatchedKeepsItsLockUntilItEnds) {
  InstallClient("end = wait\n");
  Start();
  ServeGame();
  const std::optional<std::uint32_t> pid = RecordedPid();
  ASSERT_TRUE(pid.has_value());
  Restart({"/tav-login/v1/session"});
  mHost->Advance(std::chrono::seconds(2));
  EXPECT_TRUE(Logged("still runs; watching it once game flow is available"));
  // The lock outlives its 15 minutes while the client waits to be watched.
  mHost->Advance(std::chrono::minutes(20));
  EXPECT_FALSE(Logged("Clearing gameflow patcher lock."));
  EXPECT_FALSE(Logged("Patcher lock status is now: inactive"));
  EXPECT_EQ(RecordedPid(), pid);

  const std::string command = "stand-in-client." + std::to_string(*pid) + ".command";
  std::ofstream(mClientFolder / (command + ".tmp")) << "exit 0\n";
  std::filesystem::rename(mClientFolder / (command + ".tmp"), mClientFolder / command);
  EXPECT_EQ(mProcesses->WaitForProcess(*pid, std::chrono::seconds(10)), ProcessWaitOutcome::Ended);
  mHost->Advance(std::chrono::milliseconds(500));
  EXPECT_TRUE(Logged("Client is no longer running."));
  EXPECT_TRUE(Logged("Clearing gameflow patcher lock."));
  EXPECT_FALSE(RecordedPid().has_value());
}

TEST_F(GameClientLaunch, TheWindowCheckEndsWithTheClient) {
  InstallClient("window = no\nend = exit 0\n");
  Start();
  ServeGame();
  const std::optional<std::uint32_t> pid = RecordedPid();
  ASSERT_TRUE(pid.has_value());
  EXPECT_EQ(mProcesses->WaitForProcess(*pid, std::chrono::seconds(10)), ProcessWaitOutcome::Ended);
  mHost->Advance(std::chrono::milliseconds(100));
  ASSERT_TRUE(Logged("Client is no longer running."));
  mHost->ClearRecords();
  mHost->Advance(std::chrono::seconds(1));
  // Neither timer is scheduled again.
  for (const Host::CoreCall& call : mHost->CoreCalls()) {
    if (call.entry == Host::CoreEntry::PostTask) {
      EXPECT_EQ(call.text.find("check-window-visibility"), std::string::npos) << call.text;
      EXPECT_EQ(call.text.find("monitor-process-id"), std::string::npos) << call.text;
    }
  }
}

TEST_F(GameClientLaunch, AWatchReusesTheRunningClientWithTheSameArguments) {
  InstallClient("end = wait\n");
  Start();
  ServeGame();
  const std::optional<std::uint32_t> pid = RecordedPid();
  ASSERT_TRUE(pid.has_value());
  // In a game, no watch starts.
  EXPECT_EQ(mHost->Request("POST", "/tav-gameflow/v1/watch/launch", R"([])").status, 403U);
  mHost->GetPeers().PushLcds("com.nalogames.platform.game.GameDTO",
                             Json(R"({"id": 7, "gameState": "TERMINATED"})"));
  Post("STATS_RECEIVED");
  Post("PRE_END_OF_GAME_COMPLETED");
  ASSERT_EQ(Phases().back(), "EndOfGame");
  const std::string args = R"(["8394", "TavoraClient.exe", "/path", "10.1.2.3 5100 )" +
                           std::string(kEncryptionKey) +
                           R"( 2411", "-PlayerID=2411", "-GameID=7"])";
  const Host::Response watched = mHost->Request("POST", "/tav-gameflow/v1/watch/launch", args);
  EXPECT_TRUE(watched.Succeeded()) << watched.error;
  EXPECT_TRUE(Logged("Found running process, pid: \"" + std::to_string(*pid) + "\""));
  EXPECT_EQ(RecordedPid(), pid);
  EXPECT_THAT(Published("/tav-gameflow/v1/watch"), testing::ElementsAre(R"("WatchInProgress")"));
  EXPECT_EQ(mHost->Request("POST", "/tav-gameflow/v1/watch/launch", args).status, 403U);
}

TEST_F(GameClientLaunch, AFrontEndCrashIsReported) {
  Start();
  mHost->GetPeers().SetResource("/naloclient/ux-crash-count", Json(R"({"crashCount": -3})"));
  const auto& telemetry = mHost->GetPeers().Telemetry();
  ASSERT_FALSE(telemetry.empty());
  EXPECT_EQ(telemetry.back().name, "ncp-be-tav-gameflow.ux-crash");
  EXPECT_EQ(ToJson(telemetry.back().data), R"({"crashCount":"-3","phase":"None","queueId":"-1"})");
}

TEST_F(GameClientLaunch, ATickWhileTheLaunchWaitsIsNoFailedLaunch) {
  InstallClient("end = exit 0\n");
  Start();
  Host::LcdsAnswer late;
  late.typeName = "java.lang.Object";
  late.delay = std::chrono::seconds(2);  // four ticks run meanwhile
  mHost->GetPeers().SetLcdsAnswer("gameService", "setClientReceivedGameMessage", late);
  ServeGame();
  ASSERT_TRUE(RecordedPid().has_value());
  EXPECT_TRUE(Logged("Game Client Launched."));
  mHost->Advance(std::chrono::seconds(1));
  EXPECT_THAT(Phases(), testing::Not(testing::Contains("FailedToLaunch")));
  EXPECT_THAT(Phases(), testing::Contains("InProgress"));
}

TEST_F(GameClientLaunch, ALaunchThatFailsReachesFailedToLaunchThroughTheTick) {
  struct Case {
    const char* name;
    std::string paths;  // the patcher's answer; empty: the realistic folder, holding no client
    std::string logged;
    const char* faultPath = nullptr;  // answers 500 once
  };
  const Case cases[] = {
      {"no client in the folder", "",
       "Failed to launch the game client: processSpawnW failed:: No such file or directory"},
      {"no folder named", R"({"other": "/games"})",
       "Failed to launch the game client: Could not find path to Tavora game client in paths "
       "from patcher"},
      {"a path too long", R"({"tav_game_client_sln": "/)" + std::string(248, 'd') + R"("})",
       "Failed to launch the game client: Unable to launch the game client. Its file path "
       "exceeds the allowed limit of 260 characters."},
      // Whether the client gets -UseZump can't be decided: ALE-DEA0FC88.
      {"no host command line", "",
       "Failed to launch the game client: Could not read the host's command line: ",
       "/naloclient/command-line-args"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start();
    if (!c.paths.empty()) {
      mHost->GetPeers().SetResource("/patcher/v1/products/tavora/paths", Json(c.paths));
    }
    if (c.faultPath != nullptr) {
      mHost->GetPeers().InjectFault(c.faultPath, 1, 500, "Down.");
    }
    ServeGame();
    EXPECT_TRUE(Logged("Failed to launch game: " + c.logged));
    EXPECT_THAT(Phases(), testing::Not(testing::Contains("FailedToLaunch")));
    mHost->Advance(std::chrono::milliseconds(500));
    EXPECT_EQ(Phases().back(), "FailedToLaunch");
    EXPECT_FALSE(RecordedPid().has_value());
    mHost.reset();
  }
}

// The crashed client's end is noticed while the reconnect waits for the
// platform; the launch that then fails still reaches FailedToLaunch.
TEST_F(GameClientLaunch, AReconnectThatFailsAfterTheEarlierClientEndedReachesFailedToLaunch) {
  InstallClient("end = crash segv\n");
  Start();
  ServeGame();
  const std::optional<std::uint32_t> crashed = RecordedPid();
  ASSERT_TRUE(crashed.has_value());
  EXPECT_EQ(mProcesses->WaitForProcess(*crashed, std::chrono::seconds(10)),
            ProcessWaitOutcome::Ended);
  Post("RECONNECT_AVAILABLE");
  ASSERT_EQ(Phases().back(), "Reconnect");
  Host::LcdsAnswer late;
  late.typeName = "java.lang.Object";
  late.delay = std::chrono::seconds(1);
  mHost->GetPeers().SetLcdsAnswer("gameService", "setClientReceivedGameMessage", late);
  mHost->GetPeers().InjectFault("/patcher/v1/products/tavora/paths", 1, 500, "Patcher is down.");
  const Host::Response answer = mHost->Request("POST", "/tav-gameflow/v1/reconnect");
  EXPECT_EQ(answer.status, 500U);
  EXPECT_TRUE(Logged("Client is no longer running."));
  mHost->Advance(std::chrono::milliseconds(500));
  EXPECT_EQ(Phases().back(), "FailedToLaunch");
}

// A product marked corrupted refuses game flow. In-game credentials from the
// login, or a game in progress found when the login comes up in a game
// phase, then launch nothing (an ERROR line names the refusal); once the
// product is repaired the game is relaunched from the platform's record.
TEST_F(GameClientLaunch, ACorruptedProductRefusesTheRelaunchUntilItIsRepaired) {
  for (const bool early : {true, false}) {
    SCOPED_TRACE(early ? "in-game credentials before login" : "login up in a game phase");
    InstallClient("end = wait\n");
    Start();
    Host::LcdsAnswer inProgress;
    inProgress.typeName = "com.nalogames.platform.game.PlatformGameLifecycleDTO";
    inProgress.body = Json(R"({"game": {"id": 7, "gameState": "IN_PROGRESS"},
        "playerCredentials": {"gameId": 7, "serverIp": "10.1.2.3", "serverPort": 5100,
                              "encryptionKey": ")" +
                           std::string(kEncryptionKey) + R"(", "summonerId": 2411}})");
    mHost->GetPeers().SetLcdsAnswer("gameService", "retrieveInProgressGameInfo", inProgress);
    Host::Peers& peers = mHost->GetPeers();
    peers.SetResource("/tav-login/v1/session", Json(R"({"state": "IN_PROGRESS"})"));
    peers.SetResource("/patcher/v1/products/tavora/state",
                      Json(R"({"action": "Idle", "isCorrupted": true, "isUpToDate": false})"));
    ASSERT_TRUE(Logged("Corruption detected, attempting repair."));
    if (early) {
      peers.SetResource("/tav-login/v1/login-in-game-creds",
                        Json(R"({"inGame": true, "gameId": 7, "serverIp": "10.1.2.3",
                                 "serverPort": 5100, "summonerId": 2411})"));
    } else {
      Post("ENTERED_CHAMP_SELECT");
      peers.SetResource("/tav-login/v1/session",
                        Json(R"({"state": "SUCCEEDED", "connected": true, "accountId": 1,
                                 "summonerId": 2411})"));
    }
    const std::string code = early ? "ALE-4974EF56" : "ALE-4974EF55";
    const auto& lines = mHost->LogLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const Host::LogLine& line) {
      return line.level == NALO_LOG_ERROR && line.text.starts_with(code);
    }));
    EXPECT_FALSE(RecordedPid().has_value());
    EXPECT_THAT(Phases(), testing::Not(testing::Contains("GameStart")));
    const Host::Response availability = mHost->Request("GET", "/tav-gameflow/v1/availability");
    EXPECT_NE(availability.body.Find("state")->StringValue(), "InGameFlow");

    peers.SetResource("/patcher/v1/products/tavora/state",
                      Json(R"({"action": "Idle", "isCorrupted": false, "isUpToDate": true})"));
    const std::optional<std::uint32_t> pid = RecordedPid();
    ASSERT_TRUE(pid.has_value());
    mSpawned.push_back(*pid);
    EXPECT_EQ(Phases().back(), "InProgress");
    TearDown();
    SetUp();
  }
}

TEST_F(GameClientLaunch, ARecordedPidOfAnotherProgramIsNotTheClient) {
  InstallClient("end = exit 0\n");
  Start();
  // This test program runs under the recorded pid, with the very arguments
  // the launch builds.
  mHost->GetPeers().SetResource(
      kProcessRecordPath,
      Json(R"({"pid": )" + std::to_string(getpid()) +
           R"(, "rawArgs": ["8394", "TavoraClient.exe", "/path", "10.1.2.3 5100 )" +
           std::string(kEncryptionKey) + R"( 2411", "-PlayerID=2411", "-GameID=7"]})"));
  ServeGame();
  const std::optional<std::uint32_t> pid = RecordedPid();
  ASSERT_TRUE(pid.has_value());
  EXPECT_NE(*pid, static_cast<std::uint32_t>(getpid()));
  EXPECT_TRUE(Logged("Did not find running process, pid: \"" + std::to_string(getpid()) + "\""));
}

// The platform's answer for a spectated game.
Host::LcdsAnswer SpectatorGame(int reconnectDelay) {
  Host::LcdsAnswer answer;
  answer.typeName = "com.nalogames.platform.game.PlatformGameLifecycleDTO";
  answer.body = Json(R"({"game": {"id": 9, "gameState": "IN_PROGRESS", "mapId": 11,
                                  "gameMode": "CLASSIC", "gameType": "MATCHED_GAME",
                                  "queueTypeName": "NORMAL"},
                         "playerCredentials": {"gameId": 9, "observer": true,
                                               "observerServerIp": "10.9.9.9",
                                               "observerServerPort": 8088,
                                               "observerEncryptionKey": ")" +
                     std::string(kObserverKey) + R"("},
                         "reconnectDelay": )" +
                     std::to_string(reconnectDelay) + "}");
  return answer;
}

TEST_F(GameClientLaunch, ASpectateRunsTheObserverClientUntilItIsQuit) {
  InstallClient("end = exit 0\n");
  Start();
  mHost->GetPeers().SetLcdsAnswer("gameService", "retrieveInProgressSpectatorGameInfo",
                                  SpectatorGame(0));
  const Host::Response launched =
      mHost->Request("POST", "/tav-gameflow/v1/spectate/launch", R"("Somebody")");
  EXPECT_TRUE(launched.Succeeded()) << launched.error;
  const std::optional<std::uint32_t> pid = RecordedPid();
  ASSERT_TRUE(pid.has_value());
  mSpawned.push_back(*pid);
  EXPECT_EQ(mProcesses->WaitForProcess(*pid, std::chrono::seconds(10)), ProcessWaitOutcome::Ended);
  // The observer server's form; the platform id comes from the login data packet.
  EXPECT_THAT(ClientArguments(),
              testing::StartsWith(R"(["8394","TavoraClient.exe","/path",)"
                                  R"("spectator 10.9.9.9:8088 )" + std::string(kObserverKey) +
                                  R"( 9 ST1",)"
                                  R"("-HighlightsPath=/home/player/Videos/Tavora/Highlights",)"
                                  R"("-PlayerID=2411","-GameID=9","-UseZump",)"));
  EXPECT_THAT(Published("/tav-gameflow/v1/spectate"), testing::ElementsAre("true"));
  EXPECT_EQ(Phases().back(), "InProgress");
  EXPECT_TRUE(mHost->GetPeers()
                  .Resource("/data-store/v1/install-settings/gameflow-spectate-reconnect-info")
                  ->Find("game") != nullptr);
  // The spectate cannot start twice; quitting ends it.
  EXPECT_EQ(mHost->Request("POST", "/tav-gameflow/v1/spectate/launch", R"("Somebody")").status,
            403U);
  EXPECT_TRUE(mHost->Request("POST", "/tav-gameflow/v1/spectate/quit").Succeeded());
  EXPECT_EQ(Phases().back(), "None");
  EXPECT_THAT(Published("/tav-gameflow/v1/spectate"), testing::ElementsAre("true", "false"));
  EXPECT_EQ(ToJson(*mHost->GetPeers().Resource(
                "/data-store/v1/install-settings/gameflow-spectate-reconnect-info")),
            R"("")");
  const auto& telemetry = mHost->GetPeers().Telemetry();
  ASSERT_FALSE(telemetry.empty());
  EXPECT_EQ(telemetry.back().name, "spectate-end");
  EXPECT_THAT(ToJson(telemetry.back().data),
              testing::HasSubstr(R"("gameId":"9","gameMode":"CLASSIC","gameType":"MATCHED_GAME")"));
  const Host::Response again = mHost->Request("POST", "/tav-gameflow/v1/spectate/quit");
  EXPECT_EQ(again.status, 404U);
}

TEST_F(GameClientLaunch, ADelayedSpectateWaitsInChampSelectThenLaunches) {
  InstallClient("end = exit 0\n");
  Start();
  mHost->GetPeers().SetLcdsAnswers("gameService", "retrieveInProgressSpectatorGameInfo",
                                   {SpectatorGame(180), SpectatorGame(0)});
  EXPECT_TRUE(
      mHost->Request("POST", "/tav-gameflow/v1/spectate/launch", R"("Somebody")").Succeeded());
  EXPECT_EQ(Phases().back(), "ChampSelect");
  EXPECT_EQ(Published("/tav-gameflow/v1/spectate/delayed-launch").size(), 1U);
  EXPECT_FALSE(RecordedPid().has_value());
  mHost->Advance(std::chrono::seconds(179));
  EXPECT_FALSE(RecordedPid().has_value());
  mHost->Advance(std::chrono::seconds(1));
  EXPECT_TRUE(Logged("Launching spectate of Somebody after delay."));
  const std::optional<std::uint32_t> pid = RecordedPid();
  ASSERT_TRUE(pid.has_value());
  mSpawned.push_back(*pid);
  EXPECT_EQ(Phases().back(), "InProgress");
}

// Spectator credentials that don't convert are named in the failure without
// their keys, now and after a delay.
TEST_F(GameClientLaunch, CredentialsThatDoNotConvertAreShownWithoutTheirKeys) {
  InstallClient("end = exit 0\n");
  Start();
  Host::LcdsAnswer broken = SpectatorGame(0);
  broken.body.member("playerCredentials").member("gameId").SetString("nine");
  broken.body.member("playerCredentials").member("encryptionKey").SetString(kEncryptionKey);
  mHost->GetPeers().SetLcdsAnswers("gameService", "retrieveInProgressSpectatorGameInfo",
                                   {broken, SpectatorGame(30), broken});
  const Host::Response now =
      mHost->Request("POST", "/tav-gameflow/v1/spectate/launch", R"("Somebody")");
  EXPECT_EQ(now.status, 500U);
  EXPECT_THAT(now.error, testing::HasSubstr(R"("observerEncryptionKey":"<redacted>")"));
  EXPECT_THAT(now.error, testing::Not(testing::HasSubstr(std::string(kObserverKey))));

  EXPECT_TRUE(
      mHost->Request("POST", "/tav-gameflow/v1/spectate/launch", R"("Somebody")").Succeeded());
  mHost->Advance(std::chrono::seconds(30));
  EXPECT_TRUE(Logged(R"(Failed to launch delayed spectate: Failed to convert {"encryptionKey":"<redacted>",)"));
  EXPECT_FALSE(RecordedPid().has_value());
}

TEST_F(GameClientLaunch, BattleTrainingRunsItsGameAndEndsWithItsClient) {
  InstallClient("end = exit 0\n");
  Start();
  Host::LcdsAnswer tutorial;
  tutorial.typeName = "com.nalogames.platform.game.GameDTO";
  tutorial.body = Json(R"({"id": 12, "gameState": "START_REQUESTED", "mapId": 11,
                           "gameMode": "TUTORIAL", "gameType": "TUTORIAL_GAME"})");
  mHost->GetPeers().SetLcdsAnswer("gameService", "createTutorialGame", tutorial);
  EXPECT_TRUE(mHost->Request("POST", "/tav-gameflow/v1/battle-training/start").Succeeded());
  EXPECT_EQ(mHost->Request("POST", "/tav-gameflow/v1/basic-tutorial/start").status, 403U);
  EXPECT_THAT(Published("/tav-gameflow/v1/battle-training"), testing::ElementsAre("true"));
  EXPECT_TRUE(Logged("Updated map data with request string /tav-maps/v2/map/11/TUTORIAL"));
  mHost->GetPeers().PushLcds(
      "com.nalogames.platform.game.PlayerCredentialsDto",
      Json(R"({"gameId": 12, "serverIp": "10.1.2.3", "serverPort": 5100, "summonerId": 2411})"));
  const std::optional<std::uint32_t> pid = RecordedPid();
  ASSERT_TRUE(pid.has_value());
  mSpawned.push_back(*pid);
  EXPECT_EQ(mProcesses->WaitForProcess(*pid, std::chrono::seconds(10)), ProcessWaitOutcome::Ended);
  mHost->Advance(std::chrono::milliseconds(100));
  EXPECT_THAT(Published("/tav-gameflow/v1/battle-training"),
              testing::ElementsAre("true", "deleted"));
  EXPECT_EQ(Phases().back(), "None");
  EXPECT_EQ(mHost->Request("POST", "/tav-gameflow/v1/battle-training/stop").status, 500U);
}

// A tutorial or a restored spectate that ends while the chart is in None
// still leaves game flow: availability comes back.
TEST_F(GameClientLaunch, EndsInNoneLeaveGameFlow) {
  const auto availability = [&] {
    return ToJson(mHost->Request("GET", "/tav-gameflow/v1/availability").body);
  };
  Start();
  Host::LcdsAnswer tutorial;
  tutorial.typeName = "com.nalogames.platform.game.GameDTO";
  tutorial.body = Json(R"({"id": 12, "gameState": "START_REQUESTED"})");
  mHost->GetPeers().SetLcdsAnswer("gameService", "createTutorialGame", tutorial);
  ASSERT_TRUE(mHost->Request("POST", "/tav-gameflow/v1/basic-tutorial/start").Succeeded());
  EXPECT_EQ(Phases().back(), "None");
  EXPECT_THAT(availability(), testing::HasSubstr("InGameFlow"));
  Post("EXITED_TUTORIAL");
  EXPECT_THAT(Published("/tav-gameflow/v1/basic-tutorial"),
              testing::ElementsAre("true", "deleted"));
  EXPECT_THAT(availability(), testing::HasSubstr(R"("state":"Available")"));

  // A spectate restored after a restart and quit before its reconnect offer.
  const BindingProperty record = SpectatorGame(0).body;
  Restart({"/patcher/v1/products/tavora/state", "/tav-game-queues/v1/queues",
           "/tav-game-queues/v1/custom", "/tav-login/v1/session"},
          [&] {
            mHost->GetPeers().SetResource(
                "/data-store/v1/install-settings/gameflow-spectate-reconnect-info", record);
          });
  EXPECT_TRUE(Logged("Spectate reconnect info detected."));
  EXPECT_THAT(availability(), testing::HasSubstr("InGameFlow"));
  EXPECT_TRUE(mHost->Request("POST", "/tav-gameflow/v1/spectate/quit").Succeeded());
  EXPECT_EQ(Phases().back(), "None");
  EXPECT_THAT(availability(), testing::HasSubstr(R"("state":"Available")"));
  // The offer that was due finds nothing to offer.
  mHost->Advance(std::chrono::seconds(1));
  EXPECT_EQ(Phases().back(), "None");
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
