#include "routing/PercentDecoding.h"

#include <cstddef>

namespace Nalo {

namespace {

int HexValue(char c) noexcept {
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

}  // namespace

std::string percentDecode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      decoded += ' ';
    } else if (c != '%') {
      decoded += c;
    } else if (text.size() - i - 1 < 2) {
      // Fewer than two characters follow: the "%" is dropped, the rest is
      // read as usual.
      continue;
    } else {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) {
        // Not an escape: keep it as written rather than invent a byte.
        decoded.append(text.substr(i, 3));
      } else {
        decoded += static_cast<char>(high * 16 + low);
      }
      i += 2;
    }
  }
  return decoded;
}

}  // namespace Nalo
