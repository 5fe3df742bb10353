#include "platform/HeadlessWindows.h"

#include <charconv>
#include <cstdlib>

#include "platform/src/ProcessFiles.h"

namespace Nalo {
namespace {

constexpr std::string_view kWindowFilePrefix = "window.";

// A line of numbers separated by single spaces, at most kMaxNumbers of them;
// nothing for anything else.
constexpr std::size_t kMaxNumbers = 3;
struct Numbers {
  std::uint64_t values[kMaxNumbers] = {};
  std::size_t count = 0;
};
std::optional<Numbers> ParseNumbers(std::string_view text) {
  if (text.ends_with('\n')) {
    text.remove_suffix(1);
  }
  Numbers numbers;
  const char* next = text.data();
  const char* const end = text.data() + text.size();
  while (next != end && numbers.count < kMaxNumbers) {
    if (numbers.count > 0 && *next++ != ' ') {
      return std::nullopt;
    }
    const auto [after, error] = std::from_chars(next, end, numbers.values[numbers.count]);
    if (error != std::errc()) {
      return std::nullopt;
    }
    next = after;
    ++numbers.count;
  }
  if (next != end || numbers.count == 0) {
    return std::nullopt;
  }
  return numbers;
}

}  // namespace

std::optional<HeadlessWindows> HeadlessWindows::FromEnvironment() {
  const char* directory = std::getenv(std::string(kDirectoryVariable).c_str());
  if (directory == nullptr || directory[0] == '\0') {
    return std::nullopt;
  }
  return HeadlessWindows(directory);
}

ProcessWindowState HeadlessWindows::WindowOf(std::uint32_t pid) const {
  if (!OpenWindowToken(pid)) {
    return ProcessWindowState::None;
  }
  return ForegroundProcess() == pid ? ProcessWindowState::Foreground
                                    : ProcessWindowState::Background;
}

std::optional<std::uint32_t> HeadlessWindows::ForegroundProcess() const {
  const std::optional<std::string> text = detail::ReadSmallFile(FilePath(kForegroundFileName));
  const std::optional<Numbers> record = text ? ParseNumbers(*text) : std::nullopt;
  if (!record || record->count != 2 || record->values[0] > UINT32_MAX) {
    return std::nullopt;
  }
  const auto pid = static_cast<std::uint32_t>(record->values[0]);
  if (OpenWindowToken(pid) != record->values[1]) {
    return std::nullopt;  // closed, or closed and opened again since
  }
  return pid;
}

std::optional<std::uint64_t> HeadlessWindows::OpenWindowToken(std::uint32_t pid) const {
  if (pid == 0) {
    return std::nullopt;
  }
  const std::optional<std::string> text = detail::ReadSmallFile(FilePath(WindowFileName(pid)));
  const std::optional<Numbers> record = text ? ParseNumbers(*text) : std::nullopt;
  // A window outlives nothing: when its process has ended, or the pid now
  // names a process started at another time, the window is gone.
  if (!record || record->count != 3 || record->values[0] != pid ||
      detail::ProcessStartTime(pid) != record->values[1]) {
    return std::nullopt;
  }
  return record->values[2];
}

std::string HeadlessWindows::FilePath(std::string_view name) const {
  std::string path = mDirectory;
  path.push_back('/');
  path.append(name);
  return path;
}

std::string HeadlessWindows::WindowFileName(std::uint32_t pid) {
  return std::string(kWindowFilePrefix) + std::to_string(pid);
}

std::optional<std::string> HeadlessWindows::WindowRecord(std::uint32_t pid, std::uint64_t token) {
  const std::optional<std::uint64_t> startTime = detail::ProcessStartTime(pid);
  if (!startTime) {
    return std::nullopt;
  }
  return std::to_string(pid) + " " + std::to_string(*startTime) + " " + std::to_string(token) +
         "\n";
}

std::string HeadlessWindows::ForegroundRecord(std::uint32_t pid, std::uint64_t token) {
  return std::to_string(pid) + " " + std::to_string(token) + "\n";
}

}  // namespace Nalo
