#pragma once
// The compile-time mapping from native types to the binding's type codes:
// which code a native type has, the element type of its containers, and the
// innermost registered type (enumeration or structure) whose descriptor its
// converters need. Private to the binding library; the table of supported
// types is in BindingConverters.h.

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingStaticType.h"
#include "binding/BindingTypeIdentifier.h"
#include "binding/BindingTypeRegistry.h"

namespace Nalo::detail {

template <class T>
struct ContainerTraits {
  using Element = void;
  static constexpr bool kIsVector = false;
  static constexpr bool kIsMap = false;
  static constexpr bool kIsOptional = false;
};
template <class E>
struct ContainerTraits<std::vector<E>> : ContainerTraits<void> {
  using Element = E;
  static constexpr bool kIsVector = true;
};
template <class E>
struct ContainerTraits<std::unordered_map<std::string, E>> : ContainerTraits<void> {
  using Element = E;
  static constexpr bool kIsMap = true;
};
template <class E>
struct ContainerTraits<std::map<std::string, E>> : ContainerTraits<void> {
  using Element = E;
  static constexpr bool kIsMap = true;
};
template <class E>
struct ContainerTraits<std::optional<E>> : ContainerTraits<void> {
  using Element = E;
  static constexpr bool kIsOptional = true;
};

template <class T>
inline constexpr bool kIsOptional = ContainerTraits<T>::kIsOptional;

// Any standard map, whatever its key: only string keys can be bound.
template <class T>
inline constexpr bool kIsStandardMap = false;
template <class K, class E, class... Rest>
inline constexpr bool kIsStandardMap<std::map<K, E, Rest...>> = true;
template <class K, class E, class... Rest>
inline constexpr bool kIsStandardMap<std::unordered_map<K, E, Rest...>> = true;

template <class T>
concept BindingInteger = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char> &&
                         !std::same_as<T, wchar_t> && !std::same_as<T, char8_t> &&
                         !std::same_as<T, char16_t> && !std::same_as<T, char32_t>;

template <class>
inline constexpr bool kUnsupported = false;

// The type code of `T` (of its value, for an optional).
template <class T>
consteval BindingTypeId TypeIdOf() {
  using Traits = ContainerTraits<T>;
  if constexpr (Traits::kIsOptional) {
    return TypeIdOf<typename Traits::Element>();
  } else if constexpr (std::same_as<T, bool>) {
    return BindingTypeId::Bool;
  } else if constexpr (BindingInteger<T>) {
    constexpr bool kIsSigned = std::is_signed_v<T>;
    if constexpr (sizeof(T) == 1) {
      return kIsSigned ? BindingTypeId::Int8 : BindingTypeId::Uint8;
    } else if constexpr (sizeof(T) == 2) {
      return kIsSigned ? BindingTypeId::Int16 : BindingTypeId::Uint16;
    } else if constexpr (sizeof(T) == 4) {
      return kIsSigned ? BindingTypeId::Int32 : BindingTypeId::Uint32;
    } else {
      static_assert(sizeof(T) == 8, "integers wider than 64 bits can't be bound");
      return kIsSigned ? BindingTypeId::Int64 : BindingTypeId::Uint64;
    }
  } else if constexpr (std::same_as<T, float>) {
    return BindingTypeId::Float;
  } else if constexpr (std::same_as<T, double>) {
    return BindingTypeId::Double;
  } else if constexpr (std::same_as<T, std::string>) {
    return BindingTypeId::String;
  } else if constexpr (std::same_as<T, BindingProperty>) {
    return BindingTypeId::Object;
  } else if constexpr (std::same_as<T, std::vector<std::uint8_t>>) {
    return BindingTypeId::Blob;
  } else if constexpr (Traits::kIsVector) {
    return BindingTypeId::Vector;
  } else if constexpr (Traits::kIsMap) {
    return BindingTypeId::Map;
  } else if constexpr (kIsStandardMap<T>) {
    static_assert(kUnsupported<T>,
                  "a map is bound only as std::map or std::unordered_map with std::string keys");
    return BindingTypeId::None;
  } else if constexpr (std::is_enum_v<T>) {
    static_assert(sizeof(T) <= sizeof(std::int32_t), "bound enumerations hold 32-bit values");
    return BindingTypeId::Enum;
  } else if constexpr (std::is_class_v<T>) {
    return BindingTypeId::Struct;
  } else {
    static_assert(kUnsupported<T>, "this native type can't be bound");
    return BindingTypeId::None;
  }
}

// The innermost type of `T` once optionals and containers (but not blobs)
// are peeled off.
template <class T>
struct LeafType {
  using Type = T;
};
template <class E>
struct LeafType<std::vector<E>> {
  using Type = typename LeafType<E>::Type;
};
template <>
struct LeafType<std::vector<std::uint8_t>> {
  using Type = std::vector<std::uint8_t>;
};
template <class E>
struct LeafType<std::unordered_map<std::string, E>> {
  using Type = typename LeafType<E>::Type;
};
template <class E>
struct LeafType<std::map<std::string, E>> {
  using Type = typename LeafType<E>::Type;
};
template <class E>
struct LeafType<std::optional<E>> {
  using Type = typename LeafType<E>::Type;
};

template <class T>
constexpr bool IsRegisteredCode() {
  constexpr BindingTypeId kId = TypeIdOf<T>();
  return kId == BindingTypeId::Enum || kId == BindingTypeId::Struct;
}

// The static type record of the innermost registered type of `T`, or null.
template <class T>
constexpr const BindingStaticType* LeafStaticType() {
  using Leaf = typename LeafType<T>::Type;
  if constexpr (IsRegisteredCode<Leaf>()) {
    return &StaticTypeOf<Leaf>();
  } else {
    return nullptr;
  }
}

// The descriptor converters of `T` need: its innermost registered type's.
template <class T>
const BindingTypeDescriptor* LeafDescriptor(const BindingTypeRegistry& registry) {
  const BindingStaticType* leaf = LeafStaticType<T>();
  return leaf != nullptr ? registry.descriptorFor(leaf->id) : nullptr;
}

template <class T>
BindingTypeIdentifier IdentifierOf(const BindingTypeRegistry& registry) {
  using Value = std::conditional_t<kIsOptional<T>, typename ContainerTraits<T>::Element, T>;
  BindingTypeIdentifier identifier{TypeIdOf<Value>(), BindingTypeId::None,
                                   LeafDescriptor<Value>(registry)};
  if constexpr (ContainerTraits<Value>::kIsVector || ContainerTraits<Value>::kIsMap) {
    if constexpr (TypeIdOf<Value>() != BindingTypeId::Blob) {
      identifier.elementType = TypeIdOf<typename ContainerTraits<Value>::Element>();
    }
  }
  return identifier;
}

// The field's identifier and, for a container, its element's.
template <class T>
void DescribeType(const BindingTypeRegistry& registry, BindingTypeIdentifier& type,
                  BindingTypeIdentifier& element) {
  using Value = std::conditional_t<kIsOptional<T>, typename ContainerTraits<T>::Element, T>;
  type = IdentifierOf<Value>(registry);
  element = {};
  if constexpr ((ContainerTraits<Value>::kIsVector || ContainerTraits<Value>::kIsMap) &&
                TypeIdOf<Value>() != BindingTypeId::Blob) {
    element = IdentifierOf<typename ContainerTraits<Value>::Element>(registry);
  }
}

}  // namespace Nalo::detail
