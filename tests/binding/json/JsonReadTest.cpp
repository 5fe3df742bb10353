#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "binding/BindingLimits.h"
#include "binding/BindingProperty.h"
#include "binding/BindingResult.h"
#include "binding/Json.h"
#include "support/BindingMatchers.h"

namespace Nalo {
namespace {

using namespace std::string_literals;

struct TextCase {
  std::string_view name;
  std::string text;
  std::string_view expected;  // the error message, or the value written compactly
};

// Every text parses the same through the counted and the zero-terminated
// overload. A failure is {"error": message} with no trace of the partial tree.
void ExpectFailure(const TextCase& c) {
  SCOPED_TRACE(c.name);
  for (const BindingResult& result :
       {ParseJson(std::string_view(c.text)), ParseJson(c.text.c_str())}) {
    EXPECT_THAT(result, IsBindingError(c.expected));
    EXPECT_EQ(result.Value().size(), 1u);
  }
}

void ExpectBuilt(const TextCase& c) {
  SCOPED_TRACE(c.name);
  for (const BindingResult& result :
       {ParseJson(std::string_view(c.text)), ParseJson(c.text.c_str())}) {
    ASSERT_THAT(result, BindingSucceeded());
    EXPECT_EQ(ToJson(result.Value()), c.expected);
  }
}

TEST(JsonRead, ErrorsNameTheReasonAndTheOffset) {
  const TextCase cases[] = {
      {"second root", "1 2",
       "Error: The document root must not be followed by other values. at offset 2."},
      {"offsets count leading whitespace", "  [1,]", "Error: Invalid value. at offset 5."},
      {"bad literal", "[nul]", "Error: Invalid value. at offset 4."},
      {"NaN literal", "NaN", "Error: Invalid value. at offset 0."},
      {"only JSON whitespace is skipped", "\v1", "Error: Invalid value. at offset 0."},
      {"trailing comma in object", "{\"a\":1,}",
       "Error: Missing a name for object member. at offset 7."},
      {"no colon", "{\"a\" 1}",
       "Error: Missing a colon after a name of object member. at offset 5."},
      {"no comma in object", "{\"a\":1 \"b\":2}",
       "Error: Missing a comma or '}' after an object member. at offset 7."},
      {"no comma in array", "[1 2]",
       "Error: Missing a comma or ']' after an array element. at offset 3."},
      {"bad hex escape", "\"\\u12G4\"",
       "Error: Incorrect hex digit after \\u escape in string. at offset 1."},
      {"lone high surrogate", "\"\\uD800\\u0041\"",
       "Error: The surrogate pair in string is invalid. at offset 1."},
      {"bad escape", "\"\\x\"", "Error: Invalid escape character in string. at offset 1."},
      {"raw control byte", "\"a\x01\"", "Error: Invalid escape character in string. at offset 2."},
      {"unclosed string", "\"abc",
       "Error: Missing a closing quotation mark in string. at offset 4."},
      {"number too big", "1e400", "Error: Number too big to be stored in double. at offset 0."},
      {"number the reader rounds to infinity", "[0, -7387904e308]",
       "Error: Number too big to be stored in double. at offset 4."},
      {"no fraction", "1.", "Error: Miss fraction part in number. at offset 2."},
      {"no exponent", "1e", "Error: Miss exponent in number. at offset 2."},
      {"text ends at the first NUL", "[1,2\0]"s,
       "Error: Missing a comma or ']' after an array element. at offset 4."},
  };
  for (const TextCase& c : cases) {
    ExpectFailure(c);
  }
}

TEST(JsonRead, NestingIsBoundedWithAMessageNamingTheLimit) {
  ExpectBuilt({"at the limit",
               std::string(kMaxNestingDepth, '[') + std::string(kMaxNestingDepth, ']'),
               std::string(kMaxNestingDepth, '[') + std::string(kMaxNestingDepth, ']')});

  std::string objects;
  for (std::size_t level = 0; level <= kMaxNestingDepth; ++level) {
    objects += "{\"a\":";
  }
  const TextCase cases[] = {
      {"one array too many", std::string(kMaxNestingDepth + 1, '['),
       "Error: Nesting deeper than 512 levels is not supported at offset 513."},
      // Stopped at the refusing level: neither the reader nor the tree recurses further.
      {"a million arrays", std::string(1'000'000, '['),
       "Error: Nesting deeper than 512 levels is not supported at offset 513."},
      {"objects", objects,
       "Error: Nesting deeper than 512 levels is not supported at offset 2561."},
      {"after a closed sibling", "[[]," + std::string(kMaxNestingDepth, '['),
       "Error: Nesting deeper than 512 levels is not supported at offset 516."},
  };
  for (const TextCase& c : cases) {
    ExpectFailure(c);
  }
}

TEST(JsonRead, TextEndsAtItsFirstNulOrLength) {
  for (const std::string& text : {""s, "   "s, " \t\r\n"s, "\0[1]"s, "  \0 x"s}) {
    SCOPED_TRACE(testing::PrintToString(text));
    const BindingResult result = ParseJson(std::string_view(text));
    EXPECT_THAT(result, BindingSucceeded());
    EXPECT_TRUE(result.Value().IsEmpty());
  }
  EXPECT_TRUE(ParseJson(nullptr).Value().IsEmpty());
  EXPECT_TRUE(ParseJson(nullptr, 0).Value().IsEmpty());

  const char unterminated[] = {'[', '1', ',', '2', ']', 'x'};
  EXPECT_EQ(ToJson(ParseJson(unterminated, 5).Value()), "[1,2]");
  EXPECT_THAT(ParseJson(unterminated, 6),
              IsBindingError(
                  "Error: The document root must not be followed by other values. at offset 5."));
}

TEST(JsonRead, NumberKinds) {
  struct Case {
    std::string_view text;
    BindingKind kind;
    std::string_view written;
  };
  const Case cases[] = {
      {"0", BindingKind::Unsigned, "0"},
      {"-0", BindingKind::Signed, "0"},
      {"-1", BindingKind::Signed, "-1"},
      {"4294967296", BindingKind::Unsigned, "4294967296"},
      {"18446744073709551615", BindingKind::Unsigned, "18446744073709551615"},
      {"18446744073709551616", BindingKind::Float, "18446744073709553000.0"},
      {"-9223372036854775808", BindingKind::Signed, "-9223372036854775808"},
      {"-9223372036854775809", BindingKind::Float, "-9223372036854776000.0"},
      {"1.0", BindingKind::Float, "1.0"},
      {"-0.0", BindingKind::Float, "-0.0"},
      {"2.5E-3", BindingKind::Float, "0.0025"},
      {"1e-400", BindingKind::Float, "0.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const BindingResult result = ParseJson(c.text);
    ASSERT_THAT(result, BindingSucceeded());
    EXPECT_EQ(result.Value().Kind(), c.kind);
    EXPECT_EQ(ToJson(result.Value()), c.written);
  }
}

TEST(JsonRead, StringsEndAtTheirFirstNul) {
  struct Case {
    std::string_view text;
    std::string_view stored;
  };
  const Case cases[] = {
      {R"("a\u0000b")", "a"},
      {R"("\u00e9\ud83d\ude00")", "\xC3\xA9\xF0\x9F\x98\x80"},
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {"\"\xFF\xFE\"", "\xFF\xFE"},  // bytes are not validated
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const BindingResult result = ParseJson(c.text);
    ASSERT_THAT(result, BindingSucceeded());
    EXPECT_EQ(result.Value().StringValue(), c.stored);
  }
}

// A member name seen again selects the same member: later scalars replace,
// later objects merge, later arrays append.
TEST(JsonRead, BuildsTreesWithRepeatedMembersMerged) {
  const TextCase cases[] = {
      {"literals and empty containers", " [null,true,false,[],{},[{}]] ",
       "[null,true,false,[],{},[{}]]"},
      {"whitespace everywhere", " {\n\t\"k\" : [ 1 , { \"n\" : null } ] }\r\n",
       R"({"k":[1,{"n":null}]})"},
      {"members in byte order", R"({"b":1,"a":2,"B":3})", R"({"B":3,"a":2,"b":1})"},
      {"scalar replaces", R"({"a":1,"a":"x"})", R"({"a":"x"})"},
      {"null replaces", R"({"a":1,"a":null})", R"({"a":null})"},
      {"array appends", R"({"a":[1],"a":[2]})", R"({"a":[1,2]})"},
      {"nested arrays append", R"({"a":[[1]],"a":[[2]]})", R"({"a":[[1],[2]]})"},
      {"object merges", R"({"a":{"x":1,"y":1},"a":{"y":2,"z":[3]},"a":{"z":[4]}})",
       R"({"a":{"x":1,"y":2,"z":[3,4]}})"},
      {"object replaces array", R"({"a":[1],"a":{"b":2}})", R"({"a":{"b":2}})"},
      {"array replaces object", R"({"a":{"b":2},"a":[1]})", R"({"a":[1]})"},
      {"only within one object", R"([{"a":1,"a":2},{"a":3}])", R"([{"a":2},{"a":3}])"},
      {"names end at their first NUL", R"({"a\u0000b":1,"a":2})", R"({"a":2})"},
  };
  for (const TextCase& c : cases) {
    ExpectBuilt(c);
  }
}

}  // namespace
}  // namespace Nalo

namespace Nalo {
namespace {

// Whitespace runs of every length up to past two 16-byte blocks, of every
// kind, between tokens and at both ends of the text, read as nothing; a
// control byte that is not whitespace still ends the run and is refused.
TEST(JsonRead, WhitespaceRunsOfAnyLength) {
  constexpr std::string_view kWhitespace = " \t\n\r";
  for (std::size_t length = 0; length <= 40; ++length) {
    SCOPED_TRACE(length);
    std::string run;
    for (std::size_t i = 0; i < length; ++i) {
      run += kWhitespace[(i * 7 + length) % kWhitespace.size()];
    }
    // A test reads better as the text it builds.
    // NOLINTBEGIN(performance-inefficient-string-concatenation)
    const std::string text =
        run + "{" + run + R"("a")" + run + ":" + run + "[1," + run + "true]" + run + "}" + run;
    // NOLINTEND(performance-inefficient-string-concatenation)
    const BindingResult parsed = ParseJson(text);
    ASSERT_THAT(parsed, BindingSucceeded());
    EXPECT_EQ(ToJson(parsed.Value()), R"({"a":[1,true]})");

    // NOLINTNEXTLINE(performance-inefficient-string-concatenation)
    const BindingResult refused = ParseJson(run + "[1," + run + "\x0b" + "2]");
    EXPECT_THAT(refused, IsBindingError("Error: Invalid value. at offset " +
                                        std::to_string(2 * length + 3) + "."));
  }
}

}  // namespace
}  // namespace Nalo

namespace Nalo {
namespace {

// Arrays held open inside arrays and objects while their elements grow the
// reader's stack of pending elements many times over.
TEST(JsonRead, LargeArraysNestedInOpenContainers) {
  std::string numbers;
  for (int i = 0; i < 300; ++i) {
    numbers += (i == 0 ? "" : ",") + std::to_string(i);
  }
  const std::string text = "[[[" + numbers + "]," + numbers + "],{\"a\":[[" + numbers + "]]}]";
  const BindingResult parsed = ParseJson(text);
  ASSERT_THAT(parsed, BindingSucceeded());
  EXPECT_EQ(ToJson(parsed.Value()), text);
}

}  // namespace
}  // namespace Nalo
