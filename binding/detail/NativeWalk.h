#pragma once
// Private to the binding library: the walk over a registered structure's
// fields that the writers working from the native record share (the JSON
// writer and the visitor walk). Members come in name order, and each is left
// out exactly when the tree conversion would remove it.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>

#include "binding/BindingFieldConverter.h"
#include "binding/BindingTypeDescriptor.h"
#include "binding/detail/BindingConversionRules.h"
#include "binding/detail/NativeJsonWriter.h"
#include "binding/detail/NativeVisit.h"

namespace Nalo::detail {

inline bool WriteField(NativeJsonWriter& writer, const BindingFieldDescriptor& field,
                       const void* address) {
  return field.converter->WriteJson(writer, address, field.type.descriptor);
}
inline bool WriteField(NativeVisit& walk, const BindingFieldDescriptor& field,
                       const void* address) {
  return field.converter->Visit(walk, address, field.type.descriptor);
}

// Whether the field at `base` is left out of its structure.
inline bool IsFieldOmitted(const BindingFieldDescriptor& field, const unsigned char* base) {
  return (field.flags & (kOmitWhenDefault | kOmitWhenEmpty)) != 0 &&
         IsOmitted(field.flags,
                   field.converter->Classify(base + field.offset, field.type.descriptor));
}

// `Writer` is NativeJsonWriter or NativeVisit. A visitor is told the member
// count up front, so the fields are classified before any is written; the
// JSON writer needs no count and classifies each field as it comes.
template <class Writer>
bool WriteNativeStruct(Writer& writer, const void* native,
                       const BindingTypeDescriptor* descriptor) {
  if (descriptor == nullptr || descriptor->HasRepeatedFieldNames()) [[unlikely]] {
    return writer.StructThroughTree(native, descriptor);
  }
  const auto* base = static_cast<const unsigned char*>(native);
  const std::span<const BindingFieldDescriptor> fields = descriptor->Fields();
  const std::span<const std::uint32_t> byName = descriptor->FieldsByName();
  if constexpr (std::is_same_v<Writer, NativeJsonWriter>) {
    writer.StartObject();
    for (const std::uint32_t index : byName) {
      const BindingFieldDescriptor& field = fields[index];
      if (IsFieldOmitted(field, base)) {
        continue;
      }
      writer.Key(field.name);
      if (!WriteField(writer, field, base + field.offset)) {
        return false;
      }
    }
    writer.EndObject();
  } else {
    constexpr std::size_t kInlineFields = 64;
    // Left unset: the loop below writes each entry it later reads.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init)
    std::array<bool, kInlineFields> inlineOmitted;
    std::unique_ptr<bool[]> moreOmitted;
    bool* omitted = inlineOmitted.data();
    if (byName.size() > kInlineFields) [[unlikely]] {
      moreOmitted = std::make_unique<bool[]>(byName.size());
      omitted = moreOmitted.get();
    }
    std::size_t count = 0;
    for (std::size_t i = 0; i < byName.size(); ++i) {
      omitted[i] = IsFieldOmitted(fields[byName[i]], base);
      count += omitted[i] ? 0 : 1;
    }
    writer.StartObject(count);
    for (std::size_t i = 0; i < byName.size(); ++i) {
      if (omitted[i]) {
        continue;
      }
      const BindingFieldDescriptor& field = fields[byName[i]];
      writer.Key(field.name);
      if (!WriteField(writer, field, base + field.offset)) {
        return false;
      }
      writer.EndMember();
    }
    writer.EndObject();
  }
  return true;
}

}  // namespace Nalo::detail
