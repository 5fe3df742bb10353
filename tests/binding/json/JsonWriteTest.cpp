#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingResult.h"
#include "binding/BindingStaticType.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/Json.h"
#include "support/BindingMatchers.h"

namespace Nalo {
namespace {

using namespace std::string_literals;

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

TEST(JsonWrite, Values) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  struct Case {
    std::string_view name;
    std::function<void(BindingProperty&)> build;
    std::string_view written;
  };
  const Case cases[] = {
      {"empty root", [](BindingProperty&) {}, ""},
      {"empty element and member", [](BindingProperty& v) { v.at(1).member("e").SetBool(false); },
       R"([null,{"e":false}])"},
      {"unsigned zero", [](BindingProperty& v) { v.SetUnsigned(0); }, "0"},
      {"float zero", [](BindingProperty& v) { v.SetFloat(0.0); }, "0.0"},
      {"negative float zero", [](BindingProperty& v) { v.SetFloat(-0.0); }, "-0.0"},
      {"shortest round trip", [](BindingProperty& v) { v.SetFloat(0.1); }, "0.1"},
      {"large exponent", [](BindingProperty& v) { v.SetFloat(1e300); }, "1e300"},
      {"smallest subnormal", [](BindingProperty& v) { v.SetFloat(5e-324); }, "5e-324"},
      {"NaN", [](BindingProperty& v) { v.SetFloat(kNan); }, "null"},
      {"non-finite inside containers",
       [](BindingProperty& v) {
         v.at(0).SetFloat(-kInfinity);
         v.at(1).member("n").SetFloat(kNan);
         v.at(2).SetFloat(2.0);
       },
       R"([null,{"n":null},2.0])"},
      {"escapes", [](BindingProperty& v) { v.SetString("\"\\/\b\f\n\r\t\x01\x1f\x7f"); },
       R"("\"\\/\b\f\n\r\t\u0001\u001F)"
       "\x7f\""},
      {"other bytes as they are", [](BindingProperty& v) { v.SetString("\xC3\xA9\xFF"); },
       "\"\xC3\xA9\xFF\""},
      {"NUL kept by the counted setter", [](BindingProperty& v) { v.SetString("a\0b"s); },
       R"("a\u0000b")"},
      {"escaped member name", [](BindingProperty& v) { v.member("q\"").SetBool(true); },
       R"({"q\"":true})"},
      {"blob", [](BindingProperty& v) { v.SetBlob(Bytes("abc")); }, R"("YWJj")"},
      {"blob with two pads", [](BindingProperty& v) { v.SetBlob(Bytes("abcd")); }, R"("YWJjZA==")"},
      {"blob with one pad", [](BindingProperty& v) { v.SetBlob(Bytes("abcde")); }, R"("YWJjZGU=")"},
      {"empty blob", [](BindingProperty& v) { v.SetBlob({}); }, R"("")"},
      {"members in byte order",
       [](BindingProperty& v) {
         for (const char* name : {"b", "a", "B", "ab", "", "\xC3\xA9", "a\x7f"}) {
           v.member(name).SetBool(true);
         }
       },
       "{\"\":true,\"B\":true,\"a\":true,\"ab\":true,\"a\x7f\":true,\"b\":true,\"\xC3\xA9\":true}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BindingProperty value;
    c.build(value);
    EXPECT_EQ(ToJson(value), c.written);
  }
}

TEST(JsonWrite, IndentedLayout) {
  BindingProperty value;
  value.member("c").MakeCollection();
  value.member("b").MakeStructure();
  BindingProperty& a = value.member("a");
  a.at(0).SetSigned(-2);
  a.at(2).SetString("two\nlines");  // element 1 stays empty
  EXPECT_EQ(ToJson(value, nullptr, kJsonLineFeed),
            "{\n"
            "    \"a\": [\n"
            "        -2,\n"
            "        null,\n"
            "        \"two\\nlines\"\n"
            "    ],\n"
            "    \"b\": {},\n"
            "    \"c\": []\n"
            "}");
  // Only the layout's line feeds are replaced; the string's stay escaped.
  EXPECT_EQ(ToJson(value, nullptr, "\r\n"),
            "{\r\n    \"a\": [\r\n        -2,\r\n        null,\r\n        \"two\\nlines\"\r\n"
            "    ],\r\n    \"b\": {},\r\n    \"c\": []\r\n}");
  EXPECT_EQ(ToJson(value, nullptr, ""), R"({"a":[-2,null,"two\nlines"],"b":{},"c":[]})");
}

TEST(JsonWrite, EnumsByNameThroughTheRegistry) {
  BindingTypeRegistry registry;
  BindingTypeBuilder builder = registry.beginType(sizeof(std::int32_t), "Test", "Color", "",
                                                  NoStaticType(), BindingTypeForm::Enumeration);
  builder.addEnumerator("Red", 0, "").addEnumerator("Verde", 1, "").addEnumerator("Green", 1, "");
  const BindingTypeDescriptor* color = &builder.Descriptor();

  struct Case {
    std::string_view name;
    std::int32_t value;
    const BindingTypeDescriptor* descriptor;
    const BindingTypeRegistry* registry;
    std::string_view written;
  };
  const Case cases[] = {
      {"named", 0, color, &registry, R"(["Red",{"e":"Red"}])"},
      {"first name in name order", 1, color, &registry, R"(["Green",{"e":"Green"}])"},
      {"unknown value", -7, color, &registry, R"([-7,{"e":-7}])"},
      {"no registry", 1, color, nullptr, R"([1,{"e":1}])"},
      {"no descriptor", 1, nullptr, &registry, R"([1,{"e":1}])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BindingProperty value;
    value.at(0).SetEnum(c.value, c.descriptor);
    value.at(1).member("e").SetEnum(c.value, c.descriptor);
    EXPECT_EQ(ToJson(value, c.registry), c.written);
  }
}

// Texts in canonical form come back byte for byte, also through the indented
// layout.
TEST(JsonWrite, RoundTrips) {
  for (
      const std::string_view text : {
          R"({"a":[1,-1,1.0,-0.0,0.1,1e300,2.2250738585072014e-308],"b":{"c":null,"d":"\u001F\\"}})",
          R"([[[]],{},[{}],"\"",18446744073709551615,-9223372036854775808,true,false])",
          "1.7976931348623157e308",
      }) {
    SCOPED_TRACE(text);
    const BindingResult parsed = ParseJson(text);
    ASSERT_THAT(parsed, BindingSucceeded());
    EXPECT_EQ(ToJson(parsed.Value()), text);
    const BindingResult reread = ParseJson(ToJson(parsed.Value(), nullptr, "\r\n"));
    ASSERT_THAT(reread, BindingSucceeded());
    EXPECT_EQ(ToJson(reread.Value()), text);
  }
}

// Every control character, at every position of a string long enough for a
// reader or writer to scan it in blocks, is escaped when written and refused
// when it arrives raw.
TEST(JsonWrite, ControlCharactersAreEscapedAtEveryPosition) {
  for (char control = 0x01; control < 0x20; ++control) {
    for (std::size_t position = 0; position < 32; ++position) {
      SCOPED_TRACE(testing::Message() << "byte " << int{control} << " at " << position);
      std::string text(48, 'x');
      text[position] = control;
      BindingProperty value;
      value.SetString(text);
      const std::string json = ToJson(value);
      EXPECT_EQ(json.find(control), std::string::npos) << json;
      const BindingResult reread = ParseJson(json);
      ASSERT_THAT(reread, BindingSucceeded());
      EXPECT_EQ(reread.Value().StringValue(), text);
      EXPECT_FALSE(ParseJson("\"" + text + "\"").Succeeded());
    }
  }
}

}  // namespace
}  // namespace Nalo
