#include "routing/PercentDecoding.h"

#include <cstddef>

#include "binding/TextDigits.h"

namespace Nalo {

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
      const int high = DigitValue(text[i + 1]);
      const int low = DigitValue(text[i + 2]);
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

std::string_view percentDecode(std::string_view text, std::string& storage) {
  if (text.find_first_of("%+") == std::string_view::npos) {
    return text;
  }
  storage = percentDecode(text);
  return storage;
}

}  // namespace Nalo
