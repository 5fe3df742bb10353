// Loading a plugin: opening its object, the handshake through its export,
// checking the registration record it fills in, compiling its routes and
// initialising it with its own core table; and taking all of that back.

#include <utility>

#include "host/core/src/HostImpl.h"

namespace Nalo::Host {

namespace {

constexpr std::uint32_t kLoadFailure = 500;

namespace Message {
constexpr std::string_view kIncomplete =
    "The plugin {path} left its registration record incomplete: {missing} is missing.";
constexpr std::string_view kIncompatible =
    "The plugin {path} speaks plugin API {plugin}, which a core with {core} can't run.";
constexpr std::string_view kInitializeFailed = "The plugin {name} ({path}) failed to initialise.";
constexpr std::string_view kDuplicate = "A plugin named {name} is already loaded.";
}  // namespace Message

std::string VersionText(std::uint32_t major, std::uint32_t minor, std::uint32_t patch) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

// What is missing from a registration record, or nullopt when it is
// complete: callbacks, context, short name and route description.
std::optional<std::string_view> MissingFromRegistration(
    const NaloPluginRegistration& registration) {
  if (registration.callbacks == nullptr) {
    return "the callbacks table";
  }
  if (registration.callbacks->initialize == nullptr ||
      registration.callbacks->shutdown == nullptr ||
      registration.callbacks->getMemoryStatistics == nullptr) {
    return "a callback";
  }
  if (registration.context == nullptr) {
    return "the context";
  }
  if (registration.shortName == nullptr || registration.shortName[0] == '\0') {
    return "the short name";
  }
  if (registration.description == nullptr ||
      (registration.description->routeCount > 0 && registration.description->routes == nullptr)) {
    return "the route description";
  }
  return std::nullopt;
}

// Compiles the plugin's routes into `routes`; what is missing from them
// when one is incomplete or its pattern doesn't compile.
std::optional<std::string_view> CompileRoutes(const NaloApiDescription& description,
                                              std::vector<detail::CompiledRoute>& routes) {
  for (std::size_t i = 0; i < description.routeCount; ++i) {
    const NaloRoute& route = description.routes[i];
    if (route.dispatch == nullptr || route.pathTemplate == nullptr) {
      return "a route's template or dispatch entry";
    }
    detail::CompiledRoute compiled{&route, std::nullopt};
    // Copied out first: the record is packed, so its pointer member may be
    // misaligned and must not be bound to a reference.
    const char* pattern = route.pattern;
    if (pattern != nullptr && pattern[0] != '\0') {
      try {
        compiled.pattern.emplace(pattern, std::regex::ECMAScript);
      } catch (const std::regex_error&) {
        return "a valid route pattern";
      }
    }
    routes.push_back(std::move(compiled));
  }
  return std::nullopt;
}

}  // namespace

MaybeType<Failure, void> Host::Impl::Load(const std::filesystem::path& path,
                                          std::string_view entryName) {
  auto library = detail::PluginLibrary::Open(path, entryName);
  if (library.HasFailure()) {
    return library.GetFailure();
  }
  auto plugin = std::make_unique<Plugin>();
  plugin->library.emplace(std::move(library).Value());
  NaloPluginRegistration& registration = plugin->registration;
  registration.major = mOptions.coreMajor;
  registration.minor = mOptions.coreMinor;
  registration.patch = mOptions.corePatch;
  // Until the plugin joins mPlugins (whose Unload takes it back), a failed
  // load takes the clock back here.
  NaloSetClockSource clockExport =
      mQueue.Mode() == ClockMode::Virtual ? plugin->library->ClockSourceExport() : nullptr;
  struct ClockInstallation {
    explicit ClockInstallation(NaloSetClockSource& source) : install(source) {}
    ClockInstallation(const ClockInstallation&) = delete;
    ClockInstallation& operator=(const ClockInstallation&) = delete;
    ClockInstallation(ClockInstallation&&) = delete;
    ClockInstallation& operator=(ClockInstallation&&) = delete;
    NaloSetClockSource& install;
    ~ClockInstallation() {
      if (install != nullptr) {
        install(nullptr);
      }
    }
  } clockInstallation{clockExport};
  if (clockExport != nullptr) {
    clockExport(&mClockSource);
  }
  if (plugin->library->LogGroupsExport() != nullptr) {
    plugin->library->LogGroupsExport()(1);
  }
  plugin->library->Entry()(&registration);

  const auto incomplete = [&path](std::string_view missing) {
    return Failure(kLoadFailure, Message::kIncomplete,
                   {{"path", path.string()}, {"missing", missing}});
  };
  if (std::optional<std::string_view> missing = MissingFromRegistration(registration)) {
    return incomplete(*missing);
  }
  if (!NaloPluginApiIsCompatible(registration.major, registration.minor, registration.patch,
                                 mOptions.coreMajor, mOptions.coreMinor, mOptions.corePatch)) {
    return Failure(
        kLoadFailure, Message::kIncompatible,
        {{"path", path.string()},
         {"plugin", VersionText(registration.major, registration.minor, registration.patch)},
         {"core", VersionText(mOptions.coreMajor, mOptions.coreMinor, mOptions.corePatch)}});
  }
  plugin->shortName = registration.shortName;
  for (const auto& other : mPlugins) {
    if (other->shortName == plugin->shortName) {
      return Failure(kLoadFailure, Message::kDuplicate, {{"name", plugin->shortName}});
    }
  }
  if (std::optional<std::string_view> missing =
          CompileRoutes(*registration.description, plugin->routes)) {
    return incomplete(*missing);
  }

  plugin->core.api = CoreEntries();
  plugin->core.host = this;
  plugin->core.handle = mNextHandle++;
  plugin->core.logGroups = plugin->library->LogGroupsExport() != nullptr;
  plugin->services = NaloHostServices{&plugin->core.api, plugin->core.handle};
  Plugin& loaded = *plugin;
  mPlugins.push_back(std::move(plugin));
  clockExport = nullptr;  // Unload takes the clock back from here on
  const std::uint8_t initialized =
      loaded.registration.callbacks->initialize(loaded.registration.context, &loaded.services);
  loaded.initialized = true;
  if (initialized == 0) {
    Failure failure(kLoadFailure, Message::kInitializeFailed,
                    {{"name", loaded.shortName}, {"path", path.string()}});
    Unload(loaded);
    return failure;
  }
  Log(NALO_LOG_OKAY, 0,
      "Loaded the plugin " + loaded.shortName + " from " + path.string() + " as handle " +
          std::to_string(loaded.core.handle) + ".");
  if (mOptions.peers == PeerSetup::Realistic && mOptions.announcePeers) {
    mPeers.Announce();
  }
  mQueue.RunDue();
  return {};
}

void Host::Impl::Unload(Plugin& plugin) {
  const std::uint32_t handle = plugin.core.handle;
  if (plugin.initialized) {
    plugin.initialized = false;
    plugin.registration.callbacks->shutdown(plugin.registration.context);
  }
  mQueue.CancelOwnedBy(handle);
  mEvents.UnsubscribeAll(handle);
  if (mQueue.Mode() == ClockMode::Virtual && plugin.library->ClockSourceExport() != nullptr) {
    // The object stays mapped (plugins are never unloaded from memory): it
    // must not keep a clock that points into this host.
    plugin.library->ClockSourceExport()(nullptr);
  }
  if (plugin.library->LogGroupsExport() != nullptr) {
    plugin.library->LogGroupsExport()(0);
  }
  std::erase_if(mPlugins, [&plugin](const auto& p) { return p.get() == &plugin; });
}

void Host::Impl::Shutdown() {
  while (!mPlugins.empty()) {
    Unload(*mPlugins.back());
  }
}

Host::Impl::Plugin* Host::Impl::Find(std::uint32_t handle) const {
  for (const auto& plugin : mPlugins) {
    if (plugin->core.handle == handle) {
      return plugin.get();
    }
  }
  return nullptr;
}

}  // namespace Nalo::Host
