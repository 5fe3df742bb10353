#pragma once
// The game client's command line, built from what the launch gathered from
// its peers: no requests, no logging, the same inputs always give the same
// arguments.
//
//   std::vector<std::string> game = GameClientArgs(credentials, 2411, "ST1", "");
//   ClientCommandLine line = BuildClientCommandLine({.gameArgs = game, .useZump = true});
//   Log(..., "Game args: %s", line.Redacted().c_str());  // no key, no token

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/BindingProperty.h"
#include "gameflow/LCDS/PlayerCredentialsDto.h"

namespace Nalo {
class BindingTypeRegistry;
}

namespace Nalo::Client::Gameflow {

// The mark that stands in the log for the host's token and the game's keys.
inline constexpr std::string_view kRedactedMark = "<redacted>";

// The arguments that name the game: "8394", "TavoraClient.exe", "/path", the
// connection (the game server's "<ip> <port> <key> <playerId>", or for an
// observer "spectator <ip><sep><port> <key> <gameId> <last>", where a game
// without a server ip is watched through the observer server with ":" and the
// platform id), "-HighlightsPath=" for an observer with a highlights folder,
// "-PlayerID=" and "-GameID=". The process record keeps exactly these.
[[nodiscard]] std::vector<std::string> GameClientArgs(
    const LCDS::PlayerCredentialsDto& credentials, std::uint64_t playerId,
    std::string_view platformId, std::string_view highlightsFolder);

// What the client is started with besides the game's arguments.
struct ClientCommandLineInputs {
  std::vector<std::string> gameArgs{};
  // "-UseZump", unless the host's command line says "--no-zump".
  bool useZump = true;
  // The gameflow's extra arguments, then those of the host's command line.
  std::vector<std::string> extraArgs{};
  std::vector<std::string> commandLineArgs{};
  // The platform configuration's toggles, already as arguments.
  std::vector<std::string> toggles{};
  // The host's port and token, for a client that talks to the host.
  struct HostCredentials {
    std::string port;
    std::string token;
  };
  std::optional<HostCredentials> host{};
  // The game's encryption keys; never shown in the log.
  std::vector<std::string> keys{};
};

struct ClientCommandLine {
  std::vector<std::string> arguments;
  // The texts the log must not show: the keys and the host's token.
  std::vector<std::string> secrets;

  // The arguments joined by spaces with every secret replaced by kRedactedMark.
  [[nodiscard]] std::string Redacted() const;
};

// The game's arguments, "-UseZump", the extra arguments, the toggles, then
// "-NaloClientPort=" and "-NaloClientAuthToken=".
[[nodiscard]] ClientCommandLine BuildClientCommandLine(const ClientCommandLineInputs& inputs);

// Every occurrence of each non-empty text of `secrets` in `arguments`
// replaced by kRedactedMark, the arguments joined by single spaces.
[[nodiscard]] std::string RedactedArguments(const std::vector<std::string>& arguments,
                                            const std::vector<std::string>& secrets);

// What the host's own command line says about the client: "--no-zump" turns
// "-UseZump" off; "--extra-game-client-args=" holds a JSON list of further
// arguments (none when it does not read as a list of texts).
[[nodiscard]] bool HostAllowsZump(const std::vector<std::string>& hostArgs);
[[nodiscard]] std::vector<std::string> HostExtraClientArgs(const std::vector<std::string>& hostArgs,
                                                           const BindingTypeRegistry& types);

// The platform configuration's toggles as arguments: "-<name>", with
// "=<value>" for a non-empty text value; none unless `toggles` is a structure.
[[nodiscard]] std::vector<std::string> ToggleArguments(const BindingProperty& toggles);

}  // namespace Nalo::Client::Gameflow
