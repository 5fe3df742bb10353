#include "gameflow/GameClientLauncher.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>
#include <utility>

#include "binding/BindingConvert.h"
#include "binding/Json.h"
#include "diagnostics/Log.h"
#include "gameflow/Api/RegionLocale.h"
#include "gameflow/Api/ReplaysSettings.h"
#include "gameflow/GameflowSessionModel.h"
#include "gameflow/ProcessRecord.h"
#include "gameflow/src/SharedPaths.h"
#include "plugin/SecretRedaction.h"

namespace Nalo::Client::Gameflow {

using detail::kBasicTutorialPath;
using detail::kBattleTrainingPath;
using detail::kCommandLinePath;
using detail::kDelayedSpectateLaunchPath;
using detail::kLoginInGameCredentialsPath;
using detail::kSpectatePath;

namespace {

using Api::GameflowPhase;

constexpr std::string_view kPatcherPathsPath = "/patcher/v1/products/tavora/paths";
constexpr std::string_view kGameClientFolderKey = "tav_game_client_sln";
constexpr std::string_view kGameClientExecutable = "Tavora.exe";
constexpr std::string_view kLocaleFolder = "data/cfg/defaults";
constexpr std::string_view kLocaleFile = "locale.cfg";
constexpr std::string_view kReplaysSettingsPath = "/tav-settings/v1/local/tav-replays";
constexpr std::string_view kRegionLocalePath = "/naloclient/region-locale";
constexpr std::string_view kAppPortPath = "/naloclient/app-port";
constexpr std::string_view kAuthTokenPath = "/naloclient/auth-token";
constexpr std::string_view kUxMinimizePath = "/naloclient/ux-minimize";
constexpr std::string_view kUxShowPath = "/naloclient/ux-show";
constexpr std::string_view kTogglesPath =
    "/tav-platform-config/v1/namespaces/GameClientCmdLineToggles";
constexpr std::string_view kNoZumpArgument = "--no-zump";
constexpr std::string_view kExtraArgsOption = "--extra-game-client-args=";
constexpr std::string_view kWindowTimer = "tav-gameflow.check-window-visibility";
constexpr std::string_view kMonitorTimerPrefix = "tav-gameflow.monitor-process-id.";
constexpr double kMonitorPeriodSeconds = 0.1;
// Codes of refusals that a peer's state or failure causes: each is an ERROR
// line naming its code, and the action is refused (nothing is launched, game
// flow is not entered). A product that is repaired later relaunches the game
// through the platform.
constexpr std::string_view kUseZumpRefusal = "ALE-DEA0FC88";
constexpr std::string_view kInGameCredentialsRefusal = "ALE-4974EF56";
constexpr std::string_view kInProgressGameRefusal = "ALE-4974EF55";
constexpr int kLocaleOpenTries = 5;
constexpr auto kLocaleRetryPause = std::chrono::milliseconds(500);

const char* TrueFalse(bool value) {
  return value ? "true" : "false";
}

bool IsLoggedIn(const Api::LoginSession& login) {
  return login.state == Api::LoginSessionStates::SUCCEEDED && login.accountId != 0 &&
         login.summonerId != 0;
}

template <class T>
MaybeType<Failure, T> Convert(const BindingProperty& value, const BindingTypeRegistry& types) {
  T native{};
  BindingResult converted = FromProperty(native, value, "<value>", types);
  if (converted.Failed()) {
    return Failure(500, std::string(converted.ErrorMessage()));
  }
  return native;
}

bool StartsWithSlashOrDrive(std::string_view path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) {
    return true;
  }
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

std::string JoinGamePath(std::string_view first, std::string_view second) {
  std::string joined;
  if (StartsWithSlashOrDrive(second) || first.empty()) {
    joined = second;
  } else {
    joined = first;
    if (joined.back() != '/' && joined.back() != '\\') {
      joined += '/';
    }
    joined += second;
  }
  for (char& c : joined) {
    if (c == '\\') {
      c = '/';
    }
  }
  return joined;
}

std::string RedactedArguments(const std::vector<std::string>& arguments,
                              const std::vector<std::string>& secrets) {
  std::string line;
  for (const std::string& argument : arguments) {
    std::string shown = argument;
    for (const std::string& secret : secrets) {
      if (secret.empty()) {
        continue;
      }
      for (std::size_t at = shown.find(secret); at != std::string::npos;
           at = shown.find(secret, at + kRedactedMark.size())) {
        shown.replace(at, secret.size(), kRedactedMark);
      }
    }
    if (!line.empty()) {
      line += ' ';
    }
    line += shown;
  }
  return line;
}

GameClientLauncher::GameClientLauncher(ProcessSystem& processes, Owner& owner, Peers& peers,
                                       const TickClock& clock)
    : mProcesses(&processes),
      mOwner(&owner),
      mPeers(&peers),
      mClock(&clock),
      mSpectateWatch(clock) {
  mSpectateWatch.Stop();
}

// --- Launch ------------------------------------------------------------------------------

void GameClientLauncher::EvaluateGameLaunch() {
  const bool active = mOwner->IsGameBeingServed();
  const bool inGame = Api::IsGamePhase(mOwner->Phase());
  const bool credentials = mOwner->StoredCredentials().has_value();
  if (credentials && active && !inGame) {
    Log(LogLevel::Okay, kLogGroupGeneral, "All criteria met for game launch.");
    auto launched = LaunchGameOrSpectate(false);
    if (launched.HasFailure()) {
      Log(LogLevel::Error, kLogGroupDebug, "Failed to launch game: %s",
          launched.GetFailure().Text().c_str());
    }
    return;
  }
  Log(LogLevel::Okay, kLogGroupGeneral,
      "Game was not launched: credentials: %s, active %s, in game: %s", TrueFalse(credentials),
      TrueFalse(active), TrueFalse(inGame));
}

MaybeType<Failure, void> GameClientLauncher::LaunchGameOrSpectate(bool relaunch) {
  const std::optional<LCDS::PlayerCredentialsDto>& credentials = mOwner->StoredCredentials();
  if (credentials.has_value() && credentials->observer) {
    return SpectateLaunch(std::nullopt, relaunch, false);
  }
  return LaunchGameClient();
}

MaybeType<Failure, void> GameClientLauncher::LaunchGameClient() {
  Log(LogLevel::Always, kLogGroupDebug, "Launching game client");
  // A tick that runs while this launch waits for a request must not take the
  // launch for a failed one. A launch that fails leaves Launching behind for
  // the tick to report, whatever the end of an earlier client set meanwhile.
  mLaunchRunning = true;
  // From here on this launch owns the process record and the patcher lock.
  mRestoredClient.reset();
  struct Done {
    GameClientLauncher* launcher;
    bool launched = false;
    ~Done() {
      launcher->mLaunchRunning = false;
      if (!launched) {
        launcher->mOwner->SetLaunchState(LaunchState::Launching);
      }
    }
  } done{this};
  mOwner->BlockForGameFlow();
  mOwner->SetLaunchState(LaunchState::Launching);
  mOwner->PostEvent(GameflowEvent::GameStarted);
  const std::optional<LCDS::PlayerCredentialsDto>& credentials = mOwner->StoredCredentials();
  if (!credentials.has_value()) {
    Log(LogLevel::Error, kLogGroupDebug, "No credentials available, cannot continue.");
    return Failure(500, "No player credentials available.");
  }
  const bool observer = credentials->observer;
  if (!observer && mOwner->StoredGame().has_value()) {
    static_cast<void>(mPeers->SetGameMessage(mOwner->StoredGame()->id, "GAME_START_CLIENT"));
    Log(LogLevel::Always, kLogGroupDebug, "Game Message Ack'ed.");
  }
  auto args = CreateGameClientArgs();
  if (args.HasFailure()) {
    const std::string text = "Failed to create game client args: " + args.GetFailure().Text() + ".";
    Log(LogLevel::Error, kLogGroupDebug, "%s", text.c_str());
    return Failure(500, text);
  }
  auto pid = FindOrLaunchGameProcess(args.Value(), true);
  if (pid.HasFailure()) {
    const std::string text = "Failed to launch the game client: " + pid.GetFailure().Text();
    Log(LogLevel::Error, kLogGroupDebug, "%s", text.c_str());
    // A peer's HTTP status carries over; a system error code (a failed spawn)
    // is no status.
    const std::uint32_t code = pid.GetFailure().Code();
    return Failure(code >= 400 && code < 600 ? code : 500, text);
  }
  Log(LogLevel::Always, kLogGroupDebug, "Game Client Launched.");
  mOwner->SetLaunchState(LaunchState::Launched);
  done.launched = true;
  mOwner->SetGameClientRunning();
  mOwner->PostEvent(GameflowEvent::GameLaunched);
  mOwner->Tick();
  if (!observer) {
    mOwner->SetPatcherLock();
  }
  StartWindowCheck(pid.Value());
  StartProcessMonitoring(observer ? "spectator" : "game", pid.Value(), [this] {
    mOwner->SetLaunchState(LaunchState::Exited);
    mOwner->Tick();
  });
  return {};
}

MaybeType<Failure, std::vector<std::string>> GameClientLauncher::CreateGameClientArgs() {
  const std::optional<LCDS::PlayerCredentialsDto>& stored = mOwner->StoredCredentials();
  if (!stored.has_value()) {
    Log(LogLevel::Error, kLogGroupDebug,
        "Trying to create command line parameters without player credentials.");
    return Failure(500, "No credentials!");
  }
  const LCDS::PlayerCredentialsDto& credentials = *stored;
  const std::uint64_t playerId = mOwner->Login().summonerId;
  std::string server;
  std::string separator;
  std::uint16_t port = 0;
  std::string key;
  std::string last;
  if (!credentials.serverIp.empty()) {
    server = credentials.serverIp;
    port = credentials.serverPort;
    key = credentials.observer ? credentials.observerEncryptionKey : credentials.encryptionKey;
    last = std::to_string(playerId);
    separator = " ";
  } else {
    server = credentials.observerServerIp;
    port = credentials.observerServerPort;
    key = credentials.observerEncryptionKey;
    last = mOwner->PlatformId();
    separator = ":";
  }
  std::string connection;
  if (credentials.observer) {
    connection = "spectator " + server + separator + std::to_string(port) + " " + key + " " +
                 std::to_string(credentials.gameId) + " " + last;
  } else {
    connection = server + " " + std::to_string(port) + " " + key + " " + last;
  }
  std::vector<std::string> args = {"8394", "TavoraClient.exe", "/path", std::move(connection)};
  if (credentials.observer) {
    // Without the settings the spectate simply saves no highlights.
    auto settings = mPeers->Get(kReplaysSettingsPath);
    if (!settings.HasFailure()) {
      auto replays = Convert<Api::ReplaysSettingsResource>(settings.Value(), mPeers->Types());
      if (!replays.HasFailure() && !replays.Value().data.highlightsFolderPath.empty()) {
        args.push_back("-HighlightsPath=" + replays.Value().data.highlightsFolderPath);
      }
    }
  }
  if (playerId == 0) {
    Log(LogLevel::Warn, kLogGroupDebug, "Invalid PlayerID for game client startup");
  }
  if (credentials.gameId == 0) {
    Log(LogLevel::Warn, kLogGroupDebug, "Invalid GameID for game client startup");
  }
  args.push_back("-PlayerID=" + std::to_string(playerId));
  args.push_back("-GameID=" + std::to_string(credentials.gameId));
  return args;
}

MaybeType<Failure, std::uint32_t> GameClientLauncher::FindOrLaunchGameProcess(
    const std::vector<std::string>& args, bool withHostCredentials) {
  auto found = FindRunningGameProcess(args);
  if (!found.HasFailure()) {
    return found;
  }
  return LaunchGameProcess(args, withHostCredentials);
}

MaybeType<Failure, std::uint32_t> GameClientLauncher::FindRunningGameProcess(
    const std::vector<std::string>& args) {
  const std::optional<Api::GameflowProcessInfo> info = GetProcessInfo();
  if (!info.has_value()) {
    return Failure(404, "No game client process is recorded.");
  }
  const std::uint32_t pid = info->pid;
  const bool running = mProcesses->WaitForProcess(pid, std::chrono::milliseconds(0)) ==
                           ProcessWaitOutcome::StillRunning &&
                       IsGameClientProcess(pid);
  if (!running) {
    Log(LogLevel::Okay, kLogGroupGeneral, "Did not find running process, pid: \"%u\"", pid);
    return Failure(404, "The recorded game client is not running.");
  }
  if (args.empty() || info->rawArgs == args) {
    Log(LogLevel::Okay, kLogGroupGeneral, "Found running process, pid: \"%u\"", pid);
    return pid;
  }
  Log(LogLevel::Okay, kLogGroupGeneral,
      "Running process, pid: \"%u\", did not have the same player creds", pid);
  Log(LogLevel::Okay, kLogGroupGeneral, "Did not find running process, pid: \"%u\"", pid);
  return Failure(404, "The recorded game client runs another game.");
}

bool GameClientLauncher::IsGameClientProcess(std::uint32_t pid) {
  // After a reboot or pid reuse a recorded pid may belong to another program.
  const std::optional<std::string> name = mProcesses->ExecutableFileName(pid);
  return name.has_value() && *name == kGameClientExecutable;
}

MaybeType<Failure, std::uint32_t> GameClientLauncher::LaunchGameProcess(
    const std::vector<std::string>& args, bool withHostCredentials) {
  auto paths = mPeers->Get(kPatcherPathsPath);
  if (paths.HasFailure()) {
    return Failure(paths.GetFailure().Code(),
                   "Could not get path to Tavora game client: " + paths.GetFailure().Text());
  }
  const BindingProperty* folder = paths.Value().Find(kGameClientFolderKey);
  if (folder == nullptr || folder->Kind() != BindingKind::String) {
    return Failure(500, "Could not find path to Tavora game client in paths from patcher");
  }
  const std::string directory(folder->StringValue());
  Log(LogLevel::Okay, kLogGroupGeneral, "Game launch working directory: %s", directory.c_str());
  auto locale = GetAndWriteGameLocale(directory);
  if (locale.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to write the game locale: %s",
        locale.GetFailure().Text().c_str());
  }
  const std::string executable = JoinGamePath(directory, kGameClientExecutable);
  if (executable.size() >= kMaxGamePathBytes) {
    return Failure(500,
                   "Unable to launch the game client. Its file path exceeds the allowed limit of " +
                       std::to_string(kMaxGamePathBytes) + " characters.");
  }
  Log(LogLevel::Okay, kLogGroupGeneral, "Game client launch exe path: %s", executable.c_str());

  std::vector<std::string> all = args;
  auto zump = UseZump();
  if (zump.HasFailure()) {
    return std::move(zump).GetFailure();
  }
  if (zump.Value()) {
    all.emplace_back("-UseZump");
  }
  const std::vector<std::string>& extra = mOwner->ExtraGameClientArgs();
  all.insert(all.end(), extra.begin(), extra.end());
  const std::vector<std::string> fromCommandLine = ExtraArgsFromCommandLine();
  all.insert(all.end(), fromCommandLine.begin(), fromCommandLine.end());
  auto toggles = mPeers->Get(kTogglesPath);
  if (!toggles.HasFailure() && toggles.Value().Kind() == BindingKind::Structure) {
    for (const auto& member : toggles.Value().Members()) {
      std::string toggle = "-" + std::string(member.name);
      if (member.value.Kind() == BindingKind::String && !member.value.StringValue().empty()) {
        toggle += "=" + std::string(member.value.StringValue());
      }
      all.push_back(std::move(toggle));
    }
  }
  std::vector<std::string> secrets;
  if (const auto& credentials = mOwner->StoredCredentials()) {
    secrets = {credentials->encryptionKey, credentials->observerEncryptionKey};
  }
  if (withHostCredentials) {
    auto port = mPeers->Get(kAppPortPath);
    if (port.HasFailure()) {
      return Failure(port.GetFailure().Code(),
                     "Could not retrieve the AppPort: " + port.GetFailure().Text());
    }
    const BindingProperty& portValue = port.Value();
    all.push_back("-NaloClientPort=" + (portValue.Kind() == BindingKind::String
                                            ? std::string(portValue.StringValue())
                                            : std::to_string(portValue.AsSigned(0))));
    auto token = mPeers->Get(kAuthTokenPath);
    if (token.HasFailure()) {
      return Failure(token.GetFailure().Code(),
                     "Could not retrieve the AuthToken. " + token.GetFailure().Text());
    }
    const std::string tokenText(token.Value().StringValue());
    secrets.push_back(tokenText);
    all.push_back("-NaloClientAuthToken=" + tokenText);
  }
  // The line names every argument, but never the host's token or the game's keys.
  Log(LogLevel::Always, kLogGroupDebug, "Game args: %s", RedactedArguments(all, secrets).c_str());
  auto spawned = mProcesses->Spawn(
      {.executable = executable, .workingDirectory = directory, .arguments = all});
  if (spawned.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "%s", spawned.GetFailure().Text().c_str());
    return std::move(spawned).GetFailure();
  }
  const std::uint32_t pid = spawned.Value()->Pid();
  SetProcessInfo(Api::GameflowProcessInfo{.pid = pid, .rawArgs = args});
  return pid;
}

MaybeType<Failure, bool> GameClientLauncher::UseZump() {
  auto arguments = mPeers->Get(kCommandLinePath);
  if (arguments.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug,
        "%s: the host's command line is not available, so whether to use Zump is unknown: %s",
        kUseZumpRefusal.data(), arguments.GetFailure().Text().c_str());
    return Failure(arguments.GetFailure().Code(),
                   "Could not read the host's command line: " + arguments.GetFailure().Text());
  }
  auto list = Convert<std::vector<std::string>>(arguments.Value(), mPeers->Types());
  if (list.HasFailure()) {
    return true;
  }
  for (const std::string& argument : list.Value()) {
    if (argument == kNoZumpArgument) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> GameClientLauncher::ExtraArgsFromCommandLine() {
  auto arguments = mPeers->Get(kCommandLinePath);
  if (arguments.HasFailure()) {
    return {};
  }
  auto list = Convert<std::vector<std::string>>(arguments.Value(), mPeers->Types());
  if (list.HasFailure()) {
    return {};
  }
  for (const std::string& argument : list.Value()) {
    if (argument.starts_with(kExtraArgsOption)) {
      BindingResult parsed = ParseJson(std::string_view(argument).substr(kExtraArgsOption.size()));
      if (parsed.Failed()) {
        return {};
      }
      auto extra = Convert<std::vector<std::string>>(parsed.Value(), mPeers->Types());
      return extra.HasFailure() ? std::vector<std::string>() : std::move(extra).Value();
    }
  }
  return {};
}

MaybeType<Failure, void> GameClientLauncher::GetAndWriteGameLocale(const std::string& directory) {
  auto answer = mPeers->Get(kRegionLocalePath);
  if (answer.HasFailure()) {
    return Failure::Located(__func__, __FILE__, __LINE__,
                            "Failed to get the locale: '" + answer.GetFailure().Text() + "'.");
  }
  auto locale = Convert<Api::RegionLocale>(answer.Value(), mPeers->Types());
  if (locale.HasFailure()) {
    return Failure::Located(__func__, __FILE__, __LINE__,
                            "Failed to get the locale: '" + locale.GetFailure().Text() + "'.");
  }
  auto written = WriteGameLocale(directory, locale.Value().locale);
  if (written.HasFailure()) {
    return Failure(500, "Failed to write the game locale: " + written.GetFailure().Text());
  }
  return {};
}

MaybeType<Failure, void> WriteGameLocale(const std::string& directory, std::string_view locale) {
  const std::string folder = JoinGamePath(directory, kLocaleFolder);
  const std::string file = JoinGamePath(folder, kLocaleFile);
  // A line break or NUL would add lines of the host's choosing to the file.
  if (locale.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    return Failure(500, "Failed to write to locale file '" + file + "'.");
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    return Failure(500, "Failed to create directory '" + folder + "'.");
  }
  std::ofstream stream;
  for (int attempt = 0; attempt < kLocaleOpenTries; ++attempt) {
    stream.open(file, std::ios::binary | std::ios::trunc);
    if (stream.is_open()) {
      break;
    }
    std::this_thread::sleep_for(kLocaleRetryPause);
  }
  if (!stream.is_open()) {
    return Failure(500, "Failed to open locale file '" + file + "'.");
  }
  // The game reads the file as Windows text: its line break is CR LF on
  // every system.
  const std::string block = "[General]\r\nLanguageLocaleRegion=" + std::string(locale);
  stream.write(block.data(), static_cast<std::streamsize>(block.size()));
  stream.close();
  if (!stream) {
    return Failure(500, "Failed to write to locale file '" + file + "'.");
  }
  return {};
}

std::optional<Api::GameflowProcessInfo> GameClientLauncher::GetProcessInfo() {
  auto stored = mPeers->Get(kProcessRecordPath);
  if (stored.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to get process info: %s",
        stored.GetFailure().Text().c_str());
    return std::nullopt;
  }
  if (stored.Value().Kind() != BindingKind::Structure) {
    return std::nullopt;
  }
  auto info = Convert<Api::GameflowProcessInfo>(stored.Value(), mPeers->Types());
  if (info.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to get process info: %s",
        info.GetFailure().Text().c_str());
    return std::nullopt;
  }
  return std::move(info).Value();
}

void GameClientLauncher::SetProcessInfo(const std::optional<Api::GameflowProcessInfo>& info) {
  BindingProperty body;
  if (info.has_value()) {
    BindingResult converted = ToProperty(*info, mPeers->Types());
    if (converted.Failed()) {
      Log(LogLevel::Error, kLogGroupDebug, "Failed to set process info: %s",
          std::string(converted.ErrorMessage()).c_str());
      return;
    }
    body = converted.Value();
  }
  auto posted = mPeers->Post(kProcessRecordPath, &body);
  if (posted.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to set process info: %s",
        posted.GetFailure().Text().c_str());
  }
}

// --- Monitoring ---------------------------------------------------------------------------

void GameClientLauncher::StartWindowCheck(std::uint32_t pid) {
  mWindowPid = pid;
  mPeers->SetTimer(kWindowTimer, kMonitorPeriodSeconds, [this] {
    if (!mWindowPid.has_value()) {
      mPeers->RemoveTimer(kWindowTimer);
      return;
    }
    if (mProcesses->WindowOfProcess(*mWindowPid) == ProcessWindowState::Foreground) {
      mOwner->SetGameClientVisible();
      mWindowPid.reset();
      mPeers->RemoveTimer(kWindowTimer);
    }
  });
}

void GameClientLauncher::StartProcessMonitoring(std::string_view mode, std::uint32_t pid,
                                                std::function<void()> exitAction) {
  static_cast<void>(mPeers->Post(kUxMinimizePath, nullptr));
  const std::string timer = std::string(kMonitorTimerPrefix) + std::string(mode);
  mPeers->SetTimer(timer, kMonitorPeriodSeconds, [this, timer, pid, exitAction] {
    if (mProcesses->WaitForProcess(pid, std::chrono::milliseconds(1)) ==
        ProcessWaitOutcome::StillRunning) {
      return;
    }
    Log(LogLevel::Always, kLogGroupDebug, "Client is no longer running.");
    // The callable is destroyed with the timer: keep what runs after.
    const std::function<void()> action = exitAction;
    mPeers->RemoveTimer(timer);
    // A window that never came up belongs to no process any more.
    if (mWindowPid == pid) {
      mWindowPid.reset();
      mPeers->RemoveTimer(kWindowTimer);
    }
    SetProcessInfo(std::nullopt);
    static_cast<void>(mPeers->Post(kUxShowPath, nullptr));
    action();
    mOwner->DetectCorruption();
  });
}

// --- Reconnect and relaunch -----------------------------------------------------------------

bool GameClientLauncher::CanReconnect() const {
  return mOwner->IsGameBeingServed() && !mOwner->IsGameClientRunning() && mOwner->IsAvailable() &&
         mOwner->StoredCredentials().has_value() && !mOwner->IsCorrupted();
}

void GameClientLauncher::OfferReconnect() {
  if (CanReconnect() && mOwner->Phase() != GameflowPhase::Reconnect) {
    mOwner->PostEvent(GameflowEvent::ReconnectAvailable);
  }
}

MaybeType<Failure, void> GameClientLauncher::Reconnect() {
  Log(LogLevel::Always, kLogGroupDebug, "Attempting to reconnect to existing game");
  if (CanReconnect() && mOwner->Phase() != GameflowPhase::Reconnect) {
    mOwner->PostEvent(GameflowEvent::ReconnectAvailable);
  }
  if (mOwner->Phase() != GameflowPhase::Reconnect) {
    return Failure(403, "Reconnect is not available.");
  }
  auto launched = LaunchGameClient();
  mOwner->PublishSpectating();
  if (launched.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to launch reconnect: %s",
        launched.GetFailure().Text().c_str());
    return launched;
  }
  SetClientVestoMessage("GameReconnect");
  return {};
}

void GameClientLauncher::SetClientVestoMessage(std::string_view message) {
  const std::optional<LCDS::GameDto>& game = mOwner->StoredGame();
  if (!game.has_value()) {
    Log(LogLevel::Error, kLogGroupDebug,
        "Failed to set client vesto message because of invalid game.");
    return;
  }
  auto sent = mPeers->SetVestoMessage(game->id, message);
  if (sent.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to set client vesto message: %s",
        sent.GetFailure().Text().c_str());
  }
}

bool GameClientLauncher::RelaunchInProgressGame() {
  auto info = mPeers->RetrieveInProgressGame();
  if (info.HasFailure()) {
    Log(LogLevel::Okay, kLogGroupGeneral,
        "Unable to retrieve in-progress game info from the platform.");
    return false;
  }
  const LCDS::ReconnectInfoDto& reconnect = info.Value();
  if (reconnect.game.gameState != kGameStateInProgress) {
    mOwner->NotifyGame(reconnect.game);
    return false;
  }
  if (!mOwner->EnterGameFlow(AvailabilityCheck::Skip)) {
    Log(LogLevel::Error, kLogGroupDebug,
        "%s: game flow could not be entered for the game in progress; it is not relaunched.",
        kInProgressGameRefusal.data());
    return false;
  }
  mOwner->StoreGame(reconnect.game);
  mOwner->StoreCredentials(reconnect.playerCredentials);
  mOwner->ApplyGame(reconnect.game);
  auto launched = LaunchGameOrSpectate(true);
  if (launched.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Failed to launch game: %s",
        launched.GetFailure().Text().c_str());
  }
  return true;
}

void GameClientLauncher::RelaunchAfterLogin() {
  if (!IsLoggedIn(mOwner->Login())) {
    Log(LogLevel::Okay, kLogGroupGeneral, "Did not relaunch game because user was not logged in.");
    return;
  }
  if (mOwner->IsCorrupted()) {
    Log(LogLevel::Okay, kLogGroupGeneral, "Did not relaunch game due to product corruption.");
    return;
  }
  if (TrySpectateReconnect()) {
    Log(LogLevel::Okay, kLogGroupGeneral, "Spectate reconnect info detected.");
    return;
  }
  auto credentials = mPeers->Get(kLoginInGameCredentialsPath);
  if (!credentials.HasFailure()) {
    if (!RelaunchInProgressGame()) {
      Log(LogLevel::Error, kLogGroupDebug, "Failed to relaunch game.");
    }
    return;
  }
  auto running = FindRunningGameProcess({});
  if (running.HasFailure()) {
    mOwner->ReleasePatcher();
    return;
  }
  // Unavailable game flow would only stop the patcher and let it go again.
  if (!mOwner->IsAvailable() || WatchLaunch({}).HasFailure()) {
    // The game still runs: the patcher stays locked, and the watch is tried
    // again whenever availability changes, until it starts or the client ends.
    Log(LogLevel::Always, kLogGroupDebug,
        "The game client (pid %u) still runs; watching it once game flow is available.",
        running.Value());
    // A fresh lock starts the refreshes that keep it while the client waits;
    // the lock from before the restart may lapse before the watch can start.
    mOwner->SetPatcherLock();
    mRestoredClient = running.Value();
  }
}

void GameClientLauncher::FollowRestoredClient(bool availabilityChanged) {
  if (!mRestoredClient.has_value()) {
    return;
  }
  // Taken out while it is handled: entering game flow runs a tick of its own.
  const std::uint32_t pid = *std::exchange(mRestoredClient, std::nullopt);
  if (mProcesses->WaitForProcess(pid, std::chrono::milliseconds(0)) !=
          ProcessWaitOutcome::StillRunning ||
      !IsGameClientProcess(pid)) {
    Log(LogLevel::Always, kLogGroupDebug, "Client is no longer running.");
    SetProcessInfo(std::nullopt);
    mOwner->ReleasePatcher();
    return;
  }
  if (availabilityChanged && mOwner->IsAvailable() && !WatchLaunch({}).HasFailure()) {
    return;  // the watch follows the client from now on
  }
  mRestoredClient = pid;
}

MaybeType<Failure, void> GameClientLauncher::WatchLaunch(const std::vector<std::string>& args) {
  const GameflowPhase phase = mOwner->Phase();
  if (phase != GameflowPhase::None && phase != GameflowPhase::Lobby &&
      phase != GameflowPhase::EndOfGame) {
    return Failure(403, "Already in gameflow.");
  }
  if (mOwner->WatchPhase() != Api::GameflowWatchPhase::None) {
    return Failure(403, "A watch is already running.");
  }
  if (mSpectating) {
    return Failure(403, "Already spectating.");
  }
  if (!mOwner->EnterGameFlow(AvailabilityCheck::Apply)) {
    return Failure(500, "Failed to enter gameflow.");
  }
  auto pid = FindOrLaunchGameProcess(args, false);
  if (pid.HasFailure()) {
    mOwner->SetWatchPhase(Api::GameflowWatchPhase::WatchFailedToLaunch);
    if (mOwner->Phase() == GameflowPhase::None) {
      mOwner->ExitGameFlow();
    }
    return Failure(500, "Failed to launch the watch client: " + pid.GetFailure().Text());
  }
  mRestoredClient.reset();
  StartProcessMonitoring("watch", pid.Value(), [this] {
    if (mOwner->Phase() == GameflowPhase::None) {
      mOwner->ExitGameFlow();
    }
    mOwner->SetWatchPhase(Api::GameflowWatchPhase::None);
  });
  mOwner->SetWatchPhase(Api::GameflowWatchPhase::WatchInProgress);
  return {};
}

void GameClientLauncher::OnLoginInGameCredentials(const BindingProperty* value) {
  if (value == nullptr || IsLoggedIn(mOwner->Login())) {
    return;
  }
  const BindingProperty* inGame = value->Find("inGame");
  if (inGame == nullptr || !inGame->BoolValue()) {
    return;
  }
  Log(LogLevel::Always, kLogGroupDebug,
      "Received login-in-game-creds to quickly re-launch an in-progress game before login has "
      "completed.");
  auto credentials = Convert<LCDS::PlayerCredentialsDto>(*value, mPeers->Types());
  if (credentials.HasFailure()) {
    Log(LogLevel::Warn, kLogGroupDebug,
        "Invalid login-in-game-creds. Cannot re-launch an in-progress game at this time.");
    return;
  }
  if (!mOwner->EnterGameFlow(AvailabilityCheck::Skip)) {
    Log(LogLevel::Error, kLogGroupDebug,
        "%s: game flow could not be entered for the login's in-game credentials; the game is not "
        "relaunched.",
        kInGameCredentialsRefusal.data());
    return;
  }
  mOwner->StoreCredentials(credentials.Value());
  static_cast<void>(LaunchGameClient());
}

void GameClientLauncher::OnUxCrashCount(const BindingProperty* value) {
  if (value == nullptr) {
    return;
  }
  const BindingProperty* count = value->Find("crashCount");
  const std::int64_t crashCount = count != nullptr ? count->AsSigned(0) : 0;
  // The phase by its name, as JSON writes it: "None" from "\"None\"".
  std::string phaseName;
  if (!ToJson(mOwner->Phase(), mPeers->Types(), phaseName).Failed() && phaseName.size() >= 2 &&
      phaseName.front() == '"') {
    phaseName = phaseName.substr(1, phaseName.size() - 2);
  }
  mPeers->SendTelemetry("ncp-be-tav-gameflow.ux-crash",
                        {{"queueId", std::to_string(mOwner->QueueId())},
                         {"phase", phaseName},
                         {"crashCount", std::to_string(crashCount)}});
}

// --- Spectate ---------------------------------------------------------------------------------

namespace {

constexpr std::string_view kSpectateRecordPath =
    "/data-store/v1/install-settings/gameflow-spectate-reconnect-info";
constexpr std::string_view kCurrentSummonerPath = "/tav-summoner/v1/current-summoner";
constexpr std::string_view kReconnectDelayTimer = "tav-gameflow.reconnectDelay";
constexpr std::string_view kSpectateReconnectTask = "tav-gameflow.spectate-reconnect";
constexpr std::int32_t kBattleTrainingMapId = 11;

BindingProperty Bool(bool value) {
  BindingProperty property;
  property.SetBool(value);
  return property;
}

// The member as JSON for an error text, its keys and tokens redacted.
std::string MemberJson(const BindingProperty& answer, std::string_view name) {
  const BindingProperty* member = answer.Find(name);
  return member != nullptr ? ToJson(RedactedSecrets(*member)) : std::string("null");
}

}  // namespace

void GameClientLauncher::StartSpectating() {
  mSpectating = true;
  mSpectateWatch = Stopwatch(*mClock);
  mSpectateWatchStarted = true;
  const BindingProperty flag = Bool(true);
  mPeers->Publish(kSpectatePath, &flag);
}

void GameClientLauncher::SetSpectateReconnectRecord(const BindingProperty& record) {
  static_cast<void>(mPeers->Post(kSpectateRecordPath, &record));
}

MaybeType<Failure, void> GameClientLauncher::SpectateLaunch(std::optional<std::string> summonerName,
                                                            bool relaunch, bool fromDelay) {
  Log(LogLevel::Always, kLogGroupDebug, "Launching spectate client.");
  std::string name;
  if (summonerName.has_value()) {
    name = *summonerName;
  } else {
    auto summoner = mPeers->Get(kCurrentSummonerPath);
    const BindingProperty* internalName =
        summoner.HasFailure() ? nullptr : summoner.Value().Find("internalName");
    if (internalName == nullptr) {
      return Failure(403, "Not logged in.");
    }
    name = internalName->StringValue();
  }
  const GameflowPhase phase = mOwner->Phase();
  if (phase != GameflowPhase::None && phase != GameflowPhase::ChampSelect) {
    return Failure(403, "Already in gameflow.");
  }
  if (mSpectating) {
    return Failure(403, "Already spectating.");
  }
  if (mOwner->WatchPhase() != Api::GameflowWatchPhase::None) {
    return Failure(403, "A watch is already running.");
  }
  if (!mOwner->EnterGameFlow(AvailabilityCheck::Apply)) {
    return Failure(500, "Failed to enter gameflow.");
  }
  const std::optional<LCDS::GameDto>& stored = mOwner->StoredGame();
  const bool ownPractice =
      stored.has_value() && stored->gameType == "PRACTICE_GAME" && !summonerName.has_value();
  auto answer =
      mPeers->RetrieveSpectatorGame(ownPractice ? std::nullopt : std::optional<std::string>(name));
  if (answer.HasFailure()) {
    mOwner->ExitGameFlow();
    return std::move(answer).GetFailure();
  }
  const BindingProperty game = answer.Value();
  std::int64_t delay = 0;
  if (const BindingProperty* reconnectDelay = game.Find("reconnectDelay")) {
    delay = reconnectDelay->AsSigned(0);
  }
  if (ownPractice && !relaunch && !fromDelay) {
    delay = stored->spectatorDelay;
  }
  const BindingProperty* gameMember = game.Find("game");
  auto converted = gameMember != nullptr
                       ? Convert<LCDS::GameDto>(*gameMember, mPeers->Types())
                       : MaybeType<Failure, LCDS::GameDto>(Failure(500, "no game"));
  if (converted.HasFailure()) {
    mOwner->PostEvent(GameflowEvent::ExitedSpectating);
    return Failure(500, "Failed to convert " + MemberJson(game, "game"));
  }
  mOwner->ApplyGame(converted.Value());
  if (delay <= 0) {
    StartSpectating();
    mOwner->StoreGame(converted.Value());
    const BindingProperty* credentialsMember = game.Find("playerCredentials");
    auto credentials =
        credentialsMember != nullptr
            ? Convert<LCDS::PlayerCredentialsDto>(*credentialsMember, mPeers->Types())
            : MaybeType<Failure, LCDS::PlayerCredentialsDto>(Failure(500, "no credentials"));
    if (credentials.HasFailure()) {
      mOwner->PostEvent(GameflowEvent::ExitedSpectating);
      return Failure(500, "Failed to convert " + MemberJson(game, "playerCredentials"));
    }
    mOwner->StoreCredentials(credentials.Value());
    auto launched = LaunchGameClient();
    if (launched.HasFailure()) {
      mOwner->PostEvent(GameflowEvent::ExitedSpectating);
      return launched;
    }
    Log(LogLevel::Always, kLogGroupDebug, "Saving spectator reconnect info.");
    auto saved = mPeers->Post(kSpectateRecordPath, &game);
    if (saved.HasFailure()) {
      Log(LogLevel::Error, kLogGroupDebug, "Failed to set spectate reconnect info: %s",
          saved.GetFailure().Text().c_str());
    }
    return {};
  }
  if (mOwner->Phase() == GameflowPhase::None) {
    mPeers->Publish(kDelayedSpectateLaunchPath, &game);
    mOwner->PostEvent(GameflowEvent::EnteredDelayedSpectate);
  }
  mPeers->SetTimer(kReconnectDelayTimer, static_cast<double>(delay),
                   [this, name, summonerName, relaunch] {
                     // The timer's callable goes with the timer: work on copies.
                     const std::string spectated = name;
                     const std::optional<std::string> requested = summonerName;
                     const bool again = relaunch;
                     Log(LogLevel::Always, kLogGroupDebug, "Launching spectate of %s after delay.",
                         spectated.c_str());
                     auto launched = SpectateLaunch(requested, again, true);
                     if (launched.HasFailure()) {
                       Log(LogLevel::Error, kLogGroupDebug, "Failed to launch delayed spectate: %s",
                           launched.GetFailure().Text().c_str());
                     }
                     mPeers->RemoveTimer(kReconnectDelayTimer);
                   });
  return {};
}

MaybeType<Failure, void> GameClientLauncher::SpectateQuit() {
  if (!mSpectating) {
    return Failure(404, "Not spectating");
  }
  mOwner->PostEvent(GameflowEvent::ExitedSpectating);
  return {};
}

void GameClientLauncher::EndSpectating() {
  mPeers->RemoveTimer(kReconnectDelayTimer);
  mSpectating = false;
  if (const std::optional<LCDS::GameDto>& game = mOwner->StoredGame()) {
    std::string duration;
    if (mSpectateWatchStarted) {
      mSpectateWatch.Stop();
      duration = std::to_string(mSpectateWatch.ElapsedMilliseconds());
      mSpectateWatchStarted = false;
    }
    mPeers->SendTelemetry("spectate-end", {{"durationMs", duration},
                                           {"gameId", std::to_string(game->id)},
                                           {"queueType", game->queueTypeName},
                                           {"gameMode", game->gameMode},
                                           {"gameType", game->gameType}});
  }
  const BindingProperty flag = Bool(false);
  mPeers->Publish(kSpectatePath, &flag);
  Log(LogLevel::Always, kLogGroupDebug, "Clearing spectator reconnect info.");
  BindingProperty empty;
  empty.SetString(std::string_view());
  SetSpectateReconnectRecord(empty);
}

bool GameClientLauncher::TrySpectateReconnect() {
  auto record = mPeers->Get(kSpectateRecordPath);
  if (!record.HasFailure() && record.Value().Kind() == BindingKind::Structure) {
    const BindingProperty* gameMember = record.Value().Find("game");
    const BindingProperty* credentialsMember = record.Value().Find("playerCredentials");
    if (gameMember != nullptr && credentialsMember != nullptr) {
      auto game = Convert<LCDS::GameDto>(*gameMember, mPeers->Types());
      auto credentials = Convert<LCDS::PlayerCredentialsDto>(*credentialsMember, mPeers->Types());
      if (!game.HasFailure() && !credentials.HasFailure() &&
          mOwner->EnterGameFlow(AvailabilityCheck::Skip)) {
        mOwner->ApplyGame(game.Value());
        StartSpectating();
        mOwner->StoreGame(game.Value());
        mOwner->StoreCredentials(credentials.Value());
      }
    }
  }
  if (mSpectating) {
    mPeers->PostTask(kSpectateReconnectTask, 1.0, [this] {
      // A spectate quit meanwhile has nothing left to rejoin.
      if (mSpectating) {
        mOwner->PostEvent(GameflowEvent::ReconnectAvailable);
      }
    });
    return true;
  }
  BindingProperty empty;
  empty.SetString(std::string_view());
  SetSpectateReconnectRecord(empty);
  return false;
}

// --- Tutorials --------------------------------------------------------------------------------

MaybeType<Failure, void> GameClientLauncher::TutorialStart(TutorialKind kind) {
  const GameflowPhase phase = mOwner->Phase();
  if (phase != GameflowPhase::None && phase != GameflowPhase::Lobby) {
    return Failure(403, "Tutorial must be triggered from Lobby or New Player page.");
  }
  if (mTutorial.has_value()) {
    return Failure(403, "Tutorial is already running.");
  }
  if (!mOwner->EnterGameFlow(AvailabilityCheck::Apply)) {
    return Failure(500, "Failed to enter gameflow.");
  }
  mTutorial = kind;
  const BindingProperty running = Bool(true);
  const std::string_view path =
      kind == TutorialKind::BattleTraining ? kBattleTrainingPath : kBasicTutorialPath;
  mPeers->Publish(path, &running);
  if (kind == TutorialKind::BattleTraining) {
    Api::Queue queue;
    queue.mapId = kBattleTrainingMapId;
    queue.gameMode = "TUTORIAL";
    if (auto map = LookUpMap(queue)) {
      mOwner->SetMap(*map);
    }
  }
  mOwner->PublishSession();
  auto game = mPeers->CreateTutorialGame(static_cast<std::int32_t>(kind));
  if (game.HasFailure()) {
    mTutorial.reset();
    mPeers->Publish(path, nullptr);
    Log(LogLevel::Error, kLogGroupDebug, "Failed to launch battle training: %s",
        game.GetFailure().Text().c_str());
    mOwner->ExitGameFlow();
    return Failure(500, game.GetFailure().Text());
  }
  mOwner->StoreGame(game.Value());
  mOwner->ApplyGame(game.Value());
  return {};
}

MaybeType<Failure, void> GameClientLauncher::BattleTrainingStop() {
  if (mTutorial != TutorialKind::BattleTraining) {
    return Failure(500, "Not in battle training.");
  }
  mOwner->PostEvent(GameflowEvent::ExitedTutorial);
  return {};
}

void GameClientLauncher::EndTutorial() {
  if (!mTutorial.has_value()) {
    return;
  }
  mPeers->Publish(
      *mTutorial == TutorialKind::BattleTraining ? kBattleTrainingPath : kBasicTutorialPath,
      nullptr);
  mTutorial.reset();
}

// --- Maps ---------------------------------------------------------------------------------

std::optional<Api::GameflowGameMap> GameClientLauncher::LookUpMap(const Api::Queue& queue) {
  std::string path;
  if (queue.gameMode.empty()) {
    path = "/tav-maps/v1/map/" + std::to_string(queue.mapId);
  } else {
    path = "/tav-maps/v2/map/" + std::to_string(queue.mapId) + "/" + queue.gameMode;
    if (!queue.gameMutator.empty()) {
      path += "/" + queue.gameMutator;
    } else if (!queue.assetMutator.empty()) {
      path += "/" + queue.assetMutator;
    }
  }
  auto answer = mPeers->Get(path);
  if (!answer.HasFailure()) {
    auto map = Convert<Api::GameflowGameMap>(answer.Value(), mPeers->Types());
    if (!map.HasFailure()) {
      Log(LogLevel::Always, kLogGroupDebug, "Updated map data with request string %s",
          path.c_str());
      return std::move(map).Value();
    }
  }
  Log(LogLevel::Error, kLogGroupDebug,
      "Could not find Game Map %d - Continuing but experience may degrade", queue.mapId);
  return std::nullopt;
}

}  // namespace Nalo::Client::Gameflow
