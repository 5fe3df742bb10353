// A BindingProperty's lifetime: construction, copy and move within and
// between trees, the store a root owns, and the setters of single values.
// Collections and structures are built in BindingPropertyContainers.cpp, read
// in BindingPropertyReading.cpp.

#include "binding/BindingProperty.h"

#include <cstring>
#include <new>
#include <tuple>
#include <utility>

#include "binding/BindingStore.h"

namespace Nalo {

namespace {

bool IsContainer(BindingKind kind) noexcept {
  return kind == BindingKind::Collection || kind == BindingKind::Structure;
}

}  // namespace

// --- Lifetime ---------------------------------------------------------------

BindingProperty::~BindingProperty() {
  // Nothing in a tree holds a resource outside its store, so a root frees the
  // whole tree with the store.
  if (mOwnsStore) {
    delete mStore;
  } else {
    ReleasePayload();
  }
}

BindingProperty::BindingProperty(const BindingProperty& other) {
  assign(other);
}

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
  if (this != &other) {
    assign(other);
  }
  return *this;
}

BindingProperty::BindingProperty(BindingProperty&& other) noexcept {
  if (other.mOwnsStore || other.mStore == nullptr) {
    StealFrom(other);
  } else {
    assign(other);
    other.Reset();
  }
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) noexcept {
  if (this == &other) {
    return *this;
  }
  if (mStore != nullptr && mStore == other.mStore) {
    if (other.mOwnsStore) {
      // The source is the root of this value's tree: moving it in would make
      // the tree hold itself. Copy it instead; the source keeps its value.
      assign(other);
      return *this;
    }
    // Same tree: detach the source's payload first, so that releasing this
    // value cannot destroy it when the source lies inside this value.
    const Payload payload = other.mPayload;
    const BindingKind kind = other.mKind;
    other.mPayload.bits = 0;
    other.mKind = BindingKind::Empty;
    ReleasePayload();
    mPayload = payload;
    mKind = kind;
    return *this;
  }
  const bool thisIsRoot = mOwnsStore || mStore == nullptr;
  const bool otherIsRoot = other.mOwnsStore || other.mStore == nullptr;
  if (thisIsRoot && otherIsRoot) {
    if (mOwnsStore) {
      delete mStore;
    }
    StealFrom(other);
    return *this;
  }
  assign(other);
  other.Reset();
  return *this;
}

void BindingProperty::StealFrom(BindingProperty& other) noexcept {
  mPayload = other.mPayload;
  mStore = other.mStore;
  mKind = other.mKind;
  mOwnsStore = other.mOwnsStore;
  other.mPayload.bits = 0;
  other.mStore = nullptr;
  other.mKind = BindingKind::Empty;
  other.mOwnsStore = false;
}

BindingStore& BindingProperty::EnsureStore() {
  if (mStore == nullptr) {
    mStore = new BindingStore();
    mOwnsStore = true;
  }
  return *mStore;
}

void BindingProperty::ReleaseStoredPayload() noexcept {
  switch (mKind) {
    case BindingKind::String:
      mStore->Release(mPayload.string);
      break;
    case BindingKind::Blob: {
      detail::BlobPayload* blob = mPayload.blob;
      blob->store->Free(blob->bytes, blob->size);
      blob->store->Free(blob, sizeof(detail::BlobPayload));
      break;
    }
    case BindingKind::Enum:
      mPayload.enumeration->store->Free(mPayload.enumeration, sizeof(detail::EnumPayload));
      break;
    case BindingKind::Collection: {
      detail::CollectionPayload* collection = mPayload.collection;
      for (std::uint32_t i = 0; i < collection->size; ++i) {
        collection->elements[i].~BindingProperty();
      }
      collection->store->Free(collection->elements, collection->capacity * sizeof(BindingProperty));
      collection->store->Free(collection, sizeof(detail::CollectionPayload));
      break;
    }
    case BindingKind::Structure: {
      detail::StructurePayload* structure = mPayload.structure;
      BindingStore* store = structure->store;
      for (auto& [name, value] : structure->members) {
        store->Release(const_cast<detail::InternedString*>(name));
      }
      structure->~StructurePayload();
      store->Free(structure, sizeof(detail::StructurePayload));
      break;
    }
    default:
      break;
  }
  mKind = BindingKind::Empty;
  mPayload.bits = 0;
}

// --- Setters ----------------------------------------------------------------

void BindingProperty::Reset() noexcept {
  ReleasePayload();
}

void BindingProperty::SetBool(bool value) noexcept {
  ReleasePayload();
  mKind = BindingKind::Bool;
  mPayload.boolean = value;
}

void BindingProperty::SetSigned(std::int64_t value) noexcept {
  ReleasePayload();
  mKind = BindingKind::Signed;
  mPayload.signedValue = value;
}

void BindingProperty::SetUnsigned(std::uint64_t value) noexcept {
  ReleasePayload();
  mKind = BindingKind::Unsigned;
  mPayload.unsignedValue = value;
}

void BindingProperty::SetFloat(double value) noexcept {
  ReleasePayload();
  mKind = BindingKind::Float;
  mPayload.floatValue = value;
}

void BindingProperty::SetInterned(detail::InternedString* entry) noexcept {
  mKind = BindingKind::String;
  mPayload.string = entry;
}

void BindingProperty::SetString(const char* text) {
  SetString(std::string_view(text == nullptr ? "" : text));
}

void BindingProperty::SetString(std::string_view text) {
  // Intern before releasing: the text may be this value's own string.
  detail::InternedString* entry = EnsureStore().Intern(text);
  ReleasePayload();
  SetInterned(entry);
}

void BindingProperty::SetBlob(std::span<const std::uint8_t> bytes) {
  BindingStore& store = EnsureStore();
  auto* blob = static_cast<detail::BlobPayload*>(store.Allocate(sizeof(detail::BlobPayload)));
  blob->store = &store;
  blob->size = bytes.size();
  blob->bytes = nullptr;
  if (!bytes.empty()) {
    blob->bytes = static_cast<std::uint8_t*>(store.Allocate(bytes.size()));
    std::memcpy(blob->bytes, bytes.data(), bytes.size());
  }
  ReleasePayload();
  mKind = BindingKind::Blob;
  mPayload.blob = blob;
}

void BindingProperty::SetEnum(std::int32_t value, const BindingTypeDescriptor* descriptor) {
  BindingStore& store = EnsureStore();
  auto* enumeration =
      static_cast<detail::EnumPayload*>(store.Allocate(sizeof(detail::EnumPayload)));
  *enumeration = detail::EnumPayload{value, descriptor, &store};
  ReleasePayload();
  mKind = BindingKind::Enum;
  mPayload.enumeration = enumeration;
}

void BindingProperty::assign(const BindingProperty& other) {
  if (this == &other) {
    return;
  }
  if (mStore != nullptr && mStore == other.mStore &&
      (IsContainer(mKind) || IsContainer(other.mKind))) {
    // One may lie inside the other: `other` inside this value (releasing this
    // payload would destroy it) or this value inside `other` (copying would
    // feed on its own output). Build the copy beside the tree, in the same
    // store, then install it: one copy, as in the plain case.
    BindingProperty copy(mStore);
    copy.CopyFrom(other);
    ReleasePayload();
    mPayload = copy.mPayload;
    mKind = copy.mKind;
    copy.mPayload.bits = 0;
    copy.mKind = BindingKind::Empty;
    return;
  }
  CopyFrom(other);
}

void BindingProperty::CopyFrom(const BindingProperty& other) {
  switch (other.mKind) {
    case BindingKind::Empty:
      Reset();
      break;
    case BindingKind::Bool:
    case BindingKind::Signed:
    case BindingKind::Unsigned:
    case BindingKind::Float:
      ReleasePayload();
      mKind = other.mKind;
      mPayload.bits = other.mPayload.bits;
      break;
    case BindingKind::String: {
      // A copy keeps every byte of the string, NULs included.
      detail::InternedString* entry = EnsureStore().InternCopy(*other.mPayload.string);
      ReleasePayload();
      SetInterned(entry);
      break;
    }
    case BindingKind::Blob:
      SetBlob(other.BlobValue());
      break;
    case BindingKind::Enum:
      SetEnum(other.mPayload.enumeration->value, other.mPayload.enumeration->descriptor);
      break;
    case BindingKind::Collection: {
      Reset();
      const std::span<const BindingProperty> elements = other.Elements();
      reserve(elements.size());
      detail::CollectionPayload& collection = *mPayload.collection;
      for (const BindingProperty& element : elements) {
        // The destination is fresh and unrelated to `other`: no check needed.
        BindingProperty* copy = new (&collection.elements[collection.size]) BindingProperty(mStore);
        ++collection.size;
        copy->CopyFrom(element);
      }
      break;
    }
    case BindingKind::Structure: {
      Reset();
      MakeStructure();
      detail::MemberMap& members = mPayload.structure->members;
      for (const auto& [name, value] : other.mPayload.structure->members) {
        // Names arrive in order, so each insertion goes at the end.
        auto position = members.emplace_hint(members.end(), std::piecewise_construct,
                                             std::forward_as_tuple(mStore->InternCopy(*name)),
                                             std::forward_as_tuple());
        position->second.mStore = mStore;
        position->second.CopyFrom(value);
      }
      break;
    }
  }
}

}  // namespace Nalo
