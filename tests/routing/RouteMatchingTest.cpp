// Path templates, matching and the tie-breaks between endpoints, through
// RouteTable::Dispatch: one table of (templates in registration order,
// request, expected winner and its decoded captures).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingTypeRegistry.h"
#include "routing/PathTemplate.h"
#include "routing/PercentDecoding.h"
#include "routing/RouteTable.h"
#include "support/FailureMatchers.h"

namespace Nalo {
namespace {

// Registers `templates` in order. Each handler answers "<index>:" followed by
// its decoded parameters joined with "|".
void RegisterEchoRoutes(RouteTable& table, const std::vector<std::string_view>& templates,
                        RequestMethod method) {
  for (std::size_t i = 0; i < templates.size(); ++i) {
    const std::string prefix = std::to_string(i) + ":";
    const std::vector<std::string> parameters = toRegex(templates[i]).parameters;
    switch (parameters.size()) {
      case 0:
        // NOLINTNEXTLINE(performance-no-automatic-move): each call answers a copy
        table.Add(method, templates[i], [prefix] { return prefix; });
        break;
      case 1:
        table.Add(
            method, templates[i], [prefix](std::string a) { return prefix + a; },
            InPath(parameters[0]));
        break;
      default:
        table.Add(
            method, templates[i],
            // NOLINTNEXTLINE(performance-inefficient-string-concatenation)
            [prefix](std::string a, std::string b) { return prefix + a + "|" + b; },
            InPath(parameters[0]), InPath(parameters[1]));
        break;
    }
  }
}

struct MatchCase {
  std::string_view name;
  std::vector<std::string_view> templates;
  std::string path;
  // "<index>:<captures>"; empty for no match; "!<message>" for a binding
  // failure (400) after the match.
  std::string_view expected;
  RequestMethod method = RequestMethod::Get;
};

const std::string kLongPath = "/files/" + std::string(kMaxPatternPathLength, 'a');
// The longest path a pattern is matched against, and what it captures.
const std::string kLongestPath = "/files/" + std::string(kMaxPatternPathLength - 7, 'a');
const std::string kLongestMatch = "0:" + std::string(kMaxPatternPathLength - 7, 'a');

// clang-format off
const MatchCase kMatchCases[] = {
    {"literal",                  {"/a/b"},                      "/a/b",            "0:"},
    {"literal is case-sensitive", {"/a/b"},                     "/A/b",            ""},
    {"literal ignores the query", {"/a/b"},                     "/a/b?",           "0:"},
    {"trailing slash dropped",   {"/a/b/"},                     "/a/b",            "0:"},
    {"trailing slash needed no more", {"/a/b/"},                "/a/b/",           ""},
    {"segment decoded after matching", {"/a/{id}/b"},           "/a/x%2Fy/b",      "0:x/y"},
    {"segment stops at slash",   {"/a/{id}/b"},                 "/a/x/y/b",        ""},
    {"empty segment has no value", {"/a/{id}/b"},               "/a//b",           "!Expected value for argument 'id'."},
    {"rest takes slashes",       {"/files/{+rest}"},            "/files/a/b",      "0:a/b"},
    {"fragment",                 {"/doc{#part}"},               "/doc#intro",      "0:intro"},
    {"two parameters",           {"/u/{a}/v/{b}"},              "/u/1/v/2",        "0:1|2"},
    {"dot in template is literal", {"/a.b/{id}"},               "/aXb/1",          ""},
    {"dot in template matches dot", {"/a.b/{id}"},              "/a.b/1",          "0:1"},
    {"parentheses are literal",  {"/f(x)/{id}"},                "/f(x)/1",         "0:1"},
    {"query stripped before a pattern", {"/a/{id}"},            "/a/7?",           "0:7"},
    {"over-long path never reaches the regex", {"/files/{+rest}"}, kLongPath,      ""},
    {"longest path still matches", {"/files/{+rest}"},          kLongestPath,      kLongestMatch},
    {"equal capture lengths: earlier wins", {"/x/{id}", "/x/{+rest}"}, "/x/ab",    "0:ab"},
    {"equal capture lengths, other order", {"/x/{+rest}", "/x/{id}"},  "/x/ab",    "0:ab"},
    {"literal beats both",       {"/x/{id}", "/x/{+rest}", "/x/ab"}, "/x/ab",      "2:"},
    {"fewest captured characters win", {"/x/{+rest}", "/x/a/{id}"}, "/x/a/b",      "1:b"},
    {"empty capture ends the search", {"/x{id}", "/x"},        "/x",              "!Expected value for argument 'id'."},
    {"a literal captures nothing", {"/x", "/x{id}"},            "/x",              "0:"},
    {"method must match",        {"/a/b"},                      "/a/b",            "", RequestMethod::Post},
    {"percent: hex either case", {"/p/{v}"},                    "/p/%4a%4A",       "0:JJ"},
    {"percent: plus is a space", {"/p/{v}"},                    "/p/a+b",          "0:a b"},
    {"percent: invalid hex kept", {"/p/{v}"},                   "/p/%zz%4g",       "0:%zz%4g"},
    {"percent: short escape dropped", {"/p/{v}"},               "/p/100%",         "0:100"},
    {"percent: one char after", {"/p/{v}"},                     "/p/%4",           "0:4"},
};
// clang-format on

TEST(RouteTable, MatchingAndTieBreaks) {
  for (const MatchCase& c : kMatchCases) {
    SCOPED_TRACE(c.name);
    BindingTypeRegistry registry;
    RouteTable table(registry);
    RegisterEchoRoutes(table, c.templates, RequestMethod::Get);
    const RouteRequest request{.method = c.method, .path = c.path};
    const auto result = table.Dispatch(request);
    if (c.expected.empty()) {
      EXPECT_THAT(result, IsFailure(404, "Invalid function"));
    } else if (c.expected.starts_with('!')) {
      EXPECT_THAT(result, IsFailure(400, c.expected.substr(1)));
    } else {
      EXPECT_THAT(result, Succeeded());
      if (result.HasValue()) {
        EXPECT_EQ(result.Value().ValueTree().StringValue(), c.expected);
      }
    }
  }
}

TEST(RouteTable, MethodsAndNamedCalls) {
  BindingTypeRegistry registry;
  RouteTable table(registry);
  table.Get("/m", [] { return std::string("get"); });
  table.Post("/m", [] { return std::string("post"); });
  table.Add(RequestMethod::None, "/any", [] { return std::string("any"); });
  table.AddCall("Ping", "/call", [] { return std::string("ping"); });

  struct Case {
    RequestMethod method;
    std::string_view path;
    std::string_view functionName;
    std::string_view expected;
  };
  const Case cases[] = {
      {RequestMethod::Get, "/m", "", "get"},      {RequestMethod::Post, "/m", "", "post"},
      {RequestMethod::Put, "/m", "", ""},         {RequestMethod::Delete, "/any", "", "any"},
      {RequestMethod::None, "/any", "", "any"},   {RequestMethod::Call, "/call", "Ping", "ping"},
      {RequestMethod::Call, "/call", "Pong", ""}, {RequestMethod::Get, "/call", "Ping", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(RequestMethodName(c.method)) + " " + std::string(c.path) + " " +
                 std::string(c.functionName));
    const auto result =
        table.Dispatch({.method = c.method, .path = c.path, .functionName = c.functionName});
    if (c.expected.empty()) {
      EXPECT_THAT(result, IsFailure(404, "Invalid function"));
    } else {
      EXPECT_THAT(result, Succeeded());
      if (result.HasValue()) {
        EXPECT_EQ(result.Value().ValueTree().StringValue(), c.expected);
      }
    }
  }
}

TEST(PathTemplate, ToRegex) {
  struct Case {
    std::string_view text;
    RegexPattern expected;
  };
  const Case cases[] = {
      {"/a/b", {"/a/b", {}}},
      {"/a/{id}/b", {"/a/([^/]*)/b", {"id"}}},
      {"/files/{+rest}", {"/files/(.*)", {"rest"}}},
      {"/doc{#part}", {"/doc#(.*)", {"part"}}},
      {"/^$.*+?()[]|\\", {"/\\^\\$\\.\\*\\+\\?\\(\\)\\[\\]\\|\\\\", {}}},
      {"/a/{open", {"/a/", {}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(toRegex(c.text), c.expected);
  }
}

TEST(PathTemplate, MalformedTemplatesAreRefused) {
  struct Case {
    std::string_view text;
    std::string_view message;
  };
  const Case cases[] = {
      {"/a/{id", "The path template '/a/{id' is malformed: a parameter is not closed."},
      {"/a/{i{d}}", "The path template '/a/{i{d}}' is malformed: a parameter contains '{'."},
      {"/a/id}", "The path template '/a/id}' is malformed: '}' closes no parameter."},
      {"/a/{+}", "The path template '/a/{+}' is malformed: a parameter has no name."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_THAT(PathTemplate::Compile(c.text), IsFailure(500, c.message));
  }
}

TEST(PercentDecoding, Rules) {
  struct Case {
    std::string_view input, decoded;
  };
  const Case cases[] = {
      {"a%20b", "a b"}, {"a+b", "a b"},     {"%zz", "%zz"}, {"%4", "4"},
      {"100%", "100"},  {"%%41", "%%41"},   {"%41%", "A"},  {"%e2%82%ac", "\xe2\x82\xac"},
      {"%2B+", "+ "},   {"plain", "plain"}, {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(percentDecode(c.input), c.decoded);
    std::string storage = "stale";
    EXPECT_EQ(percentDecode(c.input, storage), c.decoded);
  }
}

}  // namespace
}  // namespace Nalo
