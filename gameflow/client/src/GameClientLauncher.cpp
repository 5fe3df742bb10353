#include "gameflow/client/GameClientLauncher.h"

#include <utility>

#include "binding/Json.h"
#include "diagnostics/Log.h"
#include "gameflow/Api/RegionLocale.h"
#include "gameflow/Api/ReplaysSettings.h"
#include "gameflow/client/ClientFiles.h"
#include "gameflow/client/src/MapLookup.h"
#include "gameflow/client/src/PeerValue.h"
#include "gameflow/client/src/Spectate.h"
#include "gameflow/client/src/Tutorials.h"
#include "gameflow/client/src/WatchedProcess.h"
#include "gameflow/GameflowWireNames.h"

namespace Nalo::Client::Gameflow {

using detail::Convert;

namespace {

// The refusal when the host's command line can't be read: an ERROR line
// naming the code, and the launch fails.
constexpr std::string_view kUseZumpRefusal = "ALE-DEA0FC88";

const char* TrueFalse(bool value) {
  return value ? "true" : "false";
}

}  // namespace

GameClientLauncher::GameClientLauncher(ProcessSystem& processes, const GameClientContext& gameflow,
                                       Peers& peers, const TickClock& clock)
    : mProcesses(&processes),
      mGameflow(gameflow),
      mPeers(&peers),
      mWatched(std::make_unique<WatchedProcess>(processes, gameflow, peers)),
      mSpectate(std::make_unique<Spectate>(gameflow, peers, clock, [this] {
        return LaunchGameClient();
      })),
      mTutorials(std::make_unique<Tutorials>(gameflow, peers)) {}

GameClientLauncher::~GameClientLauncher() = default;

MaybeType<Failure, void> GameClientLauncher::SpectateLaunch(
    std::optional<std::string> summonerName) {
  return mSpectate->Launch(std::move(summonerName), false, false);
}

MaybeType<Failure, void> GameClientLauncher::SpectateQuit() {
  return mSpectate->Quit();
}

bool GameClientLauncher::IsSpectating() const {
  return mSpectate->IsSpectating();
}

void GameClientLauncher::EndSpectating() {
  mSpectate->End();
}

MaybeType<Failure, void> GameClientLauncher::TutorialStart(TutorialKind kind) {
  return mTutorials->Start(kind);
}

MaybeType<Failure, void> GameClientLauncher::BattleTrainingStop() {
  return mTutorials->StopBattleTraining();
}

std::optional<TutorialKind> GameClientLauncher::RunningTutorial() const {
  return mTutorials->Running();
}

void GameClientLauncher::EndTutorial() {
  mTutorials->End();
}

std::optional<Api::GameflowGameMap> GameClientLauncher::LookUpMap(const Api::Queue& queue) {
  return Gameflow::LookUpMap(*mPeers, queue);
}

void GameClientLauncher::EvaluateGameLaunch() {
  const bool active = mGameflow.model.session.IsGameBeingServed();
  const bool inGame = Api::IsGamePhase(mGameflow.model.session.Phase());
  const bool credentials = mGameflow.model.session.Credentials().has_value();
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
  const std::optional<LCDS::PlayerCredentialsDto>& credentials =
      mGameflow.model.session.Credentials();
  if (credentials.has_value() && credentials->observer) {
    return mSpectate->Launch(std::nullopt, relaunch, false);
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
    explicit Done(GameClientLauncher* owner) : launcher(owner) {}
    Done(const Done&) = delete;
    Done& operator=(const Done&) = delete;
    Done(Done&&) = delete;
    Done& operator=(Done&&) = delete;
    GameClientLauncher* launcher;
    bool launched = false;
    ~Done() {
      launcher->mLaunchRunning = false;
      if (!launched) {
        launcher->mGameflow.model.launchState = LaunchState::Launching;
      }
    }
  } done{this};
  // Game flow is blocked for the game; the next tick publishes the session.
  mGameflow.gate.GetAvailability().SetBlocker(Api::GameflowAvailabilityState::InGameFlow, true);
  mGameflow.model.sessionChanged = true;
  mGameflow.model.launchState = LaunchState::Launching;
  mGameflow.owner.PostEvent(GameflowEvent::GameStarted);
  const std::optional<LCDS::PlayerCredentialsDto>& credentials =
      mGameflow.model.session.Credentials();
  if (!credentials.has_value()) {
    Log(LogLevel::Error, kLogGroupDebug, "No credentials available, cannot continue.");
    return Failure(500, "No player credentials available.");
  }
  const bool observer = credentials->observer;
  if (!observer && mGameflow.model.session.Game().has_value()) {
    static_cast<void>(
        mPeers->SetGameMessage(mGameflow.model.session.Game()->id, "GAME_START_CLIENT"));
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
  mGameflow.model.launchState = LaunchState::Launched;
  done.launched = true;
  mGameflow.model.MarkGameClientRunning();
  mGameflow.owner.PostEvent(GameflowEvent::GameLaunched);
  mGameflow.owner.PublishChangesAndLaunchOutcomes();
  if (!observer) {
    mGameflow.gate.SetLock();
  }
  mWatched->WatchWindow(pid.Value());
  mWatched->WatchExit(observer ? "spectator" : "game", pid.Value(), [this] {
    mGameflow.model.launchState = LaunchState::Exited;
    mGameflow.owner.PublishChangesAndLaunchOutcomes();
  });
  return {};
}

MaybeType<Failure, std::vector<std::string>> GameClientLauncher::CreateGameClientArgs() {
  const std::optional<LCDS::PlayerCredentialsDto>& stored = mGameflow.model.session.Credentials();
  if (!stored.has_value()) {
    Log(LogLevel::Error, kLogGroupDebug,
        "Trying to create command line parameters without player credentials.");
    return Failure(500, "No credentials!");
  }
  // A copy: the settings request below lets other callbacks run.
  const LCDS::PlayerCredentialsDto credentials = *stored;
  const std::uint64_t playerId = mGameflow.model.login.summonerId;
  const std::string platformId = mGameflow.model.platformId;
  std::string highlights;
  if (credentials.observer) {
    // Without the settings the spectate simply saves no highlights.
    auto settings = mPeers->Get(Wire::kReplaysSettingsPath);
    if (!settings.HasFailure()) {
      auto replays = Convert<Api::ReplaysSettingsResource>(settings.Value(), mPeers->Types());
      if (!replays.HasFailure()) {
        highlights = replays.Value().data.highlightsFolderPath;
      }
    }
  }
  if (playerId == 0) {
    Log(LogLevel::Warn, kLogGroupDebug, "Invalid PlayerID for game client startup");
  }
  if (credentials.gameId == 0) {
    Log(LogLevel::Warn, kLogGroupDebug, "Invalid GameID for game client startup");
  }
  return GameClientArgs(credentials, playerId, platformId, highlights);
}

MaybeType<Failure, std::uint32_t> GameClientLauncher::FindOrLaunchGameProcess(
    const std::vector<std::string>& args, bool withHostCredentials) {
  auto found = mWatched->FindRunning(args);
  if (!found.HasFailure()) {
    return found;
  }
  return LaunchGameProcess(args, withHostCredentials);
}

MaybeType<Failure, std::uint32_t> GameClientLauncher::LaunchGameProcess(
    const std::vector<std::string>& args, bool withHostCredentials) {
  auto paths = mPeers->Get(Wire::kPatcherPathsPath);
  if (paths.HasFailure()) {
    return Failure(paths.GetFailure().Code(),
                   "Could not get path to Tavora game client: " + paths.GetFailure().Text());
  }
  const BindingProperty* folder = paths.Value().Find(Wire::kGameClientFolderKey);
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
  auto line = GatherCommandLine(args, withHostCredentials);
  if (line.HasFailure()) {
    return std::move(line).GetFailure();
  }
  // The line names every argument, but never the host's token or the game's keys.
  Log(LogLevel::Always, kLogGroupDebug, "Game args: %s", line.Value().Redacted().c_str());
  auto spawned = mProcesses->Spawn({.executable = executable,
                                    .workingDirectory = directory,
                                    .arguments = line.Value().arguments});
  if (spawned.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "%s", spawned.GetFailure().Text().c_str());
    return std::move(spawned).GetFailure();
  }
  const std::uint32_t pid = spawned.Value()->Pid();
  mWatched->SetRecord(Api::GameflowProcessInfo{.pid = pid, .rawArgs = args});
  return pid;
}

MaybeType<Failure, ClientCommandLine> GameClientLauncher::GatherCommandLine(
    const std::vector<std::string>& args, bool withHostCredentials) {
  ClientCommandLineInputs inputs{.gameArgs = args};
  auto hostArgs = mPeers->Get(Wire::kCommandLinePath);
  if (hostArgs.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug,
        "%s: the host's command line is not available, so whether to use Zump is unknown: %s",
        kUseZumpRefusal.data(), hostArgs.GetFailure().Text().c_str());
    return Failure(hostArgs.GetFailure().Code(),
                   "Could not read the host's command line: " + hostArgs.GetFailure().Text());
  }
  auto list = Convert<std::vector<std::string>>(hostArgs.Value(), mPeers->Types());
  inputs.useZump = list.HasFailure() || HostAllowsZump(list.Value());
  inputs.extraArgs = mGameflow.model.extraGameClientArgs;
  // Read again for the extra arguments; a failure now only means none.
  auto again = mPeers->Get(Wire::kCommandLinePath);
  if (!again.HasFailure()) {
    auto extra = Convert<std::vector<std::string>>(again.Value(), mPeers->Types());
    if (!extra.HasFailure()) {
      inputs.commandLineArgs = HostExtraClientArgs(extra.Value(), mPeers->Types());
    }
  }
  auto toggles = mPeers->Get(Wire::kTogglesPath);
  if (!toggles.HasFailure()) {
    inputs.toggles = ToggleArguments(toggles.Value());
  }
  if (const auto& credentials = mGameflow.model.session.Credentials()) {
    inputs.keys = {credentials->encryptionKey, credentials->observerEncryptionKey};
  }
  if (withHostCredentials) {
    auto port = mPeers->Get(Wire::kAppPortPath);
    if (port.HasFailure()) {
      return Failure(port.GetFailure().Code(),
                     "Could not retrieve the AppPort: " + port.GetFailure().Text());
    }
    const BindingProperty& portValue = port.Value();
    std::string portText = portValue.Kind() == BindingKind::String
                               ? std::string(portValue.StringValue())
                               : std::to_string(portValue.AsSigned(0));
    auto token = mPeers->Get(Wire::kAuthTokenPath);
    if (token.HasFailure()) {
      return Failure(token.GetFailure().Code(),
                     "Could not retrieve the AuthToken. " + token.GetFailure().Text());
    }
    inputs.host = ClientCommandLineInputs::HostCredentials{
        .port = std::move(portText), .token = std::string(token.Value().StringValue())};
  }
  return BuildClientCommandLine(inputs);
}

MaybeType<Failure, void> GameClientLauncher::GetAndWriteGameLocale(const std::string& directory) {
  auto answer = mPeers->Get(Wire::kRegionLocalePath);
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

void GameClientLauncher::OnUxCrashCount(const BindingProperty* value) {
  if (value == nullptr) {
    return;
  }
  const BindingProperty* count = value->Find("crashCount");
  const std::int64_t crashCount = count != nullptr ? count->AsSigned(0) : 0;
  // The phase by its name, as JSON writes it: "None" from "\"None\"".
  std::string phaseName;
  if (!ToJson(mGameflow.model.session.Phase(), mPeers->Types(), phaseName).Failed() &&
      phaseName.size() >= 2 && phaseName.front() == '"') {
    phaseName = phaseName.substr(1, phaseName.size() - 2);
  }
  mPeers->SendTelemetry(
      Wire::kUxCrashTelemetryEvent,
      {{"queueId", std::to_string(mGameflow.model.session.Session().gameData.queue.id)},
       {"phase", phaseName},
       {"crashCount", std::to_string(crashCount)}});
}

}  // namespace Nalo::Client::Gameflow
