#pragma once
// Spectate: watching someone's game in progress with an observer client. The
// platform answers with the game and observer credentials, and with a delay
// after which the spectate may start; a spectate that starts is published at
// "/tav-gameflow/v1/spectate" and recorded in the data store, so that a
// restarted plugin rejoins it.

#include <functional>
#include <optional>
#include <string>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "gameflow/client/GameClientOwner.h"
#include "gameflow/client/GameClientPeers.h"
#include "platform/Clock.h"

namespace Nalo::Client::Gameflow {

class Spectate {
 public:
  // Launches the client for the stored credentials.
  using LaunchClient = std::function<MaybeType<Failure, void>()>;

  // All three must outlive the object; `clock` times the spectate.
  Spectate(const GameClientContext& gameflow, GameClientPeers& peers, const TickClock& clock,
           LaunchClient launchClient);
  // The delay's timer calls back into the object.
  Spectate(const Spectate&) = delete;
  Spectate& operator=(const Spectate&) = delete;
  Spectate(Spectate&&) = delete;
  Spectate& operator=(Spectate&&) = delete;
  ~Spectate() = default;

  // Spectates the game of `summonerName` (without one, the current summoner's),
  // now or after the platform's delay. `relaunch`: the client of a spectate
  // in progress is launched again; `fromDelay`: the delay has passed.
  [[nodiscard]] MaybeType<Failure, void> Launch(std::optional<std::string> summonerName,
                                                bool relaunch, bool fromDelay);
  // Posts EXITED_SPECTATING while a spectate runs.
  [[nodiscard]] MaybeType<Failure, void> Quit();
  // Ends the spectate: its telemetry, the published flag, the record cleared.
  void End();
  // Restores the spectate recorded in the data store; answers whether one runs.
  bool TryReconnect();
  [[nodiscard]] bool IsSpectating() const { return mSpectating; }

 private:
  void Begin();
  void ClearRecord();

  GameClientContext mGameflow;
  GameClientPeers* mPeers;
  const TickClock* mClock;
  LaunchClient mLaunchClient;
  bool mSpectating = false;
  // How long the running spectate lasts; read when it ends.
  Stopwatch mWatch;
  bool mWatchStarted = false;
};

}  // namespace Nalo::Client::Gameflow
