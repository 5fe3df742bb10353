#include "diagnostics/JsonAllocator.h"

#include <malloc.h>
#include <rapidjson/stringbuffer.h>

#include <cstdlib>

namespace Nalo {

namespace {

constinit HeapAccounting gAccounting;

void TellAllocated(std::size_t usableBytes) noexcept {
  if (gAccounting.allocated != nullptr) {
    gAccounting.allocated(usableBytes);
  }
}

void TellReleased(std::size_t usableBytes) noexcept {
  if (gAccounting.released != nullptr) {
    gAccounting.released(usableBytes);
  }
}

std::size_t UsableSize(void* block) noexcept {
  if (block == nullptr) {
    return 0;
  }
#ifdef _WIN32
  return _msize(block);
#else
  return malloc_usable_size(block);
#endif
}

}  // namespace

void InstallHeapAccounting(HeapAccounting accounting) noexcept {
  gAccounting = accounting;
}

std::string_view TakeWrittenText(rapidjson::StringBuffer& buffer) noexcept {
  const char* text = buffer.GetString();
  const std::size_t usable = UsableSize(const_cast<char*>(text));
  TellAllocated(usable);
  TellReleased(usable);
  return {text, buffer.GetSize()};
}

void* JsonAllocator::Malloc(std::size_t size) {
  if (size == 0) {
    return nullptr;
  }
  void* block = std::malloc(size);
  if (block != nullptr) {
    TellAllocated(UsableSize(block));
  }
  return block;
}

void* JsonAllocator::Realloc(void* original, std::size_t /*originalSize*/, std::size_t newSize) {
  if (newSize == 0) {
    Free(original);
    return nullptr;
  }
  // Counted as a release of the old block and an allocation of the new one,
  // which realloc may have grown in place; on failure the old block stays.
  const std::size_t before = UsableSize(original);
  void* block = std::realloc(original, newSize);
  if (block != nullptr) {
    if (original != nullptr) {
      TellReleased(before);
    }
    TellAllocated(UsableSize(block));
  }
  return block;
}

void JsonAllocator::Free(void* block) noexcept {
  if (block != nullptr) {
    TellReleased(UsableSize(block));
  }
  std::free(block);
}

}  // namespace Nalo
