#pragma once
// JSON text to BindingProperty and back.
//
// ParseJson builds a value tree from JSON text in one pass of RapidJSON's
// reader (strict JSON, default flags): no intermediate document, the values
// are created in place. ToJson walks a value and writes it through RapidJSON's
// writers into one growing buffer.
//
//   Nalo::BindingResult result = Nalo::ParseJson(R"({"phase":"Lobby","ids":[1,2]})");
//   if (result.Failed()) {
//     return result;  // {"error": "Error: ... at offset N."}
//   }
//   std::string compact = Nalo::ToJson(result.Value());            // {"ids":[1,2],...}
//   std::string pretty = Nalo::ToJson(result.Value(), &registry, "\r\n");
//
// Reading rules a caller can observe:
// - The text ends at its first NUL byte, whatever length was passed.
// - An empty or all-whitespace text is an empty value, not an error.
// - null is an empty value; true/false are "bool"; an integer that fits
//   64 bits is "unsigned" without a minus sign and "signed" with one ("-0"
//   is signed 0); every other number is "float"; strings keep the bytes
//   before their first NUL (a \u0000 escape ends the stored string).
// - A repeated member name reuses the member: a later scalar replaces the
//   earlier value, a later object is merged into an earlier object and a
//   later array is appended to an earlier array.
// - Containers nested deeper than kMaxNestingDepth (BindingLimits.h) are
//   refused with an error naming the limit, arrays longer than
//   kMaxCollectionSize likewise.
// - A number too large for a double is an error ("Number too big to be
//   stored in double."), also where the reader would round it to infinity,
//   so a parsed tree never holds a non-finite float.
// - Numbers are read at the reader's normal, not full, precision: a float
//   written by ToJson reads back within a couple of units in the last place,
//   not always bit for bit.
// - Errors read "Error: <reason> at offset <byte offset>." with the reader's
//   English reasons; on error no partial tree is returned.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "binding/BindingProperty.h"
#include "binding/BindingResult.h"

namespace Nalo {

class BindingTypeRegistry;

// Parses zero-terminated text. A null pointer is read as an empty text.
// Never throws on bad input: every syntax error, and nesting past the limit,
// gives the error result described above. (Allocation failure still throws
// std::bad_alloc, as everywhere in the value model.)
[[nodiscard]] BindingResult ParseJson(const char* text);
// Parses `length` bytes at `data`, or fewer when a NUL byte comes first.
// `data` may be null only when `length` is 0.
[[nodiscard]] BindingResult ParseJson(const char* data, std::size_t length);
// Parses `text`, up to its first NUL byte.
[[nodiscard]] BindingResult ParseJson(std::string_view text);

// The line separator that selects indented output with plain line feeds.
inline constexpr std::string_view kJsonLineFeed = "\n";

// Writes `value` as JSON.
// - An empty root gives "" (not "null"); an empty element or member is null.
// - `lineSeparator` empty: compact output. Otherwise the output is indented
//   by 4 spaces per level with one item per line, lines separated by
//   `lineSeparator` (for example "\r\n").
// - `registry` given: an enum is written as its enumerator's name when the
//   registry knows one for its value; otherwise (no registry, no descriptor,
//   unknown value) as its signed number. The registry is only read.
// - Members come out in ascending byte order of their names; floats in their
//   shortest round-trip form, with zero as 0.0 or -0.0; NaN and infinities,
//   which JSON can't express, as null, so the output is always valid JSON;
//   blobs as padded standard Base64 strings.
[[nodiscard]] std::string ToJson(const BindingProperty& value,
                                 const BindingTypeRegistry* registry = nullptr,
                                 std::string_view lineSeparator = {});

class BindingVisitor;

// Writes compact JSON from a walk of a value held in another form (a host
// value, say) without building its tree: `walk` makes on the visitor it is
// given the calls BindingProperty::accept would make, and the text is what
// ToJson(value, registry) writes, a walk of one Null() included ("null").
// Empty when `walk` answers false (it stopped part way; the caller then
// writes the value another way).
[[nodiscard]] std::optional<std::string> WalkToJson(
    const std::function<bool(BindingVisitor&)>& walk,
    const BindingTypeRegistry* registry = nullptr);

}  // namespace Nalo
