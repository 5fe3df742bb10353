// What the JSON and MessagePack readers use to build trees quickly (see
// binding/detail/TreeBuilding.h): members appended in order, the stack of
// pending array elements, and the cache in front of the store's intern table.

#include "binding/detail/TreeBuilding.h"

#include <cstring>
#include <new>
#include <tuple>

#include "binding/BindingProperty.h"
#include "binding/BindingStore.h"

namespace Nalo::detail {

BindingProperty& TreeBuilding::Member(BindingProperty& value, InternedString* key) {
  value.MakeStructure();
  MemberMap& members = value.mPayload.structure->members;
  // Names often arrive in ascending order: one comparison with the last
  // member settles those.
  if (members.empty() ||
      MemberNameLess::Compare(members.rbegin()->first->View(), key->View()) < 0) {
    const auto last = members.emplace_hint(members.end(), std::piecewise_construct,
                                           std::forward_as_tuple(key), std::forward_as_tuple());
    last->second.mStore = value.mStore;
    return last->second;
  }
  auto position = members.lower_bound(key->View());
  // Equal names in one store are one entry.
  if (position != members.end() && position->first == key) {
    value.mStore->Release(key);
    return position->second;
  }
  position = members.emplace_hint(position, std::piecewise_construct, std::forward_as_tuple(key),
                                  std::forward_as_tuple());
  position->second.mStore = value.mStore;
  return position->second;
}

PendingElements::~PendingElements() {
  for (std::size_t i = 0; i < mSize; ++i) {
    mData[i].~BindingProperty();
  }
  ::operator delete(mData);
}

BindingProperty& PendingElements::Append(const BindingProperty& container) {
  // `container` may itself be a pending element, which growing moves.
  BindingStore* store = container.mStore;
  if (mSize == mCapacity) {
    const std::size_t capacity = mCapacity == 0 ? 64 : mCapacity * 2;
    auto* data = static_cast<BindingProperty*>(::operator new(capacity * sizeof(BindingProperty)));
    if (mSize != 0) {
      std::memcpy(static_cast<void*>(data), static_cast<const void*>(mData),
                  mSize * sizeof(BindingProperty));
    }
    ::operator delete(mData);
    mData = data;
    mCapacity = capacity;
  }
  return *new (&mData[mSize++]) BindingProperty(store);
}

void PendingElements::MoveInto(BindingProperty& container, std::size_t start) {
  const std::size_t count = mSize - start;
  if (count == 0) {
    return;
  }
  CollectionPayload* collection = container.mPayload.collection;
  // A fresh collection gets exactly `count` elements; one that a repeated
  // member name appends to grows by exactly that much.
  container.reserve(collection->size + count);
  std::memcpy(static_cast<void*>(collection->elements + collection->size),
              static_cast<const void*>(mData + start), count * sizeof(BindingProperty));
  collection->size += static_cast<std::uint32_t>(count);
  mSize = start;
}

std::size_t InternCache::SlotOf(std::string_view bytes) noexcept {
  // A few single bytes and the length spread names well enough; a miss only
  // costs the store's own lookup.
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  const std::uint64_t sample =
      data[0] | (std::uint64_t{data[size / 2]} << 8) | (std::uint64_t{data[size - 1]} << 16) |
      (std::uint64_t{data[size > 1 ? 1 : 0]} << 24) |
      (std::uint64_t{data[size > 2 ? size - 2 : 0]} << 32) | (std::uint64_t{size} << 40);
  return static_cast<std::size_t>((sample * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits));
}

InternedString* InternCache::Intern(std::string_view bytes) {
  if (bytes.empty()) {
    return BindingStore::EmptyString();
  }
  InternedString*& slot = mSlots[SlotOf(bytes)];
  InternedString* cached = slot;
  if (cached != nullptr && cached->length == bytes.size() &&
      CompareBytes(cached->Bytes(), bytes.data(), bytes.size()) == 0) {
    ++cached->references;
    return cached;
  }
  InternedString* entry = mStore.Intern(bytes);
  ++entry->references;  // the cache's own
  if (cached != nullptr) {
    mStore.Release(cached);
  }
  slot = entry;
  return entry;
}

InternCache::~InternCache() {
  for (InternedString* entry : mSlots) {
    if (entry != nullptr) {
      mStore.Release(entry);
    }
  }
}

}  // namespace Nalo::detail
