#pragma once
// BindingTypeDescriptor: what the registry knows about one native structure
// or enumeration, and the records it is made of (fields and enumerators).
//
// Descriptors are created by BindingTypeRegistry::beginType and filled in by
// the returned builder, at start-up; the registry owns them for the life of
// the process, so references and views into them never dangle. After
// start-up they are read without locking.
//
//   const BindingTypeDescriptor* queue = DescriptorOf<Queue>(registry);
//   for (const BindingFieldDescriptor& field : queue->Fields()) { ... }

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingStaticType.h"
#include "binding/BindingTypeIdentifier.h"

namespace Nalo {

class BindingFieldConverter;
class BindingTypeRegistry;
class BindingTypeBuilder;

// Field flag bits.
using BindingFieldFlags = std::uint8_t;
inline constexpr BindingFieldFlags kNoFieldFlags = 0;
// Leave the member out of the produced structure when the value is default:
// empty, false, zero, a zero-length string, blob, collection or structure, or
// enumerator value 0.
inline constexpr BindingFieldFlags kOmitWhenDefault = 1;
// Fail conversion from a structure that lacks the member or holds it empty.
inline constexpr BindingFieldFlags kRequired = 2;
// Leave the member out when the value converts to an empty value. Set on
// every std::optional field, so that nullopt is an absent member while an
// engaged 0 or "" is still written.
inline constexpr BindingFieldFlags kOmitWhenEmpty = 4;

struct BindingFieldDescriptor {
  std::string name;
  std::uint32_t nameHash = 0;  // Fnv1a32(name)
  std::string description;
  std::uint32_t offset = 0;  // byte offset inside the owning structure
  BindingTypeIdentifier type;
  BindingTypeIdentifier elementType;  // a container's element; else all zero
  BindingFieldFlags flags = kNoFieldFlags;
  const BindingFieldConverter* converter = nullptr;
  const BindingTypeDescriptor* owner = nullptr;
};

struct BindingEnumValue {
  std::int32_t value = 0;
  std::string name;
  std::string description;
  const BindingTypeDescriptor* descriptor = nullptr;
};

class BindingTypeDescriptor {
 public:
  using EnumeratorMap = std::map<std::string, BindingEnumValue, std::less<>>;

  BindingTypeDescriptor(const BindingTypeDescriptor&) = delete;
  BindingTypeDescriptor& operator=(const BindingTypeDescriptor&) = delete;
  BindingTypeDescriptor(BindingTypeDescriptor&&) = delete;
  BindingTypeDescriptor& operator=(BindingTypeDescriptor&&) = delete;
  ~BindingTypeDescriptor() = default;

  // Size of the native type in bytes.
  [[nodiscard]] std::uint32_t Size() const noexcept { return mSize; }
  [[nodiscard]] bool IsEnum() const noexcept { return mIsEnum; }
  // The name space given at registration followed directly by the type's name.
  [[nodiscard]] std::string_view FullName() const noexcept { return mFullName; }
  [[nodiscard]] std::uint32_t StaticTypeId() const noexcept { return mStaticType->id; }
  [[nodiscard]] const BindingStaticType& StaticType() const noexcept { return *mStaticType; }
  [[nodiscard]] std::string_view NameSpace() const noexcept { return mNameSpace; }
  [[nodiscard]] std::string_view Description() const noexcept { return mDescription; }
  [[nodiscard]] std::span<const std::string> Tags() const noexcept { return mTags; }
  // Structures only: the fields in registration order.
  [[nodiscard]] std::span<const BindingFieldDescriptor> Fields() const noexcept { return mFields; }
  // Structures only: indices into Fields() in ascending byte order of the
  // field names, the order of the members a structure converts to.
  [[nodiscard]] std::span<const std::uint32_t> FieldsByName() const noexcept {
    return mFieldsByName;
  }
  // Whether two fields share a name (both then write the same member).
  [[nodiscard]] bool HasRepeatedFieldNames() const noexcept { return mHasRepeatedFieldNames; }
  // Enumerations only: the enumerators by ascending name.
  [[nodiscard]] const EnumeratorMap& Enumerators() const noexcept { return mEnumerators; }
  [[nodiscard]] const BindingTypeRegistry& Registry() const noexcept { return *mRegistry; }

  // Whether some enumerator has `value`.
  [[nodiscard]] bool HasEnumeratorValue(std::int64_t value) const noexcept;

 private:
  friend class BindingTypeRegistry;
  friend class BindingTypeBuilder;

  BindingTypeDescriptor(const BindingTypeRegistry& registry, std::uint32_t size,
                        std::string_view nameSpace, std::string_view name,
                        std::string_view description, const BindingStaticType& staticType,
                        bool isEnum);

  std::uint32_t mSize;
  bool mIsEnum;
  std::string mFullName;
  const BindingStaticType* mStaticType;
  std::string mNameSpace;
  std::string mDescription;
  std::vector<std::string> mTags;
  std::vector<BindingFieldDescriptor> mFields;
  std::vector<std::uint32_t> mFieldsByName;
  bool mHasRepeatedFieldNames = false;
  EnumeratorMap mEnumerators;
  const BindingTypeRegistry* mRegistry;
};

}  // namespace Nalo
