#pragma once
// GameflowProcessInfo: the record of the launched game client, kept in the
// data store so that a restarted plugin can find the game it launched.

#include <cstdint>
#include <string>
#include <vector>

namespace Nalo::Client::Gameflow::Api {

struct GameflowProcessInfo {
  std::uint32_t pid = 0;
  // The launch's command-line arguments, one element per argument.
  std::vector<std::string> rawArgs;

  bool operator==(const GameflowProcessInfo&) const = default;
};

}  // namespace Nalo::Client::Gameflow::Api
