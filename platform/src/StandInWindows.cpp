#include "platform/StandInWindows.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "diagnostics/SystemError.h"
#include "platform/src/ProcessFiles.h"

namespace Nalo {
namespace {

// The files of the folder.
constexpr std::string_view kWindowFilePrefix = "window.";
constexpr std::string_view kForegroundFileName = "foreground";

// Messages.
constexpr std::string_view kWriteFailed = "Could not write the stand-in window file '";
constexpr std::string_view kRemoveFailed = "Could not remove the stand-in window file '";
constexpr std::string_view kNoProcess = "Cannot open a window for process ";
constexpr std::string_view kNoWindow = "Process {pid} has no open window.";

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  path.push_back('/');
  path.append(name);
  return path;
}

std::string WindowFileName(std::uint32_t pid) {
  return std::string(kWindowFilePrefix) + std::to_string(pid);
}

// Writes `content` to a fresh temporary file in `directory` and renames it to
// `name`, so that readers see the old file or the whole new one.
MaybeType<Failure, void> ReplaceFile(const std::string& directory, std::string_view name,
                                     std::string_view content) {
  static std::atomic<std::uint64_t> sequence{0};
  if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
    return Failure::FromLastSystemError(std::string(kWriteFailed) + directory + "'");
  }
  const std::string target = JoinPath(directory, name);
  const std::string temporary = JoinPath(
      directory, "." + std::string(name) + "." + std::to_string(getpid()) + "." +
                     std::to_string(sequence.fetch_add(1, std::memory_order_relaxed)) + ".tmp");
  const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (file < 0) {
    return Failure::FromLastSystemError(std::string(kWriteFailed) + temporary + "'");
  }
  const bool written = detail::WriteAll(file, content);
  const std::uint32_t writeError = LastSystemError();
  close(file);
  if (!written) {
    unlink(temporary.c_str());
    return Failure::FromSystemError(writeError, std::string(kWriteFailed) + temporary + "'");
  }
  if (rename(temporary.c_str(), target.c_str()) != 0) {
    const std::uint32_t renameError = LastSystemError();
    unlink(temporary.c_str());
    return Failure::FromSystemError(renameError, std::string(kWriteFailed) + target + "'");
  }
  return {};
}

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

// Tells this opening of a window from every other one of the same process, so
// that a foreground file naming an earlier opening does not bring a reopened
// window forward.
std::uint64_t NewWindowToken() {
  static std::atomic<std::uint64_t> sequence{0};
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000U +
         static_cast<std::uint64_t>(now.tv_nsec) + sequence.fetch_add(1);
}

}  // namespace

std::optional<StandInWindows> StandInWindows::FromEnvironment() {
  const char* directory = std::getenv(std::string(kDirectoryVariable).c_str());
  if (directory == nullptr || directory[0] == '\0') {
    return std::nullopt;
  }
  return StandInWindows(directory);
}

MaybeType<Failure, void> StandInWindows::OpenWindow(std::uint32_t pid) const {
  const std::optional<std::uint64_t> startTime = detail::ProcessStartTime(pid);
  if (!startTime) {
    return Failure::FromSystemError(ESRCH, std::string(kNoProcess) + std::to_string(pid));
  }
  if (IsWindowOpen(pid)) {
    return {};
  }
  return ReplaceFile(mDirectory, WindowFileName(pid),
                     std::to_string(pid) + " " + std::to_string(*startTime) + " " +
                         std::to_string(NewWindowToken()) + "\n");
}

MaybeType<Failure, void> StandInWindows::CloseWindow(std::uint32_t pid) const {
  // The foreground file may keep naming the closed window: a closed window is
  // never in the foreground, so nothing else needs to change.
  const std::string path = JoinPath(mDirectory, WindowFileName(pid));
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    return Failure::FromLastSystemError(std::string(kRemoveFailed) + path + "'");
  }
  return {};
}

MaybeType<Failure, void> StandInWindows::BringToForeground(std::uint32_t pid) const {
  const std::optional<std::uint64_t> token = OpenWindowToken(pid);
  if (!token) {
    return Failure(404, kNoWindow, {{"pid", pid}});
  }
  return ReplaceFile(mDirectory, kForegroundFileName,
                     std::to_string(pid) + " " + std::to_string(*token) + "\n");
}

MaybeType<Failure, void> StandInWindows::ClearForeground() const {
  return ReplaceFile(mDirectory, kForegroundFileName, "");
}

ProcessWindowState StandInWindows::WindowOf(std::uint32_t pid) const {
  if (!IsWindowOpen(pid)) {
    return ProcessWindowState::None;
  }
  return ForegroundProcess() == pid ? ProcessWindowState::Foreground
                                    : ProcessWindowState::Background;
}

std::optional<std::uint32_t> StandInWindows::ForegroundProcess() const {
  const std::optional<std::string> text =
      detail::ReadSmallFile(JoinPath(mDirectory, kForegroundFileName));
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

bool StandInWindows::IsWindowOpen(std::uint32_t pid) const {
  return OpenWindowToken(pid).has_value();
}

std::optional<std::uint64_t> StandInWindows::OpenWindowToken(std::uint32_t pid) const {
  if (pid == 0) {
    return std::nullopt;
  }
  const std::optional<std::string> text =
      detail::ReadSmallFile(JoinPath(mDirectory, WindowFileName(pid)));
  const std::optional<Numbers> record = text ? ParseNumbers(*text) : std::nullopt;
  // A window outlives nothing: when its process has ended, or the pid now
  // names a process started at another time, the window is gone.
  if (!record || record->count != 3 || record->values[0] != pid ||
      detail::ProcessStartTime(pid) != record->values[1]) {
    return std::nullopt;
  }
  return record->values[2];
}

}  // namespace Nalo
