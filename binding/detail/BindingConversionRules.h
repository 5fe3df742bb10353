#pragma once
// The conversion rules of each type code, shared by every instantiation of
// BindingConverter<T>. Private to the binding library: use BindingConvert.h.
//
// Each *FromProperty function converts `input` for the field `fieldName`.
// It returns true with `out` set, or false after making `context` the error
// result (the message names `fieldName`).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingFieldConverter.h"
#include "binding/BindingTypeId.h"

namespace Nalo {
class BindingProperty;
class BindingResult;
class BindingTypeDescriptor;
class BindingTypeRegistry;
}  // namespace Nalo

namespace Nalo::detail {

[[nodiscard]] bool BoolFromProperty(BindingResult& context, const BindingProperty& input,
                                    std::string_view fieldName, bool& out);
// `type` names the width in messages ("int32").
[[nodiscard]] bool SignedFromProperty(BindingResult& context, const BindingProperty& input,
                                      std::string_view fieldName, BindingTypeId type,
                                      std::int64_t min, std::int64_t max, std::int64_t& out);
[[nodiscard]] bool UnsignedFromProperty(BindingResult& context, const BindingProperty& input,
                                        std::string_view fieldName, BindingTypeId type,
                                        std::uint64_t max, std::uint64_t& out);
// The range is [-max, max].
[[nodiscard]] bool FloatingFromProperty(BindingResult& context, const BindingProperty& input,
                                        std::string_view fieldName, BindingTypeId type, double max,
                                        double& out);
[[nodiscard]] bool StringFromProperty(BindingResult& context, const BindingProperty& input,
                                      std::string_view fieldName,
                                      const BindingTypeRegistry& registry, std::string& out);
[[nodiscard]] bool BlobFromProperty(BindingResult& context, const BindingProperty& input,
                                    std::string_view fieldName, std::vector<std::uint8_t>& out);
[[nodiscard]] bool EnumFromProperty(BindingResult& context, const BindingProperty& input,
                                    std::string_view fieldName,
                                    const BindingTypeDescriptor* descriptor, std::int32_t& out);
// Whether `input` can fill a vector or a map; fails `context` otherwise.
[[nodiscard]] bool CheckVectorInput(BindingResult& context, const BindingProperty& input,
                                    std::string_view fieldName);
[[nodiscard]] bool CheckMapInput(BindingResult& context, const BindingProperty& input,
                                 std::string_view fieldName);

// The structure rules, field by field through the descriptor.
void StructFromProperty(BindingResult& context, void* native, const BindingProperty& input,
                        std::string_view fieldName, const BindingTypeDescriptor* descriptor,
                        const BindingTypeRegistry& registry);
// Whether a member whose field has `flags` and whose value is of class
// `value` is left out of the structure.
[[nodiscard]] inline bool IsOmitted(std::uint8_t flags, NativeValueClass value) noexcept {
  constexpr std::uint8_t kOmitWhenDefaultFlag = 1;  // kOmitWhenDefault
  constexpr std::uint8_t kOmitWhenEmptyFlag = 4;    // kOmitWhenEmpty
  return ((flags & kOmitWhenDefaultFlag) != 0 && value != NativeValueClass::Other) ||
         ((flags & kOmitWhenEmptyFlag) != 0 && value == NativeValueClass::Empty);
}
// What a value or a registered structure converts to, for omitting members
// (see NativeValueClass).
[[nodiscard]] NativeValueClass ClassifyProperty(const BindingProperty& value) noexcept;
[[nodiscard]] NativeValueClass ClassifyStruct(const void* native,
                                              const BindingTypeDescriptor* descriptor);
[[nodiscard]] bool WriteStruct(BindingProperty& target, const void* native,
                               const BindingTypeDescriptor* descriptor,
                               const BindingTypeRegistry& registry, std::string& error);

}  // namespace Nalo::detail
