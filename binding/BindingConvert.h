#pragma once
// Conversion between native objects and BindingProperty values.
//
// The typed entry points are what most code uses; the registry must already
// describe every structure and enumeration reachable from `T`:
//
//   Nalo::BindingResult body = Nalo::ToProperty(queue);        // {"id":7,"name":"..."}
//   Queue parsed;
//   Nalo::BindingResult status = Nalo::FromProperty(parsed, body.Value(), "queue");
//   if (status.Failed()) { ... status.ErrorMessage() ... }
//   std::string json;
//   Nalo::BindingResult written = Nalo::ToJson(queue, registry, json);  // {"id":7,...}
//
// Conversion stops at the first failure, whose message names the innermost
// field only. The native destination may then be partly assigned.
//
// Reading rules worth knowing (every message is fixed text, see
// BindingConverters.cpp):
// - integers read text with automatic base ("0x" hexadecimal, a leading "0"
//   octal, else decimal; leading white space and a sign allowed). Text
//   without digits, or with anything after them, is in an incorrect format;
//   a minus sign before an unsigned value other than 0 is out of range.
// - floating fields read text as std::from_chars does, and accept numbers
//   within the largest finite value of their type (NaN included).
// - enumerations read an enumerator name (case-sensitive), else an integer
//   that is a registered value.
// - blobs read only blob values.
//
// `toProperty` and `fromProperty` are the untyped forms for a registered
// structure at a known address, used where only a descriptor is at hand.

#include <string>
#include <string_view>

#include "binding/BindingConverters.h"
#include "binding/BindingProperty.h"
#include "binding/BindingResult.h"
#include "binding/BindingTypeRegistry.h"

namespace Nalo {

// Converts the structure at `native`, described by `descriptor`, into a
// structure value. Fails when `descriptor` is null ("Couldn't convert native
// value because it's an unregistered structure.") or a field can't be
// converted.
[[nodiscard]] BindingResult toProperty(const void* native, const BindingTypeDescriptor* descriptor,
                                       const BindingTypeRegistry& registry);

// Converts `input` into the structure at `native`, described by
// `descriptor`. `fieldName` names the structure in messages. Does nothing
// when `context` has already failed; on failure `context` becomes the error
// result.
void fromProperty(BindingResult& context, void* native, const BindingProperty& input,
                  std::string_view fieldName, const BindingTypeDescriptor* descriptor,
                  const BindingTypeRegistry& registry);

// Converts any supported native value (see BindingConverters.h).
template <class T>
[[nodiscard]] BindingResult ToProperty(
    const T& native, const BindingTypeRegistry& registry = BindingTypeRegistry::Shared()) {
  BindingResult result;
  BindingConverter<T>::Instance().toProperty(result, &native, detail::LeafDescriptor<T>(registry),
                                             registry);
  return result;
}

// Writes `native` as compact JSON, enumerators by name, straight from its
// fields through the registry's field table: the text is byte for byte
// ToJson(ToProperty(native, registry).Value(), &registry), without building
// the value tree. Returns an empty successful result with the text in
// `text`, or the error result ToProperty would give (`text` then empty).
template <class T>
[[nodiscard]] BindingResult ToJson(const T& native, const BindingTypeRegistry& registry,
                                   std::string& text) {
  return BindingConverter<T>::Instance().ToJsonText(&native, detail::LeafDescriptor<T>(registry),
                                                    registry, text);
}

// Hands `native` to `visitor` exactly as ToProperty(native, registry)
// .Value().accept(visitor) would, call for call, without building the tree:
// the way to copy a native value into another form (a host value) directly.
// Returns an empty successful result, or the error result ToProperty would
// give; the visitor has then seen a partial walk.
template <class T>
[[nodiscard]] BindingResult VisitNative(const T& native, const BindingTypeRegistry& registry,
                                        BindingVisitor& visitor) {
  return BindingConverter<T>::Instance().VisitNative(&native, detail::LeafDescriptor<T>(registry),
                                                     registry, visitor);
}

// Converts `input` into `native`; `fieldName` names the value in messages.
// Returns an empty successful result, or the error result.
template <class T>
[[nodiscard]] BindingResult FromProperty(
    T& native, const BindingProperty& input, std::string_view fieldName,
    const BindingTypeRegistry& registry = BindingTypeRegistry::Shared()) {
  BindingResult context;
  BindingConverter<T>::Instance().fromProperty(context, &native, input, fieldName,
                                               detail::LeafDescriptor<T>(registry), registry);
  return context;
}

}  // namespace Nalo
