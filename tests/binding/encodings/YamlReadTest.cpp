#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "binding/BindingLimits.h"
#include "binding/Yaml.h"
#include "support/BindingMatchers.h"
#include "tests/binding/encodings/ValueText.h"

namespace Nalo {
namespace {

using namespace std::string_literals;

struct ValueCase {
  std::string_view name;
  std::string text;
  std::string value;  // ValueText of the result
};

void ExpectValues(const ValueCase* begin, const ValueCase* end) {
  for (const ValueCase* c = begin; c != end; ++c) {
    SCOPED_TRACE(c->name);
    const BindingResult result = ParseYaml(c->text);
    ASSERT_THAT(result, BindingSucceeded());
    EXPECT_EQ(ValueText(result.Value()), c->value);
  }
}

TEST(YamlRead, TypesScalars) {
  const ValueCase cases[] = {
      {"empty text", "", "~"},
      {"only a comment", "# nothing\n", "~"},
      {"unsigned", "42", "u42"},
      {"signed", "-7", "s-7"},
      {"float", "3.5", "f3.5"},
      {"integral exponent", "1e3", "u1000"},
      {"integral fraction", "1.5e3", "u1500"},
      {"leading point", ".5", "f0.5"},
      {"hexadecimal", "0x10", "u16"},
      {"negative hexadecimal", "-0x10", "s-16"},
      {"leading zero is decimal when plain", "010", "u10"},
      {"plus sign", "+5", "u5"},
      {"minus zero is not negative", "-0", "u0"},
      {"largest unsigned, exactly", "18446744073709551615", "u18446744073709551615"},
      {"beyond a double's precision, exactly", "9007199254740993", "u9007199254740993"},
      {"lowest signed", "-9223372036854775808", "s-9223372036854775808"},
      {"integral beyond 64 bits stays float", "18446744073709551616", "f18446744073709551616"},
      {"large exponent", "1e300", "f1e+300"},
      {"NaN word stays a string", "nan", R"("nan")"},
      {"negative infinity word stays a string", "-inf", R"("-inf")"},
      {"YAML infinity stays a string", ".inf", R"(".inf")"},
      {"overflowing number stays a string", "1e999", R"("1e999")"},
      {"digit separators stay a string", "1_000", R"("1_000")"},
      {"single-quoted digits", "'42'", R"("42")"},
      {"double-quoted digits", "\"42\"", R"("42")"},
      {"quoted NUL escape keeps every byte", R"("a\0b")", R"("a\x00b")"},
      {"literal block", "|\n  a\n  b\n", R"("a\x0ab\x0a")"},
      {"yes", "yes", "true"},
      {"Yes", "Yes", "true"},
      {"mixed case is a string", "YeS", R"("YeS")"},
      {"y", "y", "true"},
      {"OFF", "OFF", "false"},
      {"n", "n", "false"},
      {"tilde", "~", "~"},
      {"quoted tilde", "'~'", R"("~")"},
      {"NULL", "NULL", "~"},
      {"odd-case null is a string", "nULL", R"("nULL")"},
      {"!!str", "!!str 42", R"("42")"},
      {"!!str empty", "!!str", R"("")"},
      {"!!int negative", "!!int -3", "s-3"},
      {"!!int hexadecimal", "!!int 0x1F", "u31"},
      {"!!int octal", "!!int 010", "u8"},
      {"!!int quoted", "!!int '7'", "u7"},
      {"!!float integral", "!!float 2", "f2"},
      {"!!bool", "!!bool yes", "true"},
      {"!!bool quoted", "!!bool 'off'", "false"},
  };
  ExpectValues(std::begin(cases), std::end(cases));
}

// Plain numbers at the edges of a double and of the 64-bit kinds: a text
// whose value is infinite or NaN is never made an integer, whatever its sign.
TEST(YamlRead, ResolvesNumbersAtTheirLimits) {
  const ValueCase cases[] = {
      {"underflow is zero", "1e-400", "u0"},
      {"negative underflow is zero", "-1e-400", "u0"},
      {"underflow after many digits", "0.000000000000000000001e-390", "u0"},
      {"hexadecimal underflow", "0x1p-2000", "u0"},
      {"subnormal keeps its fraction", "5e-324", "f5e-324"},
      {"many digits with a small exponent overflow", "1" + std::string(400, '0') + "e-10",
       R"("1)" + std::string(400, '0') + R"(e-10")"},
      {"negative overflow stays a string", "-1e400", R"("-1e400")"},
      {"negative infinity word", "-.inf", R"("-.inf")"},
      {"signed NaN word", "-nan", R"("-nan")"},
      {"infinity word", "inf", R"("inf")"},
      {"largest signed", "9223372036854775807", "u9223372036854775807"},
      {"2^63", "9223372036854775808", "u9223372036854775808"},
      {"2^63 as a float text", "9.223372036854775808e18", "u9223372036854775808"},
      {"largest unsigned less one", "18446744073709551614", "u18446744073709551614"},
      {"2^64 as a float text", "1.8446744073709551616e19", "f18446744073709551616"},
      {"2^64 and beyond", "36893488147419103232", "f36893488147419103232"},
      {"hexadecimal 2^63", "0x8000000000000000", "u9223372036854775808"},
      {"hexadecimal 2^64", "0x10000000000000000", "f18446744073709551616"},
      {"lowest signed", "-9223372036854775808", "s-9223372036854775808"},
      {"lowest signed as a float text", "-9.223372036854775808e18", "s-9223372036854775808"},
      {"below the lowest signed", "-9223372036854775809", "f-9223372036854775808"},
      {"far below the lowest signed", "-1e19", "f-1e+19"},
  };
  ExpectValues(std::begin(cases), std::end(cases));
}

TEST(YamlRead, BuildsContainersAndFollowsAliases) {
  const ValueCase cases[] = {
      {"block mapping", "a: 1\nb: [x, 'y']\n", R"({a: u1, b: ["x", "y"]})"},
      {"members in byte order", "{a: 2, B: 1}", "{B: u1, a: u2}"},
      {"nested sequences", "- a\n- - b\n  - ~\n", R"(["a", ["b", ~]])"},
      {"missing value", "a:\nb: ''", R"({a: ~, b: ""})"},
      {"explicit key", "? a\n: 1", "{a: u1}"},
      {"keys are text", "1: x\n!!str 2: v\nnull: z", R"({1: "x", 2: "v", null: "z"})"},
      {"repeated key: a scalar replaces", "a: 1\na: 2", "{a: u2}"},
      {"repeated key: mappings merge", "a: {x: 1}\na: {y: 2}", "{a: {x: u1, y: u2}}"},
      {"repeated key: sequences append", "a: [1]\na: [2]", "{a: [u1, u2]}"},
      {"alias of a mapping", "a: &x {p: [1]}\nb: *x", "{a: {p: [u1]}, b: {p: [u1]}}"},
      {"aliases into the sequence holding the anchor", "- &x [1, 2]\n- *x\n- *x",
       "[[u1, u2], [u1, u2], [u1, u2]]"},
      {"alias of a scalar is its text", "a: &n 42\nb: *n", R"({a: u42, b: "42"})"},
      {"alias of a scalar as a key", "- &k name\n- {*k : 1}", R"(["name", {name: u1}])"},
      {"alias copies the container as it is then", "a: &x {p: 1}\nb: *x\na: {q: 2}\nc: *x",
       "{a: {p: u1, q: u2}, b: {p: u1}, c: {p: u1, q: u2}}"},
      {"alias of a mapping inside a sequence inside a mapping", "a: [0, {b: &x [1]}]\nc: *x",
       "{a: [u0, {b: [u1]}], c: [u1]}"},
      {"alias of a mapping under a key cut at its NUL", "\"k\\0z\": &x {p: 1}\nc: *x",
       "{c: {p: u1}, k: {p: u1}}"},
      {"alias of a mapping under an aliased key", "- &k name\n- {*k : &x [1]}\n- *x",
       R"(["name", {name: [u1]}, [u1]])"},
      {"empty first document", "---\n---\na: 1\n", "{a: u1}"},
      {"document end marker", "a: 1\n...\n", "{a: u1}"},
  };
  ExpectValues(std::begin(cases), std::end(cases));

  // The copy is deep: changing one side leaves the other as it was.
  BindingResult result = ParseYaml("a: &x {p: [1]}\nb: *x");
  ASSERT_THAT(result, BindingSucceeded());
  result.Value().member("b").member("p").at(0).SetString("changed");
  EXPECT_EQ(ValueText(result.Value()), R"({a: {p: [u1]}, b: {p: ["changed"]}})");
}

struct ErrorCase {
  std::string_view name;
  std::string text;
  std::string_view message;
};

TEST(YamlRead, RefusesWithAMessage) {
  const ErrorCase cases[] = {
      {"second document", "a: 1\n---\nb: 2", "Multi-document YAML is not supported."},
      {"tagged key", "!!int 5: x",
       "Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 1"},
      {"alias of a container as a key", "- &m {a: 1}\n- {*m : 2}",
       "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 4"},
      {"sequence as a key", "[a]: 1", "Unexpected start of sequence. At line: 1 col: 1"},
      {"mapping as a key", "? {a: 1}\n: x", "Unexpected start of mapping. At line: 1 col: 3"},
      {"anchor defined twice", "a: &x 1\nb: &x 2",
       "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"alias inside its anchor", "a: &x [*x]",
       "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 8"},
      {"alias inside a mapping merged into its anchor", "a: &x {p: 1}\na: {q: *x}",
       "Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 8"},
      {"undefined alias", "a: *nope", "Undefined alias encountered: \"nope\". At line: 1 col: 4"},
      {"local tag", "!foo x", "Unsupported YAML tag '!foo'."},
      {"non-specific tag", "! x", "Unsupported YAML tag '!'."},
      {"unsupported standard tag", "!!binary AAAA",
       "Unsupported YAML tag 'tag:yaml.org,2002:binary'."},
      {"!!int letters", "!!int abc",
       "Value abc for 'yaml' of type uint64_t is in an incorrect format"},
      {"!!int negative letters", "!!int -abc",
       "Value -abc for 'yaml' of type int64_t is in an incorrect format"},
      {"!!int trailing text", "!!int 12abc",
       "Value 12abc for 'yaml' of type uint64_t is in an incorrect format"},
      {"!!int empty", "!!int ''", "Value  for 'yaml' of type uint64_t is in an incorrect format"},
      {"!!int above uint64", "!!int 18446744073709551616",
       "Value 18446744073709551616 for 'yaml' of type uint64_t is out of range"},
      {"!!int below int64", "!!int -9223372036854775809",
       "Value -9223372036854775809 for 'yaml' of type int64_t is out of range"},
      {"!!int spaced minus reads as unsigned", "!!int ' -1'",
       "Value  -1 for 'yaml' of type uint64_t is out of range"},
      {"!!float letters", "!!float x1",
       "Value x1 for 'yaml' of type double is in an incorrect format"},
      {"!!float overflow", "!!float 1e999",
       "Value 1e999 for 'yaml' of type double is out of range"},
      {"!!float infinity", "!!float inf", "Value inf for 'yaml' of type double is out of range"},
      {"!!bool not a bool word", "a: !!bool maybe",
       "Value \"maybe\" tagged as bool is not a bool word. At line: 1 col: 4"},
      {"!!bool case", "!!bool YeS",
       "Value \"YeS\" tagged as bool is not a bool word. At line: 1 col: 1"},
      // libyaml's own errors, with its problem mark counted from 0.
      {"unclosed flow sequence", "a: [1",
       "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
      {"mapping in a plain scalar", "a: b: c",
       "YAML parser error: mapping values are not allowed in this context. At line: 0 col: 4"},
      {"unterminated quote", "key: 'open",
       "YAML parser error: found unexpected end of stream. At line: 0 col: 10"},
      {"NUL byte", "a: \0"s,
       "YAML parser error: control characters are not allowed. At line: 0 col: 0"},
      {"incompatible version", "%YAML 2.0\n--- x",
       "YAML parser error: found incompatible YAML document. At line: 0 col: 0"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    const BindingResult result = ParseYaml(c.text);
    EXPECT_THAT(result, IsBindingError(c.message));
    EXPECT_EQ(result.Value().size(), 1u);  // only {"error": ...}
  }
}

std::string NestedSequences(std::size_t levels, std::string_view inner = {}) {
  return std::string(levels, '[') + std::string(inner) + std::string(levels, ']');
}

TEST(YamlRead, RefusesNestingPastTheLimit) {
  const BindingResult deepest = ParseYaml(NestedSequences(kMaxNestingDepth));
  ASSERT_THAT(deepest, BindingSucceeded());
  std::size_t levels = 0;
  for (const BindingProperty* value = &deepest.Value(); value->Kind() == BindingKind::Collection;
       value = value->Elements().empty() ? nullptr : &value->Elements()[0]) {
    ++levels;
    if (value->Elements().empty()) {
      break;
    }
  }
  EXPECT_EQ(levels, kMaxNestingDepth);

  EXPECT_THAT(
      ParseYaml(NestedSequences(kMaxNestingDepth + 1)),
      IsBindingError("Nesting deeper than 512 levels is not supported. At line: 1 col: 513"));

  // An alias counts the levels it copies in: the root mapping, 211 sequences
  // and the anchored 300 levels make 512; one sequence more is too deep.
  const std::string anchored = "a: &x " + NestedSequences(300) + "\n";
  EXPECT_THAT(ParseYaml(anchored + "b: " + NestedSequences(211, "*x")), BindingSucceeded());
  EXPECT_THAT(
      ParseYaml(anchored + "b: " + NestedSequences(212, "*x")),
      IsBindingError("Nesting deeper than 512 levels is not supported. At line: 2 col: 216"));
}

TEST(YamlRead, ManyAnchorsInOneMapping) {
  // Recording where an anchored container sits must not scan its siblings:
  // 50000 anchored mappings in one mapping took minutes when it did, which
  // this test then shows as a stalled run.
  constexpr int kAnchors = 50000;
  std::string text;
  for (int i = 0; i < kAnchors; ++i) {
    text +=
        "k" + std::to_string(i) + ": &a" + std::to_string(i) + " {v: " + std::to_string(i) + "}\n";
  }
  text += "last: *a" + std::to_string(kAnchors - 1) + "\n";
  const BindingResult result = ParseYaml(text);
  ASSERT_THAT(result, BindingSucceeded());
  EXPECT_EQ(result.Value().size(), static_cast<std::size_t>(kAnchors) + 1);
  EXPECT_EQ(ValueText(*result.Value().Find("last")), "{v: u49999}");
}

TEST(YamlRead, BoundsWhatAliasesExpandTo) {
  // Each line holds ten aliases of the line before: the sixth would copy in
  // over a million values.
  std::string text = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
  for (const char name : std::string_view("bcdef")) {
    const std::string previous = "*" + std::string(1, static_cast<char>(name - 1));
    text += std::string(1, name) + ": &" + name + " [" + previous;
    for (int i = 1; i < 10; ++i) {
      text += ", " + previous;
    }
    text += "]\n";
  }
  // Copies before line 6: 110 + 1110 + 11110 + 111110 values; each alias of
  // e adds 111111, so the eighth one (column 36) passes 1000000.
  EXPECT_THAT(ParseYaml(text),
              IsBindingError("Aliases expand to more than 1000000 values. At line: 6 col: 36"));

  // Long strings are bounded by their bytes: sixteen copies of 1 MiB fit,
  // the seventeenth (column 69) doesn't, whether the anchor is the scalar
  // itself or a sequence holding it.
  const std::string mebibyte(std::size_t{1} << 20, 'x');
  std::string aliases = "b: [*s";
  for (int i = 1; i < 16; ++i) {
    aliases += ", *s";
  }
  for (const std::string& anchored : {"a: &s " + mebibyte + "\n", "a: &s [" + mebibyte + "]\n"}) {
    SCOPED_TRACE(anchored.substr(0, 7));
    EXPECT_THAT(ParseYaml(anchored + aliases + "]"), BindingSucceeded());
    EXPECT_THAT(
        ParseYaml(anchored + aliases + ", *s]"),
        IsBindingError("Aliases expand to more than 16777216 bytes of text. At line: 2 col: 69"));
  }
}

}  // namespace
}  // namespace Nalo
