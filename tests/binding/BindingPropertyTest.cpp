#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingResult.h"
#include "binding/BindingStore.h"
#include "binding/BindingVisitor.h"

namespace Nalo {
namespace {

using Kind = BindingKind;

BindingProperty Unsigned(std::uint64_t value) {
  BindingProperty property;
  property.SetUnsigned(value);
  return property;
}

BindingProperty String(std::string_view text) {
  BindingProperty property;
  property.SetString(text);
  return property;
}

// Records the visitor calls as one text, so whole traversals compare at once.
class RecordingVisitor final : public BindingVisitor {
 public:
  std::string trace;

  void Null() override { trace += "null "; }
  void Bool(bool value) override { trace += value ? "true " : "false "; }
  void Int64(std::int64_t value) override { trace += "i" + std::to_string(value) + " "; }
  void Uint64(std::uint64_t value) override { trace += "u" + std::to_string(value) + " "; }
  void Double(double value) override { trace += "f" + std::to_string(value) + " "; }
  void String(std::string_view bytes) override { trace += "'" + std::string(bytes) + "' "; }
  void Blob(std::span<const std::uint8_t> bytes) override {
    trace += "blob" + std::to_string(bytes.size()) + " ";
  }
  void Enum(std::int32_t value, const BindingTypeDescriptor*) override {
    trace += "enum" + std::to_string(value) + " ";
  }
  void StartArray(std::size_t count) override { trace += "[" + std::to_string(count) + " "; }
  void StartElement() override { trace += "<"; }
  void EndElement() override { trace += "> "; }
  void EndArray() override { trace += "] "; }
  void StartObject(std::size_t count) override { trace += "{" + std::to_string(count) + " "; }
  void Key(std::string_view name) override { trace += std::string(name) + ": "; }
  void EndMember() override { trace += "; "; }
  void EndObject() override { trace += "} "; }
};

TEST(BindingProperty, MutableAccessConvertsTheValue) {
  BindingProperty boolean;
  boolean.SetBool(true);
  BindingProperty& x = boolean.member("x");
  EXPECT_EQ(boolean.Kind(), Kind::Structure);
  EXPECT_EQ(boolean.size(), 1u);
  EXPECT_TRUE(x.IsEmpty());

  BindingProperty text = String("payload");
  text.member("x");
  EXPECT_EQ(text.Kind(), Kind::Structure);
  EXPECT_EQ(text.TreeStore()->InternedCount(), 1u) << "only the member name stays interned";

  BindingProperty empty;
  empty.at(3).SetSigned(-4);
  ASSERT_EQ(empty.Kind(), Kind::Collection);
  ASSERT_EQ(empty.size(), 4u);
  EXPECT_TRUE(empty.Elements()[0].IsEmpty());
  EXPECT_EQ(empty.Elements()[3].GetSigned(0), -4);

  // Making a collection or structure again keeps what is there.
  empty.MakeCollection();
  EXPECT_EQ(empty.size(), 4u);
  boolean.MakeStructure();
  EXPECT_EQ(boolean.size(), 1u);
  // Member names stop at their first NUL.
  boolean.member(std::string_view("x\0y", 3)).SetBool(false);
  EXPECT_EQ(boolean.size(), 1u);
  EXPECT_FALSE(boolean.member("x").BoolValue());
}

TEST(BindingProperty, StructureMembersAreInByteOrder) {
  BindingProperty first;
  first.member("a").SetUnsigned(1);
  first.member("B").SetUnsigned(2);
  first.member("ab").SetUnsigned(3);
  first.member("\xC3\xA9").SetUnsigned(4);  // bytes above 0x7F sort last
  BindingProperty second;
  second.member("\xC3\xA9").SetUnsigned(4);
  second.member("ab").SetUnsigned(3);
  second.member("a").SetUnsigned(1);
  second.member("B").SetUnsigned(2);

  EXPECT_EQ(first, second);
  std::vector<std::string_view> order;
  for (const auto& member : first.Members()) {
    order.push_back(member.name);
  }
  EXPECT_EQ(order, (std::vector<std::string_view>{"B", "a", "ab", "\xC3\xA9"}));

  second.member("ab").SetUnsigned(30);
  EXPECT_NE(first, second);
}

TEST(BindingProperty, Equality) {
  BindingProperty emptyText = String("");
  BindingProperty otherEmptyText;
  otherEmptyText.SetString("");
  EXPECT_EQ(emptyText, otherEmptyText);
  EXPECT_EQ(emptyText.TreeStore()->InternedCount(), 0u) << "the empty string is never interned";

  EXPECT_NE(Unsigned(1), BindingProperty()) << "different kinds";
  BindingProperty minusZero;
  minusZero.SetSigned(0);
  EXPECT_NE(Unsigned(0), minusZero) << "signed and unsigned zero are different kinds";

  BindingProperty nan;
  nan.SetFloat(std::numeric_limits<double>::quiet_NaN());
  EXPECT_NE(nan, nan);

  const std::uint8_t bytes[] = {'a', 'b', 'c'};
  BindingProperty blob;
  blob.SetBlob(bytes);
  BindingProperty sameBytes;
  sameBytes.SetBlob(bytes);
  EXPECT_EQ(blob, blob);
  EXPECT_NE(blob, sameBytes) << "blobs compare by identity";
  EXPECT_NE(blob, BindingProperty(blob)) << "a copy is a different stored vector";

  BindingProperty shortList;
  shortList.at(0).SetUnsigned(1);
  BindingProperty longList(shortList);
  EXPECT_EQ(shortList, longList);
  longList.at(1);
  EXPECT_NE(shortList, longList);

  // Embedded NULs take part in comparison of counted strings.
  EXPECT_NE(String(std::string_view("a\0b", 3)), String(std::string_view("a\0c", 3)));
}

TEST(BindingProperty, StringsAreInternedOncePerTree) {
  BindingProperty root;
  root.at(0).SetString("shared");
  root.at(1).SetString("shared");
  root.at(2).member("shared").SetString("other");
  const BindingStore& store = *root.TreeStore();
  EXPECT_EQ(store.InternedCount(), 2u);

  root.at(0).SetUnsigned(0);
  root.at(1).Reset();
  EXPECT_EQ(store.InternedCount(), 2u) << "the member name still holds \"shared\"";
  root.at(2).Reset();
  EXPECT_EQ(store.InternedCount(), 0u);

  root.at(0).SetString("shared");
  EXPECT_EQ(store.InternedCount(), 1u);
  EXPECT_EQ(root.Elements()[0].StringValue(), "shared");

  // Removing a member releases its name and its value.
  BindingProperty& structure = root.at(1);
  structure.member("kept").SetUnsigned(1);
  structure.member("gone").SetString("value");
  EXPECT_EQ(store.InternedCount(), 4u);
  EXPECT_TRUE(structure.RemoveMember("gone"));
  EXPECT_FALSE(structure.RemoveMember("gone"));
  EXPECT_FALSE(root.at(0).RemoveMember("shared")) << "not a structure";
  EXPECT_EQ(store.InternedCount(), 2u);
  EXPECT_EQ(structure.size(), 1u);

  // The zero-terminated setter stops at the first NUL; the counted one keeps all.
  BindingProperty counted;
  counted.SetString(std::string_view("a\0b", 3));
  EXPECT_EQ(counted.size(), 3u);
  BindingProperty terminated;
  terminated.SetString("a\0b");
  EXPECT_EQ(terminated.size(), 1u);
  // Setting a value from its own string is safe.
  counted.SetString(counted.StringValue());
  EXPECT_EQ(counted.size(), 3u);
}

TEST(BindingProperty, PoolsReturnEveryBlock) {
  BindingProperty root;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 2000; ++i) {
      BindingProperty& element = root.at(static_cast<std::size_t>(i));
      element.member("id").SetUnsigned(static_cast<std::uint64_t>(i));
      element.member("name").SetString("name-" + std::to_string(i % 300));
      const std::uint8_t bytes[] = {1, 2, 3, 4, 5};
      element.member("blob").SetBlob(bytes);
      element.member("kind").SetEnum(i, nullptr);
    }
    EXPECT_GT(root.TreeStore()->PooledBlocksInUse(), 8000u);
    root.Reset();
    EXPECT_EQ(root.TreeStore()->PooledBlocksInUse(), 0u);
    EXPECT_EQ(root.TreeStore()->InternedCount(), 0u);
  }
}

TEST(BindingProperty, LenientReaders) {
  struct Case {
    std::string_view label;
    BindingProperty value;
    bool asBool;
    std::int64_t asSigned;
    std::uint64_t asUnsigned;
    std::string asString;
  };
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  BindingProperty blob;
  blob.SetBlob(abc);
  BindingProperty structure;
  structure.member("a");
  BindingProperty collection;
  collection.MakeCollection();
  BindingProperty enumeration;
  enumeration.SetEnum(-3, nullptr);
  BindingProperty boolean;
  boolean.SetBool(true);
  BindingProperty negative;
  negative.SetSigned(-5);
  BindingProperty fraction;
  fraction.SetFloat(1.5);
  BindingProperty negativeFraction;
  negativeFraction.SetFloat(-2.75);
  BindingProperty nan;
  nan.SetFloat(std::nan(""));
  BindingProperty huge;
  huge.SetFloat(1e300);

  const Case cases[] = {
      {"empty", BindingProperty(), false, 99, 99, ""},
      {"bool", boolean, true, 1, 1, "true"},
      {"signed", negative, true, -5, static_cast<std::uint64_t>(-5), "-5"},
      {"unsigned", Unsigned(42), true, 42, 42, "42"},
      {"float", fraction, true, 1, 1, "1.500000"},
      {"negative float truncates toward zero", negativeFraction, true, -2,
       static_cast<std::uint64_t>(-2), "-2.750000"},
      {"NaN is true and reads as 0", nan, true, 0, 0, "nan"},
      {"huge float saturates", huge, true, std::numeric_limits<std::int64_t>::max(),
       std::numeric_limits<std::uint64_t>::max(), std::string()},
      {"string TRUE", String("TRUE"), false, 0, 0, "TRUE"},
      {"string 1", String("1"), true, 1, 1, "1"},
      {"string true", String("true"), true, 0, 0, "true"},
      {"hexadecimal", String("0x10"), false, 16, 16, "0x10"},
      {"octal", String("010"), false, 8, 8, "010"},
      {"trailing text ignored", String("12abc"), false, 12, 12, "12abc"},
      {"blob", blob, true, 99, 99, "YWJj"},
      {"enum", enumeration, true, -3, static_cast<std::uint64_t>(-3), "-3"},
      {"collection", collection, false, 99, 99, ""},
      {"structure", structure, true, 99, 99, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.value.AsBool(), c.asBool);
    EXPECT_EQ(c.value.AsSigned(99), c.asSigned);
    EXPECT_EQ(c.value.AsUnsigned(99), c.asUnsigned);
    if (!c.asString.empty() || c.value.Kind() != Kind::Float) {
      EXPECT_EQ(c.value.AsString(), c.asString);
    }
  }
  EXPECT_EQ(huge.AsString().substr(0, 4), "1000");

  // Typed readers want the exact kind.
  EXPECT_EQ(Unsigned(5).GetSigned(-1), -1);
  EXPECT_EQ(Unsigned(5).GetUnsigned(0), 5u);
  EXPECT_EQ(negative.GetSigned(0), -5);
  EXPECT_EQ(fraction.GetFloat(0), 1.5);
  EXPECT_EQ(negative.GetFloat(7.0), 7.0);
}

TEST(BindingProperty, CopiesAreDeepAndIndependent) {
  BindingProperty original;
  original.member("list").at(0).SetString("x");
  original.member("list").at(1).member("inner").SetSigned(-1);
  original.member("enum").SetEnum(2, nullptr);

  BindingProperty copy(original);
  EXPECT_EQ(copy, original);
  EXPECT_NE(copy.TreeStore(), original.TreeStore());
  copy.member("list").at(0).SetString("y");
  EXPECT_EQ(original.member("list").at(0).StringValue(), "x");

  // Copying a part of a tree onto the tree itself.
  BindingProperty root(original);
  root = root.member("list");
  EXPECT_EQ(root, original.member("list"));

  // Copying a value onto a member of another tree.
  BindingProperty target;
  target.member("copy") = original;
  EXPECT_EQ(target.member("copy"), original);

  // Self-assignment changes nothing.
  const BindingProperty before(original);
  BindingProperty& alias = original;
  original = alias;
  EXPECT_EQ(original, before);
}

TEST(BindingProperty, CopiesKeepEveryByteOfAString) {
  const std::string_view bytes("ab\0c", 4);
  const BindingProperty counted = String(bytes);
  BindingProperty intoMember;
  intoMember.member("text").assign(counted);
  BindingProperty withinTree;
  withinTree.at(0).SetString(bytes);
  withinTree.at(1).assign(withinTree.at(0));
  const BindingProperty structure = [&] {
    BindingProperty value;
    value.member("a").at(0).SetString(bytes);
    return value;
  }();

  // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the copy is what is tested
  const BindingProperty copyConstructed(counted);
  BindingProperty structureCopy(structure);

  const struct {
    std::string_view name;
    std::string_view copied;
  } cases[] = {
      {"copy constructor", copyConstructed.StringValue()},
      {"assign into another tree", intoMember.member("text").StringValue()},
      {"assign within one tree", withinTree.at(1).StringValue()},
      {"element of a copied structure", structureCopy.member("a").at(0).StringValue()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.copied, bytes);
  }
  EXPECT_EQ(BindingProperty(counted), counted);

  // Texts that differ only after a NUL stay two entries of one tree.
  BindingProperty root;
  root.at(0).SetString(std::string_view("a\0x", 3));
  root.at(1).assign(String(std::string_view("a\0y", 3)));
  root.at(2).assign(String("a"));
  EXPECT_EQ(root.TreeStore()->InternedCount(), 3u);
  EXPECT_EQ(root.Elements()[1].StringValue(), std::string_view("a\0y", 3));
  EXPECT_EQ(root.Elements()[2].StringValue(), "a");
}

TEST(BindingProperty, AssignsFromAnAncestorOrADescendant) {
  // A value assigned into one of its own members gets the value the source
  // had before the assignment.
  BindingProperty v;
  v.member("a").SetSigned(1);
  v.member("b").SetString("text");
  const BindingProperty before(v);
  v.member("a").assign(v);
  BindingProperty expected(before);
  expected.member("a").assign(before);
  EXPECT_EQ(v, expected);
  EXPECT_EQ(v.member("a").member("a").GetSigned(0), 1);
  EXPECT_EQ(v.member("a").member("b").StringValue(), "text");

  // A collection copied into a member of one of its elements.
  BindingProperty list;
  list.at(0).member("x").SetUnsigned(7);
  list.at(0).member("copy").SetString("old");
  list.at(1).SetString("second");
  const BindingProperty listBefore(list);
  list.at(0).member("copy").assign(list);
  EXPECT_EQ(list.Elements()[0].Find("copy")->size(), 2u);
  EXPECT_EQ(*list.Elements()[0].Find("copy"), listBefore);
  EXPECT_EQ(list.Elements()[1], listBefore.Elements()[1]);

  // Deeper: the root copied three levels down, through copy assignment.
  BindingProperty deep;
  deep.member("p").at(0).member("q").SetBool(true);
  const BindingProperty deepBefore(deep);
  deep.member("p").at(0).member("q") = deep;
  EXPECT_EQ(deep.member("p").at(0).member("q"), deepBefore);

  // And the other way round: a descendant copied onto its ancestor.
  BindingProperty outer;
  outer.member("inner").member("leaf").SetUnsigned(3);
  outer.assign(outer.member("inner"));
  EXPECT_EQ(outer.member("leaf").GetUnsigned(0), 3u);
  EXPECT_EQ(outer.size(), 1u);

  // Moving a tree's root into one of its members copies it there.
  BindingProperty moved;
  moved.member("m").SetUnsigned(1);
  const BindingProperty movedBefore(moved);
  moved.member("m") = std::move(moved);
  // NOLINTNEXTLINE(bugprone-use-after-move,clang-analyzer-cplusplus.Move)
  EXPECT_EQ(moved.member("m"), movedBefore);

  // Nothing is left behind in the store.
  v.Reset();
  list.Reset();
  EXPECT_EQ(v.TreeStore()->PooledBlocksInUse(), 0u);
  EXPECT_EQ(v.TreeStore()->InternedCount(), 0u);
  EXPECT_EQ(list.TreeStore()->PooledBlocksInUse(), 0u);
}

TEST(BindingProperty, MovesKeepEveryValue) {
  BindingProperty source;
  source.member("name").SetString("moved");
  const BindingStore* store = source.TreeStore();

  BindingProperty moved(std::move(source));
  EXPECT_EQ(moved.TreeStore(), store) << "a root's store travels with it";
  EXPECT_TRUE(source.IsEmpty());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(moved.member("name").StringValue(), "moved");

  // Moving a root into a member of another tree copies it there.
  BindingProperty tree;
  tree.member("child") = std::move(moved);
  EXPECT_EQ(tree.member("child").member("name").StringValue(), "moved");
  EXPECT_EQ(tree.TreeStore()->InternedCount(), 3u);

  // Moving a member out of its own tree, onto the tree's root.
  tree = std::move(tree.member("child"));
  EXPECT_EQ(tree.member("name").StringValue(), "moved");
  EXPECT_EQ(tree.size(), 1u);

  // Moving an element out into a fresh root leaves the element empty.
  BindingProperty list;
  list.at(0).SetString("element");
  BindingProperty taken(std::move(list.at(0)));
  EXPECT_EQ(taken.StringValue(), "element");
  EXPECT_TRUE(list.Elements()[0].IsEmpty());

  std::vector<BindingProperty> values;
  values.reserve(100);
  for (int i = 0; i < 100; ++i) {
    values.push_back(String("value " + std::to_string(i)));
  }
  EXPECT_EQ(values[57].StringValue(), "value 57");
}

TEST(BindingProperty, AcceptWalksDepthFirstInMemberOrder) {
  BindingProperty value;
  value.member("b").at(0).SetUnsigned(1);
  value.member("b").at(1);
  value.member("a").SetString("x");
  value.member("c").SetSigned(-2);
  RecordingVisitor visitor;
  value.accept(visitor);
  EXPECT_EQ(visitor.trace, "{3 a: 'x' ; b: [2 <u1 > <null > ] ; c: i-2 ; } ");
}

TEST(BindingResult, FailureIsAnErrorStructure) {
  BindingResult result;
  EXPECT_TRUE(result.Succeeded());
  EXPECT_TRUE(result.Value().IsEmpty());
  EXPECT_EQ(result.ErrorMessage(), "");

  result.Value().SetUnsigned(3);
  result.Fail("Something went wrong.");
  EXPECT_TRUE(result.Failed());
  EXPECT_EQ(result.ErrorMessage(), "Something went wrong.");
  BindingProperty expected;
  expected.member("error").SetString("Something went wrong.");
  EXPECT_EQ(result.Value(), expected);

  result.Clear();
  EXPECT_TRUE(result.Succeeded());
  EXPECT_TRUE(result.Value().IsEmpty());
  EXPECT_EQ(BindingResult::Error("x").ErrorMessage(), "x");
}

}  // namespace
}  // namespace Nalo
