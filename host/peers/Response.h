#pragma once
// Response: the answer to a request inside the stand-in core, as its caller
// sees it, whoever answered it (a plugin's route, a peer, an injected
// fault); and the method names a request may carry.
//
//   Nalo::Host::Response response = host.Request("GET", "/tav-login/v1/session");
//   if (!response.Succeeded()) { ... response.status, response.error ... }
//   MethodCode("POST") == NALO_METHOD_POST;  MethodName(NALO_METHOD_POST) == "POST"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "binding/BindingProperty.h"

namespace Nalo::Host {

struct Response {
  std::uint32_t status = 0;
  std::string reason;
  // Empty for success; the error text otherwise.
  std::string error;
  // The body value (empty for no content). A streamed body is read to its
  // end and parsed as JSON; `bodyText` keeps the text as it arrived.
  BindingProperty body;
  std::string bodyText;
  // From a peer: the body arrives this long after the answer, in virtual
  // time (a delayed LCDS reply, Peers.h).
  std::chrono::nanoseconds bodyDelay{0};

  [[nodiscard]] bool Succeeded() const noexcept { return status < 400 && error.empty(); }
};

// The method code of a method name in capitals ("GET" -> NALO_METHOD_GET);
// NALO_METHOD_NONE for an unknown name.
[[nodiscard]] std::uint32_t MethodCode(std::string_view name) noexcept;
// The name of a method code; "" for an unknown code.
[[nodiscard]] std::string_view MethodName(std::uint32_t code) noexcept;

}  // namespace Nalo::Host
