#pragma once
// BindingTypeRegistry: the catalogue of native structures and enumerations
// that take part in binding, keyed by full name and by static type id.
//
// Types are registered once, at start-up, before any request or event is
// handled (see BindingRegistration.h for the table-driven way). Registering
// a name that is already present is a no-op. Descriptors are never removed
// and live as long as the registry; the process-wide instance Shared() lives
// until the process ends, which is what descriptors held in values rely on.
//
// Thread safety: one mutex guards the maps during registration and
// descriptorFor. Converters read descriptors without locking, which is safe
// because all registration happens before any conversion.
//
//   auto& registry = BindingTypeRegistry::Shared();
//   RegisterEnum<QueueType>(registry, "TavGameflow", "QueueType", "", {...});
//   const BindingTypeDescriptor* type = DescriptorOf<QueueType>(registry);
//   registry.enumeratorName(*type, 1)  // "Ranked"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/BindingStaticType.h"
#include "binding/BindingTypeBuilder.h"
#include "binding/BindingTypeDescriptor.h"

namespace Nalo {

// Whether beginType describes a structure or an enumeration.
enum class BindingTypeForm : std::uint8_t { Structure, Enumeration };

class BindingTypeRegistry {
 public:
  BindingTypeRegistry();
  ~BindingTypeRegistry();
  BindingTypeRegistry(const BindingTypeRegistry&) = delete;
  BindingTypeRegistry& operator=(const BindingTypeRegistry&) = delete;
  BindingTypeRegistry(BindingTypeRegistry&&) = delete;
  BindingTypeRegistry& operator=(BindingTypeRegistry&&) = delete;

  // The process-wide registry, created on first use and never destroyed.
  [[nodiscard]] static BindingTypeRegistry& Shared();

  // Starts registering the type `nameSpace` + `name` (the full name). When
  // the full name is taken the returned builder is inert. Otherwise the new
  // descriptor is entered under its full name and, unless `staticType` is
  // the no-type record, under its static type id. A static type id already
  // taken by another name is a programming error (a type registered under
  // two names, or a hash collision) and ends the process with a message
  // naming both types.
  [[nodiscard]] BindingTypeBuilder beginType(std::uint32_t size, std::string_view nameSpace,
                                             std::string_view name, std::string_view description,
                                             const BindingStaticType& staticType,
                                             BindingTypeForm form);

  // The descriptor registered under `staticTypeId`, or null.
  [[nodiscard]] const BindingTypeDescriptor* descriptorFor(std::uint32_t staticTypeId) const;
  // The descriptor registered under `fullName`, or null.
  [[nodiscard]] const BindingTypeDescriptor* FindByName(std::string_view fullName) const;
  // Every registered descriptor, in registration order.
  [[nodiscard]] std::vector<const BindingTypeDescriptor*> Descriptors() const;

  // The name of the enumerator of `descriptor` whose value is `value`, walking
  // enumerators in ascending name order; nothing when no enumerator matches.
  // The view stays valid for the life of the registry.
  [[nodiscard]] std::optional<std::string_view> enumeratorName(
      const BindingTypeDescriptor& descriptor, std::int32_t value) const;

 private:
  // FNV-1a over the id's four bytes, low byte first.
  struct StaticTypeIdHash {
    std::size_t operator()(std::uint32_t id) const noexcept;
  };

  mutable std::mutex mMutex;
  std::map<std::string, BindingTypeDescriptor*, std::less<>> mByName;
  std::unordered_map<std::uint32_t, BindingTypeDescriptor*, StaticTypeIdHash> mByStaticType;
  std::vector<std::unique_ptr<BindingTypeDescriptor>> mDescriptors;
};

// The descriptor of `T`, or null when `T` isn't registered.
template <class T>
[[nodiscard]] const BindingTypeDescriptor* DescriptorOf(const BindingTypeRegistry& registry) {
  return registry.descriptorFor(StaticTypeOf<T>().id);
}

}  // namespace Nalo
