#include "binding/BindingTypeRegistry.h"

#include <algorithm>
#include <array>

#include "binding/BindingProperty.h"
#include "binding/BindingRegistration.h"
#include "binding/PositionalFormat.h"
#include "diagnostics/Fatal.h"

namespace Nalo {

namespace {

// Registration mistakes are programming errors found at start-up.
constexpr std::string_view kDuplicateStaticType =
    "Can't register '%1': static type %2 (%3) is already registered as '%4'.";
constexpr std::string_view kStaticTypeCollision =
    "Can't register '%1': static type id %2 of %3 collides with that of %4, registered as '%5'.";
constexpr std::string_view kUnregisteredFieldType =
    "Can't register field '%1' of '%2': its type %3 isn't registered; register it before the "
    "types that use it.";

constexpr std::string_view kUniqueStaticTypes = "each static type id names one registered type";
constexpr std::string_view kFieldTypesFirst = "field types are registered before their users";

[[noreturn]] void FailRegistration(std::string_view rule, const std::string& message) {
  FatalWithDescription(rule, message);
}

}  // namespace

std::string_view BindingTypeIdName(BindingTypeId id) noexcept {
  static constexpr std::array<std::string_view, 20> kNames = {
      "",       "bool",   "int8",   "uint8",  "int16",    "uint16", "int32",
      "uint32", "int64",  "uint64", "float",  "double",   "string", "object",
      "blob",   "vector", "enum",   "struct", "callback", "map"};
  const auto code = static_cast<std::size_t>(id);
  return code < kNames.size() ? kNames[code] : std::string_view();
}

namespace {

std::string DisplayName(BindingTypeId id, const BindingTypeDescriptor* descriptor) {
  if (id == BindingTypeId::Enum || id == BindingTypeId::Struct) {
    return std::string(descriptor != nullptr ? descriptor->FullName() : BindingTypeIdName(id));
  }
  return std::string(BindingTypeIdName(id));
}

}  // namespace

BindingTypeDisplay DisplayType(const BindingTypeIdentifier& identifier) {
  if (identifier.type == BindingTypeId::Vector || identifier.type == BindingTypeId::Map) {
    return {std::string(BindingTypeIdName(identifier.type)),
            DisplayName(identifier.elementType, identifier.descriptor)};
  }
  return {DisplayName(identifier.type, identifier.descriptor), {}};
}

BindingTypeDescriptor::BindingTypeDescriptor(const BindingTypeRegistry& registry,
                                             std::uint32_t size, std::string_view nameSpace,
                                             std::string_view name, std::string_view description,
                                             const BindingStaticType& staticType, bool isEnum)
    : mSize(size),
      mIsEnum(isEnum),
      mFullName(std::string(nameSpace) + std::string(name)),
      mStaticType(&staticType),
      mNameSpace(nameSpace),
      mDescription(description),
      mRegistry(&registry) {}

bool BindingTypeDescriptor::HasEnumeratorValue(std::int64_t value) const noexcept {
  for (const auto& [name, enumerator] : mEnumerators) {
    if (enumerator.value == value) {
      return true;
    }
  }
  return false;
}

BindingTypeBuilder& BindingTypeBuilder::addEnumerator(std::string_view name, std::int32_t value,
                                                      std::string_view description) {
  if (mBuilding == nullptr) {
    return *this;
  }
  auto [position, inserted] = mBuilding->mEnumerators.try_emplace(std::string(name));
  position->second.value = value;
  position->second.name = name;
  position->second.description = description;
  position->second.descriptor = mBuilding;
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::addField(std::string_view name,
                                                 std::string_view description, std::uint32_t offset,
                                                 BindingTypeIdentifier type,
                                                 BindingTypeIdentifier elementType,
                                                 BindingFieldFlags flags,
                                                 const BindingFieldConverter& converter) {
  if (mBuilding == nullptr) {
    return *this;
  }
  mBuilding->mFields.push_back(BindingFieldDescriptor{
      .name = std::string(name),
      .nameHash = Fnv1a32(name),
      .description = std::string(description),
      .offset = offset,
      .type = type,
      .elementType = elementType,
      .flags = flags,
      .converter = &converter,
      .owner = mBuilding,
  });
  // Keep the name order beside the registration order; a name added again
  // goes after its namesake.
  const auto index = static_cast<std::uint32_t>(mBuilding->mFields.size() - 1);
  std::vector<std::uint32_t>& byName = mBuilding->mFieldsByName;
  const auto fieldName = [this](std::uint32_t i) -> std::string_view {
    return mBuilding->mFields[i].name;
  };
  const auto position = std::upper_bound(
      byName.begin(), byName.end(), name, [&](std::string_view text, std::uint32_t i) {
        return detail::MemberNameLess::Compare(text, fieldName(i)) < 0;
      });
  if (position != byName.begin() && fieldName(*(position - 1)) == name) {
    mBuilding->mHasRepeatedFieldNames = true;
  }
  byName.insert(position, index);
  return *this;
}

BindingTypeBuilder& BindingTypeBuilder::addTags(std::span<const std::string_view> tags) {
  if (mBuilding == nullptr) {
    return *this;
  }
  for (const std::string_view tag : tags) {
    if (!tag.empty()) {
      mBuilding->mTags.emplace_back(tag);
    }
  }
  return *this;
}

std::size_t BindingTypeRegistry::StaticTypeIdHash::operator()(std::uint32_t id) const noexcept {
  const char bytes[4] = {static_cast<char>(id & 0xFF), static_cast<char>((id >> 8) & 0xFF),
                         static_cast<char>((id >> 16) & 0xFF),
                         static_cast<char>((id >> 24) & 0xFF)};
  return Fnv1a32(std::string_view(bytes, sizeof(bytes)));
}

BindingTypeRegistry::BindingTypeRegistry() = default;
BindingTypeRegistry::~BindingTypeRegistry() = default;

BindingTypeRegistry& BindingTypeRegistry::Shared() {
  // Never destroyed: values may hold descriptors until the very end.
  static BindingTypeRegistry* const registry = new BindingTypeRegistry();
  return *registry;
}

BindingTypeBuilder BindingTypeRegistry::beginType(std::uint32_t size, std::string_view nameSpace,
                                                  std::string_view name,
                                                  std::string_view description,
                                                  const BindingStaticType& staticType,
                                                  BindingTypeForm form) {
  auto descriptor = std::unique_ptr<BindingTypeDescriptor>(new BindingTypeDescriptor(
      *this, size, nameSpace, name, description, staticType, form == BindingTypeForm::Enumeration));
  const std::lock_guard lock(mMutex);
  if (const auto existing = mByName.find(descriptor->FullName()); existing != mByName.end()) {
    return BindingTypeBuilder(*existing->second, nullptr);
  }
  if (staticType.id != kNoStaticTypeId) {
    const auto [position, inserted] = mByStaticType.try_emplace(staticType.id, descriptor.get());
    if (!inserted) {
      const BindingTypeDescriptor& other = *position->second;
      if (&other.StaticType() == &staticType) {
        FailRegistration(
            kUniqueStaticTypes,
            FormatPositional(kDuplicateStaticType, {descriptor->FullName(), staticType.Text(),
                                                    staticType.nativeName, other.FullName()}));
      }
      FailRegistration(
          kUniqueStaticTypes,
          FormatPositional(kStaticTypeCollision,
                           {descriptor->FullName(), staticType.Text(), staticType.nativeName,
                            other.StaticType().nativeName, other.FullName()}));
    }
  }
  BindingTypeDescriptor* building = descriptor.get();
  mByName.emplace(building->FullName(), building);
  mDescriptors.push_back(std::move(descriptor));
  return BindingTypeBuilder(*building, building);
}

const BindingTypeDescriptor* BindingTypeRegistry::descriptorFor(std::uint32_t staticTypeId) const {
  const std::lock_guard lock(mMutex);
  const auto position = mByStaticType.find(staticTypeId);
  return position != mByStaticType.end() ? position->second : nullptr;
}

const BindingTypeDescriptor* BindingTypeRegistry::FindByName(std::string_view fullName) const {
  const std::lock_guard lock(mMutex);
  const auto position = mByName.find(fullName);
  return position != mByName.end() ? position->second : nullptr;
}

std::vector<const BindingTypeDescriptor*> BindingTypeRegistry::Descriptors() const {
  const std::lock_guard lock(mMutex);
  std::vector<const BindingTypeDescriptor*> descriptors;
  descriptors.reserve(mDescriptors.size());
  for (const auto& descriptor : mDescriptors) {
    descriptors.push_back(descriptor.get());
  }
  return descriptors;
}

std::optional<std::string_view> BindingTypeRegistry::enumeratorName(
    const BindingTypeDescriptor& descriptor, std::int32_t value) const {
  for (const auto& [name, enumerator] : descriptor.Enumerators()) {
    if (enumerator.value == value) {
      return std::string_view(name);
    }
  }
  return std::nullopt;
}

void detail::AddFieldEntry(BindingTypeBuilder& builder, const BindingTypeRegistry& registry,
                           const FieldEntry& entry) {
  if (builder.IsInert()) {
    return;
  }
  BindingTypeIdentifier type;
  BindingTypeIdentifier element;
  entry.describe(registry, type, element);
  if (entry.leafType != nullptr && type.descriptor == nullptr) {
    FailRegistration(
        kFieldTypesFirst,
        FormatPositional(kUnregisteredFieldType, {entry.name, builder.Descriptor().FullName(),
                                                  entry.leafType->nativeName}));
  }
  builder.addField(entry.name, entry.description, entry.offset, type, element, entry.flags,
                   *entry.converter);
}

}  // namespace Nalo
