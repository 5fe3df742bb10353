// Runs that start processes: nothing a run starts outlives it.

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/scenario/Scenario.h"
#include "host/scenario/ChildRun.h"

namespace Nalo::Host {
namespace {

// Makes this process the reaper of orphans beneath it while it lives, so
// that a process a run leaves behind shows up as a child of the test.
class OrphanCatcher {
 public:
  OrphanCatcher() { prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); }
  ~OrphanCatcher() {
    for (const int pid : detail::ChildrenOf(getpid())) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
  }
  OrphanCatcher(const OrphanCatcher&) = delete;
  OrphanCatcher(OrphanCatcher&&) = delete;
  OrphanCatcher& operator=(OrphanCatcher&&) = delete;
  OrphanCatcher& operator=(const OrphanCatcher&) = delete;
};

TEST(ChildRun, ACrashedBodyLeavesNoProcessBehind) {
  const OrphanCatcher catcher;
  std::string messages;
  const detail::ChildEnding ending = detail::RunInChild(
      {.endDescendants = true},
      [](int out) {
        const pid_t sleeper = fork();
        if (sleeper == 0) {
          setsid();  // as the game client is started: a session of its own
          pause();
          _exit(0);
        }
        detail::WriteAll(out, std::to_string(sleeper));
        // Ends at once, without a word: no handler (not even a sanitizer's)
        // gets the chance to clean up.
        raise(SIGKILL);
      },
      {}, [&](std::string_view chunk) { messages += chunk; });
  ASSERT_TRUE(ending.started);
  EXPECT_TRUE(WIFSIGNALED(ending.status));
  EXPECT_EQ(WTERMSIG(ending.status), SIGKILL);
  const int sleeper = std::atoi(messages.c_str());
  ASSERT_GT(sleeper, 0);
  EXPECT_EQ(kill(sleeper, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_TRUE(detail::ChildrenOf(getpid()).empty());
}

constexpr std::string_view kFailsRightAfterTheSpawn = R"(
name: a run that fails right after the client's spawn
stand-in-client: |
  end = wait
steps:
  - request: {method: POST, path: /tav-gameflow/v1/session/request-lobby}
  - request: {method: POST, path: /tav-gameflow/v1/session/event, body: GAMEFLOW_EVENT.ENTERED_LOBBY}
  - push-lcds: {type: com.nalogames.platform.game.GameDTO, body: {id: 7, gameState: START_REQUESTED}}
  - push-lcds:
      type: com.nalogames.platform.game.PlayerCredentialsDto
      body: {gameId: 7, serverIp: 10.1.2.3, serverPort: 5100, encryptionKey: k3y-of-the-game, summonerId: 2411}
  - expect-log: a line nobody writes
)";

TEST(ScenarioProcesses, ARunThatFailsRightAfterASpawnLeavesNoClientBehind) {
  setenv("NALO_STAND_IN_CLIENT", NALO_STAND_IN_CLIENT_PATH, 1);
  auto scenario = ParseScenario(kFailsRightAfterTheSpawn);
  ASSERT_FALSE(scenario.HasFailure()) << scenario.GetFailure().Message();
  const OrphanCatcher catcher;
  for (int run = 0; run < 50; ++run) {
    const ScenarioOutcome outcome =
        RunScenario(scenario.Value(), NALO_GAMEFLOW_PLUGIN_PATH, std::filesystem::path());
    ASSERT_FALSE(outcome.passed);
    ASSERT_NE(outcome.report.find("a line nobody writes"), std::string::npos) << outcome.report;
    ASSERT_TRUE(detail::ChildrenOf(getpid()).empty()) << "run " << run << " left a process";
  }
}

TEST(ScenarioProcesses, TheClientsRecordIsTheOwnersAloneAndFilesShowEscaped) {
  setenv("NALO_STAND_IN_CLIENT", NALO_STAND_IN_CLIENT_PATH, 1);
  std::string text(kFailsRightAfterTheSpawn);
  text.replace(text.find("  - expect-log: a line nobody writes"), std::string::npos,
               "  - client-command: exit 0\n  - await-client-exit: {code: 0}\n"
               "  - expect-file: {path: tav_game_client_sln/data/cfg/defaults/locale.cfg,"
               " bytes: \"[General]\\nLanguageLocaleRegion=en_GB\"}\n");
  auto scenario = ParseScenario(text);
  ASSERT_FALSE(scenario.HasFailure()) << scenario.GetFailure().Message();
  const std::filesystem::path state =
      std::filesystem::temp_directory_path() / ("nalo-record-" + std::to_string(getpid()));
  std::filesystem::remove_all(state);
  const ScenarioOutcome outcome = RunScenario(scenario.Value(), NALO_GAMEFLOW_PLUGIN_PATH, state);
  // A line-ending difference shows: the bytes are escaped.
  EXPECT_FALSE(outcome.passed);
  EXPECT_NE(outcome.report.find(
                R"(holds "[General]\r\nLanguageLocaleRegion=en_GB" (37 bytes), expected )"
                R"("[General]\nLanguageLocaleRegion=en_GB" (36 bytes); they differ from byte 9)"),
            std::string::npos)
      << outcome.report;
  using std::filesystem::perms;
  const std::filesystem::path folder = state / "tav_game_client_sln";
  EXPECT_EQ(std::filesystem::status(folder).permissions() & perms::all, perms::owner_all);
  EXPECT_EQ(std::filesystem::status(folder / "stand-in-client.record").permissions() & perms::all,
            perms::owner_read | perms::owner_write);
  EXPECT_EQ(std::filesystem::status(state / "data-store.json").permissions() & perms::all,
            perms::owner_read | perms::owner_write);
  std::filesystem::remove_all(state);
}

constexpr std::string_view kWindowCheck = R"(
name: the window check runs until the window is in front; a killed client is noticed
stand-in-client: |
  window-delay-ms = 30
  end = wait
steps:
  - mark
  - request: {method: POST, path: /tav-gameflow/v1/session/request-lobby}
  - request: {method: POST, path: /tav-gameflow/v1/session/event, body: GAMEFLOW_EVENT.ENTERED_LOBBY}
  - push-lcds: {type: com.nalogames.platform.game.GameDTO, body: {id: 7, gameState: START_REQUESTED}}
  - push-lcds:
      type: com.nalogames.platform.game.PlayerCredentialsDto
      body: {gameId: 7, serverIp: 10.1.2.3, serverPort: 5100, encryptionKey: k3y-of-the-game, summonerId: 2411}
  - expect-client-spawned: {count: 1}
  - expect-timers: {running: [tav-gameflow.check-window-visibility, tav-gameflow.tick]}
  - await-client: foreground
  - advance: 600ms
  - expect-published: {path: /tav-gameflow/v1/session, subset: {gameClient: {running: true, visible: true}}}
  - expect-timers: {running: [tav-gameflow.tick], stopped: [tav-gameflow.check-window-visibility]}
  - signal-client: KILL
  - await-client-exit: {crash: kill}
  - advance: 100ms
  - expect-log: Client is no longer running.
  - mark
  - expect-client-spawned: {count: 0}
)";

TEST(ScenarioProcesses, ClientStepsWaitForWhatTheClientRecords) {
  setenv("NALO_STAND_IN_CLIENT", NALO_STAND_IN_CLIENT_PATH, 1);
  auto scenario = ParseScenario(kWindowCheck);
  ASSERT_FALSE(scenario.HasFailure()) << scenario.GetFailure().Message();
  const ScenarioOutcome outcome =
      RunScenario(scenario.Value(), NALO_GAMEFLOW_PLUGIN_PATH, std::filesystem::path());
  EXPECT_TRUE(outcome.passed) << outcome.report;

  // What each of them reports when it doesn't hold.
  struct Case {
    std::string_view step;
    std::string_view report;
  };
  const Case cases[] = {
      {"expect-client-spawned: {count: 2}",
       "expected 2 clients started since the mark, saw 1 (pids "},
      {"expect-timers: {stopped: [tav-gameflow.tick]}",
       "expected the timer \"tav-gameflow.tick\" to be stopped; the core holds runs of "},
      {"expect-timers: {running: [tav-gameflow.nothing]}",
       "expected the timer \"tav-gameflow.nothing\" to run; the core holds runs of "},
      {"signal-client: TERM\n  - await-client: foreground",
       "recorded no \"foreground\" before it ended; it recorded no events"},
      {"push-lcds: {type: com.example.Unknown, body: {}}",
       "no loaded plugin knows the class \"com.example.Unknown\": none subscribes to "
       "OnLcdsEvent_com_example_Unknown"},
  };
  std::string launch(kWindowCheck);
  launch.resize(launch.find("  - expect-client-spawned"));
  launch.replace(launch.find("window-delay-ms = 30"), 20, "window = no");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    auto failing = ParseScenario(launch + "  - " + std::string(c.step) + "\n");
    ASSERT_FALSE(failing.HasFailure()) << failing.GetFailure().Message();
    const ScenarioOutcome failed =
        RunScenario(failing.Value(), NALO_GAMEFLOW_PLUGIN_PATH, std::filesystem::path());
    EXPECT_FALSE(failed.passed);
    EXPECT_NE(failed.report.find(c.report), std::string::npos) << failed.report;
  }
}

// An LCDS answer naming a class that the plugin doesn't take for the call
// (a typo here) fails the step in which the plugin refused it, whether or
// not the scenario checks the request's answer.
TEST(ScenarioProcesses, AnLcdsAnswerOfAClassThePluginDoesNotTakeFailsItsStep) {
  auto scenario = ParseScenario(R"(
name: a tutorial game answered with a misspelt class
lcds:
  gameService.createTutorialGame:
    type: com.nalogames.platform.game.GameDTo
    body: {id: 12, gameState: START_REQUESTED, mapId: 11, gameMode: TUTORIAL, gameType: TUTORIAL_GAME}
steps:
  - request: {method: POST, path: /tav-gameflow/v1/basic-tutorial/start}
  - advance: 1s
)");
  ASSERT_FALSE(scenario.HasFailure()) << scenario.GetFailure().Message();
  const ScenarioOutcome outcome =
      RunScenario(scenario.Value(), NALO_GAMEFLOW_PLUGIN_PATH, std::filesystem::path());
  EXPECT_FALSE(outcome.passed);
  EXPECT_NE(outcome.report.find(
                "failed at step 1 (request POST /tav-gameflow/v1/basic-tutorial/start):\n"
                "  the LCDS answer for gameService.createTutorialGame names the class "
                "\"com.nalogames.platform.game.GameDTo\", which the plugin doesn't take for that "
                "call (it expects \"com.nalogames.platform.game.GameDTO\")"),
            std::string::npos)
      << outcome.report;
}

}  // namespace
}  // namespace Nalo::Host
