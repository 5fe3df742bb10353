// Host value ownership and the conversions to and from BindingProperty.
//
// Plugin-built records are allocated with new[] in blocks of the record
// types; owned texts get one extra byte for a terminating NUL so that a C
// host may read them as C strings.

#include "abi/HostValue.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "binding/BindingLimits.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/PositionalFormat.h"

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

// Copies `bytes` into a new NUL-terminated block.
char* CopyText(std::string_view bytes) {
  char* block = new char[bytes.size() + 1];
  if (!bytes.empty()) {
    std::memcpy(block, bytes.data(), bytes.size());
  }
  block[bytes.size()] = '\0';
  return block;
}

// Fills `record`, which is null, from `value`. On an exception the record
// holds what was built so far, consistently, for its owner to release.
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
      record.payload.text.data = CopyText(text);
      record.payload.text.length = text.size();
      record.kind = NALO_HOST_VALUE_OWNED_TEXT;
      return;
    }
    case BindingKind::Blob: {
      const std::span<const std::uint8_t> bytes = value.BlobValue();
      auto* block = new std::uint8_t[bytes.empty() ? 1 : bytes.size()];
      if (!bytes.empty()) {
        std::memcpy(block, bytes.data(), bytes.size());
      }
      record.payload.bytes.data = block;
      record.payload.bytes.length = bytes.size();
      record.kind = NALO_HOST_VALUE_OWNED_BYTES;
      return;
    }
    case BindingKind::Enum: {
      const BindingTypeDescriptor* descriptor = value.EnumDescriptor();
      const std::optional<std::string_view> name =
          descriptor != nullptr ? registry.enumeratorName(*descriptor, value.EnumValue())
                                : std::nullopt;
      if (name.has_value()) {
        record.payload.text.data = CopyText(*name);
        record.payload.text.length = name->size();
        record.kind = NALO_HOST_VALUE_OWNED_TEXT;
      } else {
        record.payload.signedInteger = value.EnumValue();
        record.kind = NALO_HOST_VALUE_SIGNED;
      }
      return;
    }
    case BindingKind::Collection: {
      const std::span<const BindingProperty> elements = value.Elements();
      // Value-initialised: every element starts null, so a partial array
      // releases cleanly.
      record.payload.array.elements = new NaloHostValue[elements.size()]();
      record.payload.array.count = elements.size();
      record.kind = NALO_HOST_VALUE_ARRAY;
      for (std::size_t i = 0; i < elements.size(); ++i) {
        Fill(record.payload.array.elements[i], elements[i], registry);
      }
      return;
    }
    case BindingKind::Structure: {
      record.payload.object.members = new NaloHostMember[value.size()]();
      record.payload.object.count = value.size();
      record.kind = NALO_HOST_VALUE_OBJECT;
      std::size_t i = 0;
      for (const auto member : value.Members()) {
        NaloHostMember& target = record.payload.object.members[i++];
        target.name = CopyText(member.name);
        target.ownsName = 1;
        Fill(target.value, member.value, registry);
      }
      return;
    }
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
          if (!Read(elements[i], target.at(i), depth + 1)) {
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
          if (!Read(memberValue, target.member(name), depth + 1)) {
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
  switch (record.kind) {
    case NALO_HOST_VALUE_OWNED_TEXT:
      delete[] record.payload.text.data;
      break;
    case NALO_HOST_VALUE_OWNED_BYTES:
      delete[] record.payload.bytes.data;
      break;
    case NALO_HOST_VALUE_ARRAY: {
      NaloHostValue* elements = record.payload.array.elements;
      for (std::size_t i = 0; i < record.payload.array.count; ++i) {
        ReleaseHostValue(elements[i]);
      }
      delete[] elements;
      break;
    }
    case NALO_HOST_VALUE_OBJECT: {
      NaloHostMember* members = record.payload.object.members;
      for (std::size_t i = 0; i < record.payload.object.count; ++i) {
        ReleaseHostValue(members[i].value);
        if (members[i].ownsName != 0) {
          delete[] members[i].name;
        }
      }
      delete[] members;
      break;
    }
    default:
      break;
  }
  record = NaloHostValue{};
}

HostValue ToHostValue(const BindingProperty& value, const BindingTypeRegistry& registry) {
  NaloHostValue record{};
  try {
    Fill(record, value, registry);
  } catch (...) {
    ReleaseHostValue(record);
    throw;
  }
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
