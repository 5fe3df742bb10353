#include "gameflow/client/src/MapLookup.h"

#include <utility>

#include "diagnostics/Log.h"
#include "gameflow/GameflowWireNames.h"
#include "gameflow/client/src/PeerValue.h"

namespace Nalo::Client::Gameflow {

std::string MapPath(const Api::Queue& queue) {
  if (queue.gameMode.empty()) {
    return std::string(Wire::kMapPath) + std::to_string(queue.mapId);
  }
  std::string path =
      std::string(Wire::kMapByModePath) + std::to_string(queue.mapId) + "/" + queue.gameMode;
  if (!queue.gameMutator.empty()) {
    path += "/" + queue.gameMutator;
  } else if (!queue.assetMutator.empty()) {
    path += "/" + queue.assetMutator;
  }
  return path;
}

std::optional<Api::GameflowGameMap> LookUpMap(GameClientPeers& peers, const Api::Queue& queue) {
  const std::string path = MapPath(queue);
  auto answer = peers.Get(path);
  if (!answer.HasFailure()) {
    auto map = detail::Convert<Api::GameflowGameMap>(answer.Value(), peers.Types());
    if (!map.HasFailure()) {
      Log(LogLevel::Always, kLogGroupDebug, "Updated map data with request string %s",
          path.c_str());
      return std::move(map).Value();
    }
  }
  Log(LogLevel::Error, kLogGroupDebug,
      "Could not find Game Map %d - Continuing but experience may degrade", queue.mapId);
  return std::nullopt;
}

}  // namespace Nalo::Client::Gameflow
