#pragma once
// BindingFieldConverter: the two conversion directions for one native type.
//
// Every field of a registered structure refers to the converter of its
// native type; the structure converter walks the fields and calls them. One
// immutable instance exists per native type (see BindingConverter<T> in
// BindingConverters.h); fields only refer to it.

#include <cstdint>
#include <string>
#include <string_view>

namespace Nalo {

class BindingProperty;
class BindingResult;
class BindingTypeDescriptor;
class BindingTypeRegistry;
class BindingVisitor;

namespace detail {
class NativeJsonWriter;
class NativeVisit;
}  // namespace detail

// What a native value converts to, as far as omitting a member goes.
enum class NativeValueClass : std::uint8_t {
  Empty,    // an empty value (also a default one)
  Default,  // false, zero, "", an empty blob, collection or structure, enumerator 0
  Other,
};

class BindingFieldConverter {
 public:
  // Converts `input` into the native value at `field`. Does nothing when
  // `context` has already failed; on failure `context` becomes the error
  // result and the native value may be partly assigned. `fieldName` names the
  // value in messages. `descriptor` is the innermost registered type of the
  // value (the enum, the structure, or a container's element), else null.
  virtual void fromProperty(BindingResult& context, void* field, const BindingProperty& input,
                            std::string_view fieldName, const BindingTypeDescriptor* descriptor,
                            const BindingTypeRegistry& registry) const = 0;

  // Converts the native value at `field` into `result`, which is replaced by
  // the produced value or by the error result.
  void toProperty(BindingResult& result, const void* field, const BindingTypeDescriptor* descriptor,
                  const BindingTypeRegistry& registry) const;

  // Writes the native value at `field` into `target`, which must be empty, in
  // place (no intermediate tree). Returns false with `error` set when the
  // value can't be converted; `target` then holds a partial value.
  [[nodiscard]] virtual bool Write(BindingProperty& target, const void* field,
                                   const BindingTypeDescriptor* descriptor,
                                   const BindingTypeRegistry& registry,
                                   std::string& error) const = 0;

  // The native value at `field` as compact JSON, enumerators by name,
  // through WriteJson; see ToJson in BindingConvert.h.
  [[nodiscard]] BindingResult ToJsonText(const void* field, const BindingTypeDescriptor* descriptor,
                                         const BindingTypeRegistry& registry,
                                         std::string& text) const;

  // Hands the native value at `field` to `visitor` as accept() hands over
  // the value Write would produce, without producing it; see VisitNative in
  // BindingConvert.h.
  [[nodiscard]] BindingResult VisitNative(const void* field, const BindingTypeDescriptor* descriptor,
                                          const BindingTypeRegistry& registry,
                                          BindingVisitor& visitor) const;

  // What the native value at `field` would convert to: empty, another
  // default value, or neither. A structure whose descriptor is missing
  // counts as neither (writing it fails).
  [[nodiscard]] virtual NativeValueClass Classify(
      const void* field, const BindingTypeDescriptor* descriptor) const = 0;
  // Writes the native value at `field` as JSON, byte for byte as ToJson
  // writes the value Write would produce. Returns false, with the writer's
  // error set, where Write would fail.
  [[nodiscard]] virtual bool WriteJson(detail::NativeJsonWriter& writer, const void* field,
                                       const BindingTypeDescriptor* descriptor) const = 0;
  // Walks the native value at `field` into the walk's visitor, call for call
  // as accept() walks the value Write would produce. Returns false, with the
  // walk's error set, where Write would fail.
  [[nodiscard]] virtual bool Visit(detail::NativeVisit& walk, const void* field,
                                   const BindingTypeDescriptor* descriptor) const = 0;

 protected:
  BindingFieldConverter() = default;
  ~BindingFieldConverter() = default;
  BindingFieldConverter(const BindingFieldConverter&) = default;
  BindingFieldConverter& operator=(const BindingFieldConverter&) = default;
  BindingFieldConverter(BindingFieldConverter&&) = default;
  BindingFieldConverter& operator=(BindingFieldConverter&&) = default;
};

}  // namespace Nalo
