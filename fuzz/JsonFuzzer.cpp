// Fuzz target for ParseJson: any bytes are read; an error must have the
// reader's message form, and whatever parses must be written (compact and
// indented) and read back to an equivalent value.
//
// Equivalent rather than equal (BindingProperty's ==), for two reasons that
// follow from the format, not from faults:
// - A signed zero (from "-0") is written "0" and reads back unsigned. JSON
//   yields no other non-negative signed value.
// - The reader parses numbers at normal, not full, precision, so reading the
//   shortest round-trip text of a double can land a few units in the last
//   place away (measured: at most 2 over millions of random doubles).
// NaN (unequal to itself) can't come out of JSON text, and blobs never do.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "binding/BindingProperty.h"
#include "binding/BindingResult.h"
#include "binding/Json.h"

namespace {

using Nalo::BindingKind;
using Nalo::BindingProperty;

// How far (in units in the last place) a re-read float may be from the value
// that was written.
constexpr std::uint64_t kFloatReadToleranceUlps = 4;

bool FloatsEquivalent(double left, double right) {
  const auto leftBits = std::bit_cast<std::uint64_t>(left);
  const auto rightBits = std::bit_cast<std::uint64_t>(right);
  if ((leftBits >> 63) != (rightBits >> 63)) {
    return false;
  }
  const std::uint64_t distance = leftBits > rightBits ? leftBits - rightBits : rightBits - leftBits;
  return distance <= kFloatReadToleranceUlps;
}

bool IsZeroInteger(const BindingProperty& value) {
  return (value.Kind() == BindingKind::Signed && value.GetSigned(1) == 0) ||
         (value.Kind() == BindingKind::Unsigned && value.GetUnsigned(1) == 0);
}

// Recursion is bounded by the reader's nesting limit.
bool Equivalent(const BindingProperty& left, const BindingProperty& right) {
  if (IsZeroInteger(left) && IsZeroInteger(right)) {
    return true;
  }
  if (left.Kind() != right.Kind()) {
    return false;
  }
  switch (left.Kind()) {
    case BindingKind::Float:
      return FloatsEquivalent(left.GetFloat(0), right.GetFloat(0));
    case BindingKind::Collection: {
      const auto leftElements = left.Elements();
      const auto rightElements = right.Elements();
      if (leftElements.size() != rightElements.size()) {
        return false;
      }
      for (std::size_t i = 0; i < leftElements.size(); ++i) {
        if (!Equivalent(leftElements[i], rightElements[i])) {
          return false;
        }
      }
      return true;
    }
    case BindingKind::Structure: {
      if (left.size() != right.size()) {
        return false;
      }
      auto rightMember = right.Members().begin();
      for (const auto leftMember : left.Members()) {
        const auto member = *rightMember++;
        if (leftMember.name != member.name || !Equivalent(leftMember.value, member.value)) {
          return false;
        }
      }
      return true;
    }
    default:
      return left == right;
  }
}

[[noreturn]] void ReportFault(const char* what, std::string_view first, std::string_view second) {
  std::fprintf(stderr, "JSON fault: %s\n--- first:\n%.*s\n--- second:\n%.*s\n", what,
               static_cast<int>(first.size()), first.data(), static_cast<int>(second.size()),
               second.data());
  std::abort();
}

void CheckRoundTrip(const BindingProperty& value, std::string_view lineSeparator) {
  const std::string written = Nalo::ToJson(value, nullptr, lineSeparator);
  const Nalo::BindingResult reread = Nalo::ParseJson(written);
  if (reread.Failed()) {
    ReportFault("the written text doesn't parse", written, reread.ErrorMessage());
  }
  if (!Equivalent(value, reread.Value())) {
    ReportFault("the re-read value differs", written,
                Nalo::ToJson(reread.Value(), nullptr, lineSeparator));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Nalo::BindingResult parsed = Nalo::ParseJson(reinterpret_cast<const char*>(data), size);
  if (parsed.Failed()) {
    const std::string_view message = parsed.ErrorMessage();
    if (!message.starts_with("Error: ") || !message.ends_with(".")) {
      ReportFault("an error without the reader's form", {}, message);
    }
    return 0;
  }
  CheckRoundTrip(parsed.Value(), {});
  CheckRoundTrip(parsed.Value(), "\r\n");
  return 0;
}
