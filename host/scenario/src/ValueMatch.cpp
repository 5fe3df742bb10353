#include "host/scenario/ValueMatch.h"

#include <algorithm>

#include "binding/Json.h"

namespace Nalo::Host {

namespace {

bool IsNumber(BindingKind kind) {
  return kind == BindingKind::Signed || kind == BindingKind::Unsigned || kind == BindingKind::Float;
}

bool SameNumber(const BindingProperty& left, const BindingProperty& right) {
  if (left.Kind() == BindingKind::Float || right.Kind() == BindingKind::Float) {
    const auto asDouble = [](const BindingProperty& value) {
      switch (value.Kind()) {
        case BindingKind::Signed:
          return static_cast<double>(value.GetSigned(0));
        case BindingKind::Unsigned:
          return static_cast<double>(value.GetUnsigned(0));
        default:
          return value.GetFloat(0);
      }
    };
    return asDouble(left) == asDouble(right);
  }
  const bool leftNegative = left.Kind() == BindingKind::Signed && left.GetSigned(0) < 0;
  const bool rightNegative = right.Kind() == BindingKind::Signed && right.GetSigned(0) < 0;
  if (leftNegative || rightNegative) {
    return leftNegative && rightNegative && left.GetSigned(0) == right.GetSigned(0);
  }
  return left.AsUnsigned() == right.AsUnsigned();
}

std::optional<std::string> Difference(std::string_view where, const BindingProperty& expected,
                                      const BindingProperty& seen) {
  return "at " + std::string(where.empty() ? "the top" : where) + ": expected " +
         Describe(expected) + ", saw " + Describe(seen);
}

std::optional<std::string> Compare(const BindingProperty& expected, const BindingProperty& seen,
                                   MatchMode mode, const std::string& where) {
  if (IsNumber(expected.Kind()) && IsNumber(seen.Kind())) {
    return SameNumber(expected, seen) ? std::nullopt : Difference(where, expected, seen);
  }
  if (expected.Kind() == BindingKind::String && seen.Kind() == BindingKind::Enum) {
    return expected.StringValue() == seen.AsString() ? std::nullopt
                                                     : Difference(where, expected, seen);
  }
  if (expected.Kind() != seen.Kind()) {
    return Difference(where, expected, seen);
  }
  switch (expected.Kind()) {
    case BindingKind::Structure: {
      for (const auto& member : expected.Members()) {
        const std::string inner = where + "." + std::string(member.name);
        const BindingProperty* found = seen.Find(member.name);
        if (found == nullptr) {
          return "at " + inner + ": expected " + Describe(member.value) + ", saw no such member";
        }
        if (auto difference = Compare(member.value, *found, mode, inner)) {
          return difference;
        }
      }
      if (mode == MatchMode::Exact) {
        for (const auto& member : seen.Members()) {
          if (expected.Find(member.name) == nullptr) {
            return "at " + where + "." + std::string(member.name) +
                   ": expected no such member, saw " + Describe(member.value);
          }
        }
      }
      return std::nullopt;
    }
    case BindingKind::Collection: {
      const auto left = expected.Elements();
      const auto right = seen.Elements();
      if (left.size() != right.size()) {
        return Difference(where, expected, seen);
      }
      for (std::size_t i = 0; i < left.size(); ++i) {
        if (auto difference =
                Compare(left[i], right[i], mode, where + "[" + std::to_string(i) + "]")) {
          return difference;
        }
      }
      return std::nullopt;
    }
    case BindingKind::Blob:
      return std::ranges::equal(expected.BlobValue(), seen.BlobValue())
                 ? std::nullopt
                 : Difference(where, expected, seen);
    case BindingKind::Enum:
      return expected.EnumValue() == seen.EnumValue() ? std::nullopt
                                                      : Difference(where, expected, seen);
    default:
      return expected == seen ? std::nullopt : Difference(where, expected, seen);
  }
}

}  // namespace

std::optional<std::string> Mismatch(const BindingProperty& expected, const BindingProperty& seen,
                                    MatchMode mode) {
  return Compare(expected, seen, mode, "");
}

std::string Describe(const BindingProperty& value) {
  return value.IsEmpty() ? std::string("null") : ToJson(value);
}

}  // namespace Nalo::Host
