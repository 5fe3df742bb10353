#pragma once
// RapidJSON's buffers on the C heap, counted where allocations are counted.
//
// RapidJSON's default allocator calls malloc and realloc directly, so a
// plugin's memory statistics, which count the C++ allocation functions, would
// miss its buffers. The installed heap accounting hears of them instead: a
// plugin shared object installs its memory statistics there when it is
// loaded; anywhere else nothing is told.
//
// Readers take JsonAllocator, which uses the same C functions and tells the
// accounting of every block. Writers keep RapidJSON's own StringBuffer, since
// RapidJSON writes numbers and scans strings on fast paths for that buffer
// type only; the buffer's final block is counted once, when it is given back.
//
//   rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, Nalo::JsonAllocator> reader;
//
//   rapidjson::StringBuffer buffer;
//   ... write ...
//   std::string text(Nalo::TakeWrittenText(buffer));

#include <rapidjson/fwd.h>

#include <cstddef>
#include <string_view>

namespace Nalo {

// Told of every block the JSON allocator takes or gives back, with the
// block's usable size.
struct HeapAccounting {
  void (*allocated)(std::size_t usableBytes) noexcept = nullptr;
  void (*released)(std::size_t usableBytes) noexcept = nullptr;
};

// Installs `accounting` for the whole shared object or program. Meant to be
// called once, while it is loaded, before any JSON is read or written.
void InstallHeapAccounting(HeapAccounting accounting) noexcept;

class JsonAllocator {
 public:
  static const bool kNeedFree = true;

  void* Malloc(std::size_t size);
  void* Realloc(void* original, std::size_t originalSize, std::size_t newSize);
  static void Free(void* block) noexcept;
};

// The text a writer left in `buffer`, valid while the buffer lives. The
// buffer grew out of sight of the accounting: its final block is counted
// here, once, as allocated and released.
[[nodiscard]] std::string_view TakeWrittenText(rapidjson::StringBuffer& buffer) noexcept;

}  // namespace Nalo
