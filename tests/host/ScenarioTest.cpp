#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "binding/Json.h"
#include "binding/Yaml.h"
#include "host/scenario/Scenario.h"
#include "host/scenario/ValueMatch.h"

namespace Nalo::Host {
namespace {

using ::testing::HasSubstr;

struct ParseCase {
  std::string_view text;
  std::string_view message;
};
constexpr ParseCase kParseFailures[] = {
    {"name: t\nsteps: [load, {jump: 1}]", "Step 2 (jump): no such step"},
    {"name: t\nsteps: [{set: {value: 1}}]", "Step 1 (set): the member \"path\" is missing"},
    {"name: t\nsteps: [{advance: soon}]",
     "Step 1 (advance): \"soon\" is not a duration (write seconds, or a number with ms, s or min)"},
    {"name: t\nsteps: [{request: {method: FETCH, path: /a}}]",
     "Step 1 (request): \"FETCH\" is not a method"},
    {"name: t\nsteps: [{fault: {path: /a, count: -1}}]",
     "Step 1 (fault): the member \"count\" must be a whole number"},
    {"name: t\nsteps: [{expect-fatal: {code: ALE-1}}]",
     "Step 1 (expect-fatal): the member \"during\" must be a list of steps"},
    {"name: t\nsteps: [{a: 1, b: 2}]", "Step 1 (?): a step is a mapping with one key"},
    {"name: t\nhost: {core-version: 18}\nsteps: [load]",
     "The scenario's host: core-version: it must be written major.minor.patch"},
    {"name: no steps", "The scenario must be a mapping with a list of steps."},
    // Syntax errors count lines from 1 and show the line to look at: for an
    // unclosed bracket or quote, found only at the end, the line it began on.
    {"name: t\nsteps:\n  - load\n  - request: {path: /a\n  - mark\n",
     "The scenario can't be read: YAML syntax error at line 6, column 1: did not find expected "
     "',' or '}' (while parsing a flow mapping that began at line 4, column 14). Line 4: "
     "\"  - request: {path: /a\""},
    {"name: t\nsteps:\n  - a: b: c\n",
     "The scenario can't be read: YAML syntax error at line 3, column 9: mapping values are not "
     "allowed in this context. "
     "Line 3: \"  - a: b: c\""},
    {"name: t\nsteps: [load]\n  bad: x\n",
     "The scenario can't be read: YAML syntax error at line 3, column 3: did not find expected "
     "key (while parsing a block mapping that began at line 1, column 1). Line 3: \"  bad: x\""},
    // Members nobody reads are typos: they are refused, never ignored.
    {"name: t\nsteps: [{request: {path: /a, expct: {status: 500}}}]",
     "Step 1 (request): unknown member \"expct\""},
    {"name: t\nsteps: [{request: {path: /a, expect: {stauts: 500}}}]",
     "Step 1 (request): unknown member \"expect.stauts\""},
    {"name: t\nsteps: [load, {expect-published: {path: /p, valu: 2}}]",
     "Step 2 (expect-published): unknown member \"valu\""},
    {"name: t\nsteps: [{expect-published: {path: /p, value: 1, subset: 2}}]",
     "Step 1 (expect-published): give \"value\" or \"subset\", not both"},
    {"name: t\nsteps: [{expect-log: {contain: x}}]",
     "Step 1 (expect-log): the member \"contains\" is missing"},
    {"name: t\nsteps: [{expect-fatal: {code: A, during: [{set: {path: /a, value: 1, x: 2}}]}}]",
     "Step 1 (set): unknown member \"x\""},
    {"name: t\nsteps: [{load: now}]", "Step 1 (load): the step takes no members"},
    {"name: t\nlcds: {a.b: {typ: x}}\nsteps: [load]",
     "Step 0 (lcds-answer): unknown member \"typ\""},
    {"name: t\nhost: {comand-line: []}\nsteps: [load]",
     "The scenario's host: unknown member \"comand-line\""},
    {"name: t\nstep: [load]\nsteps: [load]", "The scenario's header: unknown member \"step\""},
    {"steps: [load]",
     "The scenario's name: every scenario needs one: a sentence naming the behaviour"},
    {"name: t\nsteps: []", "The scenario's steps: a scenario needs at least one step"},
    {"name: t\nsteps: [{lcds-answer: {call: a.b, status: 500, delay: 1s}}]",
     "Step 1 (lcds-answer): only an answer that succeeds can be delayed"},
    {"name: t\nsteps: [{lcds-answer: {call: a.b, answers: [{type: x, bdy: 1}]}}]",
     "Step 1 (lcds-answer): unknown member \"answers[1].bdy\""},
    {"name: t\nsteps: [{lcds-answer: {call: a.b, type: x, answers: [{type: y}]}}]",
     "Step 1 (lcds-answer): unknown member \"type\""},
    {"name: t\nsteps: [{answer: {path: /a, body: 1, error: x}}]",
     "Step 1 (answer): an answer has a body or an error, not both"},
    {"name: t\nsteps: [{expect-log: {contains: x, level: DEBUG}}]",
     "Step 1 (expect-log): the level must be OKAY, WARN, ERROR or ALWAYS"},
    {"name: t\nsteps: [{expect-no-log: {contains: x, group: GENERAL}}]",
     "Step 1 (expect-no-log): the group must be one of DBG, GEN, XTR, PRF, MEM, DSK, NET, TST"},
    {"name: t\nsteps: [{expect-exit: {code: 300, during: [load]}}]",
     "Step 1 (expect-exit): the member \"code\" must be an exit code from 0 to 255"},
    {"name: t\nsteps: [{expect-no-request: {path: /a, count: 1}}]",
     "Step 1 (expect-no-request): unknown member \"count\""},
    {"name: t\nsteps: [{mark: {at: 1}}]", "Step 1 (mark): the step takes no members"},
    {"name: t\nsteps: [{wall-clock: soon}]",
     "Step 1 (wall-clock): write the wall time as milliseconds since 1970"},
    {"name: t\nhost: {peers: fancy}\nsteps: [load]",
     "The scenario's host: peers: it must be realistic or plain"},
};

TEST(ScenarioParsing, RefusalsNameTheStepAndTheProblem) {
  for (const ParseCase& c : kParseFailures) {
    SCOPED_TRACE(c.text);
    auto parsed = ParseScenario(c.text);
    ASSERT_TRUE(parsed.HasFailure());
    EXPECT_EQ(parsed.GetFailure().Code(), 400u);
    EXPECT_EQ(parsed.GetFailure().Message(), c.message);
  }
  auto broken = ParseScenario("steps: [");
  ASSERT_TRUE(broken.HasFailure());
  EXPECT_THAT(std::string(broken.GetFailure().Message()), HasSubstr("Line 1: \"steps: [\""));
}

TEST(ScenarioParsing, Durations) {
  const std::pair<std::string_view, std::int64_t> cases[] = {{"2", 2'000'000'000},
                                                             {"1.5", 1'500'000'000},
                                                             {"500ms", 500'000'000},
                                                             {"0.5s", 500'000'000},
                                                             {"2min", 120'000'000'000},
                                                             {"-1", -1},
                                                             {"fast", -1},
                                                             {"1h", -1}};
  for (const auto& [text, nanoseconds] : cases) {
    SCOPED_TRACE(text);
    BindingResult value = ParseYaml(text);
    std::optional<std::chrono::nanoseconds> parsed = ParseDuration(value.Value());
    EXPECT_EQ(parsed ? parsed->count() : -1, nanoseconds);
  }
}

struct MatchCase {
  std::string_view expected;
  std::string_view seen;
  MatchMode mode;
  std::optional<std::string_view> difference;
};
const MatchCase kMatchCases[] = {
    {R"({"a":1})", R"({"a":1.0})", MatchMode::Exact, std::nullopt},
    {R"({"a":1})", R"({"a":1,"b":2})", MatchMode::Subset, std::nullopt},
    {R"({"a":1})", R"({"a":1,"b":2})", MatchMode::Exact, "at .b: expected no such member, saw 2"},
    {R"({"a":{"b":[1,{"c":"x"}]}})", R"({"a":{"b":[1,{"c":"y","d":0}]}})", MatchMode::Subset,
     R"(at .a.b[1].c: expected "x", saw "y")"},
    {R"([1,2])", R"([1])", MatchMode::Subset, "at the top: expected [1,2], saw [1]"},
    {R"({"a":null})", R"({})", MatchMode::Subset, "at .a: expected null, saw no such member"},
    {R"(-1)", R"(18446744073709551615)", MatchMode::Exact,
     "at the top: expected -1, saw 18446744073709551615"},
};

TEST(ValueMatch, ReportsWhereValuesDiffer) {
  for (const MatchCase& c : kMatchCases) {
    SCOPED_TRACE(std::string(c.expected) + " vs " + std::string(c.seen));
    const BindingResult expected = ParseJson(c.expected);
    const BindingResult seen = ParseJson(c.seen);
    const std::optional<std::string> difference = Mismatch(expected.Value(), seen.Value(), c.mode);
    EXPECT_EQ(difference, c.difference ? std::optional<std::string>(*c.difference) : std::nullopt);
  }
}

ScenarioOutcome RunText(std::string_view text) {
  auto parsed = ParseScenario(text);
  EXPECT_FALSE(parsed.HasFailure());
  return RunScenario(parsed.Value(), FIXTURE_PLUGIN, {});
}

// An empty `report` means the scenario passed; any other, that it failed
// with a report holding that text.
void ExpectReport(const ScenarioOutcome& outcome, std::string_view report) {
  if (report.empty()) {
    EXPECT_TRUE(outcome.passed) << outcome.report;
  } else {
    EXPECT_FALSE(outcome.passed);
    EXPECT_THAT(outcome.report, HasSubstr(report));
  }
}

TEST(ScenarioRunning, TheReportNamesTheFirstFailingStepWithWhatWasExpectedAndSeen) {
  const ScenarioOutcome outcome = RunText(R"(
name: report
steps:
  - request: {method: POST, path: /hostfixture/v1/publish, body-text: one}
  - expect-published: {path: /hostfixture/v1/value, value: two}
  - expect-log: never written
)");
  EXPECT_FALSE(outcome.passed);
  EXPECT_EQ(
      outcome.report,
      "Scenario \"report\" failed at step 2 (expect-published /hostfixture/v1/value):\n"
      "  the latest value differs at the top: expected \"two\", saw \"one\"; it was \"one\"\n");
}

TEST(ScenarioRunning, ARestartKeepsTheHeadersLcdsAnswers) {
  const ScenarioOutcome outcome = RunText(R"(
name: restart
lcds:
  gameService.x: {answers: [{type: com.example.Y, body: 1}, {status: 404, error: gone}]}
steps:
  - request: {method: POST, path: /tav-login/v1/session/invoke, body: [gameService, x, []]}
  - restart
  - request:
      method: POST
      path: /tav-login/v1/session/invoke
      body: [gameService, x, []]
      expect: {status: 200, body: {typeName: com.example.Y, body: 1}}
)");
  EXPECT_TRUE(outcome.passed) << outcome.report;
}

// The fixture logs "fixture: initialized" as it loads.
TEST(ScenarioRunning, ALogLineCarryingASecretFailsTheRun) {
  const ScenarioOutcome outcome = RunText(R"(
name: secrets
secrets: [initialized, tial]
steps:
  - advance: 1s
)");
  EXPECT_FALSE(outcome.passed);
  EXPECT_EQ(
      outcome.report,
      "Scenario \"secrets\" failed at step 1 (advance 1s):\n  a log line carries a secret (the "
      "header's secrets): \"fixture: <secret>\"\n");
  // Keys in what the scenario hands out are secrets without being named:
  // here the fixture logs the event's URI, which carries one.
  const ScenarioOutcome found = RunText(R"(
name: keys
steps:
  - set: {path: /peer/v1/thing/k3y-of-the-game, value: 1}
  - push-lcds: {type: com.example.Game, body: {credentials: [{observerEncryptionKey: k3y-of-the-game}]}}
)");
  EXPECT_FALSE(found.passed);
  EXPECT_THAT(found.report,
              HasSubstr("failed at step 1 (set /peer/v1/thing/k3y-of-the-game):\n  a log line "
                        "carries a secret (observerEncryptionKey in step 2): \"fixture: event "
                        "OnJsonApiEvent_peer_v1_thing /peer/v1/thing/<secret> Create\""));
  const ScenarioOutcome fromRequest = RunText(R"(
name: keys
steps:
  - set: {path: /peer/v1/thing/another-key, value: 1}
  - request: {method: POST, path: /peer/v1/x, body: {EncryptionKey: another-key}}
)");
  EXPECT_THAT(fromRequest.report,
              HasSubstr("a log line carries a secret (EncryptionKey in step 2)"));
}

TEST(ScenarioRunning, ExpectationsThatFailOnTheirOwn) {
  struct Case {
    std::string_view step;
    std::string_view report;
  };
  const Case cases[] = {
      {"expect-log: never written",
       "expected a log line containing \"never written\", saw 2 other lines; the last: "},
      // The lines nearest the wanted text come first, with level and groups.
      {"expect-log: {contains: \"fixture: initialised\", level: WARN}",
       "saw 2 other lines; the nearest:\n    \"fixture: initialized\" (OKAY)"},
      {"expect-telemetry: {name: a.b}", "expected the telemetry event a.b, saw none"},
      {"expect-lcds-call: {call: gameService.x}", "expected the LCDS call gameService.x, saw none"},
      {"expect-published: {path: /nothing}",
       "expected a publication of /nothing, but nothing was published there"},
      {"expect-fatal: {code: ALE-00000000, during: [{request: {path: /hostfixture/v1/echo}}]}",
       "expected the process to end with the fatal code ALE-00000000; it exited with code 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    const ScenarioOutcome outcome = RunText("name: one\nsteps:\n  - " + std::string(c.step) + "\n");
    EXPECT_FALSE(outcome.passed);
    EXPECT_THAT(outcome.report, HasSubstr(c.report));
  }
}

// Expectations over what the peers published and hold. Each row runs the
// same three publications of /peer/v1/s ({a: {b: 1}}, a Delete, {a: {b: 2}})
// and one expectation; an empty report means the step must hold.
TEST(ScenarioRunning, ExpectationsOverPublicationsAndStoredValues) {
  struct Case {
    std::string_view step;
    std::string_view report;
  };
  const Case cases[] = {
      {"expect-sequence: {path: /peer/v1/s, member: a.b, values: [1, 2]}", ""},
      {"expect-sequence: {path: /peer/v1/s, values: [{a: {b: 1}}, {a: {}}]}", ""},
      {"expect-sequence: {path: /peer/v1/s, member: a.b, values: [1, 3]}",
       "expected the values [1,3], saw [1,2] (at [1]: expected 3, saw 2)"},
      {"expect-sequence: {path: /peer/v1/s, member: a.b, values: [2]}",
       "expected the values [2], saw [1,2]"},
      {"expect-sequence: {path: /peer/v1/s, member: a.c, values: [1, 2]}",
       "expected the values [1,2], saw [null,null]"},
      {"expect-sequence: {path: /peer/v1/other, values: []}", ""},
      {"expect-not-published: {path: /peer/v1/other}", ""},
      {"expect-not-published: {path: /peer/v1/s}", "expected no publication of /peer/v1/s, saw 3"},
      {"expect-published: {path: /peer/v1/s, subset: {a: {b: 2}}}", ""},
      {"expect-published: {path: /peer/v1/s, deleted: true}",
       "expected a deletion, but the latest event was Create of {\"a\":{\"b\":2}}"},
      {"expect-published: {path: /peer/v1/s, deleted: false, value: {a: {b: 2}}}", ""},
      {"expect-resource: {path: /peer/v1/s, value: {a: {b: 2}}}", ""},
      {"expect-resource: {path: /peer/v1/s, value: {a: {}}}",
       "the stored value differs at .a.b: expected no such member, saw 2"},
      {"expect-resource: {path: /peer/v1/s, deleted: true}", "expected no value at /peer/v1/s"},
      {"expect-resource: {path: /peer/v1/s, deleted: false}", ""},
      {"expect-resource: {path: /peer/v1/other, deleted: true}", ""},
      {"expect-resource: {path: /peer/v1/other, deleted: false}",
       "expected a value at /peer/v1/other, but there is none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    const ScenarioOutcome outcome = RunText(
        "name: seq\nsteps:\n"
        "  - set: {path: /peer/v1/s, value: {a: {b: 1}}}\n"
        "  - delete: {path: /peer/v1/s}\n"
        "  - set: {path: /peer/v1/s, value: {a: {b: 2}}}\n"
        "  - " +
        std::string(c.step) + "\n");
    ExpectReport(outcome, c.report);
    if (c.report.empty()) {
      EXPECT_EQ(outcome.report, "Scenario \"seq\" passed (4 steps).\n");
    } else {
      EXPECT_THAT(outcome.report, HasSubstr("failed at step 4 ("));
    }
  }
}

// The expectations over what the plugin sent, the mark, any success and
// the process's exit. The fixture GETs /peer/v1/x once (404) and logs a
// task's line before the mark; an empty report means the step holds.
TEST(ScenarioRunning, RequestsMarksSuccessAndExits) {
  struct Case {
    std::string_view steps;
    std::string_view report;
  };
  const Case cases[] = {
      {"expect-request: {method: GET, path: /peer/v1/x, count: 1}", ""},
      {"expect-request: {path: /peer/v1/x, count: 2}",
       "expected 2 times a request to /peer/v1/x, saw 1 (GET null)"},
      {"expect-request: {method: POST, path: /peer/v1/x}",
       "expected a POST request to /peer/v1/x, saw none to that path"},
      {"expect-no-request: {path: /peer/v1/x}",
       "expected no request to /peer/v1/x, saw 1: GET null"},
      {"expect-no-request: {path: /hostfixture/v1/later}", ""},
      {"mark\n  - expect-no-request: {path: /peer/v1/x}\n  - expect-no-log: task 1 ran", ""},
      {"mark\n  - expect-log: task 1 ran",
       "expected a log line containing \"task 1 ran\", saw no log lines"},
      {"request: {path: /hostfixture/v1/nothing}\n  - expect-response: {status: success}",
       "expected a success status (2xx), but the response was 404"},
      {"request: {path: /hostfixture/v1/echo, expect: {status: success}}", ""},
      {"expect-exit: {code: 3, during: [{request: {path: /hostfixture/v1/fetch?/peer/v1/y}}, "
       "{request: {path: /hostfixture/v1/exit?3}}, {request: {path: /hostfixture/v1/echo}}]}\n"
       "  - expect-request: {method: GET, path: /peer/v1/y, count: 1}",
       ""},
      {"expect-exit: {code: 4, during: [{request: {path: /hostfixture/v1/exit?3}}]}",
       "expected the process to exit with code 4; it exited with code 3"},
      {"expect-exit: {code: 0, during: [{request: {path: /hostfixture/v1/echo}}]}",
       "expected the process to exit with code 0; it ran every step and went on"},
      {"expect-exit: {code: 1, during: [{expect-log: never}]}",
       "a step inside expect-exit failed: expected a log line containing \"never\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.steps);
    const ScenarioOutcome outcome = RunText(
        "name: sent\nsteps:\n"
        "  - request: {path: /hostfixture/v1/fetch?/peer/v1/x}\n"
        "  - request: {path: /hostfixture/v1/later?0}\n"
        "  - " +
        std::string(c.steps) + "\n");
    ExpectReport(outcome, c.report);
  }
}

// Peer set-up steps come before the load; a step that loads the plugin
// first thing (here inside expect-exit) keeps the runner from loading it.
TEST(ScenarioRunning, SetUpStepsComeBeforeTheLoad) {
  const ScenarioOutcome outcome = RunText(R"(
name: set-up first
steps:
  - fault: {path: /peer/v1/q, status: 503}
  - answer: {method: GET, path: /peer/v1/r, body: canned}
  - expect-exit:
      code: 3
      during:
        - load
        - request: {path: /hostfixture/v1/fetch?/peer/v1/q}
        - request: {path: /hostfixture/v1/fetch?/peer/v1/r, expect: {body: "1:\"canned\""}}
        - request: {path: /hostfixture/v1/exit?3}
  - expect-request: {path: /peer/v1/q, count: 1}
  - expect-request: {path: /peer/v1/r, count: 1}
  - expect-log: {contains: Loaded the plugin hostfixture, level: OKAY}
)");
  EXPECT_TRUE(outcome.passed) << outcome.report;
}

// A plugin that crashes or ends the process is reported at its step, with
// how the process ended and the last log lines; the runner lives on.
TEST(ScenarioRunning, APluginThatEndsTheProcessFailsItsStep) {
  struct Case {
    std::string_view step;
    std::string_view report;
  };
  const Case cases[] = {
      {"request: {path: /hostfixture/v1/crash}",
       "Scenario \"ending\" failed at step 2 (request GET /hostfixture/v1/crash):\n"
       "  the process was ended by signal 6 (Aborted) while it ran.\n"
       "  The last log lines:\n"},
      {"request: {path: /hostfixture/v1/exit?3}",
       "Scenario \"ending\" failed at step 2 (request GET /hostfixture/v1/exit?3):\n"
       "  the process exited with code 3 while it ran.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    const ScenarioOutcome outcome =
        RunText("name: ending\nsteps:\n  - request: {path: /hostfixture/v1/echo}\n  - " +
                std::string(c.step) + "\n  - expect-log: never reached\n");
    EXPECT_FALSE(outcome.passed);
    EXPECT_THAT(outcome.report, ::testing::StartsWith(std::string(c.report)));
  }
  EXPECT_THAT(RunText("name: ending\nsteps:\n  - request: {path: /hostfixture/v1/crash}\n").report,
              HasSubstr("    fixture: fatal ALE-12345678\n"));
}

// The program: exit codes, and the temporary state folder is removed
// whatever became of the plugin.
TEST(HostProgram, ExitCodesAndTheTemporaryStateFolder) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("host-program-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder / "tmp");
  struct Case {
    std::string_view plugin;
    std::string_view scenario;
    int exitCode;
  };
  const Case cases[] = {
      {FIXTURE_PLUGIN, "name: fine\nsteps: [{request: {path: /hostfixture/v1/echo}}]", 0},
      {FIXTURE_PLUGIN, "name: crash\nsteps: [{request: {path: /hostfixture/v1/crash}}]", 1},
      {FIXTURE_PLUGIN, "name: typo\nsteps: [{request: {path: /a, expct: {}}}]", 1},
      {"/nonexistent/libplugin.so", "name: fine\nsteps: [load]", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    const std::filesystem::path file = folder / "scenario.yaml";
    std::ofstream(file) << c.scenario;
    const std::string command = "TMPDIR=" + (folder / "tmp").string() +
                                " " HOST_PROGRAM " --plugin " + std::string(c.plugin) +
                                " --scenario " + file.string() + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.exitCode);
    EXPECT_TRUE(std::filesystem::is_empty(folder / "tmp"));
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace Nalo::Host
