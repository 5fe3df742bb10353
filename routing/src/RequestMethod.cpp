#include "routing/RequestMethod.h"

#include <array>

namespace Nalo {

namespace {
constexpr std::array<std::string_view, 9> kMethodNames = {
    "", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT", ""};
}  // namespace

RequestMethod RequestMethodFromCode(std::uint32_t code) noexcept {
  return code >= 1 && code <= 8 ? static_cast<RequestMethod>(code) : RequestMethod::None;
}

std::string_view RequestMethodName(RequestMethod method) noexcept {
  const auto index = static_cast<std::size_t>(method);
  return index < kMethodNames.size() ? kMethodNames[index] : std::string_view();
}

}  // namespace Nalo
