// The host program in its HTTP mode, as a user starts it: what it prints,
// what it never logs, and its data store across SIGKILL and restart.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "HttpFrontFixture.h"
#include "binding/Json.h"
#include "tools/stand-in-client/StandInClientInstall.h"

extern char** environ;

namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

using Nalo::Host::Http::Testing::Eventually;

// A spawned program starts slower than a host in this process.
constexpr std::chrono::seconds kProgramLimit{20};

// Starts the host program with `arguments`, its output in `folder`'s
// out.txt and err.txt; -1 when it can't be started.
pid_t Spawn(std::vector<std::string> arguments, const std::filesystem::path& folder) {
  arguments.insert(arguments.begin(), HOST_PROGRAM);
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (folder / "out.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (folder / "err.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const bool started =
      posix_spawn(&pid, HOST_PROGRAM, &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return started ? pid : -1;
}

// The wait status of `pid` if it ends within `limit`; else it is killed
// and nullopt comes back.
std::optional<int> WaitWithin(pid_t pid, std::chrono::milliseconds limit) {
  int status = 0;
  const bool ended = Eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return std::nullopt;
  }
  return status;
}

// The host program serving the test plugin over HTTP on a free port.
class HostProcess {
 public:
  HostProcess(const std::filesystem::path& folder, std::vector<std::string> extra = {},
              std::string plugin = NALO_TEST_PLUGIN_PATH)
      : mFolder(folder) {
    std::filesystem::remove(folder / "http-front.json");
    std::vector<std::string> arguments = {"--plugin",    std::move(plugin), "--http",
                                          "127.0.0.1:0", "--state",         folder.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    mPid = Spawn(arguments, folder);
    mStarted = mPid > 0;
    // The access file is renamed into place complete, once the front serves.
    mServing =
        mStarted && Eventually([&] { return std::filesystem::exists(folder / "http-front.json"); },
                               kProgramLimit);
    if (mServing) {
      auto access = Nalo::ParseJson(ReadFile(folder / "http-front.json"));
      mServing = access.Succeeded();
      if (mServing) {
        mToken = access.Value().Find("token")->AsString();
        const std::string url = access.Value().Find("url")->AsString();
        mPort = std::stoi(url.substr(url.rfind(':') + 1));
      }
    }
  }
  ~HostProcess() {
    if (mStarted && !mWaited) {
      kill(mPid, SIGKILL);
      static_cast<void>(Wait());
    }
  }
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;
  HostProcess(HostProcess&&) = delete;
  HostProcess& operator=(HostProcess&&) = delete;

  [[nodiscard]] bool Serving() const { return mServing; }
  [[nodiscard]] const std::string& Token() const { return mToken; }
  [[nodiscard]] std::unique_ptr<httplib::Client> Client() const {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", mPort);
    client->set_bearer_token_auth(mToken.c_str());
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    return client;
  }
  void Signal(int signal) const { kill(mPid, signal); }
  [[nodiscard]] pid_t Pid() const { return mPid; }
  [[nodiscard]] int Port() const { return mPort; }
  // The wait status.
  int Wait() {
    int status = 0;
    waitpid(mPid, &status, 0);
    mWaited = true;
    return status;
  }
  [[nodiscard]] std::string Output() const { return ReadFile(mFolder / "out.txt"); }
  [[nodiscard]] std::string Errors() const { return ReadFile(mFolder / "err.txt"); }

 private:
  std::filesystem::path mFolder;
  pid_t mPid = -1;
  bool mStarted = false;
  bool mServing = false;
  bool mWaited = false;
  std::string mToken;
  int mPort = 0;
};

class HttpProgram : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "nalo-http-XXXXXX").string();
    mFolder = mkdtemp(pattern.data());
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(mFolder, ignored);
  }
  std::filesystem::path mFolder;
};

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST_F(HttpProgram, PrintsHowToConnectOnceAndNeverLogsTheToken) {
  HostProcess host(mFolder);
  ASSERT_TRUE(host.Serving()) << host.Errors();
  auto client = host.Client();
  auto session = client->Get("/naloclient/command-line-args");
  ASSERT_TRUE(session);
  EXPECT_EQ(session->status, 200);
  // Requests that log: refused ones, a failing fetch, a fault.
  ASSERT_TRUE(client->Get("/tav-testplugin/v1/fetch?path=/nothing"));
  ASSERT_TRUE(client->Post("/host/v1/faults", R"({"path":"/x"})", "application/json"));
  ASSERT_TRUE(client->Get("/x"));
  host.Signal(SIGINT);
  const int status = host.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string output = host.Output();
  EXPECT_EQ(Count(output, "Token: " + host.Token() + "\n"), 1u) << output;
  EXPECT_THAT(output, testing::HasSubstr("The host stopped."));
  const std::string errors = host.Errors();
  EXPECT_THAT(errors, testing::HasSubstr("Loaded the plugin tav-testplugin"));
  EXPECT_EQ(errors.find(host.Token()), std::string::npos) << errors;
}

// Start-up failures end the program at once with a clear message; a
// second host never shares the first one's port.
TEST_F(HttpProgram, StartUpFailuresExitAtOnce) {
  HostProcess first(mFolder);
  ASSERT_TRUE(first.Serving()) << first.Errors();
  const std::filesystem::path other = mFolder / "other";
  std::filesystem::create_directories(other);
  const std::string address = "127.0.0.1:" + std::to_string(first.Port());
  const pid_t second = Spawn({"--plugin", NALO_TEST_PLUGIN_PATH, "--http", address, "--state",
                              other.string()},
                             other);
  ASSERT_GT(second, 0);
  const std::optional<int> status = WaitWithin(second, kProgramLimit);
  ASSERT_TRUE(status) << "the second host kept running";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << *status;
  EXPECT_THAT(ReadFile(other / "err.txt"),
              testing::HasSubstr("Can't listen on " + address + ": Address already in use"));

  // A state folder that is a file.
  const std::filesystem::path file = mFolder / "a-file";
  std::ofstream(file) << "x";
  const pid_t third = Spawn({"--plugin", NALO_TEST_PLUGIN_PATH, "--http", "127.0.0.1:0",
                             "--state", file.string()},
                            other);
  ASSERT_GT(third, 0);
  const std::optional<int> thirdStatus = WaitWithin(third, kProgramLimit);
  ASSERT_TRUE(thirdStatus) << "the host hung";
  EXPECT_TRUE(WIFEXITED(*thirdStatus) && WEXITSTATUS(*thirdStatus) == 1) << *thirdStatus;
  EXPECT_THAT(ReadFile(other / "err.txt"), testing::HasSubstr("Can't write"));
}

// A signal stops the host within a second whatever its clients do, and a
// state folder it made for itself goes with it.
TEST_F(HttpProgram, ASignalStopsTheHostAtOnceWhateverItsClientsDo) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    const pid_t pid = Spawn({"--plugin", NALO_TEST_PLUGIN_PATH, "--http", "127.0.0.1:0"}, mFolder);
    ASSERT_GT(pid, 0);
    std::string output;
    ASSERT_TRUE(Eventually(
        [&] {
          output = ReadFile(mFolder / "out.txt");
          return output.find("Ctrl-C stops it.") != std::string::npos;
        },
        kProgramLimit));
    const std::string marker = "URL and token are also in ";
    const std::size_t at = output.find(marker) + marker.size();
    const std::filesystem::path access = output.substr(at, output.find(' ', at) - at);
    const std::filesystem::path state = access.parent_path();
    ASSERT_TRUE(std::filesystem::exists(access)) << output;
    const std::string url = output.substr(output.find("http://"));
    const int port = std::stoi(url.substr(url.find(':', 7) + 1));
    const auto token = Nalo::ParseJson(ReadFile(access)).Value().Find("token")->AsString();
    // A slow client, an idle one, a half-sent body and an event stream.
    Nalo::Host::Http::Testing::RawConnection slow(port), idle(port), body(port), stream(port);
    ASSERT_TRUE(slow.Send("GET /x HTTP/1.1\r\nHo"));
    ASSERT_TRUE(body.Send("PUT /lobby/v1/x HTTP/1.1\r\nAuthorization: Bearer " + token +
                          "\r\nContent-Length: 100\r\n\r\n{"));
    ASSERT_TRUE(stream.Send("GET /events HTTP/1.1\r\nAuthorization: Bearer " + token +
                            "\r\n\r\n"));
    ASSERT_THAT(stream.ReadAnswer(), testing::StartsWith("HTTP/1.1 200"));
    kill(pid, signal);
#if defined(__SANITIZE_ADDRESS__)
    constexpr auto kStopLimit = std::chrono::seconds(5);  // the leak check runs at exit
#else
    constexpr auto kStopLimit = std::chrono::seconds(1);
#endif
    const std::optional<int> status = WaitWithin(pid, kStopLimit);
    ASSERT_TRUE(status) << "still running after the signal";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_FALSE(std::filesystem::exists(state)) << state;
  }
}

// The data store survives a SIGKILL at any moment: after each restart the
// file is complete and holds the last value acknowledged (or the one whose
// answer the kill cut off).
TEST_F(HttpProgram, TheDataStoreSurvivesSigkillAndRestart) {
  std::mt19937 random(20261207);
  std::int64_t acknowledged = -1;
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    HostProcess host(mFolder);
    ASSERT_TRUE(host.Serving()) << host.Errors();
    auto client = host.Client();
    if (acknowledged >= 0) {
      auto lock = client->Get("/data-store/v1/install-settings/gameflow-patcher-lock");
      ASSERT_TRUE(lock);
      ASSERT_EQ(lock->status, 200);
      const std::int64_t stored = std::stoll(lock->body);
      EXPECT_TRUE(stored == acknowledged || stored == acknowledged + 1) << stored;
      acknowledged = stored;
      auto record = client->Get("/data-store/v1/install-settings/gameflow-process-info");
      ASSERT_TRUE(record);
      // The record is written before the lock: the kill may fall between.
      EXPECT_THAT(record->body, testing::AnyOf(R"({"pid":)" + std::to_string(stored) + "}",
                                               R"({"pid":)" + std::to_string(stored + 1) + "}"));
    }
    // Writes until the kill, which comes after a random number of them.
    const int writes = std::uniform_int_distribution<int>(1, 60)(random);
    std::thread killer;
    std::atomic<int> done{0};
    killer = std::thread([&] {
      static_cast<void>(Eventually([&] { return done.load() >= writes; }, kProgramLimit));
      host.Signal(SIGKILL);
    });
    for (std::int64_t value = acknowledged + 1;; ++value) {
      auto info = client->Put("/data-store/v1/install-settings/gameflow-process-info",
                              R"({"pid":)" + std::to_string(value) + "}", "application/json");
      if (!info || info->status != 204) {
        break;
      }
      auto lock = client->Put("/data-store/v1/install-settings/gameflow-patcher-lock",
                              std::to_string(value), "application/json");
      if (!lock || lock->status != 204) {
        break;
      }
      acknowledged = value;
      ++done;
    }
    killer.join();
    static_cast<void>(host.Wait());
    const auto file = Nalo::ParseJson(ReadFile(mFolder / "data-store.json"));
    ASSERT_TRUE(file.Succeeded()) << ReadFile(mFolder / "data-store.json");
  }
}

// Runs `host --plugin PLUGIN --scenario FILE`; its exit code, its output in
// `report`.
int RunScenario(const std::string& plugin, const std::filesystem::path& file,
                const std::filesystem::path& folder, std::string& report) {
  std::string command = std::string(HOST_PROGRAM) + " --plugin '" + plugin + "' --scenario '" +
                        file.string() + "' > '" + (folder / "replay.txt").string() + "' 2>&1";
  const int status = std::system(command.c_str());
  report = ReadFile(folder / "replay.txt");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A session driven over HTTP, recorded, replays as a passing scenario; the
// same recording with one answer changed fails.
TEST_F(HttpProgram, ARecordedSessionReplaysAsAScenario) {
  struct Case {
    std::string name;
    std::string plugin;
    std::function<void(httplib::Client&)> drive;
  };
  const std::vector<Case> cases = {
      {"test plugin", NALO_TEST_PLUGIN_PATH,
       [](httplib::Client& client) {
         client.Post("/tav-testplugin/v1/items", R"({"name":"a","count":1})", "application/json");
         client.Get("/tav-testplugin/v1/items/a");
         client.Get("/tav-testplugin/v1/items/missing");
         client.Put("/lobby/v1/lobby", R"({"partyId":"p1","members":[1,2]})", "application/json");
         client.Delete("/lobby/v1/lobby");
         client.Put("/host/v1/lcds/answers/gameService.getGame",
                    R"({"type":"com.example.GameDTO","body":{"gameId":7,"gameState":"IDLE"}})",
                    "application/json");
         client.Get("/tav-testplugin/v1/lcds/game?id=7");
         client.Post("/host/v1/faults", R"({"path":"/lobby/v1/x","status":503})",
                     "application/json");
         client.Get("/tav-testplugin/v1/fetch?path=/lobby/v1/x");
         client.Post("/tav-testplugin/v1/items", "name: b\ncount: 2\n", "application/x-yaml");
       }},
      {"gameflow", NALO_GAMEFLOW_PLUGIN_PATH,
       [](httplib::Client& client) {
         const auto post = [&client](std::string_view event) {
           client.Post("/tav-gameflow/v1/session/event", "\"" + std::string(event) + "\"",
                       "application/json");
         };
         client.Get("/tav-gameflow/v1/session");
         post("GAMEFLOW_EVENT.REQUESTED_LOBBY");
         post("GAMEFLOW_EVENT.ENTERED_LOBBY");
         post("GAMEFLOW_EVENT.ENTERED_QUEUE");
         client.Post("/host/v1/lcds/push",
                     R"({"type":"com.nalogames.platform.game.GameDTO",)"
                     R"("body":{"id":5,"gameState":"JOINING_CHAMP_SELECT","mapId":11}})",
                     "application/json");
         post("GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT");
         client.Get("/tav-gameflow/v1/session");
         client.Get("/tav-gameflow/v1/availability");
         post("GAMEFLOW_EVENT.EXITED_LOBBY");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path recording = mFolder / "recorded.yaml";
    {
      HostProcess host(mFolder, {"--record", recording.string()}, c.plugin);
      ASSERT_TRUE(host.Serving()) << host.Errors();
      auto client = host.Client();
      c.drive(*client);
      client.reset();  // an idle connection would hold a worker until its keep-alive ends
      host.Signal(SIGTERM);
      ASSERT_EQ(host.Wait(), 0) << host.Errors();
    }
    const std::string text = ReadFile(recording);
    EXPECT_THAT(text, testing::HasSubstr("  - request: "));
    EXPECT_THAT(text, testing::HasSubstr("  - expect-published: "));
    std::string report;
    EXPECT_EQ(RunScenario(c.plugin, recording, mFolder, report), 0) << report << text;

    // The same session with one answer changed no longer passes.
    const std::size_t status = text.find("\"status\":200");
    ASSERT_NE(status, std::string::npos);
    std::string changed = text;
    changed.replace(status, 12, "\"status\":201");
    const std::filesystem::path tampered = mFolder / "tampered.yaml";
    std::ofstream(tampered) << changed;
    EXPECT_EQ(RunScenario(c.plugin, tampered, mFolder, report), 1) << report;
    std::filesystem::remove(mFolder / "data-store.json");
  }
}

// 20 sessions driven by a seeded random hand: lobby requests (which store
// the patcher lock's expiry), events, reads of the session, the
// availability and the patcher lock, peer values, LCDS pushes
// and faults, with pauses between them so that timers run on the real
// clock. Each recording replays and passes; with one expected status
// changed it fails.
TEST_F(HttpProgram, RandomSessionsRecordAndReplay) {
  static constexpr std::string_view kEvents[] = {
      "REQUESTED_LOBBY",      "ENTERED_LOBBY",      "EXITED_LOBBY",      "ENTERED_QUEUE",
      "EXITED_QUEUE",         "ENTERED_READY_CHECK", "EXITED_READY_CHECK", "ENTERED_CHAMP_SELECT",
      "EXITED_CHAMP_SELECT",  "GAME_COMPLETED",     "STATS_RECEIVED",    "STATS_DISMISSED",
      "TERMINATED",           "CORRUPTION_DETECTED", "FAILED_LOBBY"};
  static constexpr std::string_view kReads[] = {
      "/tav-gameflow/v1/session", "/tav-gameflow/v1/availability",
      "/tav-gameflow/v1/active-patcher-lock", "/tav-gameflow/v1/gameflow-metadata/player-status",
      "/data-store/v1/install-settings/gameflow-patcher-lock"};
  static constexpr std::string_view kGameStates[] = {"IDLE", "JOINING_CHAMP_SELECT",
                                                     "CHAMP_SELECT", "TERMINATED"};
  std::mt19937 random(16);
  const auto pick = [&random](auto& list) {
    return list[std::uniform_int_distribution<std::size_t>(0, std::size(list) - 1)(random)];
  };
  for (int session = 0; session < 20; ++session) {
    SCOPED_TRACE("session " + std::to_string(session));
    std::filesystem::remove(mFolder / "data-store.json");
    const std::filesystem::path recording = mFolder / "recorded.yaml";
    {
      HostProcess host(mFolder, {"--record", recording.string()}, NALO_GAMEFLOW_PLUGIN_PATH);
      ASSERT_TRUE(host.Serving()) << host.Errors();
      auto client = host.Client();
      const int actions = std::uniform_int_distribution<int>(8, 20)(random);
      for (int action = 0; action < actions; ++action) {
        switch (std::uniform_int_distribution<int>(0, 7)(random)) {
          case 0:
            // Enters the game flow: the patcher lock is stored with an
            // expiry taken from the wall clock.
            client->Post("/tav-gameflow/v1/session/request-lobby");
            break;
          case 1:
            client->Post("/tav-gameflow/v1/session/event",
                         "\"GAMEFLOW_EVENT." + std::string(pick(kEvents)) + "\"",
                         "application/json");
            break;
          case 2:
            client->Get(std::string(pick(kReads)));
            break;
          case 3:
            client->Put("/data-store/v1/install-settings/gameflow-patcher-lock",
                        std::to_string(std::uniform_int_distribution<int>(0, 1)(random)),
                        "application/json");
            break;
          case 4:
            client->Post("/host/v1/lcds/push",
                         R"({"type":"com.nalogames.platform.game.GameDTO","body":{"id":)" +
                             std::to_string(session) + R"(,"gameState":")" +
                             std::string(pick(kGameStates)) + R"(","mapId":11}})",
                         "application/json");
            break;
          case 5:
            client->Post("/host/v1/faults",
                         R"({"path":")" + std::string(pick(kReads)) + R"(","status":503})",
                         "application/json");
            break;
          default:
            client->Put("/patcher/v1/products/tavora/state",
                        std::uniform_int_distribution<int>(0, 1)(random) == 0
                            ? R"({"action":"Idle","isCorrupted":false,"isUpToDate":true})"
                            : R"({"action":"Patching","isCorrupted":false,"isUpToDate":false})",
                        "application/json");
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 12)(random)));
      }
      client.reset();
      host.Signal(SIGTERM);
      ASSERT_EQ(host.Wait(), 0);
    }
    const std::string text = ReadFile(recording);
    std::string report;
    ASSERT_EQ(RunScenario(NALO_GAMEFLOW_PLUGIN_PATH, recording, mFolder, report), 0)
        << report << text;

    // One expected status changed, picked at random.
    std::vector<std::size_t> statuses;
    for (std::size_t at = text.find("\"expect\":{\"status\":"); at != std::string::npos;
         at = text.find("\"expect\":{\"status\":", at + 1)) {
      statuses.push_back(at + std::strlen("\"expect\":{\"status\":"));
    }
    ASSERT_FALSE(statuses.empty());
    std::string changed = text;
    const std::size_t at = pick(statuses);
    changed.replace(at, 3, changed.compare(at, 3, "299") == 0 ? "298" : "299");
    const std::filesystem::path tampered = mFolder / "tampered.yaml";
    std::ofstream(tampered) << changed;
    EXPECT_EQ(RunScenario(NALO_GAMEFLOW_PLUGIN_PATH, tampered, mFolder, report), 1) << report;
  }
}

#if defined(NALO_STAND_IN_CLIENT_PATH)
// A session that launched the stand-in game client records its control
// file, and the client's pid as the placeholder of the first client
// started; the replay starts its own client and passes. With an expected
// status changed, or the placeholder naming a client that never started,
// it fails.
TEST_F(HttpProgram, ASessionThatLaunchedTheClientReplays) {
  const std::filesystem::path clientFolder = Nalo::StandIn::GameClientFolder(mFolder);
  ASSERT_FALSE(Nalo::StandIn::InstallStandInClient({.program = NALO_STAND_IN_CLIENT_PATH,
                                                    .clientFolder = clientFolder,
                                                    .windowsFolder = mFolder / "windows",
                                                    .control = "end = wait\n"})
                   .HasFailure());
  setenv("NALO_STAND_IN_CLIENT", NALO_STAND_IN_CLIENT_PATH, 1);
  const std::filesystem::path recording = mFolder / "recorded.yaml";
  const auto clientPid = [&]() -> pid_t {
    std::ifstream record(clientFolder / "stand-in-client.record");
    std::string line;
    if (!std::getline(record, line)) {
      return 0;
    }
    auto parsed = Nalo::ParseJson(line);
    return parsed.Succeeded() ? static_cast<pid_t>(parsed.Value().Find("pid")->AsSigned(0)) : 0;
  };
  {
    HostProcess host(mFolder, {"--record", recording.string()}, NALO_GAMEFLOW_PLUGIN_PATH);
    ASSERT_TRUE(host.Serving()) << host.Errors();
    auto client = host.Client();
    const auto post = [&client](std::string_view event) {
      client->Post("/tav-gameflow/v1/session/event",
                   "\"GAMEFLOW_EVENT." + std::string(event) + "\"", "application/json");
    };
    const auto push = [&client](std::string_view type, std::string_view body) {
      client->Post("/host/v1/lcds/push",
                   R"({"type":"com.nalogames.platform.game.)" + std::string(type) + R"(","body":)" +
                       std::string(body) + "}",
                   "application/json");
    };
    const std::string game =
        R"({"id":9,"queueTypeName":"RANKED_DUO_QUEUE","gameMode":"CLASSIC",)"
        R"("gameType":"MATCHED_GAME","mapId":11,"maxNumPlayers":10,"gameTypeConfigId":1,)";
    post("REQUESTED_LOBBY");
    // The control file changes while the host runs.
    std::ofstream(clientFolder / "stand-in-client.cfg") << "window-delay-ms = 1\nend = wait\n";
    post("ENTERED_LOBBY");
    post("ENTERED_QUEUE");
    push("GameDTO", game + R"("gameState":"JOINING_CHAMP_SELECT"})");
    post("ENTERED_CHAMP_SELECT");
    push("GameDTO", game + R"("gameState":"START_REQUESTED"})");
    push("PlayerCredentialsDto", R"({"gameId":9,"serverIp":"127.0.0.1","serverPort":5100,)"
                                 R"("encryptionKey":"a-key-for-this-game","summonerId":2411})");
    ASSERT_TRUE(Eventually([&] { return clientPid() != 0; }, kProgramLimit));
    // The plugin sees the client's window come to the front.
    ASSERT_TRUE(Eventually(
        [&] {
          auto session = client->Get("/tav-gameflow/v1/session");
          return session && session->body.find(R"("visible":true)") != std::string::npos;
        },
        kProgramLimit));
    client->Get("/data-store/v1/install-settings/gameflow-process-info");
    // The client ends; the plugin's monitoring finds it gone.
    const std::string command = "stand-in-client." + std::to_string(clientPid()) + ".command";
    std::ofstream(clientFolder / (command + ".tmp")) << "exit 0\n";
    std::filesystem::rename(clientFolder / (command + ".tmp"), clientFolder / command);
    ASSERT_TRUE(Eventually(
        [&] {
          auto session = client->Get("/tav-gameflow/v1/session");
          return session && session->body.find(R"("running":false)") != std::string::npos;
        },
        kProgramLimit));
    client->Get("/tav-gameflow/v1/session");
    client.reset();
    host.Signal(SIGTERM);
    ASSERT_EQ(host.Wait(), 0);
    kill(clientPid(), SIGKILL);
  }
  const std::string text = ReadFile(recording);
  EXPECT_THAT(text, testing::HasSubstr("stand-in-client: \"end = wait\\n\"\n"));
  EXPECT_THAT(text, testing::HasSubstr(R"("pid":"<client-pid-1>")"));
  EXPECT_THAT(text, testing::HasSubstr("  - await-client: \"foreground\"\n"));
  EXPECT_THAT(text,
              testing::HasSubstr("  - client-control: \"window-delay-ms = 1\\nend = wait\\n\"\n"));
  EXPECT_THAT(text, testing::HasSubstr("  - client-command: \"exit 0\"\n"
                                       "  - await-client-exit: {\"code\":0}\n"));
  EXPECT_EQ(text.find(R"("pid":)" + std::to_string(clientPid())), std::string::npos) << text;
  // The replay starts from the data store as it was when recording began.
  std::filesystem::remove(mFolder / "data-store.json");
  std::filesystem::remove_all(clientFolder);
  std::string report;
  EXPECT_EQ(RunScenario(NALO_GAMEFLOW_PLUGIN_PATH, recording, mFolder, report), 0)
      << report << text;

  for (const auto& [from, to] :
       {std::pair<std::string, std::string>{"\"status\":200", "\"status\":201"},
        {"<client-pid-1>", "<client-pid-2>"}}) {
    SCOPED_TRACE(to);
    std::string changed = text;
    const std::size_t at = changed.rfind(from);
    ASSERT_NE(at, std::string::npos);
    changed.replace(at, from.size(), to);
    const std::filesystem::path tampered = mFolder / "tampered.yaml";
    std::ofstream(tampered) << changed;
    EXPECT_EQ(RunScenario(NALO_GAMEFLOW_PLUGIN_PATH, tampered, mFolder, report), 1) << report;
  }
  for (const char* variable :
       {"NALO_STAND_IN_CLIENT_DIR", "NALO_STAND_IN_WINDOWS", "NALO_STAND_IN_CLIENT"}) {
    unsetenv(variable);
  }
}
#endif

}  // namespace
