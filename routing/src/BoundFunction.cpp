#include "routing/BoundFunction.h"

#include "binding/BindingStaticType.h"

namespace Nalo {

std::ptrdiff_t BoundFunction::FindArgument(std::string_view name) const noexcept {
  const std::uint32_t hash = Fnv1a32(name);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i].nameHash == hash && arguments[i].name == name) {
      return static_cast<std::ptrdiff_t>(i);
    }
  }
  return -1;
}

}  // namespace Nalo
