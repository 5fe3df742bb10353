#include "tools/stand-in-client/ClientRecord.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace Nalo::StandIn {

namespace {

constexpr const char* kDirectoryVariable = "NALO_STAND_IN_CLIENT_DIR";
constexpr std::string_view kRecordFileName = "stand-in-client.record";
// Relative to the working directory: the file the launcher writes the game's
// locale into.
constexpr const char* kLocaleFile = "data/cfg/defaults/locale.cfg";
constexpr std::size_t kMaxFileSize = std::size_t{64} * 1024;

void AppendJsonString(std::string& out, std::string_view text) {
  out.push_back('"');
  for (const char character : text) {
    switch (character) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default:
        if (static_cast<unsigned char>(character) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(character));
          out.append(escaped);
        } else {
          out.push_back(character);
        }
    }
  }
  out.push_back('"');
}

}  // namespace

std::optional<std::string> ReadFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return std::nullopt;
  }
  std::string content;
  char buffer[4096];
  std::size_t got = 0;
  while (content.size() < kMaxFileSize && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    content.append(buffer, got);
  }
  std::fclose(file);
  return content;
}

#ifdef _WIN32
std::wstring Wide(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end())).wstring();
}

std::string Utf8(const std::wstring& text) {
  const std::u8string bytes = std::filesystem::path(text).u8string();
  return std::string(bytes.begin(), bytes.end());
}

void AppendRecordLine(const std::string& directory, std::string line) {
  line.push_back('\n');
  const std::wstring path = Wide(directory + "/" + std::string(kRecordFileName));
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;  // nowhere to record to; the launcher sees no record line
  }
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

int OwnPid() {
  return static_cast<int>(GetCurrentProcessId());
}
#else
// The record holds the game's
// encryption key and the auth token (the arguments): it is its owner's
// alone, also when an older record was made readable to others.
void AppendRecordLine(const std::string& directory, std::string line) {
  line.push_back('\n');
  const std::string path = directory + "/" + std::string(kRecordFileName);
  const int file = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (file < 0) {
    return;  // nowhere to record to; the launcher sees no record line
  }
  fchmod(file, 0600);
  [[maybe_unused]] const ssize_t written = write(file, line.data(), line.size());
  close(file);
}

int OwnPid() {
  return static_cast<int>(getpid());
}
#endif

std::string StartRecord(int argc, char** argv) {
  std::string line = "{\"pid\":" + std::to_string(OwnPid()) + ",\"program\":";
  AppendJsonString(line, argc > 0 ? argv[0] : "");
  line.append(",\"arguments\":[");
  for (int index = 1; index < argc; ++index) {
    if (index > 1) {
      line.push_back(',');
    }
    AppendJsonString(line, argv[index]);
  }
  line.append("],\"workingDirectory\":");
#ifdef _WIN32
  wchar_t directory[4096];
  const DWORD length = GetCurrentDirectoryW(4096, directory);
  AppendJsonString(line, length > 0 && length < 4096 ? Utf8(std::wstring(directory, length)) : "");
#else
  char directory[4096];
  AppendJsonString(line, getcwd(directory, sizeof directory) != nullptr ? directory : "");
#endif
  line.append(",\"locale\":");
  if (const std::optional<std::string> locale = ReadFile(kLocaleFile)) {
    AppendJsonString(line, *locale);
  } else {
    line.append("null");
  }
  line.push_back('}');
  return line;
}

std::string EventRecord(std::string_view event, std::string_view detail) {
  std::string line = "{\"pid\":" + std::to_string(OwnPid()) + ",\"event\":";
  AppendJsonString(line, event);
  if (!detail.empty()) {
    line.append(",\"detail\":");
    AppendJsonString(line, detail);
  }
  line.push_back('}');
  return line;
}

std::string OwnDirectory() {
  if (const char* directory = std::getenv(kDirectoryVariable);
      directory != nullptr && directory[0] != '\0') {
    return directory;
  }
#ifdef _WIN32
  wchar_t path[4096];
  const DWORD length = GetModuleFileNameW(nullptr, path, 4096);
  if (length == 0 || length >= 4096) {
    return ".";
  }
  return Utf8(std::filesystem::path(std::wstring(path, length)).parent_path().wstring());
#else
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) {
    return ".";
  }
  const std::string_view full(path, static_cast<std::size_t>(length));
  const std::size_t slash = full.rfind('/');
  return slash == std::string_view::npos ? std::string(".") : std::string(full.substr(0, slash));
#endif
}

}  // namespace Nalo::StandIn
