#include "plugin/MemoryStatistics.h"

#include <atomic>

namespace Nalo {

namespace {

// The process-wide counters of the plugin's allocation functions. Relaxed
// order suffices: each counter is a statistic on its own, and a snapshot
// taken while another thread allocates may mix before and after.
struct Counters {
  std::atomic<std::uint64_t> peakBytesInUse{0};
  std::atomic<std::uint64_t> allocationsOutstandingAtPeak{0};
  std::atomic<std::uint64_t> bytesAllocated{0};
  std::atomic<std::uint64_t> allocations{0};
  std::atomic<std::uint64_t> bytesFreed{0};
  std::atomic<std::uint64_t> frees{0};
};

// Constant-initialised, so it is usable by allocations made before any
// dynamic initialiser of the shared object runs.
constinit Counters gCounters;

}  // namespace

namespace detail {

void CountAllocation(std::size_t usableBytes) noexcept {
  const std::uint64_t allocated =
      gCounters.bytesAllocated.fetch_add(usableBytes, std::memory_order_relaxed) + usableBytes;
  const std::uint64_t allocations =
      gCounters.allocations.fetch_add(1, std::memory_order_relaxed) + 1;
  const std::uint64_t inUse = allocated - gCounters.bytesFreed.load(std::memory_order_relaxed);
  std::uint64_t peak = gCounters.peakBytesInUse.load(std::memory_order_relaxed);
  while (inUse > peak) {
    if (gCounters.peakBytesInUse.compare_exchange_weak(peak, inUse, std::memory_order_relaxed)) {
      gCounters.allocationsOutstandingAtPeak.store(
          allocations - gCounters.frees.load(std::memory_order_relaxed), std::memory_order_relaxed);
      break;
    }
  }
}

void CountRelease(std::size_t usableBytes) noexcept {
  gCounters.bytesFreed.fetch_add(usableBytes, std::memory_order_relaxed);
  gCounters.frees.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace detail

MemoryStatistics CurrentMemoryStatistics() noexcept {
  MemoryStatistics statistics;
  statistics.peakBytesInUse = gCounters.peakBytesInUse.load(std::memory_order_relaxed);
  statistics.allocationsOutstandingAtPeak =
      gCounters.allocationsOutstandingAtPeak.load(std::memory_order_relaxed);
  statistics.bytesAllocated = gCounters.bytesAllocated.load(std::memory_order_relaxed);
  statistics.allocations = gCounters.allocations.load(std::memory_order_relaxed);
  statistics.bytesFreed = gCounters.bytesFreed.load(std::memory_order_relaxed);
  statistics.frees = gCounters.frees.load(std::memory_order_relaxed);
  return statistics;
}

void WriteMemoryStatisticsWords(const MemoryStatistics& statistics,
                                std::span<std::uint32_t, kMemoryStatisticsWords> words) noexcept {
  const std::uint64_t counters[] = {
      statistics.peakBytesInUse, statistics.allocationsOutstandingAtPeak,
      statistics.bytesAllocated, statistics.allocations,
      statistics.bytesFreed,     statistics.frees};
  std::size_t word = 0;
  for (const std::uint64_t counter : counters) {
    words[word++] = static_cast<std::uint32_t>(counter & 0xFFFFFFFFu);
    words[word++] = static_cast<std::uint32_t>(counter >> 32);
  }
  words[12] = 0;
  words[13] = 0;
}

}  // namespace Nalo
