#pragma once
// The map of a queue, from the maps plugin: "/tav-maps/v1/map/<mapId>" for a
// queue without a game mode, else "/tav-maps/v2/map/<mapId>/<gameMode>" with
// "/<gameMutator>" (or, without one, "/<assetMutator>") when there is one.

#include <optional>
#include <string>

#include "gameflow/Api/GameflowSession.h"
#include "gameflow/Api/Queue.h"
#include "gameflow/client/GameClientPeers.h"

namespace Nalo::Client::Gameflow {

[[nodiscard]] std::string MapPath(const Api::Queue& queue);

// The map, or nothing (with an ERROR line) when it can't be read.
[[nodiscard]] std::optional<Api::GameflowGameMap> LookUpMap(GameClientPeers& peers,
                                                            const Api::Queue& queue);

}  // namespace Nalo::Client::Gameflow
