// The stand-in game client: a small program that the gameflow launches in the
// game client's place (built as "Tavora.exe"). It records what it was started
// with, opens its stand-in window, brings it to the foreground, and then ends
// the way its control file says. docs/processes-and-windows.md describes its
// files.
//
// It takes no options of its own: every argument is the launcher's and is only
// recorded. Its folder is the one that NALO_STAND_IN_CLIENT_DIR names, or else
// the folder of the program itself.

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#ifndef _WIN32
#include "tools/stand-in-client/StandInWindows.h"
#endif

namespace {

constexpr const char* kDirectoryVariable = "NALO_STAND_IN_CLIENT_DIR";
constexpr std::string_view kControlFileName = "stand-in-client.cfg";
constexpr std::string_view kRecordFileName = "stand-in-client.record";
constexpr std::string_view kCommandFilePrefix = "stand-in-client.";
constexpr std::string_view kCommandFileSuffix = ".command";
// Relative to the working directory: the file the launcher writes the game's
// locale into.
constexpr const char* kLocaleFile = "data/cfg/defaults/locale.cfg";
// How often a waiting client looks for a command file.
constexpr std::chrono::milliseconds kCommandPollInterval{5};
constexpr std::size_t kMaxFileSize = 64 * 1024;
// The exit code of a client whose control file or command it cannot follow.
constexpr int kBadControlExitCode = 2;

// How the client ends once its window is up.
struct Ending {
  enum class Kind { Wait, Exit, CrashSegv, CrashAbort, Hang };
  Kind kind = Kind::Wait;
  int exitCode = 0;
};

struct Control {
  std::int64_t windowDelayMilliseconds = 0;
  bool openWindow = true;
  bool bringToForeground = true;
  std::int64_t endDelayMilliseconds = 0;
  Ending ending;
};

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

std::string_view Trim(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) {
    return {};
  }
  const std::size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

std::optional<std::int64_t> ParseNumber(std::string_view text) {
  std::int64_t value = 0;
  const auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || next != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<bool> ParseYesNo(std::string_view text) {
  if (text == "yes") {
    return true;
  }
  if (text == "no") {
    return false;
  }
  return std::nullopt;
}

// "wait", "exit <code>", "crash segv", "crash abort" or "hang".
std::optional<Ending> ParseEnding(std::string_view text) {
  if (text == "wait") {
    return Ending{};
  }
  if (text == "hang") {
    return Ending{.kind = Ending::Kind::Hang};
  }
  if (text == "crash segv") {
    return Ending{.kind = Ending::Kind::CrashSegv};
  }
  if (text == "crash abort") {
    return Ending{.kind = Ending::Kind::CrashAbort};
  }
  if (text.starts_with("exit ")) {
    const std::optional<std::int64_t> code = ParseNumber(Trim(text.substr(5)));
    if (code && *code >= 0 && *code <= 255) {
      return Ending{.kind = Ending::Kind::Exit, .exitCode = static_cast<int>(*code)};
    }
  }
  return std::nullopt;
}

// Lines "key = value"; blank lines and lines starting with '#' are skipped.
// The text of the first line it cannot follow, on failure.
std::optional<std::string> ParseControl(std::string_view text, Control& control) {
  while (!text.empty()) {
    const std::size_t lineEnd = std::min(text.find('\n'), text.size());
    const std::string_view line = Trim(text.substr(0, lineEnd));
    text.remove_prefix(std::min(lineEnd + 1, text.size()));
    if (line.empty() || line.front() == '#') {
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return std::string(line);
    }
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    bool understood = false;
    if (key == "window-delay-ms" || key == "end-delay-ms") {
      const std::optional<std::int64_t> delay = ParseNumber(value);
      understood = delay && *delay >= 0;
      (key == "window-delay-ms" ? control.windowDelayMilliseconds : control.endDelayMilliseconds) =
          delay.value_or(0);
    } else if (key == "window" || key == "foreground") {
      const std::optional<bool> flag = ParseYesNo(value);
      understood = flag.has_value();
      (key == "window" ? control.openWindow : control.bringToForeground) = flag.value_or(false);
    } else if (key == "end") {
      const std::optional<Ending> ending = ParseEnding(value);
      understood = ending.has_value();
      control.ending = ending.value_or(Ending{});
    }
    if (!understood) {
      return std::string(line);
    }
  }
  return std::nullopt;
}

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

#ifdef _WIN32
std::wstring Wide(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end())).wstring();
}

std::string Utf8(const std::wstring& text) {
  const std::u8string bytes = std::filesystem::path(text).u8string();
  return std::string(bytes.begin(), bytes.end());
}

// Appends one line to the record in a single write, so that lines of
// clients that run at the same time do not mix.
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
// Appends one line to the record in a single write, so that lines of
// clients that run at the same time do not mix. The record holds the game's
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

std::string EventRecord(std::string_view event, std::string_view detail = {}) {
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

void SleepMilliseconds(std::int64_t milliseconds) {
  if (milliseconds > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

// Ends the client as `ending` says (one for each system, below).
[[noreturn]] void Finish(const Ending& ending);

// Records and carries out the first line of a command file: a window
// command, or an ending other than "wait"; anything else is recorded as a
// bad command.
template <class Client>
void Obey(Client& client, const std::string& directory, std::string_view command) {
  const std::string_view text = Trim(command);
  const std::string_view firstLine = Trim(text.substr(0, std::min(text.find('\n'), text.size())));
  AppendRecordLine(directory, EventRecord("command", firstLine));
  if (firstLine == "open-window") {
    client.OpenWindow(false);
  } else if (firstLine == "foreground") {
    client.BringToForeground();
  } else if (firstLine == "close-window") {
    client.CloseWindow();
  } else if (const std::optional<Ending> ending = ParseEnding(firstLine);
             ending && ending->kind != Ending::Kind::Wait) {
    Finish(*ending);
  } else {
    AppendRecordLine(directory, EventRecord("bad-command", firstLine));
  }
}

#ifdef _WIN32
// The ends as Windows knows them: an access violation (0xC0000005) for a
// crash, abort's exit code 3, or an exit code.
[[noreturn]] void Finish(const Ending& ending) {
  switch (ending.kind) {
    case Ending::Kind::Exit:
    case Ending::Kind::Wait:
      std::_Exit(ending.exitCode);
    case Ending::Kind::CrashSegv: {
      SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
      volatile int* nowhere = nullptr;
      *nowhere = 1;
      break;
    }
    case Ending::Kind::CrashAbort:
      std::abort();
    case Ending::Kind::Hang:
      break;
  }
  for (;;) {
    Sleep(INFINITE);
  }
}

// The client's window is a real one: the gameflow finds it by the client's
// pid, and sees it visible and in front.
class Client {
 public:
  explicit Client(std::string directory) : mDirectory(std::move(directory)) {}

  void OpenWindow(bool bringToForeground) {
    if (mWindow == nullptr) {
      HINSTANCE instance = GetModuleHandleW(nullptr);
      WNDCLASSW windowClass{};
      windowClass.lpfnWndProc = DefWindowProcW;
      windowClass.hInstance = instance;
      windowClass.lpszClassName = L"TavoraStandInClient";
      RegisterClassW(&windowClass);
      mWindow =
          CreateWindowExW(0, L"TavoraStandInClient", L"Tavora", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                          CW_USEDEFAULT, 640, 480, nullptr, nullptr, instance, nullptr);
      if (mWindow == nullptr) {
        AppendRecordLine(mDirectory,
                         EventRecord("window-failed", "error " + std::to_string(GetLastError())));
        return;
      }
    }
    ShowWindow(mWindow, SW_SHOWNORMAL);
    Pump();
    AppendRecordLine(mDirectory, EventRecord("window-opened"));
    if (bringToForeground) {
      BringToForeground();
    }
  }

  void BringToForeground() {
    if (mWindow == nullptr || !SetForegroundWindow(mWindow)) {
      AppendRecordLine(mDirectory, EventRecord("foreground-failed", "no window to bring forward"));
      return;
    }
    Pump();
    AppendRecordLine(mDirectory, EventRecord("foreground"));
  }

  void CloseWindow() {
    if (mWindow != nullptr) {
      DestroyWindow(mWindow);
      mWindow = nullptr;
    }
  }

  // Follows command files until one ends the client, handling the window's
  // messages meanwhile.
  [[noreturn]] void FollowCommands() {
    const std::string path = mDirectory + "/" + std::string(kCommandFilePrefix) +
                             std::to_string(OwnPid()) + std::string(kCommandFileSuffix);
    for (;;) {
      Pump();
      std::optional<std::string> command = ReadFile(path);
      if (!command) {
        std::this_thread::sleep_for(kCommandPollInterval);
        continue;
      }
      DeleteFileW(Wide(path).c_str());
      Obey(*this, mDirectory, *command);
    }
  }

 private:
  static void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  std::string mDirectory;
  HWND mWindow = nullptr;
};
#else
[[noreturn]] void Finish(const Ending& ending) {
  // A crash must not leave a core file in the game's folder.
  const rlimit noCore{.rlim_cur = 0, .rlim_max = 0};
  switch (ending.kind) {
    case Ending::Kind::Exit:
    case Ending::Kind::Wait:
      std::_Exit(ending.exitCode);
    case Ending::Kind::CrashSegv:
      setrlimit(RLIMIT_CORE, &noCore);
      signal(SIGSEGV, SIG_DFL);
      raise(SIGSEGV);
      break;
    case Ending::Kind::CrashAbort:
      setrlimit(RLIMIT_CORE, &noCore);
      std::abort();
    case Ending::Kind::Hang:
      break;
  }
  for (;;) {
    pause();
  }
}

class Client {
 public:
  Client(std::string directory, std::optional<Nalo::StandInWindows> windows)
      : mDirectory(std::move(directory)), mWindows(std::move(windows)) {}

  void OpenWindow(bool bringToForeground) {
    if (!mWindows) {
      return;
    }
    if (auto opened = mWindows->OpenWindow(static_cast<std::uint32_t>(getpid()));
        opened.HasFailure()) {
      AppendRecordLine(mDirectory, EventRecord("window-failed", opened.GetFailure().Text()));
      return;
    }
    AppendRecordLine(mDirectory, EventRecord("window-opened"));
    if (bringToForeground) {
      BringToForeground();
    }
  }

  void BringToForeground() {
    if (!mWindows) {
      return;
    }
    if (auto raised = mWindows->BringToForeground(static_cast<std::uint32_t>(getpid()));
        raised.HasFailure()) {
      AppendRecordLine(mDirectory, EventRecord("foreground-failed", raised.GetFailure().Text()));
      return;
    }
    AppendRecordLine(mDirectory, EventRecord("foreground"));
  }

  void CloseWindow() {
    if (mWindows) {
      static_cast<void>(mWindows->CloseWindow(static_cast<std::uint32_t>(getpid())).HasFailure());
    }
  }

  // Follows command files until one ends the client.
  [[noreturn]] void FollowCommands() {
    const std::string path = mDirectory + "/" + std::string(kCommandFilePrefix) +
                             std::to_string(getpid()) + std::string(kCommandFileSuffix);
    for (;;) {
      std::optional<std::string> command = ReadFile(path);
      if (!command) {
        std::this_thread::sleep_for(kCommandPollInterval);
        continue;
      }
      unlink(path.c_str());
      Obey(*this, mDirectory, *command);
    }
  }

 private:
  std::string mDirectory;
  std::optional<Nalo::StandInWindows> mWindows;
};

#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The arguments as the launcher passed them, in UTF-8: the one command
  // line split by the system's own rules.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> texts;
  for (int index = 0; wide != nullptr && index < count; ++index) {
    texts.push_back(Utf8(wide[index]));
  }
  LocalFree(wide);
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  argc = static_cast<int>(pointers.size());
  argv = pointers.data();
#endif
  const std::string directory = OwnDirectory();
  AppendRecordLine(directory, StartRecord(argc, argv));

  Control control;
  if (const std::optional<std::string> text =
          ReadFile(directory + "/" + std::string(kControlFileName))) {
    if (const std::optional<std::string> badLine = ParseControl(*text, control)) {
      AppendRecordLine(directory, EventRecord("bad-control", *badLine));
      return kBadControlExitCode;
    }
  }

#ifdef _WIN32
  Client client(directory);
#else
  Client client(directory, Nalo::StandInWindows::FromEnvironment());
#endif
  if (control.openWindow) {
    SleepMilliseconds(control.windowDelayMilliseconds);
    client.OpenWindow(control.bringToForeground);
  }
  SleepMilliseconds(control.endDelayMilliseconds);
  if (control.ending.kind == Ending::Kind::Wait) {
    client.FollowCommands();
  }
  Finish(control.ending);
}
