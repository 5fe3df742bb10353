#pragma once
// A peer's answer read as a native record through the type registry.

#include <string>

#include "binding/BindingConvert.h"
#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"

namespace Nalo::Client::Gameflow::detail {

template <class T>
MaybeType<Failure, T> Convert(const BindingProperty& value, const BindingTypeRegistry& types) {
  T native{};
  BindingResult converted = FromProperty(native, value, "<value>", types);
  if (converted.Failed()) {
    return Failure(500, std::string(converted.ErrorMessage()));
  }
  return native;
}

}  // namespace Nalo::Client::Gameflow::detail
