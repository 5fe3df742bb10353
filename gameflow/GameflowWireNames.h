#pragma once
// Every text the gameflow and its game client side put on the wire or read
// from it, in one place: the resources this plugin serves and publishes, the
// resources of the core and of other plugins it reads, subscribes to and posts
// to, the platform server's destination and methods, telemetry events, the
// names of its tasks and timers, and the host's command-line options it looks
// for.
//
// Declared elsewhere because others read them too: the events' wire names
// ("GAMEFLOW_EVENT.…", GameflowEvent.h), the platform's record class names
// (with their records in gameflow/LCDS/) and the data store's process record
// (ProcessRecord.h, which the host's scenarios read).

#include <string_view>

namespace Nalo::Client::Gameflow::Wire {

// --- Resources of this plugin --------------------------------------------------------------
inline constexpr std::string_view kAvailabilityPath = "/tav-gameflow/v1/availability";
inline constexpr std::string_view kReconnectPath = "/tav-gameflow/v1/reconnect";
inline constexpr std::string_view kAckFailedToLaunchPath = "/tav-gameflow/v1/ack-failed-to-launch";
inline constexpr std::string_view kExtraGameClientArgsPath =
    "/tav-gameflow/v1/extra-game-client-args";
inline constexpr std::string_view kSessionPath = "/tav-gameflow/v1/session";
inline constexpr std::string_view kActivePatcherLockPath = "/tav-gameflow/v1/active-patcher-lock";
inline constexpr std::string_view kSessionEventPath = "/tav-gameflow/v1/session/event";
inline constexpr std::string_view kDodgePath = "/tav-gameflow/v1/session/dodge";
inline constexpr std::string_view kGameConfigurationPath =
    "/tav-gameflow/v1/session/game-configuration";
inline constexpr std::string_view kRequestLobbyPath = "/tav-gameflow/v1/session/request-lobby";
inline constexpr std::string_view kRequestTournamentCheckinPath =
    "/tav-gameflow/v1/session/request-tournament-checkin";
inline constexpr std::string_view kTournamentEndedPath =
    "/tav-gameflow/v1/session/tournament-ended";
inline constexpr std::string_view kTickPath = "/tav-gameflow/v1/tick";
inline constexpr std::string_view kPreEndGameTransitionPath =
    "/tav-gameflow/v1/pre-end-game-transition";
inline constexpr std::string_view kClientReceivedMessagePath =
    "/tav-gameflow/v1/client-received-message";
inline constexpr std::string_view kWatchPath = "/tav-gameflow/v1/watch";
inline constexpr std::string_view kWatchLaunchPath = "/tav-gameflow/v1/watch/launch";
inline constexpr std::string_view kSpectateLaunchPath = "/tav-gameflow/v1/spectate/launch";
inline constexpr std::string_view kSpectateQuitPath = "/tav-gameflow/v1/spectate/quit";
inline constexpr std::string_view kBattleTrainingStartPath =
    "/tav-gameflow/v1/battle-training/start";
inline constexpr std::string_view kBattleTrainingStopPath = "/tav-gameflow/v1/battle-training/stop";
inline constexpr std::string_view kBasicTutorialStartPath = "/tav-gameflow/v1/basic-tutorial/start";
inline constexpr std::string_view kPlayerStatusPath =
    "/tav-gameflow/v1/gameflow-metadata/player-status";
inline constexpr std::string_view kSpectatePath = "/tav-gameflow/v1/spectate";
inline constexpr std::string_view kDelayedSpectateLaunchPath =
    "/tav-gameflow/v1/spectate/delayed-launch";
inline constexpr std::string_view kBasicTutorialPath = "/tav-gameflow/v1/basic-tutorial";
inline constexpr std::string_view kBattleTrainingPath = "/tav-gameflow/v1/battle-training";

// The body and query arguments of those routes.
inline constexpr std::string_view kExtraGameClientArgsArgument = "extraGameClientArgs";
inline constexpr std::string_view kSessionEventArgument = "session";
inline constexpr std::string_view kDodgeArgument = "dodgeData";
inline constexpr std::string_view kGameConfigurationArgument = "queue";
inline constexpr std::string_view kPreEndGameTransitionArgument = "enabled";
// Spelled with three s, as callers send it.
inline constexpr std::string_view kClientReceivedMessageArgument = "messsage";
inline constexpr std::string_view kWatchLaunchArgument = "args";
inline constexpr std::string_view kSpectateLaunchArgument = "summonerName";
inline constexpr std::string_view kPlayerStatusArgument = "playerStatus";

// --- Resources of the core and of other plugins -----------------------------------------------
inline constexpr std::string_view kLoginSessionPath = "/tav-login/v1/session";
inline constexpr std::string_view kLoginDataPacketPath = "/tav-login/v1/login-data-packet";
inline constexpr std::string_view kPatcherStatePath = "/patcher/v1/products/tavora/state";
inline constexpr std::string_view kUxCrashCountPath = "/naloclient/ux-crash-count";
inline constexpr std::string_view kQueuesPath = "/tav-game-queues/v1/queues";
inline constexpr std::string_view kCustomQueuesPath = "/tav-game-queues/v1/custom";
// Followed by the configuration's id.
inline constexpr std::string_view kGameTypeConfigPath = "/tav-game-queues/v1/game-type-config/";
inline constexpr std::string_view kDetectCorruptionPath =
    "/patcher/v1/products/tavora/detect-corruption-request";
inline constexpr std::string_view kStopCheckingPath =
    "/patcher/v1/products/tavora/stop-checking-request";
inline constexpr std::string_view kStartCheckingPath =
    "/patcher/v1/products/tavora/start-checking-request";
inline constexpr std::string_view kPartialRepairPath =
    "/patcher/v1/products/tavora/partial-repair-request";
inline constexpr std::string_view kStartPatchingPath =
    "/patcher/v1/products/tavora/start-patching-request";
inline constexpr std::string_view kSignalStartPatchingDelayedPath =
    "/patcher/v1/products/tavora/signal-start-patching-delayed";
inline constexpr std::string_view kPatcherLockPath =
    "/data-store/v1/install-settings/gameflow-patcher-lock";
inline constexpr std::string_view kReloadPostGamePath = "/tav-game-settings/v1/reload-post-game";
inline constexpr std::string_view kLoginInGameCredentialsPath = "/tav-login/v1/login-in-game-creds";
inline constexpr std::string_view kCommandLinePath = "/naloclient/command-line-args";
inline constexpr std::string_view kRegionLocalePath = "/naloclient/region-locale";
inline constexpr std::string_view kAppPortPath = "/naloclient/app-port";
inline constexpr std::string_view kAuthTokenPath = "/naloclient/auth-token";
inline constexpr std::string_view kUxMinimizePath = "/naloclient/ux-minimize";
inline constexpr std::string_view kUxShowPath = "/naloclient/ux-show";
inline constexpr std::string_view kPatcherPathsPath = "/patcher/v1/products/tavora/paths";
// The member of the patcher's paths that names the game client's folder.
inline constexpr std::string_view kGameClientFolderKey = "tav_game_client_sln";
inline constexpr std::string_view kReplaysSettingsPath = "/tav-settings/v1/local/tav-replays";
inline constexpr std::string_view kTogglesPath =
    "/tav-platform-config/v1/namespaces/GameClientCmdLineToggles";
inline constexpr std::string_view kSpectateRecordPath =
    "/data-store/v1/install-settings/gameflow-spectate-reconnect-info";
inline constexpr std::string_view kCurrentSummonerPath = "/tav-summoner/v1/current-summoner";
// Followed by the map id, or by the map id, the game mode and the mutators.
inline constexpr std::string_view kMapPath = "/tav-maps/v1/map/";
inline constexpr std::string_view kMapByModePath = "/tav-maps/v2/map/";

// --- Telemetry -----------------------------------------------------------------------------
inline constexpr std::string_view kUxCrashTelemetryEvent = "ncp-be-tav-gameflow.ux-crash";
inline constexpr std::string_view kSpectateEndTelemetryEvent = "spectate-end";

// Members of the login data packet.
inline constexpr std::string_view kBannedUntilKey = "bannedUntilDateMillis";
inline constexpr std::string_view kPlatformIdKey = "platformId";

// --- The platform server, through the login plugin's relay ----------------------------------
inline constexpr std::string_view kGameService = "gameService";
inline constexpr std::string_view kSetClientReceivedGameMessage = "setClientReceivedGameMessage";
inline constexpr std::string_view kSetClientReceivedVestoMessage = "setClientReceivedVestoMessage";
inline constexpr std::string_view kRetrieveInProgressGameInfo = "retrieveInProgressGameInfo";
inline constexpr std::string_view kRetrieveInProgressSpectatorGameInfo =
    "retrieveInProgressSpectatorGameInfo";
inline constexpr std::string_view kCreateTutorialGame = "createTutorialGame";

// --- Tasks and timers ----------------------------------------------------------------------
inline constexpr std::string_view kTickTimer = "tav-gameflow.tick";
inline constexpr std::string_view kSetPatcherLockTask = "tav-gameflow.set-patcher-lock";
inline constexpr std::string_view kRerouteTask = "tav-gameflow.reroute-check-into-tournament";
inline constexpr std::string_view kWindowTimer = "tav-gameflow.check-window-visibility";
// Followed by "game", "spectator" or "watch".
inline constexpr std::string_view kMonitorTimerPrefix = "tav-gameflow.monitor-process-id.";
inline constexpr std::string_view kReconnectDelayTimer = "tav-gameflow.reconnectDelay";
inline constexpr std::string_view kSpectateReconnectTask = "tav-gameflow.spectate-reconnect";

// --- The host's command line ---------------------------------------------------------------
inline constexpr std::string_view kExitAfterUnlockCheckArgument =
    "--exit-after-gameflow-patcher-unlock-check";
inline constexpr std::string_view kNoZumpArgument = "--no-zump";
// Followed by the arguments, as JSON.
inline constexpr std::string_view kExtraArgsOption = "--extra-game-client-args=";

}  // namespace Nalo::Client::Gameflow::Wire
