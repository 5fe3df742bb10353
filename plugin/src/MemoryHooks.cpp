// The counting allocation and release functions of a plugin shared object.
//
// Linked only into plugin shared objects (nalo_plugin()), which keep these
// definitions local: the version script exports nothing but the entry, and
// libstdc++ is linked statically, so every allocation the plugin's code (its
// copy of the standard library included) makes comes here, and the host's
// allocations never do. Blocks come from the C heap, which reports their
// usable size. RapidJSON's buffers, which take the C heap directly, are
// counted through the JSON heap accounting (a writer's output buffer once, at
// its final size); the only blocks left uncounted are those libyaml takes
// inside the system's shared library while it reads YAML.

#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "diagnostics/JsonAllocator.h"
#include "plugin/MemoryStatistics.h"

namespace {

// The C heap's usable size of a block, and over-aligned blocks. The Windows
// C runtime has no aligned allocation whose size it reports, so there an
// over-aligned block is carved from a larger malloc block whose address is
// kept in the word before it.
#ifdef _WIN32
std::size_t UsableSize(void* block) noexcept {
  return _msize(block);
}
void*& HeapBlockOf(void* block) noexcept {
  return static_cast<void**>(block)[-1];
}
void* AlignedBlock(std::size_t align, std::size_t size) noexcept {
  if (size > SIZE_MAX - align - sizeof(void*)) {
    return nullptr;
  }
  void* heapBlock = std::malloc(size + align + sizeof(void*));
  if (heapBlock == nullptr) {
    return nullptr;
  }
  const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(heapBlock) + sizeof(void*);
  void* block = reinterpret_cast<void*>((first + align - 1) / align * align);
  HeapBlockOf(block) = heapBlock;
  return block;
}
std::size_t AlignedUsableSize(void* block, std::size_t /*align*/) noexcept {
  return _msize(HeapBlockOf(block));
}
void FreeAligned(void* block) noexcept {
  std::free(HeapBlockOf(block));
}
#else
std::size_t UsableSize(void* block) noexcept {
  return malloc_usable_size(block);
}
void* AlignedBlock(std::size_t align, std::size_t size) noexcept {
  // aligned_alloc wants a size that is a multiple of the alignment.
  return std::aligned_alloc(align, (size + align - 1) / align * align);
}
std::size_t AlignedUsableSize(void* block, std::size_t /*align*/) noexcept {
  return malloc_usable_size(block);
}
void FreeAligned(void* block) noexcept {
  std::free(block);
}
#endif

void* Allocate(std::size_t size) noexcept {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) {
    Nalo::detail::CountAllocation(UsableSize(block));
  }
  return block;
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
  const auto align = static_cast<std::size_t>(alignment);
  void* block = AlignedBlock(align, size == 0 ? 1 : size);
  if (block != nullptr) {
    Nalo::detail::CountAllocation(AlignedUsableSize(block, align));
  }
  return block;
}

void Release(void* block) noexcept {
  if (block != nullptr) {
    Nalo::detail::CountRelease(UsableSize(block));
    std::free(block);
  }
}

void ReleaseAligned(void* block, std::align_val_t alignment) noexcept {
  if (block != nullptr) {
    Nalo::detail::CountRelease(AlignedUsableSize(block, static_cast<std::size_t>(alignment)));
    FreeAligned(block);
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
void operator delete(void* block, std::align_val_t alignment) noexcept {
  ReleaseAligned(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment) noexcept {
  ReleaseAligned(block, alignment);
}
void operator delete(void* block, std::size_t, std::align_val_t alignment) noexcept {
  ReleaseAligned(block, alignment);
}
void operator delete[](void* block, std::size_t, std::align_val_t alignment) noexcept {
  ReleaseAligned(block, alignment);
}
void operator delete(void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  ReleaseAligned(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  ReleaseAligned(block, alignment);
}
