#include "diagnostics/LogLevel.h"

namespace Nalo {
namespace {

constexpr std::string_view kLevelTexts[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
constexpr std::string_view kInvalidLevelText = "??????";

}  // namespace

std::string_view LogLevelText(LogLevel level) noexcept {
  const auto index = static_cast<std::int32_t>(level);
  if (index < 0 || index >= static_cast<std::int32_t>(std::size(kLevelTexts))) {
    return kInvalidLevelText;
  }
  return kLevelTexts[index];
}

}  // namespace Nalo
