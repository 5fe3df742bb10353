#pragma once
// Private to the binding library: what the readers of outside input (JSON,
// MessagePack) use to build trees without going through the public setters
// for every name and string.

#include <cstddef>
#include <string_view>

#include "binding/BindingProperty.h"

namespace Nalo {
class BindingStore;

namespace detail {

// Finds the interned entries of texts a reader sees again and again (member
// names above all) without hashing them again: a small direct-mapped table
// in front of the store's intern table, keyed by the text's length and its
// first and last bytes, and checked byte for byte on every hit.
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

 private:
  static constexpr unsigned kSlotBits = 8;
  static std::size_t SlotOf(std::string_view bytes) noexcept;

  BindingStore& mStore;
  InternedString* mSlots[std::size_t{1} << kSlotBits] = {};
};

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
  // Makes `value` a structure if needed and returns its member named by `key`
  // (interned in the value's store), inserting an empty member when absent.
  // Takes over the caller's reference to `key`.
  static BindingProperty& Member(BindingProperty& value, InternedString* key);
};

}  // namespace detail
}  // namespace Nalo
