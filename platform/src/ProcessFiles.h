#pragma once
// Small POSIX file and /proc helpers shared by the process layer and the
// headless windows. Private to the diagnostics library.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Nalo::detail {

// Whether `pid` can name a process: not 0 and within pid_t's range.
[[nodiscard]] bool IsValidPid(std::uint32_t pid) noexcept;

// Writes all of `data` to `file`, retrying after interruptions. False (with
// errno set) when a write fails.
bool WriteAll(int file, std::string_view data) noexcept;

// The whole content of a file of at most 64 KiB; nothing when it cannot be read.
[[nodiscard]] std::optional<std::string> ReadSmallFile(const std::string& path);

// When the live (not ended, not a zombie) process `pid` started, in the
// system's clock ticks since boot; 0 on systems without /proc, where any live
// process matches. Nothing when no such live process exists.
[[nodiscard]] std::optional<std::uint64_t> ProcessStartTime(std::uint32_t pid);

// The file name of the program that process `pid` runs, from /proc/<pid>/exe.
[[nodiscard]] std::optional<std::string> ProcessExecutableFileName(std::uint32_t pid);

}  // namespace Nalo::detail
