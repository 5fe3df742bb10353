#pragma once
// The SDK's positional formatter: fills "%1".."%9" in a message template.
//
// Every user-visible message of the SDK is a template kept in its module's
// message table; code fills the placeholders with this function so that the
// texts stay data.
//
//   FormatPositional("Value %1 for '%2' is out of range", {-1, "port"})
//     == "Value -1 for 'port' is out of range"
//
// Rules: a percent sign followed by a digit N from 1 to 9 is replaced by
// argument N (counted from 1); "%%" gives "%"; a placeholder whose number
// exceeds the argument count ends the output there; any other percent sign
// is copied as is. Only one digit is read, so "%10" is argument 1 followed
// by "0". The result is cut at kMaxFormattedLength bytes.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace Nalo {

inline constexpr std::size_t kMaxFormattedLength = 4096;

// One argument of FormatPositional. Integers are written in decimal, strings
// as they are, floating values in their shortest text that reads back to the
// same double (std::to_chars), such as "0.1", "1e+300", "inf" or "nan".
// The argument only refers to a string it is given: the string must outlive
// the FormatPositional call, which a temporary in the argument list does.
class FormatArgument {
 public:
  template <std::signed_integral T>
  FormatArgument(T value) noexcept : mKind(Kind::Signed), mValue{.signedValue = value} {}
  template <std::unsigned_integral T>
  requires(!std::same_as<T, bool>) FormatArgument(T value)
  noexcept : mKind(Kind::Unsigned), mValue{.unsignedValue = value} {}
  FormatArgument(double value) noexcept : mKind(Kind::Floating), mValue{.floatingValue = value} {}
  FormatArgument(std::string_view text) noexcept : mKind(Kind::Text), mValue{.text = text} {}
  FormatArgument(const char* text) noexcept : FormatArgument(std::string_view(text)) {}
  FormatArgument(const std::string& text) noexcept : FormatArgument(std::string_view(text)) {}

  // Appends the argument's text to `output`.
  void AppendTo(std::string& output) const;

 private:
  enum class Kind : std::uint8_t { Signed, Unsigned, Floating, Text };

  // The member that mKind names.
  union Value {
    std::int64_t signedValue;
    std::uint64_t unsignedValue;
    double floatingValue;
    std::string_view text;
  };

  Kind mKind;
  Value mValue;
};

// Fills `format` with `arguments` by the rules above. Never fails.
[[nodiscard]] std::string FormatPositional(std::string_view format,
                                           std::initializer_list<FormatArgument> arguments);

// The shortest text that reads back to `value` (see FormatArgument).
[[nodiscard]] std::string FloatingText(double value);

}  // namespace Nalo
