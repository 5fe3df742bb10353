#pragma once
// Typing of one YAML scalar: by its tag, else by quoting and plain-text
// resolution. Private to the YAML reader.
//
// - "!!str", quoted without a tag: a string of every byte.
// - "!!int": text starting with "-" as a signed 64-bit value, anything else
//   as unsigned, with automatic base ("0x" hexadecimal, a leading "0" octal).
// - "!!float": a decimal double within the finite range.
// - "!!bool": one of the bool words below; any other text is an error.
// - any other tag: an error.
// - plain (no tag, not quoted), in order: a null word ("", "~", "null",
//   "Null", "NULL") is empty; a finite number is "signed" when negative and
//   integral, "unsigned" when non-negative and integral (within 64 bits),
//   else "float"; a bool word; otherwise a string.

#include <cstddef>
#include <string>
#include <string_view>

#include "binding/BindingProperty.h"

namespace Nalo::detail {

inline constexpr std::string_view kYamlStringTag = "tag:yaml.org,2002:str";
inline constexpr std::string_view kYamlIntegerTag = "tag:yaml.org,2002:int";
inline constexpr std::string_view kYamlFloatTag = "tag:yaml.org,2002:float";
inline constexpr std::string_view kYamlBoolTag = "tag:yaml.org,2002:bool";

struct YamlScalar {
  // Null when the scalar has no explicit tag.
  const char* tag;
  // Every byte of the scalar's value (quoted scalars may hold NULs).
  std::string_view text;
  // Written single- or double-quoted.
  bool quoted;
  // Where the scalar starts, counted from 1, for messages.
  std::size_t line;
  std::size_t column;
};

// Stores the typed value of `scalar` into `target`. On failure returns false
// with `error` holding the message; `target` is then left as it was.
[[nodiscard]] bool ResolveYamlScalar(const YamlScalar& scalar, BindingProperty& target,
                                     std::string& error);

}  // namespace Nalo::detail
