#pragma once
// Where the data store keeps the record of the game client the gameflow
// started (its pid and the arguments it was given), so that a restarted
// plugin finds the client still running.

#include <string_view>

namespace Nalo::Client::Gameflow {

inline constexpr std::string_view kProcessRecordPath =
    "/data-store/v1/install-settings/gameflow-process-info";

}  // namespace Nalo::Client::Gameflow
