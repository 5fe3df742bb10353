// Help output: epytext escaping and type names, the docstrings of functions,
// structures, enumerations and events, and the Full records.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/BindingHelp.h"
#include "binding/BindingRegistration.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/Json.h"
#include "support/BindingMatchers.h"

namespace Nalo {
namespace {

struct Tile {
  std::int32_t x = 0;
};

struct Board {
  std::vector<Tile> tiles;
  std::unordered_map<std::string, std::string> names;
  std::vector<std::uint8_t> bytes;
  std::vector<std::vector<std::int64_t>> grid;
};

class Help : public ::testing::Test {
 protected:
  Help() {
    RegisterBuiltinTypes(mRegistry);
    RegisterStruct<Tile>(mRegistry, "Demo", "Tile", "-A {tile}", {Field("x", &Tile::x, "Column")},
                         {"game", "grid"});
    RegisterStruct<Board>(
        mRegistry, "Demo", "Board", "",
        {Field("tiles", &Board::tiles, kRequired, "All tiles"), Field("names", &Board::names),
         Field("bytes", &Board::bytes), Field("grid", &Board::grid)});
  }

  [[nodiscard]] BindingTypeIdentifier Identifier(BindingTypeId type, BindingTypeId element,
                                                 const BindingTypeDescriptor* descriptor) const {
    return {type, element, descriptor};
  }

  // The docstring of `name` in the member `list` of Epytext help.
  std::string Docstring(std::span<const BindingFunctionInfo> functions,
                        std::span<const BindingEventInfo> events, std::string_view list,
                        std::string_view name) {
    const std::vector<const BindingTypeDescriptor*> types = mRegistry.Descriptors();
    BindingResult help =
        renderHelp(functions, types, events, BindingHelpFormat::Epytext, mRegistry);
    const BindingProperty* item = help.Value().Find(list)->Find(name);
    return item != nullptr ? std::string(item->StringValue()) : "<missing>";
  }

  BindingTypeRegistry mRegistry;
};

TEST(Epytext, Escaping) {
  struct Case {
    std::string_view text, escaped;
  };
  const Case cases[] = {
      {"-x {y}", "E{-}x E{lb}yE{rb}"},
      {"a-b", "a-b"},
      {"--", "E{-}-"},
      {"}{", "E{rb}E{lb}"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(EscapeEpytext(c.text), c.escaped);
  }
}

TEST_F(Help, EpytextTypeNames) {
  const BindingTypeDescriptor* tile = DescriptorOf<Tile>(mRegistry);
  const BindingTypeDescriptor* format = DescriptorOf<BindingHelpFormat>(mRegistry);
  struct Case {
    std::string_view name;
    BindingTypeIdentifier type;
    std::string_view expected;
  };
  const Case cases[] = {
      {"scalar", Identifier(BindingTypeId::Int32, BindingTypeId::None, nullptr), "int32"},
      {"blob", Identifier(BindingTypeId::Blob, BindingTypeId::None, nullptr), "bytearray"},
      {"object", Identifier(BindingTypeId::Object, BindingTypeId::None, nullptr), "object"},
      {"callback", Identifier(BindingTypeId::Callback, BindingTypeId::None, nullptr), "callback"},
      {"struct", Identifier(BindingTypeId::Struct, BindingTypeId::None, tile), "L{DemoTile}"},
      {"enum", Identifier(BindingTypeId::Enum, BindingTypeId::None, format),
       "L{BindingHelpFormat}"},
      {"vector of struct", Identifier(BindingTypeId::Vector, BindingTypeId::Struct, tile),
       "list[L{DemoTile}]"},
      {"map of strings", Identifier(BindingTypeId::Map, BindingTypeId::String, nullptr),
       "dict[string]"},
      {"unregistered struct", Identifier(BindingTypeId::Struct, BindingTypeId::None, nullptr),
       "struct"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EpytextTypeName(c.type), c.expected);
  }
}

TEST_F(Help, Docstrings) {
  BindingFunctionInfo move;
  move.name = "MoveTile";
  move.description = "Moves {a} tile.";
  move.help = "-1 means left.";
  move.arguments = {
      {"tile", "The tile",
       Identifier(BindingTypeId::Struct, BindingTypeId::None, DescriptorOf<Tile>(mRegistry)),
       false},
      {"steps", "How far", Identifier(BindingTypeId::Int32, BindingTypeId::None, nullptr), true},
      {"raw", "", Identifier(BindingTypeId::Blob, BindingTypeId::None, nullptr), false},
  };
  move.returns = Identifier(BindingTypeId::Bool, BindingTypeId::None, nullptr);
  move.tags = {"game", "move"};
  move.threadSafe = true;
  move.async = true;
  BindingFunctionInfo bare;
  bare.name = "Bare";
  const BindingFunctionInfo functions[] = {move, bare};
  const std::vector<BindingEventInfo> events = BuiltinEvents(mRegistry);

  struct Case {
    std::string_view list, name, expected;
  };
  // clang-format off
  const Case cases[] = {
      {"functions", "MoveTile",
       "Moves E{lb}aE{rb} tile.\r\n\r\n"
       "E{-}1 means left.\r\n\r\n"
       "@param tile: The tile\r\n"
       "@type tile: L{DemoTile}\r\n"
       "@param steps: (optional) How far\r\n"
       "@type steps: int32\r\n"
       "@type raw: bytearray\r\n"
       "@rtype: bool\r\n"
       "@tags: game,move\r\n"
       "@threadsafe: true\r\n"
       "@async: bool\r\n"},
      {"functions", "Bare", ""},
      {"types", "DemoTile",
       "E{-}A E{lb}tileE{rb}\r\n\r\n"
       "@ivar x: Column\r\n"
       "@type x: int32\r\n"
       "@tags: game,grid\r\n"},
      {"types", "DemoBoard",
       "@ivar tiles: All tiles\r\n"
       "@type tiles: list[L{DemoTile}]\r\n"
       "@ivar names: \r\n"
       "@type names: dict[string]\r\n"
       "@ivar bytes: \r\n"
       "@type bytes: bytearray\r\n"
       "@ivar grid: \r\n"
       "@type grid: list[list[int64]]\r\n"},
      {"types", "BindingAsyncState",
       "Possible states of an asynchronous operation.\r\n\r\n"
       "@cvar None: (0) Invalid state\r\n"
       "@cvar Running: (1) The operation is in flight\r\n"
       "@cvar Cancelling: (2) A request to cancel the operation has been made\r\n"
       "@cvar Cancelled: (3) The operation was cancelled\r\n"
       "@cvar Succeeded: (4) The operation completed successfully\r\n"
       "@cvar Failed: (5) The operation encountered an error\r\n"
       "@tags: $builtin,async\r\n"
       "@size: 4\r\n"},
      {"events", "OnCallback", "Fired when a callback is invoked.\r\n\r\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Docstring(functions, events, c.list, c.name), c.expected);
  }
}

TEST_F(Help, FullRecords) {
  const std::vector<const BindingTypeDescriptor*> types = {
      DescriptorOf<Tile>(mRegistry), DescriptorOf<BindingHelpFormat>(mRegistry)};
  BindingResult help = renderHelp({}, types, {}, BindingHelpFormat::Full, mRegistry);
  ASSERT_THAT(help, BindingSucceeded());
  EXPECT_EQ(ToJson(help.Value()),
            R"({"events":[],"functions":[],"types":[)"
            R"({"description":"Help format for binding functions and types.","fields":[],)"
            R"("name":"BindingHelpFormat","nameSpace":"","size":4,"tags":["$builtin","help"],)"
            R"("values":[{"description":"Native help format","name":"Full","value":1},)"
            R"({"description":"Python epytext format","name":"Epytext","value":2}]},)"
            R"({"description":"-A {tile}","fields":[{"description":"Column","name":"x",)"
            R"("offset":0,"optional":true,"type":{"elementType":"","type":"int32"}}],)"
            R"("name":"DemoTile","nameSpace":"Demo","size":4,"tags":["game","grid"],)"
            R"("values":[]}]})");
}

TEST(HelpWithoutBuiltins, FullNeedsTheHelpTypes) {
  BindingTypeRegistry registry;
  EXPECT_THAT(renderHelp({}, {}, BuiltinEvents(registry), BindingHelpFormat::Full, registry),
              IsBindingError("Couldn't convert native value because it's an unregistered "
                             "structure."));
}

}  // namespace
}  // namespace Nalo
