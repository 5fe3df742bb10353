#pragma once
// Reading numbers from text, shared by the type registry's string conversions
// and the YAML reader's tagged scalars. Private to the binding library.
//
// Integers are read with automatic base, as C's strtoll with base 0 reads
// them: leading white space, an optional sign, then "0x"/"0X" and hexadecimal
// digits, or "0" and octal digits, or decimal digits, and nothing after the
// digits. Unlike strtoll, text with no digit at all is malformed rather than
// 0, and a minus sign is never wrapped around into an unsigned value ("-1" is
// out of range for uint64, "-0" is 0).
//
// Doubles are read in decimal or exponent notation in the C locale's form, as
// std::from_chars reads it ("inf" and "nan" included), whatever the process
// locale; no leading space or "+".
//
// Callers keep their own messages and type names; they only map the outcome.
//
//   const auto [outcome, value] = Nalo::detail::ParseSignedText("-0x10");  // Ok, -16

#include <cstdint>
#include <string_view>

namespace Nalo::detail {

enum class NumberTextOutcome : std::uint8_t {
  Ok,               // the whole text is a number that fits; the value is set
  IncorrectFormat,  // not a number of that kind, or something after it
  OutOfRange,       // a well-formed number the type can't hold
};

// An outcome and, when it is Ok, the value (else zero).
template <class T>
struct NumberTextResult {
  NumberTextOutcome outcome = NumberTextOutcome::IncorrectFormat;
  T value = 0;
};

[[nodiscard]] NumberTextResult<std::int64_t> ParseSignedText(std::string_view text) noexcept;
[[nodiscard]] NumberTextResult<std::uint64_t> ParseUnsignedText(std::string_view text) noexcept;
// OutOfRange only where the text's magnitude is beyond a double; infinities
// written as words are Ok, and so is NaN. Callers with narrower ranges check
// the value themselves.
[[nodiscard]] NumberTextResult<double> ParseDoubleText(std::string_view text) noexcept;

}  // namespace Nalo::detail
