#include "tools/stand-in-client/StandInWindows.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "diagnostics/SystemError.h"

namespace Nalo {
namespace {

// Messages.
constexpr std::string_view kWriteFailed = "Could not write the stand-in window file '";
constexpr std::string_view kRemoveFailed = "Could not remove the stand-in window file '";
constexpr std::string_view kNoProcess = "Cannot open a window for process ";
constexpr std::string_view kNoWindow = "Process {pid} has no open window.";

// Writes `content` to a fresh temporary file in the folder of `windows` and
// renames it to `name`, so that readers see the old file or the whole new one.
MaybeType<Failure, void> ReplaceFile(const HeadlessWindows& windows, std::string_view name,
                                     std::string_view content) {
  static std::atomic<std::uint64_t> sequence{0};
  const std::string& directory = windows.Directory();
  if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
    return Failure::FromLastSystemError(std::string(kWriteFailed) + directory + "'");
  }
  const std::string target = windows.FilePath(name);
  const std::string temporary =
      windows.FilePath("." + std::string(name) + "." + std::to_string(getpid()) + "." +
                       std::to_string(sequence.fetch_add(1, std::memory_order_relaxed)) + ".tmp");
  // "x": the file is made here, never one that was there.
  std::FILE* file = std::fopen(temporary.c_str(), "wxe");
  if (file == nullptr) {
    return Failure::FromLastSystemError(std::string(kWriteFailed) + temporary + "'");
  }
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  const std::uint32_t writeError = LastSystemError();
  if (std::fclose(file) != 0 || !written) {
    const std::uint32_t error = written ? LastSystemError() : writeError;
    unlink(temporary.c_str());
    return Failure::FromSystemError(error, std::string(kWriteFailed) + temporary + "'");
  }
  if (rename(temporary.c_str(), target.c_str()) != 0) {
    const std::uint32_t renameError = LastSystemError();
    unlink(temporary.c_str());
    return Failure::FromSystemError(renameError, std::string(kWriteFailed) + target + "'");
  }
  return {};
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
  std::optional<HeadlessWindows> windows = HeadlessWindows::FromEnvironment();
  if (!windows) {
    return std::nullopt;
  }
  return StandInWindows(windows->Directory());
}

MaybeType<Failure, void> StandInWindows::OpenWindow(std::uint32_t pid) const {
  if (mWindows.OpenWindowToken(pid)) {
    return {};
  }
  const std::optional<std::string> record = HeadlessWindows::WindowRecord(pid, NewWindowToken());
  if (!record) {
    return Failure::FromSystemError(ESRCH, std::string(kNoProcess) + std::to_string(pid));
  }
  return ReplaceFile(mWindows, HeadlessWindows::WindowFileName(pid), *record);
}

MaybeType<Failure, void> StandInWindows::CloseWindow(std::uint32_t pid) const {
  // The foreground file may keep naming the closed window: a closed window is
  // never in the foreground, so nothing else needs to change.
  const std::string path = mWindows.FilePath(HeadlessWindows::WindowFileName(pid));
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    return Failure::FromLastSystemError(std::string(kRemoveFailed) + path + "'");
  }
  return {};
}

MaybeType<Failure, void> StandInWindows::BringToForeground(std::uint32_t pid) const {
  const std::optional<std::uint64_t> token = mWindows.OpenWindowToken(pid);
  if (!token) {
    return Failure(404, kNoWindow, {{"pid", pid}});
  }
  return ReplaceFile(mWindows, HeadlessWindows::kForegroundFileName,
                     HeadlessWindows::ForegroundRecord(pid, *token));
}

MaybeType<Failure, void> StandInWindows::ClearForeground() const {
  return ReplaceFile(mWindows, HeadlessWindows::kForegroundFileName, "");
}

}  // namespace Nalo
