#pragma once
// Table-driven registration of native structures and enumerations.
//
// Each type is described once, at start-up, by one table: a field's key, its
// member pointer and its flags. Type codes, offsets, converters and the
// descriptors of nested types are all deduced, so no type needs a converter
// of its own. Register a type after the enumerations and structures its
// fields use (a structure may refer to itself); a field whose type isn't
// registered yet ends the process with a message naming it.
//
//   Nalo::RegisterEnum<QueueType>(registry, "TavGameflow", "QueueType", "Kind of queue", {
//       {"Normal", QueueType::Normal},
//       {"Ranked", QueueType::Ranked, "Counts for the ladder"},
//   });
//   Nalo::RegisterStruct<Queue>(registry, "TavGameflow", "Queue", "A matchmaking queue", {
//       Nalo::Field("id",   &Queue::id,   Nalo::kRequired),
//       Nalo::Field("name", &Queue::name, Nalo::kOmitWhenDefault),
//       Nalo::Field("type", &Queue::type),
//       Nalo::Field("ids",  &Queue::ids,  "Members of the queue"),
//   });
//
// Both return the descriptor registered under the full name (nameSpace +
// name): the new one, or the first one when the name was already taken, in
// which case the table is ignored.

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <type_traits>

#include "binding/BindingConverters.h"
#include "binding/BindingTypeDescriptor.h"
#include "binding/BindingTypeRegistry.h"

namespace Nalo {

namespace detail {

struct FieldEntry {
  std::string_view name;
  std::string_view description;
  std::uint32_t offset = 0;
  BindingFieldFlags flags = kNoFieldFlags;
  const BindingFieldConverter* converter = nullptr;
  void (*describe)(const BindingTypeRegistry&, BindingTypeIdentifier&,
                   BindingTypeIdentifier&) = nullptr;
  // The innermost enumeration or structure the field holds, else null.
  const BindingStaticType* leafType = nullptr;
};

// Adds `entry` to the type `builder` is registering. Ends the process when
// the field's enumeration or structure isn't registered in `registry`.
void AddFieldEntry(BindingTypeBuilder& builder, const BindingTypeRegistry& registry,
                   const FieldEntry& entry);

// Where `member` lives inside an `Owner`. C++ has no portable way to read
// the offset out of a member pointer, so it is measured on raw storage that
// is never read or constructed.
template <class Owner, class Member>
std::uint32_t MemberOffset(Member Owner::*member) noexcept {
  alignas(Owner) unsigned char storage[sizeof(Owner)];
  const auto* object = reinterpret_cast<const Owner*>(storage);
  const auto* address = reinterpret_cast<const unsigned char*>(&(object->*member));
  return static_cast<std::uint32_t>(address - storage);
}

}  // namespace detail

// One row of a structure's table; made by Field().
template <class Owner>
struct BindingField {
  detail::FieldEntry entry;
};

// A field `name` held in `member`. Fields of std::optional type also get
// kOmitWhenEmpty (nullopt is left out).
template <class Owner, class Member>
[[nodiscard]] BindingField<Owner> Field(std::string_view name, Member Owner::*member,
                                        BindingFieldFlags flags = kNoFieldFlags,
                                        std::string_view description = {}) {
  detail::FieldEntry entry;
  entry.name = name;
  entry.description = description;
  entry.offset = detail::MemberOffset(member);
  entry.flags = flags;
  if constexpr (detail::kIsOptional<Member>) {
    entry.flags |= kOmitWhenEmpty;
  }
  entry.converter = &BindingConverter<Member>::Instance();
  entry.describe = &detail::DescribeType<Member>;
  entry.leafType = detail::LeafStaticType<Member>();
  return {entry};
}

template <class Owner, class Member>
[[nodiscard]] BindingField<Owner> Field(std::string_view name, Member Owner::*member,
                                        std::string_view description) {
  return Field(name, member, kNoFieldFlags, description);
}

// One row of an enumeration's table.
template <class E>
struct BindingEnumerator {
  std::string_view name;
  E value;
  std::string_view description = {};
};

// Registers structure `T` with its fields in table order.
template <class T>
const BindingTypeDescriptor& RegisterStruct(BindingTypeRegistry& registry,
                                            std::string_view nameSpace, std::string_view name,
                                            std::string_view description,
                                            std::initializer_list<BindingField<T>> fields,
                                            std::initializer_list<std::string_view> tags = {}) {
  static_assert(detail::TypeIdOf<T>() == BindingTypeId::Struct, "RegisterStruct takes a class");
  BindingTypeBuilder builder = registry.beginType(sizeof(T), nameSpace, name, description,
                                                  StaticTypeOf<T>(), BindingTypeForm::Structure);
  for (const BindingField<T>& field : fields) {
    detail::AddFieldEntry(builder, registry, field.entry);
  }
  builder.addTags(tags);
  return builder.Descriptor();
}

// Registers enumeration `E` with its enumerators.
template <class E>
const BindingTypeDescriptor& RegisterEnum(BindingTypeRegistry& registry, std::string_view nameSpace,
                                          std::string_view name, std::string_view description,
                                          std::initializer_list<BindingEnumerator<E>> enumerators,
                                          std::initializer_list<std::string_view> tags = {}) {
  static_assert(detail::TypeIdOf<E>() == BindingTypeId::Enum, "RegisterEnum takes an enum");
  BindingTypeBuilder builder = registry.beginType(sizeof(E), nameSpace, name, description,
                                                  StaticTypeOf<E>(), BindingTypeForm::Enumeration);
  for (const BindingEnumerator<E>& enumerator : enumerators) {
    builder.addEnumerator(enumerator.name, static_cast<std::int32_t>(enumerator.value),
                          enumerator.description);
  }
  builder.addTags(tags);
  return builder.Descriptor();
}

}  // namespace Nalo
