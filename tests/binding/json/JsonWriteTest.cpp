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

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// {"a":[1,-2,1.5,true,null,"x"],"b":{},"c":[]} built by hand, members inserted
// out of order.
BindingProperty Sample() {
  BindingProperty value;
  value.member("c").MakeCollection();
  value.member("b").MakeStructure();
  BindingProperty& a = value.member("a");
  a.at(0).SetUnsigned(1);
  a.at(1).SetSigned(-2);
  a.at(2).SetFloat(1.5);
  a.at(3).SetBool(true);
  a.at(5).SetString("x");  // element 4 stays empty
  return value;
}

struct ScalarCase {
  std::string_view name;
  std::function<void(BindingProperty&)> build;
  std::string_view written;
};

TEST(JsonWrite, Scalars) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  const ScalarCase cases[] = {
      {"empty root", [](BindingProperty&) {}, ""},
      {"false", [](BindingProperty& v) { v.SetBool(false); }, "false"},
      {"unsigned zero", [](BindingProperty& v) { v.SetUnsigned(0); }, "0"},
      {"largest unsigned", [](BindingProperty& v) { v.SetUnsigned(UINT64_MAX); },
       "18446744073709551615"},
      {"smallest signed", [](BindingProperty& v) { v.SetSigned(INT64_MIN); },
       "-9223372036854775808"},
      {"float zero", [](BindingProperty& v) { v.SetFloat(0.0); }, "0.0"},
      {"negative float zero", [](BindingProperty& v) { v.SetFloat(-0.0); }, "-0.0"},
      {"integral float", [](BindingProperty& v) { v.SetFloat(3.0); }, "3.0"},
      {"shortest round trip", [](BindingProperty& v) { v.SetFloat(0.1); }, "0.1"},
      {"large exponent", [](BindingProperty& v) { v.SetFloat(1e300); }, "1e300"},
      {"smallest subnormal", [](BindingProperty& v) { v.SetFloat(5e-324); }, "5e-324"},
      {"NaN", [](BindingProperty& v) { v.SetFloat(kNan); }, "null"},
      {"infinity", [](BindingProperty& v) { v.SetFloat(-kInfinity); }, "null"},
      {"non-finite inside containers",
       [](BindingProperty& v) {
         v.at(0).SetFloat(kInfinity);
         v.at(1).member("n").SetFloat(kNan);
         v.at(2).SetFloat(2.0);
       },
       R"([null,{"n":null},2.0])"},
      {"escapes", [](BindingProperty& v) { v.SetString("\"\\/\b\f\n\r\t\x01\x1f\x7f"); },
       R"("\"\\/\b\f\n\r\t\u0001\u001F)" "\x7f\""},
      {"multi-byte and invalid bytes kept", [](BindingProperty& v) { v.SetString("\xC3\xA9\xFF"); },
       "\"\xC3\xA9\xFF\""},
      {"NUL kept by the counted setter", [](BindingProperty& v) { v.SetString("a\0b"s); },
       R"("a\u0000b")"},
      {"escaped member name", [](BindingProperty& v) { v.member("q\"").SetBool(true); },
       R"({"q\"":true})"},
      {"blob", [](BindingProperty& v) { v.SetBlob(Bytes("abc")); }, R"("YWJj")"},
      {"blob with two pads", [](BindingProperty& v) { v.SetBlob(Bytes("abcd")); },
       R"("YWJjZA==")"},
      {"blob with one pad", [](BindingProperty& v) { v.SetBlob(Bytes("abcde")); },
       R"("YWJjZGU=")"},
      {"empty blob", [](BindingProperty& v) { v.SetBlob({}); }, R"("")"},
      {"enum without descriptor", [](BindingProperty& v) { v.SetEnum(-3, nullptr); }, "-3"},
  };
  for (const ScalarCase& c : cases) {
    SCOPED_TRACE(c.name);
    BindingProperty value;
    c.build(value);
    EXPECT_EQ(ToJson(value), c.written);
  }
}

TEST(JsonWrite, Layouts) {
  struct Case {
    std::string_view name;
    std::string_view separator;
    std::string_view written;
  };
  const Case cases[] = {
      {"compact", "", R"({"a":[1,-2,1.5,true,null,"x"],"b":{},"c":[]})"},
      {"line feed",
       kJsonLineFeed,
       "{\n"
       "    \"a\": [\n"
       "        1,\n"
       "        -2,\n"
       "        1.5,\n"
       "        true,\n"
       "        null,\n"
       "        \"x\"\n"
       "    ],\n"
       "    \"b\": {},\n"
       "    \"c\": []\n"
       "}"},
      {"carriage return and line feed",
       "\r\n",
       "{\r\n"
       "    \"a\": [\r\n"
       "        1,\r\n"
       "        -2,\r\n"
       "        1.5,\r\n"
       "        true,\r\n"
       "        null,\r\n"
       "        \"x\"\r\n"
       "    ],\r\n"
       "    \"b\": {},\r\n"
       "    \"c\": []\r\n"
       "}"},
  };
  const BindingProperty sample = Sample();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToJson(sample, nullptr, c.separator), c.written);
  }

  // Line feeds inside strings are escaped, so only the layout's are replaced.
  BindingProperty text;
  text.at(0).SetString("two\nlines");
  EXPECT_EQ(ToJson(text, nullptr, "\r\n"), "[\r\n    \"two\\nlines\"\r\n]");
  // A scalar root has no lines to separate.
  BindingProperty scalar;
  scalar.SetFloat(0.0);
  EXPECT_EQ(ToJson(scalar, nullptr, "\r\n"), "0.0");
}

TEST(JsonWrite, MembersInByteOrderOfNames) {
  BindingProperty value;
  for (const char* name : {"b", "a", "B", "ab", "", "\xC3\xA9", "a\x7f"}) {
    value.member(name).SetString(name);
  }
  EXPECT_EQ(ToJson(value),
            "{\"\":\"\",\"B\":\"B\",\"a\":\"a\",\"ab\":\"ab\",\"a\x7f\":\"a\x7f\","
            "\"b\":\"b\",\"\xC3\xA9\":\"\xC3\xA9\"}");
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

// Texts in canonical form come back byte for byte, compact and pretty.
TEST(JsonWrite, RoundTrips) {
  const std::string_view texts[] = {
      R"({"a":[1,-1,1.0,-0.0,0.1,1e300,2.2250738585072014e-308],"b":{"c":null,"d":"\u001F\\"}})",
      R"([[[]],{},[{}],"\"",18446744073709551615,-9223372036854775808,true,false])",
      R"("\u0001\b\t")",
      "1.7976931348623157e308",
  };
  for (std::string_view text : texts) {
    SCOPED_TRACE(text);
    const BindingResult parsed = ParseJson(text);
    ASSERT_THAT(parsed, BindingSucceeded());
    EXPECT_EQ(ToJson(parsed.Value()), text);
    const std::string pretty = ToJson(parsed.Value(), nullptr, "\r\n");
    const BindingResult reread = ParseJson(pretty);
    ASSERT_THAT(reread, BindingSucceeded());
    EXPECT_EQ(ToJson(reread.Value()), text);
  }
}

}  // namespace
}  // namespace Nalo
