#pragma once
// YAML text to BindingProperty.
//
// Request bodies sent as "application/x-yaml" and parameters sent as
// "text/x-yaml" are read by ParseYaml: libyaml parses the text into events
// and a builder turns them into a value tree in place, in one pass.
//
//   Nalo::BindingResult result = Nalo::ParseYaml("phase: Lobby\nids: [1, 2]\n");
//   if (result.Failed()) {
//     return result;  // {"error": "YAML parser error: ... At line: 1 col: 4"}
//   }
//
// Reading rules a caller can observe:
// - An empty text, or one holding only comments, is an empty value.
// - Scalars are typed by tag: !!str, !!int (signed when the text starts with
//   "-", else unsigned; "0x" and leading-"0" octal accepted), !!float and
//   !!bool; any other tag is refused. Quoted scalars without a tag are
//   strings. Plain scalars: "", "~", "null", "Null", "NULL" are empty; a
//   finite number is "signed" (negative integral), "unsigned" (other
//   integral values below 2^64) or "float"; an integer written out beyond
//   the 64-bit kinds is a float; a number too small for a double is unsigned
//   0; yes/no, on/off, y/n and true/false in lower, capitalised or upper case
//   are bools; anything else is a string. So 42 is unsigned 42, '42' the
//   string "42", 0x10 unsigned 16, 1e3 unsigned 1000 and 1e-400 unsigned 0,
//   while nan, inf, -inf, 1e999 and -1e999 stay strings.
// - Mapping keys must be plain or !!str scalars (or aliases of scalars).
//   A repeated key reuses its member: a later scalar replaces it, a later
//   mapping is merged into it and a later sequence is appended to it.
// - An alias receives a deep copy of the anchored container as it is when the
//   alias is read; an alias of a scalar anchor is the anchored text as a
//   string. Anchors can't be redefined, and an alias can't name a container
//   that encloses it. Aliases may copy at most kMaxYamlAliasValues values
//   and kMaxYamlAliasBytes bytes of strings per text (an alias of a scalar is
//   one value of its text's length), so a small text can't expand into an
//   enormous tree.
// - Only one document: a second document after a non-empty first one is
//   refused.
// - Containers nested deeper than kMaxNestingDepth (BindingLimits.h), counting
//   those an alias copies in, are refused with a message naming the limit.
// - Errors name the position: "... At line: L col: C", counted from 1 for
//   the builder's own messages and from 0 in "YAML parser error: <libyaml's
//   problem>. At line: L col: C". On error no partial tree is returned.

#include <cstddef>
#include <string_view>

#include "binding/BindingResult.h"

namespace Nalo {

// Most values that aliases may copy into the tree of one text.
inline constexpr std::size_t kMaxYamlAliasValues = 1'000'000;
// Most bytes of string and blob payload that aliases may copy into the tree
// of one text (16 MiB).
inline constexpr std::size_t kMaxYamlAliasBytes = std::size_t{16} << 20;

// Parses `text` (UTF-8; every byte is read, a NUL byte is a parse error).
// Never throws on bad input: every libyaml error and every rule above gives
// the error result. (Allocation failure still throws std::bad_alloc, as
// everywhere in the value model.)
[[nodiscard]] BindingResult ParseYaml(std::string_view text);

}  // namespace Nalo
