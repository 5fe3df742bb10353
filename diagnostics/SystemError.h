#pragma once
// System error codes and their texts.
//
// The operating system reports failures as numeric codes (errno on POSIX
// systems). These helpers read the calling thread's last code and turn a code
// into the system's message text, for log lines and for Failure values.
//
//   char text[256];
//   Nalo::Log(..., "open failed: %s", Nalo::SystemErrorText(code, text, sizeof text));

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Nalo {

// Written when the system has no text for a code.
inline constexpr std::string_view kNoSystemErrorText = "Failed to get error text";

// The calling thread's last system error code.
[[nodiscard]] std::uint32_t LastSystemError() noexcept;

// Fills `buffer` with the system's message text for `code` and returns
// `buffer`. When the system has no text for it (on glibc: unknown codes, which
// it describes as "Unknown error N"), the text is "Failed to get error text".
// The text is cut to size - 1 characters and NUL-terminated; with size 0 the
// buffer is left untouched.
char* SystemErrorText(std::uint32_t code, char* buffer, std::size_t size) noexcept;

// The same text as an owned string.
[[nodiscard]] std::string SystemErrorText(std::uint32_t code);

}  // namespace Nalo
