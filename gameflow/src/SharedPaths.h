#pragma once
// Paths that more than one part of the gameflow names: resources of the
// plugin that the launcher publishes and the plugin serves, and resources of
// the host and the login plugin that both read.

#include <string_view>

namespace Nalo::Client::Gameflow::detail {

inline constexpr std::string_view kSpectatePath = "/tav-gameflow/v1/spectate";
inline constexpr std::string_view kDelayedSpectateLaunchPath =
    "/tav-gameflow/v1/spectate/delayed-launch";
inline constexpr std::string_view kBasicTutorialPath = "/tav-gameflow/v1/basic-tutorial";
inline constexpr std::string_view kBattleTrainingPath = "/tav-gameflow/v1/battle-training";
inline constexpr std::string_view kCommandLinePath = "/naloclient/command-line-args";
inline constexpr std::string_view kLoginInGameCredentialsPath = "/tav-login/v1/login-in-game-creds";

}  // namespace Nalo::Client::Gameflow::detail
