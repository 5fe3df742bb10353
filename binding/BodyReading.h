#pragma once
// A request or answer body read by its content type.
//
//   Nalo::BindingResult value = Nalo::ReadTypedBody("application/x-yaml", "phase: Lobby");
//
// The type is compared without letter case, as a prefix (a charset parameter
// may follow): "application/x-yaml" and "text/x-yaml" read YAML,
// "application/x-msgpack" reads one MessagePack value that must fill the
// body, and every other type reads JSON.

#include <string_view>

#include "binding/BindingResult.h"

namespace Nalo {

[[nodiscard]] BindingResult ReadTypedBody(std::string_view contentType, std::string_view body);

}  // namespace Nalo
