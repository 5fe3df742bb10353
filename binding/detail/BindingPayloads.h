#pragma once
// Out-of-line payloads of BindingProperty. Private to the binding library:
// included by BindingProperty.h only so that member and element iteration
// stay inline.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>

namespace Nalo {
class BindingProperty;
class BindingStore;
class BindingTypeDescriptor;

namespace detail {

// Pool allocation in a tree's store: blocks up to 72 bytes come from the
// size-class pools, larger ones from the heap. `size` must be passed again
// when freeing.
void* StoreAllocate(BindingStore& store, std::size_t size);
void StoreFree(BindingStore& store, void* block, std::size_t size) noexcept;

// An entry of a store's intern table; the bytes (plus a terminating NUL)
// follow the header directly. The bytes may hold NULs of their own: `length`
// counts them all.
struct InternedString {
  InternedString* next;  // bucket chain
  std::uint32_t hash;    // 32-bit FNV-1a of the bytes up to the first NUL
  std::uint32_t references;
  std::uint32_t length;
  std::uint32_t allocationSize;

  [[nodiscard]] const char* Bytes() const noexcept {
    return reinterpret_cast<const char*>(this + 1);
  }
  [[nodiscard]] std::string_view View() const noexcept { return {Bytes(), length}; }
};

// Byte comparison without a library call: member names and most strings are
// short, and comparing them eight bytes at a time, most significant byte
// first, gives memcmp's order.
inline int CompareBytes(const char* left, const char* right, std::size_t count) noexcept {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, left + i, 8);
    std::memcpy(&b, right + i, 8);
    if (a != b) {
      if constexpr (std::endian::native == std::endian::little) {
        a = __builtin_bswap64(a);
        b = __builtin_bswap64(b);
      }
      return a < b ? -1 : 1;
    }
  }
  for (; i < count; ++i) {
    const auto a = static_cast<unsigned char>(left[i]);
    const auto b = static_cast<unsigned char>(right[i]);
    if (a != b) {
      return a < b ? -1 : 1;
    }
  }
  return 0;
}

// Member names order by plain byte comparison: unsigned bytes, a shorter
// prefix first.
struct MemberNameLess {
  using is_transparent = void;
  static int Compare(std::string_view left, std::string_view right) noexcept {
    const std::size_t common = left.size() < right.size() ? left.size() : right.size();
    const int byBytes = CompareBytes(left.data(), right.data(), common);
    if (byBytes != 0) {
      return byBytes;
    }
    return left.size() < right.size() ? -1 : (left.size() > right.size() ? 1 : 0);
  }
  bool operator()(const InternedString* left, const InternedString* right) const noexcept {
    return Compare(left->View(), right->View()) < 0;
  }
  bool operator()(const InternedString* left, std::string_view right) const noexcept {
    return Compare(left->View(), right) < 0;
  }
  bool operator()(std::string_view left, const InternedString* right) const noexcept {
    return Compare(left, right->View()) < 0;
  }
};

// Serves map nodes from the store's pools.
template <class T>
class StoreAllocator {
 public:
  using value_type = T;

  explicit StoreAllocator(BindingStore& store) noexcept : mStore(&store) {}
  template <class U>
  StoreAllocator(const StoreAllocator<U>& other) noexcept : mStore(other.mStore) {}

  T* allocate(std::size_t count) {
    return static_cast<T*>(StoreAllocate(*mStore, sizeof(T) * count));
  }
  void deallocate(T* block, std::size_t count) noexcept {
    StoreFree(*mStore, block, sizeof(T) * count);
  }
  template <class U>
  bool operator==(const StoreAllocator<U>& other) const noexcept {
    return mStore == other.mStore;
  }

 private:
  template <class U>
  friend class StoreAllocator;
  BindingStore* mStore;
};

}  // namespace detail
}  // namespace Nalo

// The payload structures below need the complete BindingProperty: this file
// is included at the end of BindingProperty.h.

namespace Nalo::detail {

struct BlobPayload {
  std::uint8_t* bytes;
  std::size_t size;
  BindingStore* store;
};

struct EnumPayload {
  std::int32_t value;
  const BindingTypeDescriptor* descriptor;
  BindingStore* store;
};

// A contiguous vector of elements. Elements are relocated bitwise when the
// vector grows: nothing points into a BindingProperty from outside its tree.
struct CollectionPayload {
  BindingProperty* elements;
  std::uint32_t size;
  std::uint32_t capacity;
  BindingStore* store;
};

using MemberMap = std::map<const InternedString*, BindingProperty, MemberNameLess,
                           StoreAllocator<std::pair<const InternedString* const, BindingProperty>>>;

struct StructurePayload {
  explicit StructurePayload(BindingStore& owner)
      : members(StoreAllocator<MemberMap::value_type>(owner)), store(&owner) {}
  MemberMap members;  // keeps its own member count
  BindingStore* store;
};

// One member seen through MemberRange.
struct MemberView {
  std::string_view name;
  const BindingProperty& value;
};

class MemberRange {
 public:
  class Iterator {
   public:
    using difference_type = std::ptrdiff_t;
    using value_type = MemberView;

    Iterator() = default;
    explicit Iterator(MemberMap::const_iterator position) : mPosition(position) {}
    MemberView operator*() const { return {mPosition->first->View(), mPosition->second}; }
    Iterator& operator++() {
      ++mPosition;
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++mPosition;
      return before;
    }
    bool operator==(const Iterator& other) const { return mPosition == other.mPosition; }

   private:
    MemberMap::const_iterator mPosition;
  };

  MemberRange() noexcept = default;
  explicit MemberRange(const MemberMap* map) noexcept : mMap(map) {}

  [[nodiscard]] Iterator begin() const { return mMap ? Iterator(mMap->begin()) : Iterator(); }
  [[nodiscard]] Iterator end() const { return mMap ? Iterator(mMap->end()) : Iterator(); }
  [[nodiscard]] std::size_t size() const noexcept { return mMap ? mMap->size() : 0; }
  [[nodiscard]] bool empty() const noexcept { return size() == 0; }

 private:
  const MemberMap* mMap = nullptr;
};

}  // namespace Nalo::detail
