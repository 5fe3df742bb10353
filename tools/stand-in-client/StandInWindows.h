#pragma once
// StandInWindows: makes top-level windows on a machine that has none.
//
// The stand-in game client opens its window in it and brings it forward, and
// a test looks at it or changes it; the POSIX ProcessSystem reads the same
// folder (platform/HeadlessWindows.h, which defines its files and
// docs/processes-and-windows.md describes) to answer WindowOfProcess. Each
// process has at most one window and one window is in the foreground.
//
//   auto windows = Nalo::StandInWindows::FromEnvironment();   // NALO_STAND_IN_WINDOWS
//   if (windows) {
//     if (auto opened = windows->OpenWindow(getpid()); opened.HasFailure()) ...
//     if (auto raised = windows->BringToForeground(getpid()); raised.HasFailure()) ...
//   }
//
// Every change is written to a temporary file and renamed into place, so a
// reader sees the old state or the new one, never half of one. POSIX only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "platform/HeadlessWindows.h"
#include "platform/ProcessSystem.h"

namespace Nalo {

class StandInWindows {
 public:
  // The environment variable naming the folder.
  static constexpr std::string_view kDirectoryVariable = HeadlessWindows::kDirectoryVariable;

  // The window system kept in `directory`, which is created (one level) by the
  // first change if it is missing.
  explicit StandInWindows(std::string directory) : mWindows(std::move(directory)) {}
  // The window system named by kDirectoryVariable; nothing when the variable
  // is unset or empty.
  [[nodiscard]] static std::optional<StandInWindows> FromEnvironment();

  [[nodiscard]] const std::string& Directory() const noexcept { return mWindows.Directory(); }

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
  [[nodiscard]] ProcessWindowState WindowOf(std::uint32_t pid) const {
    return mWindows.WindowOf(pid);
  }
  // The process whose window is in the foreground; nothing when none is (or
  // that window has closed).
  [[nodiscard]] std::optional<std::uint32_t> ForegroundProcess() const {
    return mWindows.ForegroundProcess();
  }

 private:
  HeadlessWindows mWindows;
};

}  // namespace Nalo
