// HostValueBuilder: a host value written straight from one walk, into one
// block laid out as HostValueBlock.h says.
//
// Records hold final addresses from the start. When the block has to grow,
// Grow copies it and moves every address written so far by the distance
// between the two blocks; the arrays of open frames were zeroed when they
// were opened, so a record not yet filled is null and a member not yet named
// has no name, and both are left alone.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "abi/HostValue.h"
#include "abi/src/HostValueBlock.h"
#include "binding/BindingTypeRegistry.h"

namespace Nalo {

namespace {

// Moves an address that points into the block at `from` to the same place in
// the block at `to`.
template <class Pointer>
Pointer Moved(Pointer address, const std::byte* from, std::byte* to) noexcept {
  const auto* at = reinterpret_cast<const std::byte*>(address);
  return reinterpret_cast<Pointer>(to + (at - from));
}

// Moves every address `record` holds (it already lies in the block at `to`).
void MoveRecord(NaloHostValue& record, const std::byte* from, std::byte* to) noexcept {
  switch (record.kind) {
    case NALO_HOST_VALUE_OWNED_TEXT:
      record.payload.text.data = Moved(record.payload.text.data, from, to);
      return;
    case NALO_HOST_VALUE_OWNED_BYTES:
      record.payload.bytes.data = Moved(record.payload.bytes.data, from, to);
      return;
    case NALO_HOST_VALUE_ARRAY: {
      NaloHostValue* elements = Moved(record.payload.array.elements, from, to);
      record.payload.array.elements = elements;
      for (std::size_t i = 0; i < record.payload.array.count; ++i) {
        MoveRecord(elements[i], from, to);
      }
      return;
    }
    case NALO_HOST_VALUE_OBJECT: {
      NaloHostMember* members = Moved(record.payload.object.members, from, to);
      record.payload.object.members = members;
      for (std::size_t i = 0; i < record.payload.object.count; ++i) {
        if (members[i].name != nullptr) {
          members[i].name = Moved(members[i].name, from, to);
        }
        MoveRecord(members[i].value, from, to);
      }
      return;
    }
    default:
      return;
  }
}

// Copies `size` bytes, sizeof(Word) to 2 * sizeof(Word) of them, by two
// moves that overlap in the middle.
template <class Word>
void CopyOverlapping(std::byte* target, const std::byte* from, std::size_t size) noexcept {
  Word head = 0;
  Word tail = 0;
  std::memcpy(&head, from, sizeof head);
  std::memcpy(&tail, from + size - sizeof tail, sizeof tail);
  std::memcpy(target, &head, sizeof head);
  std::memcpy(target + size - sizeof tail, &tail, sizeof tail);
}

// Copies `size` bytes. Member names and most texts of a publication are
// short; from 4 to 16 bytes are copied without a call.
void CopyShort(std::byte* target, const void* source, std::size_t size) noexcept {
  const auto* from = static_cast<const std::byte*>(source);
  if (size >= sizeof(std::uint64_t) && size <= 2 * sizeof(std::uint64_t)) {
    CopyOverlapping<std::uint64_t>(target, from, size);
  } else if (size >= sizeof(std::uint32_t) && size < sizeof(std::uint64_t)) {
    CopyOverlapping<std::uint32_t>(target, from, size);
  } else if (size != 0) {
    std::memcpy(target, from, size);
  }
}

}  // namespace

HostValueBuilder::HostValueBuilder(const BindingTypeRegistry& registry, std::size_t capacityHint)
    : mRegistry(registry) {
  if (capacityHint > 0) {
    mCapacity = detail::RoundUpToRecord(capacityHint);
    mBlock = detail::AllocateBlock(mCapacity);
  }
}

HostValueBuilder::~HostValueBuilder() {
  if (mBlock != nullptr) {
    detail::FreeBlock(mBlock);
  }
}

void HostValueBuilder::Grow(std::size_t needed) {
  const std::size_t capacity =
      detail::RoundUpToRecord(std::max({mCapacity * 2, needed, std::size_t{256}}));
  std::byte* block = detail::AllocateBlock(capacity);
  if (mBlock != nullptr) {
    std::memcpy(block, mBlock, mUsed);
    MoveRecord(mRoot, mBlock, block);
    detail::FreeBlock(mBlock);
  }
  mBlock = block;
  mCapacity = capacity;
}

// Inline: only this file calls them, once per name, text or container.
inline std::size_t HostValueBuilder::Allocate(std::size_t size, bool isRecord) {
  const std::size_t offset = isRecord ? detail::RoundUpToRecord(mUsed) : mUsed;
  if (offset + size > mCapacity || mBlock == nullptr) [[unlikely]] {
    Grow(offset + size);
  }
  mUsed = offset + size;
  return offset;
}

inline const std::byte* HostValueBuilder::CopyBytes(const void* bytes, std::size_t size,
                                                    bool isText) {
  const std::size_t offset = Allocate(size + (isText ? 1 : 0), false);  // may move mBlock
  std::byte* target = mBlock + offset;
  CopyShort(target, bytes, size);
  if (isText) {
    target[size] = std::byte{0};
  }
  return target;
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
  const std::byte* copied = CopyBytes(bytes.data(), bytes.size(), true);
  NaloHostValue& slot = Slot();
  slot.payload.text.data = reinterpret_cast<const char*>(copied);
  slot.payload.text.length = bytes.size();
  slot.kind = NALO_HOST_VALUE_OWNED_TEXT;
  Advance();
}

void HostValueBuilder::Blob(std::span<const std::uint8_t> bytes) {
  const std::byte* copied = CopyBytes(bytes.data(), bytes.size(), false);
  NaloHostValue& slot = Slot();
  slot.payload.bytes.data = reinterpret_cast<const std::uint8_t*>(copied);
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

void HostValueBuilder::Open(std::size_t count, Container container) {
  const bool isObject = container == Container::Object;
  const std::size_t bytes = count * (isObject ? sizeof(NaloHostMember) : sizeof(NaloHostValue));
  const std::size_t offset = Allocate(detail::RoundUpToRecord(bytes), true);
  std::byte* records = mBlock + offset;
  std::memset(records, 0, bytes);
  NaloHostValue& slot = Slot();
  if (isObject) {
    slot.payload.object.members = reinterpret_cast<NaloHostMember*>(records);
    slot.payload.object.count = count;
    slot.kind = NALO_HOST_VALUE_OBJECT;
  } else {
    slot.payload.array.elements = reinterpret_cast<NaloHostValue*>(records);
    slot.payload.array.count = count;
    slot.kind = NALO_HOST_VALUE_ARRAY;
  }
  const Frame frame{offset, 0, container};
  if (mDepth < kInlineFrames) {
    mFrames[mDepth] = frame;
    mTop = &mFrames[mDepth];
  } else {
    mMoreFrames.push_back(frame);
    mTop = &mMoreFrames.back();
  }
  ++mDepth;
}

void HostValueBuilder::Close() noexcept {
  if (mDepth > kInlineFrames) {
    mMoreFrames.pop_back();
  }
  --mDepth;
  if (mDepth == 0) {
    mTop = nullptr;
  } else {
    mTop =
        mDepth <= kInlineFrames ? &mFrames[mDepth - 1] : &mMoreFrames[mDepth - 1 - kInlineFrames];
  }
  Advance();
}

void HostValueBuilder::Key(std::string_view name) {
  // Names come from a structure walk: they hold no NUL.
  const std::byte* copied = CopyBytes(name.data(), name.size(), true);
  NaloHostMember& member = reinterpret_cast<NaloHostMember*>(mBlock + mTop->records)[mTop->next];
  member.name = reinterpret_cast<const char*>(copied);
  member.ownsName = 1;
}

HostValue HostValueBuilder::Take() {
  const NaloHostValue record = mRoot;
  mRoot = NaloHostValue{};
  switch (record.kind) {
    case NALO_HOST_VALUE_OWNED_TEXT:
    case NALO_HOST_VALUE_OWNED_BYTES:
    case NALO_HOST_VALUE_ARRAY:
    case NALO_HOST_VALUE_OBJECT:
      // The root's own pointer is the block's start: the value owns it now.
      mBlock = nullptr;
      mCapacity = 0;
      break;
    default:
      break;
  }
  mUsed = 0;
  return HostValue(record);
}

}  // namespace Nalo
