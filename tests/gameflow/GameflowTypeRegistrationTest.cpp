#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingTypeDescriptor.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/LCDS/GameDto.h"
#include "gameflow/LCDS/PlayerCredentialsDto.h"
#include "gameflow/LCDS/ReconnectInfoDto.h"
#include "ModelRegistry.h"

namespace Nalo::Client::Gameflow {
namespace {

using Testing::Model;
using Testing::Registry;
using ::testing::ElementsAre;
using ::testing::Optional;

TEST(TypePrefix, JoinsSegmentsCapitalised) {
  struct Case {
    std::string_view shortName, prefix;
  };
  constexpr Case kCases[] = {
      {"tav-gameflow", "TavGameflow"},
      {"tav-login", "TavLogin"},
      {"data_store.v2/x!y+z", "DataStoreV2XYZ"},
      {"a--b", "AB"},            // runs of separators count once
      {"-lead", "Lead"},         // a leading separator adds nothing
      {"camelCase", "CamelCase"},  // only segment starts change case
      {"", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.shortName);
    EXPECT_EQ(TypePrefixFor(c.shortName), c.prefix);
  }
}

// Where each type sits in registration order, by full name.
std::map<std::string, std::size_t, std::less<>> RegistrationIndex() {
  std::map<std::string, std::size_t, std::less<>> index;
  const auto descriptors = Registry().Descriptors();
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    index.emplace(descriptors[i]->FullName(), i);
  }
  return index;
}

TEST(GameflowTypes, RegistrationOrderAndNames) {
  const auto descriptors = Registry().Descriptors();
  ASSERT_EQ(descriptors.size(), 29u);

  // The locale first and the server's records next, under their bare names;
  // everything else carries the plugin's prefix.
  std::vector<std::string_view> firstFour;
  for (std::size_t i = 0; i < 4; ++i) {
    firstFour.push_back(descriptors[i]->FullName());
  }
  EXPECT_THAT(firstFour, ElementsAre("TavGameflowRegionLocale", "GameflowLcdsPlayerCredentialsDto",
                                     "GameflowLcdsGameDTO", "GameflowLcdsReconnectInfoDto"));
  for (std::size_t i = 4; i < descriptors.size(); ++i) {
    EXPECT_TRUE(descriptors[i]->FullName().starts_with("TavGameflow")) << descriptors[i]->FullName();
  }
  EXPECT_EQ(descriptors.back()->FullName(), "TavGameflowLoginSession");

  // A type comes after every enumeration and structure its fields use, and
  // no field has a description.
  const auto index = RegistrationIndex();
  for (const BindingTypeDescriptor* type : descriptors) {
    for (const BindingFieldDescriptor& field : type->Fields()) {
      SCOPED_TRACE(std::string(type->FullName()) + "." + field.name);
      EXPECT_TRUE(field.description.empty());
      for (const BindingTypeDescriptor* used : {field.type.descriptor, field.elementType.descriptor}) {
        if (used != nullptr) {
          EXPECT_LT(index.find(used->FullName())->second, index.find(type->FullName())->second);
        }
      }
    }
  }
}

TEST(GameflowTypes, RecordsLcdsClassNames) {
  const LcdsClassNames& classNames = Model().classNames;
  struct Row {
    std::string_view registeredName;
    std::optional<std::string_view> byType;
    std::string_view className;
  };
  const Row rows[] = {
      {"GameflowLcdsPlayerCredentialsDto", classNames.ForType<LCDS::PlayerCredentialsDto>(),
       "com.nalogames.platform.game.PlayerCredentialsDto"},
      {"GameflowLcdsGameDTO", classNames.ForType<LCDS::GameDto>(),
       "com.nalogames.platform.game.GameDTO"},
      {"GameflowLcdsReconnectInfoDto", classNames.ForType<LCDS::ReconnectInfoDto>(),
       "com.nalogames.platform.game.PlatformGameLifecycleDTO"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.registeredName);
    EXPECT_THAT(classNames.ForTypeName(row.registeredName), Optional(row.className));
    EXPECT_THAT(row.byType, Optional(row.className));
  }
  // Only the server's records have one.
  EXPECT_EQ(classNames.size(), 3u);
  EXPECT_EQ(classNames.ForType<Api::GameflowSession>(), std::nullopt);
  EXPECT_EQ(classNames.ForTypeName("TavGameflowGameflowSession"), std::nullopt);
}

TEST(GameflowTypes, RegisteringAgainChangesNothing) {
  RegisteredModel& model = Model();
  const auto before = model.registry.Descriptors();
  const std::size_t fieldsOfSession =
      DescriptorOf<Api::GameflowSession>(model.registry)->Fields().size();

  RegisterGameflowTypes(model.registry, model.classNames);

  EXPECT_EQ(model.registry.Descriptors(), before);
  EXPECT_EQ(DescriptorOf<Api::GameflowSession>(model.registry)->Fields().size(), fieldsOfSession);
  EXPECT_EQ(model.classNames.size(), 3u);
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
