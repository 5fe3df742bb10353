// Reading a BindingProperty: its size, its value as each scalar kind (with
// the conversions between kinds), equality, and visiting.

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "binding/Base64.h"
#include "binding/BindingProperty.h"
#include "binding/BindingStore.h"
#include "binding/BindingVisitor.h"

namespace Nalo {

namespace {

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

}  // namespace Nalo
