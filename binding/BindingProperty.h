#pragma once
// BindingProperty: the SDK's dynamic value.
//
// Request bodies, query arguments, resource payloads, events and conversion
// errors all travel as a tree of BindingProperty values. A value is one of ten
// kinds (see BindingKind.h). Scalars are held inline; strings, blobs, enums,
// collections and structures live out of line in the tree's BindingStore,
// which interns every string once per tree and serves payload blocks from
// size-class pools.
//
// Ownership: a value created on its own is a root and owns its store (created
// lazily, the first time an out-of-line payload is needed). Elements of a
// collection and members of a structure are full BindingProperty values that
// share the root's store; they are owned by their container. A tree is used by
// one thread at a time; nothing here takes a lock.
//
// Structure members are kept in ascending byte order of their names, so every
// traversal (writers, equality, copying) sees them in that order, never in
// insertion order.
//
//   Nalo::BindingProperty value;
//   value.member("name").SetString("Arin");
//   value.member("tags").at(0).SetUnsigned(7);   // {"name":"Arin","tags":[7]}

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "binding/BindingKind.h"

namespace Nalo {

class BindingStore;
class BindingTypeDescriptor;
class BindingVisitor;

namespace detail {
struct InternedString;
struct BlobPayload;
struct EnumPayload;
struct CollectionPayload;
struct StructurePayload;
class MemberRange;
struct TreeBuilding;
class PendingElements;
}  // namespace detail

class BindingProperty {
 public:
  // An empty root value with no store yet.
  BindingProperty() noexcept = default;
  ~BindingProperty();

  // Copying builds an independent root: a deep copy into a store of its own.
  BindingProperty(const BindingProperty& other);
  // Copy assignment is assign(other): a deep copy into this value's store.
  BindingProperty& operator=(const BindingProperty& other);

  // Moving a root hands over its store and payload in constant time and leaves
  // the source an empty root. Moving from or into an element of another tree
  // falls back to a deep copy (payloads can't cross stores); the source is
  // then reset.
  BindingProperty(BindingProperty&& other) noexcept;
  BindingProperty& operator=(BindingProperty&& other) noexcept;

  // --- Setters. Each first releases the current payload. -------------------

  // Releases the payload; the value becomes empty.
  void Reset() noexcept;
  void SetBool(bool value) noexcept;
  void SetSigned(std::int64_t value) noexcept;
  void SetUnsigned(std::uint64_t value) noexcept;
  void SetFloat(double value) noexcept;
  // Stores the bytes up to the first NUL of `text` (zero-terminated setter).
  void SetString(const char* text);
  // Keeps every byte of `text`, NULs included (counted setter).
  void SetString(std::string_view text);
  // Copies the bytes into a new blob.
  void SetBlob(std::span<const std::uint8_t> bytes);
  // `descriptor` is the enum's registered type; it may be null for an enum
  // value whose type is unknown (it is then written as its number).
  void SetEnum(std::int32_t value, const BindingTypeDescriptor* descriptor);

  // Turns a non-collection into an empty collection; a collection is kept.
  BindingProperty& MakeCollection();
  // Turns a non-structure into an empty structure; a structure is kept.
  BindingProperty& MakeStructure();
  // Makes this a collection if needed and grows its capacity to `count`
  // elements. Asserts when `count` exceeds kMaxCollectionSize.
  void reserve(std::size_t count);

  // Makes this a collection if needed, appends empty elements until index `i`
  // exists and returns element `i`. `at(size())` appends one element. The
  // returned reference is valid until the collection next grows.
  BindingProperty& at(std::size_t i);
  // Makes this a structure if needed and returns the member `name` (the bytes
  // before its first NUL), inserting an empty member when absent. Member
  // references stay valid until the member is removed or the value reset.
  BindingProperty& member(std::string_view name);
  BindingProperty& member(const char* name) { return member(std::string_view(name)); }
  // The same for a name known to hold no NUL whose intern hash the caller
  // already has (BindingStore::Hash), such as a registered field's name.
  BindingProperty& member(std::string_view name, std::uint32_t nameHash);

  // Removes the member `name` of a structure and releases it. Returns false
  // when there is no such member or this is not a structure. References to
  // other members stay valid.
  bool RemoveMember(std::string_view name) noexcept;

  // Deep copy by kind; strings are re-interned, every byte of them, in this
  // value's store. Copying a value onto itself changes nothing. `other` may
  // be a part of this tree.
  void assign(const BindingProperty& other);

  // --- Readers. --------------------------------------------------------------

  [[nodiscard]] BindingKind Kind() const noexcept { return mKind; }
  [[nodiscard]] std::string_view KindName() const noexcept { return BindingKindName(mKind); }
  [[nodiscard]] bool IsEmpty() const noexcept { return mKind == BindingKind::Empty; }

  // 0 for empty; byte length for string and blob; element count for
  // collection; member count for structure; 1 for every scalar kind.
  [[nodiscard]] std::size_t size() const noexcept;

  // Typed readers: `fallback` unless the kind matches exactly.
  [[nodiscard]] std::int64_t GetSigned(std::int64_t fallback) const noexcept;
  [[nodiscard]] std::uint64_t GetUnsigned(std::uint64_t fallback) const noexcept;
  [[nodiscard]] double GetFloat(double fallback) const noexcept;

  // Lenient readers; see src/BindingPropertyReading.cpp for the rule of each kind.
  [[nodiscard]] bool AsBool() const noexcept;
  [[nodiscard]] std::int64_t AsSigned(std::int64_t fallback = 0) const noexcept;
  [[nodiscard]] std::uint64_t AsUnsigned(std::uint64_t fallback = 0) const noexcept;
  [[nodiscard]] std::string AsString() const;

  // The payload of one kind; an empty view, 0 or null for any other kind.
  [[nodiscard]] bool BoolValue() const noexcept {
    return mKind == BindingKind::Bool && mPayload.boolean;
  }
  [[nodiscard]] std::string_view StringValue() const noexcept;
  [[nodiscard]] std::span<const std::uint8_t> BlobValue() const noexcept;
  [[nodiscard]] std::int32_t EnumValue() const noexcept;
  [[nodiscard]] const BindingTypeDescriptor* EnumDescriptor() const noexcept;

  // Elements of a collection, in order; empty for any other kind.
  [[nodiscard]] std::span<const BindingProperty> Elements() const noexcept;
  [[nodiscard]] std::span<BindingProperty> Elements() noexcept;
  // Members of a structure in ascending byte order of their names; an empty
  // range for any other kind.
  [[nodiscard]] detail::MemberRange Members() const noexcept;
  // The member `name` of a structure, or null when absent or not a structure.
  [[nodiscard]] const BindingProperty* Find(std::string_view name) const noexcept;
  [[nodiscard]] BindingProperty* Find(std::string_view name) noexcept;

  // Deep equality. Blobs are equal only when they are the same stored bytes
  // (a value and its copy are unequal); NaN is unequal to itself.
  friend bool operator==(const BindingProperty& left, const BindingProperty& right) noexcept;

  // Walks the value depth-first (see BindingVisitor.h).
  void accept(BindingVisitor& visitor) const;

  // The store of this value's tree, or null before one was needed. For
  // memory diagnostics and tests.
  [[nodiscard]] const BindingStore* TreeStore() const noexcept { return mStore; }

 private:
  union Payload {
    std::uint64_t bits;
    bool boolean;
    std::int64_t signedValue;
    std::uint64_t unsignedValue;
    double floatValue;
    detail::InternedString* string;
    detail::BlobPayload* blob;
    detail::EnumPayload* enumeration;
    detail::CollectionPayload* collection;
    detail::StructurePayload* structure;
  };

  friend struct detail::CollectionPayload;
  friend struct detail::StructurePayload;
  friend class detail::MemberRange;
  friend struct detail::TreeBuilding;
  friend class detail::PendingElements;

  // An element or member of a tree whose store is `store`.
  explicit BindingProperty(BindingStore* store) noexcept : mStore(store) {}

  BindingStore& EnsureStore();
  // Scalars hold nothing out of line: releasing them only clears the value.
  void ReleasePayload() noexcept {
    if (mKind >= BindingKind::String) {
      ReleaseStoredPayload();
    } else {
      mKind = BindingKind::Empty;
      mPayload.bits = 0;
    }
  }
  void ReleaseStoredPayload() noexcept;
  void SetInterned(detail::InternedString* entry) noexcept;
  void StealFrom(BindingProperty& other) noexcept;
  // assign() once it knows that neither value lies inside the other.
  void CopyFrom(const BindingProperty& other);

  Payload mPayload{.bits = 0};
  BindingStore* mStore = nullptr;
  BindingKind mKind = BindingKind::Empty;
  bool mOwnsStore = false;
};

}  // namespace Nalo

#include "binding/detail/BindingPayloads.h"
