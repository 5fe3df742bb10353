#pragma once
// The settings plugin's local replay settings, of which the gameflow reads
// only the folder the game client saves highlights to.

#include <string>

namespace Nalo::Client::Gameflow::Api {

struct ReplaysSettingsData {
  // Registered under the key "highlights-folder-path", hyphens and all.
  std::string highlightsFolderPath;

  bool operator==(const ReplaysSettingsData&) const = default;
};

struct ReplaysSettingsResource {
  ReplaysSettingsData data;

  bool operator==(const ReplaysSettingsResource&) const = default;
};

}  // namespace Nalo::Client::Gameflow::Api
