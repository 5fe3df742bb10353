#pragma once
// StandInWindows: top-level windows for a machine that has none.
//
// A headless POSIX machine has no top-level windows and no foreground window,
// yet the gameflow watches for the game client's window to come to the front.
// This stand-in window system gives each process at most one window and keeps
// one window in the foreground. Its state is a folder of small files, so that
// separate processes share it: the stand-in game client opens its window and
// brings it forward, the host (or a test) looks at it or changes it, and the
// POSIX ProcessSystem answers WindowOfProcess from it. docs/processes-and-windows.md
// describes the files.
//
//   auto windows = Nalo::StandInWindows::FromEnvironment();   // NALO_STAND_IN_WINDOWS
//   if (windows) {
//     if (auto opened = windows->OpenWindow(getpid()); opened.HasFailure()) ...
//     if (auto raised = windows->BringToForeground(getpid()); raised.HasFailure()) ...
//   }
//
// Every change is written to a temporary file and renamed into place, so a
// reader sees the old state or the new one, never half of one. A window whose
// process has ended (even by a crash, which closes nothing) or whose pid now
// belongs to a later process counts as closed. POSIX only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "platform/ProcessSystem.h"

namespace Nalo {

class StandInWindows {
 public:
  // The environment variable naming the folder; the stand-in game client and
  // the POSIX process layer find the window system through it.
  static constexpr std::string_view kDirectoryVariable = "NALO_STAND_IN_WINDOWS";

  // The window system kept in `directory`, which is created (one level) by the
  // first change if it is missing.
  explicit StandInWindows(std::string directory) : mDirectory(std::move(directory)) {}
  // The window system named by kDirectoryVariable; nothing when the variable
  // is unset or empty.
  [[nodiscard]] static std::optional<StandInWindows> FromEnvironment();

  [[nodiscard]] const std::string& Directory() const noexcept { return mDirectory; }

  // Gives the running process `pid` its window, behind the foreground one.
  // Opening an open window again keeps it and its place. Fails with the system
  // error when the process does not exist or the folder cannot be written.
  [[nodiscard]] MaybeType<Failure, void> OpenWindow(std::uint32_t pid) const;
  // Closes the window of `pid`; if it was in the foreground, no window is.
  // Closing a window that is not open succeeds.
  [[nodiscard]] MaybeType<Failure, void> CloseWindow(std::uint32_t pid) const;
  // Puts the window of `pid` in the foreground. Fails with code 404 when `pid`
  // has no open window.
  [[nodiscard]] MaybeType<Failure, void> BringToForeground(std::uint32_t pid) const;
  // Leaves no window in the foreground, as when the user turns to a program
  // that has none of these windows.
  [[nodiscard]] MaybeType<Failure, void> ClearForeground() const;

  // Where the window of `pid` stands.
  [[nodiscard]] ProcessWindowState WindowOf(std::uint32_t pid) const;
  // The process whose window is in the foreground; nothing when none is (or
  // that window has closed).
  [[nodiscard]] std::optional<std::uint32_t> ForegroundProcess() const;

 private:
  [[nodiscard]] bool IsWindowOpen(std::uint32_t pid) const;
  // The token of the current opening of the window of `pid`, if it is open.
  [[nodiscard]] std::optional<std::uint64_t> OpenWindowToken(std::uint32_t pid) const;

  std::string mDirectory;
};

}  // namespace Nalo
