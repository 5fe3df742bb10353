#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "ModelRegistry.h"
#include "binding/BindingTypeDescriptor.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/LCDS/ReconnectInfoDto.h"

namespace Nalo::Client::Gameflow {
namespace {

using Testing::Model;
using ::testing::Optional;
using Testing::Registry;

TEST(TypePrefix, JoinsSegmentsCapitalised) {
  struct Case {
    std::string_view shortName, prefix;
  };
  constexpr Case kCases[] = {
      {"tav-gameflow", "TavGameflow"},
      {"data_store.v2/x!y+z", "DataStoreV2XYZ"},
      {"-a--b", "AB"},             // leading separators and runs add nothing
      {"camelCase", "CamelCase"},  // only segment starts change case
      {"", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.shortName);
    EXPECT_EQ(TypePrefixFor(c.shortName), c.prefix);
  }
}

TEST(GameflowTypes, RegistrationOrderAndNames) {
  const auto descriptors = Registry().Descriptors();
  ASSERT_EQ(descriptors.size(), 29u);
  std::map<std::string_view, std::size_t> position;
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    position[descriptors[i]->FullName()] = i;
  }
  // The locale first and the server's records next, under their bare names;
  // everything else carries the plugin's prefix.
  EXPECT_EQ(position["TavGameflowRegionLocale"], 0u);
  EXPECT_EQ(position["GameflowLcdsPlayerCredentialsDto"], 1u);
  EXPECT_EQ(position["GameflowLcdsGameDTO"], 2u);
  EXPECT_EQ(position["GameflowLcdsReconnectInfoDto"], 3u);
  EXPECT_EQ(position["TavGameflowLoginSession"], 28u);
  for (std::size_t i = 4; i < descriptors.size(); ++i) {
    EXPECT_TRUE(descriptors[i]->FullName().starts_with("TavGameflow"))
        << descriptors[i]->FullName();
  }

  // A type comes after every enumeration and structure its fields use, no
  // field has a description, and no two fields share a member.
  for (const BindingTypeDescriptor* type : descriptors) {
    std::set<std::uint32_t> offsets;
    for (const BindingFieldDescriptor& field : type->Fields()) {
      SCOPED_TRACE(std::string(type->FullName()) + "." + field.name);
      EXPECT_TRUE(offsets.insert(field.offset).second);
      EXPECT_TRUE(field.description.empty());
      for (const BindingTypeDescriptor* used :
           {field.type.descriptor, field.elementType.descriptor}) {
        if (used != nullptr) {
          EXPECT_LT(position[used->FullName()], position[type->FullName()]);
        }
      }
    }
  }
}

TEST(GameflowTypes, RecordsLcdsClassNames) {
  const LcdsClassNames& classNames = Model().classNames;
  EXPECT_THAT(classNames.ForTypeName("GameflowLcdsPlayerCredentialsDto"),
              Optional(std::string_view("com.nalogames.platform.game.PlayerCredentialsDto")));
  EXPECT_THAT(classNames.ForTypeName("GameflowLcdsGameDTO"),
              Optional(std::string_view("com.nalogames.platform.game.GameDTO")));
  EXPECT_THAT(classNames.ForTypeName("GameflowLcdsReconnectInfoDto"),
              Optional(std::string_view("com.nalogames.platform.game.PlatformGameLifecycleDTO")));
  EXPECT_EQ(classNames.ForType<LCDS::ReconnectInfoDto>(), LCDS::kReconnectInfoDtoClassName);
  EXPECT_EQ(classNames.ForType<LCDS::GameDto>(), LCDS::kGameDtoClassName);
  EXPECT_EQ(classNames.ForType<LCDS::PlayerCredentialsDto>(), LCDS::kPlayerCredentialsDtoClassName);
  // Only the server's records have one.
  EXPECT_EQ(classNames.size(), 3u);
  EXPECT_EQ(classNames.ForType<Api::GameflowSession>(), std::nullopt);
}

TEST(GameflowTypes, RegisteringAgainChangesNothing) {
  Testing::RegisteredModel& model = Model();
  const auto before = model.registry.Descriptors();
  RegisterGameflowTypes(model.registry, model.classNames);
  EXPECT_EQ(model.registry.Descriptors(), before);
  EXPECT_EQ(DescriptorOf<Api::GameflowSession>(model.registry)->Fields().size(), 5u);
  EXPECT_EQ(model.classNames.size(), 3u);
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
