#pragma once
// The plugin API version, the plugin's type and the names derived from it.
//
// The core and the plugin each speak one plugin API version; only its three
// numbers cross the boundary (NaloPluginRegistration). A plugin runs on a
// core of the same major whose minor.patch is not lower than its own
// (NaloPluginApiIsCompatible). The text form is used in messages:
//
//   Nalo::PluginApiVersion{1, 2, 3, "beta", "7"}.Text()   // "1.2.3-beta+7"
//   Nalo::GetFullNameFromShortNameAndType("x", Nalo::kFrontendPluginType).fullName
//                                                          // "ncp-fe-x"

#include <cstdint>
#include <string>
#include <string_view>

#include "abi/HostAbi.h"

namespace Nalo {

struct PluginApiVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;
  std::string prerelease;
  std::string build;

  // "%1.%2.%3", then "-" and the prerelease text and "+" and the build text,
  // each only when not empty.
  [[nodiscard]] std::string Text() const;

  friend bool operator==(const PluginApiVersion&, const PluginApiVersion&) = default;
};

// The version this runtime speaks: 18.0.0.
[[nodiscard]] PluginApiVersion RuntimePluginApiVersion();

// Whether a plugin of version `plugin` may run on a core of version `core`
// (texts are ignored).
[[nodiscard]] bool IsCompatible(const PluginApiVersion& plugin,
                                const PluginApiVersion& core) noexcept;

struct PluginType {
  std::string_view word;    // "backend", "frontend"
  std::string_view second;  // empty for both known types
};

inline constexpr PluginType kBackendPluginType{"backend", ""};
inline constexpr PluginType kFrontendPluginType{"frontend", ""};

struct PluginNames {
  std::string fullName;  // type prefix + short name: "ncp-be-tav-gameflow"
  std::string shortName;
  std::string typeWord;
  std::string typeSecond;

  friend bool operator==(const PluginNames&, const PluginNames&) = default;
};

// The names of a plugin. The prefix is "ncp-be-" for "backend", "ncp-fe-" for
// "frontend" and "ncp-xx-" for any other word, which also logs an ERROR line
// ("DBG") naming the short name and the word; never fails.
[[nodiscard]] PluginNames GetFullNameFromShortNameAndType(std::string_view shortName,
                                                          const PluginType& type);

}  // namespace Nalo
