// Decodes every encoding of the MessagePack test-suite vectors
// (tests/data/msgpack, see its README) and compares it with the value the
// vector describes. Ext and timestamp vectors use extension types, which this
// reader refuses: each must fail with the invalid-data message at the byte
// after its type byte.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/MessagePack.h"
#include "support/BindingMatchers.h"
#include "tests/binding/encodings/ValueText.h"

namespace Nalo {
namespace {

constexpr std::string_view kSuiteFile = NALO_MSGPACK_TEST_DATA_DIR "/msgpack-test-suite.json";

// Encodings in the suite (README "Counts"), and those using extension types.
constexpr std::size_t kSuiteEncodings = 233;
constexpr std::size_t kExtensionEncodings = 30;

// "cd-00-01" as bytes; an empty text is no bytes.
std::vector<std::uint8_t> HexBytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3) {
    bytes.push_back(
        static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

// An integer or float value compared as a number: the suite lists integer
// values in float encodings too.
bool SameNumber(const rapidjson::Value& expected, const BindingProperty& actual) {
  switch (actual.Kind()) {
    case BindingKind::Signed:
      return expected.IsInt64() ? expected.GetInt64() == actual.GetSigned(0)
                                : expected.GetDouble() == static_cast<double>(actual.GetSigned(0));
    case BindingKind::Unsigned:
      return expected.IsUint64()
                 ? expected.GetUint64() == actual.GetUnsigned(0)
                 : expected.GetDouble() == static_cast<double>(actual.GetUnsigned(0));
    case BindingKind::Float:
      return expected.GetDouble() == actual.GetFloat(0);
    default:
      return false;
  }
}

// Whether `actual` is the plain JSON value `expected` (a number, string, null,
// bool, array or object nested inside an "array" or "map" vector).
bool Matches(const rapidjson::Value& expected, const BindingProperty& actual) {
  if (expected.IsNull()) {
    return actual.IsEmpty();
  }
  if (expected.IsBool()) {
    return actual.Kind() == BindingKind::Bool && actual.BoolValue() == expected.GetBool();
  }
  if (expected.IsNumber()) {
    return SameNumber(expected, actual);
  }
  if (expected.IsString()) {
    return actual.Kind() == BindingKind::String &&
           actual.StringValue() ==
               std::string_view(expected.GetString(), expected.GetStringLength());
  }
  if (expected.IsArray()) {
    if (actual.Kind() != BindingKind::Collection || actual.size() != expected.Size()) {
      return false;
    }
    for (rapidjson::SizeType i = 0; i < expected.Size(); ++i) {
      if (!Matches(expected[i], actual.Elements()[i])) {
        return false;
      }
    }
    return true;
  }
  if (actual.Kind() != BindingKind::Structure || actual.size() != expected.MemberCount()) {
    return false;
  }
  for (const auto& member : expected.GetObject()) {
    const BindingProperty* value = actual.Find(member.name.GetString());
    if (value == nullptr || !Matches(member.value, *value)) {
      return false;
    }
  }
  return true;
}

// Whether `actual` is the value a vector describes under `key`.
bool MatchesVector(std::string_view key, const rapidjson::Value& expected,
                   const BindingProperty& actual) {
  if (key == "binary") {
    const std::vector<std::uint8_t> bytes = HexBytes(expected.GetString());
    const std::span<const std::uint8_t> blob = actual.BlobValue();
    return actual.Kind() == BindingKind::Blob &&
           std::equal(blob.begin(), blob.end(), bytes.begin(), bytes.end());
  }
  if (key == "bignum") {
    const std::string text = expected.GetString();
    return (actual.Kind() == BindingKind::Signed && std::to_string(actual.GetSigned(0)) == text) ||
           (actual.Kind() == BindingKind::Unsigned &&
            std::to_string(actual.GetUnsigned(0)) == text) ||
           (actual.Kind() == BindingKind::Float && actual.GetFloat(0) == std::stod(text));
  }
  return Matches(expected, actual);
}

TEST(MessagePackConformance, TestSuiteVectors) {
  std::ifstream stream{std::string(kSuiteFile), std::ios::binary};
  ASSERT_TRUE(stream) << "missing test data " << kSuiteFile;
  const std::string text((std::istreambuf_iterator<char>(stream)), {});
  rapidjson::Document document;
  document.Parse(text.data(), text.size());
  ASSERT_FALSE(document.HasParseError());
  ASSERT_TRUE(document.IsObject());
  // Read through const views only: their iterators compare unambiguously.
  const rapidjson::Value& suite = document;

  std::size_t decoded = 0;
  std::size_t refused = 0;
  for (const auto& group : suite.GetObject()) {
    for (const rapidjson::Value& vector : group.value.GetArray()) {
      // The value key: "bignum" wins over the "number" it may come with.
      std::string_view key;
      const rapidjson::Value* expected = nullptr;
      for (const auto& member : vector.GetObject()) {
        const std::string_view name = member.name.GetString();
        if (name != "msgpack" && (key.empty() || name == "bignum")) {
          key = name;
          expected = &member.value;
        }
      }
      ASSERT_NE(expected, nullptr) << group.name.GetString();
      const bool isExtension = key == "ext" || key == "timestamp";
      for (const rapidjson::Value& encoding : vector["msgpack"].GetArray()) {
        SCOPED_TRACE(std::string(group.name.GetString()) + " " + encoding.GetString());
        const std::vector<std::uint8_t> bytes = HexBytes(encoding.GetString());
        const MessagePackParse parsed = ParseMessagePack(bytes);
        if (isExtension) {
          EXPECT_THAT(parsed.result, IsBindingError("Invalid MessagePack data at position 1."));
          ++refused;
          continue;
        }
        ASSERT_THAT(parsed.result, BindingSucceeded());
        EXPECT_TRUE(MatchesVector(key, *expected, parsed.result.Value()))
            << "decoded " << ValueText(parsed.result.Value());
        EXPECT_EQ(parsed.end, bytes.size());
        ++decoded;
      }
    }
  }
  EXPECT_EQ(decoded + refused, kSuiteEncodings);
  EXPECT_EQ(refused, kExtensionEncodings);
}

}  // namespace
}  // namespace Nalo
