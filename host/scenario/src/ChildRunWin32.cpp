// The Windows host's form of ChildRun: there is no fork, so the work runs in
// this process. A plugin that crashes or ends the process then ends the
// whole run, which reports it as a failure (docs/windows.md).

#include <unistd.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "host/scenario/ChildRun.h"

namespace Nalo::Host::detail {

namespace {

// The descriptor the work writes its messages to; WriteAll hands what is
// written there to the caller's callback.
constexpr int kMessages = -2;
thread_local const std::function<void(std::string_view)>* tMessages = nullptr;

}  // namespace

ChildEnding RunInChild(const ChildOptions& /*options*/,
                       const std::function<void(int messages)>& body,
                       const std::function<void(std::string_view)>& /*onOutput*/,
                       const std::function<void(std::string_view)>& onMessages) {
  const std::function<void(std::string_view)>* outer = tMessages;
  tMessages = &onMessages;
  body(kMessages);
  tMessages = outer;
  std::fflush(stdout);
  std::fflush(stderr);
  return {.started = true, .status = 0};
}

// Ends every process this one started (the game clients a run launched) and
// waits for each to be gone.
void EndChildren() {
  for (const int child : ChildrenOf(static_cast<int>(GetCurrentProcessId()))) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(child));
    if (process == nullptr) {
      continue;
    }
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5'000);
    CloseHandle(process);
  }
}

std::vector<int> ChildrenOf(int parent) {
  std::vector<int> children;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return children;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID == static_cast<DWORD>(parent) &&
        entry.th32ProcessID != static_cast<DWORD>(parent)) {
      children.push_back(static_cast<int>(entry.th32ProcessID));
    }
  }
  CloseHandle(snapshot);
  return children;
}

bool IsRunning(int pid) {
  HANDLE process =
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) {
    return false;
  }
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE &&
                       WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

std::optional<std::uint32_t> AwaitExitCode(int pid, std::uint32_t milliseconds) {
  HANDLE process =
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) {
    return std::nullopt;
  }
  DWORD code = 0;
  const bool ended = WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return ended ? std::optional<std::uint32_t>(code) : std::nullopt;
}

void WriteAll(int descriptor, std::string_view text) {
  if (descriptor == kMessages) {
    if (tMessages != nullptr && *tMessages) {
      (*tMessages)(text);
    }
    return;
  }
  std::FILE* stream = descriptor == STDERR_FILENO ? stderr : stdout;
  std::fwrite(text.data(), 1, text.size(), stream);
}

std::string DescribeEnding(int status) {
  return "exited with code " + std::to_string(status);
}

std::string OneLine(std::string_view text) {
  std::string line(text);
  std::ranges::replace(line, '\n', ' ');
  return line;
}

}  // namespace Nalo::Host::detail
