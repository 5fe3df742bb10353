#pragma once
// The operating-system services under the diagnostics library.
//
// The diagnostics library reaches the system only through these functions, so
// that a port replaces one source file. src/PlatformPosix.cpp implements them
// for POSIX systems.

#include <cstddef>
#include <cstdint>
#include <string>

#include "diagnostics/LogRecord.h"

namespace Nalo::detail::Platform {

// The running program's file name without its directory; empty when unknown.
[[nodiscard]] std::string ExecutableFileName();

// Copies the system's text for `code` into `buffer` (NUL-terminated, cut to
// `size`). Returns false, leaving the buffer unspecified, when the system has
// no text for the code. `size` must be at least 1.
bool SystemMessageText(std::uint32_t code, char* buffer, std::size_t size) noexcept;

// The calling thread's last system error code.
[[nodiscard]] std::uint32_t LastErrorCode() noexcept;

// An id of the calling thread, for the "#T" log format code.
[[nodiscard]] const void* CurrentThreadId() noexcept;

// The current local time.
[[nodiscard]] LocalTime LocalTimeNow() noexcept;

// Writes one line (NUL-terminated) to the attached debugger's console.
void WriteToDebugger(const char* line) noexcept;

// Registers the plugin's event-tracing providers; called once at start-up.
void RegisterTraceProviders() noexcept;

}  // namespace Nalo::detail::Platform
