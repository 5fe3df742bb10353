#pragma once
// GameClientLauncher: the GameLauncher that drives the real game client
// process. It decides when a served game is launched, builds the client's
// argument list, writes the game's locale file, spawns "Tavora.exe" from the
// patcher's "tav_game_client_sln" folder (or reuses the client recorded in the
// data store), watches the process and its window, and offers a reconnect
// once the client ends while the game goes on.
//
// It reaches the rest of the plugin through Owner (the gameflow's state and
// its chart) and the other plugins through Peers (requests, LCDS calls,
// timers), and the machine through a ProcessSystem, so that tests drive it
// with fakes of all three:
//
//   GameClientLauncher launcher(processes, owner, peers);
//   launcher.EvaluateGameLaunch();  // spawns the client when the game is served
//
// Spectates (observer credentials, now or after the platform's delay), watches
// and tutorials run their own client through the same launch; a spectate is
// recorded in the data store so that a restarted plugin can rejoin it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "platform/Clock.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "platform/ProcessSystem.h"
#include "gameflow/Api/GameflowPhase.h"
#include "gameflow/Api/GameflowProcessInfo.h"
#include "gameflow/Api/GameflowWatchPhase.h"
#include "gameflow/Api/LoginSession.h"
#include "gameflow/Availability.h"
#include "gameflow/GameLauncher.h"
#include "gameflow/GameflowChart.h"
#include "gameflow/GameflowEvent.h"
#include "gameflow/LCDS/GameDto.h"
#include "gameflow/LCDS/PlayerCredentialsDto.h"
#include "gameflow/LCDS/ReconnectInfoDto.h"

namespace Nalo {
class BindingTypeRegistry;
}

namespace Nalo::Client::Gameflow {

// The mark that stands in the log for the host's token and the game's keys.
inline constexpr std::string_view kRedactedMark = "<redacted>";
// The longest executable path the client can be started from, in bytes,
// counting the terminating NUL of the system's buffer.
inline constexpr std::size_t kMaxGamePathBytes = 260;

// `first` and `second` joined with "/" (none when `first` ends in a slash),
// every "\" turned into "/"; a `second` that begins with a slash or a drive
// letter and colon stands alone.
[[nodiscard]] std::string JoinGamePath(std::string_view first, std::string_view second);

// Every occurrence of each non-empty text of `secrets` in `arguments`
// replaced by kRedactedMark, the arguments joined by single spaces.
[[nodiscard]] std::string RedactedArguments(const std::vector<std::string>& arguments,
                                            const std::vector<std::string>& secrets);

// Writes "<directory>/data/cfg/defaults/locale.cfg": "[General]", CR LF and
// "LanguageLocaleRegion=" with `locale`, nothing after it. A locale holding a
// line break or NUL is refused, since it would add lines to the file.
[[nodiscard]] MaybeType<Failure, void> WriteGameLocale(const std::string& directory,
                                                       std::string_view locale);

class GameClientLauncher final : public GameLauncher {
 public:
  // The gameflow's state and chart, as the launcher reads and changes them.
  class Owner {
   public:
    virtual ~Owner() = default;
    [[nodiscard]] virtual Api::GameflowPhase Phase() const = 0;
    [[nodiscard]] virtual bool IsGameBeingServed() const = 0;
    [[nodiscard]] virtual const std::optional<LCDS::GameDto>& StoredGame() const = 0;
    [[nodiscard]] virtual const std::optional<LCDS::PlayerCredentialsDto>& StoredCredentials()
        const = 0;
    virtual void StoreGame(const LCDS::GameDto& game) = 0;
    // Stores the credentials and refreshes (and publishes) the session from them.
    virtual void StoreCredentials(const LCDS::PlayerCredentialsDto& credentials) = 0;
    // Fills the session from `game` (queue, map) and publishes it.
    virtual void ApplyGame(const LCDS::GameDto& game) = 0;
    // Hands `game` to the platform's game notification.
    virtual void NotifyGame(const LCDS::GameDto& game) = 0;
    [[nodiscard]] virtual const Api::LoginSession& Login() const = 0;
    [[nodiscard]] virtual const std::string& PlatformId() const = 0;
    // The session's queue id (-1 without a queue).
    [[nodiscard]] virtual std::int64_t QueueId() const = 0;
    [[nodiscard]] virtual const std::vector<std::string>& ExtraGameClientArgs() const = 0;
    virtual void SetLaunchState(LaunchState state) = 0;
    // The session's gameClient flags; each change marks the session changed.
    [[nodiscard]] virtual bool IsGameClientRunning() const = 0;
    virtual void SetGameClientRunning() = 0;
    virtual void SetGameClientVisible() = 0;
    [[nodiscard]] virtual bool IsAvailable() const = 0;
    [[nodiscard]] virtual bool IsCorrupted() const = 0;
    // Blocks availability for game flow and marks the session changed.
    virtual void BlockForGameFlow() = 0;
    virtual bool PostEvent(GameflowEvent event) = 0;
    virtual void Tick() = 0;
    virtual bool EnterGameFlow(AvailabilityCheck check) = 0;
    virtual void ExitGameFlow() = 0;
    virtual void SetPatcherLock() = 0;
    // Unlocks the patcher and clears the stored lock.
    virtual void ReleasePatcher() = 0;
    // Asks the patcher to look for corruption and handles its answer.
    virtual void DetectCorruption() = 0;
    [[nodiscard]] virtual Api::GameflowWatchPhase WatchPhase() const = 0;
    virtual void PublishSession() = 0;
    // Sets the session's map (not published).
    virtual void SetMap(const Api::GameflowGameMap& map) = 0;
    // Publishes the spectating flag.
    virtual void PublishSpectating() = 0;
    // Sets and publishes the watch phase.
    virtual void SetWatchPhase(Api::GameflowWatchPhase phase) = 0;

   protected:
    Owner() = default;
    Owner(const Owner&) = default;
    Owner& operator=(const Owner&) = default;
    Owner(Owner&&) = default;
    Owner& operator=(Owner&&) = default;
  };

  // The other plugins and the core's timers.
  class Peers {
   public:
    virtual ~Peers() = default;
    [[nodiscard]] virtual const BindingTypeRegistry& Types() const = 0;
    [[nodiscard]] virtual MaybeType<Failure, BindingProperty> Get(std::string_view path) = 0;
    // POSTs `body` (nothing: no body).
    [[nodiscard]] virtual MaybeType<Failure, void> Post(std::string_view path,
                                                        const BindingProperty* body) = 0;
    // LCDS gameService.setClientReceivedGameMessage / setClientReceivedVestoMessage.
    [[nodiscard]] virtual MaybeType<Failure, void> SetGameMessage(std::uint64_t gameId,
                                                                  std::string_view message) = 0;
    [[nodiscard]] virtual MaybeType<Failure, void> SetVestoMessage(std::uint64_t gameId,
                                                                   std::string_view message) = 0;
    // LCDS gameService.retrieveInProgressGameInfo.
    [[nodiscard]] virtual MaybeType<Failure, LCDS::ReconnectInfoDto> RetrieveInProgressGame() = 0;
    // LCDS gameService.retrieveInProgressSpectatorGameInfo with the name, or
    // without one gameService.retrieveInProgressGameInfo: the answer as it came.
    [[nodiscard]] virtual MaybeType<Failure, BindingProperty> RetrieveSpectatorGame(
        const std::optional<std::string>& summonerName) = 0;
    // LCDS gameService.createTutorialGame.
    [[nodiscard]] virtual MaybeType<Failure, LCDS::GameDto> CreateTutorialGame(
        std::int32_t kind) = 0;
    // Publishes `value` at `path`; null publishes the deletion.
    virtual void Publish(std::string_view path, const BindingProperty* value) = 0;
    // Runs `action` once, `seconds` from now.
    virtual bool PostTask(std::string_view name, double seconds, std::function<void()> action) = 0;
    // A repeating timer known by `name`; answers whether the core took it.
    virtual bool SetTimer(std::string_view name, double seconds, std::function<void()> action) = 0;
    virtual void RemoveTimer(std::string_view name) = 0;
    // Sends a telemetry event with text properties.
    virtual void SendTelemetry(std::string_view name,
                               std::vector<std::pair<std::string, std::string>> properties) = 0;

   protected:
    Peers() = default;
    Peers(const Peers&) = default;
    Peers& operator=(const Peers&) = default;
    Peers(Peers&&) = default;
    Peers& operator=(Peers&&) = default;
  };

  // All four must outlive the launcher; `clock` times spectates.
  GameClientLauncher(ProcessSystem& processes, Owner& owner, Peers& peers, const TickClock& clock);

  void EvaluateGameLaunch() override;
  bool RelaunchInProgressGame() override;
  void RelaunchAfterLogin() override;
  void OfferReconnect() override;
  MaybeType<Failure, void> Reconnect() override;
  std::optional<Api::GameflowGameMap> LookUpMap(const Api::Queue& queue) override;
  MaybeType<Failure, void> WatchLaunch(const std::vector<std::string>& args) override;
  MaybeType<Failure, void> SpectateLaunch(std::optional<std::string> summonerName) override {
    return SpectateLaunch(std::move(summonerName), false, false);
  }
  MaybeType<Failure, void> SpectateQuit() override;
  MaybeType<Failure, void> TutorialStart(TutorialKind kind) override;
  MaybeType<Failure, void> BattleTrainingStop() override;
  void SetClientVestoMessage(std::string_view message) override;
  bool IsSpectating() const override { return mSpectating; }
  void EndSpectating() override;
  std::optional<TutorialKind> RunningTutorial() const override { return mTutorial; }
  void EndTutorial() override;
  void FollowRestoredClient(bool availabilityChanged) override;
  bool IsRestoredClientWaiting() const override { return mRestoredClient.has_value(); }
  void OnLoginInGameCredentials(const BindingProperty* value) override;
  void OnUxCrashCount(const BindingProperty* value) override;
  bool IsLaunchRunning() const override { return mLaunchRunning; }

  // Launches (or finds) the game client for the stored credentials.
  MaybeType<Failure, void> LaunchGameClient();
  // The base argument list (the process record keeps exactly these).
  MaybeType<Failure, std::vector<std::string>> CreateGameClientArgs();
  // Reuses the recorded client when it runs with `args` (any, when empty),
  // else spawns one.
  MaybeType<Failure, std::uint32_t> FindOrLaunchGameProcess(const std::vector<std::string>& args,
                                                            bool withHostCredentials);
  MaybeType<Failure, std::uint32_t> FindRunningGameProcess(const std::vector<std::string>& args);
  // Spectates for observer credentials, else launches the game client.
  MaybeType<Failure, void> LaunchGameOrSpectate(bool relaunch);
  MaybeType<Failure, void> SpectateLaunch(std::optional<std::string> summonerName, bool relaunch,
                                          bool fromDelay);
  // Restores the spectate recorded in the data store; answers whether one runs.
  bool TrySpectateReconnect();

 private:
  MaybeType<Failure, std::uint32_t> LaunchGameProcess(const std::vector<std::string>& args,
                                                      bool withHostCredentials);
  MaybeType<Failure, void> GetAndWriteGameLocale(const std::string& directory);
  std::vector<std::string> ExtraArgsFromCommandLine();
  // Whether the client gets "-UseZump": unless the host's command line says
  // "--no-zump". Fails when the command line can't be read.
  MaybeType<Failure, bool> UseZump();
  std::optional<Api::GameflowProcessInfo> GetProcessInfo();
  void SetProcessInfo(const std::optional<Api::GameflowProcessInfo>& info);
  // Whether `pid` runs the game client's executable.
  bool IsGameClientProcess(std::uint32_t pid);
  void StartProcessMonitoring(std::string_view mode, std::uint32_t pid,
                              std::function<void()> exitAction);
  void StartWindowCheck(std::uint32_t pid);
  bool CanReconnect() const;
  void StartSpectating();
  void SetSpectateReconnectRecord(const BindingProperty& record);

  ProcessSystem* mProcesses;
  Owner* mOwner;
  Peers* mPeers;
  const TickClock* mClock;
  bool mLaunchRunning = false;
  // A game client found running after a restart that is not watched yet.
  std::optional<std::uint32_t> mRestoredClient;
  bool mSpectating = false;
  std::optional<TutorialKind> mTutorial;
  // How long the running spectate lasts; read when it ends.
  Stopwatch mSpectateWatch;
  bool mSpectateWatchStarted = false;
  // The pid whose window the visibility check looks for.
  std::optional<std::uint32_t> mWindowPid;
};

}  // namespace Nalo::Client::Gameflow
