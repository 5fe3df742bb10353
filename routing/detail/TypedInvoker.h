#pragma once
// The typed side of route registration: how a handler's parameter and result
// types become a BoundFunction. Private to the routing module; use the
// registration functions of RouteTable.h.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

#include "abi/HostValue.h"
#include "binding/BindingConvert.h"
#include "binding/BindingConverters.h"
#include "binding/BindingStaticType.h"
#include "routing/BoundFunction.h"
#include "routing/CallResult.h"
#include "routing/RouteArgument.h"

namespace Nalo::detail {

// Status of a request whose arguments or result can't be converted.
inline constexpr std::uint32_t kConversionFailureStatus = 400;

// Result and parameter types of a handler: a function pointer, a member
// function pointer or an object with one operator().
template <class F>
struct CallableTraits : CallableTraits<decltype(&F::operator())> {};
template <class R, class... A>
struct CallableTraits<R (*)(A...)> {
  using Result = R;
  using Arguments = std::tuple<A...>;
};
template <class R, class... A>
struct CallableTraits<R (*)(A...) noexcept> : CallableTraits<R (*)(A...)> {};
template <class C, class R, class... A>
struct CallableTraits<R (C::*)(A...)> : CallableTraits<R (*)(A...)> {};
template <class C, class R, class... A>
struct CallableTraits<R (C::*)(A...) const> : CallableTraits<R (*)(A...)> {};
template <class C, class R, class... A>
struct CallableTraits<R (C::*)(A...) noexcept> : CallableTraits<R (*)(A...)> {};
template <class C, class R, class... A>
struct CallableTraits<R (C::*)(A...) const noexcept> : CallableTraits<R (*)(A...)> {};

template <class T>
struct IsMaybeType : std::false_type {};
template <class T>
struct IsMaybeType<MaybeType<Failure, T>> : std::true_type {};

// The type of the value a handler's result carries; void for none.
template <class R>
struct ResultValue {
  using Type = R;
};
template <class T>
struct ResultValue<MaybeType<Failure, T>> {
  using Type = typename ResultValue<T>::Type;
};
template <>
struct ResultValue<CallResult> {
  using Type = BindingProperty;
};

template <class R>
TypeDescriber ResultDescriber() {
  using Value = typename ResultValue<R>::Type;
  if constexpr (std::is_void_v<Value>) {
    return nullptr;
  } else {
    return &IdentifierOf<Value>;
  }
}

// A handler's value as a call result.
template <class T>
MaybeType<Failure, CallResult> EncodeValue(T&& value, const BindingTypeRegistry& registry) {
  using Value = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<Value, CallResult>) {
    return std::forward<T>(value);
  } else if constexpr (std::is_same_v<Value, BindingProperty>) {
    return CallResult::WithValue(BindingProperty(std::forward<T>(value)));
  } else {
    // Written as the core reads it, without a tree on the way; the block
    // starts at the size the last result of this type took.
    static std::atomic<std::size_t> lastSize{0};
    HostValueBuilder builder(registry, lastSize.load(std::memory_order_relaxed));
    BindingResult walked = VisitNative(value, registry, builder);
    if (walked.Failed()) {
      return Failure(kConversionFailureStatus, walked.ErrorMessage());
    }
    lastSize.store(builder.Used(), std::memory_order_relaxed);
    return CallResult::WithWritten(builder.Take());
  }
}

template <class R>
MaybeType<Failure, CallResult> EncodeResult(R&& result, const BindingTypeRegistry& registry) {
  using Result = std::remove_cvref_t<R>;
  if constexpr (IsMaybeType<Result>::value) {
    if (result.HasFailure()) {
      return std::forward<R>(result).GetFailure();
    }
    if constexpr (std::is_void_v<typename Result::ValueType>) {
      return CallResult::NoContent();
    } else {
      return EncodeValue(std::forward<R>(result).Value(), registry);
    }
  } else {
    return EncodeValue(std::forward<R>(result), registry);
  }
}

template <class Callable, class Result, class... Args>
class TypedInvoker final : public RouteInvoker {
 public:
  explicit TypedInvoker(Callable callable) : mCallable(std::move(callable)) {}

  MaybeType<Failure, CallResult> Invoke(std::span<BindingProperty> values,
                                        std::span<const BoundArgument> arguments,
                                        const BindingTypeRegistry& registry) const override {
    return InvokeWith(values, arguments, registry, std::index_sequence_for<Args...>{});
  }

 private:
  template <class T>
  static bool Convert(T& native, BindingProperty& value, const BoundArgument& argument,
                      const BindingTypeRegistry& registry, std::optional<Failure>& failure) {
    if (value.IsEmpty() && argument.optional) {
      return true;
    }
    // A value argument takes the bound tree itself: a parsed body is never
    // copied on its way to the handler.
    if constexpr (std::is_same_v<T, BindingProperty>) {
      native = std::move(value);
    } else if constexpr (std::is_same_v<T, std::optional<BindingProperty>>) {
      if (!value.IsEmpty()) {
        native.emplace(std::move(value));
      }
    } else {
      BindingResult converted = FromProperty(native, value, argument.name, registry);
      if (converted.Failed()) {
        failure.emplace(kConversionFailureStatus, converted.ErrorMessage());
        return false;
      }
    }
    return true;
  }

  template <std::size_t... I>
  MaybeType<Failure, CallResult> InvokeWith(
      [[maybe_unused]] std::span<BindingProperty> values,
      [[maybe_unused]] std::span<const BoundArgument> arguments,
      const BindingTypeRegistry& registry, std::index_sequence<I...>) const {
    [[maybe_unused]] std::tuple<std::remove_cvref_t<Args>...> natives;
    std::optional<Failure> failure;
    // Left to right, stopping at the first failure.
    static_cast<void>(
        (Convert(std::get<I>(natives), values[I], arguments[I], registry, failure) && ...));
    if (failure.has_value()) {
      return std::move(*failure);
    }
    if constexpr (std::is_void_v<Result>) {
      std::invoke(mCallable, std::move(std::get<I>(natives))...);
      return CallResult::NoContent();
    } else {
      return EncodeResult(std::invoke(mCallable, std::move(std::get<I>(natives))...), registry);
    }
  }

  Callable mCallable;
};

template <class Arg>
BoundArgument MakeBoundArgument(RouteArgument declaration) {
  using Value = std::remove_cvref_t<Arg>;
  static_assert(!std::is_same_v<Value, CallResult>, "a CallResult is a result, not an argument");
  using Plain =
      std::conditional_t<kIsOptional<Value>, typename ContainerTraits<Value>::Element, Value>;
  BoundArgument argument;
  argument.nameHash = Fnv1a32(declaration.name);
  argument.name = std::move(declaration.name);
  argument.description = std::move(declaration.description);
  argument.optional = declaration.optional;
  argument.location = declaration.location;
  argument.type = TypeIdOf<Plain>();
  argument.describe = &IdentifierOf<Plain>;
  return argument;
}

template <class Tuple>
struct BoundFunctionFactory;

template <class... Args>
struct BoundFunctionFactory<std::tuple<Args...>> {
  template <class Result, class Callable, class... Declarations>
  static BoundFunction Make(Callable callable, Declarations&&... declarations) {
    static_assert(sizeof...(Args) == sizeof...(Declarations),
                  "declare one RouteArgument per handler parameter, in order");
    BoundFunction function;
    function.arguments.reserve(sizeof...(Args));
    (function.arguments.push_back(
         MakeBoundArgument<Args>(RouteArgument(std::forward<Declarations>(declarations)))),
     ...);
    function.describeResult = ResultDescriber<Result>();
    function.invoker =
        std::make_unique<TypedInvoker<Callable, Result, Args...>>(std::move(callable));
    return function;
  }
};

// A callable that calls `method` on `owner`.
template <class Owner, class R, class... A>
auto BindMember(Owner* owner, R (Owner::*method)(A...)) {
  return [owner, method](A... arguments) -> R {
    return (owner->*method)(std::forward<A>(arguments)...);
  };
}
template <class Owner, class R, class... A>
auto BindMember(Owner* owner, R (Owner::*method)(A...) const) {
  return [owner, method](A... arguments) -> R {
    return (owner->*method)(std::forward<A>(arguments)...);
  };
}

}  // namespace Nalo::detail
