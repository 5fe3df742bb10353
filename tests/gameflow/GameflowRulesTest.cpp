// The gameflow's rules that stand apart from the plugin: availability from its
// blockers, the patcher lock's time rules on an injected clock, the session
// model, game notifications, dodges and event names.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/BindingProperty.h"
#include "gameflow/Availability.h"
#include "gameflow/GameflowEvent.h"
#include "gameflow/GameflowSessionModel.h"
#include "gameflow/PatcherLock.h"

namespace Nalo::Client::Gameflow {
namespace {

using Api::GameflowPhase;
using State = Api::GameflowAvailabilityState;

class ManualClock final : public WallClock {
 public:
  std::uint64_t NowMillisecondsSinceEpoch() const noexcept override { return now; }
  std::uint64_t now = 1'700'000'000'000;
};

constexpr std::uint64_t kMinute = 60'000;

// --- Availability ----------------------------------------------------------------------

TEST(Availability, TheSmallestBlockerWinsAndOnlyChangesAreMarked) {
  struct Step {
    State reason;
    bool blocked;
    State state;
    bool available;
    bool changed;
  };
  const Step steps[] = {
      {State::Configuration, true, State::Configuration, false, true},
      {State::Patching, true, State::Patching, false, true},
      {State::Configuration, true, State::Patching, false, false},  // same state: no change
      {State::Patching, false, State::Configuration, false, true},
      {State::Configuration, false, State::Available, true, true},
      {State::InGameFlow, true, State::InGameFlow, true, true},
      {State::PlayerBanned, true, State::PlayerBanned, false, true},  // outranks InGameFlow
      {State::Patching, true, State::Patching, false, true},          // outranks PlayerBanned
      {State::Available, true, State::Patching, false, false},        // Available has no blocker
  };
  Availability availability;
  EXPECT_EQ(availability.CurrentState(), State::Initializing);
  EXPECT_FALSE(availability.IsAvailable());
  EXPECT_FALSE(availability.TakeChange());
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const Step& step = steps[i];
    SCOPED_TRACE("step " + std::to_string(i));
    EXPECT_EQ(availability.SetBlocker(step.reason, step.blocked), step.changed);
    EXPECT_EQ(availability.CurrentState(), step.state);
    EXPECT_EQ(availability.IsAvailable(), step.available);
    EXPECT_EQ(availability.TakeChange(), step.changed);
    EXPECT_FALSE(availability.TakeChange());
  }
}

// --- Patcher lock ----------------------------------------------------------------------

TEST(PatcherLock, ActiveOnlyUpToFifteenMinutesAhead) {
  struct Case {
    const char* name = nullptr;
    std::optional<std::int64_t> offset;  // expiry - now, in milliseconds
    bool active = false;
  };
  const Case cases[] = {
      {"no lock", std::nullopt, false},
      {"exactly now", 0, false},
      {"one millisecond ago", -1, false},
      {"one second ahead", 1000, true},
      {"exactly fifteen minutes ahead", 15 * kMinute, true},
      {"one millisecond past fifteen minutes", 15 * kMinute + 1, false},
      {"sixteen minutes ahead", 16 * kMinute, false},
  };
  ManualClock clock;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PatcherLock lock(clock);
    if (c.offset.has_value()) {
      lock.Remember(clock.now + *c.offset);
    }
    EXPECT_EQ(lock.IsActive(), c.active);
  }
  EXPECT_FALSE(IsPatcherLockActiveAt(UINT64_MAX, UINT64_MAX - 1 - 15 * kMinute));
  EXPECT_TRUE(IsPatcherLockActiveAt(UINT64_MAX, UINT64_MAX - 15 * kMinute));
}

TEST(PatcherLock, StoredValuesThatNoGameflowWroteAreNoLock) {
  ManualClock clock;
  const auto number = [](auto value) {
    BindingProperty property;
    if constexpr (std::is_same_v<decltype(value), double>) {
      property.SetFloat(value);
    } else if constexpr (std::is_signed_v<decltype(value)>) {
      property.SetSigned(value);
    } else {
      property.SetUnsigned(value);
    }
    return property;
  };
  const auto text = [](std::string_view value) {
    BindingProperty property;
    property.SetString(value);
    return property;
  };
  BindingProperty structure;
  structure.member("expiry").SetUnsigned(clock.now + kMinute);
  struct Case {
    const char* name;
    BindingProperty stored;
    std::optional<std::uint64_t> expiry;
  };
  const std::vector<Case> cases = {
      {"absent", BindingProperty(), std::nullopt},
      {"cleared", text(""), std::nullopt},
      {"a text", text("soon"), std::nullopt},
      {"a number in a text", text("1700000060000"), std::nullopt},
      {"an object", structure, std::nullopt},
      {"negative", number(std::int64_t{-5}), std::nullopt},
      {"negative float", number(-5.0), std::nullopt},
      {"fractional", number(1.5), std::nullopt},
      {"a year ahead", number(clock.now + std::int64_t{365} * 24 * 60 * kMinute), std::nullopt},
      {"sixteen minutes ahead", number(clock.now + 16 * kMinute), std::nullopt},
      {"one minute ahead", number(clock.now + kMinute), clock.now + kMinute},
      {"one minute ahead, signed", number(static_cast<std::int64_t>(clock.now + kMinute)),
       clock.now + kMinute},
      {"one minute ahead, whole float", number(static_cast<double>(clock.now + kMinute)),
       clock.now + kMinute},
      {"lapsed", number(clock.now - kMinute), clock.now - kMinute},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadStoredPatcherLock(c.stored, clock.now), c.expiry);
  }
}

TEST(PatcherLock, StatusChangesAreReportedOnceAsTimePasses) {
  ManualClock clock;
  PatcherLock lock(clock);
  EXPECT_EQ(lock.TakeStatusChange(), std::nullopt);  // starts published inactive
  lock.Remember(lock.NextExpiry());
  EXPECT_EQ(lock.Expiry(), clock.now + 15 * kMinute);
  EXPECT_EQ(lock.TakeStatusChange(), true);
  EXPECT_EQ(lock.TakeStatusChange(), std::nullopt);
  clock.now += 15 * kMinute - 1;
  EXPECT_EQ(lock.TakeStatusChange(), std::nullopt);
  clock.now += 1;  // the expiry is now: lapsed
  EXPECT_EQ(lock.TakeStatusChange(), false);
  EXPECT_FALSE(lock.IsPublishedActive());
}

// --- Session model ---------------------------------------------------------------------

TEST(GameflowSessionModel, CredentialsFillTheGameClientOnlyWithAnAddress) {
  GameflowSessionModel model;
  LCDS::PlayerCredentialsDto credentials;
  credentials.gameId = 42;
  credentials.serverPort = 5000;  // without an address: shown as 0
  credentials.observerServerIp = "10.0.0.2";
  credentials.observerServerPort = 8088;
  model.StoreCredentials(credentials);
  EXPECT_TRUE(model.RefreshFromCredentials());
  const Api::GameflowGameClient& client = model.Session().gameClient;
  EXPECT_EQ(client.serverIp, "");
  EXPECT_EQ(client.serverPort, 0);
  EXPECT_EQ(client.observerServerIp, "10.0.0.2");
  EXPECT_EQ(client.observerServerPort, 8088);
  EXPECT_EQ(model.Session().gameData.gameId, 42U);
  EXPECT_FALSE(model.RefreshFromCredentials());  // nothing changed

  LCDS::GameDto game;
  game.playerChampionSelections.resize(1);
  model.StoreGame(game);
  EXPECT_TRUE(model.RefreshFromCredentials());  // selections always publish
  EXPECT_EQ(model.Session().gameData.playerChampionSelections.size(), 1U);

  model.DiscardCredentials();
  model.StoreGame(LCDS::GameDto());
  EXPECT_TRUE(model.RefreshFromCredentials());
  EXPECT_EQ(model.Session().gameData.gameId, 0U);
  EXPECT_EQ(model.Session().gameClient.observerServerIp, "");
  EXPECT_EQ(model.Session().gameData.playerChampionSelections.size(), 1U);  // empty lists keep
}

TEST(GameflowSessionModel, QueueOfAGame) {
  LCDS::GameDto game;
  game.queueTypeName = "NORMAL";
  game.mapId = 11;
  game.gameMode = "CLASSIC";
  game.maxNumPlayers = 7;
  Api::Queue queue = GameflowSessionModel::QueueOfGame(game);
  EXPECT_EQ(queue.id, Api::kNoQueueId);
  EXPECT_EQ(queue.type, "NORMAL");
  EXPECT_EQ(queue.mapId, 11);
  EXPECT_EQ(queue.numPlayersPerTeam, 3);
  EXPECT_EQ(queue.category, Api::QueueGameCategory::None);
  game.gameType = "PRACTICE_GAME";
  game.maxNumPlayers = 10;
  queue = GameflowSessionModel::QueueOfGame(game);
  EXPECT_EQ(queue.numPlayersPerTeam, 5);
  EXPECT_EQ(queue.category, Api::QueueGameCategory::Custom);
  GameflowSessionModel model;
  model.SetQueue(queue);
  EXPECT_TRUE(model.Session().gameData.isCustomGame);
}

TEST(GameflowSessionModel, DodgesAreRecordedWithTheCurrentPhase) {
  using DodgeState = Api::GameflowGameDodgeState;
  GameflowSessionModel model;
  model.SetPhase(GameflowPhase::ReadyCheck);
  Api::GameflowGameDodge dodge{DodgeState::StrangerDodged, {7, 8}, GameflowPhase::EndOfGame};
  EXPECT_EQ(model.RecordDodge(dodge), DodgeOutcome::Recorded);
  EXPECT_EQ(
      model.Session().gameDodge,
      (Api::GameflowGameDodge{DodgeState::StrangerDodged, {7, 8}, GameflowPhase::ReadyCheck}));
  model.ClearDodge();
  EXPECT_EQ(model.Session().gameDodge, Api::GameflowGameDodge());

  EXPECT_EQ(model.RecordDodge({DodgeState::Invalid, {1}, GameflowPhase::None}),
            DodgeOutcome::Invalid);
  EXPECT_EQ(model.RecordDodge({static_cast<DodgeState>(52), {1}, GameflowPhase::None}),
            DodgeOutcome::Invalid);
  Api::Queue custom;
  custom.category = Api::QueueGameCategory::Custom;
  model.SetQueue(custom);
  EXPECT_EQ(model.RecordDodge(dodge), DodgeOutcome::CustomGame);
  EXPECT_EQ(model.Session().gameDodge, Api::GameflowGameDodge());

  EXPECT_EQ(DodgeEvent(DodgeState::PartyDodged), GameflowEvent::PartyDodged);
  EXPECT_EQ(DodgeEvent(DodgeState::TournamentDodged), GameflowEvent::TournamentDodged);
}

TEST(GameflowSessionModel, ResetForgetsGameAndCredentials) {
  GameflowSessionModel model;
  LCDS::GameDto game;
  game.gameState = "IN_PROGRESS";
  model.StoreGame(game);
  model.StoreCredentials({});
  model.SetPhase(GameflowPhase::InProgress);
  EXPECT_TRUE(model.IsGameBeingServed());
  model.Reset();
  EXPECT_FALSE(model.Game().has_value());
  EXPECT_FALSE(model.Credentials().has_value());
  EXPECT_EQ(model.Session(), Api::GameflowSession());
  EXPECT_FALSE(model.IsGameBeingServed());
}

// --- Game notifications ----------------------------------------------------------------

TEST(GameNotifications, OutcomeByGameStatePhaseAndTutorial) {
  using Outcome = GameNotificationOutcome;
  struct Case {
    std::string_view state;
    GameflowPhase phase;
    bool tutorial;
    Outcome outcome;
  };
  const Case cases[] = {
      {"TERMINATED_IN_ERROR", GameflowPhase::ChampSelect, false, Outcome::Terminate},
      {"TERMINATED_IN_ERROR", GameflowPhase::None, true, Outcome::Terminate},
      {"TERMINATED", GameflowPhase::InProgress, false, Outcome::CompleteGame},
      {"TERMINATED", GameflowPhase::Reconnect, false, Outcome::CompleteGame},
      {"TERMINATED", GameflowPhase::InProgress, true, Outcome::StoreOnly},
      {"TERMINATED", GameflowPhase::Lobby, false, Outcome::StoreOnly},
      {"IN_PROGRESS", GameflowPhase::ChampSelect, false, Outcome::EvaluateLaunch},
      {"START_REQUESTED", GameflowPhase::None, false, Outcome::EvaluateLaunch},
      {"in_progress", GameflowPhase::ChampSelect, false, Outcome::StoreOnly},
      {"JOINING_CHAMP_SELECT", GameflowPhase::Matchmaking, false, Outcome::EnterReadyCheck},
      {"CHAMP_SELECT", GameflowPhase::ChampSelect, false, Outcome::StoreOnly},
      {"", GameflowPhase::None, false, Outcome::StoreOnly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.state));
    EXPECT_EQ(ClassifyGameNotification(c.state, c.phase, c.tutorial), c.outcome);
  }
}

// --- Event names -----------------------------------------------------------------------

TEST(GameflowEvent, NamesRoundTripAndAnythingElseIsNoEvent) {
  for (std::size_t i = 0; i < kGameflowEventCount; ++i) {
    const auto event = static_cast<GameflowEvent>(i);
    EXPECT_EQ(ParseGameflowEvent(GameflowEventName(event)), event);
  }
  const std::string withNul("GAMEFLOW_EVENT.ENTERED_LOBBY\0", 29);
  const std::string megabyte = "GAMEFLOW_EVENT." + std::string(1 << 20, 'A');
  for (const std::string& text :
       {std::string(), std::string("GAMEFLOW_EVENT."), std::string("gameflow_event.entered_lobby"),
        std::string("GAMEFLOW_EVENT.ENTERED_LOBBY "), withNul, megabyte,
        std::string("GAMEFLOW_EVENT.\xC3\x28"), std::string("ENTERED_LOBBY")}) {
    EXPECT_EQ(ParseGameflowEvent(text), std::nullopt) << text.substr(0, 40);
  }
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
