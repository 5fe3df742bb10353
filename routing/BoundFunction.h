#pragma once
// BoundFunction: the function an endpoint calls, as the router sees it: its
// name, its typed arguments in declaration order, its result type and the
// type-erased callable that converts argument values and runs the handler.
//
// Bound functions are made by RouteTable's registration templates from a
// handler and its RouteArgument declarations; nothing else builds one. They
// are immutable after registration and may be used from any thread.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingTypeId.h"
#include "binding/BindingTypeIdentifier.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "routing/ArgumentLocation.h"
#include "routing/CallResult.h"

namespace Nalo {

class BindingTypeRegistry;

// Resolves a type against the registry, at description time, so that routes
// may be registered before or after the types their handlers use.
using TypeDescriber = BindingTypeIdentifier (*)(const BindingTypeRegistry& registry);

struct BoundArgument {
  std::string name;
  std::uint32_t nameHash = 0;  // Fnv1a32(name)
  std::string description;
  bool optional = false;
  ArgumentLocation location = ArgumentLocation::Anywhere;
  // The code of the argument's native type (an optional's value type); it
  // decides how an empty text and a text value are bound.
  BindingTypeId type = BindingTypeId::None;
  TypeDescriber describe = nullptr;
};

// Converts argument values into native arguments and calls the handler.
class RouteInvoker {
 public:
  RouteInvoker() = default;
  RouteInvoker(const RouteInvoker&) = delete;
  RouteInvoker& operator=(const RouteInvoker&) = delete;
  RouteInvoker(RouteInvoker&&) = delete;
  RouteInvoker& operator=(RouteInvoker&&) = delete;
  virtual ~RouteInvoker() = default;

  // `values` holds one value per argument of `arguments`, in order; the
  // invoker may move from them. A conversion failure gives code 400 and the
  // conversion's message, and the handler isn't called. Otherwise the
  // handler's failure, or its result as a CallResult (a result that can't
  // be converted to a value gives code 400 and the conversion's message).
  [[nodiscard]] virtual MaybeType<Failure, CallResult> Invoke(
      std::span<BindingProperty> values, std::span<const BoundArgument> arguments,
      const BindingTypeRegistry& registry) const = 0;
};

struct BoundFunction {
  std::string name;
  std::vector<BoundArgument> arguments;
  TypeDescriber describeResult = nullptr;  // null: no result
  bool async = false;
  std::unique_ptr<const RouteInvoker> invoker;

  // The index of the argument named `name` (exact comparison), or -1.
  [[nodiscard]] std::ptrdiff_t FindArgument(std::string_view name) const noexcept;
};

}  // namespace Nalo
