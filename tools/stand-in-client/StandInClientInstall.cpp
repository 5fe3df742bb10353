#include "tools/stand-in-client/StandInClientInstall.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace Nalo::StandIn {

namespace {

constexpr std::string_view kClientFolderName = "tav_game_client_sln";
constexpr std::string_view kInstallFailed =
    "The stand-in client could not be put in place in {folder}: {reason}";

Failure InstallFailure(const std::filesystem::path& folder, std::string_view reason) {
  return Failure(500, kInstallFailed, {{"folder", folder.string()}, {"reason", reason}});
}

void SetVariable(const char* name, const std::filesystem::path& value) {
#ifdef _WIN32
  _wputenv_s(std::wstring(name, name + std::char_traits<char>::length(name)).c_str(),
             value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

void UnsetVariable(const char* name) {
#ifdef _WIN32
  _wputenv_s(std::wstring(name, name + std::char_traits<char>::length(name)).c_str(), L"");
#else
  unsetenv(name);
#endif
}

}  // namespace

std::filesystem::path GameClientFolder(const std::filesystem::path& stateFolder) {
  return stateFolder / kClientFolderName;
}

MaybeType<Failure, void> InstallStandInClient(const StandInClientSetup& setup) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(setup.clientFolder, error);
  if (error) {
    return InstallFailure(setup.clientFolder, error.message());
  }
  // The client's record there holds the game's key and the auth token.
  fs::permissions(setup.clientFolder, fs::perms::owner_all, error);
  fs::remove(setup.clientFolder / kRecordFileName, error);
  if (!setup.windowsFolder.empty()) {
    fs::create_directories(setup.windowsFolder, error);
    if (error) {
      return InstallFailure(setup.windowsFolder, error.message());
    }
  }
  if (!setup.program.empty()) {
    const fs::path installed = setup.clientFolder / kProgramName;
    fs::remove(installed, error);
#ifdef _WIN32
    fs::copy_file(setup.program, installed, error);
#else
    fs::create_symlink(fs::absolute(setup.program), installed, error);
#endif
    if (error) {
      return InstallFailure(setup.clientFolder, error.message());
    }
  }
  if (setup.control.has_value()) {
    std::ofstream control(setup.clientFolder / kControlFileName, std::ios::trunc);
    control << *setup.control;
    if (!control.flush()) {
      return InstallFailure(setup.clientFolder, "its control file cannot be written");
    }
  }
  SetVariable(kClientFolderVariable, setup.clientFolder);
#ifndef _WIN32
  if (!setup.windowsFolder.empty()) {
    SetVariable(kWindowsFolderVariable, setup.windowsFolder);
  }
#endif
  return {};
}

void ForgetStandInClient() {
  UnsetVariable(kClientFolderVariable);
  UnsetVariable(kWindowsFolderVariable);
}

}  // namespace Nalo::StandIn
