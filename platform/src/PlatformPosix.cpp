// POSIX implementation of the platform calls under the diagnostics library.

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>

#include "platform/Clock.h"
#include "platform/Platform.h"

namespace Nalo::detail::Platform {
namespace {

constexpr const char* kSelfExecutableLink = "/proc/self/exe";
// glibc describes every code it does not know this way; such a code has no
// system text.
constexpr std::string_view kUnknownErrorPrefix = "Unknown error";

// strerror_r comes in two shapes: the GNU one returns the text (which may or
// may not be the buffer), the XSI one returns 0 and fills the buffer.
[[maybe_unused]] const char* ErrorTextResult(const char* result, const char* /*buffer*/) {
  return result;
}
[[maybe_unused]] const char* ErrorTextResult(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}

}  // namespace

std::string ExecutableFileName() {
  char path[4096];
  const ssize_t length = readlink(kSelfExecutableLink, path, sizeof path - 1);
  if (length <= 0) {
    return {};
  }
  const std::string_view fullPath(path, static_cast<std::size_t>(length));
  const std::size_t slash = fullPath.rfind('/');
  return std::string(slash == std::string_view::npos ? fullPath : fullPath.substr(slash + 1));
}

bool SystemMessageText(std::uint32_t code, char* buffer, std::size_t size) noexcept {
  char text[256];
  text[0] = '\0';
  const char* result = ErrorTextResult(strerror_r(static_cast<int>(code), text, sizeof text), text);
  if (result == nullptr || result[0] == '\0' ||
      std::string_view(result).starts_with(kUnknownErrorPrefix)) {
    return false;
  }
  const std::size_t length = std::min(std::strlen(result), size - 1);
  std::memcpy(buffer, result, length);
  buffer[length] = '\0';
  return true;
}

std::uint32_t LastErrorCode() noexcept {
  return static_cast<std::uint32_t>(errno);
}

const void* CurrentThreadId() noexcept {
  // pthread_t is an integer or a pointer depending on the system; either way it
  // identifies the thread while the thread runs.
  return reinterpret_cast<const void*>(pthread_self());  // NOLINT(performance-no-int-to-ptr)
}

LocalTime LocalTimeNow() noexcept {
  // Read through the wall clock, so that an installed clock override (a
  // test host's virtual time) dates log lines too.
  const std::uint64_t milliseconds = NowMillisecondsSinceEpoch();
  timespec now{};
  now.tv_sec = static_cast<time_t>(milliseconds / 1000);
  now.tv_nsec = static_cast<long>(milliseconds % 1000) * 1'000'000;
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return LocalTime{.year = local.tm_year + 1900,
                   .month = local.tm_mon + 1,
                   .day = local.tm_mday,
                   .hour = local.tm_hour,
                   .minute = local.tm_min,
                   .second = local.tm_sec,
                   .millisecond = static_cast<std::int32_t>(now.tv_nsec / 1'000'000)};
}

// POSIX systems have no debugger console that a process writes to: a debugger
// reads a program's output like anyone else. The debugger target still filters
// and renders its lines, and they end here.
void WriteToDebugger(const char* /*line*/) noexcept {}

// There is no system event-tracing service to register with on POSIX systems,
// so tracing stays off, as it does on a system whose tracing library or entry
// points are missing.
void RegisterTraceProviders() noexcept {}

}  // namespace Nalo::detail::Platform
