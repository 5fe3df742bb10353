#pragma once
// PatcherProductState: the gameflow's copy of the patcher's state of the
// game client product, which decides whether a game may be launched.

#include <cstdint>

namespace Nalo::Client::Gameflow::Api {

enum class PatcherProductStateAction : std::int32_t {
  Idle = 0,
  CheckingForUpdates = 1,
  Patching = 2,
  Repairing = 3,
};

struct PatcherProductState {
  bool isCorrupted = false;
  bool isStopped = false;
  bool isUpToDate = false;
  bool isUpdateAvailable = false;
  PatcherProductStateAction action = PatcherProductStateAction::Idle;

  bool operator==(const PatcherProductState&) const = default;
};

}  // namespace Nalo::Client::Gameflow::Api
