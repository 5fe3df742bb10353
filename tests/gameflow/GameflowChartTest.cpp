// The gameflow chart against its rules: every resting state crossed with every
// event (where the machine ends, which phase it publishes, which actions run),
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

// Records what the chart asks of its owner, in order.
class RecordingOwner final : public GameflowChartOwner {
 public:
  GameflowPhase Phase() const override { return mPhase; }
  void SetPhase(GameflowPhase phase) override {
    mPhase = phase;
    published.push_back(phase);
    actions.push_back("SetPhase");
  }
  void ResetSession() override {
    mPhase = GameflowPhase::None;
    actions.push_back("ResetSession");
  }
  void DiscardCredentials() override { actions.push_back("DiscardCredentials"); }
  bool IsTournamentRunning() const override { return tournament; }
  void SetTournamentRunning(bool running) override {
    tournament = running;
    actions.push_back(running ? "JoinTournament" : "LeaveTournament");
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
  bool tournament = false;
  bool spectating = false;
  bool tutorial = false;

 private:
  GameflowPhase mPhase = GameflowPhase::None;
};

struct Harness {
  RecordingOwner owner;
  GameflowMachine machine{&owner, std::string(kGameflowMachineName), &GameflowChartRoot(),
                          FormatGameflowEvent};
  Hsm::EventQueue<GameflowChartOwner, GameflowEvent> events{machine};

  Harness() { events.Start(); }
  std::string State() const { return machine.GetCurrentState()->Name(); }
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

constexpr std::string_view kStay = "(stay)";

// The handled events of each state, as the chart's rows give them: target
// state, or kStay for a row that accepts the event and changes nothing. The
// root's rows apply wherever a state has none of its own.
const std::map<std::string, std::map<GameflowEvent, std::string_view>> kRows = {
    {"Gameflow",
     {{TerminatedInError, "TerminatedInError"},
      {CorruptionDetected, "None"},
      {ExitedTutorial, "None"},
      {ExitedSpectating, "None"}}},
    {"None",
     {{FailedLobby, kStay},
      {TournamentEnded, kStay},
      {RequestedLobby, "LobbyRequested"},
      {TournamentCheckinRequested, "TournamentCheckinRequested"},
      {ReconnectAvailable, "ReconnectAvailable"},
      {GameStarted, "GameStart"},
      {EnteredChampSelect, "ChampSelect"},
      {EnteredDelayedSpectate, "ChampSelect"}}},
    {"LobbyRequested", {{EnteredLobby, "Lobby"}, {FailedLobby, "None"}}},
    {"Lobby",
     {{ExitedLobby, "None"},
      {EnteredQueue, "Matchmaking"},
      {TournamentCheckinRequested, "TournamentCheckinRequested"},
      {EnteredChampSelect, "ChampSelect"},
      {GameStarted, "GameStart"},
      {EnteredLobby, kStay},
      {RequestedLobby, kStay},
      {FailedLobby, kStay},
      {QuitToLobby, kStay},
      {StatsDismissed, kStay}}},
    {"Matchmaking",
     {{ExitedLobby, "None"},
      {ExitedQueue, "Lobby"},
      {TournamentCheckinRequested, "TournamentCheckinRequested"},
      {EnteredReadyCheck, "ReadyCheck"},
      {EnteredQueue, kStay}}},
    {"TournamentCheckinRequested",
     {{CheckedOutOfTournament, "None"},
      {FailedTournamentCheckin, "None"},
      {TournamentEnded, "None"},
      {CheckedInForTournament, "CheckedIntoTournament"},
      {TournamentCheckinRequested, kStay},
      {RequestedLobby, kStay}}},
    {"CheckedIntoTournament",
     {{CheckedOutOfTournament, "None"},
      {TournamentEnded, "None"},
      {EnteredReadyCheck, "ReadyCheck"},
      {EnteredQueue, kStay},
      {TournamentCheckinRequested, kStay},
      {CheckedInForTournament, kStay},
      {RequestedLobby, kStay}}},
    {"ReadyCheck",
     {{ExitedLobby, "None"},
      {PartyDodged, "Lobby"},
      {StrangerDodged, "Matchmaking"},
      {TournamentDodged, "CheckedIntoTournament"},
      {EnteredChampSelect, "ChampSelect"},
      {ExitedQueue, "Lobby"},
      {ExitedKorvaQueue, "CheckedIntoTournament"},
      {EnteredReadyCheck, kStay}}},
    {"ChampSelect",
     {{ExitedLobby, "None"},
      {PartyDodged, "Lobby"},
      {StrangerDodged, "Matchmaking"},
      {TournamentDodged, "CheckedIntoTournament"},
      {GameStartFailed, "None"},
      {QuitToLobby, "Lobby"},
      {GameStarted, "GameStart"},
      {GameCompleted, "WaitingForStats"}}},
    {"GameStart",
     {{GameLaunched, "InProgress"}, {GameFailedToLaunch, "FailedToLaunch"}, {ExitedLobby, kStay}}},
    {"FailedToLaunch", {{ReconnectAvailable, "ReconnectAvailable"}}},
    {"InProgress",
     {{ReconnectAvailable, "ReconnectAvailable"},
      {GameCompleted, "WaitingForStats"},
      {StatsReceived, "PreEndOfGame"},
      {ExitedLobby, kStay}}},
    {"ReconnectAvailable",
     {{GameStarted, "GameStart"},
      {GameCompleted, "WaitingForStats"},
      {StatsReceived, "PreEndOfGame"}}},
    {"WaitingForStats",
     {{RequestedLobby, "LobbyRequested"},
      {EnteredReadyCheck, "ReadyCheck"},
      {StatsReceived, "PreEndOfGame"},
      {PreEndOfGameCompleted, "EndOfGame"},
      {StatsDismissed, "None"}}},
    {"PreEndOfGame",
     {{PreEndOfGameCompleted, "EndOfGame"},
      {RequestedLobby, "LobbyRequested"},
      {EnteredReadyCheck, "ReadyCheck"},
      {StatsDismissed, "None"}}},
    {"EndOfGame",
     {{RequestedLobby, "LobbyRequested"},
      {EnteredReadyCheck, "ReadyCheck"},
      {StatsDismissed, "None"}}},
    {"TerminatedInError", {{Terminated, "None"}}},
};

// The phase each state publishes on entry; absent for none.
const std::map<std::string, GameflowPhase> kPhases = {
    {"None", GameflowPhase::None},
    {"Lobby", GameflowPhase::Lobby},
    {"Matchmaking", GameflowPhase::Matchmaking},
    {"TournamentCheckinRequested", GameflowPhase::CheckedIntoTournament},
    {"CheckedIntoTournament", GameflowPhase::CheckedIntoTournament},
    {"ReadyCheck", GameflowPhase::ReadyCheck},
    {"ChampSelect", GameflowPhase::ChampSelect},
    {"GameStart", GameflowPhase::GameStart},
    {"FailedToLaunch", GameflowPhase::FailedToLaunch},
    {"InProgress", GameflowPhase::InProgress},
    {"ReconnectAvailable", GameflowPhase::Reconnect},
    {"WaitingForStats", GameflowPhase::WaitingForStats},
    {"PreEndOfGame", GameflowPhase::PreEndOfGame},
    {"EndOfGame", GameflowPhase::EndOfGame},
    {"TerminatedInError", GameflowPhase::TerminatedInError},
};

bool InPostGame(const std::string& state) {
  return state == "WaitingForStats" || state == "PreEndOfGame" || state == "EndOfGame" ||
         state == "TerminatedInError";
}

// The row for `event` in `state` or the root; nothing when unhandled.
std::optional<std::string_view> RowFor(const std::string& state, GameflowEvent event) {
  for (const std::string& holder : {state, std::string("Gameflow")}) {
    const auto& rows = kRows.at(holder);
    if (auto found = rows.find(event); found != rows.end()) {
      return found->second;
    }
  }
  return std::nullopt;
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
      const bool tournament = harness.owner.tournament;
      const GameflowPhase phaseBefore = harness.owner.Phase();
      harness.owner.Clear();

      const Hsm::PostOutcome outcome = harness.events.Post(event);
      const std::optional<std::string_view> row = RowFor(state, event);
      const std::vector<std::string>& actions = harness.owner.actions;
      if (!row.has_value()) {
        EXPECT_EQ(outcome, Hsm::PostOutcome::Ignored);
        EXPECT_EQ(harness.State(), state);
        EXPECT_THAT(actions, testing::IsEmpty());
        continue;
      }
      EXPECT_EQ(outcome, Hsm::PostOutcome::Handled);
      const std::string target = *row == kStay ? state : std::string(*row);
      EXPECT_EQ(harness.State(), target);

      // The row's own action.
      const bool checkout =
          (event == CheckedOutOfTournament || event == FailedTournamentCheckin) &&
          (state == "TournamentCheckinRequested" || state == "CheckedIntoTournament");
      if (event == ExitedTutorial) {
        EXPECT_EQ(IndexOf(actions, "EndTutorial"), 0);
      } else if (event == ExitedSpectating) {
        EXPECT_EQ(IndexOf(actions, "EndSpectating"), 0);
      } else if (checkout) {
        EXPECT_EQ(IndexOf(actions, "LeaveTournament"), 0);
      }

      // Nothing runs here, so a tutorial or spectate end in None is internal
      // like any other row of the root there.
      if (target == state) {
        // Internal: no entry ran, nothing was published, the phase stays.
        EXPECT_THAT(harness.owner.published, testing::IsEmpty());
        EXPECT_EQ(harness.owner.Phase(), phaseBefore);
        continue;
      }
      // Entering None resets the session and either exits game flow or, while
      // a tournament runs, shows CheckedIntoTournament and reroutes.
      if (target == "None") {
        const bool stillInTournament = tournament && !checkout;
        EXPECT_GE(IndexOf(actions, "ResetSession"), 0);
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
      EXPECT_EQ(IndexOf(actions, "DiscardCredentials") >= 0,
                InPostGame(target) && !InPostGame(state));
      EXPECT_EQ(IndexOf(actions, "JoinTournament") >= 0, target == "CheckedIntoTournament");
      const auto phase = kPhases.find(target);
      if (phase == kPhases.end()) {
        EXPECT_THAT(harness.owner.published, testing::IsEmpty());
        EXPECT_EQ(harness.owner.Phase(), phaseBefore);
      } else if (target == "CheckedIntoTournament" &&
                 phaseBefore == GameflowPhase::CheckedIntoTournament) {
        // Already shown: not published again.
        EXPECT_THAT(harness.owner.published, testing::IsEmpty());
      } else {
        EXPECT_THAT(harness.owner.published, testing::ElementsAre(phase->second));
      }
    }
  }
}

TEST(GameflowChart, StartEntersNoneAndStopExitsUpToTheRoot) {
  Harness harness;
  EXPECT_EQ(harness.State(), "None");
  EXPECT_THAT(harness.owner.published, testing::ElementsAre(GameflowPhase::None));
  EXPECT_THAT(harness.owner.actions,
              testing::ElementsAre("ResetSession", "SetPhase", "ExitGameFlow"));
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
  harness.owner.Clear();
  harness.events.Post(ExitedLobby);
  EXPECT_THAT(harness.owner.actions,
              testing::ElementsAre("ResetSession", "SetPhase", "ExitGameFlow", "EndSpectating"));
}

TEST(GameflowChart, OnlyATutorialOrSpectateThatEndsInNoneLeavesGameFlow) {
  for (const GameflowEvent event : {ExitedTutorial, ExitedSpectating}) {
    SCOPED_TRACE(std::string(GameflowEventName(event)));
    const std::string end = event == ExitedTutorial ? "EndTutorial" : "EndSpectating";
    Harness harness;
    harness.owner.Clear();
    harness.events.Post(event);
    EXPECT_THAT(harness.owner.actions, testing::ElementsAre(end));

    (event == ExitedTutorial ? harness.owner.tutorial : harness.owner.spectating) = true;
    harness.owner.Clear();
    harness.events.Post(event);
    EXPECT_THAT(harness.owner.actions,
                testing::ElementsAre(end, "ResetSession", "SetPhase", "ExitGameFlow"));
    EXPECT_THAT(harness.owner.published, testing::ElementsAre(GameflowPhase::None));
  }
}

TEST(GameflowChart, TournamentRerouteWalksBackWithoutRepublishing) {
  Harness harness;
  harness.events.Post(TournamentCheckinRequested);
  harness.events.Post(CheckedInForTournament);
  harness.events.Post(TournamentEnded);  // the flag is still set: bounce
  EXPECT_EQ(harness.State(), "None");
  EXPECT_EQ(harness.owner.Phase(), GameflowPhase::CheckedIntoTournament);
  // What the reroute task posts.
  harness.owner.Clear();
  harness.events.Post(TournamentCheckinRequested);
  harness.events.Post(CheckedInForTournament);
  EXPECT_EQ(harness.State(), "CheckedIntoTournament");
  EXPECT_THAT(harness.owner.published, testing::ElementsAre(GameflowPhase::CheckedIntoTournament));
}

TEST(GameflowChart, CheckedInDiagramMatchesTheTable) {
  const std::string path = std::string(NALO_SOURCE_DIR) + "/docs/gameflow-chart.md";
  std::ifstream file(path, std::ios::binary);
  ASSERT_TRUE(file) << "missing " << path;
  std::stringstream checkedIn;
  checkedIn << file.rdbuf();
  std::stringstream rendered(RenderGameflowChartMermaid());
  std::string expectedLine;
  std::string actualLine;
  for (int line = 1;; ++line) {
    const bool moreChecked = static_cast<bool>(std::getline(checkedIn, actualLine));
    const bool moreRendered = static_cast<bool>(std::getline(rendered, expectedLine));
    if (!moreChecked && !moreRendered) {
      break;
    }
    ASSERT_TRUE(moreChecked && moreRendered && actualLine == expectedLine)
        << "docs/gameflow-chart.md is stale at line " << line << ": it has \"" << actualLine
        << "\", the chart gives \"" << expectedLine
        << "\". Run: cmake --build --preset default --target gameflow-chart-diagram";
  }
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
