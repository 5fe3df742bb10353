#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "binding/PositionalFormat.h"

namespace Nalo {
namespace {

struct FormatCase {
  std::string_view format;
  std::string_view expected;
};

// Every row is filled with the same three arguments: "alpha", 42, -7.
constexpr FormatCase kFormatCases[] = {
    {"%1 and %2 then %3", "alpha and 42 then -7"},
    {"%3%2%1", "-742alpha"},
    {"%2 twice %2", "42 twice 42"},
    {"100%% of %1", "100% of alpha"},
    {"%%1 stays", "%1 stays"},
    {"stop at %4 here", "stop at "},  // beyond the argument count: the rest is dropped
    {"%9", ""},
    {"%10", "alpha0"},  // one digit only
    {"%0 and %x and %", "%0 and %x and %"},
    {"", ""},
};

TEST(PositionalFormat, Placeholders) {
  for (const FormatCase& row : kFormatCases) {
    SCOPED_TRACE(row.format);
    EXPECT_EQ(FormatPositional(row.format, {"alpha", 42, -7}), row.expected);
  }
}

TEST(PositionalFormat, ArgumentText) {
  EXPECT_EQ(
      FormatPositional("%1 %2 %3", {std::numeric_limits<std::int64_t>::min(),
                                    std::numeric_limits<std::uint64_t>::max(), std::uint8_t{200}}),
      "-9223372036854775808 18446744073709551615 200");
  EXPECT_EQ(FormatPositional("%1 %2 %3 %4 %5",
                             {0.1, 1e300, -2.5, std::numeric_limits<double>::infinity(), 3.0}),
            "0.1 1e+300 -2.5 inf 3");
  const std::string owned = "owned";
  EXPECT_EQ(FormatPositional("%1|%2", {owned, std::string_view("a\0b", 3)}),
            std::string("owned|a\0b", 9));
}

TEST(PositionalFormat, CutsLongOutput) {
  const std::string longText(5000, 'x');
  EXPECT_EQ(FormatPositional("%1", {longText}), std::string(kMaxFormattedLength, 'x'));
  EXPECT_EQ(FormatPositional("ab%1", {std::string(kMaxFormattedLength, 'y')}).size(),
            kMaxFormattedLength);
  EXPECT_EQ(FormatPositional(longText, {}).size(), kMaxFormattedLength);
}

}  // namespace
}  // namespace Nalo
