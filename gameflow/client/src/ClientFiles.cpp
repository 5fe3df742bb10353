#include "gameflow/client/ClientFiles.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

namespace Nalo::Client::Gameflow {

namespace {

constexpr std::string_view kLocaleFolder = "data/cfg/defaults";
constexpr std::string_view kLocaleFile = "locale.cfg";
constexpr int kLocaleOpenTries = 5;
constexpr auto kLocaleRetryPause = std::chrono::milliseconds(500);

bool StartsWithSlashOrDrive(std::string_view path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) {
    return true;
  }
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

std::string JoinGamePath(std::string_view first, std::string_view second) {
  std::string joined;
  if (StartsWithSlashOrDrive(second) || first.empty()) {
    joined = second;
  } else {
    joined = first;
    if (joined.back() != '/' && joined.back() != '\\') {
      joined += '/';
    }
    joined += second;
  }
  for (char& c : joined) {
    if (c == '\\') {
      c = '/';
    }
  }
  return joined;
}

MaybeType<Failure, void> WriteGameLocale(const std::string& directory, std::string_view locale) {
  const std::string folder = JoinGamePath(directory, kLocaleFolder);
  const std::string file = JoinGamePath(folder, kLocaleFile);
  // A line break or NUL would add lines of the host's choosing to the file.
  if (locale.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    return Failure(500, "Failed to write to locale file '" + file + "'.");
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    return Failure(500, "Failed to create directory '" + folder + "'.");
  }
  std::ofstream stream;
  for (int attempt = 0; attempt < kLocaleOpenTries; ++attempt) {
    stream.open(file, std::ios::binary | std::ios::trunc);
    if (stream.is_open()) {
      break;
    }
    std::this_thread::sleep_for(kLocaleRetryPause);
  }
  if (!stream.is_open()) {
    return Failure(500, "Failed to open locale file '" + file + "'.");
  }
  // The game reads the file as Windows text: its line break is CR LF on
  // every system.
  const std::string block = "[General]\r\nLanguageLocaleRegion=" + std::string(locale);
  stream.write(block.data(), static_cast<std::streamsize>(block.size()));
  stream.close();
  if (!stream) {
    return Failure(500, "Failed to write to locale file '" + file + "'.");
  }
  return {};
}

}  // namespace Nalo::Client::Gameflow
