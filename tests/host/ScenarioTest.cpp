#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "binding/Json.h"
#include "binding/Yaml.h"
#include "host/Scenario.h"
#include "host/ValueMatch.h"

namespace Nalo::Host {
namespace {

using ::testing::HasSubstr;

struct ParseCase {
  std::string_view text;
  std::string_view message;
};
constexpr ParseCase kParseFailures[] = {
    {"steps: [load, {jump: 1}]", "Step 2 (jump): no such step"},
    {"steps: [{set: {value: 1}}]", "Step 1 (set): the member \"path\" is missing"},
    {"steps: [{advance: soon}]",
     "Step 1 (advance): \"soon\" is not a duration (write seconds, or a number with ms, s or min)"},
    {"steps: [{request: {method: FETCH, path: /a}}]",
     "Step 1 (request): \"FETCH\" is not a method"},
    {"steps: [{fault: {path: /a, count: -1}}]",
     "Step 1 (fault): the member \"count\" must be a whole number"},
    {"steps: [{expect-fatal: {code: ALE-1}}]",
     "Step 1 (expect-fatal): the member \"during\" must be a list of steps"},
    {"steps: [{a: 1, b: 2}]", "Step 1 (?): a step is a mapping with one key"},
    {"host: {core-version: 18}\nsteps: []",
     "The scenario's core-version: it must be written major.minor.patch"},
    {"name: no steps", "The scenario must be a mapping with a list of steps."},
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
  EXPECT_THAT(std::string(broken.GetFailure().Message()),
              HasSubstr("The scenario can't be read: YAML parser error"));
}

TEST(ScenarioParsing, HeaderAndStepsBecomeTypedRecords) {
  auto parsed = ParseScenario(R"(
name: typed
host: {core-version: 18.2.3, command-line: [--no-zump], stream-piece-size: 3}
resources: {/a: 1}
lcds:
  gameService.createTutorialGame: {type: com.example.Game, body: {id: 1}}
steps:
  - request: {method: POST, path: /x, body: {a: [1, 2]}, expect: {status: 200, body-subset: {b: 1}}}
  - expect-sequence: {path: /s, member: a.b, values: [1, 2]}
)");
  ASSERT_FALSE(parsed.HasFailure()) << parsed.GetFailure().Message();
  const Scenario& scenario = parsed.Value();
  EXPECT_EQ(scenario.coreMinor, 2u);
  EXPECT_EQ(scenario.corePatch, 3u);
  EXPECT_EQ(scenario.streamPieceSize, 3u);
  ASSERT_EQ(scenario.steps.size(), 3u);  // the lcds table leads as a step
  EXPECT_EQ(scenario.steps[0].kind, StepKind::LcdsAnswer);
  EXPECT_EQ(scenario.steps[0].answer.typeName, "com.example.Game");
  const ScenarioStep& request = scenario.steps[1];
  EXPECT_EQ(request.title, "request POST /x");
  EXPECT_EQ(request.text, R"({"a":[1,2]})");
  ASSERT_TRUE(request.expect.has_value());
  EXPECT_TRUE(request.expect->subset);
  EXPECT_EQ(scenario.steps[2].member, "a.b");
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

TEST(ScenarioRunning, ExpectationsThatFailOnTheirOwn) {
  struct Case {
    std::string_view step;
    std::string_view report;
  };
  const Case cases[] = {
      {"expect-log: never written",
       "expected a log line containing \"never written\", saw 2 other lines"},
      {"expect-telemetry: {name: a.b}", "expected the telemetry event a.b, saw none"},
      {"expect-lcds-call: {call: gameService.x}", "expected the LCDS call gameService.x, saw none"},
      {"expect-published: {path: /nothing}",
       "expected a publication of /nothing, but nothing was published there"},
      {"expect-fatal: {code: ALE-00000000, during: [{request: {path: /hostfixture/v1/echo}}]}",
       "expected the process to end with the fatal code ALE-00000000; it exited with 0"},
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
    if (c.report.empty()) {
      EXPECT_TRUE(outcome.passed) << outcome.report;
      EXPECT_EQ(outcome.report, "Scenario \"seq\" passed (4 steps).\n");
    } else {
      EXPECT_FALSE(outcome.passed);
      EXPECT_THAT(outcome.report, HasSubstr("failed at step 4 ("));
      EXPECT_THAT(outcome.report, HasSubstr(c.report));
    }
  }
}

}  // namespace
}  // namespace Nalo::Host
