// Host values: conversion to and from BindingProperty, and their failures.
// Every value the plugin builds is released by its owner; the sanitizer
// build checks that nothing leaks or is freed twice.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "abi/HostValue.h"
#include "binding/BindingRegistration.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/Json.h"
#include "support/BindingMatchers.h"

namespace Nalo {
namespace {

enum class Color { Red = 0, Green = 3 };

// The JSON of a record walked without a tree; empty when the walk declines.
std::optional<std::string> WalkedJson(const NaloHostValue& record) {
  return WalkToJson([&record](BindingVisitor& visitor) { return VisitHostValue(record, visitor); });
}

TEST(HostValue, KindsOfConvertedValues) {
  BindingTypeRegistry registry;
  RegisterEnum<Color>(registry, "Test", "Color", "",
                      {{"Red", Color::Red}, {"Green", Color::Green}});
  const BindingTypeDescriptor* color = DescriptorOf<Color>(registry);

  struct Case {
    std::string_view name;
    BindingProperty value;
    NaloHostValueKind kind;
  };
  std::vector<Case> cases;
  auto add = [&](std::string_view name, NaloHostValueKind kind, auto set) {
    BindingProperty value;
    set(value);
    cases.push_back({name, std::move(value), kind});
  };
  add("empty", NALO_HOST_VALUE_NULL, [](BindingProperty&) {});
  add("bool", NALO_HOST_VALUE_BOOL, [](BindingProperty& v) { v.SetBool(true); });
  add("signed", NALO_HOST_VALUE_SIGNED, [](BindingProperty& v) { v.SetSigned(-5); });
  add("unsigned", NALO_HOST_VALUE_UNSIGNED, [](BindingProperty& v) { v.SetUnsigned(~0ull); });
  add("float", NALO_HOST_VALUE_DOUBLE, [](BindingProperty& v) { v.SetFloat(1.5); });
  add("string", NALO_HOST_VALUE_OWNED_TEXT,
      [](BindingProperty& v) { v.SetString(std::string_view("a\0b", 3)); });
  add("blob", NALO_HOST_VALUE_OWNED_BYTES, [](BindingProperty& v) {
    v.SetBlob(std::vector<std::uint8_t>{1, 2});
  });
  add("known enumerator", NALO_HOST_VALUE_OWNED_TEXT,
      [&](BindingProperty& v) { v.SetEnum(3, color); });
  add("unknown enumerator", NALO_HOST_VALUE_SIGNED,
      [&](BindingProperty& v) { v.SetEnum(4, color); });
  add("enum without type", NALO_HOST_VALUE_SIGNED,
      [](BindingProperty& v) { v.SetEnum(3, nullptr); });
  add("collection", NALO_HOST_VALUE_ARRAY, [](BindingProperty& v) {
    v.at(0).SetSigned(1);
    v.at(1).member("k").SetString("v");
  });
  add("structure", NALO_HOST_VALUE_OBJECT, [](BindingProperty& v) {
    v.member("b").at(2).SetBool(false);
    v.member("a").MakeStructure();
  });
  add("not a number", NALO_HOST_VALUE_DOUBLE, [](BindingProperty& v) { v.SetFloat(std::nan("")); });
  add("nested", NALO_HOST_VALUE_OBJECT, [](BindingProperty& v) {
    v.member("ab").member("z").SetString("\x01\"");
    v.member("a").at(0).SetBlob(std::vector<std::uint8_t>{});
    v.member("a").at(1).member("").SetFloat(-0.0);
    v.member("b");
  });

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const HostValue host = ToHostValue(c.value, registry);
    const NaloHostValueKind kind = host.Record().kind;
    EXPECT_EQ(kind, c.kind);
    BindingResult back = FromHostValue(host.Record(), "value");
    ASSERT_THAT(back, BindingSucceeded());
    // Enums come back as what was sent: a name or a number.
    if (c.value.Kind() == BindingKind::Enum) {
      EXPECT_EQ(ToJson(back.Value()), ToJson(c.value, &registry));
    } else if (c.value.Kind() == BindingKind::Blob || c.value.Kind() == BindingKind::Float) {
      // (NaN is no value's equal, its own included.)
      EXPECT_EQ(ToJson(back.Value()), ToJson(c.value));
    } else {
      EXPECT_EQ(back.Value(), c.value);
    }
    // Walked without the tree, a built value writes the tree's JSON.
    EXPECT_EQ(WalkedJson(host.Record()), back.Value().IsEmpty() ? "null" : ToJson(back.Value()));
  }
}

TEST(HostValue, CoreTextsAreRead) {
  const char bytes[] = "abc";
  NaloHostValue text{};
  text.kind = NALO_HOST_VALUE_TEXT;
  text.payload.text.data = bytes;
  text.payload.text.length = 2;
  BindingResult value = FromHostValue(text, "x");
  EXPECT_EQ(value.Value().StringValue(), "ab");

  NaloHostValue bytesValue{};
  bytesValue.kind = NALO_HOST_VALUE_BYTES;
  BindingResult empty = FromHostValue(bytesValue, "x");
  EXPECT_EQ(empty.Value().Kind(), BindingKind::Blob);
  EXPECT_EQ(empty.Value().size(), 0u);

  // A core's object need not be in name order, and may repeat a name: the
  // members are sorted and the last of a name wins.
  NaloHostMember members[4]{};
  const char* const names[] = {"b", "a", "b", "ab"};
  for (std::size_t i = 0; i < 4; ++i) {
    members[i].name = names[i];
    members[i].value.kind = NALO_HOST_VALUE_SIGNED;
    members[i].value.payload.signedInteger = static_cast<std::int64_t>(i);
  }
  members[3].value = text;
  NaloHostValue object{};
  object.kind = NALO_HOST_VALUE_OBJECT;
  object.payload.object.members = members;
  object.payload.object.count = 4;
  EXPECT_EQ(ToJson(FromHostValue(object, "x").Value()), R"({"a":1,"ab":"ab","b":2})");
  // Such an object can't be walked without the tree; in order, it can.
  EXPECT_EQ(WalkedJson(object), std::nullopt);
  object.payload.object.count = 2;  // b, a
  EXPECT_EQ(WalkedJson(object), std::nullopt);
  members[0].name = "a";
  members[1].name = "a";
  EXPECT_EQ(WalkedJson(object), std::nullopt) << "a repeated name";
  members[1].name = "ab";
  members[1].value = bytesValue;
  EXPECT_EQ(WalkedJson(object), R"({"a":0,"ab":""})");
}

TEST(HostValue, ConversionFailures) {
  NaloHostValue unknown{};
  unknown.kind = 11;
  NaloHostValue elements[2]{};
  elements[1].kind = 12;
  NaloHostValue array{};
  array.kind = NALO_HOST_VALUE_ARRAY;
  array.payload.array.elements = elements;
  array.payload.array.count = 2;
  NaloHostValue nullText{};
  nullText.kind = NALO_HOST_VALUE_TEXT;
  nullText.payload.text.length = 4;
  // Texts read before the unnamed member are dropped with the tree.
  NaloHostMember unnamed[2]{};
  unnamed[0].name = "named";
  unnamed[0].value.kind = NALO_HOST_VALUE_TEXT;
  unnamed[0].value.payload.text.data = "text";
  unnamed[0].value.payload.text.length = 4;
  NaloHostValue object{};
  object.kind = NALO_HOST_VALUE_OBJECT;
  object.payload.object.members = unnamed;
  object.payload.object.count = 2;
  // A chain of one-element arrays deeper than the nesting limit.
  std::vector<NaloHostValue> chain(600);
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
    chain[i].kind = NALO_HOST_VALUE_ARRAY;
    chain[i].payload.array.elements = &chain[i + 1];
    chain[i].payload.array.count = 1;
  }

  struct Case {
    std::string_view name;
    const NaloHostValue* value;
    std::string_view message;
  };
  const Case cases[] = {
      {"unknown kind", &unknown,
       "Couldn't assign value to 'arg' of type object because the input is of an incompatible "
       "type ''."},
      {"unknown kind inside", &array,
       "Couldn't assign value to 'arg' of type object because the input is of an incompatible "
       "type ''."},
      {"null text", &nullText,
       "Couldn't assign value to 'arg' because the input holds a null pointer with a length of "
       "4."},
      {"unnamed member", &object,
       "Couldn't assign value to 'arg' because a member of the input has no name."},
      {"too deep", chain.data(),
       "Couldn't assign value to 'arg' because the input nests deeper than 512 levels."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THAT(FromHostValue(*c.value, "arg"), IsBindingError(c.message));
    EXPECT_EQ(WalkedJson(*c.value), std::nullopt);
  }
}

TEST(HostValue, OwnershipMovesWithTheRecord) {
  BindingTypeRegistry registry;
  BindingProperty value;
  value.member("list").at(3).SetString("text");
  HostValue first = ToHostValue(value, registry);
  HostValue second = std::move(first);
  // What a move leaves behind is the point.
  // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move)
  const NaloHostValueKind movedFrom = first.Record().kind;
  const NaloHostValueKind movedTo = second.Record().kind;
  EXPECT_EQ(movedFrom, NALO_HOST_VALUE_NULL);
  EXPECT_EQ(movedTo, NALO_HOST_VALUE_OBJECT);
  NaloHostValue handedOut = second.Release();
  const NaloHostValueKind released = second.Record().kind;
  EXPECT_EQ(released, NALO_HOST_VALUE_NULL);
  ReleaseHostValue(handedOut);
  const NaloHostValueKind cleared = handedOut.kind;
  EXPECT_EQ(cleared, NALO_HOST_VALUE_NULL);
}

// Every address a built value holds, texts and names with their NUL read.
void CollectAddresses(const NaloHostValue& record, std::vector<const void*>& addresses) {
  switch (record.kind) {
    case NALO_HOST_VALUE_OWNED_TEXT:
      addresses.push_back(record.payload.text.data);
      EXPECT_EQ(record.payload.text.data[record.payload.text.length], '\0');
      break;
    case NALO_HOST_VALUE_OWNED_BYTES:
      addresses.push_back(record.payload.bytes.data);
      break;
    case NALO_HOST_VALUE_ARRAY:
      addresses.push_back(record.payload.array.elements);
      for (std::size_t i = 0; i < record.payload.array.count; ++i) {
        CollectAddresses(record.payload.array.elements[i], addresses);
      }
      break;
    case NALO_HOST_VALUE_OBJECT:
      addresses.push_back(record.payload.object.members);
      for (std::size_t i = 0; i < record.payload.object.count; ++i) {
        const NaloHostMember& member = record.payload.object.members[i];
        EXPECT_EQ(member.ownsName, 1);
        addresses.push_back(member.name);
        CollectAddresses(member.value, addresses);
      }
      break;
    default:
      break;
  }
}

// A built value is one block that starts at the root's own pointer, so the
// release frees it once; texts still end in NUL and names are owned.
TEST(HostValue, ABuiltValueIsOneBlockStartingAtItsRoot) {
  BindingTypeRegistry registry;
  const BindingProperty tree =
      ParseJson(R"({"phase":"Lobby","ids":[1,"",[],{}],"n":{"b":true,"s":"text"}})").Value();
  const BindingProperty uri = ParseJson(R"("/a/v1/b")").Value();
  const HostMemberSource sources[] = {{"uri", &uri}, {"data", &tree}};
  const HostValue built = ToHostObject(sources, registry);
  const HostValue whole = ToHostValue(tree, registry);
  for (const HostValue* value : {&built, &whole}) {
    std::vector<const void*> addresses;
    CollectAddresses(value->Record(), addresses);
    ASSERT_FALSE(addresses.empty());
    const auto* first = static_cast<const char*>(addresses.front());
    for (const void* address : addresses) {
      const auto* at = static_cast<const char*>(address);
      EXPECT_TRUE(at >= first && at < first + 1024);
    }
  }
  BindingProperty expected;
  expected.member("uri") = uri;
  expected.member("data") = tree;
  BindingResult back = FromHostValue(built.Record(), "value");
  ASSERT_THAT(back, BindingSucceeded());
  EXPECT_EQ(back.Value(), expected);
  EXPECT_EQ(std::string_view(built.Record().payload.object.members[0].name), "uri");
}

// A builder that starts small grows many times while a walk is deep inside
// nested arrays and objects (past its inline frames); every address it wrote
// before a move must follow the block. Texts of every short length check the
// copies of names and texts.
TEST(HostValue, ABuilderThatGrowsKeepsWhatItWrote) {
  BindingTypeRegistry registry;
  BindingProperty tree;
  BindingProperty* at = &tree;
  for (int depth = 0; depth < 40; ++depth) {
    const std::string text(static_cast<std::size_t>(depth % 21),
                           static_cast<char>('a' + depth % 26));
    at->member("t" + text).SetString(text);
    at->member("n").SetSigned(depth);
    at = depth % 2 == 0 ? &at->member("next").at(1) : &at->member("next");
  }
  at->SetString("the end");
  HostValueBuilder builder(registry, 1);
  tree.accept(builder);
  const HostValue built = builder.Take();
  std::vector<const void*> addresses;
  CollectAddresses(built.Record(), addresses);
  const auto* first = static_cast<const char*>(addresses.front());
  for (const void* address : addresses) {
    const auto* inside = static_cast<const char*>(address);
    EXPECT_TRUE(inside >= first && inside < first + 16384);
  }
  BindingResult back = FromHostValue(built.Record(), "value");
  ASSERT_THAT(back, BindingSucceeded());
  EXPECT_EQ(back.Value(), tree);
}

}  // namespace
}  // namespace Nalo
