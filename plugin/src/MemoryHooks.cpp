// The counting allocation and release functions of a plugin shared object.
//
// Linked only into plugin shared objects (nalo_plugin()), which keep these
// definitions local: the version script exports nothing but the entry, and
// libstdc++ is linked statically, so every allocation the plugin's code (its
// copy of the standard library included) makes comes here, and the host's
// allocations never do. Blocks come from malloc, so their usable size is
// what malloc_usable_size reports. RapidJSON's buffers, which take the C heap
// directly, are counted through the JSON heap accounting (a writer's output
// buffer once, at its final size); the only blocks left uncounted are those
// libyaml takes inside the system's shared library while it reads YAML.

#include <malloc.h>

#include <cstdlib>
#include <new>

#include "diagnostics/JsonAllocator.h"
#include "plugin/MemoryStatistics.h"

namespace {

void* Allocate(std::size_t size) noexcept {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) {
    Nalo::detail::CountAllocation(malloc_usable_size(block));
  }
  return block;
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = ((size == 0 ? 1 : size) + align - 1) / align * align;
  void* block = std::aligned_alloc(align, rounded);
  if (block != nullptr) {
    Nalo::detail::CountAllocation(malloc_usable_size(block));
  }
  return block;
}

void Release(void* block) noexcept {
  if (block != nullptr) {
    Nalo::detail::CountRelease(malloc_usable_size(block));
    std::free(block);
  }
}

void* AllocateOrThrow(std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

void* AllocateAlignedOrThrow(std::size_t size, std::align_val_t alignment) {
  void* block = AllocateAligned(size, alignment);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

// RapidJSON's buffers take the C heap directly; they are counted the same way.
[[maybe_unused]] const bool gJsonBuffersCounted = [] {
  Nalo::InstallHeapAccounting({&Nalo::detail::CountAllocation, &Nalo::detail::CountRelease});
  return true;
}();

}  // namespace

void* operator new(std::size_t size) {
  return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
  return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return AllocateAlignedOrThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AllocateAlignedOrThrow(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}

void operator delete(void* block) noexcept {
  Release(block);
}
void operator delete[](void* block) noexcept {
  Release(block);
}
void operator delete(void* block, std::size_t) noexcept {
  Release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  Release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  Release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  Release(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  Release(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  Release(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  Release(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  Release(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Release(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Release(block);
}
