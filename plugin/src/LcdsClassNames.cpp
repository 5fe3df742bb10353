#include "plugin/LcdsClassNames.h"

#include "diagnostics/Fatal.h"

namespace Nalo {

void LcdsClassNames::Register(std::uint32_t staticTypeId, std::string_view registeredTypeName,
                              std::string_view className) {
  if (staticTypeId == kNoStaticTypeId) {
    FatalWithDescription("staticTypeId != kNoStaticTypeId",
                         "An LCDS class name needs a native type to check replies against.");
  }
  mByTypeName.try_emplace(std::string(registeredTypeName), className);
  mByStaticTypeId.try_emplace(staticTypeId, className);
}

std::optional<std::string_view> LcdsClassNames::ForTypeName(
    std::string_view registeredTypeName) const {
  const auto found = mByTypeName.find(registeredTypeName);
  if (found == mByTypeName.end()) {
    return std::nullopt;
  }
  return found->second;
}

std::optional<std::string_view> LcdsClassNames::ForStaticTypeId(std::uint32_t staticTypeId) const {
  const auto found = mByStaticTypeId.find(staticTypeId);
  if (found == mByStaticTypeId.end()) {
    return std::nullopt;
  }
  return found->second;
}

}  // namespace Nalo
