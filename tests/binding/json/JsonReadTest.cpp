#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
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

// A failure as a caller sees it: the structure {"error": message}, with no
// trace of the partial tree.
void ExpectFailure(const BindingResult& result, std::string_view message) {
  EXPECT_THAT(result, IsBindingError(message));
  EXPECT_EQ(result.Value().size(), 1u);
}

struct ErrorCase {
  std::string_view name;
  std::string text;
  std::string_view message;
};

TEST(JsonRead, ErrorsNameTheReasonAndTheOffset) {
  const ErrorCase cases[] = {
      {"second root", "1 2", "The document root must not be followed by other values. at offset 2"},
      {"offsets count leading whitespace", "  [1,]", "Invalid value. at offset 5"},
      {"bad literal", "[nul]", "Invalid value. at offset 4"},
      {"NaN literal", "NaN", "Invalid value. at offset 0"},
      {"comment", "[1] // no", "The document root must not be followed by other values. at offset 4"},
      {"trailing comma in object", "{\"a\":1,}", "Missing a name for object member. at offset 7"},
      {"unquoted name", "{a:1}", "Missing a name for object member. at offset 1"},
      {"no colon", "{\"a\" 1}", "Missing a colon after a name of object member. at offset 5"},
      {"no comma in object", "{\"a\":1 \"b\":2}",
       "Missing a comma or '}' after an object member. at offset 7"},
      {"no comma in array", "[1 2]", "Missing a comma or ']' after an array element. at offset 3"},
      {"unclosed array", "[1,2", "Missing a comma or ']' after an array element. at offset 4"},
      {"bad hex escape", "\"\\u12G4\"", "Incorrect hex digit after \\u escape in string. at offset 1"},
      {"lone high surrogate", "\"\\uD800\\u0041\"",
       "The surrogate pair in string is invalid. at offset 1"},
      {"bad escape", "\"\\x\"", "Invalid escape character in string. at offset 1"},
      {"unclosed string", "\"abc", "Missing a closing quotation mark in string. at offset 4"},
      {"raw control byte in string", "\"a\x01\"", "Invalid escape character in string. at offset 2"},
      {"number too big", "1e400", "Number too big to be stored in double. at offset 0"},
      {"number the reader rounds to infinity", "[0, -7387904e308]",
       "Number too big to be stored in double. at offset 4"},
      {"no fraction", "1.", "Miss fraction part in number. at offset 2"},
      {"no exponent", "1e", "Miss exponent in number. at offset 2"},
      {"text ends at the first NUL", "[1,2\0]"s,
       "Missing a comma or ']' after an array element. at offset 4"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string expected = "Error: " + std::string(c.message) + ".";
    ExpectFailure(ParseJson(std::string_view(c.text)), expected);
    // The zero-terminated overload reads the same text and fails the same way.
    EXPECT_THAT(ParseJson(c.text.c_str()), IsBindingError(expected));
  }
}

TEST(JsonRead, NestingIsBoundedWithAMessageNamingTheLimit) {
  const std::string deepest = std::string(kMaxNestingDepth, '[') + std::string(kMaxNestingDepth, ']');
  EXPECT_THAT(ParseJson(deepest), BindingSucceeded());

  struct Case {
    std::string_view name;
    std::string text;
    std::string_view message;
  };
  const Case cases[] = {
      {"one array too many", std::string(kMaxNestingDepth + 1, '['),
       "Error: Nesting deeper than 512 levels is not supported at offset 513."},
      // Stopped at the refusing level: no stack overflow in reader or tree.
      {"a million arrays", std::string(1'000'000, '['),
       "Error: Nesting deeper than 512 levels is not supported at offset 513."},
      {"objects count too", [] {
         std::string text;
         for (std::size_t level = 0; level <= kMaxNestingDepth; ++level) {
           text += "{\"a\":";
         }
         return text;
       }(),
       "Error: Nesting deeper than 512 levels is not supported at offset 2561."},
      {"mixed, after a sibling", "[[]," + std::string(kMaxNestingDepth, '['),
       "Error: Nesting deeper than 512 levels is not supported at offset 516."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailure(ParseJson(c.text), c.message);
  }
}

TEST(JsonRead, EmptyTextIsAnEmptyValue) {
  const std::string texts[] = {"", "   ", " \t\r\n", "\0[1]"s, "  \0 x"s};
  for (const std::string& text : texts) {
    SCOPED_TRACE(testing::PrintToString(text));
    const BindingResult counted = ParseJson(std::string_view(text));
    EXPECT_THAT(counted, BindingSucceeded());
    EXPECT_TRUE(counted.Value().IsEmpty());
    EXPECT_TRUE(ParseJson(text.c_str()).Value().IsEmpty());
  }
  EXPECT_TRUE(ParseJson(nullptr).Value().IsEmpty());
  EXPECT_TRUE(ParseJson(nullptr, 0).Value().IsEmpty());
  // Whitespace other than the four JSON bytes is not skipped.
  EXPECT_THAT(ParseJson("\v"), IsBindingError("Error: Invalid value. at offset 0."));
}

TEST(JsonRead, CountedTextNeedsNoTerminator) {
  const char buffer[] = {'[', '1', ',', '2', ']', 'x', 'y'};
  const BindingResult result = ParseJson(buffer, 5);
  ASSERT_THAT(result, BindingSucceeded());
  EXPECT_EQ(ToJson(result.Value()), "[1,2]");
  EXPECT_THAT(ParseJson(buffer, 4),
              IsBindingError("Error: Missing a comma or ']' after an array element. at offset 4."));
  EXPECT_THAT(ParseJson(std::string_view(buffer, 7)),
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
      {"7", BindingKind::Unsigned, "7"},
      {"-1", BindingKind::Signed, "-1"},
      {"4294967296", BindingKind::Unsigned, "4294967296"},
      {"-2147483649", BindingKind::Signed, "-2147483649"},
      {"18446744073709551615", BindingKind::Unsigned, "18446744073709551615"},
      {"18446744073709551616", BindingKind::Float, "18446744073709553000.0"},
      {"-9223372036854775808", BindingKind::Signed, "-9223372036854775808"},
      {"-9223372036854775809", BindingKind::Float, "-9223372036854776000.0"},
      {"1.0", BindingKind::Float, "1.0"},
      {"-0.0", BindingKind::Float, "-0.0"},
      {"1e2", BindingKind::Float, "100.0"},
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

  const BindingResult mixed = ParseJson("[1,-1,1.0]");
  ASSERT_THAT(mixed, BindingSucceeded());
  const auto elements = mixed.Value().Elements();
  ASSERT_EQ(elements.size(), 3u);
  EXPECT_EQ(elements[0].GetUnsigned(0), 1u);
  EXPECT_EQ(elements[1].GetSigned(0), -1);
  EXPECT_EQ(elements[2].GetFloat(0), 1.0);
}

TEST(JsonRead, StringsAndNamesEndAtTheirFirstNul) {
  struct Case {
    std::string_view text;
    std::string_view stored;
  };
  const Case strings[] = {
      {R"("plain")", "plain"},
      {R"("a\u0000b")", "a"},
      {R"("\u0000")", ""},
      {R"("\u00e9\ud83d\ude00")", "\xC3\xA9\xF0\x9F\x98\x80"},
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {"\"\xFF\xFE\"", "\xFF\xFE"},  // bytes are not validated
  };
  for (const Case& c : strings) {
    SCOPED_TRACE(c.text);
    const BindingResult result = ParseJson(c.text);
    ASSERT_THAT(result, BindingSucceeded());
    EXPECT_EQ(result.Value().Kind(), BindingKind::String);
    EXPECT_EQ(result.Value().StringValue(), c.stored);
  }

  const BindingResult named = ParseJson(R"({"a\u0000b":1,"a":2})");
  ASSERT_THAT(named, BindingSucceeded());
  EXPECT_EQ(ToJson(named.Value()), R"({"a":2})");
}

// A member name seen again selects the same member: later scalars replace,
// later objects merge, later arrays append.
TEST(JsonRead, RepeatedMemberNames) {
  struct Case {
    std::string_view text;
    std::string_view built;
  };
  const Case cases[] = {
      {R"({"a":1,"a":"x"})", R"({"a":"x"})"},
      {R"({"a":1,"a":null})", R"({"a":null})"},
      {R"({"a":[1],"a":[2]})", R"({"a":[1,2]})"},
      {R"({"a":[[1]],"a":[[2]]})", R"({"a":[[1],[2]]})"},
      {R"({"a":{"x":1,"y":1},"a":{"y":2,"z":2}})", R"({"a":{"x":1,"y":2,"z":2}})"},
      {R"({"a":{"x":[1]},"a":{"x":[2]}})", R"({"a":{"x":[1,2]}})"},
      {R"({"a":[1],"a":{"b":2}})", R"({"a":{"b":2}})"},
      {R"({"a":{"b":2},"a":[1]})", R"({"a":[1]})"},
      {R"({"a":{"b":2},"a":3})", R"({"a":3})"},
      {R"([{"a":1,"a":2},{"a":3}])", R"([{"a":2},{"a":3}])"},
      {R"({"b":1,"a":2,"B":3})", R"({"B":3,"a":2,"b":1})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const BindingResult result = ParseJson(c.text);
    ASSERT_THAT(result, BindingSucceeded());
    EXPECT_EQ(ToJson(result.Value()), c.built);
  }
}

TEST(JsonRead, ContainersAndLiterals) {
  struct Case {
    std::string_view text;
    std::string_view built;
  };
  const Case cases[] = {
      {" [ ] ", "[]"},
      {"{}", "{}"},
      {"[null,true,false]", "[null,true,false]"},
      {"[[],{},[{}]]", "[[],{},[{}]]"},
      {" {\n\t\"k\" : [ 1 , { \"n\" : null } ] }\r\n", R"({"k":[1,{"n":null}]})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const BindingResult result = ParseJson(c.text);
    ASSERT_THAT(result, BindingSucceeded());
    EXPECT_EQ(ToJson(result.Value()), c.built);
  }
  // A lone null is an empty value, which writes as nothing at the root.
  const BindingResult null = ParseJson("null");
  EXPECT_THAT(null, BindingSucceeded());
  EXPECT_TRUE(null.Value().IsEmpty());
}

}  // namespace
}  // namespace Nalo
