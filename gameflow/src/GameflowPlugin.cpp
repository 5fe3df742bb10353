#include "gameflow/GameflowPlugin.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "binding/BindingConvert.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogManager.h"
#include "gameflow/GameflowTypeRegistration.h"
#include "gameflow/src/SharedPaths.h"
#include "plugin/PluginEntry.h"

namespace Nalo::Client::Gameflow {

using detail::kBasicTutorialPath;
using detail::kBattleTrainingPath;
using detail::kCommandLinePath;
using detail::kDelayedSpectateLaunchPath;
using detail::kLoginInGameCredentialsPath;
using detail::kSpectatePath;

namespace {

using Api::GameflowAvailabilityState;
using Api::GameflowPhase;

// Resources of this plugin.
constexpr std::string_view kAvailabilityPath = "/tav-gameflow/v1/availability";
constexpr std::string_view kReconnectPath = "/tav-gameflow/v1/reconnect";
constexpr std::string_view kAckFailedToLaunchPath = "/tav-gameflow/v1/ack-failed-to-launch";
constexpr std::string_view kExtraGameClientArgsPath = "/tav-gameflow/v1/extra-game-client-args";
constexpr std::string_view kSessionPath = "/tav-gameflow/v1/session";
constexpr std::string_view kActivePatcherLockPath = "/tav-gameflow/v1/active-patcher-lock";
constexpr std::string_view kSessionEventPath = "/tav-gameflow/v1/session/event";
constexpr std::string_view kDodgePath = "/tav-gameflow/v1/session/dodge";
constexpr std::string_view kGameConfigurationPath = "/tav-gameflow/v1/session/game-configuration";
constexpr std::string_view kRequestLobbyPath = "/tav-gameflow/v1/session/request-lobby";
constexpr std::string_view kRequestTournamentCheckinPath =
    "/tav-gameflow/v1/session/request-tournament-checkin";
constexpr std::string_view kTournamentEndedPath = "/tav-gameflow/v1/session/tournament-ended";
constexpr std::string_view kTickPath = "/tav-gameflow/v1/tick";
constexpr std::string_view kPreEndGameTransitionPath = "/tav-gameflow/v1/pre-end-game-transition";
constexpr std::string_view kClientReceivedMessagePath = "/tav-gameflow/v1/client-received-message";
constexpr std::string_view kWatchPath = "/tav-gameflow/v1/watch";
constexpr std::string_view kWatchLaunchPath = "/tav-gameflow/v1/watch/launch";
constexpr std::string_view kSpectateLaunchPath = "/tav-gameflow/v1/spectate/launch";
constexpr std::string_view kSpectateQuitPath = "/tav-gameflow/v1/spectate/quit";
constexpr std::string_view kBattleTrainingStartPath = "/tav-gameflow/v1/battle-training/start";
constexpr std::string_view kBattleTrainingStopPath = "/tav-gameflow/v1/battle-training/stop";
constexpr std::string_view kBasicTutorialStartPath = "/tav-gameflow/v1/basic-tutorial/start";
constexpr std::string_view kPlayerStatusPath = "/tav-gameflow/v1/gameflow-metadata/player-status";

// Resources of other plugins.
constexpr std::string_view kLoginSessionPath = "/tav-login/v1/session";
constexpr std::string_view kLoginDataPacketPath = "/tav-login/v1/login-data-packet";
constexpr std::string_view kPatcherStatePath = "/patcher/v1/products/tavora/state";
constexpr std::string_view kUxCrashCountPath = "/naloclient/ux-crash-count";
constexpr std::string_view kQueuesPath = "/tav-game-queues/v1/queues";
constexpr std::string_view kCustomQueuesPath = "/tav-game-queues/v1/custom";
constexpr std::string_view kGameTypeConfigPath = "/tav-game-queues/v1/game-type-config/";
constexpr std::string_view kDetectCorruptionPath =
    "/patcher/v1/products/tavora/detect-corruption-request";
constexpr std::string_view kStopCheckingPath = "/patcher/v1/products/tavora/stop-checking-request";
constexpr std::string_view kStartCheckingPath =
    "/patcher/v1/products/tavora/start-checking-request";
constexpr std::string_view kPartialRepairPath =
    "/patcher/v1/products/tavora/partial-repair-request";
constexpr std::string_view kStartPatchingPath =
    "/patcher/v1/products/tavora/start-patching-request";
constexpr std::string_view kSignalStartPatchingDelayedPath =
    "/patcher/v1/products/tavora/signal-start-patching-delayed";
constexpr std::string_view kPatcherLockPath =
    "/data-store/v1/install-settings/gameflow-patcher-lock";
constexpr std::string_view kReloadPostGamePath = "/tav-game-settings/v1/reload-post-game";

// Tasks and timers.
constexpr std::string_view kTickTimer = "tav-gameflow.tick";
constexpr double kTickIntervalSeconds = 0.5;
constexpr std::string_view kSetPatcherLockTask = "tav-gameflow.set-patcher-lock";
constexpr std::string_view kRerouteTask = "tav-gameflow.reroute-check-into-tournament";

constexpr std::string_view kExitAfterUnlockCheckArgument =
    "--exit-after-gameflow-patcher-unlock-check";

// How much of a name that is not an event reaches the log.
constexpr std::size_t kMaxLoggedNameBytes = 64;

// `name` made safe for one log line: at most kMaxLoggedNameBytes bytes,
// anything but printable ASCII written as \xNN, and the full length named when
// it was cut.
std::string PrintableName(std::string_view name) {
  std::string text;
  const std::size_t shown = std::min(name.size(), kMaxLoggedNameBytes);
  for (std::size_t i = 0; i < shown; ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      text += static_cast<char>(byte);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    }
  }
  if (shown < name.size()) {
    text += "... (" + std::to_string(name.size()) + " bytes)";
  }
  return text;
}

// GETs or POSTs `path` through `module` and converts the answer to T; an
// answer without a body fails like one that does not convert.
template <class T>
MaybeType<Failure, T> RequestValue(AppModule& module, RequestMethod method, std::string_view path) {
  auto body = module.Request<BindingProperty>(method, path);
  if (body.HasFailure()) {
    return std::move(body).GetFailure();
  }
  if (body.Value().IsEmpty()) {
    return Failure(500, std::string(path) + " answered without a value.");
  }
  T value{};
  BindingResult converted = FromProperty(value, body.Value(), "<result>", module.Registry());
  if (converted.Failed()) {
    return Failure(500, std::string(path) + " answered a value of the wrong shape: " +
                            std::string(converted.ErrorMessage()));
  }
  return value;
}

// The patcher and the data store, reached through the core.
class HostPatcherPeers final : public PatcherPeers {
 public:
  explicit HostPatcherPeers(AppModule& module) : mModule(&module) {}

  MaybeType<Failure, Api::PatcherProductState> ProductState() override {
    return RequestValue<Api::PatcherProductState>(*mModule, RequestMethod::Get, kPatcherStatePath);
  }
  MaybeType<Failure, void> StopChecking() override {
    return mModule->Request(RequestMethod::Post, kStopCheckingPath);
  }
  MaybeType<Failure, void> StartChecking() override {
    return mModule->Request(RequestMethod::Post, kStartCheckingPath);
  }
  MaybeType<Failure, void> StoreLock(std::uint64_t expiry) override {
    return mModule->Request(RequestMethod::Post, kPatcherLockPath, expiry);
  }
  MaybeType<Failure, void> ClearStoredLock() override {
    return mModule->Request(RequestMethod::Post, kPatcherLockPath, std::string());
  }
  MaybeType<Failure, BindingProperty> StoredLock() override {
    return mModule->Request<BindingProperty>(RequestMethod::Get, kPatcherLockPath);
  }

 private:
  AppModule* mModule;
};

// The other plugins and the core's timers, as the game client launcher uses them.
class HostLauncherPeers final : public GameClientLauncher::Peers {
 public:
  explicit HostLauncherPeers(AppModule& module) : mModule(&module) {}

  const BindingTypeRegistry& Types() const override { return mModule->Registry(); }
  MaybeType<Failure, BindingProperty> Get(std::string_view path) override {
    return mModule->Request<BindingProperty>(RequestMethod::Get, path);
  }
  MaybeType<Failure, void> Post(std::string_view path, const BindingProperty* body) override {
    if (body == nullptr) {
      return mModule->Request(RequestMethod::Post, path);
    }
    return mModule->Request(RequestMethod::Post, path, *body);
  }
  MaybeType<Failure, void> SetGameMessage(std::uint64_t gameId, std::string_view message) override {
    return Lcds("setClientReceivedGameMessage", gameId, message);
  }
  MaybeType<Failure, void> SetVestoMessage(std::uint64_t gameId,
                                           std::string_view message) override {
    return Lcds("setClientReceivedVestoMessage", gameId, message);
  }
  MaybeType<Failure, LCDS::ReconnectInfoDto> RetrieveInProgressGame() override {
    return mModule->Await(
        mModule->LcdsInvoke<LCDS::ReconnectInfoDto>(kGameService, "retrieveInProgressGameInfo"));
  }
  MaybeType<Failure, BindingProperty> RetrieveSpectatorGame(
      const std::optional<std::string>& summonerName) override {
    if (!summonerName.has_value()) {
      return mModule->Await(
          mModule->LcdsInvoke<BindingProperty>(kGameService, "retrieveInProgressGameInfo"));
    }
    return mModule->Await(mModule->LcdsInvoke<BindingProperty>(
        kGameService, "retrieveInProgressSpectatorGameInfo", *summonerName));
  }
  MaybeType<Failure, LCDS::GameDto> CreateTutorialGame(std::int32_t kind) override {
    return mModule->Await(
        mModule->LcdsInvoke<LCDS::GameDto>(kGameService, "createTutorialGame", kind));
  }
  void Publish(std::string_view path, const BindingProperty* value) override {
    auto published =
        value != nullptr ? mModule->Publish(path, *value) : mModule->PublishDeletion(path);
    if (published.HasFailure()) {
      Log(LogLevel::Error, kLogGroupDebug, "Couldn't publish %.*s: %s",
          static_cast<int>(path.size()), path.data(), published.GetFailure().Text().c_str());
    }
  }
  bool PostTask(std::string_view name, double seconds, std::function<void()> action) override {
    return mModule->PostTask(name,
                             mModule->NowNanoseconds() + static_cast<std::uint64_t>(seconds * 1e9),
                             std::move(action));
  }
  bool SetTimer(std::string_view name, double seconds, std::function<void()> action) override {
    auto timer = mModule->SetTimer(name, seconds, std::move(action));
    if (timer.HasFailure()) {
      Log(LogLevel::Error, kLogGroupDebug, "The timer %.*s could not be set: %s",
          static_cast<int>(name.size()), name.data(), timer.GetFailure().Text().c_str());
      return false;
    }
    return true;
  }
  void RemoveTimer(std::string_view name) override { mModule->RemoveTimer(name); }
  void SendTelemetry(std::string_view name,
                     std::vector<std::pair<std::string, std::string>> properties) override {
    BindingProperty data;
    for (const auto& [key, value] : properties) {
      data.member(key).SetString(std::string_view(value));
    }
    // The sink delivers on its own; nothing waits for the answer.
    static_cast<void>(mModule->Telemetry().Send(name, data));
  }

 private:
  static constexpr std::string_view kGameService = "gameService";

  MaybeType<Failure, void> Lcds(std::string_view method, std::uint64_t gameId,
                                std::string_view message) {
    auto answer = mModule->Await(
        mModule->LcdsInvoke<BindingProperty>(kGameService, method, gameId, std::string(message)));
    if (answer.HasFailure()) {
      return std::move(answer).GetFailure();
    }
    return {};
  }

  AppModule* mModule;
};

}  // namespace

GameflowPlugin::GameflowPlugin() : GameflowPlugin(SystemTickClock(), SystemWallClock()) {
  mProcesses = CreatePlatformProcessSystem();
  mLauncherPeers = std::make_unique<HostLauncherPeers>(*this);
  mLauncher = std::make_unique<GameClientLauncher>(*mProcesses,
                                                   static_cast<GameClientLauncher::Owner&>(*this),
                                                   *mLauncherPeers, SystemTickClock());
}

GameflowPlugin::GameflowPlugin(const TickClock& tickClock, const WallClock& wallClock)
    : AppModule(tickClock),
      mPatcherPeers(std::make_unique<HostPatcherPeers>(*this)),
      mGate(*mPatcherPeers, wallClock, *this),
      mMachine(static_cast<GameflowChartOwner*>(this), std::string(kGameflowMachineName),
               &GameflowChartRoot(), FormatGameflowEvent),
      mEvents(mMachine) {
  mMachine.SetTraceHook([](Hsm::Diagnostic, std::string_view message) {
    Log(LogLevel::Okay, kLogGroupGeneral, "%.*s", static_cast<int>(message.size()), message.data());
  });
}

GameflowPlugin::~GameflowPlugin() = default;

// --- Lifecycle ---------------------------------------------------------------------------

void GameflowPlugin::RegisterApi() {
  RegisterGameflowTypes(Registry(), LcdsClasses());
  auto routes = Routes().Bind(*this);
  routes.Get(kAvailabilityPath, &GameflowPlugin::GetAvailability);
  routes.Post(kReconnectPath, &GameflowPlugin::PostReconnect);
  routes.Post(kAckFailedToLaunchPath, &GameflowPlugin::AcknowledgeFailedLaunch);
  routes.Get(kExtraGameClientArgsPath, &GameflowPlugin::GetExtraGameClientArgs);
  routes.Post(kExtraGameClientArgsPath, &GameflowPlugin::SetExtraGameClientArgs,
              InBody("extraGameClientArgs"));
  routes.Get(kSessionPath, &GameflowPlugin::GetSession);
  routes.Get(kActivePatcherLockPath, &GameflowPlugin::GetActivePatcherLock);
  routes.Post(kSessionEventPath, &GameflowPlugin::PostSessionEvent, InBody("session"));
  routes.Post(kDodgePath, &GameflowPlugin::PostDodge, InBody("dodgeData"));
  routes.Post(kGameConfigurationPath, &GameflowPlugin::PostGameConfiguration, InBody("queue"));
  routes.Post(kRequestLobbyPath, &GameflowPlugin::RequestLobby);
  routes.Post(kRequestTournamentCheckinPath, &GameflowPlugin::RequestTournamentCheckin);
  routes.Post(kTournamentEndedPath, &GameflowPlugin::PostTournamentEnded);
  routes.Post(kTickPath, &GameflowPlugin::PostTick);
  routes.Post(kPreEndGameTransitionPath, &GameflowPlugin::SetPreEndGameTransition,
              InQuery("enabled"));
  routes.Post(kClientReceivedMessagePath, &GameflowPlugin::PostClientReceivedMessage,
              InBody("messsage"));
  routes.Get(kWatchPath, &GameflowPlugin::GetWatchPhase);
  routes.Post(kWatchLaunchPath, &GameflowPlugin::PostWatchLaunch, InBody("args"));
  routes.Get(kSpectatePath, &GameflowPlugin::GetSpectating);
  routes.Post(kSpectateLaunchPath, &GameflowPlugin::PostSpectateLaunch, InBody("summonerName"));
  routes.Get(kDelayedSpectateLaunchPath, &GameflowPlugin::GetDelayedSpectateLaunch);
  routes.Post(kSpectateQuitPath, &GameflowPlugin::PostSpectateQuit);
  routes.Get(kBasicTutorialPath, &GameflowPlugin::GetBasicTutorial);
  routes.Get(kBattleTrainingPath, &GameflowPlugin::GetBattleTraining);
  routes.Post(kBattleTrainingStartPath, &GameflowPlugin::PostBattleTrainingStart);
  routes.Post(kBattleTrainingStopPath, &GameflowPlugin::PostBattleTrainingStop);
  routes.Post(kBasicTutorialStartPath, &GameflowPlugin::PostBasicTutorialStart);
  routes.Post(kPlayerStatusPath, &GameflowPlugin::SetPlayerStatus, InBody("playerStatus"));
  routes.Get(kPlayerStatusPath, &GameflowPlugin::GetPlayerStatus);
}

bool GameflowPlugin::OnInitialize() {
  SubscribeAll();
  mGate.GetAvailability().ClearBlockers();
  SetAvailabilityBlocker(GameflowAvailabilityState::Patching, mGate.IsPatcherUpdatePending());
  SetAvailabilityBlocker(GameflowAvailabilityState::Configuration, true);
  mInitialized = true;
  mEvents.Start();
  DetectCorruption();
  if (mGate.IsCorrupted()) {
    return true;
  }
  if (mGate.ReadLockIsActive()) {
    auto signalled = Request(RequestMethod::Post, kSignalStartPatchingDelayedPath);
    if (signalled.HasFailure()) {
      Log(LogLevel::Error, kLogGroupDebug,
          "Failed to unset the restore-backup dead-man's-switch: %s",
          signalled.GetFailure().Text().c_str());
    }
  } else {
    Log(LogLevel::Okay, kLogGroupGeneral,
        "Game-flow patcher-lock either unset or expired. Unlocking patching.");
    mGate.UnlockPatcher();
  }
  ExitIfAskedAfterUnlockCheck();
  return true;
}

void GameflowPlugin::OnShutdown() {
  if (mInitialized) {
    const GameflowPhase phase = Phase();
    // In the game phases a game is starting or running: the lock is left to
    // expire by itself so that the patcher keeps away from the running game.
    if (phase != GameflowPhase::None && !Api::IsGamePhase(phase)) {
      mGate.ClearLock();
    }
    mEvents.Stop();
    mInitialized = false;
  }
  RemoveTimer(kTickTimer);
  AppModule::OnShutdown();
}

void GameflowPlugin::SubscribeAll() {
  SubscribeLcds<LCDS::GameDto>(LCDS::kGameDtoClassName,
                               [this](LCDS::GameDto& game) { OnGameNotification(game); });
  SubscribeLcds<LCDS::PlayerCredentialsDto>(LCDS::kPlayerCredentialsDtoClassName,
                                            [this](LCDS::PlayerCredentialsDto& credentials) {
                                              OnPlayerCredentialsNotification(credentials);
                                            });
  AddResourceHandler<Api::LoginSession>(
      kLoginSessionPath,
      [this](std::string_view, PluginResourceEventType type, const Api::LoginSession* session) {
        OnLoginSession(type, session);
      });
  Subscribe(kLoginSessionPath);
  AddResourceHandler<BindingProperty>(
      kLoginDataPacketPath,
      [this](std::string_view, PluginResourceEventType type, const BindingProperty* packet) {
        OnLoginDataPacket(type, packet);
      });
  Subscribe(kLoginDataPacketPath);
  AddResourceHandler<BindingProperty>(
      kLoginInGameCredentialsPath,
      [this](std::string_view, PluginResourceEventType type, const BindingProperty* value) {
        // The login announces in-game credentials once; a later change of
        // them is no reason to launch.
        if (type == PluginResourceEventType::Create) {
          mLauncher->OnLoginInGameCredentials(value);
        }
      });
  Subscribe(kLoginInGameCredentialsPath);
  AddResourceHandler<Api::PatcherProductState>(
      kPatcherStatePath, [this](std::string_view, PluginResourceEventType type,
                                const Api::PatcherProductState* state) {
        // A patcher that starts after us announces its first state as a
        // creation; it counts like any later update.
        if (type != PluginResourceEventType::Delete && state != nullptr) {
          OnPatcherProductState(*state);
        }
      });
  Subscribe(kPatcherStatePath);
  AddResourceHandler<BindingProperty>(
      kUxCrashCountPath,
      [this](std::string_view, PluginResourceEventType type, const BindingProperty* value) {
        // The count's first announcement is no crash; only a change of it is.
        if (type == PluginResourceEventType::Update) {
          mLauncher->OnUxCrashCount(value);
        }
      });
  Subscribe(kUxCrashCountPath);
  AddResourceHandler<BindingProperty>(
      kQueuesPath, [this](std::string_view, PluginResourceEventType type, const BindingProperty*) {
        OnQueues(type, false);
      });
  Subscribe(kQueuesPath);
  AddResourceHandler<BindingProperty>(kCustomQueuesPath,
                                      [this](std::string_view, PluginResourceEventType type,
                                             const BindingProperty*) { OnQueues(type, true); });
  Subscribe(kCustomQueuesPath);
  auto timer = SetTimer(kTickTimer, kTickIntervalSeconds, [this] { Tick(); });
  if (timer.HasFailure()) {
    // Without the tick nothing is published on change; POST /tav-gameflow/v1/tick still works.
    Log(LogLevel::Error, kLogGroupDebug, "The timer %s could not be set: %s", kTickTimer.data(),
        timer.GetFailure().Text().c_str());
  }
}

// --- Events and the session --------------------------------------------------------------

bool GameflowPlugin::PostEvent(GameflowEvent event) {
  Log(LogLevel::Always, kLogGroupDebug, "%s", GameflowEventName(event).data());
  return mEvents.Post(event) != Hsm::PostOutcome::Ignored;
}

void GameflowPlugin::SetPhase(GameflowPhase phase) {
  mSessionModel.SetPhase(phase);
  PublishSession();
}

void GameflowPlugin::PublishSession() {
  PublishValue(kSessionPath, mSessionModel.Session());
}

template <class T>
void GameflowPlugin::PublishValue(std::string_view uri, const T& value) {
  auto published = Publish(uri, value);
  if (published.HasFailure()) {
    Log(LogLevel::Error, kLogGroupDebug, "Couldn't publish %.*s: %s", static_cast<int>(uri.size()),
        uri.data(), published.GetFailure().Text().c_str());
  }
}

void GameflowPlugin::PostTournamentReroute() {
  const bool posted = PostTask(kRerouteTask, NowNanoseconds(), [this] {
    PostEvent(GameflowEvent::TournamentCheckinRequested);
    PostEvent(GameflowEvent::CheckedInForTournament);
  });
  if (!posted) {
    Log(LogLevel::Error, kLogGroupDebug,
        "The core refused the task %s; the session shows CheckedIntoTournament while the "
        "gameflow stays in None.",
        kRerouteTask.data());
  }
}

void GameflowPlugin::ApplyGameToSession(const LCDS::GameDto& game) {
  Api::Queue queue = GameflowSessionModel::QueueOfGame(game);
  auto config = RequestValue<Api::QueueGameTypeConfig>(
      *this, RequestMethod::Get,
      std::string(kGameTypeConfigPath) + std::to_string(game.gameTypeConfigId));
  if (config.HasFailure()) {
    Log(LogLevel::Warn, kLogGroupDebug, "Couldn't look up queue game type config: %s",
        config.GetFailure().Text().c_str());
  } else {
    queue.gameTypeConfig = std::move(config).Value();
  }
  mSessionModel.SetQueue(queue);
  if (auto map = mLauncher->LookUpMap(queue)) {
    mSessionModel.SetMap(*map);
  }
}

// --- Routes ------------------------------------------------------------------------------

Api::GameflowAvailability GameflowPlugin::GetAvailability() {
  return mGate.GetAvailability().Value();
}

void GameflowPlugin::AcknowledgeFailedLaunch() {
  if (mWatchPhase != Api::GameflowWatchPhase::None) {
    mWatchPhase = Api::GameflowWatchPhase::None;
    PublishValue(kWatchPath, mWatchPhase);
    if (Phase() == GameflowPhase::None) {
      mGate.UnlockPatcher();
      mGate.ClearLock();
    }
    return;
  }
  if (mSessionModel.IsGameBeingServed() && !mSessionModel.Session().gameClient.running &&
      mGate.GetAvailability().IsAvailable() && mSessionModel.Credentials().has_value() &&
      !mGate.IsCorrupted() && Phase() != GameflowPhase::Reconnect) {
    PostEvent(GameflowEvent::ReconnectAvailable);
  }
  Tick();
}

std::vector<std::string> GameflowPlugin::GetExtraGameClientArgs() {
  return mExtraGameClientArgs;
}

void GameflowPlugin::SetExtraGameClientArgs(std::vector<std::string> arguments) {
  mExtraGameClientArgs = std::move(arguments);
}

MaybeType<Failure, Api::GameflowSession> GameflowPlugin::GetSession() {
  if (Phase() == GameflowPhase::None) {
    return Failure(404, "No gameflow session exists.");
  }
  return mSessionModel.Session();
}

bool GameflowPlugin::GetActivePatcherLock() {
  return mGate.ReadLockIsActive();
}

void GameflowPlugin::PostSessionEvent(std::string name) {
  if (name.empty()) {
    Log(LogLevel::Error, kLogGroupDebug, "Empty gameflow update event.");
    return;
  }
  const std::optional<GameflowEvent> event = ParseGameflowEvent(name);
  if (!event.has_value()) {
    // No state handles a name that is not an event; it is logged in a form
    // that cannot break the log line and never reaches the chart.
    Log(LogLevel::Always, kLogGroupDebug, "Ignoring '%s': it is not a gameflow event.",
        PrintableName(name).c_str());
    return;
  }
  if (mTournamentRunning && *event == GameflowEvent::ExitedQueue) {
    PostEvent(GameflowEvent::ExitedKorvaQueue);
    return;
  }
  PostEvent(*event);
}

void GameflowPlugin::PostDodge(Api::GameflowGameDodge dodge) {
  switch (mSessionModel.RecordDodge(dodge)) {
    case DodgeOutcome::Invalid:
      Log(LogLevel::Error, kLogGroupDebug, "Received invalid dodge data.");
      return;
    case DodgeOutcome::CustomGame:
      Log(LogLevel::Okay, kLogGroupGeneral, "Custom games can't be dodged.");
      return;
    case DodgeOutcome::Recorded:
      break;
  }
  Log(LogLevel::Always, kLogGroupDebug, "Received dodge data.");
  // The entry action of the state the dodge leads to publishes the session
  // with the dodge record; the reset that follows publishes it without.
  if (const std::optional<GameflowEvent> event = DodgeEvent(dodge.state)) {
    PostEvent(*event);
  }
  mSessionModel.ClearDodge();
  PublishSession();
}

void GameflowPlugin::PostGameConfiguration(Api::Queue queue) {
  if (Phase() == GameflowPhase::None) {
    Log(LogLevel::Error, kLogGroupDebug, "Invalid gameflow session.");
    return;
  }
  mSessionModel.SetQueue(queue);
  if (auto map = mLauncher->LookUpMap(queue)) {
    mSessionModel.SetMap(*map);
  }
  PublishSession();
}

bool GameflowPlugin::RequestLobby() {
  if (!EnterGameFlow(AvailabilityCheck::Apply)) {
    return false;
  }
  PostEvent(GameflowEvent::RequestedLobby);
  return true;
}

bool GameflowPlugin::RequestTournamentCheckin() {
  if (!EnterGameFlow(AvailabilityCheck::Apply)) {
    return false;
  }
  PostEvent(GameflowEvent::TournamentCheckinRequested);
  return true;
}

void GameflowPlugin::PostTournamentEnded() {
  Log(LogLevel::Always, kLogGroupDebug, "PostTournamentEnded received, unlocking gameflow");
  mTournamentRunning = false;
  PostEvent(GameflowEvent::TournamentEnded);
}

void GameflowPlugin::PostTick() {
  Tick();
}

bool GameflowPlugin::SetPreEndGameTransition(bool enabled) {
  mPreEndGameTransitionEnabled = enabled;
  return mPreEndGameTransitionEnabled;
}

Api::GameflowWatchPhase GameflowPlugin::GetWatchPhase() {
  return mWatchPhase;
}

bool GameflowPlugin::GetSpectating() {
  return mLauncher->IsSpectating();
}

void GameflowPlugin::GetDelayedSpectateLaunch() {}

bool GameflowPlugin::GetBasicTutorial() {
  return mLauncher->RunningTutorial() == TutorialKind::BasicTutorial;
}

bool GameflowPlugin::GetBattleTraining() {
  return mLauncher->RunningTutorial() == TutorialKind::BattleTraining;
}

void GameflowPlugin::SetPlayerStatus(Api::PlayerStatus status) {
  mPlayerStatus = std::move(status);
  PublishValue(kPlayerStatusPath, mPlayerStatus);
}

Api::PlayerStatus GameflowPlugin::GetPlayerStatus() {
  return mPlayerStatus;
}

// --- Platform notifications and peer resources ---------------------------------------------

void GameflowPlugin::OnGameNotification(const LCDS::GameDto& game) {
  Log(LogLevel::Okay, kLogGroupGeneral, "OnGameNotification - %s", game.gameState.c_str());
  mSessionModel.StoreGame(game);
  switch (
      ClassifyGameNotification(game.gameState, Phase(), mLauncher->RunningTutorial().has_value())) {
    case GameNotificationOutcome::Terminate:
      // TerminatedInError publishes its phase, then TERMINATED leads on to None.
      PostEvent(GameflowEvent::TerminatedInError);
      PostEvent(GameflowEvent::Terminated);
      return;
    case GameNotificationOutcome::CompleteGame:
      PostEvent(GameflowEvent::GameCompleted);
      return;
    case GameNotificationOutcome::EvaluateLaunch:
      mLauncher->EvaluateGameLaunch();
      return;
    case GameNotificationOutcome::EnterReadyCheck:
      PostEvent(GameflowEvent::EnteredReadyCheck);
      return;
    case GameNotificationOutcome::StoreOnly:
      return;
  }
}

void GameflowPlugin::OnPlayerCredentialsNotification(
    const LCDS::PlayerCredentialsDto& credentials) {
  Log(LogLevel::Okay, kLogGroupGeneral, "OnPlayerCredentialsNotification");
  mSessionModel.StoreCredentials(credentials);
  if (mSessionModel.RefreshFromCredentials()) {
    PublishSession();
  }
  mLauncher->EvaluateGameLaunch();
}

void GameflowPlugin::OnLoginSession(PluginResourceEventType type,
                                    const Api::LoginSession* session) {
  if (type == PluginResourceEventType::Delete || session == nullptr) {
    mLoginSession = Api::LoginSession();
    return;
  }
  const bool wasConnected = mLoginSession.connected;
  mLoginSession = *session;
  if (wasConnected || !mLoginSession.connected) {
    return;
  }
  if (Phase() != GameflowPhase::None) {
    // Whether a client was relaunched changes nothing here: the chart keeps
    // its phase either way.
    static_cast<void>(mLauncher->RelaunchInProgressGame());
  } else {
    mLauncher->RelaunchAfterLogin();
  }
}

void GameflowPlugin::OnLoginDataPacket(PluginResourceEventType type,
                                       const BindingProperty* packet) {
  if (type == PluginResourceEventType::Delete || packet == nullptr) {
    return;
  }
  // A packet that is not an object carries no ban; reading it as "not
  // banned" would lift a ban on a malformed update.
  if (packet->Kind() != BindingKind::Structure) {
    Log(LogLevel::Warn, kLogGroupDebug, "Ignoring a login data packet that is not an object (%s).",
        std::string(packet->KindName()).c_str());
    return;
  }
  const BindingProperty* bannedUntil = packet->Find("bannedUntilDateMillis");
  const std::int64_t banned = bannedUntil != nullptr ? bannedUntil->AsSigned(0) : 0;
  SetAvailabilityBlocker(GameflowAvailabilityState::PlayerBanned, banned != 0);
  const BindingProperty* platformId = packet->Find("platformId");
  mPlatformId = platformId != nullptr ? std::string(platformId->StringValue()) : std::string();
}

void GameflowPlugin::OnPatcherProductState(const Api::PatcherProductState& state) {
  if (mGate.GetAvailability().CurrentState() != GameflowAvailabilityState::InGameFlow) {
    SetAvailabilityBlocker(GameflowAvailabilityState::Patching, !state.isUpToDate);
  }
  if (state.action == Api::PatcherProductStateAction::Idle && !mGate.IsCorrupted() &&
      state.isCorrupted) {
    mGate.SetCorrupted(true);
    Log(LogLevel::Always, kLogGroupDebug, "Corruption detected, attempting repair.");
    PostEvent(GameflowEvent::CorruptionDetected);
    SetAvailabilityBlocker(GameflowAvailabilityState::Patching, true);
    mGate.UnlockPatcher();
    // The patcher reports the repair through its state resource.
    static_cast<void>(Request(RequestMethod::Post, kPartialRepairPath));
    return;
  }
  if (mGate.IsCorrupted() && !state.isCorrupted && state.isUpToDate) {
    mGate.SetCorrupted(false);
    Log(LogLevel::Always, kLogGroupDebug,
        "Corruption was fixed, attempting to relaunch and reconnect to the original game (if it "
        "exists).");
    if (!EnterGameFlow(AvailabilityCheck::Skip)) {
      Log(LogLevel::Error, kLogGroupDebug,
          "Unable to reenter flow after fixing corruption. Game was not relaunched.");
      ExitGameFlow();
    } else if (!mLauncher->RelaunchInProgressGame()) {
      ExitGameFlow();
    }
    return;
  }
  if (state.isUpdateAvailable && Phase() == GameflowPhase::None) {
    // The patcher reports the update through its state resource.
    static_cast<void>(Request(RequestMethod::Post, kStartPatchingPath));
  }
}

void GameflowPlugin::OnQueues(PluginResourceEventType type, bool custom) {
  if (type == PluginResourceEventType::Delete) {
    return;
  }
  (custom ? mCustomQueuesReceived : mQueuesReceived) = true;
  SetAvailabilityBlocker(GameflowAvailabilityState::Configuration,
                         !(mQueuesReceived && mCustomQueuesReceived));
}

// --- The game client launcher's view of the plugin ------------------------------------------

void GameflowPlugin::StoreCredentials(const LCDS::PlayerCredentialsDto& credentials) {
  mSessionModel.StoreCredentials(credentials);
  if (mSessionModel.RefreshFromCredentials()) {
    PublishSession();
  }
}

void GameflowPlugin::ApplyGame(const LCDS::GameDto& game) {
  ApplyGameToSession(game);
  PublishSession();
}

void GameflowPlugin::SetGameClientRunning() {
  const bool visible = mSessionModel.Session().gameClient.visible;
  if (mSessionModel.SetGameClientState(true, visible)) {
    mSessionChanged = true;
  }
}

void GameflowPlugin::SetGameClientVisible() {
  const bool running = mSessionModel.Session().gameClient.running;
  if (mSessionModel.SetGameClientState(running, true)) {
    mSessionChanged = true;
  }
}

void GameflowPlugin::BlockForGameFlow() {
  SetAvailabilityBlocker(GameflowAvailabilityState::InGameFlow, true);
  mSessionChanged = true;
}

void GameflowPlugin::ReleasePatcher() {
  mGate.UnlockPatcher();
  mGate.ClearLock();
}

void GameflowPlugin::PublishSpectating() {
  PublishValue(kSpectatePath, mLauncher->IsSpectating());
}

void GameflowPlugin::SetWatchPhase(Api::GameflowWatchPhase phase) {
  mWatchPhase = phase;
  PublishValue(kWatchPath, mWatchPhase);
}

// --- Availability, game flow and the patcher lock --------------------------------------------

void GameflowPlugin::SetAvailabilityBlocker(GameflowAvailabilityState reason, bool blocked) {
  mGate.GetAvailability().SetBlocker(reason, blocked);
}

void GameflowPlugin::ScheduleLockRefresh() {
  // Each write starts its own chain of refreshes; a chain ends at the first
  // run that finds the player back in None or Lobby with no replay running
  // and no client from before a restart waiting to be watched.
  const bool posted =
      PostTask(kSetPatcherLockTask, NowNanoseconds() + kPatcherLockRefreshNanoseconds, [this] {
        const GameflowPhase phase = Phase();
        if ((phase != GameflowPhase::None && phase != GameflowPhase::Lobby) ||
            mWatchPhase != Api::GameflowWatchPhase::None || mLauncher->IsRestoredClientWaiting()) {
          mGate.SetLock();
        }
      });
  if (!posted) {
    Log(LogLevel::Error, kLogGroupDebug,
        "The core refused the task %s; the patcher lock lapses in 15 minutes unless it is set "
        "again.",
        kSetPatcherLockTask.data());
  }
}

void GameflowPlugin::DetectCorruption() {
  auto state =
      RequestValue<Api::PatcherProductState>(*this, RequestMethod::Post, kDetectCorruptionPath);
  if (state.HasFailure()) {
    Log(LogLevel::Warn, kLogGroupDebug, "Patcher failed detect corruption request: %s",
        state.GetFailure().Text().c_str());
    return;
  }
  OnPatcherProductState(state.Value());
}

void GameflowPlugin::ExitIfAskedAfterUnlockCheck() {
  // A failed request is ignored: without a command line nobody asked to exit.
  auto arguments =
      RequestValue<std::vector<std::string>>(*this, RequestMethod::Get, kCommandLinePath);
  if (arguments.HasFailure()) {
    return;
  }
  const std::vector<std::string>& list = arguments.Value();
  if (std::find(list.begin(), list.end(), kExitAfterUnlockCheckArgument) == list.end()) {
    return;
  }
  Log(LogLevel::Always, kLogGroupDebug,
      "Intentionally hard-exiting right after game-flow patcher-unlock check during "
      "initialization.");
  LogManager::Instance().FlushAll();
  // The exit skips every destructor and atexit handler; what the process
  // buffered for its standard streams would be lost without this.
  std::fflush(nullptr);
  std::_Exit(1);
}

void GameflowPlugin::Tick() {
  if (const std::optional<bool> active = mGate.Lock().TakeStatusChange()) {
    Log(LogLevel::Always, kLogGroupDebug, "Patcher lock status is now: %s",
        *active ? "active" : "inactive");
    PublishValue(kActivePatcherLockPath, *active);
    if (!mGate.IsCorrupted() && !*active) {
      mGate.UnlockPatcher();
    }
  }
  if (mLaunchState == LaunchState::Exited) {
    static_cast<void>(mSessionModel.SetGameClientState(false, false));
    mSessionChanged = true;
    mLaunchState = LaunchState::Idle;
    if (mLauncher->RunningTutorial().has_value()) {
      PostEvent(GameflowEvent::ExitedTutorial);
    } else {
      mLauncher->OfferReconnect();
    }
    // The settings plugin reloads on its own schedule if this fails.
    static_cast<void>(Request(RequestMethod::Post, kReloadPostGamePath));
  }
  // A launch that is still waiting for a request has not failed; only one
  // that returned and left Launching behind has.
  if (mLaunchState == LaunchState::Launching && !mLauncher->IsLaunchRunning()) {
    mLaunchState = LaunchState::Idle;
    PostEvent(GameflowEvent::GameFailedToLaunch);
  }
  const bool availabilityChanged = mGate.GetAvailability().TakeChange();
  if (availabilityChanged) {
    PublishValue(kAvailabilityPath, mGate.GetAvailability().Value());
    Log(LogLevel::Okay, kLogGroupGeneral, "availability resource updated");
  }
  if (mSessionChanged) {
    PublishSession();
    mSessionChanged = false;
    const Api::GameflowGameClient& client = mSessionModel.Session().gameClient;
    Log(LogLevel::Okay, kLogGroupGeneral, "mGameflowSession.gameClient updated: %s, %s",
        client.running ? "running" : "not running", client.visible ? "visible" : "not visible");
  }
  mLauncher->FollowRestoredClient(availabilityChanged);
}

}  // namespace Nalo::Client::Gameflow

NALO_PLUGIN_ENTRY(load_tav_gameflow, Nalo::Client::Gameflow::GameflowPlugin, "tav-gameflow")
