#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "plugin/LcdsClassNames.h"

namespace Nalo {
namespace {

using ::testing::Optional;

struct Summoner {};
struct Champion {};

TEST(LcdsClassNames, FirstRegistrationOfANameOrTypeWins) {
  LcdsClassNames classNames;
  classNames.Register<Summoner>("LcdsSummoner", "com.example.Summoner");
  const std::string_view kept = *classNames.ForTypeName("LcdsSummoner");
  // The same name for another type, the same type under another name, and
  // enough entries to make both tables grow.
  classNames.Register<Champion>("LcdsSummoner", "com.example.Champion");
  classNames.Register<Summoner>("LcdsOther", "com.example.Other");
  for (std::uint32_t id = 1; id <= 100; ++id) {
    classNames.Register(id, "Lcds" + std::to_string(id), "com.example.Item");
  }

  EXPECT_THAT(classNames.ForTypeName("LcdsSummoner"), Optional(kept));
  EXPECT_EQ(kept, "com.example.Summoner");  // still readable after the growth
  EXPECT_THAT(classNames.ForType<Summoner>(), Optional(kept));
  EXPECT_THAT(classNames.ForStaticTypeId(StaticTypeOf<Champion>().id),
              Optional(std::string_view("com.example.Champion")));
  EXPECT_THAT(classNames.ForTypeName("LcdsOther"), Optional(std::string_view("com.example.Other")));
  // Names are the registered ones, compared exactly.
  EXPECT_EQ(classNames.ForTypeName("Summoner"), std::nullopt);
  EXPECT_EQ(classNames.ForTypeName("lcdssummoner"), std::nullopt);
  EXPECT_EQ(classNames.ForType<int>(), std::nullopt);
}

TEST(LcdsClassNamesDeathTest, TypeWithoutIdentityIsRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  LcdsClassNames classNames;
  EXPECT_DEATH(classNames.Register(kNoStaticTypeId, "Anything", "com.example.Anything"),
               "An LCDS class name needs a native type to check replies against.");
}

}  // namespace
}  // namespace Nalo
