#pragma once
// The realistic stand-in peers: what the peers of a gameflow plugin hold
// when a scenario hasn't said otherwise (a logged-in player who isn't
// banned, an idle and up-to-date patcher, a few queues), and how their
// action endpoints answer. PeerServices consults them when the host runs
// with PeerSetup::Realistic.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"

namespace Nalo::Host::detail {

struct RealisticValue {
  std::string path;
  BindingProperty value;
  // Published (Create) once a plugin has initialised, as a peer starting
  // beside it would publish its resource.
  bool announced = false;
};

// The values the realistic peers start with, announced ones in the order
// they are announced. `stateFolder` holds the game client's directory.
[[nodiscard]] std::vector<RealisticValue> RealisticValues(const std::filesystem::path& stateFolder);

// What a realistic peer does with a request beyond its stored values.
enum class RealisticAction {
  None,            // not a realistic peer's action: stored values answer
  Acknowledge,     // an action: 204, nothing stored or published
  AnswerState,     // the patcher's corruption check: the current product state
  AnswerComputed,  // a family of GET paths answered from a table (maps, game-type configs)
};

[[nodiscard]] RealisticAction RealisticActionOf(std::uint32_t method, std::string_view path);

// The value of a computed GET path; nullopt when the table has none.
[[nodiscard]] std::optional<BindingProperty> RealisticComputedValue(std::string_view path);

// The path of the product state that the corruption check answers with.
inline constexpr std::string_view kPatcherStatePath = "/patcher/v1/products/tavora/state";

}  // namespace Nalo::Host::detail
