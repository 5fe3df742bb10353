#include "diagnostics/SystemError.h"

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"

namespace Nalo {
namespace {

// Longer than any system text we know of; longer texts are cut.
constexpr std::size_t kSystemTextCapacity = 512;

}  // namespace

std::uint32_t LastSystemError() noexcept {
  return detail::Platform::LastErrorCode();
}

char* SystemErrorText(std::uint32_t code, char* buffer, std::size_t size) noexcept {
  if (size == 0) {
    return buffer;
  }
  if (!detail::Platform::SystemMessageText(code, buffer, size)) {
    const std::size_t length = std::min(kNoSystemErrorText.size(), size - 1);
    std::memcpy(buffer, kNoSystemErrorText.data(), length);
    buffer[length] = '\0';
  }
  return buffer;
}

std::string SystemErrorText(std::uint32_t code) {
  char text[kSystemTextCapacity];
  return std::string(SystemErrorText(code, text, sizeof text));
}

}  // namespace Nalo
