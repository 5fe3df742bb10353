#pragma once
// RouteRequest: a request as the router reads it; a view of the core's
// request record (HostAbi.h) or of test data. It refers to texts and bytes
// it doesn't own, which must outlive the dispatch.
//
//   Nalo::RouteRequest request{.method = Nalo::RequestMethod::Get,
//                              .path = "/tav-gameflow/v1/session?verbose"};

#include <cstdint>
#include <span>
#include <string_view>

#include "abi/HostAbi.h"
#include "routing/RequestMethod.h"

namespace Nalo {

struct RequestHeader {
  std::string_view name{};
  std::string_view value{};
};

struct RouteRequest {
  RequestMethod method = RequestMethod::None;
  std::string_view path{};          // may carry "?query"
  std::string_view functionName{};  // RequestMethod::Call only
  std::span<const RequestHeader> headers{};
  // Directly passed arguments; the records belong to the caller.
  std::span<const NaloRequestArgument> hostArguments{};
  std::string_view contentType{};  // of the body
  std::span<const std::uint8_t> body{};
  void* callContext = nullptr;
};

}  // namespace Nalo
