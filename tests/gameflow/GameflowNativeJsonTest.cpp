// Every registered gameflow type written straight from its native record
// gives the same text as the value-tree path, byte for byte, and the same
// host value (the published form): never set, fully populated, and with
// every other field left at its default.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "ModelRegistry.h"
#include "abi/HostValue.h"
#include "binding/BindingConvert.h"
#include "binding/BindingTypeDescriptor.h"
#include "binding/Json.h"
#include "gameflow/Api/GameflowAvailability.h"
#include "gameflow/Api/GameflowProcessInfo.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/Api/LoginSession.h"
#include "gameflow/Api/PatcherProductState.h"
#include "gameflow/Api/PlayerStatus.h"
#include "gameflow/Api/Queue.h"
#include "gameflow/Api/RegionLocale.h"
#include "gameflow/Api/ReplaysSettings.h"
#include "gameflow/LCDS/GameDto.h"
#include "gameflow/LCDS/PlayerCredentialsDto.h"
#include "gameflow/LCDS/ReconnectInfoDto.h"
#include "support/BindingMatchers.h"

namespace Nalo::Client::Gameflow {
namespace {

using namespace Api;
using namespace LCDS;
using Testing::Registry;

constexpr int kDeepestSample = 6;

// A value of the type `type` (element `element` for containers) with
// nothing at its default. `variant` varies the numbers and texts.
void Sample(const BindingTypeIdentifier& type, const BindingTypeIdentifier& element, int variant,
            int depth, bool sparse, BindingProperty& value);

void SampleStruct(const BindingTypeDescriptor& descriptor, int variant, int depth, bool sparse,
                  BindingProperty& value) {
  value.MakeStructure();
  int index = 0;
  for (const BindingFieldDescriptor& field : descriptor.Fields()) {
    if (!sparse || index++ % 2 == 0) {
      Sample(field.type, field.elementType, variant + index, depth + 1, sparse,
             value.member(field.name));
    }
  }
}

void SampleScalar(BindingTypeId type, const BindingTypeDescriptor* descriptor, int variant,
                  int depth, bool sparse, BindingProperty& value) {
  switch (type) {
    case BindingTypeId::Bool:
      value.SetBool(true);
      break;
    case BindingTypeId::Int8:
    case BindingTypeId::Int16:
    case BindingTypeId::Int32:
    case BindingTypeId::Int64:
      value.SetSigned(variant % 2 == 0 ? -variant - 1 : variant + 1);
      break;
    case BindingTypeId::Uint8:
    case BindingTypeId::Uint16:
    case BindingTypeId::Uint32:
    case BindingTypeId::Uint64:
      value.SetUnsigned(static_cast<std::uint64_t>(variant) + 1);
      break;
    case BindingTypeId::Float:
    case BindingTypeId::Double:
      value.SetFloat(0.25 * (variant + 1));
      break;
    case BindingTypeId::String:
      value.SetString("text \"" + std::to_string(variant) + "\"\n\x01");
      break;
    case BindingTypeId::Object:
      value.member("b").at(0).SetFloat(-0.0);
      value.member("a").at(1).SetString("held");
      value.member("c");  // null
      break;
    case BindingTypeId::Blob: {
      const std::uint8_t bytes[] = {0, 1, 2, 0xFF};
      value.SetBlob(bytes);
      break;
    }
    case BindingTypeId::Enum: {
      // The last enumerator by name, a non-zero one where there is one.
      std::int32_t chosen = 0;
      for (const auto& [name, enumerator] : descriptor->Enumerators()) {
        if (enumerator.value != 0) {
          chosen = enumerator.value;
        }
      }
      value.SetEnum(chosen, descriptor);
      break;
    }
    case BindingTypeId::Struct:
      if (depth < kDeepestSample) {
        SampleStruct(*descriptor, variant, depth, sparse, value);
      }
      break;
    default:
      break;
  }
}

void Sample(const BindingTypeIdentifier& type, const BindingTypeIdentifier& element, int variant,
            int depth, bool sparse, BindingProperty& value) {
  if (type.type == BindingTypeId::Vector) {
    for (int i = 0; i < 2; ++i) {
      Sample(element,
             BindingTypeIdentifier{element.elementType, BindingTypeId::None, element.descriptor},
             variant + i, depth + 1, sparse, value.at(static_cast<std::size_t>(i)));
    }
    return;
  }
  if (type.type == BindingTypeId::Map) {
    for (const char* key : {"b", "B", "a"}) {
      Sample(element,
             BindingTypeIdentifier{element.elementType, BindingTypeId::None, element.descriptor},
             variant + key[0], depth + 1, sparse, value.member(key));
    }
    return;
  }
  SampleScalar(type.type, type.descriptor, variant, depth, sparse, value);
}

// A host value record in full: kinds, names, ownership flags, and every
// byte of texts and blobs (not where they lie).
std::string Describe(const NaloHostValue& record) {
  const auto& payload = record.payload;
  std::string text = std::to_string(record.kind) + "(";
  switch (record.kind) {
    case NALO_HOST_VALUE_BOOL:
      text += std::to_string(payload.boolean);
      break;
    case NALO_HOST_VALUE_SIGNED:
      text += std::to_string(payload.signedInteger);
      break;
    case NALO_HOST_VALUE_UNSIGNED:
      text += std::to_string(payload.unsignedInteger);
      break;
    case NALO_HOST_VALUE_DOUBLE:
      text += std::to_string(std::bit_cast<std::uint64_t>(payload.floating));
      break;
    case NALO_HOST_VALUE_OWNED_TEXT:
      // Owned texts end in a NUL of their own.
      text += std::string(payload.text.data, payload.text.length + 1);
      break;
    case NALO_HOST_VALUE_OWNED_BYTES:
      text += std::string(reinterpret_cast<const char*>(payload.bytes.data), payload.bytes.length);
      break;
    case NALO_HOST_VALUE_ARRAY:
      for (std::size_t i = 0; i < payload.array.count; ++i) {
        text += Describe(payload.array.elements[i]) + ",";
      }
      break;
    case NALO_HOST_VALUE_OBJECT:
      for (std::size_t i = 0; i < payload.object.count; ++i) {
        const NaloHostMember& member = payload.object.members[i];
        text += std::string(member.name) + std::to_string(member.ownsName) + "=" +
                Describe(member.value) + ",";
      }
      break;
    default:
      break;
  }
  return text + ")";
}

template <class T>
void ExpectSameJsonBothWays(const T& native, std::string_view what) {
  SCOPED_TRACE(what);
  const BindingResult tree = ToProperty(native, Registry());
  ASSERT_THAT(tree, BindingSucceeded());
  std::string direct;
  ASSERT_THAT(ToJson(native, Registry(), direct), BindingSucceeded());
  EXPECT_EQ(direct, ToJson(tree.Value(), &Registry()));

  // Straight into a host value, from a block too small to start with.
  HostValue record;
  ASSERT_THAT(ToHostValue(native, Registry(), record, 16), BindingSucceeded());
  EXPECT_EQ(Describe(record.Record()), Describe(ToHostValue(tree.Value(), Registry()).Record()));
}

template <class T>
void ExpectSameJsonForType(std::set<std::string_view>& covered) {
  const BindingTypeDescriptor* descriptor = DescriptorOf<T>(Registry());
  ASSERT_NE(descriptor, nullptr);
  SCOPED_TRACE(descriptor->FullName());
  covered.insert(descriptor->FullName());

  ExpectSameJsonBothWays(T{}, "never set");
  for (const bool sparse : {false, true}) {
    BindingProperty input;
    SampleStruct(*descriptor, 0, 0, sparse, input);
    T native{};
    ASSERT_THAT(FromProperty(native, input, "sample", Registry()), BindingSucceeded());
    ExpectSameJsonBothWays(native, sparse ? "every other field" : "every field");
  }
}

TEST(GameflowNativeJson, EveryRegisteredTypeWritesAsItsTree) {
  std::set<std::string_view> covered;
  ExpectSameJsonForType<GameflowSession>(covered);
  ExpectSameJsonForType<GameflowGameData>(covered);
  ExpectSameJsonForType<GameflowGameClient>(covered);
  ExpectSameJsonForType<GameflowGameMap>(covered);
  ExpectSameJsonForType<GameflowGameDodge>(covered);
  ExpectSameJsonForType<Queue>(covered);
  ExpectSameJsonForType<QueueReward>(covered);
  ExpectSameJsonForType<QueueGameTypeConfig>(covered);
  ExpectSameJsonForType<GameflowAvailability>(covered);
  ExpectSameJsonForType<GameflowProcessInfo>(covered);
  ExpectSameJsonForType<ReplaysSettingsData>(covered);
  ExpectSameJsonForType<ReplaysSettingsResource>(covered);
  ExpectSameJsonForType<PatcherProductState>(covered);
  ExpectSameJsonForType<LobbyStatus>(covered);
  ExpectSameJsonForType<PlayerStatus>(covered);
  ExpectSameJsonForType<LoginSession>(covered);
  ExpectSameJsonForType<RegionLocale>(covered);
  ExpectSameJsonForType<PlayerCredentialsDto>(covered);
  ExpectSameJsonForType<GameDto>(covered);
  ExpectSameJsonForType<ReconnectInfoDto>(covered);

  // A type registered later without a line above fails here.
  for (const BindingTypeDescriptor* descriptor : Registry().Descriptors()) {
    if (!descriptor->IsEnum()) {
      EXPECT_TRUE(covered.contains(descriptor->FullName()))
          << descriptor->FullName() << " is registered but not checked";
    }
  }
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
