#pragma once
// Writing a dispatch's outcome into the core's response record. Private to
// the routing module.

#include <string_view>

#include "abi/HostAbi.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "routing/CallResult.h"

namespace Nalo {

class BindingTypeRegistry;

// Fills `response`, which must be zeroed, from `outcome`. May throw
// std::bad_alloc; `response` then holds what was written so far and its
// release function frees it.
void WriteResponse(NaloResponse& response, MaybeType<Failure, CallResult> outcome,
                   const BindingTypeRegistry& registry);

// Frees what a previous write allocated (keeping the stream) and writes an
// error response with `status` and `message`. Never throws: when even the
// message can't be copied, the error is a fixed text.
void WriteErrorResponse(NaloResponse& response, std::uint32_t status,
                        std::string_view message) noexcept;

}  // namespace Nalo
