#pragma once
// Private to the abi library: the one block a plugin-built host value lives
// in. The root's own pointer (its member or element array, or its text or
// bytes) is the block's start, so releasing the value frees that pointer.
// Element and member arrays start on record alignment; texts, names and byte
// runs follow them unaligned.

#include <algorithm>
#include <cstddef>

namespace Nalo::detail {

inline constexpr std::size_t kRecordAlignment = alignof(std::max_align_t);

constexpr std::size_t RoundUpToRecord(std::size_t size) noexcept {
  return (size + kRecordAlignment - 1) / kRecordAlignment * kRecordAlignment;
}

// A block of at least one byte, so that an empty text or array still has an
// address of its own. Throws std::bad_alloc like every allocation.
inline std::byte* AllocateBlock(std::size_t size) {
  const std::size_t units =
      (std::max<std::size_t>(size, 1) + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
  return reinterpret_cast<std::byte*>(new std::max_align_t[units]);
}

inline void FreeBlock(const void* block) noexcept {
  delete[] static_cast<std::max_align_t*>(const_cast<void*>(block));
}

}  // namespace Nalo::detail
