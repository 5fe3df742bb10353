#pragma once
// MemoryStatistics: what the plugin's allocation functions have counted.
//
// A plugin shared object built with nalo_plugin() (plugin/CMakeLists.txt)
// replaces the global allocation and release functions with counting ones
// (src/MemoryHooks.cpp); every container and object of the plugin allocates
// through them. Each allocation adds the block's usable size and 1 to the
// totals, each release likewise; after an allocation the peak of bytes in
// use (allocated - freed) is raised when exceeded, together with the count
// of blocks outstanding at that moment. Releases never lower the peak.
//
// The counters are lock-free atomics, updated from any thread. Outside a
// plugin shared object nothing is counted and every counter stays 0.

#include <cstddef>
#include <cstdint>
#include <span>

namespace Nalo {

struct MemoryStatistics {
  std::uint64_t peakBytesInUse = 0;
  std::uint64_t allocationsOutstandingAtPeak = 0;
  std::uint64_t bytesAllocated = 0;
  std::uint64_t allocations = 0;
  std::uint64_t bytesFreed = 0;
  std::uint64_t frees = 0;
};

// A snapshot of the counters. Never allocates.
[[nodiscard]] MemoryStatistics CurrentMemoryStatistics() noexcept;

// The core's form: the six counters as twelve 32-bit words, each low word
// first, then two zero words.
inline constexpr std::size_t kMemoryStatisticsWords = 14;
void WriteMemoryStatisticsWords(const MemoryStatistics& statistics,
                                std::span<std::uint32_t, kMemoryStatisticsWords> words) noexcept;

namespace detail {
// Called by the counting allocation functions with the block's usable size.
void CountAllocation(std::size_t usableBytes) noexcept;
void CountRelease(std::size_t usableBytes) noexcept;
}  // namespace detail

}  // namespace Nalo
