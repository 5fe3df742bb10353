#include "binding/src/YamlScalar.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <system_error>

#include "binding/PositionalFormat.h"
#include "binding/src/NumberText.h"
#include "binding/src/YamlMessages.h"

namespace Nalo::detail {
namespace {

constexpr std::string_view kNullWords[] = {"", "~", "null", "Null", "NULL"};
constexpr std::string_view kTrueWords[] = {"true", "True", "TRUE", "y",  "Y", "yes",
                                           "Yes",  "YES",  "on",   "On", "ON"};
constexpr std::string_view kFalseWords[] = {"false", "False", "FALSE", "n",   "N",  "no",
                                            "No",    "NO",    "off",   "Off", "OFF"};

// 2^63 and 2^64 as doubles: the bounds of the integer kinds.
constexpr double kTwoPow63 = 9223372036854775808.0;
constexpr double kTwoPow64 = 18446744073709551616.0;

template <std::size_t N>
bool IsOneOf(std::string_view text, const std::string_view (&words)[N]) noexcept {
  for (std::string_view word : words) {
    if (text == word) {
      return true;
    }
  }
  return false;
}

std::optional<bool> BoolWord(std::string_view text) noexcept {
  if (IsOneOf(text, kTrueWords)) {
    return true;
  }
  if (IsOneOf(text, kFalseWords)) {
    return false;
  }
  return std::nullopt;
}

bool IsDecimalDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) noexcept {
  return IsDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool HasHexPrefix(std::string_view text) noexcept {
  return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// --- Tagged integers and floats. ------------------------------------------------

// `asSigned`: the text starts with "-" and is read as int64_t, else as
// uint64_t (where only zero may carry a minus sign).
NumberTextOutcome ParseTaggedInteger(std::string_view text, bool asSigned,
                                     BindingProperty& target) noexcept {
  if (asSigned) {
    const auto [outcome, value] = ParseSignedText(text);
    if (outcome == NumberTextOutcome::Ok) {
      target.SetSigned(value);
    }
    return outcome;
  }
  const auto [outcome, value] = ParseUnsignedText(text);
  if (outcome == NumberTextOutcome::Ok) {
    target.SetUnsigned(value);
  }
  return outcome;
}

// Within the finite range of a double; NaN is kept.
NumberTextOutcome ParseTaggedFloat(std::string_view text, BindingProperty& target) noexcept {
  const auto [outcome, value] = ParseDoubleText(text);
  if (outcome != NumberTextOutcome::Ok) {
    return outcome;
  }
  constexpr double kHighest = std::numeric_limits<double>::max();
  if (value < -kHighest || value > kHighest) {
    return NumberTextOutcome::OutOfRange;
  }
  target.SetFloat(value);
  return NumberTextOutcome::Ok;
}

// --- Plain numbers. -------------------------------------------------------------

enum class ExactInteger : std::uint8_t { NotAnInteger, Resolved, TooWide };

// An integer written in decimal or "0x" hexadecimal, with an optional sign,
// read exactly when it fits the 64-bit kinds (a double would round it).
ExactInteger ResolveExactInteger(bool negative, std::string_view magnitudeText,
                                 BindingProperty& target) noexcept {
  const bool hex = HasHexPrefix(magnitudeText);
  const std::string_view digits = hex ? magnitudeText.substr(2) : magnitudeText;
  if (digits.empty()) {
    return ExactInteger::NotAnInteger;
  }
  for (char c : digits) {
    if (hex ? !IsHexDigit(c) : !IsDecimalDigit(c)) {
      return ExactInteger::NotAnInteger;
    }
  }
  std::uint64_t magnitude = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, status] = std::from_chars(digits.data(), end, magnitude, hex ? 16 : 10);
  if (status == std::errc::result_out_of_range) {
    return ExactInteger::TooWide;
  }
  if (status != std::errc() || stop != end) {
    return ExactInteger::NotAnInteger;
  }
  if (!negative || magnitude == 0) {
    target.SetUnsigned(magnitude);  // "-0" is not negative
    return ExactInteger::Resolved;
  }
  if (magnitude > std::uint64_t{1} << 63) {
    return ExactInteger::TooWide;
  }
  target.SetSigned(static_cast<std::int64_t>(0 - magnitude));
  return ExactInteger::Resolved;
}

// For a number text that a double can't hold: true when it is too small
// (it underflows to zero), false when it is too large. The position of its
// leading significant digit plus its exponent tells: below 1 the value
// underflowed, from 1 on it overflowed (only values past 1e308 overflow, and
// only values below 1e-307 underflow). `body` has no sign or "0x" prefix.
bool Underflows(std::string_view body, bool hex) noexcept {
  const auto isDigit = hex ? IsHexDigit : IsDecimalDigit;
  std::size_t i = 0;
  bool significant = false;
  std::int64_t integerDigits = 0;  // from the leading significant digit on
  std::int64_t fractionZeros = 0;  // zeros after the point before it
  for (; i < body.size() && isDigit(body[i]); ++i) {
    if (significant || body[i] != '0') {
      significant = true;
      ++integerDigits;
    }
  }
  if (i < body.size() && body[i] == '.') {
    for (++i; i < body.size() && isDigit(body[i]); ++i) {
      if (!significant) {
        if (body[i] == '0') {
          ++fractionZeros;
        } else {
          significant = true;
        }
      }
    }
  }
  std::int64_t exponent = 0;
  if (i < body.size() && ++i < body.size()) {  // past 'e' or 'p'
    const bool negativeExponent = body[i] == '-';
    if (body[i] == '-' || body[i] == '+') {
      ++i;
    }
    constexpr std::int64_t kSaturated = std::int64_t{1} << 40;
    for (; i < body.size() && IsDecimalDigit(body[i]); ++i) {
      exponent = std::min(exponent * 10 + (body[i] - '0'), kSaturated);
    }
    if (negativeExponent) {
      exponent = -exponent;
    }
  }
  const std::int64_t leadingPosition = integerDigits > 0 ? integerDigits - 1 : -(fractionZeros + 1);
  return leadingPosition * (hex ? 4 : 1) + exponent < 0;
}

// A plain scalar that reads completely as a number (decimal, with fraction
// and exponent, or "0x" hexadecimal). Infinities and NaN words stay strings,
// whatever their sign, and so does a number too large for a double; one too
// small for it is zero. The reading doesn't depend on the process locale.
bool ResolvePlainNumber(std::string_view text, BindingProperty& target) noexcept {
  if (text.empty()) {
    return false;
  }
  const bool negative = text[0] == '-';
  const std::string_view magnitudeText = negative || text[0] == '+' ? text.substr(1) : text;
  if (magnitudeText.empty() || !(IsDecimalDigit(magnitudeText[0]) || magnitudeText[0] == '.')) {
    return false;
  }
  const ExactInteger exact = ResolveExactInteger(negative, magnitudeText, target);
  if (exact == ExactInteger::Resolved) {
    return true;
  }
  const bool hex = HasHexPrefix(magnitudeText);
  const std::string_view body = hex ? magnitudeText.substr(2) : magnitudeText;
  if (body.empty() || !(IsHexDigit(body[0]) || body[0] == '.')) {
    return false;
  }
  double magnitude = 0;
  const char* end = body.data() + body.size();
  const auto [stop, status] = std::from_chars(
      body.data(), end, magnitude, hex ? std::chars_format::hex : std::chars_format::general);
  if (stop != end) {
    return false;
  }
  if (status == std::errc::result_out_of_range) {
    if (!Underflows(body, hex)) {
      return false;
    }
    magnitude = 0;
  } else if (status != std::errc() || !std::isfinite(magnitude)) {
    return false;
  }
  const double value = negative ? -magnitude : magnitude;
  // An integer written out beyond the 64-bit kinds stays a float, even where
  // a double rounds it back into their range.
  const bool integral = exact != ExactInteger::TooWide && std::trunc(value) == value;
  if (integral && value < 0 && value >= -kTwoPow63) {
    target.SetSigned(static_cast<std::int64_t>(value));
  } else if (integral && value >= 0 && value < kTwoPow64) {
    target.SetUnsigned(static_cast<std::uint64_t>(value));
  } else {
    // Not integral, or integral but beyond the 64-bit kinds.
    target.SetFloat(value);
  }
  return true;
}

void ResolvePlain(std::string_view text, BindingProperty& target) {
  if (IsOneOf(text, kNullWords)) {
    target.Reset();
    return;
  }
  if (ResolvePlainNumber(text, target)) {
    return;
  }
  if (const std::optional<bool> word = BoolWord(text)) {
    target.SetBool(*word);
    return;
  }
  target.SetString(text);
}

std::string ConversionMessage(NumberTextOutcome outcome, std::string_view text,
                              std::string_view typeName) {
  return FormatPositional(outcome == NumberTextOutcome::IncorrectFormat
                              ? kYamlIncorrectFormatMessage
                              : kYamlOutOfRangeMessage,
                          {text, kYamlFieldName, typeName});
}

}  // namespace

bool ResolveYamlScalar(const YamlScalar& scalar, BindingProperty& target, std::string& error) {
  const std::string_view text = scalar.text;
  if (scalar.tag == nullptr) {
    if (scalar.quoted) {
      target.SetString(text);
    } else {
      ResolvePlain(text, target);
    }
    return true;
  }
  const std::string_view tag = scalar.tag;
  if (tag == kYamlStringTag) {
    target.SetString(text);
    return true;
  }
  if (tag == kYamlIntegerTag) {
    const bool asSigned = !text.empty() && text[0] == '-';
    const NumberTextOutcome outcome = ParseTaggedInteger(text, asSigned, target);
    if (outcome != NumberTextOutcome::Ok) {
      error =
          ConversionMessage(outcome, text, asSigned ? kYamlSignedTypeName : kYamlUnsignedTypeName);
      return false;
    }
    return true;
  }
  if (tag == kYamlFloatTag) {
    const NumberTextOutcome outcome = ParseTaggedFloat(text, target);
    if (outcome != NumberTextOutcome::Ok) {
      error = ConversionMessage(outcome, text, kYamlFloatTypeName);
      return false;
    }
    return true;
  }
  if (tag == kYamlBoolTag) {
    if (const std::optional<bool> word = BoolWord(text)) {
      target.SetBool(*word);
      return true;
    }
    error = FormatPositional(kYamlNotABoolMessage, {text, scalar.line, scalar.column});
    return false;
  }
  error = FormatPositional(kYamlUnsupportedTagMessage, {tag});
  return false;
}

}  // namespace Nalo::detail
