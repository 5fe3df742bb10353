#pragma once
// UTF-8 inside, UTF-16 at the Win32 calls: the two conversions the Windows
// side of the platform layer makes, and the file name at the end of a path.
// Windows only.

#include <windows.h>

#include <string>
#include <string_view>

namespace Nalo::detail::Utf16 {

// UTF-8 to UTF-16; false for text that is not UTF-8.
inline bool ToWide(std::string_view text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) {
    return true;
  }
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) {
    return false;
  }
  wide.resize(static_cast<std::size_t>(length));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), wide.data(), length) == length;
}

// UTF-16 to UTF-8; empty for text that does not convert.
inline std::string ToUtf8(std::wstring_view wide) {
  if (wide.empty()) {
    return {};
  }
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    return {};
  }
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                      nullptr, nullptr);
  return text;
}

// The name after a path's last separator ('\\' or '/'), in UTF-8.
inline std::string FileNameUtf8(std::wstring_view path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  return ToUtf8(separator == std::wstring_view::npos ? path : path.substr(separator + 1));
}

}  // namespace Nalo::detail::Utf16
