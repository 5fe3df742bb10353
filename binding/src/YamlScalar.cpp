#include "binding/src/YamlScalar.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <system_error>

#include "binding/PositionalFormat.h"
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

enum class Conversion : std::uint8_t { Done, IncorrectFormat, OutOfRange };

// Integer text with automatic base, read as the type registry reads it:
// leading white space, an optional sign, then "0x"/"0X" and hexadecimal
// digits, or "0" and octal digits, or decimal digits; at least one digit and
// nothing after the digits.
struct SignedMagnitude {
  bool negative = false;
  std::uint64_t magnitude = 0;
};

int DigitValue(char c) noexcept {
  if (IsDecimalDigit(c)) {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool IsSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

Conversion ParseInteger(std::string_view text, SignedMagnitude& parsed) noexcept {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) {
    ++i;
  }
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    parsed.negative = text[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < text.size() && text[i] == '0') {
    const bool hex = i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
                     DigitValue(text[i + 2]) >= 0;
    base = hex ? 16 : 8;
    i += hex ? 2 : 0;
  }
  const std::size_t firstDigit = i;
  bool overflow = false;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) {
      break;
    }
    const std::uint64_t limit =
        (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(digit)) / base;
    if (parsed.magnitude > limit) {
      overflow = true;
    } else {
      parsed.magnitude = parsed.magnitude * base + static_cast<unsigned>(digit);
    }
  }
  if (i == firstDigit || i != text.size()) {
    return Conversion::IncorrectFormat;
  }
  return overflow ? Conversion::OutOfRange : Conversion::Done;
}

// `asSigned`: the text starts with "-" and is read as int64_t, else as
// uint64_t (where only zero may carry a minus sign).
Conversion ParseTaggedInteger(std::string_view text, bool asSigned,
                              BindingProperty& target) noexcept {
  SignedMagnitude parsed;
  const Conversion conversion = ParseInteger(text, parsed);
  if (conversion != Conversion::Done) {
    return conversion;
  }
  constexpr std::uint64_t kMagnitudeOfLowest = std::uint64_t{1} << 63;
  if (!asSigned) {
    if (parsed.negative && parsed.magnitude != 0) {
      return Conversion::OutOfRange;
    }
    target.SetUnsigned(parsed.magnitude);
    return Conversion::Done;
  }
  if (parsed.magnitude > (parsed.negative ? kMagnitudeOfLowest : kMagnitudeOfLowest - 1)) {
    return Conversion::OutOfRange;
  }
  target.SetSigned(parsed.negative ? static_cast<std::int64_t>(0 - parsed.magnitude)
                                   : static_cast<std::int64_t>(parsed.magnitude));
  return Conversion::Done;
}

// Decimal or exponent notation as std::from_chars reads it, independent of
// the process locale, within the finite range of a double.
Conversion ParseTaggedFloat(std::string_view text, BindingProperty& target) noexcept {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  if (text.empty() || stop != end || status == std::errc::invalid_argument) {
    return Conversion::IncorrectFormat;
  }
  constexpr double kHighest = std::numeric_limits<double>::max();
  if (status != std::errc() || value < -kHighest || value > kHighest) {
    return Conversion::OutOfRange;
  }
  target.SetFloat(value);
  return Conversion::Done;
}

// --- Plain numbers. -------------------------------------------------------------

// An integer written in decimal or "0x" hexadecimal, with an optional sign,
// read exactly when it fits the 64-bit kinds (a double would round it).
bool ResolveExactInteger(bool negative, std::string_view magnitudeText,
                         BindingProperty& target) noexcept {
  const bool hex = HasHexPrefix(magnitudeText);
  const std::string_view digits = hex ? magnitudeText.substr(2) : magnitudeText;
  if (digits.empty()) {
    return false;
  }
  for (char c : digits) {
    if (hex ? !IsHexDigit(c) : !IsDecimalDigit(c)) {
      return false;
    }
  }
  std::uint64_t magnitude = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, status] = std::from_chars(digits.data(), end, magnitude, hex ? 16 : 10);
  if (status != std::errc() || stop != end) {
    return false;
  }
  if (!negative || magnitude == 0) {
    target.SetUnsigned(magnitude);  // "-0" is not negative
    return true;
  }
  if (magnitude > std::uint64_t{1} << 63) {
    return false;
  }
  target.SetSigned(static_cast<std::int64_t>(0 - magnitude));
  return true;
}

// A plain scalar that reads completely as a finite number (decimal, with
// fraction and exponent, or "0x" hexadecimal). Infinities and NaN words stay
// strings, and so does a number a double can't hold. The reading doesn't
// depend on the process locale.
bool ResolvePlainNumber(std::string_view text, BindingProperty& target) noexcept {
  if (text.empty()) {
    return false;
  }
  const bool negative = text[0] == '-';
  const std::string_view magnitudeText = negative || text[0] == '+' ? text.substr(1) : text;
  if (magnitudeText.empty() || !(IsDecimalDigit(magnitudeText[0]) || magnitudeText[0] == '.')) {
    return false;
  }
  if (ResolveExactInteger(negative, magnitudeText, target)) {
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
  if (status != std::errc() || stop != end || !std::isfinite(magnitude)) {
    return false;
  }
  const double value = negative ? -magnitude : magnitude;
  if (std::trunc(value) != value) {
    target.SetFloat(value);
  } else if (value < 0 && value >= -kTwoPow63) {
    target.SetSigned(static_cast<std::int64_t>(value));
  } else if (value >= 0 && value < kTwoPow64) {
    target.SetUnsigned(static_cast<std::uint64_t>(value));
  } else {
    // Integral but beyond the 64-bit kinds.
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

std::string ConversionMessage(Conversion conversion, std::string_view text,
                              std::string_view typeName) {
  return FormatPositional(conversion == Conversion::IncorrectFormat ? kYamlIncorrectFormatMessage
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
    const Conversion conversion = ParseTaggedInteger(text, asSigned, target);
    if (conversion != Conversion::Done) {
      error = ConversionMessage(conversion, text,
                                asSigned ? kYamlSignedTypeName : kYamlUnsignedTypeName);
      return false;
    }
    return true;
  }
  if (tag == kYamlFloatTag) {
    const Conversion conversion = ParseTaggedFloat(text, target);
    if (conversion != Conversion::Done) {
      error = ConversionMessage(conversion, text, kYamlFloatTypeName);
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
