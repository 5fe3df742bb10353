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

TEST(LcdsClassNames, LooksUpByNameAndByType) {
  LcdsClassNames classNames;
  classNames.Register<Summoner>("LcdsSummoner", "com.example.Summoner");

  EXPECT_THAT(classNames.ForTypeName("LcdsSummoner"), Optional(std::string_view("com.example.Summoner")));
  EXPECT_THAT(classNames.ForType<Summoner>(), Optional(std::string_view("com.example.Summoner")));
  EXPECT_THAT(classNames.ForStaticTypeId(StaticTypeOf<Summoner>().id),
              Optional(std::string_view("com.example.Summoner")));

  EXPECT_EQ(classNames.ForTypeName("Summoner"), std::nullopt);  // the native name isn't a key
  EXPECT_EQ(classNames.ForTypeName("lcdssummoner"), std::nullopt);
  EXPECT_EQ(classNames.ForType<Champion>(), std::nullopt);
}

TEST(LcdsClassNames, FirstRegistrationWins) {
  LcdsClassNames classNames;
  classNames.Register<Summoner>("LcdsSummoner", "com.example.Summoner");
  // The same name for another type, and the same type under another name.
  classNames.Register<Champion>("LcdsSummoner", "com.example.Champion");
  classNames.Register<Summoner>("LcdsOther", "com.example.Other");

  EXPECT_THAT(classNames.ForTypeName("LcdsSummoner"), Optional(std::string_view("com.example.Summoner")));
  EXPECT_THAT(classNames.ForType<Summoner>(), Optional(std::string_view("com.example.Summoner")));
  EXPECT_THAT(classNames.ForType<Champion>(), Optional(std::string_view("com.example.Champion")));
  EXPECT_THAT(classNames.ForTypeName("LcdsOther"), Optional(std::string_view("com.example.Other")));
}

TEST(LcdsClassNames, ViewsOutliveLaterRegistrations) {
  LcdsClassNames classNames;
  classNames.Register<Summoner>("LcdsSummoner", "com.example.Summoner");
  const std::string_view byName = *classNames.ForTypeName("LcdsSummoner");
  const std::string_view byType = *classNames.ForType<Summoner>();
  // Enough ids to make the tables grow several times.
  for (std::uint32_t id = 1; id <= 200; ++id) {
    classNames.Register(id, "Lcds" + std::to_string(id), "com.example.Item" + std::to_string(id));
  }
  EXPECT_EQ(byName, "com.example.Summoner");
  EXPECT_EQ(byType, "com.example.Summoner");
}

TEST(LcdsClassNamesDeathTest, TypeWithoutIdentityIsRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  LcdsClassNames classNames;
  EXPECT_DEATH(classNames.Register(kNoStaticTypeId, "Anything", "com.example.Anything"),
               "An LCDS class name needs a native type to check replies against.");
}

}  // namespace
}  // namespace Nalo
