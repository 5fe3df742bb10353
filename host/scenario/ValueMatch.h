#pragma once
// ValueMatch: compares an expected value with the one seen, as scenarios
// and tests of the host do, and says where they differ.
//
// Numbers compare by value whatever their kind (1, 1u and 1.0 are equal);
// strings, booleans and blobs by content; an empty expected value matches
// only an empty one. Exact: structures have the same members. Subset: every
// member of an expected structure is present and matches as a subset, while
// extra members are ignored; arrays still match element by element, in
// order, with the same length.
//
//   if (auto difference = Nalo::Host::Mismatch(expected, seen, MatchMode::Subset)) {
//     report << *difference;   // "at .phase: expected \"Lobby\", saw \"None\""
//   }

#include <optional>
#include <string>

#include "binding/BindingProperty.h"

namespace Nalo::Host {

enum class MatchMode { Exact, Subset };

// Nothing when `seen` matches `expected`; otherwise where and how it differs.
[[nodiscard]] std::optional<std::string> Mismatch(const BindingProperty& expected,
                                                  const BindingProperty& seen, MatchMode mode);

// The value as compact JSON, for reports; "null" for an empty value.
[[nodiscard]] std::string Describe(const BindingProperty& value);

}  // namespace Nalo::Host
