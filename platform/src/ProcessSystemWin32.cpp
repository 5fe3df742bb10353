// The Win32 process layer: CreateProcessW, OpenProcess and
// WaitForSingleObject, and the top-level windows. Every Windows call of the
// process layer is in this file.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ProcessSystem.h"
#include "platform/WindowsCommandLine.h"
#include "platform/src/Utf16.h"

namespace Nalo {
namespace {

using detail::Utf16::FileNameUtf8;
using detail::Utf16::ToWide;

using Milliseconds = std::chrono::milliseconds;

// Exception codes of unhandled exceptions (NTSTATUS values of severity
// "error") end a process with that code as its exit code.
constexpr DWORD kFirstExceptionCode = 0xC0000000;
// The exit code that Terminate gives a process.
constexpr UINT kTerminatedExitCode = 1;

bool HasNul(std::string_view text) {
  return text.find('\0') != std::string_view::npos;
}

DWORD TimeoutOf(Milliseconds timeout) {
  if (timeout <= Milliseconds::zero()) {
    return 0;
  }
  // INFINITE itself would wait for ever; the longest finite wait is one less.
  return static_cast<DWORD>(std::min<Milliseconds::rep>(timeout.count(), INFINITE - 1));
}

ProcessWaitOutcome WaitForHandle(HANDLE process, Milliseconds timeout) {
  switch (WaitForSingleObject(process, TimeoutOf(timeout))) {
    case WAIT_OBJECT_0:
      return ProcessWaitOutcome::Ended;
    case WAIT_TIMEOUT:
      return ProcessWaitOutcome::StillRunning;
    case WAIT_FAILED:
      // The reason is read so that it does not linger, and dropped: the caller
      // treats a failed wait like an ended process.
      static_cast<void>(GetLastError());
      return ProcessWaitOutcome::WaitFailed;
    default:
      return ProcessWaitOutcome::Other;
  }
}

// Closes a handle on every path.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) noexcept : mHandle(handle) {}
  ~OwnedHandle() {
    if (mHandle != nullptr) {
      CloseHandle(mHandle);
    }
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  OwnedHandle(OwnedHandle&&) = delete;
  OwnedHandle& operator=(OwnedHandle&&) = delete;

  [[nodiscard]] HANDLE Get() const noexcept { return mHandle; }
  explicit operator bool() const noexcept { return mHandle != nullptr; }

 private:
  HANDLE mHandle;
};

class Win32ProcessHandle final : public ProcessHandle {
 public:
  explicit Win32ProcessHandle(HANDLE process) noexcept : mProcess(process) {}

  std::uint32_t Pid() const noexcept override { return GetProcessId(mProcess.Get()); }

  ProcessWaitOutcome Wait(Milliseconds timeout) override {
    const ProcessWaitOutcome outcome = WaitForHandle(mProcess.Get(), timeout);
    if (outcome == ProcessWaitOutcome::Ended) {
      mEnded.store(true, std::memory_order_release);
    }
    return outcome;
  }

  std::optional<ProcessExit> Exit() const override {
    DWORD code = 0;
    if (!mEnded.load(std::memory_order_acquire) || !GetExitCodeProcess(mProcess.Get(), &code)) {
      return std::nullopt;
    }
    const auto kind =
        code >= kFirstExceptionCode ? ProcessExit::Kind::Crashed : ProcessExit::Kind::Exited;
    return ProcessExit{.kind = kind, .code = static_cast<std::int64_t>(code)};
  }

  MaybeType<Failure, void> Terminate() override {
    if (WaitForSingleObject(mProcess.Get(), 0) == WAIT_OBJECT_0 ||
        TerminateProcess(mProcess.Get(), kTerminatedExitCode)) {
      return {};
    }
    return Failure::FromSystemError(GetLastError(),
                                    "Could not end process " + std::to_string(Pid()));
  }

 private:
  OwnedHandle mProcess;
  std::atomic<bool> mEnded{false};
};

struct WindowSearch {
  DWORD pid = 0;
  HWND window = nullptr;
};

// The process's first visible top-level window. Hidden ones (an input
// method's, a message window) are not the window a user sees.
BOOL CALLBACK FindWindowOfProcess(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);  // NOLINT(performance-no-int-to-ptr)
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->pid || !IsWindowVisible(window)) {
    return TRUE;
  }
  search->window = window;
  return FALSE;  // the first one is the one
}

class Win32ProcessSystem final : public ProcessSystem {
 public:
  MaybeType<Failure, std::unique_ptr<ProcessHandle>> Spawn(const SpawnRequest& request) override {
    bool valid = !request.executable.empty() && !HasNul(request.executable) &&
                 !HasNul(request.workingDirectory);
    for (const std::string& argument : request.arguments) {
      valid = valid && !HasNul(argument);
    }
    if (!valid) {
      return Failure::FromSystemError(ERROR_INVALID_PARAMETER, kSpawnFailureContext);
    }
    std::wstring executable;
    std::wstring workingDirectory;
    std::wstring line;
    if (!ToWide(request.executable, executable) ||
        !ToWide(request.workingDirectory, workingDirectory) ||
        !ToWide(BuildWindowsCommandLine(request.executable, request.arguments), line)) {
      return Failure::FromSystemError(ERROR_NO_UNICODE_TRANSLATION, kSpawnFailureContext);
    }
    // A longer line would reach the program cut short; refuse it instead.
    if (line.size() > kMaxWindowsCommandLineLength) {
      return Failure::FromSystemError(ERROR_FILENAME_EXCED_RANGE, kSpawnFailureContext);
    }
    std::vector<wchar_t> lineBuffer(line.begin(), line.end());
    lineBuffer.push_back(L'\0');  // CreateProcessW may write into the line

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(executable.c_str(), lineBuffer.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS, nullptr,
                        workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                        &started)) {
      return Failure::FromSystemError(GetLastError(), kSpawnFailureContext);
    }
    CloseHandle(started.hThread);
    return std::unique_ptr<ProcessHandle>(std::make_unique<Win32ProcessHandle>(started.hProcess));
  }

  ProcessWaitOutcome WaitForProcess(std::uint32_t pid, Milliseconds timeout) override {
    const OwnedHandle process(OpenProcess(SYNCHRONIZE, TRUE, pid));
    if (!process) {
      return ProcessWaitOutcome::CannotOpen;
    }
    return WaitForHandle(process.Get(), timeout);
  }

  ProcessWindowState WindowOfProcess(std::uint32_t pid) override {
    WindowSearch search{.pid = pid};
    // EnumWindows reports failure when the callback stops it early; the
    // search record says what was found either way.
    static_cast<void>(EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&search)));
    if (search.window == nullptr) {
      return ProcessWindowState::None;
    }
    return search.window == GetForegroundWindow() ? ProcessWindowState::Foreground
                                                  : ProcessWindowState::Background;
  }

  std::optional<std::string> ExecutableFileName(std::uint32_t pid) override {
    const OwnedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
      return std::nullopt;
    }
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      DWORD length = static_cast<DWORD>(path.size());
      if (QueryFullProcessImageNameW(process.Get(), 0, path.data(), &length)) {
        path.resize(length);
        break;
      }
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || path.size() >= 32768) {
        return std::nullopt;
      }
      path.resize(path.size() * 2);
    }
    return FileNameUtf8(path);
  }
};

}  // namespace

std::unique_ptr<ProcessSystem> CreatePlatformProcessSystem() {
  return std::make_unique<Win32ProcessSystem>();
}

}  // namespace Nalo
