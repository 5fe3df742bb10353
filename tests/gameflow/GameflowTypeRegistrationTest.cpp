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

namespace Nalo::Client::Gameflow {
namespace {

using Testing::Model;
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

TEST(GameflowTypes, EachTypeFollowsTheTypesItUsesUnderItsPrefix) {
  const auto descriptors = Registry().Descriptors();
  std::map<std::string_view, std::size_t> position;
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    position[descriptors[i]->FullName()] = i;
  }
  // The server's records keep their bare names; everything else carries the
  // plugin's prefix.
  for (const BindingTypeDescriptor* type : descriptors) {
    EXPECT_TRUE(type->FullName().starts_with("TavGameflow") ||
                type->FullName().starts_with("GameflowLcds"))
        << type->FullName();
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
