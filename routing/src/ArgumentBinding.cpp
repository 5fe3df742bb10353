#include "routing/src/ArgumentBinding.h"

#include <cstdint>
#include <limits>
#include <string>

#include "abi/HostValue.h"
#include "binding/BindingLimits.h"
#include "binding/PositionalFormat.h"
#include "binding/TextDigits.h"
#include "routing/ParameterDecoding.h"
#include "routing/PercentDecoding.h"
#include "routing/QueryString.h"
#include "routing/src/RoutingMessages.h"

namespace Nalo {

namespace {

constexpr std::uint32_t kBindingFailureStatus = 400;
// Indices at or above this are out of range whatever the budget.
constexpr std::uint64_t kIndexLimit = std::uint64_t{1} << 31;

Failure BindingFailure(std::string_view format, std::initializer_list<FormatArgument> arguments) {
  return Failure(kBindingFailureStatus, FormatPositional(format, arguments));
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool EqualsIgnoringCase(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) {
    return false;
  }
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (LowerAscii(left[i]) != LowerAscii(right[i])) {
      return false;
    }
  }
  return true;
}

enum class IndexOutcome : std::uint8_t { Parsed, Malformed, Overflow };

// An index with automatic base: "0x" hexadecimal, a leading "0" octal, else
// decimal. `segment` starts with a digit.
IndexOutcome ParseIndex(std::string_view segment, std::uint64_t& index) {
  unsigned base = 10;
  std::string_view digits = segment;
  if (segment.size() > 2 && segment[0] == '0' && (segment[1] == 'x' || segment[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  } else if (segment.size() > 1 && segment[0] == '0') {
    base = 8;
    digits.remove_prefix(1);
  }
  bool overflow = false;
  index = 0;
  for (const char c : digits) {
    // A non-digit is -1, which as unsigned is above every base.
    const auto digit = static_cast<unsigned>(DigitValue(c));
    if (digit >= base) {
      return IndexOutcome::Malformed;
    }
    if (index > (std::numeric_limits<std::uint64_t>::max() - digit) / base) {
      overflow = true;
    } else {
      index = index * base + digit;
    }
  }
  return overflow ? IndexOutcome::Overflow : IndexOutcome::Parsed;
}

bool IsStructured(BindingTypeId type) {
  return type == BindingTypeId::Object || type == BindingTypeId::Struct ||
         type == BindingTypeId::Map || type == BindingTypeId::Vector;
}

class Binder {
 public:
  Binder(const Endpoint& endpoint, std::span<BindingProperty> values)
      : mFunction(endpoint.function), mValues(values) {}

  // Binds `text` under `key` ("name" or "name.member.path") from `location`.
  MaybeType<Failure, void> BindPair(std::string_view key, std::string_view text,
                                    ArgumentLocation location) {
    const std::size_t dot = key.find('.');
    const std::string_view name = key.substr(0, dot);
    const std::ptrdiff_t index = mFunction.FindArgument(name);
    if (index < 0) {
      return BindingFailure(RoutingMessage::kUnknownArgument, {name, mFunction.name});
    }
    const BoundArgument& argument = mFunction.arguments[static_cast<std::size_t>(index)];
    if (argument.location != ArgumentLocation::Anywhere && argument.location != location) {
      return BindingFailure(RoutingMessage::kInvalidLocation, {name, mFunction.name});
    }
    BindingProperty& value = mValues[static_cast<std::size_t>(index)];
    if (dot != std::string_view::npos) {
      return BindMember(argument, value, key.substr(dot + 1), text);
    }
    if (text.empty()) {
      return BindEmpty(argument, value);
    }
    const ParameterShape shape =
        IsStructured(argument.type) ? ParameterShape::Structured : ParameterShape::Plain;
    BindingResult decoded = DecodeParameter(text, {}, shape, argument.name, mFunction.name);
    if (decoded.Failed()) {
      return Failure(kBindingFailureStatus, decoded.ErrorMessage());
    }
    value = std::move(decoded.Value());
    return {};
  }

 private:
  MaybeType<Failure, void> BindEmpty(const BoundArgument& argument, BindingProperty& value) {
    switch (argument.type) {
      case BindingTypeId::Bool:
        value.SetBool(true);
        return {};
      case BindingTypeId::Object:
      case BindingTypeId::Struct:
      case BindingTypeId::Map:
        value.Reset();
        value.MakeStructure();
        return {};
      case BindingTypeId::Vector:
        value.Reset();
        value.MakeCollection();
        return {};
      default:
        return BindingFailure(RoutingMessage::kExpectedValue, {argument.name});
    }
  }

  // Walks `path` from `value`, growing collections and adding members, and
  // stores `text` as a string in the part it selects.
  MaybeType<Failure, void> BindMember(const BoundArgument& argument, BindingProperty& value,
                                      std::string_view path, std::string_view text) {
    BindingProperty* target = &value;
    std::size_t depth = 0;
    while (true) {
      const std::size_t dot = path.find('.');
      const std::string_view segment = path.substr(0, dot);
      // The argument itself is one level; copying and destroying the value
      // recurse once per level.
      if (++depth >= kMaxNestingDepth) {
        return BindingFailure(RoutingMessage::kMemberPathTooDeep,
                              {argument.name, mFunction.name, kMaxNestingDepth});
      }
      if (!segment.empty() && segment.front() >= '0' && segment.front() <= '9') {
        std::uint64_t index = 0;
        const IndexOutcome outcome = ParseIndex(segment, index);
        if (outcome == IndexOutcome::Malformed) {
          return BindingFailure(RoutingMessage::kIndexFormat, {segment});
        }
        const std::size_t existing = target->Kind() == BindingKind::Collection ? target->size() : 0;
        const std::uint64_t growth = index >= existing ? index + 1 - existing : 0;
        if (outcome == IndexOutcome::Overflow || index >= kIndexLimit ||
            growth > kMaxIndexedElements - mIndexedElements) {
          return BindingFailure(RoutingMessage::kIndexRange, {segment});
        }
        mIndexedElements += static_cast<std::size_t>(growth);
        target = &target->at(static_cast<std::size_t>(index));
      } else {
        target = &target->member(segment);
      }
      if (dot == std::string_view::npos) {
        break;
      }
      path.remove_prefix(dot + 1);
    }
    target->SetString(text);
    return {};
  }

  const BoundFunction& mFunction;
  std::span<BindingProperty> mValues;
  std::size_t mIndexedElements = 0;
};

// The value of the last header named like `argumentName`, if any.
const RequestHeader* FindHeader(std::span<const RequestHeader> headers,
                                std::string_view argumentName) {
  const RequestHeader* found = nullptr;
  for (const RequestHeader& header : headers) {
    if (EqualsIgnoringCase(header.name, argumentName)) {
      found = &header;
    }
  }
  return found;
}

}  // namespace

MaybeType<Failure, void> BindArguments(const Endpoint& endpoint,
                                       std::span<const std::string_view> captures,
                                       const RouteRequest& request,
                                       std::span<BindingProperty> values) {
  const BoundFunction& function = endpoint.function;
  for (std::size_t i = 0; i < function.arguments.size(); ++i) {
    if (function.arguments[i].type == BindingTypeId::Bool && !function.arguments[i].optional) {
      values[i].SetBool(false);
    }
  }
  Binder binder(endpoint, values);

  if (!request.headers.empty()) {
    for (const BoundArgument& argument : function.arguments) {
      if (argument.location != ArgumentLocation::Anywhere &&
          argument.location != ArgumentLocation::Header) {
        continue;
      }
      if (const RequestHeader* header = FindHeader(request.headers, argument.name)) {
        auto bound = binder.BindPair(argument.name, header->value, ArgumentLocation::Header);
        if (bound.HasFailure()) {
          return bound;
        }
      }
    }
  }

  const auto& parameters = endpoint.path.Parameters();
  std::string captureStorage;
  for (std::size_t i = 0; i < captures.size() && i < parameters.size(); ++i) {
    auto bound = binder.BindPair(parameters[i], percentDecode(captures[i], captureStorage),
                                 ArgumentLocation::Path);
    if (bound.HasFailure()) {
      return bound;
    }
  }

  // Keys and values are decoded into these only when they hold escapes.
  MaybeType<Failure, void> queryOutcome;
  std::string keyStorage;
  std::string valueStorage;
  const bool queryBound =
      VisitQueryString(request.path, [&](std::string_view key, std::string_view value) {
        queryOutcome = binder.BindPair(percentDecode(key, keyStorage),
                                       percentDecode(value, valueStorage), ArgumentLocation::Query);
        return !queryOutcome.HasFailure();
      });
  if (!queryBound) {
    return queryOutcome;
  }

  for (std::size_t i = 0; i < request.hostArguments.size(); ++i) {
    const NaloRequestArgument& hostArgument = request.hostArguments[i];
    const char* name = hostArgument.name;
    std::size_t index = 0;
    if (name != nullptr) {
      const std::ptrdiff_t found = function.FindArgument(name);
      if (found < 0) {
        return BindingFailure(RoutingMessage::kUnknownArgument, {name, function.name});
      }
      index = static_cast<std::size_t>(found);
    } else {
      index = i + captures.size();
      if (index >= function.arguments.size()) {
        return BindingFailure(RoutingMessage::kUnknownArgument, {i, function.name});
      }
    }
    const NaloHostValue record = hostArgument.value;
    BindingResult converted = FromHostValue(record, function.arguments[index].name);
    if (converted.Failed()) {
      return Failure(kBindingFailureStatus, converted.ErrorMessage());
    }
    values[index] = std::move(converted.Value());
  }

  if (!request.body.empty()) {
    for (std::size_t i = 0; i < function.arguments.size(); ++i) {
      if (function.arguments[i].location != ArgumentLocation::Body) {
        continue;
      }
      BindingResult decoded = DecodeBody(request.contentType, request.body);
      if (decoded.Failed()) {
        return Failure(kBindingFailureStatus, decoded.ErrorMessage());
      }
      values[i] = std::move(decoded.Value());
      break;
    }
  }
  return {};
}

}  // namespace Nalo
