// stand-in-install: puts the stand-in game client in place as the game client
// of a state folder, for scripts (scripts/serve.sh), and prints the
// environment that the host must run with, as shell assignments:
//
//   eval "$(stand-in-install PROGRAM STATE [CONTROL])"
//
// CONTROL is the control file's text; without it the control file already
// there is kept. Exits 0 on success, 1 when the client cannot be put in
// place, 2 for bad usage.

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>

#include "tools/stand-in-client/StandInClientInstall.h"

namespace {

// `text` quoted for a POSIX shell.
std::string ShellQuoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::cerr << "usage: stand-in-install PROGRAM STATE [CONTROL]\n";
    return 2;
  }
  namespace StandIn = Nalo::StandIn;
  const std::filesystem::path state = std::filesystem::absolute(argv[2]);
  StandIn::StandInClientSetup setup;
  setup.program = std::filesystem::absolute(argv[1]);
  setup.clientFolder = StandIn::GameClientFolder(state);
  setup.windowsFolder = state / "windows";
  if (argc == 4) {
    setup.control = argv[3];
  }
  if (auto installed = StandIn::InstallStandInClient(setup); installed.HasFailure()) {
    std::cerr << installed.GetFailure().Message() << "\n";
    return 1;
  }
  // The installer sets both; an unset one is printed empty, never read.
  for (const char* name : {StandIn::kClientFolderVariable, StandIn::kWindowsFolderVariable}) {
    const char* value = std::getenv(name);
    std::cout << name << "=" << ShellQuoted(value != nullptr ? value : "") << "; export " << name
              << "\n";
  }
  return 0;
}
