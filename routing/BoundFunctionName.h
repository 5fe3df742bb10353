#pragma once
// The name of the function an endpoint binds, derived from its method and
// path so that it needs no declaration of its own.
//
//   BoundFunctionName(RequestMethod::Get, "/a-b/v1/items/{id}")  // "GetABV1ItemsById"
//   JoinedWord("tav-gameflow")                                   // "TavGameflow"
//
// The method's name (first letter as it is, the rest in lower case) and a
// "/" come first, unless the method has no name (None, Call); the path
// follows. The text is then made one word: "!", "+", "-", ".", "/" and "_"
// are dropped and upper-case the next character; "{" becomes "By" and
// upper-cases the next character; "}" is dropped; every other character is
// kept, upper-cased when it follows one of those or starts the text.

#include <string>
#include <string_view>

#include "routing/RequestMethod.h"

namespace Nalo {

[[nodiscard]] std::string BoundFunctionName(RequestMethod method, std::string_view path);

// The word rule alone, on `text`.
[[nodiscard]] std::string JoinedWord(std::string_view text);

}  // namespace Nalo
