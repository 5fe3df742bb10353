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
