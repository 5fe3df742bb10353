#pragma once
// Private to the binding library: what the readers of outside input (JSON,
// MessagePack) use to build trees without going through the public setters
// for every name and string.

#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>

#include "binding/BindingProperty.h"
#include "binding/BindingStore.h"

namespace Nalo::detail {

// Finds the interned entries of texts a reader sees again and again (member
// names above all) without hashing them again: a small direct-mapped table
// in front of the store's intern table, keyed by the text's length and a few
// of its bytes, and checked byte for byte on every hit.
//
// The cache holds one reference to each entry it remembers, so no entry it
// points at is freed while the reader runs; the destructor drops them, so the
// store must outlive the cache.
class InternCache {
 public:
  explicit InternCache(BindingStore& store) noexcept : mStore(store) {}
  ~InternCache();
  InternCache(const InternCache&) = delete;
  InternCache& operator=(const InternCache&) = delete;
  InternCache(InternCache&&) = delete;
  InternCache& operator=(InternCache&&) = delete;

  // The entry of `bytes` (every byte, NULs included) with one reference
  // taken for the caller.
  InternedString* Intern(std::string_view bytes);
  // The same for a string value: long texts are rarely seen twice, so they
  // go to the store's table directly.
  InternedString* InternValue(std::string_view bytes) {
    return bytes.size() > kLongestCached ? mStore.Intern(bytes) : Intern(bytes);
  }

 private:
  static constexpr std::size_t kLongestCached = 32;
  static constexpr unsigned kSlotBits = 8;
  static std::size_t SlotOf(std::string_view bytes) noexcept;

  BindingStore& mStore;
  InternedString* mSlots[std::size_t{1} << kSlotBits] = {};
};

// The elements of the collections a reader has open, innermost last, each
// collected on this one stack until its collection closes and then moved into
// it at once, exactly sized: no collection grows one element at a time.
// Elements move bitwise, as collections relocate theirs; a reference to an
// element is valid until the next Append.
class PendingElements {
 public:
  PendingElements() noexcept = default;
  ~PendingElements();
  PendingElements(const PendingElements&) = delete;
  PendingElements& operator=(const PendingElements&) = delete;
  PendingElements(PendingElements&&) = delete;
  PendingElements& operator=(PendingElements&&) = delete;

  [[nodiscard]] std::size_t Size() const noexcept { return mSize; }
  [[nodiscard]] BindingProperty& At(std::size_t index) noexcept { return mData[index]; }
  // A new empty element for the collection `container` (already made a
  // collection), on top of the stack.
  BindingProperty& Append(const BindingProperty& container);
  // Moves the elements from `start` on to the end of `container`, the
  // collection they were appended for.
  void MoveInto(BindingProperty& container, std::size_t start);

 private:
  BindingProperty* mData = nullptr;
  std::size_t mSize = 0;
  std::size_t mCapacity = 0;
};

// The length of `bytes` up to their first NUL, without a library call for
// short texts such as member names.
inline std::size_t LengthBeforeNul(std::string_view bytes) noexcept {
  const char* data = bytes.data();
  const std::size_t size = bytes.size();
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, sizeof word);
    if (((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0) {
      break;  // a NUL lies in these eight bytes
    }
  }
  while (i < size && data[i] != '\0') {
    ++i;
  }
  return i;
}

// Access to the value's internals for the readers.
struct TreeBuilding {
  // The value's store, created when it has none yet.
  static BindingStore& Store(BindingProperty& value) { return value.EnsureStore(); }
  // Makes `target` the string of `entry` (interned in the target's store),
  // taking over the caller's reference.
  static void SetString(BindingProperty& target, InternedString* entry) noexcept {
    target.ReleasePayload();
    target.SetInterned(entry);
  }
  // at(index) of a collection, without a call when the element exists or is
  // the next one and its room was reserved.
  static BindingProperty& ElementAt(BindingProperty& collection, std::size_t index) {
    if (collection.mKind == BindingKind::Collection) [[likely]] {
      CollectionPayload* payload = collection.mPayload.collection;
      if (index < payload->size) {
        return payload->elements[index];
      }
      if (index == payload->size && index < payload->capacity) [[likely]] {
        ++payload->size;
        return *new (&payload->elements[index]) BindingProperty(payload->store);
      }
    }
    return collection.at(index);
  }
  // Makes `value` a structure if needed and returns its member named by `key`
  // (interned in the value's store), inserting an empty member when absent.
  // Takes over the caller's reference to `key`.
  static BindingProperty& Member(BindingProperty& value, InternedString* key);
};

}  // namespace Nalo::detail
