#pragma once
// LcdsClassNames: the class names under which the platform server knows the
// data types the plugin exchanges with it over LCDS.
//
// The server tags every object with its own class name ("__class" on the way
// out, the reply's typeName on the way back), which has nothing to do with
// the name the type has in our registry. This table links the two, looked up
// two ways: by registered type name, when an outgoing argument is converted
// and only its descriptor is at hand, and by native type, when a typed reply
// is checked before its body is converted.
//
//   Nalo::LcdsClassNames classNames;
//   classNames.Register<GameDto>("GameflowLcdsGameDTO", "com.nalogames.platform.game.GameDTO");
//   classNames.ForTypeName("GameflowLcdsGameDTO")  // "com.nalogames.platform.game.GameDTO"
//   classNames.ForType<GameDto>()                  // the same
//
// The table is filled while the plugin registers its types, before any
// request or event is handled, and only read afterwards; like the type
// registry it takes no lock, so writing and reading it concurrently is not
// allowed.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "binding/BindingStaticType.h"

namespace Nalo {

class LcdsClassNames {
 public:
  // Records `className` for the type registered as `registeredTypeName`
  // whose static type id is `staticTypeId`. The first registration of a
  // name or an id wins and later ones for it are ignored, as in the type
  // registry, so registering the same types twice is harmless.
  // `staticTypeId` must not be kNoStaticTypeId (ends the process: a type
  // without identity can't be recognised in a reply).
  void Register(std::uint32_t staticTypeId, std::string_view registeredTypeName,
                std::string_view className);

  // Records `className` for the native type `T`, registered as
  // `registeredTypeName`.
  template <class T>
  void Register(std::string_view registeredTypeName, std::string_view className) {
    Register(StaticTypeOf<T>().id, registeredTypeName, className);
  }

  // The class name of the type registered as `registeredTypeName` (the
  // registry's full name), or nothing when it has none. The view stays valid
  // as long as this object.
  [[nodiscard]] std::optional<std::string_view> ForTypeName(
      std::string_view registeredTypeName) const;

  // The class name of the native type with `staticTypeId`, or nothing when
  // it has none. The view stays valid as long as this object.
  [[nodiscard]] std::optional<std::string_view> ForStaticTypeId(std::uint32_t staticTypeId) const;

  template <class T>
  [[nodiscard]] std::optional<std::string_view> ForType() const {
    return ForStaticTypeId(StaticTypeOf<T>().id);
  }

  // Number of types with a class name.
  [[nodiscard]] std::size_t size() const noexcept { return mByStaticTypeId.size(); }

 private:
  std::map<std::string, std::string, std::less<>> mByTypeName;
  // Node-based, so the views handed out survive later insertions.
  std::unordered_map<std::uint32_t, std::string> mByStaticTypeId;
};

}  // namespace Nalo
