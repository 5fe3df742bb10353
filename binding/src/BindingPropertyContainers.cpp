// Collections and structures of a BindingProperty: making them, growing a
// collection, and finding, adding and removing members by name.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <tuple>
#include <utility>

#include "binding/BindingLimits.h"
#include "binding/BindingProperty.h"
#include "binding/BindingStore.h"

namespace Nalo {

namespace {

[[noreturn]] void FailCollectionTooLong() {
  // The same condition as the standard vector's length error; readers of
  // outside input check lengths before they reserve, so only a programming
  // error gets here.
  std::fputs("vector<T> too long\n", stderr);
  std::abort();
}

std::string_view UpToFirstNul(std::string_view text) {
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul == nullptr ? text : text.substr(0, static_cast<const char*>(nul) - text.data());
}

}  // namespace

BindingProperty& BindingProperty::MakeCollection() {
  if (mKind != BindingKind::Collection) {
    ReleasePayload();
    BindingStore& store = EnsureStore();
    auto* collection =
        static_cast<detail::CollectionPayload*>(store.Allocate(sizeof(detail::CollectionPayload)));
    *collection = detail::CollectionPayload{nullptr, 0, 0, &store};
    mKind = BindingKind::Collection;
    mPayload.collection = collection;
  }
  return *this;
}

BindingProperty& BindingProperty::MakeStructure() {
  if (mKind != BindingKind::Structure) {
    ReleasePayload();
    BindingStore& store = EnsureStore();
    void* block = store.Allocate(sizeof(detail::StructurePayload));
    mKind = BindingKind::Structure;
    mPayload.structure = new (block) detail::StructurePayload(store);
  }
  return *this;
}

void BindingProperty::reserve(std::size_t count) {
  MakeCollection();
  detail::CollectionPayload& collection = *mPayload.collection;
  if (count <= collection.capacity) {
    return;
  }
  if (count > kMaxCollectionSize) {
    FailCollectionTooLong();
  }
  BindingStore& store = *collection.store;
  auto* elements = static_cast<BindingProperty*>(store.Allocate(count * sizeof(BindingProperty)));
  if (collection.size != 0) {
    // Elements are relocated bitwise: nothing outside the tree points at them.
    std::memcpy(static_cast<void*>(elements), static_cast<const void*>(collection.elements),
                collection.size * sizeof(BindingProperty));
  }
  store.Free(collection.elements, collection.capacity * sizeof(BindingProperty));
  collection.elements = elements;
  collection.capacity = static_cast<std::uint32_t>(count);
}

BindingProperty& BindingProperty::at(std::size_t i) {
  MakeCollection();
  detail::CollectionPayload* collection = mPayload.collection;
  if (i < collection->size) {
    return collection->elements[i];
  }
  if (i >= kMaxCollectionSize) {
    FailCollectionTooLong();
  }
  if (i >= collection->capacity) {
    std::size_t capacity = collection->capacity == 0 ? 2 : std::size_t{collection->capacity} * 2;
    if (capacity < i + 1) {
      capacity = i + 1;
    }
    reserve(capacity < kMaxCollectionSize ? capacity : kMaxCollectionSize);
  }
  while (collection->size <= i) {
    new (&collection->elements[collection->size]) BindingProperty(collection->store);
    ++collection->size;
  }
  return collection->elements[i];
}

BindingProperty& BindingProperty::member(std::string_view name) {
  std::size_t nameLength = 0;
  const std::uint32_t hash = BindingStore::Hash(name, nameLength);
  return member(name.substr(0, nameLength), hash);
}

BindingProperty& BindingProperty::member(std::string_view name, std::uint32_t nameHash) {
  MakeStructure();
  detail::MemberMap& members = mPayload.structure->members;
  auto position = members.lower_bound(name);
  if (position != members.end() &&
      detail::MemberNameLess::Compare(position->first->View(), name) == 0) {
    return position->second;
  }
  const detail::InternedString* key = mStore->InternHashed(name, nameHash);
  position = members.emplace_hint(position, std::piecewise_construct, std::forward_as_tuple(key),
                                  std::forward_as_tuple());
  position->second.mStore = mStore;
  return position->second;
}

bool BindingProperty::RemoveMember(std::string_view name) noexcept {
  if (mKind != BindingKind::Structure) {
    return false;
  }
  detail::MemberMap& members = mPayload.structure->members;
  const auto position = members.find(UpToFirstNul(name));
  if (position == members.end()) {
    return false;
  }
  auto* key = const_cast<detail::InternedString*>(position->first);
  members.erase(position);
  mStore->Release(key);
  return true;
}

std::span<const BindingProperty> BindingProperty::Elements() const noexcept {
  if (mKind != BindingKind::Collection) {
    return {};
  }
  return {mPayload.collection->elements, mPayload.collection->size};
}

std::span<BindingProperty> BindingProperty::Elements() noexcept {
  if (mKind != BindingKind::Collection) {
    return {};
  }
  return {mPayload.collection->elements, mPayload.collection->size};
}

detail::MemberRange BindingProperty::Members() const noexcept {
  return mKind == BindingKind::Structure ? detail::MemberRange(&mPayload.structure->members)
                                         : detail::MemberRange();
}

const BindingProperty* BindingProperty::Find(std::string_view name) const noexcept {
  if (mKind != BindingKind::Structure) {
    return nullptr;
  }
  const detail::MemberMap& members = mPayload.structure->members;
  const auto position = members.find(UpToFirstNul(name));
  return position == members.end() ? nullptr : &position->second;
}

BindingProperty* BindingProperty::Find(std::string_view name) noexcept {
  return const_cast<BindingProperty*>(std::as_const(*this).Find(name));
}

}  // namespace Nalo
