// Copies of the records plugins send (RecordCopy.h): measured, copied into
// one block, compared with the record sent next.

#include "host/core/src/RecordCopy.h"

#include <bit>
#include <cstring>
#include <new>

#include "binding/BindingLimits.h"

namespace Nalo::Host::detail {

namespace {

bool PointerFits(const void* data, std::size_t length) noexcept {
  return data != nullptr || length == 0;
}

}  // namespace

bool SamePlace(const NaloHostValue& left, const NaloHostValue& right) {
  if (left.kind != right.kind) {
    return false;
  }
  switch (left.kind) {
    case NALO_HOST_VALUE_TEXT:
    case NALO_HOST_VALUE_OWNED_TEXT:
      return left.payload.text.data == right.payload.text.data &&
             left.payload.text.length == right.payload.text.length;
    case NALO_HOST_VALUE_BYTES:
    case NALO_HOST_VALUE_OWNED_BYTES:
      return left.payload.bytes.data == right.payload.bytes.data &&
             left.payload.bytes.length == right.payload.bytes.length;
    case NALO_HOST_VALUE_ARRAY:
      return left.payload.array.elements == right.payload.array.elements &&
             left.payload.array.count == right.payload.array.count;
    case NALO_HOST_VALUE_OBJECT:
      return left.payload.object.members == right.payload.object.members &&
             left.payload.object.count == right.payload.object.count;
    default:
      return true;  // a scalar: SameRecord compares it
  }
}

bool RecordSize::Measure(const NaloHostValue& record, std::size_t depth) {
  const auto& payload = record.payload;
  switch (record.kind) {
    case NALO_HOST_VALUE_NULL:
    case NALO_HOST_VALUE_BOOL:
    case NALO_HOST_VALUE_SIGNED:
    case NALO_HOST_VALUE_UNSIGNED:
    case NALO_HOST_VALUE_DOUBLE:
      return true;
    case NALO_HOST_VALUE_TEXT:
    case NALO_HOST_VALUE_OWNED_TEXT:
      bytes += payload.text.length;
      return PointerFits(payload.text.data, payload.text.length);
    case NALO_HOST_VALUE_BYTES:
    case NALO_HOST_VALUE_OWNED_BYTES:
      bytes += payload.bytes.length;
      return PointerFits(payload.bytes.data, payload.bytes.length);
    case NALO_HOST_VALUE_ARRAY: {
      const std::size_t count = payload.array.count;
      if (!PointerFits(payload.array.elements, count) || depth >= kMaxNestingDepth ||
          count > kMaxCollectionSize) {
        return false;
      }
      records += count * sizeof(NaloHostValue);
      for (std::size_t i = 0; i < count; ++i) {
        if (!Measure(payload.array.elements[i], depth + 1)) {
          return false;
        }
      }
      return true;
    }
    case NALO_HOST_VALUE_OBJECT: {
      const std::size_t count = payload.object.count;
      if (!PointerFits(payload.object.members, count) || depth >= kMaxNestingDepth ||
          count > kMaxCollectionSize) {
        return false;
      }
      records += count * sizeof(NaloHostMember);
      for (std::size_t i = 0; i < count; ++i) {
        const NaloHostMember& member = payload.object.members[i];
        if (member.name == nullptr) {
          return false;
        }
        bytes += std::strlen(member.name) + 1;
        if (!Measure(member.value, depth + 1)) {
          return false;
        }
      }
      return true;
    }
    default:
      return false;
  }
}

bool RecordCopier::Copy(const NaloHostValue& from, NaloHostValue& to, std::size_t depth) {
  to.kind = from.kind;
  const auto& payload = from.payload;
  switch (from.kind) {
    case NALO_HOST_VALUE_NULL:
    case NALO_HOST_VALUE_BOOL:
    case NALO_HOST_VALUE_SIGNED:
    case NALO_HOST_VALUE_UNSIGNED:
    case NALO_HOST_VALUE_DOUBLE:
      to.payload = payload;
      return true;
    case NALO_HOST_VALUE_TEXT:
    case NALO_HOST_VALUE_OWNED_TEXT: {
      const void* copied = nullptr;
      if (!PointerFits(payload.text.data, payload.text.length) ||
          !CopyBytes(payload.text.data, payload.text.length, copied)) {
        return false;
      }
      to.payload.text.data = static_cast<const char*>(copied);
      to.payload.text.length = payload.text.length;
      return true;
    }
    case NALO_HOST_VALUE_BYTES:
    case NALO_HOST_VALUE_OWNED_BYTES: {
      const void* copied = nullptr;
      if (!PointerFits(payload.bytes.data, payload.bytes.length) ||
          !CopyBytes(payload.bytes.data, payload.bytes.length, copied)) {
        return false;
      }
      to.payload.bytes.data = static_cast<const std::uint8_t*>(copied);
      to.payload.bytes.length = payload.bytes.length;
      return true;
    }
    case NALO_HOST_VALUE_ARRAY: {
      const std::size_t count = payload.array.count;
      if (!PointerFits(payload.array.elements, count) || depth >= kMaxNestingDepth ||
          count > kMaxCollectionSize ||
          count > static_cast<std::size_t>(recordsEnd - records) / sizeof(NaloHostValue)) {
        return false;
      }
      auto* elements = count == 0 ? nullptr : new (records) NaloHostValue[count]{};
      records += count * sizeof(NaloHostValue);
      to.payload.array.elements = elements;
      to.payload.array.count = count;
      for (std::size_t i = 0; i < count; ++i) {
        if (!Copy(payload.array.elements[i], elements[i], depth + 1)) {
          return false;
        }
      }
      return true;
    }
    case NALO_HOST_VALUE_OBJECT: {
      const std::size_t count = payload.object.count;
      if (!PointerFits(payload.object.members, count) || depth >= kMaxNestingDepth ||
          count > kMaxCollectionSize ||
          count > static_cast<std::size_t>(recordsEnd - records) / sizeof(NaloHostMember)) {
        return false;
      }
      auto* members = count == 0 ? nullptr : new (records) NaloHostMember[count]{};
      records += count * sizeof(NaloHostMember);
      to.payload.object.members = members;
      to.payload.object.count = count;
      for (std::size_t i = 0; i < count; ++i) {
        const NaloHostMember& source = payload.object.members[i];
        const void* name = nullptr;
        if (source.name == nullptr || !CopyBytes(source.name, std::strlen(source.name) + 1, name)) {
          return false;
        }
        members[i].name = static_cast<const char*>(name);
        members[i].ownsName = 0;
        if (!Copy(source.value, members[i].value, depth + 1)) {
          return false;
        }
      }
      return true;
    }
    default:
      return false;
  }
}

bool RecordCopier::CopyBytes(const void* data, std::size_t length, const void*& copied) {
  if (length == 0) {
    copied = nullptr;
    return true;
  }
  if (length > static_cast<std::size_t>(bytesEnd - bytes)) {
    return false;
  }
  std::memcpy(bytes, data, length);
  copied = bytes;
  bytes += length;
  return true;
}

bool SameRecord(const NaloHostValue& sent, const NaloHostValue& kept, std::size_t depth) {
  if (sent.kind != kept.kind) {
    return false;
  }
  const auto& payload = sent.payload;
  const auto& other = kept.payload;
  switch (sent.kind) {
    case NALO_HOST_VALUE_NULL:
      return true;
    case NALO_HOST_VALUE_BOOL:
      return (payload.boolean != 0) == (other.boolean != 0);
    case NALO_HOST_VALUE_SIGNED:
      return payload.signedInteger == other.signedInteger;
    case NALO_HOST_VALUE_UNSIGNED:
      return payload.unsignedInteger == other.unsignedInteger;
    case NALO_HOST_VALUE_DOUBLE:
      return std::bit_cast<std::uint64_t>(payload.floating) ==
             std::bit_cast<std::uint64_t>(other.floating);
    case NALO_HOST_VALUE_TEXT:
    case NALO_HOST_VALUE_OWNED_TEXT:
      return payload.text.length == other.text.length &&
             PointerFits(payload.text.data, payload.text.length) &&
             (payload.text.length == 0 ||
              std::memcmp(payload.text.data, other.text.data, payload.text.length) == 0);
    case NALO_HOST_VALUE_BYTES:
    case NALO_HOST_VALUE_OWNED_BYTES:
      return payload.bytes.length == other.bytes.length &&
             PointerFits(payload.bytes.data, payload.bytes.length) &&
             (payload.bytes.length == 0 ||
              std::memcmp(payload.bytes.data, other.bytes.data, payload.bytes.length) == 0);
    case NALO_HOST_VALUE_ARRAY: {
      const std::size_t count = payload.array.count;
      if (count != other.array.count || !PointerFits(payload.array.elements, count) ||
          depth >= kMaxNestingDepth) {
        return false;
      }
      for (std::size_t i = 0; i < count; ++i) {
        if (!SameRecord(payload.array.elements[i], other.array.elements[i], depth + 1)) {
          return false;
        }
      }
      return true;
    }
    case NALO_HOST_VALUE_OBJECT: {
      const std::size_t count = payload.object.count;
      if (count != other.object.count || !PointerFits(payload.object.members, count) ||
          depth >= kMaxNestingDepth) {
        return false;
      }
      for (std::size_t i = 0; i < count; ++i) {
        const NaloHostMember& member = payload.object.members[i];
        const NaloHostMember& keptMember = other.object.members[i];
        if (member.name == nullptr || std::strcmp(member.name, keptMember.name) != 0 ||
            !SameRecord(member.value, keptMember.value, depth + 1)) {
          return false;
        }
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace Nalo::Host::detail
