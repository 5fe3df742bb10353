// The gameflow chart against its rules: every resting state crossed with every
// event (the entry work that runs, what it forgets, which phase it publishes),
// and the diagram in docs/ against the table it is written from.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "gameflow/GameflowChart.h"
#include "hsm/EventQueue.h"

namespace Nalo::Client::Gameflow {
namespace {

using Api::GameflowPhase;
using enum GameflowEvent;

// Records what the chart asks of its owner, in order; a publication records
// the phase the model shows.
class RecordingOwner final : public GameflowChartOwner {
 public:
  explicit RecordingOwner(const GameflowModel& model) : mModel(&model) {}

  void PublishSession() override {
    published.push_back(mModel->session.Phase());
    actions.push_back("SetPhase");
  }
  void PostTournamentReroute() override { actions.push_back("PostTournamentReroute"); }
  bool EnterGameFlow(AvailabilityCheck check) override {
    actions.push_back(check == AvailabilityCheck::Skip ? "EnterGameFlow(Skip)"
                                                       : "EnterGameFlow(Apply)");
    return true;
  }
  void ExitGameFlow() override { actions.push_back("ExitGameFlow"); }
  bool IsSpectating() const override { return spectating; }
  void EndSpectating() override {
    spectating = false;
    actions.push_back("EndSpectating");
  }
  bool EndTutorial() override {
    actions.push_back("EndTutorial");
    return std::exchange(tutorial, false);
  }

  void Clear() {
    actions.clear();
    published.clear();
  }

  std::vector<std::string> actions;
  std::vector<GameflowPhase> published;
  bool spectating = false;
  bool tutorial = false;

 private:
  const GameflowModel* mModel;
};

struct Harness {
  GameflowModel model;
  RecordingOwner owner{model};
  GameflowChartContext context{model, owner};
  GameflowMachine machine{&context, std::string(kGameflowMachineName), &GameflowChartRoot(),
                          FormatGameflowEvent};
  Hsm::EventQueue<GameflowChartContext, GameflowEvent> events{machine};

  Harness() { events.Start(); }
  std::string State() const { return machine.GetCurrentState()->Name(); }
  // Stores a game and credentials, to see what an entry forgets.
  void StoreRecords() {
    model.session.StoreGame(LCDS::GameDto());
    model.session.StoreCredentials(LCDS::PlayerCredentialsDto());
  }
};

// How to reach each state that the machine rests in ("Gameflow" and
// "PostGame" are only passed through).
const std::map<std::string, std::vector<GameflowEvent>> kPaths = {
    {"None", {}},
    {"LobbyRequested", {RequestedLobby}},
    {"Lobby", {RequestedLobby, EnteredLobby}},
    {"Matchmaking", {RequestedLobby, EnteredLobby, EnteredQueue}},
    {"TournamentCheckinRequested", {TournamentCheckinRequested}},
    {"CheckedIntoTournament", {TournamentCheckinRequested, CheckedInForTournament}},
    {"ReadyCheck", {RequestedLobby, EnteredLobby, EnteredQueue, EnteredReadyCheck}},
    {"ChampSelect", {EnteredChampSelect}},
    {"GameStart", {GameStarted}},
    {"FailedToLaunch", {GameStarted, GameFailedToLaunch}},
    {"InProgress", {GameStarted, GameLaunched}},
    {"ReconnectAvailable", {ReconnectAvailable}},
    {"WaitingForStats", {GameStarted, GameLaunched, GameCompleted}},
    {"PreEndOfGame", {GameStarted, GameLaunched, StatsReceived}},
    {"EndOfGame", {GameStarted, GameLaunched, StatsReceived, PreEndOfGameCompleted}},
    {"TerminatedInError", {TerminatedInError}},
};

// The row the chart takes for `event` in `state`: the state's own, else its
// parents' up to the root; null when none handles it.
const GameflowMachine::Transition* RowFor(const GameflowMachine::State& state,
                                          GameflowEvent event) {
  for (const GameflowMachine::State* holder = &state; holder != nullptr;
       holder = holder->Parent()) {
    for (const GameflowMachine::Transition& row : GameflowChartRows()) {
      if (row.source == holder && row.event == event) {
        return &row;
      }
    }
  }
  return nullptr;
}

bool InPostGame(const GameflowMachine::State& state) {
  return state.Parent() == FindGameflowChartState("PostGame");
}

std::ptrdiff_t IndexOf(const std::vector<std::string>& actions, std::string_view action) {
  const auto found = std::find(actions.begin(), actions.end(), action);
  return found == actions.end() ? -1 : found - actions.begin();
}

TEST(GameflowChart, EveryStateCrossedWithEveryEvent) {
  for (const auto& [state, path] : kPaths) {
    for (std::size_t index = 0; index < kGameflowEventCount; ++index) {
      const auto event = static_cast<GameflowEvent>(index);
      SCOPED_TRACE(state + " + " + std::string(GameflowEventName(event)));
      Harness harness;
      for (GameflowEvent step : path) {
        harness.events.Post(step);
      }
      ASSERT_EQ(harness.State(), state);
      const GameflowChartState& source = *FindGameflowChartState(state);
      const bool tournament = harness.model.tournamentRunning;
      const GameflowPhase phaseBefore = harness.model.session.Phase();
      harness.StoreRecords();
      harness.owner.Clear();

      const Hsm::PostOutcome outcome = harness.events.Post(event);
      const GameflowMachine::Transition* row = RowFor(source, event);
      const std::vector<std::string>& actions = harness.owner.actions;
      const bool gameKept = harness.model.session.Game().has_value();
      const bool credentialsKept = harness.model.session.Credentials().has_value();
      if (row == nullptr) {
        EXPECT_EQ(outcome, Hsm::PostOutcome::Ignored);
        EXPECT_EQ(harness.State(), state);
        EXPECT_THAT(actions, testing::IsEmpty());
        EXPECT_TRUE(gameKept && credentialsKept);
        continue;
      }
      EXPECT_EQ(outcome, Hsm::PostOutcome::Handled);
      const std::string target = row->target == nullptr ? state : row->target->Name();
      EXPECT_EQ(harness.State(), target);

      // The row's own action runs first.
      const bool checkout = GameflowChartActionName(*row) == "tournament checkout";
      if (event == ExitedTutorial) {
        EXPECT_EQ(IndexOf(actions, "EndTutorial"), 0);
      } else if (event == ExitedSpectating) {
        EXPECT_EQ(IndexOf(actions, "EndSpectating"), 0);
      } else if (checkout) {
        EXPECT_FALSE(harness.model.tournamentRunning);
      }

      // Nothing runs here, so a tutorial or spectate end in None is internal
      // like any other row of the root there.
      if (target == state) {
        // Internal: no entry ran, nothing was published or forgotten.
        EXPECT_THAT(harness.owner.published, testing::IsEmpty());
        EXPECT_EQ(harness.model.session.Phase(), phaseBefore);
        EXPECT_TRUE(gameKept && credentialsKept);
        continue;
      }
      // Entering None resets the session and either exits game flow or, while
      // a tournament runs, shows CheckedIntoTournament and reroutes.
      if (target == "None") {
        const bool stillInTournament = tournament && !checkout;
        EXPECT_FALSE(gameKept || credentialsKept);
        EXPECT_EQ(IndexOf(actions, "PostTournamentReroute") >= 0, stillInTournament);
        EXPECT_EQ(IndexOf(actions, "ExitGameFlow") >= 0, !stillInTournament);
        EXPECT_THAT(harness.owner.published,
                    testing::ElementsAre(stillInTournament ? GameflowPhase::CheckedIntoTournament
                                                           : GameflowPhase::None));
        continue;
      }
      if (target == "GameStart") {
        EXPECT_LT(IndexOf(actions, "EnterGameFlow(Skip)"), IndexOf(actions, "SetPhase"));
      }
      const GameflowChartState& entered = *FindGameflowChartState(target);
      // Entering the post-game states forgets the credentials, never the game.
      EXPECT_TRUE(gameKept);
      EXPECT_EQ(credentialsKept, !InPostGame(entered) || InPostGame(source));
      EXPECT_EQ(harness.model.tournamentRunning, tournament || target == "CheckedIntoTournament");
      const std::optional<GameflowPhase> phase = entered.PhaseOnEntry();
      if (!phase.has_value()) {
        EXPECT_THAT(harness.owner.published, testing::IsEmpty());
        EXPECT_EQ(harness.model.session.Phase(), phaseBefore);
      } else if (target == "CheckedIntoTournament" &&
                 phaseBefore == GameflowPhase::CheckedIntoTournament) {
        // Already shown: not published again.
        EXPECT_THAT(harness.owner.published, testing::IsEmpty());
      } else {
        EXPECT_THAT(harness.owner.published, testing::ElementsAre(*phase));
      }
    }
  }
}

TEST(GameflowChart, StartEntersNoneAndStopExitsUpToTheRoot) {
  Harness harness;
  EXPECT_EQ(harness.State(), "None");
  EXPECT_THAT(harness.owner.published, testing::ElementsAre(GameflowPhase::None));
  EXPECT_THAT(harness.owner.actions, testing::ElementsAre("SetPhase", "ExitGameFlow"));
  harness.events.Post(GameStarted);
  harness.events.Post(GameLaunched);
  harness.events.Post(GameCompleted);
  harness.events.Stop();
  EXPECT_EQ(harness.machine.GetCurrentState(), nullptr);
}

TEST(GameflowChart, SpectatingEndsBeforeLobbyAndEndOfGamePublishAndOnReturnToNone) {
  Harness harness;
  harness.events.Post(RequestedLobby);
  harness.owner.spectating = true;
  harness.owner.Clear();
  harness.events.Post(EnteredLobby);
  EXPECT_THAT(harness.owner.actions, testing::ElementsAre("EndSpectating", "SetPhase"));

  harness.owner.spectating = true;
  harness.StoreRecords();
  harness.owner.Clear();
  harness.events.Post(ExitedLobby);
  EXPECT_FALSE(harness.model.session.Game().has_value());
  EXPECT_THAT(harness.owner.actions,
              testing::ElementsAre("SetPhase", "ExitGameFlow", "EndSpectating"));
}

TEST(GameflowChart, OnlyATutorialOrSpectateThatEndsInNoneLeavesGameFlow) {
  for (const GameflowEvent event : {ExitedTutorial, ExitedSpectating}) {
    SCOPED_TRACE(std::string(GameflowEventName(event)));
    const std::string end = event == ExitedTutorial ? "EndTutorial" : "EndSpectating";
    Harness harness;
    harness.StoreRecords();
    harness.owner.Clear();
    harness.events.Post(event);
    EXPECT_THAT(harness.owner.actions, testing::ElementsAre(end));
    EXPECT_TRUE(harness.model.session.Game().has_value());

    (event == ExitedTutorial ? harness.owner.tutorial : harness.owner.spectating) = true;
    harness.owner.Clear();
    harness.events.Post(event);
    EXPECT_FALSE(harness.model.session.Game().has_value());
    EXPECT_THAT(harness.owner.actions, testing::ElementsAre(end, "SetPhase", "ExitGameFlow"));
    EXPECT_THAT(harness.owner.published, testing::ElementsAre(GameflowPhase::None));
  }
}

TEST(GameflowChart, TournamentRerouteWalksBackWithoutRepublishing) {
  Harness harness;
  harness.events.Post(TournamentCheckinRequested);
  harness.events.Post(CheckedInForTournament);
  harness.events.Post(TournamentEnded);  // the flag is still set: bounce
  EXPECT_EQ(harness.State(), "None");
  EXPECT_EQ(harness.model.session.Phase(), GameflowPhase::CheckedIntoTournament);
  // What the reroute task posts.
  harness.owner.Clear();
  harness.events.Post(TournamentCheckinRequested);
  harness.events.Post(CheckedInForTournament);
  EXPECT_EQ(harness.State(), "CheckedIntoTournament");
  EXPECT_THAT(harness.owner.published, testing::ElementsAre(GameflowPhase::CheckedIntoTournament));
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
