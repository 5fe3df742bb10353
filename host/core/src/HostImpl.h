#pragma once
// Host::Impl: the state of the stand-in core (Host.h) and the pieces that
// share it. Its rooms:
//   Host.cpp             the Host's own methods, logging, the clocks
//   PluginLoading.cpp    loading, checking and unloading plugins
//   RequestRouting.cpp   requests to the plugins' routes or to the peers
//   CoreTable.cpp        the NaloCoreApi entries plugins call, and waits
//   EventBus.cpp         subscriptions and event delivery
//   SentPayloads.cpp     the payloads of events plugins send
//   ResponseStreams.cpp  response bodies across the boundary

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "abi/HostAbi.h"
#include "binding/BindingTypeRegistry.h"
#include "host/core/Host.h"
#include "host/core/TaskQueue.h"
#include "host/core/src/EventBus.h"
#include "host/core/src/PluginLibrary.h"
#include "host/core/src/SentPayloads.h"
#include "host/peers/PeerServices.h"

namespace Nalo::Host {

namespace detail {

constexpr std::uint32_t kBadRequest = 400;
constexpr std::uint32_t kInternalError = 500;

// A route of a loaded plugin, its pattern compiled once at load.
struct CompiledRoute {
  const NaloRoute* record = nullptr;
  std::optional<std::regex> pattern;  // unset for a literal template
};

// 400 for a method the core doesn't know, named by `method`.
[[nodiscard]] Response RefuseMethod(std::string_view method);

}  // namespace detail

class Host::Impl {
 public:
  explicit Impl(HostOptions options);
  ~Impl() { Shutdown(); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  Impl(Impl&&) = delete;
  Impl& operator=(Impl&&) = delete;

  // One table per plugin: `api` first, so that the table pointer the plugin
  // passes back leads to its plugin (CoreTable.cpp).
  struct CoreTable {
    NaloCoreApi api;
    Impl* host;
    std::uint32_t handle;
    // The plugin's log lines read "<groups>| <message>".
    bool logGroups;
  };
  struct Plugin {
    std::optional<detail::PluginLibrary> library;
    NaloPluginRegistration registration{};
    CoreTable core{};
    NaloHostServices services{};
    std::string shortName;
    std::vector<detail::CompiledRoute> routes;
    bool initialized = false;
  };

  // Plugin loading (PluginLoading.cpp).
  MaybeType<Failure, void> Load(const std::filesystem::path& path, std::string_view entryName);
  void Unload(Plugin& plugin);
  void Shutdown();
  [[nodiscard]] Plugin* Find(std::uint32_t handle) const;

  // Request routing (RequestRouting.cpp). Routes a request from `caller`
  // (0: from outside every plugin) to the plugin that serves its path, else
  // to the peers.
  Response Route(std::uint32_t method, std::string_view path,
                 std::span<const NaloRequestArgument> arguments, std::string_view contentType,
                 std::string_view body, std::uint32_t caller);

  // The core's table (CoreTable.cpp): the entries every plugin is given.
  [[nodiscard]] static NaloCoreApi CoreEntries();
  void Pump(std::uint32_t handle);
  // Reports a wait over HostOptions::waitLimit and ends the process.
  [[noreturn]] void EndHungWait(std::uint32_t handle);

  // Host.cpp.
  void Log(std::uint32_t level, std::uint32_t handle, std::string_view text,
           std::string_view groups = {});
  void Record(CoreEntry entry, std::uint32_t handle, std::string_view text, std::uint32_t flags = 0,
              double delay = 0) {
    mCoreCalls.push_back({entry, handle, std::string(text), flags, delay});
  }
  [[nodiscard]] std::uint64_t WallClock() const noexcept;

  HostOptions mOptions;
  TaskQueue mQueue;
  // What the plugins read as their clocks in virtual time.
  const NaloClockSource mClockSource;
  BindingTypeRegistry mRegistry;
  detail::PeerServices mPeers;
  detail::EventBus mEvents;
  detail::SentPayloads mSentPayloads;
  std::vector<std::unique_ptr<Plugin>> mPlugins;
  std::uint32_t mNextHandle = 1;

  // Waits (CoreTable.cpp).
  std::uint32_t mWaitDepth = 0;
  std::uint32_t mIdlePumps = 0;
  // The outermost wait under way: when it began and its label.
  std::chrono::steady_clock::time_point mWaitStarted;
  std::string mWaitLabel;
  std::uint32_t mPumpsInWait = 0;
  // Delayed answers whose body hasn't arrived yet.
  std::uint32_t mPendingArrivals = 0;

  std::vector<LogLine> mLogLines;
  std::function<void(const LogLine&)> mLogLineEcho;
  std::function<void(const PeerRequest&)> mRequestEcho;
  std::vector<CoreCall> mCoreCalls;
  // The headers of the outside request being routed, for its dispatch.
  std::vector<NaloHeader> mOutsideHeaders;
  // The outside request being routed wants its answer as text alone
  // (RequestText); taken by its dispatch.
  bool mTextOnly = false;
};

}  // namespace Nalo::Host
