#pragma once
// The value of a digit character in any base up to 16, for the readers of
// numbers and escapes in text (integers with automatic base, percent
// escapes, index paths).

namespace Nalo {

// 0 to 15 for '0'-'9', 'a'-'f' and 'A'-'F'; -1 for every other character.
[[nodiscard]] constexpr int DigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') {
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

}  // namespace Nalo
