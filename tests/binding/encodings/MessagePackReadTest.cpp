#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingLimits.h"
#include "binding/MessagePack.h"
#include "support/BindingMatchers.h"
#include "tests/binding/encodings/ValueText.h"

namespace Nalo {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct DecodeCase {
  std::string_view name;
  Bytes bytes;
  std::string_view value;  // ValueText of the result
  std::size_t end;
};

// The conformance vectors cover every family's values; these rows cover the
// kinds chosen, the container rules and where reading stops.
TEST(MessagePackRead, KindsContainersAndEnd) {
  const DecodeCase cases[] = {
      {"positive fixint is signed", {0x05}, "s5", 1},
      {"uint 8 is unsigned", {0xCC, 0x05}, "u5", 2},
      {"uint 64",
       {0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       "u18446744073709551615",
       9},
      {"negative fixint", {0xE0}, "s-32", 1},
      {"int 8", {0xD0, 0x80}, "s-128", 2},
      {"int 64", {0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0}, "s-9223372036854775808", 9},
      {"float 32 widened", {0xCA, 0x3F, 0xC0, 0x00, 0x00}, "f1.5", 5},
      {"fixstr keeps a NUL", {0xA3, 'a', 0x00, 'b'}, R"("a\x00b")", 4},
      {"str 8 empty", {0xD9, 0x00}, R"("")", 2},
      {"bin 8", {0xC4, 0x02, 0x00, 0xFF}, "b'00ff'", 4},
      {"fixarray", {0x93, 0x01, 0xA1, 'x', 0xC0}, R"([s1, "x", ~])", 5},
      {"fixmap members in byte order",
       {0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0x91, 0x02},
       "{a: [s2], b: s1}",
       8},
      {"key ends at its first NUL", {0x81, 0xA3, 'a', 0x00, 'b', 0x01}, "{a: s1}", 6},
      {"repeated key: a scalar replaces", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0x02}, "{a: s2}", 7},
      {"repeated key: maps merge",
       {0x82, 0xA1, 'a', 0x81, 0xA1, 'x', 0x01, 0xA1, 'a', 0x81, 0xA1, 'y', 0x02},
       "{a: {x: s1, y: s2}}",
       13},
      {"repeated key: an array is written over from index 0",
       {0x82, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x91, 0x03},
       "{a: [s3, s2]}",
       10},
      {"zero-length data", {}, "~", 0},
      {"data ends inside an array", {0x92, 0x01}, "[s1]", 2},
      {"data ends after a key", {0x82, 0xA1, 'a'}, "{a: ~}", 3},
      {"a count beyond the data reserves nothing for it",
       {0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x01},
       "[s1]",
       6},
      {"map 32 with no pairs present", {0xDF, 0xFF, 0xFF, 0xFF, 0xFF}, "{}", 5},
      {"a scalar followed by more bytes", {0x01, 0x02}, "s1", 1},
      {"an array followed by more bytes", {0x91, 0x01, 0x02}, "[s1]", 2},
      {"an empty array followed by more bytes", {0x90, 0x01}, "[]", 1},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const MessagePackParse parsed = ParseMessagePack(c.bytes);
    ASSERT_THAT(parsed.result, BindingSucceeded());
    EXPECT_EQ(ValueText(parsed.result.Value()), c.value);
    EXPECT_EQ(parsed.end, c.end);
  }
}

TEST(MessagePackRead, StartsAtTheGivenOffset) {
  const Bytes bytes = {0x01, 0x91, 0x02, 0xC0};
  struct OffsetCase {
    std::size_t offset;
    std::string_view value;
    std::size_t end;
  };
  const OffsetCase cases[] = {{0, "s1", 1}, {1, "[s2]", 3}, {3, "~", 4}, {4, "~", 4}, {9, "~", 9}};
  for (const OffsetCase& c : cases) {
    SCOPED_TRACE(c.offset);
    const MessagePackParse parsed = ParseMessagePack(bytes, c.offset);
    ASSERT_THAT(parsed.result, BindingSucceeded());
    EXPECT_EQ(ValueText(parsed.result.Value()), c.value);
    EXPECT_EQ(parsed.end, c.end);
  }
  // Positions in messages count from the start of the data, not the offset.
  const Bytes truncated = {0xC0, 0xC0, 0xCD, 0x01};
  EXPECT_THAT(
      ParseMessagePack(truncated, 2).result,
      IsBindingError("Invalid MessagePack data. 16-bit integer value at position 3 is truncated."));
}

struct ErrorCase {
  std::string_view name;
  Bytes bytes;
  std::string_view message;
  std::size_t end;  // the type byte of the value that failed
};

TEST(MessagePackRead, RefusesBadDataWithItsPosition) {
  // clang-format off
  const ErrorCase cases[] = {
      {"never-used byte", {0xC1}, "Invalid MessagePack data at position 1.", 0},
      {"fixext 1", {0xD4, 0x01, 0x10}, "Invalid MessagePack data at position 1.", 0},
      {"ext 8", {0xC7, 0x00, 0x06}, "Invalid MessagePack data at position 1.", 0},
      {"ext 32 inside an array", {0x92, 0x01, 0xC9, 0, 0, 0, 0, 6},
       "Invalid MessagePack data at position 3.", 2},
      {"integer key", {0x81, 0x01, 0x02},
       "Invalid MessagePack data at position 2. Map keys must be strings.", 1},
      {"array key", {0x81, 0x90, 0x02},
       "Invalid MessagePack data at position 2. Map keys must be strings.", 1},
      {"uint 8", {0xCC},
       "Invalid MessagePack data. 8-bit integer value at position 1 is truncated.", 0},
      {"uint 16", {0xCD, 0x01},
       "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.", 0},
      {"int 32", {0xD2, 0x01, 0x02, 0x03},
       "Invalid MessagePack data. 32-bit integer value at position 1 is truncated.", 0},
      {"uint 64", {0xCF, 1, 2, 3, 4, 5, 6, 7},
       "Invalid MessagePack data. 64-bit integer value at position 1 is truncated.", 0},
      {"float 32", {0xCA, 0x3F},
       "Invalid MessagePack data. 32-bit integer value at position 1 is truncated.", 0},
      {"str 8 length", {0xD9},
       "Invalid MessagePack data. 8-bit integer value at position 1 is truncated.", 0},
      {"bin 16 length", {0xC5, 0x00},
       "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.", 0},
      {"map 32 count", {0xDF, 0x00, 0x00, 0x00},
       "Invalid MessagePack data. 32-bit integer value at position 1 is truncated.", 0},
      {"value nested in arrays", {0x91, 0x91, 0xCD},
       "Invalid MessagePack data. 16-bit integer value at position 3 is truncated.", 2},
      {"fixstr", {0xA3, 0x61},
       "Invalid MessagePack data. String of size 3 at position 1 is truncated.", 0},
      {"str 32 declaring 4 GiB", {0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
       "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated.", 0},
      {"key", {0x81, 0xA2, 'a'},
       "Invalid MessagePack data. String of size 2 at position 2 is truncated.", 1},
      {"bin 8", {0xC4, 0x09, 0x01, 0x02},
       "Invalid MessagePack data. Raw bytes of size 9 at position 2 are truncated.", 0},
      {"bin 32 declaring 4 GiB", {0xC6, 0xFF, 0xFF, 0xFF, 0xFF, 0x00},
       "Invalid MessagePack data. Raw bytes of size 4294967295 at position 5 are truncated.", 0},
  };
  // clang-format on
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    const MessagePackParse parsed = ParseMessagePack(c.bytes);
    EXPECT_THAT(parsed.result, IsBindingError(c.message));
    EXPECT_EQ(parsed.result.Value().size(), 1u);  // only {"error": ...}
    EXPECT_EQ(parsed.end, c.end);
  }
}

TEST(MessagePackRead, RefusesNestingPastTheLimit) {
  // `levels` one-element containers around a nil; a map level is 0x81 "k".
  const auto nested = [](std::size_t levels, bool maps) {
    Bytes bytes;
    for (std::size_t i = 0; i < levels; ++i) {
      if (maps) {
        bytes.insert(bytes.end(), {0x81, 0xA1, 'k'});
      } else {
        bytes.push_back(0x91);
      }
    }
    bytes.push_back(0xC0);
    return bytes;
  };
  for (const bool maps : {false, true}) {
    SCOPED_TRACE(maps ? "maps" : "arrays");
    const MessagePackParse deepest = ParseMessagePack(nested(kMaxNestingDepth, maps));
    ASSERT_THAT(deepest.result, BindingSucceeded());
    const BindingProperty* value = &deepest.result.Value();
    std::size_t levels = 0;
    while (value->Kind() == BindingKind::Collection || value->Kind() == BindingKind::Structure) {
      value = maps ? value->Find("k") : &value->Elements()[0];
      ++levels;
    }
    EXPECT_EQ(levels, kMaxNestingDepth);

    // The refused container's type byte is the 513th level's.
    const std::size_t position = kMaxNestingDepth * (maps ? 3 : 1) + 1;
    EXPECT_THAT(ParseMessagePack(nested(kMaxNestingDepth + 1, maps)).result,
                IsBindingError("Invalid MessagePack data at position " + std::to_string(position) +
                               ". Containers nested deeper than 512 levels are not supported."));
  }
}

}  // namespace
}  // namespace Nalo
