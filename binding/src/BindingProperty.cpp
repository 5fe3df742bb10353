#include "binding/BindingProperty.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <tuple>
#include <utility>

#include "binding/Base64.h"
#include "binding/BindingLimits.h"
#include "binding/BindingStore.h"
#include "binding/BindingVisitor.h"
#include "binding/detail/TreeBuilding.h"

namespace Nalo {

namespace {

[[noreturn]] void FailCollectionTooLong() {
  // The same condition as the standard vector's length error; readers of
  // outside input check lengths before they reserve, so only a programming
  // error gets here.
  std::fputs("vector<T> too long\n", stderr);
  std::abort();
}

bool IsContainer(BindingKind kind) noexcept {
  return kind == BindingKind::Collection || kind == BindingKind::Structure;
}

std::string_view UpToFirstNul(std::string_view text) {
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul == nullptr ? text : text.substr(0, static_cast<const char*>(nul) - text.data());
}

// Truncation toward zero that never overflows: NaN gives 0 and values beyond
// the range saturate.
std::int64_t TruncateToSigned(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  if (value <= -9223372036854775808.0) {
    return std::numeric_limits<std::int64_t>::min();
  }
  if (value >= 9223372036854775808.0) {
    return std::numeric_limits<std::int64_t>::max();
  }
  return static_cast<std::int64_t>(value);
}

std::uint64_t TruncateToUnsigned(double value) {
  // Values of 2^63 and above go through the unsigned range; below, through
  // the signed one (so -1.5 gives the bits of -1).
  if (value >= 9223372036854775808.0) {
    return value >= 18446744073709551616.0 ? std::numeric_limits<std::uint64_t>::max()
                                           : static_cast<std::uint64_t>(value);
  }
  return static_cast<std::uint64_t>(TruncateToSigned(value));
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
  assign(other);
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
  blob->bytes = bytes.empty() ? nullptr : static_cast<std::uint8_t*>(store.Allocate(bytes.size()));
  if (!bytes.empty()) {
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

// --- Readers ----------------------------------------------------------------

std::size_t BindingProperty::size() const noexcept {
  switch (mKind) {
    case BindingKind::Empty:
      return 0;
    case BindingKind::String:
      return mPayload.string->length;
    case BindingKind::Blob:
      return mPayload.blob->size;
    case BindingKind::Collection:
      return mPayload.collection->size;
    case BindingKind::Structure:
      return mPayload.structure->members.size();
    default:
      return 1;
  }
}

std::int64_t BindingProperty::GetSigned(std::int64_t fallback) const noexcept {
  return mKind == BindingKind::Signed ? mPayload.signedValue : fallback;
}

std::uint64_t BindingProperty::GetUnsigned(std::uint64_t fallback) const noexcept {
  return mKind == BindingKind::Unsigned ? mPayload.unsignedValue : fallback;
}

double BindingProperty::GetFloat(double fallback) const noexcept {
  return mKind == BindingKind::Float ? mPayload.floatValue : fallback;
}

bool BindingProperty::AsBool() const noexcept {
  switch (mKind) {
    case BindingKind::Bool:
      return mPayload.boolean;
    case BindingKind::Signed:
    case BindingKind::Unsigned:
      return mPayload.bits != 0;
    case BindingKind::Float:
      return mPayload.floatValue != 0.0;  // NaN counts as true
    case BindingKind::String: {
      const std::string_view text = mPayload.string->View();
      return text == "true" || text == "1";
    }
    case BindingKind::Blob:
    case BindingKind::Collection:
    case BindingKind::Structure:
      return size() != 0;
    case BindingKind::Enum:
      return mPayload.enumeration->value != 0;
    default:
      return false;
  }
}

std::int64_t BindingProperty::AsSigned(std::int64_t fallback) const noexcept {
  switch (mKind) {
    case BindingKind::Bool:
      return mPayload.boolean ? 1 : 0;
    case BindingKind::Signed:
    case BindingKind::Unsigned:
      return static_cast<std::int64_t>(mPayload.bits);
    case BindingKind::Float:
      return TruncateToSigned(mPayload.floatValue);
    case BindingKind::String:
      // Automatic base: "0x" hexadecimal, a leading "0" octal, else decimal;
      // trailing text is ignored. Interned text is zero-terminated.
      return std::strtoll(mPayload.string->Bytes(), nullptr, 0);
    case BindingKind::Enum:
      return mPayload.enumeration->value;
    default:
      return fallback;
  }
}

std::uint64_t BindingProperty::AsUnsigned(std::uint64_t fallback) const noexcept {
  switch (mKind) {
    case BindingKind::Bool:
      return mPayload.boolean ? 1 : 0;
    case BindingKind::Signed:
    case BindingKind::Unsigned:
      return mPayload.bits;
    case BindingKind::Float:
      return TruncateToUnsigned(mPayload.floatValue);
    case BindingKind::String:
      return std::strtoull(mPayload.string->Bytes(), nullptr, 0);
    case BindingKind::Enum:
      return static_cast<std::uint64_t>(std::int64_t{mPayload.enumeration->value});
    default:
      return fallback;
  }
}

std::string BindingProperty::AsString() const {
  char buffer[512];
  switch (mKind) {
    case BindingKind::Bool:
      return mPayload.boolean ? "true" : "false";
    case BindingKind::Signed:
      std::snprintf(buffer, sizeof buffer, "%" PRId64, mPayload.signedValue);
      return buffer;
    case BindingKind::Unsigned:
      std::snprintf(buffer, sizeof buffer, "%" PRIu64, mPayload.unsignedValue);
      return buffer;
    case BindingKind::Float: {
      // "%f" of the largest doubles needs over 300 characters.
      const int length = std::snprintf(buffer, sizeof buffer, "%f", mPayload.floatValue);
      return std::string(
          buffer, static_cast<std::size_t>(length) < sizeof buffer ? length : sizeof buffer - 1);
    }
    case BindingKind::String:
      return std::string(mPayload.string->View());
    case BindingKind::Blob:
      return EncodeBase64(BlobValue());
    case BindingKind::Enum:
      std::snprintf(buffer, sizeof buffer, "%" PRId32, mPayload.enumeration->value);
      return buffer;
    default:
      return {};
  }
}

std::string_view BindingProperty::StringValue() const noexcept {
  return mKind == BindingKind::String ? mPayload.string->View() : std::string_view();
}

std::span<const std::uint8_t> BindingProperty::BlobValue() const noexcept {
  if (mKind != BindingKind::Blob) {
    return {};
  }
  return {mPayload.blob->bytes, mPayload.blob->size};
}

std::int32_t BindingProperty::EnumValue() const noexcept {
  return mKind == BindingKind::Enum ? mPayload.enumeration->value : 0;
}

const BindingTypeDescriptor* BindingProperty::EnumDescriptor() const noexcept {
  return mKind == BindingKind::Enum ? mPayload.enumeration->descriptor : nullptr;
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

bool operator==(const BindingProperty& left, const BindingProperty& right) noexcept {
  if (left.mKind != right.mKind) {
    return false;
  }
  switch (left.mKind) {
    case BindingKind::Empty:
      return true;
    case BindingKind::Bool:
      return left.mPayload.boolean == right.mPayload.boolean;
    case BindingKind::Signed:
    case BindingKind::Unsigned:
      return left.mPayload.bits == right.mPayload.bits;
    case BindingKind::Float:
      return left.mPayload.floatValue == right.mPayload.floatValue;
    case BindingKind::String:
      return left.mPayload.string->View() == right.mPayload.string->View();
    case BindingKind::Blob:
      // Identity, not contents: see the header.
      return left.mPayload.blob->bytes == right.mPayload.blob->bytes;
    case BindingKind::Enum:
      return left.mPayload.enumeration->descriptor == right.mPayload.enumeration->descriptor &&
             left.mPayload.enumeration->value == right.mPayload.enumeration->value;
    case BindingKind::Collection: {
      const auto leftElements = left.Elements();
      const auto rightElements = right.Elements();
      if (leftElements.size() != rightElements.size()) {
        return false;
      }
      for (std::size_t i = 0; i < leftElements.size(); ++i) {
        if (!(leftElements[i] == rightElements[i])) {
          return false;
        }
      }
      return true;
    }
    case BindingKind::Structure: {
      const detail::MemberMap& leftMembers = left.mPayload.structure->members;
      const detail::MemberMap& rightMembers = right.mPayload.structure->members;
      if (leftMembers.size() != rightMembers.size()) {
        return false;
      }
      for (auto l = leftMembers.begin(), r = rightMembers.begin(); l != leftMembers.end();
           ++l, ++r) {
        if (l->first->View() != r->first->View() || !(l->second == r->second)) {
          return false;
        }
      }
      return true;
    }
  }
  return false;
}

void BindingProperty::accept(BindingVisitor& visitor) const {
  switch (mKind) {
    case BindingKind::Empty:
      visitor.Null();
      break;
    case BindingKind::Bool:
      visitor.Bool(mPayload.boolean);
      break;
    case BindingKind::Signed:
      visitor.Int64(mPayload.signedValue);
      break;
    case BindingKind::Unsigned:
      visitor.Uint64(mPayload.unsignedValue);
      break;
    case BindingKind::Float:
      visitor.Double(mPayload.floatValue);
      break;
    case BindingKind::String:
      visitor.String(mPayload.string->View());
      break;
    case BindingKind::Blob:
      visitor.Blob(BlobValue());
      break;
    case BindingKind::Enum:
      visitor.Enum(mPayload.enumeration->value, mPayload.enumeration->descriptor);
      break;
    case BindingKind::Collection: {
      const auto elements = Elements();
      visitor.StartArray(elements.size());
      for (const BindingProperty& element : elements) {
        visitor.StartElement();
        element.accept(visitor);
        visitor.EndElement();
      }
      visitor.EndArray();
      break;
    }
    case BindingKind::Structure: {
      const detail::MemberMap& members = mPayload.structure->members;
      visitor.StartObject(members.size());
      for (const auto& [name, value] : members) {
        visitor.Key(name->View());
        value.accept(visitor);
        visitor.EndMember();
      }
      visitor.EndObject();
      break;
    }
  }
}

// --- Reader access -----------------------------------------------------------

namespace detail {

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

}  // namespace detail
}  // namespace Nalo
