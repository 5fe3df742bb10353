#pragma once
// The names under which the core carries events: a resource's events are
// named after the first pieces of its URI, a platform-server message after
// its type. Plugins subscribe to these names; the core and the peers publish
// under them.
//
//   ResourceEventName("/tav-gameflow/v1/session/x") == "OnJsonApiEvent_tav-gameflow_v1_session"
//   LcdsEventName("com.example.Game") == "OnLcdsEvent_com_example_Game"

#include <string>
#include <string_view>

namespace Nalo::Host {

// The name every resource event is also published under.
inline constexpr std::string_view kResourceEventName = "OnJsonApiEvent";

// The resource event name of a URI: "OnJsonApiEvent" and the first 3 pieces
// of the URI (5 under "tav-platform-config"), joined with "_".
[[nodiscard]] std::string ResourceEventName(std::string_view uri);
// "OnLcdsEvent_" and the type name with every "." replaced by "_".
[[nodiscard]] std::string LcdsEventName(std::string_view typeName);

}  // namespace Nalo::Host
