#include "binding/BindingKind.h"

#include <array>

namespace Nalo {

std::string_view BindingKindName(BindingKind kind) noexcept {
  static constexpr std::array<std::string_view, 10> kNames = {
      "empty",  "bool", "signed", "unsigned",   "float",
      "string", "blob", "enum",   "collection", "structure"};
  const auto code = static_cast<std::size_t>(kind);
  return code < kNames.size() ? kNames[code] : std::string_view();
}

}  // namespace Nalo
