// The test-only exports (abi/HostAbi.h). nalo_set_clock_source: a test host
// hands the plugin its virtual clocks, which the diagnostics clocks then read
// instead of the system's. nalo_pass_log_groups: the plugin's log target
// tells the host each line's groups. Linked into every plugin shared object
// (nalo_plugin()) as an object file of its own, so that the export survives
// the linker's pruning of unused archive members. A real core never calls it.

#include <atomic>
#include <cstdint>

#include "abi/HostAbi.h"
#include "platform/Clock.h"
#include "diagnostics/PluginLogTarget.h"
#include "plugin/PluginExport.h"

namespace {

std::atomic<const NaloClockSource*> gSource{nullptr};

std::uint64_t MonotonicNanoseconds(void* /*context*/) {
  const NaloClockSource* source = gSource.load(std::memory_order_acquire);
  return source->monotonicNanoseconds(source->context);
}

std::uint64_t WallMilliseconds(void* /*context*/) {
  const NaloClockSource* source = gSource.load(std::memory_order_acquire);
  return source->wallMilliseconds(source->context);
}

// Forwards to whatever source is installed; installed only while one is.
constexpr Nalo::ClockOverride kForwarder{nullptr, &MonotonicNanoseconds, &WallMilliseconds};

}  // namespace

extern "C" NALO_PLUGIN_EXPORT void NALO_ABI_CALL
nalo_set_clock_source(const NaloClockSource* source) noexcept {
  const bool complete = source != nullptr && source->monotonicNanoseconds != nullptr &&
                        source->wallMilliseconds != nullptr;
  if (!complete) {
    Nalo::SetClockOverride(nullptr);
    gSource.store(nullptr, std::memory_order_release);
    return;
  }
  gSource.store(source, std::memory_order_release);
  Nalo::SetClockOverride(&kForwarder);
}

extern "C" NALO_PLUGIN_EXPORT void NALO_ABI_CALL
nalo_pass_log_groups(std::uint32_t on) noexcept {
  Nalo::SetPluginLogTargetPassesGroups(on != 0);
}
