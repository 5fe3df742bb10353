#pragma once
// GameflowSessionModel: the session resource and the platform records it is
// made from: the last game record and the last player credentials.
//
// It decides what changes; the plugin publishes. Every operation that can
// change the published session answers whether it should be published.
//
//   GameflowSessionModel model;
//   model.StoreCredentials(credentials);
//   if (model.RefreshFromCredentials()) Publish(model.Session());

#include <optional>
#include <string_view>

#include "gameflow/Api/GameflowPhase.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/Api/Queue.h"
#include "gameflow/GameflowEvent.h"
#include "gameflow/LCDS/GameDto.h"
#include "gameflow/LCDS/PlayerCredentialsDto.h"

namespace Nalo::Client::Gameflow {

// Game states of the platform server, compared exactly (case-sensitive).
inline constexpr std::string_view kGameStateTerminatedInError = "TERMINATED_IN_ERROR";
inline constexpr std::string_view kGameStateTerminated = "TERMINATED";
inline constexpr std::string_view kGameStateStartRequested = "START_REQUESTED";
inline constexpr std::string_view kGameStateInProgress = "IN_PROGRESS";
inline constexpr std::string_view kGameStateJoiningChampSelect = "JOINING_CHAMP_SELECT";

// What a game notification leads to, given the stored game's state.
enum class GameNotificationOutcome {
  Terminate,        // post TERMINATED_IN_ERROR, then TERMINATED
  CompleteGame,     // post GAME_COMPLETED
  EvaluateLaunch,   // the game is being served: decide about the launch
  EnterReadyCheck,  // post ENTERED_READY_CHECK
  StoreOnly,        // nothing beyond storing the game
};

// The rules, in order: TERMINATED_IN_ERROR terminates; TERMINATED completes
// the game in phases GameStart, FailedToLaunch, InProgress and Reconnect when
// no tutorial runs; START_REQUESTED and IN_PROGRESS evaluate the launch;
// JOINING_CHAMP_SELECT enters ready check; anything else is only stored.
[[nodiscard]] GameNotificationOutcome ClassifyGameNotification(std::string_view gameState,
                                                               Api::GameflowPhase phase,
                                                               bool tutorialRunning) noexcept;

// The event a dodge of `state` posts; nothing for Invalid or an unknown value.
[[nodiscard]] std::optional<GameflowEvent> DodgeEvent(Api::GameflowGameDodgeState state) noexcept;

// Whether a dodge was recorded, and if not, why.
enum class DodgeOutcome { Recorded, Invalid, CustomGame };

class GameflowSessionModel {
 public:
  [[nodiscard]] const Api::GameflowSession& Session() const noexcept { return mSession; }
  [[nodiscard]] Api::GameflowPhase Phase() const noexcept { return mSession.phase; }
  void SetPhase(Api::GameflowPhase phase) noexcept { mSession.phase = phase; }

  // Forgets the game and the credentials and starts a default session
  // (phase None, game id 0, queue id -1, dodge Invalid).
  void Reset();
  void DiscardCredentials() noexcept { mCredentials.reset(); }

  // Stores a copy of `game` (overwriting the stored one).
  void StoreGame(const LCDS::GameDto& game) { mGame = game; }
  void StoreCredentials(const LCDS::PlayerCredentialsDto& credentials) {
    mCredentials = credentials;
  }
  [[nodiscard]] const std::optional<LCDS::GameDto>& Game() const noexcept { return mGame; }
  [[nodiscard]] const std::optional<LCDS::PlayerCredentialsDto>& Credentials() const noexcept {
    return mCredentials;
  }

  // A game is stored and its state is START_REQUESTED or IN_PROGRESS.
  [[nodiscard]] bool IsGameBeingServed() const noexcept;

  // Copies the credentials' game id and server addresses into the session
  // (an address whose IP is empty shows as "" and 0), logging each field that
  // changes, then the stored game's non-empty team lists and champion
  // selections. Returns whether the session should be published: something
  // changed, or champion selections were copied.
  [[nodiscard]] bool RefreshFromCredentials();

  // The queue a game implies, without its game-type configuration: its type,
  // map, mode, half its player count per team, and category Custom for a
  // practice game.
  [[nodiscard]] static Api::Queue QueueOfGame(const LCDS::GameDto& game);
  // Stores `queue` as the session's queue; the game is custom exactly when the
  // queue's category is Custom.
  void SetQueue(const Api::Queue& queue);
  void SetMap(const Api::GameflowGameMap& map) { mSession.map = map; }

  // Records a dodge in the session with the current phase. Invalid dodges and
  // dodges of custom games are refused and change nothing.
  [[nodiscard]] DodgeOutcome RecordDodge(const Api::GameflowGameDodge& dodge);
  // Resets the dodge record to state Invalid, no ids, phase None.
  void ClearDodge();

  // The game client's running and visible flags; answer whether they changed.
  bool SetGameClientState(bool running, bool visible) noexcept;

 private:
  Api::GameflowSession mSession;
  std::optional<LCDS::GameDto> mGame;
  std::optional<LCDS::PlayerCredentialsDto> mCredentials;
};

}  // namespace Nalo::Client::Gameflow
