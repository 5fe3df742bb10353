#pragma once
// Fills "%1" to "%9" in a runtime text.

#include <initializer_list>
#include <string>
#include <string_view>

namespace Nalo::detail {

// Replaces each "%n" (n from 1 to 9) by the n-th argument; a placeholder
// without an argument stays as written.
[[nodiscard]] inline std::string FillPositional(std::string_view text,
                                                std::initializer_list<std::string_view> arguments) {
  std::string result;
  result.reserve(text.size() + 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      const auto index = static_cast<std::size_t>(text[i + 1] - '1');
      if (index < arguments.size()) {
        result += *(arguments.begin() + index);
        ++i;
        continue;
      }
    }
    result += text[i];
  }
  return result;
}

}  // namespace Nalo::detail
