#include "binding/src/NumberText.h"

#include <charconv>
#include <limits>
#include <system_error>

#include "binding/TextDigits.h"

namespace Nalo::detail {
namespace {

struct SignedMagnitude {
  bool negative = false;
  std::uint64_t magnitude = 0;
};

bool IsSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The sign and magnitude of integer text with automatic base. A magnitude
// beyond 64 bits is OutOfRange, whatever the sign.
NumberTextOutcome ParseInteger(std::string_view text, SignedMagnitude& parsed) noexcept {
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
    // "0x" counts as a prefix only when a hexadecimal digit follows it; "0x"
    // alone is an octal 0 followed by "x", so malformed.
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
    return NumberTextOutcome::IncorrectFormat;
  }
  return overflow ? NumberTextOutcome::OutOfRange : NumberTextOutcome::Ok;
}

}  // namespace

NumberTextResult<std::int64_t> ParseSignedText(std::string_view text) noexcept {
  SignedMagnitude parsed;
  const NumberTextOutcome outcome = ParseInteger(text, parsed);
  if (outcome != NumberTextOutcome::Ok) {
    return {.outcome = outcome};
  }
  constexpr std::uint64_t kMagnitudeOfLowest = std::uint64_t{1} << 63;
  if (parsed.magnitude > (parsed.negative ? kMagnitudeOfLowest : kMagnitudeOfLowest - 1)) {
    return {.outcome = NumberTextOutcome::OutOfRange};
  }
  // Negating in unsigned arithmetic keeps the lowest value, whose magnitude
  // has no positive int64_t.
  return {.outcome = NumberTextOutcome::Ok,
          .value = parsed.negative ? static_cast<std::int64_t>(0 - parsed.magnitude)
                                   : static_cast<std::int64_t>(parsed.magnitude)};
}

NumberTextResult<std::uint64_t> ParseUnsignedText(std::string_view text) noexcept {
  SignedMagnitude parsed;
  const NumberTextOutcome outcome = ParseInteger(text, parsed);
  if (outcome != NumberTextOutcome::Ok) {
    return {.outcome = outcome};
  }
  if (parsed.negative && parsed.magnitude != 0) {
    return {.outcome = NumberTextOutcome::OutOfRange};
  }
  return {.outcome = NumberTextOutcome::Ok, .value = parsed.magnitude};
}

NumberTextResult<double> ParseDoubleText(std::string_view text) noexcept {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  if (status == std::errc::invalid_argument || stop != end) {
    return {.outcome = NumberTextOutcome::IncorrectFormat};
  }
  if (status != std::errc()) {
    return {.outcome = NumberTextOutcome::OutOfRange};
  }
  return {.outcome = NumberTextOutcome::Ok, .value = value};
}

}  // namespace Nalo::detail
