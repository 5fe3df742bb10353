// FromHostValue: copies a host value the core passed in into a
// BindingProperty tree, checking every pointer, count and depth on the way.
// VisitHostValue: the same walk handed to a visitor, for values that need
// no tree to come out in the tree's order.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "abi/HostValue.h"
#include "binding/BindingLimits.h"
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

// The rules a record must keep to be read, shared by the reader (which
// names the one broken) and the walk (which declines).
bool PointerHolds(const void* data, std::size_t length) noexcept {
  return data != nullptr || length == 0;
}
bool DepthHolds(std::size_t depth) noexcept {
  return depth < kMaxNestingDepth;
}
bool CountHolds(std::size_t count) noexcept {
  return count <= kMaxCollectionSize;
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
    if (!PointerHolds(data, length)) {
      mError = FormatPositional(Message::kNullPointer, {mName, length});
      return false;
    }
    return true;
  }
  bool CheckDepth(std::size_t depth) {
    if (!DepthHolds(depth)) {
      mError = FormatPositional(Message::kTooDeep, {mName, kMaxNestingDepth});
      return false;
    }
    return true;
  }
  bool CheckCount(std::size_t count) {
    if (!CountHolds(count)) {
      mError = FormatPositional(Message::kIncompatibleKind, {mName, ""});
      return false;
    }
    return true;
  }

  std::string_view mName;
  std::string mError;
};

// Walks a record as HostValueReader reads it and the tree it builds would
// be walked; false where the tree would differ from the record (names out
// of order or repeated) or the reader would refuse it.
bool Walk(const NaloHostValue& record, BindingVisitor& visitor, std::size_t depth) {
  switch (record.kind) {
    case NALO_HOST_VALUE_NULL:
      visitor.Null();
      return true;
    case NALO_HOST_VALUE_BOOL:
      visitor.Bool(record.payload.boolean != 0);
      return true;
    case NALO_HOST_VALUE_SIGNED:
      visitor.Int64(record.payload.signedInteger);
      return true;
    case NALO_HOST_VALUE_UNSIGNED:
      visitor.Uint64(record.payload.unsignedInteger);
      return true;
    case NALO_HOST_VALUE_DOUBLE:
      visitor.Double(record.payload.floating);
      return true;
    case NALO_HOST_VALUE_TEXT:
    case NALO_HOST_VALUE_OWNED_TEXT: {
      const char* data = record.payload.text.data;
      const std::size_t length = record.payload.text.length;
      if (!PointerHolds(data, length)) {
        return false;
      }
      visitor.String(std::string_view(length == 0 ? "" : data, length));
      return true;
    }
    case NALO_HOST_VALUE_BYTES:
    case NALO_HOST_VALUE_OWNED_BYTES: {
      const std::uint8_t* data = record.payload.bytes.data;
      const std::size_t length = record.payload.bytes.length;
      if (!PointerHolds(data, length)) {
        return false;
      }
      visitor.Blob(std::span<const std::uint8_t>(data, length));
      return true;
    }
    case NALO_HOST_VALUE_ARRAY: {
      const NaloHostValue* elements = record.payload.array.elements;
      const std::size_t count = record.payload.array.count;
      if (!PointerHolds(elements, count) || !DepthHolds(depth) || !CountHolds(count)) {
        return false;
      }
      visitor.StartArray(count);
      for (std::size_t i = 0; i < count; ++i) {
        visitor.StartElement();
        if (!Walk(elements[i], visitor, depth + 1)) {
          return false;
        }
        visitor.EndElement();
      }
      visitor.EndArray();
      return true;
    }
    case NALO_HOST_VALUE_OBJECT: {
      const NaloHostMember* members = record.payload.object.members;
      const std::size_t count = record.payload.object.count;
      if (!PointerHolds(members, count) || !DepthHolds(depth)) {
        return false;
      }
      // The names must ascend before the first is written: the tree would
      // hold them in another order, or fewer of them.
      std::string_view previous;
      for (std::size_t i = 0; i < count; ++i) {
        if (members[i].name == nullptr) {
          return false;
        }
        const std::string_view name(members[i].name);
        if (i > 0 && detail::MemberNameLess::Compare(previous, name) >= 0) {
          return false;
        }
        previous = name;
      }
      visitor.StartObject(count);
      for (std::size_t i = 0; i < count; ++i) {
        visitor.Key(members[i].name);
        if (!Walk(members[i].value, visitor, depth + 1)) {
          return false;
        }
        visitor.EndMember();
      }
      visitor.EndObject();
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool VisitHostValue(const NaloHostValue& value, BindingVisitor& visitor) {
  return Walk(value, visitor, 0);
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
