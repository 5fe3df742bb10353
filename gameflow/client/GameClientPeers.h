#pragma once
// GameClientPeers: the other plugins, the platform server and the core's
// timers, as the game client side reaches them.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/BindingProperty.h"
#include "diagnostics/Failure.h"
#include "diagnostics/MaybeType.h"
#include "gameflow/LCDS/GameDto.h"
#include "gameflow/LCDS/ReconnectInfoDto.h"

namespace Nalo {
class BindingTypeRegistry;
}

namespace Nalo::Client::Gameflow {

class GameClientPeers {
 public:
  virtual ~GameClientPeers() = default;
  [[nodiscard]] virtual const BindingTypeRegistry& Types() const = 0;
  [[nodiscard]] virtual MaybeType<Failure, BindingProperty> Get(std::string_view path) = 0;
  // POSTs `body` (nothing: no body).
  [[nodiscard]] virtual MaybeType<Failure, void> Post(std::string_view path,
                                                      const BindingProperty* body) = 0;
  // LCDS gameService.setClientReceivedGameMessage / setClientReceivedVestoMessage.
  [[nodiscard]] virtual MaybeType<Failure, void> SetGameMessage(std::uint64_t gameId,
                                                                std::string_view message) = 0;
  [[nodiscard]] virtual MaybeType<Failure, void> SetVestoMessage(std::uint64_t gameId,
                                                                 std::string_view message) = 0;
  // LCDS gameService.retrieveInProgressGameInfo.
  [[nodiscard]] virtual MaybeType<Failure, LCDS::ReconnectInfoDto> RetrieveInProgressGame() = 0;
  // LCDS gameService.retrieveInProgressSpectatorGameInfo with the name, or
  // without one gameService.retrieveInProgressGameInfo: the answer as it came.
  [[nodiscard]] virtual MaybeType<Failure, BindingProperty> RetrieveSpectatorGame(
      const std::optional<std::string>& summonerName) = 0;
  // LCDS gameService.createTutorialGame.
  [[nodiscard]] virtual MaybeType<Failure, LCDS::GameDto> CreateTutorialGame(
      std::int32_t kind) = 0;
  // Publishes `value` at `path`; null publishes the deletion.
  virtual void Publish(std::string_view path, const BindingProperty* value) = 0;
  // Runs `action` once, `seconds` from now.
  virtual bool PostTask(std::string_view name, double seconds, std::function<void()> action) = 0;
  // A repeating timer known by `name`; answers whether the core took it.
  virtual bool SetTimer(std::string_view name, double seconds, std::function<void()> action) = 0;
  virtual void RemoveTimer(std::string_view name) = 0;
  // Sends a telemetry event with text properties.
  virtual void SendTelemetry(std::string_view name,
                             std::vector<std::pair<std::string, std::string>> properties) = 0;

 protected:
  GameClientPeers() = default;
  GameClientPeers(const GameClientPeers&) = default;
  GameClientPeers& operator=(const GameClientPeers&) = default;
  GameClientPeers(GameClientPeers&&) = default;
  GameClientPeers& operator=(GameClientPeers&&) = default;
};

}  // namespace Nalo::Client::Gameflow
