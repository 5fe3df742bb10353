#include "diagnostics/Log.h"
#include "gameflow/GameLauncher.h"

namespace Nalo::Client::Gameflow {

namespace {

class PendingGameLauncher final : public GameLauncher {
 public:
  void EvaluateGameLaunch() override { Note("launch evaluation"); }
  bool RelaunchInProgressGame() override {
    Note("relaunch of the game in progress");
    return false;
  }
  void RelaunchAfterLogin() override { Note("relaunch after login"); }
  void OfferReconnect() override { Note("reconnect offer"); }
  MaybeType<Failure, void> Reconnect() override {
    Note("reconnect");
    return Failure(403, "Reconnect is not available.");
  }
  std::optional<Api::GameflowGameMap> LookUpMap(const Api::Queue&) override {
    Note("map lookup");
    return std::nullopt;
  }
  MaybeType<Failure, void> WatchLaunch(const std::vector<std::string>&) override {
    Note("watch launch");
    return Failure(500, "Failed to launch the watch client: no game client can be started.");
  }
  MaybeType<Failure, void> SpectateLaunch(std::optional<std::string>) override {
    Note("spectate launch");
    return Failure(500, "Failed to enter gameflow.");
  }
  MaybeType<Failure, void> SpectateQuit() override { return Failure(404, "Not spectating"); }
  MaybeType<Failure, void> TutorialStart(TutorialKind) override {
    Note("tutorial start");
    return Failure(500, "Failed to enter gameflow.");
  }
  MaybeType<Failure, void> BattleTrainingStop() override {
    return Failure(500, "Not in battle training.");
  }
  void SetClientVestoMessage(std::string_view) override { Note("client message"); }
  bool IsSpectating() const override { return false; }
  void EndSpectating() override {}
  std::optional<TutorialKind> RunningTutorial() const override { return std::nullopt; }
  // No tutorial ever runs here, so there is no tutorial resource to publish.
  void EndTutorial() override {}
  void OnLoginInGameCredentials(const BindingProperty*) override {}
  void OnUxCrashCount(const BindingProperty*) override {}

 private:
  static void Note(const char* what) {
    Log(LogLevel::Okay, kLogGroupGeneral, "Game client control is not available: %s skipped.",
        what);
  }
};

}  // namespace

std::unique_ptr<GameLauncher> MakePendingGameLauncher() {
  return std::make_unique<PendingGameLauncher>();
}

}  // namespace Nalo::Client::Gameflow
