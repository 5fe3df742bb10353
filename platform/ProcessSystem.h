#pragma once
// ProcessSystem: the processes and windows of the machine, as the gameflow
// sees them.
//
// The gameflow starts the game client, asks whether a pid still runs, whether
// a pid's window has reached the foreground and which program a recorded pid
// belongs to. It does all of that through this interface, which it receives at
// construction, so that it never knows which system it runs on. Two
// implementations exist: the Win32 one (processes and top-level windows) and
// the POSIX one (processes, and the windows a headless machine keeps in a
// folder, HeadlessWindows.h).
// CreatePlatformProcessSystem() builds the one for the system the code was
// built for.
//
//   std::unique_ptr<Nalo::ProcessSystem> processes = Nalo::CreatePlatformProcessSystem();
//   auto spawned = processes->Spawn({.executable = "/games/Tavora.exe",
//                                    .workingDirectory = "/games",
//                                    .arguments = {"8394", "-GameID=7"}});
//   if (spawned.HasFailure()) return spawned.GetFailure();
//   const std::uint32_t pid = spawned.Value()->Pid();
//   ...
//   if (processes->WaitForProcess(pid, std::chrono::milliseconds(1)) !=
//       Nalo::ProcessWaitOutcome::StillRunning) { /* the client is gone */ }
//
// Texts are UTF-8; the Win32 implementation converts them to UTF-16.
// Implementations are safe to call from several threads at once.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"

namespace Nalo {

// The context of every spawn failure: the failure's message is this text,
// ": " and the system's text for the error, and its code is the system error
// code ("processSpawnW failed:: No such file or directory", code 2).
inline constexpr std::string_view kSpawnFailureContext = "processSpawnW failed:";

// What a program is started with.
struct SpawnRequest {
  // The program to run. A relative path is taken from the caller's current
  // directory, not from `workingDirectory`. Must not be empty.
  std::string executable{};
  // The started program's current directory; empty: the caller's.
  std::string workingDirectory{};
  // The arguments after the program name, passed exactly as they are: on POSIX
  // systems as the argument vector (no shell, no quoting), on Windows quoted
  // into one command line (WindowsCommandLine.h) that parses back to them.
  std::vector<std::string> arguments{};
};

// The outcome of waiting for a process.
enum class ProcessWaitOutcome {
  Ended,         // the process has ended
  StillRunning,  // the timeout passed first
  CannotOpen,    // no process with that id exists (or it may not be looked at)
  WaitFailed,    // the system could not wait; the process may still run
  Other,         // the system answered something else
};

// How a process ended.
struct ProcessExit {
  enum class Kind {
    Exited,   // it returned or called exit: `code` is its exit code
    Crashed,  // a signal or an unhandled exception ended it: `code` is the
              // signal number (POSIX) or the exception code (Windows)
  };
  Kind kind = Kind::Exited;
  std::int64_t code = 0;

  friend bool operator==(const ProcessExit&, const ProcessExit&) = default;
};

// Where a process's top-level window stands.
enum class ProcessWindowState {
  None,        // the process has no top-level window (or does not exist)
  Background,  // it has one, and another window (or none) is in the foreground
  Foreground,  // its first top-level window is the foreground window
};

// A started process, owned by whoever spawned it. Destroying the handle
// releases it (closes the system handle) and leaves the process running; only
// Terminate() ends it. Not copyable; a handle may be moved as its unique_ptr.
class ProcessHandle {
 public:
  virtual ~ProcessHandle() = default;
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;
  ProcessHandle(ProcessHandle&&) = delete;
  ProcessHandle& operator=(ProcessHandle&&) = delete;

  // The system's id of the process.
  [[nodiscard]] virtual std::uint32_t Pid() const noexcept = 0;
  // Waits up to `timeout` (zero: only looks) for the process to end. Ended,
  // StillRunning or WaitFailed; once Ended, Exit() tells how.
  [[nodiscard]] virtual ProcessWaitOutcome Wait(std::chrono::milliseconds timeout) = 0;
  // How the process ended; nothing until a wait has seen it end.
  [[nodiscard]] virtual std::optional<ProcessExit> Exit() const = 0;
  // Asks the system to end the process at once (SIGKILL, TerminateProcess).
  // Succeeds when the process has already ended. Wait() for it afterwards.
  [[nodiscard]] virtual MaybeType<Failure, void> Terminate() = 0;

 protected:
  ProcessHandle() = default;
};

class ProcessSystem {
 public:
  virtual ~ProcessSystem() = default;
  ProcessSystem(const ProcessSystem&) = delete;
  ProcessSystem& operator=(const ProcessSystem&) = delete;
  ProcessSystem(ProcessSystem&&) = delete;
  ProcessSystem& operator=(ProcessSystem&&) = delete;

  // Starts `request.executable` detached from the caller's console or
  // terminal, with no standard input, in `request.workingDirectory`, with the
  // caller's environment and none of its open files or handles. On failure:
  // the system error as a failure with the context kSpawnFailureContext. An
  // empty executable, or a text holding a NUL character, fails with the
  // system's "invalid argument" code.
  [[nodiscard]] virtual MaybeType<Failure, std::unique_ptr<ProcessHandle>> Spawn(
      const SpawnRequest& request) = 0;

  // Waits up to `timeout` (zero: only looks) for the process `pid` to end,
  // whether or not this object started it. CannotOpen when no such process
  // exists, including a process this object started and has seen end. A
  // process that this object started is reaped as soon as a wait sees it end,
  // so none is left behind as a zombie.
  [[nodiscard]] virtual ProcessWaitOutcome WaitForProcess(std::uint32_t pid,
                                                          std::chrono::milliseconds timeout) = 0;

  // Whether `pid` has a top-level window and whether the first one is the
  // foreground window.
  [[nodiscard]] virtual ProcessWindowState WindowOfProcess(std::uint32_t pid) = 0;

  // The file name (without its directory) of the program that process `pid`
  // runs ("Tavora.exe"), to tell whether a recorded pid still belongs to the
  // program that was started under it; nothing when the process does not
  // exist or cannot be looked at.
  [[nodiscard]] virtual std::optional<std::string> ExecutableFileName(std::uint32_t pid) = 0;

 protected:
  ProcessSystem() = default;
};

// The implementation for the system this code was built for: Win32 on
// Windows, POSIX elsewhere (whose windows live in the folder named by the
// environment variable of HeadlessWindows.h, when it is set).
[[nodiscard]] std::unique_ptr<ProcessSystem> CreatePlatformProcessSystem();

}  // namespace Nalo
