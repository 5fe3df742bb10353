// The plugin object: what it is made of, and its start-up and shutdown. The
// routes are in GameflowRoutes.cpp, the subscriptions in
// GameflowSubscriptions.cpp, and the peers the core reaches in HostPeers.cpp.

#include "gameflow/GameflowPlugin.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "diagnostics/Log.h"
#include "diagnostics/LogManager.h"
#include "gameflow/GameflowTypeRegistration.h"
#include "gameflow/GameflowWireNames.h"
#include "gameflow/src/HostPeers.h"
#include "plugin/PluginEntry.h"

namespace Nalo::Client::Gameflow {

using namespace Wire;
using Api::GameflowAvailabilityState;
using Api::GameflowPhase;
using detail::CreateHostLauncherPeers;
using detail::CreateHostPatcherPeers;
using detail::RequestValue;

namespace {

constexpr double kTickIntervalSeconds = 0.5;

}  // namespace

GameflowPlugin::GameflowPlugin() : GameflowPlugin(SystemTickClock(), SystemWallClock()) {
  mProcesses = CreatePlatformProcessSystem();
  mLauncherPeers = CreateHostLauncherPeers(*this);
  mLauncher = std::make_unique<GameClientLauncher>(
      *mProcesses, GameClientContext{mModel, mGate, static_cast<GameClientOwner&>(*this)},
      *mLauncherPeers, SystemTickClock());
  mRoutes = std::make_unique<GameflowRoutes>(mModel, mGate, *mLauncher,
                                             static_cast<GameflowRoutes::Owner&>(*this));
}

GameflowPlugin::GameflowPlugin(const TickClock& tickClock, const WallClock& wallClock)
    : AppModule(tickClock),
      mPatcherPeers(CreateHostPatcherPeers(*this)),
      mGate(*mPatcherPeers, wallClock, mModel, *this),
      mChartContext{mModel, *this},
      mMachine(&mChartContext, std::string(kGameflowMachineName), &GameflowChartRoot(),
               FormatGameflowEvent),
      mEvents(mMachine) {
  mMachine.SetTraceHook([](Hsm::Diagnostic, std::string_view message) {
    Log(LogLevel::Okay, kLogGroupGeneral, "%.*s", static_cast<int>(message.size()), message.data());
  });
}

GameflowPlugin::~GameflowPlugin() = default;

// --- Lifecycle ---------------------------------------------------------------------------

void GameflowPlugin::RegisterApi() {
  RegisterGameflowTypes(Registry(), LcdsClasses());
  mRoutes->Register(Routes());
}

bool GameflowPlugin::OnInitialize() {
  SubscribeAll();
  auto timer =
      SetTimer(kTickTimer, kTickIntervalSeconds, [this] { PublishChangesAndLaunchOutcomes(); });
  if (timer.HasFailure()) {
    // Without the tick nothing is published on change; POST /tav-gameflow/v1/tick still works.
    Log(LogLevel::Error, kLogGroupDebug, "The timer %s could not be set: %s", kTickTimer.data(),
        timer.GetFailure().Text().c_str());
  }
  mGate.GetAvailability().ClearBlockers();
  SetAvailabilityBlocker(GameflowAvailabilityState::Patching, mGate.IsPatcherUpdatePending());
  SetAvailabilityBlocker(GameflowAvailabilityState::Configuration, true);
  mInitialized = true;
  mEvents.Start();
  mGate.DetectCorruption();
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
    const GameflowPhase phase = mModel.session.Phase();
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

// --- Events and the session --------------------------------------------------------------

bool GameflowPlugin::PostEvent(GameflowEvent event) {
  Log(LogLevel::Always, kLogGroupDebug, "%s", GameflowEventName(event).data());
  return mEvents.Post(event) != Hsm::PostOutcome::Ignored;
}

void GameflowPlugin::PublishSession() {
  PublishValue(kSessionPath, mModel.session.Session());
}

void GameflowPlugin::PublishWatchPhase() {
  PublishValue(kWatchPath, mModel.watchPhase);
}

void GameflowPlugin::PublishPlayerStatus() {
  PublishValue(kPlayerStatusPath, mModel.playerStatus);
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
  mModel.session.SetQueue(queue);
  if (auto map = mLauncher->LookUpMap(queue)) {
    mModel.session.SetMap(*map);
  }
}

// --- The game client launcher's view of the plugin ------------------------------------------

void GameflowPlugin::StoreCredentials(const LCDS::PlayerCredentialsDto& credentials) {
  mModel.session.StoreCredentials(credentials);
  if (mModel.session.RefreshFromCredentials()) {
    PublishSession();
  }
}

void GameflowPlugin::ApplyGame(const LCDS::GameDto& game) {
  ApplyGameToSession(game);
  PublishSession();
}

void GameflowPlugin::PublishSpectating() {
  PublishValue(kSpectatePath, mLauncher->IsSpectating());
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
        const GameflowPhase phase = mModel.session.Phase();
        if ((phase != GameflowPhase::None && phase != GameflowPhase::Lobby) ||
            mModel.watchPhase != Api::GameflowWatchPhase::None ||
            mLauncher->IsRestoredClientWaiting()) {
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

void GameflowPlugin::PublishChangesAndLaunchOutcomes() {
  if (const std::optional<bool> active = mGate.Lock().TakeStatusChange()) {
    Log(LogLevel::Always, kLogGroupDebug, "Patcher lock status is now: %s",
        *active ? "active" : "inactive");
    PublishValue(kActivePatcherLockPath, *active);
    if (!mGate.IsCorrupted() && !*active) {
      mGate.UnlockPatcher();
    }
  }
  if (mModel.launchState == LaunchState::Exited) {
    static_cast<void>(mModel.session.SetGameClientState(false, false));
    mModel.sessionChanged = true;
    mModel.launchState = LaunchState::Idle;
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
  if (mModel.launchState == LaunchState::Launching && !mLauncher->IsLaunchRunning()) {
    mModel.launchState = LaunchState::Idle;
    PostEvent(GameflowEvent::GameFailedToLaunch);
  }
  const bool availabilityChanged = mGate.GetAvailability().TakeChange();
  if (availabilityChanged) {
    PublishValue(kAvailabilityPath, mGate.GetAvailability().Value());
    Log(LogLevel::Okay, kLogGroupGeneral, "availability resource updated");
  }
  if (mModel.sessionChanged) {
    PublishSession();
    mModel.sessionChanged = false;
    const Api::GameflowGameClient& client = mModel.session.Session().gameClient;
    Log(LogLevel::Okay, kLogGroupGeneral, "mGameflowSession.gameClient updated: %s, %s",
        client.running ? "running" : "not running", client.visible ? "visible" : "not visible");
  }
  mLauncher->FollowRestoredClient(availabilityChanged);
}

}  // namespace Nalo::Client::Gameflow

NALO_PLUGIN_ENTRY(load_tav_gameflow, Nalo::Client::Gameflow::GameflowPlugin, "tav-gameflow")
