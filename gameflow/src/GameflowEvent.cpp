#include "gameflow/GameflowEvent.h"

namespace Nalo::Client::Gameflow {

std::optional<GameflowEvent> ParseGameflowEvent(std::string_view name) noexcept {
  // Every name shares the prefix; comparing it first rejects most foreign
  // texts, however long, in a few bytes.
  constexpr std::string_view kPrefix = "GAMEFLOW_EVENT.";
  if (!name.starts_with(kPrefix)) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < kGameflowEventNames.size(); ++i) {
    if (kGameflowEventNames[i] == name) {
      return static_cast<GameflowEvent>(i);
    }
  }
  return std::nullopt;
}

}  // namespace Nalo::Client::Gameflow
