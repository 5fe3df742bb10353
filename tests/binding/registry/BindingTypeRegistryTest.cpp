#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "binding/BindingRegistration.h"
#include "binding/BindingTypeRegistry.h"
#include "support/RegexMatchers.h"

namespace Nalo {
namespace {

enum class Shade { Light = 1, Dark = 2 };

struct Pixel {
  std::uint8_t red = 0;
  std::optional<Shade> shade;
  std::vector<std::vector<Pixel>> tiles;
};

struct OtherPixel {
  std::int64_t anything = 0;
};

template <class Member>
std::uint32_t OffsetIn(const Pixel& pixel, const Member& member) {
  return static_cast<std::uint32_t>(reinterpret_cast<const char*>(&member) -
                                    reinterpret_cast<const char*>(&pixel));
}

TEST(BindingTypeRegistry, RegistersTablesOnce) {
  BindingTypeRegistry registry;
  const BindingTypeDescriptor& shade = RegisterEnum<Shade>(
      registry, "Demo", "Shade", "How dark",
      {{"Light", Shade::Light}, {"Dark", Shade::Dark, "Very"}, {"Light", Shade::Dark, "Again"}},
      {"", "palette"});
  const BindingTypeDescriptor& pixel = RegisterStruct<Pixel>(
      registry, "Demo", "Pixel", "A dot",
      {Field("red", &Pixel::red, kRequired), Field("shade", &Pixel::shade, "Its shade"),
       Field("tiles", &Pixel::tiles, kOmitWhenDefault)});
  // A second definition under a taken name is ignored entirely, even when it
  // describes another native type.
  const BindingTypeDescriptor& again = RegisterStruct<OtherPixel>(
      registry, "Demo", "Pixel", "Ignored", {Field("anything", &OtherPixel::anything)}, {"x"});

  EXPECT_EQ(&again, &pixel);
  EXPECT_EQ(registry.descriptorFor(StaticTypeOf<OtherPixel>().id), nullptr);
  EXPECT_EQ(DescriptorOf<Pixel>(registry), &pixel);
  EXPECT_EQ(registry.FindByName("DemoPixel"), &pixel);
  EXPECT_EQ(registry.FindByName("Pixel"), nullptr);
  EXPECT_THAT(registry.Descriptors(), ::testing::ElementsAre(&shade, &pixel));

  EXPECT_EQ(pixel.FullName(), "DemoPixel");
  EXPECT_TRUE(pixel.Tags().empty());
  ASSERT_EQ(pixel.Fields().size(), 3u);

  struct FieldRow {
    std::string_view name;
    std::uint32_t offset;
    BindingTypeIdentifier type;
    BindingTypeIdentifier element;
    BindingFieldFlags flags;
    std::string_view description;
  };
  const Pixel sample;
  const FieldRow expected[] = {
      {"red", OffsetIn(sample, sample.red), {BindingTypeId::Uint8}, {}, kRequired, ""},
      {"shade",
       OffsetIn(sample, sample.shade),
       {BindingTypeId::Enum, {}, &shade},
       {},
       kOmitWhenEmpty,
       "Its shade"},
      {"tiles",
       OffsetIn(sample, sample.tiles),
       {BindingTypeId::Vector, BindingTypeId::Vector, &pixel},
       {BindingTypeId::Vector, BindingTypeId::Struct, &pixel},
       kOmitWhenDefault,
       ""},
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const BindingFieldDescriptor& field = pixel.Fields()[i];
    SCOPED_TRACE(field.name);
    EXPECT_EQ(field.name, expected[i].name);
    EXPECT_EQ(field.nameHash, Fnv1a32(expected[i].name));
    EXPECT_EQ(field.offset, expected[i].offset);
    EXPECT_EQ(field.type, expected[i].type);
    EXPECT_EQ(field.elementType, expected[i].element);
    EXPECT_EQ(field.flags, expected[i].flags);
    EXPECT_EQ(field.description, expected[i].description);
  }

  EXPECT_TRUE(shade.IsEnum());
  EXPECT_THAT(shade.Tags(), ::testing::ElementsAre("palette"));
  ASSERT_EQ(shade.Enumerators().size(), 2u);
  const BindingEnumValue& light = shade.Enumerators().at("Light");
  EXPECT_EQ(light.value, 2);  // overwritten by the later entry of the same name
  EXPECT_EQ(light.description, "Again");
  EXPECT_EQ(light.descriptor, &shade);
}

TEST(BindingTypeRegistry, EnumeratorNameWalksNamesInOrder) {
  enum class Code { Zero, One };
  BindingTypeRegistry registry;
  const BindingTypeDescriptor& code =
      RegisterEnum<Code>(registry, "Demo", "Code", "",
                         {{"Zulu", Code::One}, {"Alpha", Code::One}, {"Zero", Code::Zero}});
  EXPECT_EQ(registry.enumeratorName(code, 1), "Alpha");
  EXPECT_EQ(registry.enumeratorName(code, 0), "Zero");
  EXPECT_EQ(registry.enumeratorName(code, 2), std::nullopt);
}

TEST(BindingTypeRegistry, LowLevelBuilderTakesNamesOnlyTypes) {
  BindingTypeRegistry registry;
  BindingTypeBuilder builder =
      registry.beginType(4, "Host", "Value", "", NoStaticType(), BindingTypeForm::Enumeration);
  builder.addEnumerator("A", 5, "").addTags({"t1", "", "t2"});
  EXPECT_FALSE(builder.IsInert());
  // Types without a static type are found by name only.
  EXPECT_EQ(registry.descriptorFor(kNoStaticTypeId), nullptr);
  EXPECT_EQ(registry.FindByName("HostValue"), &builder.Descriptor());
  EXPECT_THAT(builder.Descriptor().Tags(), ::testing::ElementsAre("t1", "t2"));

  BindingTypeBuilder inert =
      registry.beginType(8, "Host", "Value", "", NoStaticType(), BindingTypeForm::Structure);
  EXPECT_TRUE(inert.IsInert());
  inert.addEnumerator("B", 6, "").addTags({"t3"});
  EXPECT_EQ(&inert.Descriptor(), &builder.Descriptor());
  EXPECT_EQ(builder.Descriptor().Enumerators().size(), 1u);
  EXPECT_EQ(builder.Descriptor().Tags().size(), 2u);
}

TEST(BindingStaticType, RecordsAreStableAndDistinct) {
  const BindingStaticType& pixel = StaticTypeOf<Pixel>();
  EXPECT_EQ(&pixel, &StaticTypeOf<Pixel>());
  EXPECT_NE(pixel.id, StaticTypeOf<OtherPixel>().id);
  EXPECT_NE(StaticTypeOf<std::int32_t>().id, StaticTypeOf<std::uint32_t>().id);
  EXPECT_NE(pixel.id, kNoStaticTypeId);
  EXPECT_THAT(std::string(pixel.Text()), Testing::MatchesPattern("#[0-9A-F]{8}"));
  EXPECT_EQ(std::stoul(std::string(pixel.Text().substr(1)), nullptr, 16), pixel.id);
  EXPECT_THAT(std::string(pixel.nativeName), ::testing::HasSubstr("Pixel"));
  EXPECT_EQ(NoStaticType().Text(), "#00000000");
  EXPECT_EQ(detail::MakeStaticType(0xABCDEF01u, "").Text(), "#ABCDEF01");
}

TEST(BindingTypeIdentifier, DisplayForms) {
  BindingTypeRegistry registry;
  const BindingTypeDescriptor& shade =
      RegisterEnum<Shade>(registry, "Demo", "Shade", "", {{"Light", Shade::Light}});
  struct Row {
    BindingTypeIdentifier identifier;
    BindingTypeDisplay display;
  };
  const Row rows[] = {
      {{BindingTypeId::Int32}, {"int32", ""}},
      {{BindingTypeId::Callback}, {"callback", ""}},
      {{static_cast<BindingTypeId>(20)}, {"", ""}},
      {{BindingTypeId::Enum, {}, &shade}, {"DemoShade", ""}},
      {{BindingTypeId::Enum}, {"enum", ""}},
      {{BindingTypeId::Struct}, {"struct", ""}},
      {{BindingTypeId::Vector, BindingTypeId::Uint64}, {"vector", "uint64"}},
      {{BindingTypeId::Map, BindingTypeId::Enum, &shade}, {"map", "DemoShade"}},
      {{BindingTypeId::Vector, BindingTypeId::Struct}, {"vector", "struct"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.identifier.type));
    EXPECT_EQ(DisplayType(row.identifier), row.display);
  }
}

TEST(BindingTypeRegistryDeathTest, RegistrationMistakesAreFatal) {
  EXPECT_DEATH(
      {
        BindingTypeRegistry registry;
        RegisterStruct<OtherPixel>(registry, "Demo", "First", "", {});
        RegisterStruct<OtherPixel>(registry, "Demo", "Second", "", {});
      },
      "Can't register 'DemoSecond': static type #\\w+ \\(.*OtherPixel\\) is already "
      "registered as 'DemoFirst'\\.");
  EXPECT_DEATH(
      {
        BindingTypeRegistry registry;
        RegisterStruct<Pixel>(registry, "Demo", "Pixel", "", {Field("shade", &Pixel::shade)});
      },
      "Can't register field 'shade' of 'DemoPixel': its type .*Shade isn't registered; register "
      "it before the types that use it\\.");
}

}  // namespace
}  // namespace Nalo
