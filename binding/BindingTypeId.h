#pragma once
// BindingTypeId: the code of a registered field's or argument's type.
//
// The codes and their names are part of the wire: conversion messages name
// integer and floating types by them ("Value 70000 for 'port' of type uint16
// is out of range") and help output lists them.

#include <cstdint>
#include <string_view>

namespace Nalo {

enum class BindingTypeId : std::uint8_t {
  None = 0,  // no type; the element code of a non-container
  Bool = 1,
  Int8 = 2,
  Uint8 = 3,
  Int16 = 4,
  Uint16 = 5,
  Int32 = 6,
  Uint32 = 7,
  Int64 = 8,
  Uint64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  Object = 13,    // a BindingProperty held as is
  Blob = 14,      // std::vector<std::uint8_t>
  Vector = 15,    // std::vector of an element type
  Enum = 16,      // a registered enumeration
  Struct = 17,    // a registered structure
  Callback = 18,  // a callback handle; appears in help output only
  Map = 19,       // std::map or std::unordered_map<std::string, element type>
};

// "bool", "int8", "uint8", ... "map"; the empty name for codes outside 1 to 19.
[[nodiscard]] std::string_view BindingTypeIdName(BindingTypeId id) noexcept;

}  // namespace Nalo
