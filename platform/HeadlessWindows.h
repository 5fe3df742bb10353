#pragma once
// HeadlessWindows: the top-level windows of a headless POSIX machine, as the
// POSIX ProcessSystem reads them for WindowOfProcess.
//
// A headless machine has no windows, yet the gameflow watches for the game
// client's window to come to the front. There, windows are a folder of small
// files that the stand-in window system (tools/stand-in-client/StandInWindows.h)
// writes: each process has at most one window and one window is in the
// foreground. This class reads that folder and defines its files;
// docs/processes-and-windows.md describes them. POSIX only.
//
//   if (auto windows = Nalo::HeadlessWindows::FromEnvironment()) {   // NALO_STAND_IN_WINDOWS
//     if (windows->WindowOf(pid) == Nalo::ProcessWindowState::Foreground) ...
//   }
//
// A window whose process has ended (even by a crash, which closes nothing) or
// whose pid now belongs to a later process counts as closed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ProcessSystem.h"

namespace Nalo {

class HeadlessWindows {
 public:
  // The environment variable naming the folder; the stand-in game client and
  // the POSIX process layer find the windows through it.
  static constexpr std::string_view kDirectoryVariable = "NALO_STAND_IN_WINDOWS";
  // The file naming the window in the foreground: "<pid> <token>", or empty.
  static constexpr std::string_view kForegroundFileName = "foreground";

  explicit HeadlessWindows(std::string directory) : mDirectory(std::move(directory)) {}
  // The windows named by kDirectoryVariable; nothing when it is unset or empty.
  [[nodiscard]] static std::optional<HeadlessWindows> FromEnvironment();

  [[nodiscard]] const std::string& Directory() const noexcept { return mDirectory; }
  // The path of the file `name` in the folder.
  [[nodiscard]] std::string FilePath(std::string_view name) const;

  // Where the window of `pid` stands.
  [[nodiscard]] ProcessWindowState WindowOf(std::uint32_t pid) const;
  // The process whose window is in the foreground; nothing when none is (or
  // that window has closed).
  [[nodiscard]] std::optional<std::uint32_t> ForegroundProcess() const;
  // The token of the current opening of the window of `pid`, which tells it
  // from earlier openings; nothing when `pid` has no open window.
  [[nodiscard]] std::optional<std::uint64_t> OpenWindowToken(std::uint32_t pid) const;

  // The name of the file of the window of `pid` ("window.<pid>").
  [[nodiscard]] static std::string WindowFileName(std::uint32_t pid);
  // The content of that file for an opening of it with `token`:
  // "<pid> <start time> <token>\n"; nothing when `pid` does not run.
  [[nodiscard]] static std::optional<std::string> WindowRecord(std::uint32_t pid,
                                                               std::uint64_t token);
  // The content of the foreground file naming that opening: "<pid> <token>\n".
  [[nodiscard]] static std::string ForegroundRecord(std::uint32_t pid, std::uint64_t token);

 private:
  std::string mDirectory;
};

}  // namespace Nalo
