#pragma once
// Binding a request's headers, path parameters, query, host values and body
// to the argument values of the endpoint it matched. Private to the routing
// module; RouteTable.h states the rules.

#include <span>
#include <string_view>

#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "routing/Endpoint.h"
#include "routing/RouteRequest.h"

namespace Nalo {

// Most collection elements one request may create through indices in member
// paths ("ids.7=..."), all keys together.
inline constexpr std::size_t kMaxIndexedElements = 65536;

// Fills `values` (one empty value per argument of `endpoint`) from
// `request`; `captures` are the endpoint's path captures, not yet decoded.
// The first error stops binding and is returned with code 400.
[[nodiscard]] MaybeType<Failure, void> BindArguments(const Endpoint& endpoint,
                                                     std::span<const std::string_view> captures,
                                                     const RouteRequest& request,
                                                     std::span<BindingProperty> values);

}  // namespace Nalo
