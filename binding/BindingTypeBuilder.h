#pragma once
// BindingTypeBuilder: fills in one descriptor right after
// BindingTypeRegistry::beginType created it.
//
// A builder for a name that was already registered is inert: every call
// does nothing, so registering a type twice keeps the first definition. The
// builder is short-lived and used by the registering thread only; it writes
// the descriptor without locking, which is safe because registration ends
// before any conversion starts. Most code registers through RegisterStruct
// and RegisterEnum (BindingRegistration.h), which drive a builder from a
// table.
//
//   BindingTypeBuilder builder = registry.beginType(sizeof(Color), "Demo", "Color", "",
//                                                   StaticTypeOf<Color>(),
//                                                   BindingTypeForm::Enumeration);
//   builder.addEnumerator("Red", 0, "").addEnumerator("Green", 1, "");

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "binding/BindingTypeDescriptor.h"

namespace Nalo {

class BindingTypeBuilder {
 public:
  // True when the name was already registered and this builder changes nothing.
  [[nodiscard]] bool IsInert() const noexcept { return mBuilding == nullptr; }
  // The descriptor registered under the name: the new one, or the first one
  // when this builder is inert.
  [[nodiscard]] const BindingTypeDescriptor& Descriptor() const noexcept { return *mDescriptor; }

  // Adds an enumerator; adding a name again overwrites that entry's value and
  // description.
  BindingTypeBuilder& addEnumerator(std::string_view name, std::int32_t value,
                                    std::string_view description);
  // Appends a field. `elementType` describes a container's element and is
  // all zero otherwise; `converter` must live for the process (the
  // BindingConverter<T> instances do).
  BindingTypeBuilder& addField(std::string_view name, std::string_view description,
                               std::uint32_t offset, BindingTypeIdentifier type,
                               BindingTypeIdentifier elementType, BindingFieldFlags flags,
                               const BindingFieldConverter& converter);
  // Appends the tags, skipping empty ones.
  BindingTypeBuilder& addTags(std::span<const std::string_view> tags);
  BindingTypeBuilder& addTags(std::initializer_list<std::string_view> tags) {
    return addTags(std::span<const std::string_view>(tags.begin(), tags.size()));
  }

 private:
  friend class BindingTypeRegistry;
  BindingTypeBuilder(const BindingTypeDescriptor& descriptor, BindingTypeDescriptor* building)
      : mDescriptor(&descriptor), mBuilding(building) {}

  const BindingTypeDescriptor* mDescriptor;
  BindingTypeDescriptor* mBuilding;  // null when inert
};

}  // namespace Nalo
