#pragma once
// Registration of the gameflow's data model (gameflow/Api, gameflow/LCDS)
// with the type registry, which is what lets every type convert to and from
// BindingProperty and thus JSON.
//
// The API types are registered under the plugin's type prefix
// ("TavGameflow" + "GameflowSession"); the LCDS records under their bare
// names ("GameflowLcdsGameDTO"), which also get their server class names in
// the LCDS class-name table.
//
//   Nalo::LcdsClassNames classNames;
//   Nalo::Client::Gameflow::RegisterGameflowTypes(registry, classNames);
//   Nalo::BindingResult json = Nalo::ToProperty(session, registry);
//
// Call it once while the plugin registers its API, before any request or
// event is handled. Registering again changes nothing (the registry and the
// class-name table both keep the first definition).

#include <string>
#include <string_view>

namespace Nalo {
class BindingTypeRegistry;
class LcdsClassNames;
}  // namespace Nalo

namespace Nalo::Client::Gameflow {

// The plugin's short name, as in its resource paths.
inline constexpr std::string_view kPluginShortName = "tav-gameflow";

// The type prefix of a plugin: its short name as one word. Each of the
// separators "!", "+", "-", ".", "/" and "_" is dropped and upper-cases the
// letter after it, as does the start of the name ("tav-gameflow" gives
// "TavGameflow"); every other character is kept as it is.
[[nodiscard]] std::string TypePrefixFor(std::string_view shortName);

// Registers, in this order: RegionLocale; the LCDS records PlayerCredentialsDto,
// GameDto and ReconnectInfoDto, each with its class name in `classNames`;
// then the API types, every type before the types that contain it. All
// field descriptions are empty. Optional fields are left out of the produced
// structure when absent or default.
void RegisterGameflowTypes(BindingTypeRegistry& registry, LcdsClassNames& classNames);

}  // namespace Nalo::Client::Gameflow
