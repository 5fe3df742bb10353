// Win32 implementation of the platform calls under the diagnostics library.
// Texts cross in UTF-16 (the wide-character calls) and are UTF-8 inside.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/src/Utf16.h"

namespace Nalo::detail::Platform {
namespace {

// 100-nanosecond intervals between 1601-01-01 (FILETIME's origin) and 1970-01-01.
constexpr std::uint64_t kFileTimeAtUnixEpoch = 116'444'736'000'000'000ULL;
constexpr std::uint64_t kFileTimeTicksPerMillisecond = 10'000;
// Paths may exceed MAX_PATH with the long-path prefix; this is the system's limit.
constexpr DWORD kLongestPath = 32'768;

}  // namespace

std::string ExecutableFileName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= kLongestPath) {
      return {};
    }
    path.resize(path.size() * 2);
  }
  return Utf16::FileNameUtf8(path);
}

bool SystemMessageText(std::uint32_t code, char* buffer, std::size_t size) noexcept {
  // Looking a text up sets the thread's last error (to "no such message" for
  // an unknown code); a caller that reads the last error next must still
  // find its own.
  struct KeepLastError {
    DWORD saved = GetLastError();
    ~KeepLastError() { SetLastError(saved); }
  } keep;
  wchar_t text[512];
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, std::size(text), nullptr);
  if (length == 0) {
    return false;
  }
  // The system's texts end with a line break (and often a full stop before it).
  std::wstring_view message(text, length);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.remove_suffix(1);
  }
  if (message.empty()) {
    return false;
  }
  std::string utf8;
  try {
    utf8 = Utf16::ToUtf8(message);
  } catch (...) {
    return false;
  }
  if (utf8.empty()) {
    return false;
  }
  const std::size_t copied = std::min(utf8.size(), size - 1);
  std::memcpy(buffer, utf8.data(), copied);
  buffer[copied] = '\0';
  return true;
}

std::uint32_t LastErrorCode() noexcept {
  return GetLastError();
}

const void* CurrentThreadId() noexcept {
  return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(GetCurrentThreadId()));
}

LocalTime LocalTimeNow() noexcept {
  // Read through the wall clock, so that an installed clock override (a
  // test host's virtual time) dates log lines too.
  const std::uint64_t ticks =
      NowMillisecondsSinceEpoch() * kFileTimeTicksPerMillisecond + kFileTimeAtUnixEpoch;
  FILETIME utc{.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu),
               .dwHighDateTime = static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME universal{};
  SYSTEMTIME local{};
  if (!FileTimeToSystemTime(&utc, &universal) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
    return LocalTime{};
  }
  return LocalTime{.year = local.wYear,
                   .month = local.wMonth,
                   .day = local.wDay,
                   .hour = local.wHour,
                   .minute = local.wMinute,
                   .second = local.wSecond,
                   .millisecond = local.wMilliseconds};
}

void WriteToDebugger(const char* line) noexcept {
  const int length = MultiByteToWideChar(CP_UTF8, 0, line, -1, nullptr, 0);
  if (length <= 0) {
    return;
  }
  wchar_t small[1024];
  if (static_cast<std::size_t>(length) <= std::size(small)) {
    MultiByteToWideChar(CP_UTF8, 0, line, -1, small, length);
    OutputDebugStringW(small);
    return;
  }
  try {
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, line, -1, wide.data(), length);
    OutputDebugStringW(wide.c_str());
  } catch (...) {
  }
}

// The plugin registers no event-tracing providers of its own: tracing stays
// off, as it does on a system whose tracing service is missing.
void RegisterTraceProviders() noexcept {}

}  // namespace Nalo::detail::Platform
