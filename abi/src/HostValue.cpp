// Host value ownership, and the conversion of a BindingProperty tree into a
// host value (ToHostValue, ToHostObject).
//
// A tree is measured first (BlockSize), then written (BlockWriter): one
// allocation per value, laid out as HostValueBlock.h says. Owned texts get
// one extra byte for a terminating NUL so that a C host may read them as C
// strings.

#include "abi/HostValue.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>

#include "abi/src/HostValueBlock.h"
#include "binding/BindingTypeRegistry.h"

namespace Nalo {

namespace {

using detail::RoundUpToRecord;

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
        records += RoundUpToRecord(value.Elements().size() * sizeof(NaloHostValue));
        for (const BindingProperty& element : value.Elements()) {
          Add(element, registry);
        }
        return;
      case BindingKind::Structure:
        records += RoundUpToRecord(value.size() * sizeof(NaloHostMember));
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
    mRecordAt += RoundUpToRecord(count * sizeof(Record));
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
      detail::FreeBlock(record.payload.text.data);
      break;
    case NALO_HOST_VALUE_OWNED_BYTES:
      detail::FreeBlock(record.payload.bytes.data);
      break;
    case NALO_HOST_VALUE_ARRAY:
      detail::FreeBlock(record.payload.array.elements);
      break;
    case NALO_HOST_VALUE_OBJECT:
      detail::FreeBlock(record.payload.object.members);
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
  BlockWriter(detail::AllocateBlock(size.records + size.texts), size.records)
      .Fill(record, value, registry);
  return HostValue(record);
}

HostValue ToHostObject(std::span<const HostMemberSource> members,
                       const BindingTypeRegistry& registry) {
  BlockSize size;
  size.records += RoundUpToRecord(members.size() * sizeof(NaloHostMember));
  for (const HostMemberSource& member : members) {
    size.texts += member.name.size() + 1;
    size.Add(*member.value, registry);
  }
  BlockWriter writer(detail::AllocateBlock(size.records + size.texts), size.records);
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

}  // namespace Nalo
