#pragma once
// BindingTypeIdentifier: a complete type as the registry describes it.
//
// {type code, element code, descriptor}. For "vector" and "map" the element
// code names the element's type and the descriptor is the element's
// registered type, if any; when containers nest (a vector of vectors of a
// structure) the descriptor is the innermost registered type, which is the
// one the converters need. For "enum" and "struct" the descriptor is the
// registered type itself. Scalar codes have neither.
//
//   BindingTypeIdentifier ids{BindingTypeId::Vector, BindingTypeId::Int64, nullptr};
//   DisplayType(ids)  // {"vector", "int64"}

#include <string>

#include "binding/BindingTypeId.h"

namespace Nalo {

class BindingTypeDescriptor;

struct BindingTypeIdentifier {
  BindingTypeId type = BindingTypeId::None;
  BindingTypeId elementType = BindingTypeId::None;
  const BindingTypeDescriptor* descriptor = nullptr;

  friend bool operator==(const BindingTypeIdentifier&, const BindingTypeIdentifier&) = default;
};

// How help output shows a type: a type text and an element type text.
struct BindingTypeDisplay {
  std::string type;
  std::string elementType;

  friend bool operator==(const BindingTypeDisplay&, const BindingTypeDisplay&) = default;
};

// "vector" and "map": the code's name and the element's display type. "enum"
// and "struct": the registered full name (or the bare word "enum" or
// "struct" without a descriptor) and an empty element type. Anything else:
// the code's name and an empty element type.
[[nodiscard]] BindingTypeDisplay DisplayType(const BindingTypeIdentifier& identifier);

}  // namespace Nalo
