#pragma once
// InstallStandInClient: puts the stand-in game client in place as the game
// client of a run, the one way scenarios, tests, the demo, the benchmarks and
// scripts/serve.sh (through the program stand-in-install) do it.
//
// The realistic patcher names <state folder>/tav_game_client_sln as the game
// client's folder, so that is where the client stands, as "Tavora.exe", with
// its control file ("stand-in-client.cfg", docs/processes-and-windows.md) and
// the record it writes. The client finds that folder, and the POSIX process
// layer the stand-in window system, through the environment variables below,
// which the installer sets for the calling process and its children.
//
//   auto installed = Nalo::StandIn::InstallStandInClient(
//       {.program = clientProgram,
//        .clientFolder = Nalo::StandIn::GameClientFolder(state),
//        .windowsFolder = state / "windows",
//        .control = "end = wait\n"});
//   if (installed.HasFailure()) ...
//
// POSIX links the program; Windows copies it (a program starts from its own
// folder's file there) and has no stand-in window system.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"

namespace Nalo::StandIn {

inline constexpr std::string_view kProgramName = "Tavora.exe";
inline constexpr std::string_view kControlFileName = "stand-in-client.cfg";
inline constexpr std::string_view kRecordFileName = "stand-in-client.record";
// The folder the client reads its control file from and writes its record to.
inline constexpr const char* kClientFolderVariable = "NALO_STAND_IN_CLIENT_DIR";
// The stand-in window system's folder (POSIX).
inline constexpr const char* kWindowsFolderVariable = "NALO_STAND_IN_WINDOWS";

struct StandInClientSetup {
  // The built stand-in client, put in `clientFolder` as "Tavora.exe" in place
  // of whatever stood there. Empty: nothing is put there (a caller that
  // starts the program from where it was built).
  std::filesystem::path program;
  // Made (readable by its owner only: the client's record holds the game's
  // key and the auth token) when missing; an earlier client's record in it is
  // removed.
  std::filesystem::path clientFolder;
  // Made when missing. Empty: no stand-in window system is named.
  std::filesystem::path windowsFolder;
  // The control file's text; nothing keeps the control file already there.
  std::optional<std::string> control;
};

// The game client's folder of a state folder: <state>/tav_game_client_sln.
[[nodiscard]] std::filesystem::path GameClientFolder(const std::filesystem::path& stateFolder);

// Installs the client as `setup` says and sets the environment variables.
// Fails with 500 naming the folder and the system's reason when a folder,
// the program or the control file cannot be put in place; the environment is
// then left as it was.
[[nodiscard]] MaybeType<Failure, void> InstallStandInClient(const StandInClientSetup& setup);

// Unsets the environment variables that InstallStandInClient set.
void ForgetStandInClient();

}  // namespace Nalo::StandIn
