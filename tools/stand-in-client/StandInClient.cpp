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

#include "tools/stand-in-client/ClientControl.h"
#include "tools/stand-in-client/ClientRecord.h"
#ifndef _WIN32
#include "tools/stand-in-client/StandInWindows.h"
#endif

namespace {

using namespace Nalo::StandIn;

constexpr std::string_view kCommandFilePrefix = "stand-in-client.";
constexpr std::string_view kCommandFileSuffix = ".command";
// How often a waiting client looks for a command file.
constexpr std::chrono::milliseconds kCommandPollInterval{5};
constexpr std::string_view kControlFileName = "stand-in-client.cfg";
// The exit code of a client whose control file or command it cannot follow.
constexpr int kBadControlExitCode = 2;

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
