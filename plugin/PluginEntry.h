#pragma once
// The plugin's one export, load_<short name with "-" as "_">.
//
//   NALO_PLUGIN_ENTRY(load_tav_gameflow, Nalo::Client::Gameflow::GameflowPlugin, "tav-gameflow")
//
// The export creates the plugin object and performs the handshake
// (AppModule::Register); the core owns the object from then on through the
// callbacks, and Shutdown destroys it. An incompatible core ends the process
// inside the export ("ALE-EECF0606"). When the object can't be created, the
// error is logged and the registration's callbacks and context stay null,
// which tells the core that loading failed.

#include <exception>
#include <memory>
#include <string_view>

#include "abi/HostAbi.h"
#include "plugin/AppModule.h"
#include "plugin/PluginExport.h"

namespace Nalo {

namespace detail {
// Logs that the plugin object couldn't be created; `reason` may be null.
void ReportPluginCreationFailure(std::string_view shortName, const char* reason) noexcept;
}  // namespace detail

template <class Plugin>
void LoadPlugin(NaloPluginRegistration* registration, std::string_view shortName) noexcept {
  static_assert(std::is_base_of_v<AppModule, Plugin>, "a plugin derives from AppModule");
  if (registration == nullptr) {
    return;
  }
  registration->callbacks = nullptr;
  registration->context = nullptr;
  try {
    auto plugin = std::make_unique<Plugin>();
    plugin->Register(*registration, shortName);
    // Owned by the core from here on; ShutdownCallback deletes it.
    static_cast<void>(plugin.release());
  } catch (const std::exception& exception) {
    registration->callbacks = nullptr;
    registration->context = nullptr;
    detail::ReportPluginCreationFailure(shortName, exception.what());
  } catch (...) {
    registration->callbacks = nullptr;
    registration->context = nullptr;
    detail::ReportPluginCreationFailure(shortName, nullptr);
  }
}

}  // namespace Nalo

#define NALO_PLUGIN_ENTRY(entryName, PluginClass, shortName)  \
  extern "C" NALO_PLUGIN_EXPORT void NALO_ABI_CALL entryName( \
      NaloPluginRegistration* registration) noexcept {        \
    ::Nalo::LoadPlugin<PluginClass>(registration, shortName); \
  }
