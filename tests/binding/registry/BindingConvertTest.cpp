#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <span>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/BindingConvert.h"
#include "binding/BindingRegistration.h"
#include "binding/BindingVisitor.h"
#include "binding/Json.h"
#include "support/BindingMatchers.h"

namespace Nalo {
namespace {

enum class Color { Red = 0, Green = 3, Blue = 7 };

struct Scalars {
  bool flag = false;
  std::int8_t tiny = 0;
  std::uint8_t byte = 0;
  std::int16_t shortValue = 0;
  std::uint16_t port = 0;
  std::int32_t count = 0;
  std::uint32_t size = 0;
  std::int64_t big = 0;
  std::uint64_t huge = 0;
  float ratio = 0;
  double real = 0;
  std::string text;
  Color color = Color::Red;
  std::vector<std::uint8_t> bytes;
};

struct Tile {
  std::int32_t x = 0;
  std::string label;
  bool operator==(const Tile&) const = default;
};

struct Board {
  std::string name;
  std::vector<Tile> tiles;
  std::unordered_map<std::string, std::vector<Color>> palette;
  std::optional<std::int32_t> limit;
  BindingProperty extra;
  std::vector<bool> marks;
  std::vector<std::vector<std::int64_t>> grid;
  std::uint16_t version = 0;
  Color color = Color::Red;
  std::string note;
  bool operator==(const Board&) const = default;
};

// Both standard string-keyed maps are "map" fields.
struct Ledger {
  std::map<std::string, Tile> byName;
  std::map<std::string, std::unordered_map<std::string, std::int32_t>> nested;
  bool operator==(const Ledger&) const = default;
};

// Two fields under one name write one member.
struct Twins {
  std::int32_t first = 0;
  std::string second;
};

struct Unregistered {
  std::int32_t a = 0;
};

const BindingTypeRegistry& Registry() {
  static const BindingTypeRegistry& registry = [&]() -> const BindingTypeRegistry& {
    static BindingTypeRegistry instance;
    RegisterEnum<Color>(instance, "Demo", "Color", "",
                        {{"Red", Color::Red}, {"Green", Color::Green}, {"Blue", Color::Blue}});
    RegisterStruct<Scalars>(instance, "Demo", "Scalars", "",
                            {
                                Field("flag", &Scalars::flag),
                                Field("tiny", &Scalars::tiny),
                                Field("byte", &Scalars::byte),
                                Field("short", &Scalars::shortValue),
                                Field("port", &Scalars::port),
                                Field("count", &Scalars::count),
                                Field("size", &Scalars::size),
                                Field("big", &Scalars::big),
                                Field("huge", &Scalars::huge),
                                Field("ratio", &Scalars::ratio),
                                Field("real", &Scalars::real),
                                Field("text", &Scalars::text),
                                Field("color", &Scalars::color),
                                Field("bytes", &Scalars::bytes),
                            });
    RegisterStruct<Tile>(instance, "Demo", "Tile", "",
                         {Field("x", &Tile::x), Field("label", &Tile::label, kOmitWhenDefault)});
    RegisterStruct<Board>(instance, "Demo", "Board", "",
                          {
                              Field("name", &Board::name, kRequired),
                              Field("tiles", &Board::tiles),
                              Field("palette", &Board::palette),
                              Field("limit", &Board::limit),
                              Field("extra", &Board::extra),
                              Field("marks", &Board::marks),
                              Field("grid", &Board::grid),
                              Field("version", &Board::version, kOmitWhenDefault),
                              Field("color", &Board::color, kOmitWhenDefault),
                              Field("note", &Board::note, kOmitWhenDefault),
                          });
    RegisterStruct<Twins>(
        instance, "Demo", "Twins", "",
        {Field("same", &Twins::first), Field("same", &Twins::second, kOmitWhenDefault)});
    RegisterStruct<Ledger>(instance, "Demo", "Ledger", "",
                           {Field("byName", &Ledger::byName), Field("nested", &Ledger::nested)});
    return instance;
  }();
  return registry;
}

const BindingTypeDescriptor* ColorType() {
  return DescriptorOf<Color>(Registry());
}

// One input value of a table row.
struct Input {
  BindingKind kind = BindingKind::Empty;
  std::int64_t signedValue = 0;
  std::uint64_t unsignedValue = 0;
  double floatValue = 0;
  std::string_view text = {};
  bool colorType = false;  // an enum input of type Color (else of no type)

  BindingProperty Make() const {
    BindingProperty value;
    switch (kind) {
      case BindingKind::Bool:
        value.SetBool(signedValue != 0);
        break;
      case BindingKind::Signed:
        value.SetSigned(signedValue);
        break;
      case BindingKind::Unsigned:
        value.SetUnsigned(unsignedValue);
        break;
      case BindingKind::Float:
        value.SetFloat(floatValue);
        break;
      case BindingKind::String:
        value.SetString(text);
        break;
      case BindingKind::Enum:
        value.SetEnum(static_cast<std::int32_t>(signedValue), colorType ? ColorType() : nullptr);
        break;
      case BindingKind::Collection:
        value.MakeCollection();
        break;
      default:
        break;
    }
    return value;
  }
};

Input Signed(std::int64_t value) {
  return {.kind = BindingKind::Signed, .signedValue = value};
}
Input Unsigned(std::uint64_t value) {
  return {.kind = BindingKind::Unsigned, .unsignedValue = value};
}
Input Float(double value) {
  return {.kind = BindingKind::Float, .floatValue = value};
}
Input Text(std::string_view text) {
  return {.kind = BindingKind::String, .text = text};
}
Input Bool(bool value) {
  return {.kind = BindingKind::Bool, .signedValue = value};
}
Input Enum(std::int32_t value, bool colorType = false) {
  return {.kind = BindingKind::Enum, .signedValue = value, .colorType = colorType};
}
Input Collection() {
  return {.kind = BindingKind::Collection};
}

struct ScalarCase {
  std::string_view key;
  Input input;
  // The converted field read back as text (BindingProperty::AsString), or
  // the whole error message.
  std::string_view expected;
};

constexpr double kTwoTo63 = 9223372036854775808.0;

const ScalarCase kScalarCases[] = {
    // bool
    {"flag", Text("true"), "true"},
    {"flag", Text("True"),
     "Value True for 'flag' of type bool is in an incorrect format. Options are \"true\", "
     "\"false\", \"1\", \"0\"."},
    {"flag", Signed(1),
     "Couldn't assign value to 'flag' of type bool because the input is of an invalid type "
     "signed."},
    // signed integers
    {"count", Text("0x7fffffff"), "2147483647"},
    {"count", Text("2147483648"), "Value 2147483648 for 'count' of type int32 is out of range"},
    {"count", Text("12abc"), "Value 12abc for 'count' of type int32 is in an incorrect format"},
    {"count", Text(""), "Value  for 'count' of type int32 is in an incorrect format"},
    {"count", Text("010"), "8"},
    {"count", Text("08"), "Value 08 for 'count' of type int32 is in an incorrect format"},
    {"count", Text(" -2147483648"), "-2147483648"},
    {"count", Bool(true),
     "Couldn't assign value to 'count' of type int32 because the input is of an invalid type "
     "bool."},
    {"count", Collection(),
     "Couldn't assign value to 'count' of type int32 because the input is of an invalid type "
     "collection."},
    {"tiny", Signed(-129), "Value -129 for 'tiny' of type int8 is out of range"},
    {"tiny", Enum(-128), "-128"},
    {"tiny", Enum(128), "Value 128 for 'tiny' of type int8 is out of range"},
    {"short", Float(-3.9), "-3"},
    {"short", Float(32767.5), "Value 32767.5 for 'short' of type int16 is out of range"},
    {"big", Text("-9223372036854775808"), "-9223372036854775808"},
    {"big", Text("99999999999999999999"),
     "Value 99999999999999999999 for 'big' of type int64 is out of range"},
    {"big", Unsigned(9223372036854775808u),
     "Value 9223372036854775808 for 'big' of type int64 is out of range"},
    {"big", Float(kTwoTo63), "Value 9223372036854775808 for 'big' of type int64 is out of range"},
    // unsigned integers
    {"port", Signed(-1), "Value -1 for 'port' of type uint16 is out of range"},
    {"port", Signed(65535), "65535"},
    {"port", Unsigned(65536), "Value 65536 for 'port' of type uint16 is out of range"},
    {"byte", Float(-0.5), "Value -0.5 for 'byte' of type uint8 is out of range"},
    {"byte", Float(255.9), "Value 255.9 for 'byte' of type uint8 is out of range"},
    {"byte", Float(254.9), "254"},
    {"size", Enum(-1), "Value -1 for 'size' of type uint32 is out of range"},
    {"huge", Text("18446744073709551615"), "18446744073709551615"},
    {"huge", Text("0x1ffffffffffffffff"),
     "Value 0x1ffffffffffffffff for 'huge' of type uint64 is out of range"},
    {"huge", Text("-1"), "Value -1 for 'huge' of type uint64 is out of range"},
    {"huge", Text("-0"), "0"},
    {"huge", Float(kTwoTo63 * 2),
     "Value 18446744073709551616 for 'huge' of type uint64 is out of range"},
    // floating point
    {"ratio", Float(1e39), "Value 1e+39 for 'ratio' of type float is out of range"},
    {"real", Text("-0.25"), "-0.250000"},
    {"real", Text("1e400"), "Value 1e400 for 'real' of type double is out of range"},
    {"real", Text("2.5x"), "Value 2.5x for 'real' of type double is in an incorrect format"},
    {"real", Float(std::numeric_limits<double>::infinity()),
     "Value inf for 'real' of type double is out of range"},
    {"real", Enum(3), "3.000000"},
    {"real", Bool(false),
     "Couldn't assign value to 'real' of type double because the input is of an invalid type "
     "bool."},
    // string
    {"text", Text("plain"), "plain"},
    {"text", Enum(3, true), "Green"},
    {"text", Enum(5, true), "5 is not a valid enumeration value for 'text'."},
    {"text", Signed(5), "Couldn't assign value to 'text' because the input is not a string."},
    // enum
    {"color", Text("Green"), "3"},
    {"color", Text("7"), "7"},
    {"color", Text("green"), "green is not a valid DemoColor enumeration value for 'color'."},
    {"color", Text("4"), "4 is not a valid DemoColor enumeration value for 'color'."},
    {"color", Signed(4), "4 is not a valid DemoColor enumeration value for 'color'."},
    {"color", Signed(4294967299),
     "4294967299 is not a valid DemoColor enumeration value for 'color'."},
    {"color", Unsigned(3), "3"},
    {"color", Float(3),
     "Couldn't assign value to 'color' of enum type because the input is of an invalid type "
     "float."},
    // blob
    {"bytes", Text("abc"),
     "Couldn't assign value to 'bytes' of type blob because the input is of an invalid type "
     "string."},
};

TEST(BindingConvert, ScalarRules) {
  for (const ScalarCase& row : kScalarCases) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - kScalarCases) << ": " << row.key
                                    << " from " << BindingKindName(row.input.kind));
    BindingProperty input;
    input.member(row.key) = row.input.Make();
    Scalars native;
    const BindingResult result = FromProperty(native, input, "scalars", Registry());
    if (result.Failed()) {
      EXPECT_EQ(result.ErrorMessage(), row.expected);
      continue;
    }
    const BindingResult back = ToProperty(native, Registry());
    ASSERT_THAT(back, BindingSucceeded());
    const BindingProperty* member = back.Value().Find(row.key);
    ASSERT_NE(member, nullptr);
    EXPECT_EQ(member->AsString(), row.expected);
  }
}

TEST(BindingConvert, EmptyTopLevelValues) {
  const auto fromEmpty = [](auto native) { return FromProperty(native, {}, "arg", Registry()); };
  constexpr std::string_view kRequiredText = "A value for 'arg' is required.";
  EXPECT_THAT(fromEmpty(true), IsBindingError(kRequiredText));
  EXPECT_THAT(fromEmpty(std::int32_t{1}), IsBindingError(kRequiredText));
  EXPECT_THAT(fromEmpty(1.0), IsBindingError(kRequiredText));
  EXPECT_THAT(fromEmpty(std::string()), IsBindingError(kRequiredText));
  EXPECT_THAT(fromEmpty(Color::Blue), IsBindingError(kRequiredText));
  EXPECT_THAT(fromEmpty(Tile()), IsBindingError(kRequiredText));
  EXPECT_THAT(fromEmpty(std::vector<std::int32_t>()),
              IsBindingError("Couldn't assign value to 'arg' of type vector because the input "
                             "not a collection."));
  std::optional<std::int32_t> maybe = 5;
  EXPECT_THAT(FromProperty(maybe, {}, "arg", Registry()), BindingSucceeded());
  EXPECT_EQ(maybe, std::nullopt);
}

Board SampleBoard() {
  Board board;
  board.name = "main";
  board.tiles = {{1, "one"}, {2, ""}};
  board.palette = {{"warm", {Color::Red, Color::Blue}}, {"none", {}}};
  board.limit = 0;
  board.extra.member("any").at(1).SetString("thing");
  board.marks = {true, false};
  board.grid = {{1, -2}, {}};
  board.version = 3;
  board.color = Color::Green;
  return board;
}

TEST(BindingConvert, StructuresRoundTrip) {
  const Board board = SampleBoard();
  const BindingResult produced = ToProperty(board, Registry());
  ASSERT_THAT(produced, BindingSucceeded());

  BindingProperty expected;
  expected.member("name").SetString("main");
  expected.member("tiles").at(0).member("x").SetSigned(1);
  expected.member("tiles").at(0).member("label").SetString("one");
  expected.member("tiles").at(1).member("x").SetSigned(2);  // empty label left out
  expected.member("palette").member("warm").at(0).SetEnum(0, ColorType());
  expected.member("palette").member("warm").at(1).SetEnum(7, ColorType());
  expected.member("palette").member("none").MakeCollection();
  expected.member("limit").SetSigned(0);  // an engaged optional is written even when 0
  expected.member("extra").member("any").at(1).SetString("thing");
  expected.member("marks").at(0).SetBool(true);
  expected.member("marks").at(1).SetBool(false);
  expected.member("grid").at(0).at(0).SetSigned(1);
  expected.member("grid").at(0).at(1).SetSigned(-2);
  expected.member("grid").at(1).MakeCollection();
  expected.member("version").SetUnsigned(3);
  expected.member("color").SetEnum(3, ColorType());
  EXPECT_EQ(produced.Value(), expected);

  Board parsed;
  ASSERT_THAT(FromProperty(parsed, produced.Value(), "board", Registry()), BindingSucceeded());
  EXPECT_EQ(parsed, board);
}

TEST(BindingConvert, DefaultsAreLeftOut) {
  Board board;
  board.name = "main";
  const BindingResult produced = ToProperty(board, Registry());
  ASSERT_THAT(produced, BindingSucceeded());
  std::vector<std::string_view> names;
  for (const auto member : produced.Value().Members()) {
    names.push_back(member.name);
  }
  // version 0, color Red (0), note "" and limit nullopt are left out; fields
  // without a flag are written even when empty.
  EXPECT_THAT(names, ::testing::ElementsAre("extra", "grid", "marks", "name", "palette", "tiles"));
  EXPECT_TRUE(produced.Value().Find("extra")->IsEmpty());
}

TEST(BindingConvert, MissingAndEmptyMembersKeepNativeValues) {
  BindingProperty input;
  input.member("name").SetString("next");
  input.member("note");  // empty: skipped
  input.member("unknown").SetSigned(1);
  input.member("tiles").at(0).member("x").SetSigned(5);
  input.member("tiles").at(1);             // empty element: default Tile
  input.member("palette").member("cold");  // empty member: no entry
  Board board = SampleBoard();
  ASSERT_THAT(FromProperty(board, input, "board", Registry()), BindingSucceeded());
  EXPECT_EQ(board.name, "next");
  EXPECT_EQ(board.tiles, (std::vector<Tile>{{5, ""}, {}}));
  EXPECT_TRUE(board.palette.empty());
  EXPECT_EQ(board.note, "");
  EXPECT_EQ(board.version, 3);  // absent: as it was
  EXPECT_EQ(board.limit, 0);
}

struct StructureCase {
  std::string_view name;
  void (*fill)(BindingProperty& input);
  std::string_view expected;
};

const StructureCase kStructureCases[] = {
    {"required field missing",
     [](BindingProperty& input) { input.member("tiles").MakeCollection(); },
     "Couldn't assign value to 'board' of type DemoBoard because the input structure doesn't "
     "have required field 'name'."},
    {"required field empty", [](BindingProperty& input) { input.member("name"); },
     "Couldn't assign value to 'board' of type DemoBoard because the input structure doesn't "
     "have required field 'name'."},
    {"not a structure", [](BindingProperty& input) { input.SetString("board"); },
     "Couldn't assign value to 'board' of type DemoBoard because the input not a structure."},
    {"empty", [](BindingProperty&) {}, "A value for 'board' is required."},
    {"vector from a string",
     [](BindingProperty& input) {
       input.member("name").SetString("n");
       input.member("tiles").SetString("x");
     },
     "Couldn't assign value to 'tiles' of type vector because the input not a collection."},
    {"map from a collection",
     [](BindingProperty& input) {
       input.member("name").SetString("n");
       input.member("palette").MakeCollection();
     },
     "Couldn't assign value to 'palette' of type map because the input not a structure."},
    {"innermost field named",
     [](BindingProperty& input) {
       input.member("name").SetString("n");
       input.member("tiles").at(1).member("x").SetString("12abc");
     },
     "Value 12abc for 'x' of type int32 is in an incorrect format"},
    {"enum inside a map of vectors",
     [](BindingProperty& input) {
       input.member("name").SetString("n");
       input.member("palette").member("warm").at(0).SetString("Green");
       input.member("palette").member("warm").at(1).SetString("Purple");
     },
     "Purple is not a valid DemoColor enumeration value for 'palette'."},
    {"bool vector element",
     [](BindingProperty& input) {
       input.member("name").SetString("n");
       input.member("marks").at(0).SetString("maybe");
     },
     "Value maybe for 'marks' of type bool is in an incorrect format. Options are \"true\", "
     "\"false\", \"1\", \"0\"."},
    {"nested vector element",
     [](BindingProperty& input) {
       input.member("name").SetString("n");
       input.member("grid").at(0).at(0).SetFloat(1e19);
     },
     "Value 1e+19 for 'grid' of type int64 is out of range"},
};

TEST(BindingConvert, StructureRules) {
  for (const StructureCase& row : kStructureCases) {
    SCOPED_TRACE(row.name);
    BindingProperty input;
    row.fill(input);
    Board board;
    EXPECT_THAT(FromProperty(board, input, "board", Registry()), IsBindingError(row.expected));
  }
}

TEST(BindingConvert, UnregisteredStructures) {
  Unregistered native;
  BindingProperty input;
  input.member("a").SetSigned(1);
  EXPECT_THAT(FromProperty(native, input, "thing", Registry()),
              IsBindingError("Couldn't assign value to 'thing' because the input is an "
                             "unregistered structure or not a structure at all."));
  constexpr std::string_view kUnregisteredNative =
      "Couldn't convert native value because it's an unregistered structure.";
  EXPECT_THAT(ToProperty(native, Registry()), IsBindingError(kUnregisteredNative));
  EXPECT_THAT(ToProperty(std::vector<Unregistered>{{}}, Registry()),
              IsBindingError(kUnregisteredNative));
  EXPECT_THAT(toProperty(&native, nullptr, Registry()), IsBindingError(kUnregisteredNative));
}

TEST(BindingConvert, StringKeyedMapsOfBothKinds) {
  BindingProperty expected;
  expected.member("a").SetSigned(1);
  expected.member("b").SetSigned(-2);

  const std::map<std::string, std::int32_t> ordered{{"b", -2}, {"a", 1}};
  const BindingResult fromOrdered = ToProperty(ordered, Registry());
  ASSERT_THAT(fromOrdered, BindingSucceeded());
  EXPECT_EQ(fromOrdered.Value(), expected);
  std::map<std::string, std::int32_t> orderedBack{{"stale", 9}};
  ASSERT_THAT(FromProperty(orderedBack, expected, "scores", Registry()), BindingSucceeded());
  EXPECT_EQ(orderedBack, ordered);

  const std::unordered_map<std::string, std::int32_t> hashed{{"a", 1}, {"b", -2}};
  const BindingResult fromHashed = ToProperty(hashed, Registry());
  ASSERT_THAT(fromHashed, BindingSucceeded());
  EXPECT_EQ(fromHashed.Value(), expected);

  // As fields of a registered structure, nested in each other.
  Ledger ledger;
  ledger.byName = {{"one", {1, "first"}}, {"two", {2, ""}}};
  ledger.nested = {{"outer", {{"inner", 5}}}, {"none", {}}};
  const BindingResult produced = ToProperty(ledger, Registry());
  ASSERT_THAT(produced, BindingSucceeded());
  EXPECT_EQ(produced.Value().Find("byName")->Find("one")->Find("label")->StringValue(), "first");
  EXPECT_EQ(produced.Value().Find("nested")->Find("outer")->Find("inner")->GetSigned(0), 5);
  Ledger parsed;
  ASSERT_THAT(FromProperty(parsed, produced.Value(), "ledger", Registry()), BindingSucceeded());
  EXPECT_EQ(parsed, ledger);

  BindingProperty notAStructure;
  notAStructure.at(0).SetSigned(1);
  EXPECT_THAT(FromProperty(orderedBack, notAStructure, "scores", Registry()),
              IsBindingError("Couldn't assign value to 'scores' of type map because the input not "
                             "a structure."));
}

// Every call a walk makes, in order, with its arguments.
class TraceVisitor final : public BindingVisitor {
 public:
  std::string trace;

  void Null() override { trace += "null "; }
  void Bool(bool value) override { trace += value ? "true " : "false "; }
  void Int64(std::int64_t value) override { trace += "i" + std::to_string(value) + " "; }
  void Uint64(std::uint64_t value) override { trace += "u" + std::to_string(value) + " "; }
  void Double(double value) override {
    trace += "d" + std::to_string(std::bit_cast<std::uint64_t>(value)) + " ";
  }
  void String(std::string_view bytes) override { trace += "s'" + std::string(bytes) + "' "; }
  void Blob(std::span<const std::uint8_t> bytes) override {
    trace += "b" + std::to_string(bytes.size()) + " ";
  }
  void Enum(std::int32_t value, const BindingTypeDescriptor* descriptor) override {
    trace += "e" + std::to_string(value) + (descriptor != nullptr ? "+ " : " ");
  }
  void StartArray(std::size_t count) override { trace += "[" + std::to_string(count) + " "; }
  void StartElement() override { trace += "< "; }
  void EndElement() override { trace += "> "; }
  void EndArray() override { trace += "] "; }
  void StartObject(std::size_t count) override { trace += "{" + std::to_string(count) + " "; }
  void Key(std::string_view name) override { trace += "k'" + std::string(name) + "' "; }
  void EndMember() override { trace += "; "; }
  void EndObject() override { trace += "} "; }
};

// ToJson of a native value writes exactly what ToJson of its converted tree
// writes, and VisitNative makes exactly the calls accept() makes on that
// tree; both fail as the conversion fails.
template <class T>
void ExpectJsonAsTree(const T& native, std::string_view what) {
  SCOPED_TRACE(what);
  const BindingResult tree = ToProperty(native, Registry());
  std::string direct = "stale";
  const BindingResult written = ToJson(native, Registry(), direct);
  TraceVisitor visited;
  const BindingResult walked = VisitNative(native, Registry(), visited);
  if (tree.Failed()) {
    EXPECT_THAT(written, IsBindingError(std::string(tree.ErrorMessage())));
    EXPECT_THAT(walked, IsBindingError(std::string(tree.ErrorMessage())));
    EXPECT_EQ(direct, "");
    return;
  }
  ASSERT_THAT(written, BindingSucceeded());
  EXPECT_EQ(direct, ToJson(tree.Value(), &Registry()));
  // Written again over a long text: its capacity is reused, its bytes gone.
  std::string reused(5000, 'x');
  ASSERT_THAT(ToJson(native, Registry(), reused), BindingSucceeded());
  EXPECT_EQ(reused, direct);

  ASSERT_THAT(walked, BindingSucceeded());
  TraceVisitor accepted;
  tree.Value().accept(accepted);
  EXPECT_EQ(visited.trace, accepted.trace);
}

TEST(BindingConvert, NativeJsonIsTheTreesJson) {
  ExpectJsonAsTree(SampleBoard(), "sample board");
  ExpectJsonAsTree(Board(), "default board");

  Scalars scalars;
  scalars.flag = true;
  scalars.tiny = -128;
  scalars.huge = ~std::uint64_t{0};
  scalars.ratio = std::numeric_limits<float>::infinity();
  scalars.real = -0.0;
  constexpr char kText[] = "nul \0 and \x1f \"quoted\"";
  scalars.text = std::string(kText, sizeof kText - 1);
  scalars.color = static_cast<Color>(5);  // no enumerator: its number
  scalars.bytes = {0, 0xFF};
  ExpectJsonAsTree(scalars, "scalars at their edges");
  scalars.real = std::numeric_limits<double>::quiet_NaN();
  ExpectJsonAsTree(scalars, "NaN");

  Board board = SampleBoard();
  board.palette = {{"b", {Color::Blue}}, {"B", {}}, {"a", {Color::Green}}, {"", {}}};
  board.extra.Reset();
  board.limit.reset();
  ExpectJsonAsTree(board, "hashed map keys in byte order, empty and absent values");
  board.palette = {{std::string("k\0x", 3), {Color::Blue}}, {"k", {Color::Green}}};
  ExpectJsonAsTree(board, "map keys that are one name up to a NUL");

  Ledger ledger;
  ledger.byName = {{"z", {1, "last"}}, {"A", {}}};
  ledger.nested = {{"n", {{"y", 1}, {"x", 2}}}};
  ExpectJsonAsTree(ledger, "ordered maps");
  ExpectJsonAsTree(Twins{3, "kept"}, "two fields under one name");
  ExpectJsonAsTree(Twins{3, ""}, "two fields under one name, the second omitted");

  // Every byte value, at every position of the eight-byte runs the writer
  // scans, and texts long enough to make the text grow.
  std::string everyByte;
  for (int byte = 0; byte < 256; ++byte) {
    everyByte += static_cast<char>(byte);
  }
  for (std::size_t start = 0; start < 9; ++start) {
    ExpectJsonAsTree(everyByte.substr(start), "every byte from " + std::to_string(start));
  }
  ExpectJsonAsTree(std::vector<std::string>(40, everyByte + "plain text, then \"quoted\""),
                   "long texts");
  ExpectJsonAsTree(std::vector<double>{0.0, -0.0, 1.0, -1.5, 0.1, 1e-7, 123456789.125, 1e21,
                                       5e-324, std::numeric_limits<double>::max(),
                                       -std::numeric_limits<double>::infinity()},
                   "doubles");
  ExpectJsonAsTree(std::vector<std::int64_t>{0, -1, std::numeric_limits<std::int64_t>::min(),
                                             std::numeric_limits<std::int64_t>::max()},
                   "integers at their edges");

  ExpectJsonAsTree(std::optional<std::int32_t>(), "an absent root");
  ExpectJsonAsTree(std::vector<std::optional<std::int32_t>>{1, std::nullopt}, "absent elements");
  ExpectJsonAsTree(Unregistered{}, "an unregistered structure");
  ExpectJsonAsTree(std::vector<Unregistered>{{}}, "unregistered elements");
}

TEST(BindingConvert, UntypedEntryPoints) {
  const Board board = SampleBoard();
  const BindingTypeDescriptor* type = DescriptorOf<Board>(Registry());
  const BindingResult produced = toProperty(&board, type, Registry());
  ASSERT_THAT(produced, BindingSucceeded());
  EXPECT_EQ(produced.Value(), ToProperty(board, Registry()).Value());

  Board parsed;
  BindingResult context;
  fromProperty(context, &parsed, produced.Value(), "board", type, Registry());
  EXPECT_THAT(context, BindingSucceeded());
  EXPECT_EQ(parsed, board);

  // A context that already failed is left alone.
  BindingResult failed = BindingResult::Error("earlier");
  Board untouched;
  fromProperty(failed, &untouched, produced.Value(), "board", type, Registry());
  EXPECT_THAT(failed, IsBindingError("earlier"));
  EXPECT_EQ(untouched, Board());
}

}  // namespace
}  // namespace Nalo
