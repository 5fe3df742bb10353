#pragma once
// The ten kinds a BindingProperty can hold, and their text names. The names
// appear in every conversion message that names an input's type, so they are
// part of the wire format: "empty", "bool", "signed", "unsigned", "float",
// "string", "blob", "enum", "collection", "structure".

#include <cstdint>
#include <string_view>

namespace Nalo {

enum class BindingKind : std::uint8_t {
  Empty = 0,
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  String = 5,
  Blob = 6,
  Enum = 7,
  Collection = 8,
  Structure = 9,
};

// The text name of a kind; a code above 9 has the empty name.
[[nodiscard]] std::string_view BindingKindName(BindingKind kind) noexcept;

}  // namespace Nalo
