#include "platform/src/ProcessFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>

namespace Nalo::detail {
namespace {

constexpr std::size_t kMaxSmallFileSize = std::size_t{64} * 1024;
constexpr std::string_view kProcSelfStat = "/proc/self/stat";
// Fields of /proc/<pid>/stat after the command name's closing parenthesis:
// the state is the first, the start time the twentieth.
constexpr std::size_t kStartTimeFieldAfterName = 19;
// A link to a program whose file was removed or replaced ends in this.
constexpr std::string_view kDeletedSuffix = " (deleted)";

}  // namespace

bool IsValidPid(std::uint32_t pid) noexcept {
  return pid != 0 && pid <= static_cast<std::uint32_t>(INT_MAX);
}

bool WriteAll(int file, std::string_view data) noexcept {
  while (!data.empty()) {
    const ssize_t written = write(file, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    return std::nullopt;
  }
  std::string content;
  char buffer[4096];
  while (content.size() < kMaxSmallFileSize) {
    const ssize_t got = read(file, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      close(file);
      return std::nullopt;
    }
    if (got == 0) {
      break;
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
  close(file);
  return content;
}

std::optional<std::uint64_t> ProcessStartTime(std::uint32_t pid) {
  if (!IsValidPid(pid)) {
    return std::nullopt;
  }
  const std::optional<std::string> stat = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) {
    if (ReadSmallFile(std::string(kProcSelfStat))) {
      return std::nullopt;  // /proc works: there is no such process
    }
    const bool exists = kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
    return exists ? std::optional<std::uint64_t>(0) : std::nullopt;
  }
  // The command name may hold spaces and parentheses; it ends at the last ')'.
  const std::size_t nameEnd = stat->rfind(')');
  if (nameEnd == std::string::npos) {
    return std::nullopt;
  }
  std::string_view fields = std::string_view(*stat).substr(nameEnd + 1);
  std::uint64_t startTime = 0;
  for (std::size_t index = 0; index <= kStartTimeFieldAfterName; ++index) {
    const std::size_t begin = fields.find_first_not_of(' ');
    if (begin == std::string_view::npos) {
      return std::nullopt;
    }
    fields.remove_prefix(begin);
    const std::size_t end = std::min(fields.find(' '), fields.size());
    const std::string_view field = fields.substr(0, end);
    if (index == 0 && (field == "Z" || field == "X")) {
      return std::nullopt;  // ended; only its parent has not collected it yet
    }
    if (index == kStartTimeFieldAfterName) {
      const auto [next, error] =
          std::from_chars(field.data(), field.data() + field.size(), startTime);
      if (error != std::errc()) {
        return std::nullopt;
      }
    }
    fields.remove_prefix(end);
  }
  return startTime;
}

std::optional<std::string> ProcessExecutableFileName(std::uint32_t pid) {
  if (!IsValidPid(pid)) {
    return std::nullopt;
  }
  char target[4096];
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  const ssize_t length = readlink(link.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
    return std::nullopt;
  }
  std::string_view path(target, static_cast<std::size_t>(length));
  if (path.ends_with(kDeletedSuffix)) {
    path.remove_suffix(kDeletedSuffix.size());
  }
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace Nalo::detail
