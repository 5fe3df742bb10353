// host_demo: plays a whole match against a gameflow served over HTTP, as a
// client of the host would: events posted to the session-event endpoint and
// platform-server pushes through the host's control routes. It starts the
// host program with the plugin, follows the session's resource events on
// /events, prints each published phase, and exits 0 when every phase came
// in order (1 otherwise, 2 for bad usage).
//
// With --client, the stand-in game client is installed where the stand-in
// patcher's paths point, so the game's credentials launch a real process:
// the plugin spawns it, watches it, and the demo ends it once the game is
// over, as the player closing the client would.
//
//   host_demo --host build/default/host/host --plugin libtav_gameflow.so
//             --client build/default/tools/stand-in-client/Tavora.exe

#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/Json.h"
#include "tools/stand-in-client/StandInClientInstall.h"

extern char** environ;

namespace {

constexpr std::string_view kSessionUri = "/tav-gameflow/v1/session";
constexpr std::string_view kEventPath = "/tav-gameflow/v1/session/event";
constexpr std::string_view kPushPath = "/host/v1/lcds/push";
constexpr std::string_view kGameType = "com.nalogames.platform.game.GameDTO";
constexpr std::string_view kCredentialsType = "com.nalogames.platform.game.PlayerCredentialsDto";
constexpr std::uint64_t kGameId = 4'200'000'001;
constexpr auto kPhaseDeadline = std::chrono::seconds(10);

enum class Action {
  PostEvent,
  PushGame,
  // The platform's credentials: with a client installed they launch it.
  PushCredentials,
  // Nothing is sent; the next phase is awaited (the launch publishes two).
  Await,
  // The player closes the game client.
  EndClient,
};

struct Step {
  Action action;
  std::string_view argument;  // the event name, or the game state pushed
  std::string_view phase;     // the phase published after it; empty: none
};

// A ranked match from the lobby to the end-of-game screen and back.
constexpr Step kMatch[] = {
    {Action::PostEvent, "GAMEFLOW_EVENT.REQUESTED_LOBBY", ""},
    {Action::PostEvent, "GAMEFLOW_EVENT.ENTERED_LOBBY", "Lobby"},
    {Action::PostEvent, "GAMEFLOW_EVENT.ENTERED_QUEUE", "Matchmaking"},
    {Action::PushGame, "JOINING_CHAMP_SELECT", "ReadyCheck"},
    {Action::PostEvent, "GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT", "ChampSelect"},
    {Action::PostEvent, "GAMEFLOW_EVENT.GAME_STARTED", "GameStart"},
    {Action::PostEvent, "GAMEFLOW_EVENT.GAME_LAUNCHED", "InProgress"},
    {Action::PushGame, "TERMINATED", "WaitingForStats"},
    {Action::PostEvent, "GAMEFLOW_EVENT.STATS_RECEIVED", "PreEndOfGame"},
    {Action::PostEvent, "GAMEFLOW_EVENT.PRE_END_OF_GAME_COMPLETED", "EndOfGame"},
    {Action::PostEvent, "GAMEFLOW_EVENT.STATS_DISMISSED", "None"},
};

// The same match with the game client launched by the plugin itself.
constexpr Step kMatchWithClient[] = {
    {Action::PostEvent, "GAMEFLOW_EVENT.REQUESTED_LOBBY", ""},
    {Action::PostEvent, "GAMEFLOW_EVENT.ENTERED_LOBBY", "Lobby"},
    {Action::PostEvent, "GAMEFLOW_EVENT.ENTERED_QUEUE", "Matchmaking"},
    {Action::PushGame, "JOINING_CHAMP_SELECT", "ReadyCheck"},
    {Action::PostEvent, "GAMEFLOW_EVENT.ENTERED_CHAMP_SELECT", "ChampSelect"},
    {Action::PushGame, "START_REQUESTED", ""},
    {Action::PushCredentials, "credentials", "GameStart"},
    {Action::Await, "the launch", "InProgress"},
    {Action::PushGame, "TERMINATED", "WaitingForStats"},
    {Action::EndClient, "exit 0", ""},
    {Action::PostEvent, "GAMEFLOW_EVENT.STATS_RECEIVED", "PreEndOfGame"},
    {Action::PostEvent, "GAMEFLOW_EVENT.PRE_END_OF_GAME_COMPLETED", "EndOfGame"},
    {Action::PostEvent, "GAMEFLOW_EVENT.STATS_DISMISSED", "None"},
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The phases of the session as the event stream brings them.
class PhaseFollower {
 public:
  PhaseFollower(int port, const std::string& token) : mClient("127.0.0.1", port) {
    mClient.set_bearer_token_auth(token.c_str());
    mThread = std::thread([this] {
      const std::string path = "/events?prefix=" + std::string(kSessionUri);
      static_cast<void>(mClient.Get(path.c_str(), [this](const char* data, std::size_t length) {
        Take(std::string_view(data, length));
        return !mStop;
      }));
      std::lock_guard lock(mMutex);
      mEnded = true;
      mWake.notify_all();
    });
  }
  ~PhaseFollower() {
    mStop = true;
    mClient.stop();
    mThread.join();
  }
  PhaseFollower(const PhaseFollower&) = delete;
  PhaseFollower& operator=(const PhaseFollower&) = delete;
  PhaseFollower(PhaseFollower&&) = delete;
  PhaseFollower& operator=(PhaseFollower&&) = delete;

  // The next phase published (a repeat of the last one is skipped), or
  // nullopt when none came in time.
  std::optional<std::string> Next(std::chrono::seconds limit) {
    std::unique_lock lock(mMutex);
    if (!mWake.wait_for(lock, limit, [this] { return !mPhases.empty() || mEnded; }) ||
        mPhases.empty()) {
      return std::nullopt;
    }
    std::string phase = std::move(mPhases.front());
    mPhases.pop_front();
    return phase;
  }

 private:
  void Take(std::string_view data) {
    mPending.append(data);
    std::size_t end;
    while ((end = mPending.find('\n')) != std::string::npos) {
      const std::string line = mPending.substr(0, end);
      mPending.erase(0, end + 1);
      if (!line.starts_with("data: ")) {
        continue;
      }
      Nalo::BindingResult event = Nalo::ParseJson(std::string_view(line).substr(6));
      if (event.Failed()) {
        continue;
      }
      const Nalo::BindingProperty* uri = event.Value().Find("uri");
      const Nalo::BindingProperty* session = event.Value().Find("data");
      const Nalo::BindingProperty* phase = session != nullptr ? session->Find("phase") : nullptr;
      if (uri == nullptr || uri->AsString() != kSessionUri || phase == nullptr) {
        continue;
      }
      std::lock_guard lock(mMutex);
      if (phase->AsString() != mLast) {
        mLast = phase->AsString();
        mPhases.push_back(mLast);
        mWake.notify_all();
      }
    }
  }

  httplib::Client mClient;
  std::thread mThread;
  std::atomic<bool> mStop{false};
  std::string mPending;  // only the stream's thread touches it
  std::mutex mMutex;
  std::condition_variable mWake;
  std::deque<std::string> mPhases;
  std::string mLast;
  bool mEnded = false;
};

std::string GameJson(std::string_view state) {
  Nalo::BindingProperty push;
  push.member("type").SetString(kGameType);
  Nalo::BindingProperty& game = push.member("body");
  game.member("id").SetUnsigned(kGameId);
  game.member("gameState").SetString(state);
  game.member("queueTypeName").SetString("RANKED_DUO_QUEUE");
  game.member("gameMode").SetString("CLASSIC");
  game.member("gameType").SetString("MATCHED_GAME");
  game.member("mapId").SetSigned(11);
  game.member("maxNumPlayers").SetSigned(10);
  game.member("gameTypeConfigId").SetSigned(1);
  return Nalo::ToJson(push);
}

std::string CredentialsJson() {
  Nalo::BindingProperty push;
  push.member("type").SetString(kCredentialsType);
  Nalo::BindingProperty& credentials = push.member("body");
  credentials.member("gameId").SetUnsigned(kGameId);
  credentials.member("serverIp").SetString("127.0.0.1");
  credentials.member("serverPort").SetUnsigned(5100);
  credentials.member("encryptionKey").SetString("a-key-for-this-game");
  credentials.member("summonerId").SetUnsigned(2411);
  return Nalo::ToJson(push);
}

// The stand-in game client of a demo: installed in the folder the stand-in
// patcher names, waiting for a command once it runs.
class DemoClient {
 public:
  explicit DemoClient(std::filesystem::path folder) : mFolder(std::move(folder)) {}

  bool Install(const std::filesystem::path& program, const std::filesystem::path& windows) {
    return !Nalo::StandIn::InstallStandInClient({.program = program,
                                                 .clientFolder = mFolder,
                                                 .windowsFolder = windows,
                                                 .control = "end = wait\n"})
                .HasFailure();
  }

  // The pid the client recorded when it started, or 0.
  pid_t Pid() const {
    std::ifstream record(mFolder / "stand-in-client.record");
    std::string line;
    if (!std::getline(record, line)) {
      return 0;
    }
    Nalo::BindingResult parsed = Nalo::ParseJson(line);
    const Nalo::BindingProperty* pid = parsed.Succeeded() ? parsed.Value().Find("pid") : nullptr;
    return pid != nullptr ? static_cast<pid_t>(pid->AsSigned(0)) : 0;
  }

  // Tells the client to end with `command` and waits, boundedly, until its
  // process is gone (the host, its parent, collects it); ends it otherwise.
  bool End(std::string_view command) {
    const pid_t pid = Pid();
    if (pid <= 0) {
      return false;
    }
    const std::filesystem::path target =
        mFolder / ("stand-in-client." + std::to_string(pid) + ".command");
    const std::filesystem::path temporary = target.string() + ".new";
    {
      std::ofstream file(temporary);
      file << command << "\n";
    }
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    const auto deadline = std::chrono::steady_clock::now() + kPhaseDeadline;
    while (std::chrono::steady_clock::now() < deadline) {
      if (kill(pid, 0) != 0 && errno == ESRCH) {
        return !error;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    return false;
  }

  // Ends a client that is still running when the demo stops early.
  void EndIfRunning() {
    if (const pid_t pid = Pid(); pid > 0) {
      kill(pid, SIGKILL);
    }
  }

 private:
  std::filesystem::path mFolder;
};

int Play(int port, const std::string& token, DemoClient* demoClient) {
  PhaseFollower follower(port, token);
  // The stream starts with the session as it is: the phase None.
  std::optional<std::string> first = follower.Next(kPhaseDeadline);
  if (!first) {
    std::cerr << "The session was never published.\n";
    return 1;
  }
  std::cout << "phase " << *first << "\n";
  httplib::Client client("127.0.0.1", port);
  client.set_bearer_token_auth(token.c_str());
  client.set_keep_alive(true);
  int steps = 0;
  const std::span<const Step> match = demoClient != nullptr
                                          ? std::span<const Step>(kMatchWithClient)
                                          : std::span<const Step>(kMatch);
  for (const Step& step : match) {
    if (step.action == Action::EndClient) {
      std::cout << "end   the game client (" << step.argument << ")\n";
      if (!demoClient->End(step.argument)) {
        std::cerr << "The game client did not end.\n";
        return 1;
      }
      ++steps;
      continue;
    }
    httplib::Result result = [&]() -> httplib::Result {
      if (step.action == Action::Await) {
        std::cout << "await " << step.argument << "\n";
        auto nothingSent = std::make_unique<httplib::Response>();
        nothingSent->status = 200;
        return httplib::Result(std::move(nothingSent), httplib::Error::Success);
      }
      if (step.action == Action::PushCredentials) {
        std::cout << "push  player credentials\n";
        return client.Post(std::string(kPushPath).c_str(), CredentialsJson(), "application/json");
      }
      if (step.action == Action::PostEvent) {
        std::cout << "post  " << step.argument << "\n";
        Nalo::BindingProperty name;
        name.SetString(step.argument);
        return client.Post(std::string(kEventPath).c_str(), Nalo::ToJson(name), "application/json");
      }
      std::cout << "push  game " << step.argument << "\n";
      return client.Post(std::string(kPushPath).c_str(), GameJson(step.argument),
                         "application/json");
    }();
    if (!result || result->status >= 300) {
      std::cerr << "The host refused the step: "
                << (result ? std::to_string(result->status) + " " + result->body
                           : httplib::to_string(result.error()))
                << "\n";
      return 1;
    }
    ++steps;
    if (step.phase.empty()) {
      continue;
    }
    std::optional<std::string> phase = follower.Next(kPhaseDeadline);
    if (!phase) {
      std::cerr << "No phase was published after " << step.argument << "; expected " << step.phase
                << ".\n";
      return 1;
    }
    std::cout << "phase " << *phase << "\n";
    if (*phase != step.phase) {
      std::cerr << "Expected the phase " << step.phase << ".\n";
      return 1;
    }
  }
  std::cout << "A whole match in " << steps << " steps, from the lobby to the end of the game "
            << "and back to None.\n";
  return 0;
}

}  // namespace

int main(int count, char** values) {
  std::string hostProgram;
  std::string plugin;
  std::string clientProgram;
  for (int i = 1; i + 1 < count; i += 2) {
    const std::string_view option = values[i];
    if (option == "--host") {
      hostProgram = values[i + 1];
    } else if (option == "--plugin") {
      plugin = values[i + 1];
    } else if (option == "--client") {
      clientProgram = values[i + 1];
    }
  }
  if (hostProgram.empty() || plugin.empty()) {
    std::cerr
        << "usage: host_demo --host HOST_PROGRAM --plugin PLUGIN [--client STAND_IN_CLIENT]\n";
    return 2;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "nalo-demo-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::cerr << "Can't create a state folder.\n";
    return 2;
  }
  const std::filesystem::path folder = pattern;
  // The stand-in patcher names <state>/tav_game_client_sln as the client's
  // folder; the client and the host find the client's folder and the
  // stand-in windows through the environment.
  std::optional<DemoClient> demoClient;
  if (!clientProgram.empty()) {
    demoClient.emplace(Nalo::StandIn::GameClientFolder(folder));
    if (!demoClient->Install(clientProgram, folder / "windows")) {
      std::cerr << "Can't install the stand-in client " << clientProgram << ".\n";
      return 2;
    }
  }
  std::vector<std::string> arguments = {hostProgram,   "--plugin", plugin,         "--http",
                                        "127.0.0.1:0", "--state",  folder.string()};
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The host's own output would hide the match: it goes to the state folder.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (folder / "host.out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (folder / "host.log").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const bool spawned =
      posix_spawn(&pid, hostProgram.c_str(), &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned) {
    std::cerr << "Can't start " << hostProgram << ".\n";
    return 2;
  }
  // The access file appears, complete, once the host serves.
  const std::filesystem::path access = folder / "http-front.json";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int status = 0;
  bool exited = false;
  while (!std::filesystem::exists(access) && std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  int result = 1;
  Nalo::BindingResult parsed = Nalo::ParseJson(ReadFile(access));
  if (!exited && parsed.Succeeded()) {
    const std::string url = parsed.Value().Find("url")->AsString();
    std::cout << "The host serves " << url << " with " << plugin << "\n";
    result = Play(std::stoi(url.substr(url.rfind(':') + 1)),
                  parsed.Value().Find("token")->AsString(), demoClient ? &*demoClient : nullptr);
  } else {
    std::cerr << "The host didn't start; its log:\n" << ReadFile(folder / "host.log");
  }
  if (demoClient && result != 0) {
    demoClient->EndIfRunning();
  }
  if (!exited) {
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
  }
  if (result != 0) {
    std::cerr << "The host's log is in " << (folder / "host.log").string() << "\n";
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  return result;
}
