// The conversion rules of every type code, and the structure walk.

#include <initializer_list>
#include <limits>
#include <utility>

#include "binding/BindingConvert.h"
#include "binding/BindingTypeDescriptor.h"
#include "binding/PositionalFormat.h"
#include "binding/detail/NativeWalk.h"
#include "binding/src/NumberText.h"

namespace Nalo {

namespace {

// Every conversion message, filled by FormatPositional.
namespace Message {
constexpr std::string_view kRequired = "A value for '%1' is required.";
constexpr std::string_view kInvalidType =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";
constexpr std::string_view kBoolFormat =
    "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", "
    "\"1\", \"0\".";
constexpr std::string_view kBoolInvalidType =
    "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.";
constexpr std::string_view kNumberFormat = "Value %1 for '%2' of type %3 is in an incorrect format";
constexpr std::string_view kNumberRange = "Value %1 for '%2' of type %3 is out of range";
constexpr std::string_view kNotString =
    "Couldn't assign value to '%1' because the input is not a string.";
constexpr std::string_view kNoEnumeratorName = "%1 is not a valid enumeration value for '%2'.";
constexpr std::string_view kInvalidEnumerator = "%1 is not a valid %2 enumeration value for '%3'.";
constexpr std::string_view kEnumInvalidType =
    "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.";
constexpr std::string_view kVectorNotCollection =
    "Couldn't assign value to '%1' of type vector because the input not a collection.";
constexpr std::string_view kMapNotStructure =
    "Couldn't assign value to '%1' of type map because the input not a structure.";
constexpr std::string_view kUnregisteredNative =
    "Couldn't convert native value because it's an unregistered structure.";
constexpr std::string_view kUnregisteredInput =
    "Couldn't assign value to '%1' because the input is an unregistered structure or not a "
    "structure at all.";
constexpr std::string_view kNotStructure =
    "Couldn't assign value to '%1' of type %2 because the input not a structure.";
constexpr std::string_view kMissingRequired =
    "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required "
    "field '%3'.";
}  // namespace Message

// Formats the message before failing: the arguments may be part of the
// context's own tree, which failing resets.
bool Fail(BindingResult& context, std::string_view format,
          std::initializer_list<FormatArgument> arguments) {
  context.Fail(FormatPositional(format, arguments));
  return false;
}

// The message for number text that didn't read.
bool FailNumberText(BindingResult& context, detail::NumberTextOutcome outcome,
                    std::string_view text, std::string_view fieldName, std::string_view typeName) {
  return Fail(context,
              outcome == detail::NumberTextOutcome::IncorrectFormat ? Message::kNumberFormat
                                                                    : Message::kNumberRange,
              {text, fieldName, typeName});
}

// Whether a floating value lies inside an integer range once truncated
// toward zero. The 64-bit limits aren't doubles, so their edges are tested
// against the powers of two just beyond them. NaN is never inside.
bool FloatingFitsSigned(double value, std::int64_t min, std::int64_t max) {
  const bool belowMax = max == std::numeric_limits<std::int64_t>::max()
                            ? value < 0x1p63
                            : value <= static_cast<double>(max);
  return value >= static_cast<double>(min) && belowMax;
}

bool FloatingFitsUnsigned(double value, std::uint64_t max) {
  const bool belowMax = max == std::numeric_limits<std::uint64_t>::max()
                            ? value < 0x1p64
                            : value <= static_cast<double>(max);
  return value >= 0 && belowMax;
}

}  // namespace

namespace detail {

bool BoolFromProperty(BindingResult& context, const BindingProperty& input,
                      std::string_view fieldName, bool& out) {
  switch (input.Kind()) {
    case BindingKind::Empty:
      return Fail(context, Message::kRequired, {fieldName});
    case BindingKind::Bool:
      out = input.BoolValue();
      return true;
    case BindingKind::String: {
      const std::string_view text = input.StringValue();
      if (text == "true" || text == "1") {
        out = true;
        return true;
      }
      if (text == "false" || text == "0") {
        out = false;
        return true;
      }
      return Fail(context, Message::kBoolFormat, {text, fieldName});
    }
    default:
      return Fail(context, Message::kBoolInvalidType, {fieldName, input.KindName()});
  }
}

bool SignedFromProperty(BindingResult& context, const BindingProperty& input,
                        std::string_view fieldName, BindingTypeId type, std::int64_t min,
                        std::int64_t max, std::int64_t& out) {
  const std::string_view typeName = BindingTypeIdName(type);
  const auto accept = [&](std::int64_t value, FormatArgument text) {
    if (value < min || value > max) {
      return Fail(context, Message::kNumberRange, {text, fieldName, typeName});
    }
    out = value;
    return true;
  };
  switch (input.Kind()) {
    case BindingKind::Empty:
      return Fail(context, Message::kRequired, {fieldName});
    case BindingKind::Signed:
      return accept(input.GetSigned(0), input.GetSigned(0));
    case BindingKind::Unsigned: {
      const std::uint64_t value = input.GetUnsigned(0);
      if (value > static_cast<std::uint64_t>(max)) {
        return Fail(context, Message::kNumberRange, {value, fieldName, typeName});
      }
      out = static_cast<std::int64_t>(value);
      return true;
    }
    case BindingKind::Float: {
      const double value = input.GetFloat(0);
      if (!FloatingFitsSigned(value, min, max)) {
        return Fail(context, Message::kNumberRange, {value, fieldName, typeName});
      }
      out = static_cast<std::int64_t>(value);
      return true;
    }
    case BindingKind::String: {
      const std::string_view text = input.StringValue();
      const auto [outcome, value] = ParseSignedText(text);
      if (outcome != NumberTextOutcome::Ok) {
        return FailNumberText(context, outcome, text, fieldName, typeName);
      }
      return accept(value, text);
    }
    case BindingKind::Enum:
      return accept(input.EnumValue(), input.EnumValue());
    default:
      return Fail(context, Message::kInvalidType, {fieldName, typeName, input.KindName()});
  }
}

bool UnsignedFromProperty(BindingResult& context, const BindingProperty& input,
                          std::string_view fieldName, BindingTypeId type, std::uint64_t max,
                          std::uint64_t& out) {
  const std::string_view typeName = BindingTypeIdName(type);
  const auto acceptSigned = [&](std::int64_t value, FormatArgument text) {
    if (value < 0 || static_cast<std::uint64_t>(value) > max) {
      return Fail(context, Message::kNumberRange, {text, fieldName, typeName});
    }
    out = static_cast<std::uint64_t>(value);
    return true;
  };
  const auto acceptUnsigned = [&](std::uint64_t value, FormatArgument text) {
    if (value > max) {
      return Fail(context, Message::kNumberRange, {text, fieldName, typeName});
    }
    out = value;
    return true;
  };
  switch (input.Kind()) {
    case BindingKind::Empty:
      return Fail(context, Message::kRequired, {fieldName});
    case BindingKind::Signed:
      return acceptSigned(input.GetSigned(0), input.GetSigned(0));
    case BindingKind::Unsigned:
      return acceptUnsigned(input.GetUnsigned(0), input.GetUnsigned(0));
    case BindingKind::Float: {
      const double value = input.GetFloat(0);
      if (!FloatingFitsUnsigned(value, max)) {
        return Fail(context, Message::kNumberRange, {value, fieldName, typeName});
      }
      out = static_cast<std::uint64_t>(value);
      return true;
    }
    case BindingKind::String: {
      const std::string_view text = input.StringValue();
      const auto [outcome, value] = ParseUnsignedText(text);
      if (outcome != NumberTextOutcome::Ok) {
        return FailNumberText(context, outcome, text, fieldName, typeName);
      }
      return acceptUnsigned(value, text);
    }
    case BindingKind::Enum:
      return acceptSigned(input.EnumValue(), input.EnumValue());
    default:
      return Fail(context, Message::kInvalidType, {fieldName, typeName, input.KindName()});
  }
}

bool FloatingFromProperty(BindingResult& context, const BindingProperty& input,
                          std::string_view fieldName, BindingTypeId type, double max, double& out) {
  const std::string_view typeName = BindingTypeIdName(type);
  // NaN is neither below nor above the range, so it is accepted.
  const auto accept = [&](double value, FormatArgument text) {
    if (value < -max || value > max) {
      return Fail(context, Message::kNumberRange, {text, fieldName, typeName});
    }
    out = value;
    return true;
  };
  switch (input.Kind()) {
    case BindingKind::Empty:
      return Fail(context, Message::kRequired, {fieldName});
    case BindingKind::Signed:
      return accept(static_cast<double>(input.GetSigned(0)), input.GetSigned(0));
    case BindingKind::Unsigned:
      return accept(static_cast<double>(input.GetUnsigned(0)), input.GetUnsigned(0));
    case BindingKind::Float:
      return accept(input.GetFloat(0), input.GetFloat(0));
    case BindingKind::String: {
      const std::string_view text = input.StringValue();
      const auto [outcome, value] = ParseDoubleText(text);
      if (outcome != NumberTextOutcome::Ok) {
        return FailNumberText(context, outcome, text, fieldName, typeName);
      }
      return accept(value, text);
    }
    case BindingKind::Enum:
      return accept(input.EnumValue(), input.EnumValue());
    default:
      return Fail(context, Message::kInvalidType, {fieldName, typeName, input.KindName()});
  }
}

bool StringFromProperty(BindingResult& context, const BindingProperty& input,
                        std::string_view fieldName, const BindingTypeRegistry& registry,
                        std::string& out) {
  switch (input.Kind()) {
    case BindingKind::Empty:
      return Fail(context, Message::kRequired, {fieldName});
    case BindingKind::String:
      out.assign(input.StringValue());
      return true;
    case BindingKind::Enum: {
      const BindingTypeDescriptor* descriptor = input.EnumDescriptor();
      const std::optional<std::string_view> name =
          descriptor != nullptr ? registry.enumeratorName(*descriptor, input.EnumValue())
                                : std::nullopt;
      if (!name) {
        return Fail(context, Message::kNoEnumeratorName, {input.EnumValue(), fieldName});
      }
      out.assign(*name);
      return true;
    }
    default:
      return Fail(context, Message::kNotString, {fieldName});
  }
}

bool BlobFromProperty(BindingResult& context, const BindingProperty& input,
                      std::string_view fieldName, std::vector<std::uint8_t>& out) {
  switch (input.Kind()) {
    case BindingKind::Empty:
      return Fail(context, Message::kRequired, {fieldName});
    case BindingKind::Blob: {
      const auto bytes = input.BlobValue();
      out.assign(bytes.begin(), bytes.end());
      return true;
    }
    default:
      return Fail(context, Message::kInvalidType,
                  {fieldName, BindingTypeIdName(BindingTypeId::Blob), input.KindName()});
  }
}

bool EnumFromProperty(BindingResult& context, const BindingProperty& input,
                      std::string_view fieldName, const BindingTypeDescriptor* descriptor,
                      std::int32_t& out) {
  const std::string_view enumName = descriptor != nullptr ? descriptor->FullName() : "";
  const auto isRegistered = [&](auto value) {
    return descriptor != nullptr && std::in_range<std::int32_t>(value) &&
           descriptor->HasEnumeratorValue(static_cast<std::int64_t>(value));
  };
  const auto accept = [&](auto value) {
    if (!isRegistered(value)) {
      return Fail(context, Message::kInvalidEnumerator, {value, enumName, fieldName});
    }
    out = static_cast<std::int32_t>(value);
    return true;
  };
  switch (input.Kind()) {
    case BindingKind::Empty:
      return Fail(context, Message::kRequired, {fieldName});
    case BindingKind::Signed:
      return accept(input.GetSigned(0));
    case BindingKind::Unsigned:
      return accept(input.GetUnsigned(0));
    case BindingKind::Enum:
      return accept(input.EnumValue());
    case BindingKind::String: {
      const std::string_view text = input.StringValue();
      if (descriptor != nullptr) {
        const auto& enumerators = descriptor->Enumerators();
        if (const auto byName = enumerators.find(text); byName != enumerators.end()) {
          out = byName->second.value;
          return true;
        }
      }
      const auto [outcome, value] = ParseSignedText(text);
      if (outcome != NumberTextOutcome::Ok || !isRegistered(value)) {
        return Fail(context, Message::kInvalidEnumerator, {text, enumName, fieldName});
      }
      out = static_cast<std::int32_t>(value);
      return true;
    }
    default:
      return Fail(context, Message::kEnumInvalidType, {fieldName, input.KindName()});
  }
}

bool CheckVectorInput(BindingResult& context, const BindingProperty& input,
                      std::string_view fieldName) {
  return input.Kind() == BindingKind::Collection ||
         Fail(context, Message::kVectorNotCollection, {fieldName});
}

bool CheckMapInput(BindingResult& context, const BindingProperty& input,
                   std::string_view fieldName) {
  return input.Kind() == BindingKind::Structure ||
         Fail(context, Message::kMapNotStructure, {fieldName});
}

void StructFromProperty(BindingResult& context, void* native, const BindingProperty& input,
                        std::string_view fieldName, const BindingTypeDescriptor* descriptor,
                        const BindingTypeRegistry& registry) {
  if (input.IsEmpty()) {
    Fail(context, Message::kRequired, {fieldName});
    return;
  }
  if (descriptor == nullptr) {
    Fail(context, Message::kUnregisteredInput, {fieldName});
    return;
  }
  if (input.Kind() != BindingKind::Structure) {
    Fail(context, Message::kNotStructure, {fieldName, descriptor->FullName()});
    return;
  }
  auto* base = static_cast<unsigned char*>(native);
  for (const BindingFieldDescriptor& field : descriptor->Fields()) {
    const BindingProperty* member = input.Find(field.name);
    if (member != nullptr && !member->IsEmpty()) {
      field.converter->fromProperty(context, base + field.offset, *member, field.name,
                                    field.type.descriptor, registry);
      // A failure may have reset `input` (it can belong to `context`).
      if (context.Failed()) {
        return;
      }
    } else if ((field.flags & kRequired) != 0) {
      Fail(context, Message::kMissingRequired, {fieldName, descriptor->FullName(), field.name});
      return;
    }
  }
}

NativeValueClass ClassifyProperty(const BindingProperty& value) noexcept {
  bool isDefault = false;
  switch (value.Kind()) {
    case BindingKind::Empty:
      return NativeValueClass::Empty;
    case BindingKind::Bool:
      isDefault = !value.BoolValue();
      break;
    case BindingKind::Signed:
      isDefault = value.GetSigned(1) == 0;
      break;
    case BindingKind::Unsigned:
      isDefault = value.GetUnsigned(1) == 0;
      break;
    case BindingKind::Float:
      isDefault = value.GetFloat(1) == 0;
      break;
    case BindingKind::Enum:
      isDefault = value.EnumValue() == 0;
      break;
    default:
      isDefault = value.size() == 0;
      break;
  }
  return isDefault ? NativeValueClass::Default : NativeValueClass::Other;
}

static_assert(kOmitWhenDefault == 1 && kOmitWhenEmpty == 4, "IsOmitted spells out the flag bits");

NativeValueClass ClassifyStruct(const void* native, const BindingTypeDescriptor* descriptor) {
  if (descriptor == nullptr) {
    return NativeValueClass::Other;
  }
  // The structure is default when it would have no member at all.
  const auto* base = static_cast<const unsigned char*>(native);
  for (const BindingFieldDescriptor& field : descriptor->Fields()) {
    if ((field.flags & (kOmitWhenDefault | kOmitWhenEmpty)) == 0 ||
        !IsOmitted(field.flags,
                   field.converter->Classify(base + field.offset, field.type.descriptor))) {
      return NativeValueClass::Other;
    }
  }
  return NativeValueClass::Default;
}

bool WriteStruct(BindingProperty& target, const void* native,
                 const BindingTypeDescriptor* descriptor, const BindingTypeRegistry& registry,
                 std::string& error) {
  if (descriptor == nullptr) {
    error = Message::kUnregisteredNative;
    return false;
  }
  target.MakeStructure();
  const auto* base = static_cast<const unsigned char*>(native);
  for (const BindingFieldDescriptor& field : descriptor->Fields()) {
    const void* address = base + field.offset;
    BindingProperty& value = target.member(field.name, field.nameHash);
    if (!field.converter->Write(value, address, field.type.descriptor, registry, error)) {
      return false;
    }
    if (IsOmitted(field.flags, ClassifyProperty(value))) {
      target.RemoveMember(field.name);
    }
  }
  return true;
}

bool NativeVisit::Struct(const void* native, const BindingTypeDescriptor* descriptor) {
  return WriteNativeStruct(*this, native, descriptor);
}

bool NativeVisit::StructThroughTree(const void* native, const BindingTypeDescriptor* descriptor) {
  const BindingResult converted = toProperty(native, descriptor, mRegistry);
  if (converted.Failed()) {
    return Fail(converted.ErrorMessage());
  }
  Value(converted.Value());
  return true;
}

}  // namespace detail

BindingResult BindingFieldConverter::VisitNative(const void* field,
                                                 const BindingTypeDescriptor* descriptor,
                                                 const BindingTypeRegistry& registry,
                                                 BindingVisitor& visitor) const {
  detail::NativeVisit walk(visitor, registry);
  if (!Visit(walk, field, descriptor)) {
    return BindingResult::Error(walk.Error());
  }
  return BindingResult();
}

void BindingFieldConverter::toProperty(BindingResult& result, const void* field,
                                       const BindingTypeDescriptor* descriptor,
                                       const BindingTypeRegistry& registry) const {
  result.Clear();
  std::string error;
  if (!Write(result.Value(), field, descriptor, registry, error)) {
    result.Fail(error);
  }
}

BindingResult toProperty(const void* native, const BindingTypeDescriptor* descriptor,
                         const BindingTypeRegistry& registry) {
  BindingResult result;
  std::string error;
  if (!detail::WriteStruct(result.Value(), native, descriptor, registry, error)) {
    result.Fail(error);
  }
  return result;
}

void fromProperty(BindingResult& context, void* native, const BindingProperty& input,
                  std::string_view fieldName, const BindingTypeDescriptor* descriptor,
                  const BindingTypeRegistry& registry) {
  if (context.Failed()) {
    return;
  }
  detail::StructFromProperty(context, native, input, fieldName, descriptor, registry);
}

}  // namespace Nalo
