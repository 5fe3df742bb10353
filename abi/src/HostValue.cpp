// Host value ownership and the conversions to and from BindingProperty.
//
// Plugin-built records live in one block per value (see BlockWriter); owned
// texts get one extra byte for a terminating NUL so that a C host may read
// them as C strings.

#include "abi/HostValue.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>

#include "binding/BindingLimits.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/PositionalFormat.h"
#include "binding/detail/TreeBuilding.h"

namespace Nalo {

namespace {

namespace Message {
constexpr std::string_view kIncompatibleKind =
    "Couldn't assign value to '%1' of type object because the input is of an incompatible type "
    "'%2'.";
constexpr std::string_view kNullPointer =
    "Couldn't assign value to '%1' because the input holds a null pointer with a length of %2.";
constexpr std::string_view kUnnamedMember =
    "Couldn't assign value to '%1' because a member of the input has no name.";
constexpr std::string_view kTooDeep =
    "Couldn't assign value to '%1' because the input nests deeper than %2 levels.";
}  // namespace Message

// A plugin-built value lives in one block: the root's element or member
// array (or its text or bytes) first, so that the root's pointer is the
// block's address, then every nested array in depth-first order, then every
// text, name and byte run. The first pass measures, the second writes: one
// allocation per value, and one release.
constexpr std::size_t kRecordAlignment = alignof(std::max_align_t);

constexpr std::size_t RoundUp(std::size_t size) {
  return (size + kRecordAlignment - 1) / kRecordAlignment * kRecordAlignment;
}

std::optional<std::string_view> EnumeratorName(const BindingProperty& value,
                                               const BindingTypeRegistry& registry) {
  const BindingTypeDescriptor* descriptor = value.EnumDescriptor();
  return descriptor != nullptr ? registry.enumeratorName(*descriptor, value.EnumValue())
                               : std::nullopt;
}

struct BlockSize {
  std::size_t records = 0;  // bytes of element and member arrays, each rounded up
  std::size_t texts = 0;    // bytes of texts (with their NUL), names and byte runs

  void Add(const BindingProperty& value, const BindingTypeRegistry& registry) {
    switch (value.Kind()) {
      case BindingKind::String:
        texts += value.StringValue().size() + 1;
        return;
      case BindingKind::Blob:
        texts += value.BlobValue().size();
        return;
      case BindingKind::Enum:
        if (const std::optional<std::string_view> name = EnumeratorName(value, registry)) {
          texts += name->size() + 1;
        }
        return;
      case BindingKind::Collection:
        records += RoundUp(value.Elements().size() * sizeof(NaloHostValue));
        for (const BindingProperty& element : value.Elements()) {
          Add(element, registry);
        }
        return;
      case BindingKind::Structure:
        records += RoundUp(value.size() * sizeof(NaloHostMember));
        for (const auto member : value.Members()) {
          texts += member.name.size() + 1;
          Add(member.value, registry);
        }
        return;
      default:
        return;
    }
  }
};

class BlockWriter {
 public:
  BlockWriter(std::byte* block, std::size_t recordBytes) : mBlock(block), mTextAt(recordBytes) {}

  template <class Record>
  Record* Records(std::size_t count) {
    auto* records = reinterpret_cast<Record*>(mBlock + mRecordAt);
    std::uninitialized_value_construct_n(records, count);
    mRecordAt += RoundUp(count * sizeof(Record));
    return records;
  }

  const char* Text(std::string_view text) {
    char* target = reinterpret_cast<char*>(mBlock + mTextAt);
    if (!text.empty()) {
      std::memcpy(target, text.data(), text.size());
    }
    target[text.size()] = '\0';
    mTextAt += text.size() + 1;
    return target;
  }

  const std::uint8_t* Bytes(std::span<const std::uint8_t> bytes) {
    auto* target = reinterpret_cast<std::uint8_t*>(mBlock + mTextAt);
    if (!bytes.empty()) {
      std::memcpy(target, bytes.data(), bytes.size());
    }
    mTextAt += bytes.size();
    return target;
  }

  void Fill(NaloHostValue& record, const BindingProperty& value,
            const BindingTypeRegistry& registry) {
    switch (value.Kind()) {
      case BindingKind::Empty:
        return;
      case BindingKind::Bool:
        record.payload.boolean = value.BoolValue() ? 1 : 0;
        record.kind = NALO_HOST_VALUE_BOOL;
        return;
      case BindingKind::Signed:
        record.payload.signedInteger = value.GetSigned(0);
        record.kind = NALO_HOST_VALUE_SIGNED;
        return;
      case BindingKind::Unsigned:
        record.payload.unsignedInteger = value.GetUnsigned(0);
        record.kind = NALO_HOST_VALUE_UNSIGNED;
        return;
      case BindingKind::Float:
        record.payload.floating = value.GetFloat(0);
        record.kind = NALO_HOST_VALUE_DOUBLE;
        return;
      case BindingKind::String: {
        const std::string_view text = value.StringValue();
        record.payload.text.data = Text(text);
        record.payload.text.length = text.size();
        record.kind = NALO_HOST_VALUE_OWNED_TEXT;
        return;
      }
      case BindingKind::Blob: {
        const std::span<const std::uint8_t> bytes = value.BlobValue();
        record.payload.bytes.data = Bytes(bytes);
        record.payload.bytes.length = bytes.size();
        record.kind = NALO_HOST_VALUE_OWNED_BYTES;
        return;
      }
      case BindingKind::Enum:
        if (const std::optional<std::string_view> name = EnumeratorName(value, registry)) {
          record.payload.text.data = Text(*name);
          record.payload.text.length = name->size();
          record.kind = NALO_HOST_VALUE_OWNED_TEXT;
        } else {
          record.payload.signedInteger = value.EnumValue();
          record.kind = NALO_HOST_VALUE_SIGNED;
        }
        return;
      case BindingKind::Collection: {
        const std::span<const BindingProperty> elements = value.Elements();
        NaloHostValue* targets = Records<NaloHostValue>(elements.size());
        record.payload.array.elements = targets;
        record.payload.array.count = elements.size();
        record.kind = NALO_HOST_VALUE_ARRAY;
        for (std::size_t i = 0; i < elements.size(); ++i) {
          Fill(targets[i], elements[i], registry);
        }
        return;
      }
      case BindingKind::Structure: {
        NaloHostMember* targets = Records<NaloHostMember>(value.size());
        record.payload.object.members = targets;
        record.payload.object.count = value.size();
        record.kind = NALO_HOST_VALUE_OBJECT;
        std::size_t i = 0;
        for (const auto member : value.Members()) {
          NaloHostMember& target = targets[i++];
          target.name = Text(member.name);
          target.ownsName = 1;
          Fill(target.value, member.value, registry);
        }
        return;
      }
    }
  }

 private:
  std::byte* mBlock;
  std::size_t mRecordAt = 0;
  std::size_t mTextAt;
};

// A block of at least one byte, so that an empty text or array still has
// an address of its own.
std::byte* AllocateBlock(std::size_t size) {
  const std::size_t units =
      (std::max<std::size_t>(size, 1) + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
  return reinterpret_cast<std::byte*>(new std::max_align_t[units]);
}

void FreeBlock(const void* block) noexcept {
  delete[] static_cast<std::max_align_t*>(const_cast<void*>(block));
}

bool NeedsBlock(const BindingProperty& value, const BindingTypeRegistry& registry) {
  switch (value.Kind()) {
    case BindingKind::String:
    case BindingKind::Blob:
    case BindingKind::Collection:
    case BindingKind::Structure:
      return true;
    case BindingKind::Enum:
      return EnumeratorName(value, registry).has_value();
    default:
      return false;
  }
}

class HostValueReader {
 public:
  explicit HostValueReader(std::string_view name) : mName(name) {}

  // Copies `record` into `target`; false with `mError` set on failure.
  // Recursion is bounded by kMaxNestingDepth.
  bool Read(const NaloHostValue& record, BindingProperty& target, std::size_t depth) {
    switch (record.kind) {
      case NALO_HOST_VALUE_NULL:
        return true;
      case NALO_HOST_VALUE_BOOL:
        target.SetBool(record.payload.boolean != 0);
        return true;
      case NALO_HOST_VALUE_SIGNED:
        target.SetSigned(record.payload.signedInteger);
        return true;
      case NALO_HOST_VALUE_UNSIGNED:
        target.SetUnsigned(record.payload.unsignedInteger);
        return true;
      case NALO_HOST_VALUE_DOUBLE:
        target.SetFloat(record.payload.floating);
        return true;
      case NALO_HOST_VALUE_TEXT:
      case NALO_HOST_VALUE_OWNED_TEXT: {
        const char* data = record.payload.text.data;
        const std::size_t length = record.payload.text.length;
        if (!CheckPointer(data, length)) {
          return false;
        }
        target.SetString(std::string_view(length == 0 ? "" : data, length));
        return true;
      }
      case NALO_HOST_VALUE_BYTES:
      case NALO_HOST_VALUE_OWNED_BYTES: {
        const std::uint8_t* data = record.payload.bytes.data;
        const std::size_t length = record.payload.bytes.length;
        if (!CheckPointer(data, length)) {
          return false;
        }
        target.SetBlob(std::span<const std::uint8_t>(data, length));
        return true;
      }
      case NALO_HOST_VALUE_ARRAY: {
        const NaloHostValue* elements = record.payload.array.elements;
        const std::size_t count = record.payload.array.count;
        if (!CheckPointer(elements, count) || !CheckDepth(depth) || !CheckCount(count)) {
          return false;
        }
        target.MakeCollection();
        target.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
          if (!Read(elements[i], detail::TreeBuilding::ElementAt(target, i), depth + 1)) {
            return false;
          }
        }
        return true;
      }
      case NALO_HOST_VALUE_OBJECT: {
        const NaloHostMember* members = record.payload.object.members;
        const std::size_t count = record.payload.object.count;
        if (!CheckPointer(members, count) || !CheckDepth(depth)) {
          return false;
        }
        target.MakeStructure();
        for (std::size_t i = 0; i < count; ++i) {
          const char* name = members[i].name;
          if (name == nullptr) {
            mError = FormatPositional(Message::kUnnamedMember, {mName});
            return false;
          }
          const NaloHostValue memberValue = members[i].value;
          // Names arrive in ascending order from a plugin's walk: each is
          // appended after one comparison (see TreeBuilding::Member).
          BindingProperty& member = detail::TreeBuilding::Member(
              target, detail::TreeBuilding::Store(target).Intern(std::string_view(name)));
          if (!Read(memberValue, member, depth + 1)) {
            return false;
          }
        }
        return true;
      }
      default:
        mError = FormatPositional(Message::kIncompatibleKind, {mName, ""});
        return false;
    }
  }

  [[nodiscard]] const std::string& Error() const noexcept { return mError; }

 private:
  bool CheckPointer(const void* data, std::size_t length) {
    if (data == nullptr && length != 0) {
      mError = FormatPositional(Message::kNullPointer, {mName, length});
      return false;
    }
    return true;
  }
  bool CheckDepth(std::size_t depth) {
    if (depth >= kMaxNestingDepth) {
      mError = FormatPositional(Message::kTooDeep, {mName, kMaxNestingDepth});
      return false;
    }
    return true;
  }
  bool CheckCount(std::size_t count) {
    if (count > kMaxCollectionSize) {
      mError = FormatPositional(Message::kIncompatibleKind, {mName, ""});
      return false;
    }
    return true;
  }

  std::string_view mName;
  std::string mError;
};

}  // namespace

HostValue::~HostValue() {
  ReleaseHostValue(mRecord);
}

HostValue& HostValue::operator=(HostValue&& other) noexcept {
  if (this != &other) {
    ReleaseHostValue(mRecord);
    mRecord = other.Release();
  }
  return *this;
}

NaloHostValue HostValue::Release() noexcept {
  const NaloHostValue record = mRecord;
  mRecord = NaloHostValue{};
  return record;
}

void ReleaseHostValue(NaloHostValue& record) noexcept {
  // Everything the record owns lives in the block its own pointer starts.
  switch (record.kind) {
    case NALO_HOST_VALUE_OWNED_TEXT:
      FreeBlock(record.payload.text.data);
      break;
    case NALO_HOST_VALUE_OWNED_BYTES:
      FreeBlock(record.payload.bytes.data);
      break;
    case NALO_HOST_VALUE_ARRAY:
      FreeBlock(record.payload.array.elements);
      break;
    case NALO_HOST_VALUE_OBJECT:
      FreeBlock(record.payload.object.members);
      break;
    default:
      break;
  }
  record = NaloHostValue{};
}

HostValue ToHostValue(const BindingProperty& value, const BindingTypeRegistry& registry) {
  NaloHostValue record{};
  if (!NeedsBlock(value, registry)) {
    BlockWriter(nullptr, 0).Fill(record, value, registry);
    return HostValue(record);
  }
  BlockSize size;
  size.Add(value, registry);
  BlockWriter(AllocateBlock(size.records + size.texts), size.records).Fill(record, value, registry);
  return HostValue(record);
}

HostValue ToHostObject(std::span<const HostMemberSource> members,
                       const BindingTypeRegistry& registry) {
  BlockSize size;
  size.records += RoundUp(members.size() * sizeof(NaloHostMember));
  for (const HostMemberSource& member : members) {
    size.texts += member.name.size() + 1;
    size.Add(*member.value, registry);
  }
  BlockWriter writer(AllocateBlock(size.records + size.texts), size.records);
  NaloHostValue record{};
  NaloHostMember* targets = writer.Records<NaloHostMember>(members.size());
  record.payload.object.members = targets;
  record.payload.object.count = members.size();
  record.kind = NALO_HOST_VALUE_OBJECT;
  for (std::size_t i = 0; i < members.size(); ++i) {
    targets[i].name = writer.Text(members[i].name);
    targets[i].ownsName = 1;
    writer.Fill(targets[i].value, *members[i].value, registry);
  }
  return HostValue(record);
}

// --- HostValueBuilder ------------------------------------------------------------------
// While the walk runs, every pointer in the block's records holds an offset
// from the block's start, since the block may still move when it grows;
// Take() turns the offsets into addresses once the block is final.

namespace {

template <class Pointer>
Pointer OffsetPointer(std::size_t offset) noexcept {
  return reinterpret_cast<Pointer>(static_cast<std::uintptr_t>(offset));
}

template <class Pointer>
Pointer Rebase(std::byte* block, Pointer offset) noexcept {
  return reinterpret_cast<Pointer>(block + reinterpret_cast<std::uintptr_t>(offset));
}

void RebaseRecord(std::byte* block, NaloHostValue& record) noexcept {
  switch (record.kind) {
    case NALO_HOST_VALUE_OWNED_TEXT:
      record.payload.text.data = Rebase(block, record.payload.text.data);
      return;
    case NALO_HOST_VALUE_OWNED_BYTES:
      record.payload.bytes.data = Rebase(block, record.payload.bytes.data);
      return;
    case NALO_HOST_VALUE_ARRAY: {
      NaloHostValue* elements = Rebase(block, record.payload.array.elements);
      record.payload.array.elements = elements;
      for (std::size_t i = 0; i < record.payload.array.count; ++i) {
        RebaseRecord(block, elements[i]);
      }
      return;
    }
    case NALO_HOST_VALUE_OBJECT: {
      NaloHostMember* members = Rebase(block, record.payload.object.members);
      record.payload.object.members = members;
      for (std::size_t i = 0; i < record.payload.object.count; ++i) {
        members[i].name = Rebase(block, members[i].name);
        RebaseRecord(block, members[i].value);
      }
      return;
    }
    default:
      return;
  }
}

}  // namespace

HostValueBuilder::HostValueBuilder(const BindingTypeRegistry& registry, std::size_t capacityHint)
    : mRegistry(registry) {
  if (capacityHint > 0) {
    mCapacity = RoundUp(capacityHint);
    mBlock = AllocateBlock(mCapacity);
  }
}

HostValueBuilder::~HostValueBuilder() {
  if (mBlock != nullptr) {
    FreeBlock(mBlock);
  }
}

void HostValueBuilder::Grow(std::size_t needed) {
  const std::size_t capacity = RoundUp(std::max({mCapacity * 2, needed, std::size_t{256}}));
  std::byte* block = AllocateBlock(capacity);
  if (mBlock != nullptr) {
    std::memcpy(block, mBlock, mUsed);
    FreeBlock(mBlock);
  }
  mBlock = block;
  mCapacity = capacity;
}

std::size_t HostValueBuilder::Allocate(std::size_t size, bool isRecord) {
  const std::size_t offset = isRecord ? RoundUp(mUsed) : mUsed;
  if (offset + size > mCapacity || mBlock == nullptr) {
    Grow(offset + size);
  }
  mUsed = offset + size;
  return offset;
}

std::size_t HostValueBuilder::CopyBytes(const void* bytes, std::size_t size, bool isText) {
  const std::size_t offset = Allocate(size + (isText ? 1 : 0), false);
  std::byte* target = mBlock + offset;
  if (size != 0) {
    std::memcpy(target, bytes, size);
  }
  if (isText) {
    target[size] = std::byte{0};
  }
  return offset;
}

NaloHostValue& HostValueBuilder::Slot() noexcept {
  if (mDepth == 0) {
    return mRoot;
  }
  const Frame& frame = TopFrame();
  if (frame.isObject) {
    return reinterpret_cast<NaloHostMember*>(mBlock + frame.records)[frame.next].value;
  }
  return reinterpret_cast<NaloHostValue*>(mBlock + frame.records)[frame.next];
}

void HostValueBuilder::Bool(bool value) {
  NaloHostValue& slot = Slot();
  slot.payload.boolean = value ? 1 : 0;
  slot.kind = NALO_HOST_VALUE_BOOL;
  Advance();
}

void HostValueBuilder::Int64(std::int64_t value) {
  NaloHostValue& slot = Slot();
  slot.payload.signedInteger = value;
  slot.kind = NALO_HOST_VALUE_SIGNED;
  Advance();
}

void HostValueBuilder::Uint64(std::uint64_t value) {
  NaloHostValue& slot = Slot();
  slot.payload.unsignedInteger = value;
  slot.kind = NALO_HOST_VALUE_UNSIGNED;
  Advance();
}

void HostValueBuilder::Double(double value) {
  NaloHostValue& slot = Slot();
  slot.payload.floating = value;
  slot.kind = NALO_HOST_VALUE_DOUBLE;
  Advance();
}

void HostValueBuilder::String(std::string_view bytes) {
  const std::size_t offset = CopyBytes(bytes.data(), bytes.size(), true);
  NaloHostValue& slot = Slot();
  slot.payload.text.data = OffsetPointer<const char*>(offset);
  slot.payload.text.length = bytes.size();
  slot.kind = NALO_HOST_VALUE_OWNED_TEXT;
  Advance();
}

void HostValueBuilder::Blob(std::span<const std::uint8_t> bytes) {
  const std::size_t offset = CopyBytes(bytes.data(), bytes.size(), false);
  NaloHostValue& slot = Slot();
  slot.payload.bytes.data = OffsetPointer<const std::uint8_t*>(offset);
  slot.payload.bytes.length = bytes.size();
  slot.kind = NALO_HOST_VALUE_OWNED_BYTES;
  Advance();
}

void HostValueBuilder::Enum(std::int32_t value, const BindingTypeDescriptor* descriptor) {
  const std::optional<std::string_view> name =
      descriptor != nullptr ? mRegistry.enumeratorName(*descriptor, value) : std::nullopt;
  if (name.has_value()) {
    String(*name);
  } else {
    Int64(value);
  }
}

void HostValueBuilder::Open(std::size_t records, bool isObject) {
  const Frame frame{records, 0, isObject};
  if (mDepth < kInlineFrames) {
    mFrames[mDepth] = frame;
  } else {
    mMoreFrames.push_back(frame);
  }
  ++mDepth;
}

void HostValueBuilder::Close() noexcept {
  if (mDepth > kInlineFrames) {
    mMoreFrames.pop_back();
  }
  --mDepth;
  Advance();
}

void HostValueBuilder::StartArray(std::size_t count) {
  const std::size_t bytes = count * sizeof(NaloHostValue);
  const std::size_t offset = Allocate(RoundUp(bytes), true);
  std::memset(mBlock + offset, 0, bytes);
  NaloHostValue& slot = Slot();
  slot.payload.array.elements = OffsetPointer<NaloHostValue*>(offset);
  slot.payload.array.count = count;
  slot.kind = NALO_HOST_VALUE_ARRAY;
  Open(offset, false);
}

void HostValueBuilder::StartObject(std::size_t count) {
  const std::size_t bytes = count * sizeof(NaloHostMember);
  const std::size_t offset = Allocate(RoundUp(bytes), true);
  std::memset(mBlock + offset, 0, bytes);
  NaloHostValue& slot = Slot();
  slot.payload.object.members = OffsetPointer<NaloHostMember*>(offset);
  slot.payload.object.count = count;
  slot.kind = NALO_HOST_VALUE_OBJECT;
  Open(offset, true);
}

void HostValueBuilder::Key(std::string_view name) {
  // Names come from a structure walk: they hold no NUL.
  const std::size_t offset = CopyBytes(name.data(), name.size(), true);
  const Frame& frame = TopFrame();
  NaloHostMember& member = reinterpret_cast<NaloHostMember*>(mBlock + frame.records)[frame.next];
  member.name = OffsetPointer<const char*>(offset);
  member.ownsName = 1;
}

HostValue HostValueBuilder::Take() {
  NaloHostValue record = mRoot;
  mRoot = NaloHostValue{};
  switch (record.kind) {
    case NALO_HOST_VALUE_OWNED_TEXT:
    case NALO_HOST_VALUE_OWNED_BYTES:
    case NALO_HOST_VALUE_ARRAY:
    case NALO_HOST_VALUE_OBJECT:
      // The root's own pointer is offset 0, the block's start.
      RebaseRecord(mBlock, record);
      mBlock = nullptr;
      break;
    default:
      break;
  }
  mUsed = 0;
  mCapacity = mBlock != nullptr ? mCapacity : 0;
  return HostValue(record);
}

BindingResult FromHostValue(const NaloHostValue& value, std::string_view name) {
  BindingResult result;
  HostValueReader reader(name);
  if (!reader.Read(value, result.Value(), 0)) {
    result.Fail(reader.Error());
  }
  return result;
}

}  // namespace Nalo
