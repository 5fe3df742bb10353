#pragma once
// RequestMethod: the method of a request, with the core's codes.
//
// Codes 1 to 7 are the HTTP methods; 8 is a named function call, which has no
// method name and carries the function's name instead. Any other code the
// core sends reads as None; an endpoint registered with None accepts every
// method.

#include <cstdint>
#include <string_view>

namespace Nalo {

enum class RequestMethod : std::uint8_t {
  None = 0,
  Delete = 1,
  Get = 2,
  Head = 3,
  Options = 4,
  Patch = 5,
  Post = 6,
  Put = 7,
  Call = 8,
};

// The method of a core method code; None for codes outside 1 to 8.
[[nodiscard]] RequestMethod RequestMethodFromCode(std::uint32_t code) noexcept;

// "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT"; empty for None
// and Call.
[[nodiscard]] std::string_view RequestMethodName(RequestMethod method) noexcept;

}  // namespace Nalo
