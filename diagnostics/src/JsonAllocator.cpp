#include "diagnostics/JsonAllocator.h"

#include <malloc.h>

#include <cstdlib>

namespace Nalo {

namespace {

constinit HeapAccounting gAccounting;

void TellAllocated(void* block) noexcept {
  if (block != nullptr && gAccounting.allocated != nullptr) {
    gAccounting.allocated(malloc_usable_size(block));
  }
}

void TellReleased(void* block) noexcept {
  if (block != nullptr && gAccounting.released != nullptr) {
    gAccounting.released(malloc_usable_size(block));
  }
}

}  // namespace

void InstallHeapAccounting(HeapAccounting accounting) noexcept {
  gAccounting = accounting;
}

void CountReleasedHeapBlock(const void* block) noexcept {
  if (block == nullptr || gAccounting.allocated == nullptr || gAccounting.released == nullptr) {
    return;
  }
  const std::size_t usable = malloc_usable_size(const_cast<void*>(block));
  gAccounting.allocated(usable);
  gAccounting.released(usable);
}

void* JsonAllocator::Malloc(std::size_t size) {
  if (size == 0) {
    return nullptr;
  }
  void* block = std::malloc(size);
  TellAllocated(block);
  return block;
}

void* JsonAllocator::Realloc(void* original, std::size_t /*originalSize*/, std::size_t newSize) {
  if (newSize == 0) {
    Free(original);
    return nullptr;
  }
  // Counted as a release of the old block and an allocation of the new one,
  // which realloc may have grown in place.
  TellReleased(original);
  void* block = std::realloc(original, newSize);
  if (block == nullptr) {
    // The old block is still there.
    TellAllocated(original);
    return nullptr;
  }
  TellAllocated(block);
  return block;
}

void JsonAllocator::Free(void* block) noexcept {
  TellReleased(block);
  std::free(block);
}

}  // namespace Nalo
