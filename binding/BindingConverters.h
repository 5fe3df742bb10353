#pragma once
// BindingConverter<T>: the field converter of each native type the binding
// supports (the mapping from native types to type codes that it rests on is
// in detail/NativeTypeMapping.h).
//
// Supported native types and their codes:
//   bool                                  "bool"
//   std::int8_t ... std::uint64_t         "int8" ... "uint64" (by width and sign)
//   float, double                         "float", "double"
//   std::string                           "string"
//   BindingProperty                       "object" (held as is)
//   std::vector<std::uint8_t>             "blob"
//   std::vector<E>                        "vector" of E
//   std::unordered_map<std::string, E>    "map" of E
//   std::map<std::string, E>              "map" of E
//   an enumeration (at most 32 bits)      "enum", registered with RegisterEnum
//   any other class                       "struct", registered with RegisterStruct
//   std::optional<E>                      E's code; see below
// Element types nest freely (a vector of maps of structures).
//
// std::optional<E>: an empty input resets it to nullopt, any other input
// engages it and converts into the value. nullopt converts to an empty value,
// and a structure leaves such a member out (fields of optional type carry
// kOmitWhenEmpty), while an engaged value is always written, even 0 or "".
//
// Enumerations and structures need their descriptor, which the registry
// resolves; the converters get it as the `descriptor` argument (the innermost
// registered type of the value, see BindingTypeIdentifier.h).

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/BindingFieldConverter.h"
#include "binding/BindingProperty.h"
#include "binding/BindingResult.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/detail/BindingConversionRules.h"
#include "binding/detail/NativeJsonWriter.h"
#include "binding/detail/NativeTypeMapping.h"
#include "binding/detail/NativeVisit.h"

namespace Nalo {

namespace detail {

template <class T>
void ConvertFrom(BindingResult& context, T& native, const BindingProperty& input,
                 std::string_view fieldName, const BindingTypeDescriptor* descriptor,
                 const BindingTypeRegistry& registry) {
  constexpr BindingTypeId kId = TypeIdOf<T>();
  if constexpr (kIsOptional<T>) {
    if (input.IsEmpty()) {
      native.reset();
      return;
    }
    ConvertFrom(context, native.emplace(), input, fieldName, descriptor, registry);
  } else if constexpr (kId == BindingTypeId::Bool) {
    bool value = false;
    if (BoolFromProperty(context, input, fieldName, value)) {
      native = value;
    }
  } else if constexpr (BindingInteger<T> && std::is_signed_v<T>) {
    std::int64_t value = 0;
    if (SignedFromProperty(context, input, fieldName, kId, std::numeric_limits<T>::min(),
                           std::numeric_limits<T>::max(), value)) {
      native = static_cast<T>(value);
    }
  } else if constexpr (BindingInteger<T>) {
    std::uint64_t value = 0;
    if (UnsignedFromProperty(context, input, fieldName, kId, std::numeric_limits<T>::max(),
                             value)) {
      native = static_cast<T>(value);
    }
  } else if constexpr (std::is_floating_point_v<T>) {
    double value = 0;
    if (FloatingFromProperty(context, input, fieldName, kId, std::numeric_limits<T>::max(),
                             value)) {
      native = static_cast<T>(value);
    }
  } else if constexpr (kId == BindingTypeId::String) {
    static_cast<void>(StringFromProperty(context, input, fieldName, registry, native));
  } else if constexpr (kId == BindingTypeId::Object) {
    native.assign(input);
  } else if constexpr (kId == BindingTypeId::Blob) {
    static_cast<void>(BlobFromProperty(context, input, fieldName, native));
  } else if constexpr (kId == BindingTypeId::Vector) {
    using Element = typename ContainerTraits<T>::Element;
    native.clear();
    if (!CheckVectorInput(context, input, fieldName)) {
      return;
    }
    const auto elements = input.Elements();
    native.resize(elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i) {
      if (elements[i].IsEmpty()) {
        continue;
      }
      if constexpr (std::same_as<Element, bool>) {
        // std::vector<bool> hands out proxies, not bool&.
        bool value = false;
        ConvertFrom(context, value, elements[i], fieldName, descriptor, registry);
        native[i] = value;
      } else {
        ConvertFrom(context, native[i], elements[i], fieldName, descriptor, registry);
      }
      // A failure resets `context`, which may own `input`: stop touching it.
      if (context.Failed()) {
        return;
      }
    }
  } else if constexpr (kId == BindingTypeId::Map) {
    native.clear();
    if (!CheckMapInput(context, input, fieldName)) {
      return;
    }
    if constexpr (requires { native.reserve(input.size()); }) {
      native.reserve(input.size());
    }
    for (const auto member : input.Members()) {
      if (member.value.IsEmpty()) {
        continue;
      }
      ConvertFrom(context, native[std::string(member.name)], member.value, fieldName, descriptor,
                  registry);
      if (context.Failed()) {
        return;
      }
    }
  } else if constexpr (kId == BindingTypeId::Enum) {
    std::int32_t value = 0;
    if (EnumFromProperty(context, input, fieldName, descriptor, value)) {
      native = static_cast<T>(value);
    }
  } else {
    StructFromProperty(context, &native, input, fieldName, descriptor, registry);
  }
}

template <class T>
[[nodiscard]] bool WriteValue(BindingProperty& target, const T& native,
                              const BindingTypeDescriptor* descriptor,
                              const BindingTypeRegistry& registry, std::string& error) {
  constexpr BindingTypeId kId = TypeIdOf<T>();
  if constexpr (kIsOptional<T>) {
    return !native.has_value() || WriteValue(target, *native, descriptor, registry, error);
  } else if constexpr (kId == BindingTypeId::Bool) {
    target.SetBool(native);
  } else if constexpr (BindingInteger<T> && std::is_signed_v<T>) {
    target.SetSigned(native);
  } else if constexpr (BindingInteger<T>) {
    target.SetUnsigned(native);
  } else if constexpr (std::is_floating_point_v<T>) {
    target.SetFloat(native);
  } else if constexpr (kId == BindingTypeId::String) {
    target.SetString(std::string_view(native));
  } else if constexpr (kId == BindingTypeId::Object) {
    target.assign(native);
  } else if constexpr (kId == BindingTypeId::Blob) {
    target.SetBlob(native);
  } else if constexpr (kId == BindingTypeId::Vector) {
    using Element = typename ContainerTraits<T>::Element;
    target.MakeCollection();
    target.reserve(native.size());
    for (std::size_t i = 0; i < native.size(); ++i) {
      const Element& element = native[i];
      if (!WriteValue<Element>(target.at(i), element, descriptor, registry, error)) {
        return false;
      }
    }
  } else if constexpr (kId == BindingTypeId::Map) {
    target.MakeStructure();
    for (const auto& [key, value] : native) {
      if (!WriteValue(target.member(std::string_view(key)), value, descriptor, registry, error)) {
        return false;
      }
    }
  } else if constexpr (kId == BindingTypeId::Enum) {
    target.SetEnum(static_cast<std::int32_t>(native), descriptor);
  } else {
    return WriteStruct(target, &native, descriptor, registry, error);
  }
  return true;
}

template <class T>
NativeValueClass ClassifyValue(const T& native, const BindingTypeDescriptor* descriptor) {
  constexpr BindingTypeId kId = TypeIdOf<T>();
  const auto defaultWhen = [](bool isDefault) {
    return isDefault ? NativeValueClass::Default : NativeValueClass::Other;
  };
  if constexpr (kIsOptional<T>) {
    return native.has_value() ? ClassifyValue(*native, descriptor) : NativeValueClass::Empty;
  } else if constexpr (kId == BindingTypeId::Bool) {
    return defaultWhen(!native);
  } else if constexpr (BindingInteger<T>) {
    return defaultWhen(native == 0);
  } else if constexpr (std::is_floating_point_v<T>) {
    return defaultWhen(static_cast<double>(native) == 0);
  } else if constexpr (kId == BindingTypeId::Object) {
    return ClassifyProperty(native);
  } else if constexpr (kId == BindingTypeId::String || kId == BindingTypeId::Blob ||
                       kId == BindingTypeId::Vector || kId == BindingTypeId::Map) {
    return defaultWhen(native.empty());
  } else if constexpr (kId == BindingTypeId::Enum) {
    return defaultWhen(static_cast<std::int32_t>(native) == 0);
  } else {
    return ClassifyStruct(&native, descriptor);
  }
}

template <class Writer, class T>
[[nodiscard]] bool WriteNativeValue(Writer& writer, const T& native,
                                    const BindingTypeDescriptor* descriptor);

// A map through the value tree, for the rare key that holds a NUL (a member
// name ends at its first NUL, so such keys may merge).
template <class Writer, class T>
[[nodiscard]] bool WriteNativeThroughTree(Writer& writer, const T& native,
                                          const BindingTypeDescriptor* descriptor) {
  BindingProperty value;
  std::string error;
  if (!WriteValue(value, native, descriptor, writer.Registry(), error)) {
    return writer.Fail(error);
  }
  writer.Value(value);
  return true;
}

// Writes `native` through `writer` (the JSON writer or a visitor walk) as
// the tree ToProperty would build from it is walked: the same calls in the
// same order, without the tree.
template <class Writer, class T>
bool WriteNativeValue(Writer& writer, const T& native, const BindingTypeDescriptor* descriptor) {
  constexpr BindingTypeId kId = TypeIdOf<T>();
  if constexpr (kIsOptional<T>) {
    if (!native.has_value()) {
      writer.Null();
      return true;
    }
    return WriteNativeValue(writer, *native, descriptor);
  } else if constexpr (kId == BindingTypeId::Bool) {
    writer.Bool(native);
  } else if constexpr (BindingInteger<T> && std::is_signed_v<T>) {
    writer.Int64(native);
  } else if constexpr (BindingInteger<T>) {
    writer.Uint64(native);
  } else if constexpr (std::is_floating_point_v<T>) {
    writer.Double(static_cast<double>(native));
  } else if constexpr (kId == BindingTypeId::String) {
    writer.String(native);
  } else if constexpr (kId == BindingTypeId::Object) {
    writer.Value(native);
  } else if constexpr (kId == BindingTypeId::Blob) {
    writer.Blob(native);
  } else if constexpr (kId == BindingTypeId::Vector) {
    using Element = typename ContainerTraits<T>::Element;
    writer.StartArray(native.size());
    for (std::size_t i = 0; i < native.size(); ++i) {
      const Element& element = native[i];
      writer.StartElement();
      if (!WriteNativeValue<Writer, Element>(writer, element, descriptor)) {
        return false;
      }
      writer.EndElement();
    }
    writer.EndArray();
  } else if constexpr (kId == BindingTypeId::Map) {
    for (const auto& entry : native) {
      if (entry.first.find('\0') != std::string::npos) [[unlikely]] {
        return WriteNativeThroughTree(writer, native, descriptor);
      }
    }
    // Members in ascending byte order of their names: std::string's order.
    const auto writeEntry = [&](const auto& entry) {
      writer.Key(entry.first);
      if (!WriteNativeValue(writer, entry.second, descriptor)) {
        return false;
      }
      writer.EndMember();
      return true;
    };
    writer.StartObject(native.size());
    if constexpr (std::same_as<T, std::map<std::string, typename ContainerTraits<T>::Element>>) {
      for (const auto& entry : native) {
        if (!writeEntry(entry)) {
          return false;
        }
      }
    } else {
      std::vector<const typename T::value_type*> entries;
      entries.reserve(native.size());
      for (const auto& entry : native) {
        entries.push_back(&entry);
      }
      std::sort(entries.begin(), entries.end(),
                [](const auto* left, const auto* right) { return left->first < right->first; });
      for (const auto* entry : entries) {
        if (!writeEntry(*entry)) {
          return false;
        }
      }
    }
    writer.EndObject();
  } else if constexpr (kId == BindingTypeId::Enum) {
    writer.Enum(static_cast<std::int32_t>(native), descriptor);
  } else {
    return writer.Struct(&native, descriptor);
  }
  return true;
}

}  // namespace detail

// The converter of native type `T`; Instance() is the one object fields of
// type `T` refer to.
template <class T>
class BindingConverter final : public BindingFieldConverter {
 public:
  static constexpr BindingTypeId kTypeId = detail::TypeIdOf<T>();

  [[nodiscard]] static const BindingConverter& Instance() noexcept {
    static const BindingConverter instance;
    return instance;
  }

  void fromProperty(BindingResult& context, void* field, const BindingProperty& input,
                    std::string_view fieldName, const BindingTypeDescriptor* descriptor,
                    const BindingTypeRegistry& registry) const override {
    if (context.Failed()) {
      return;
    }
    detail::ConvertFrom(context, *static_cast<T*>(field), input, fieldName, descriptor, registry);
  }

  [[nodiscard]] bool Write(BindingProperty& target, const void* field,
                           const BindingTypeDescriptor* descriptor,
                           const BindingTypeRegistry& registry, std::string& error) const override {
    return detail::WriteValue(target, *static_cast<const T*>(field), descriptor, registry, error);
  }

  [[nodiscard]] NativeValueClass Classify(const void* field,
                                          const BindingTypeDescriptor* descriptor) const override {
    return detail::ClassifyValue(*static_cast<const T*>(field), descriptor);
  }

  [[nodiscard]] bool WriteJson(detail::NativeJsonWriter& writer, const void* field,
                               const BindingTypeDescriptor* descriptor) const override {
    return detail::WriteNativeValue(writer, *static_cast<const T*>(field), descriptor);
  }

  [[nodiscard]] bool Visit(detail::NativeVisit& walk, const void* field,
                           const BindingTypeDescriptor* descriptor) const override {
    return detail::WriteNativeValue(walk, *static_cast<const T*>(field), descriptor);
  }
};

}  // namespace Nalo
