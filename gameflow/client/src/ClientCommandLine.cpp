#include "gameflow/client/ClientCommandLine.h"

#include <algorithm>
#include <utility>

#include "binding/Json.h"
#include "gameflow/GameflowWireNames.h"
#include "gameflow/client/src/PeerValue.h"

namespace Nalo::Client::Gameflow {

namespace {


}  // namespace

std::vector<std::string> GameClientArgs(const LCDS::PlayerCredentialsDto& credentials,
                                        std::uint64_t playerId, std::string_view platformId,
                                        std::string_view highlightsFolder) {
  std::string server;
  std::string separator;
  std::uint16_t port = 0;
  std::string key;
  std::string last;
  if (!credentials.serverIp.empty()) {
    server = credentials.serverIp;
    port = credentials.serverPort;
    key = credentials.observer ? credentials.observerEncryptionKey : credentials.encryptionKey;
    last = std::to_string(playerId);
    separator = " ";
  } else {
    server = credentials.observerServerIp;
    port = credentials.observerServerPort;
    key = credentials.observerEncryptionKey;
    last = platformId;
    separator = ":";
  }
  std::string connection;
  if (credentials.observer) {
    connection = "spectator " + server + separator + std::to_string(port) + " " + key + " " +
                 std::to_string(credentials.gameId) + " " + last;
  } else {
    connection = server + " " + std::to_string(port) + " " + key + " " + last;
  }
  std::vector<std::string> args = {"8394", "TavoraClient.exe", "/path", std::move(connection)};
  if (credentials.observer && !highlightsFolder.empty()) {
    args.push_back("-HighlightsPath=" + std::string(highlightsFolder));
  }
  args.push_back("-PlayerID=" + std::to_string(playerId));
  args.push_back("-GameID=" + std::to_string(credentials.gameId));
  return args;
}

ClientCommandLine BuildClientCommandLine(const ClientCommandLineInputs& inputs) {
  ClientCommandLine line{.arguments = inputs.gameArgs, .secrets = inputs.keys};
  std::vector<std::string>& all = line.arguments;
  if (inputs.useZump) {
    all.emplace_back("-UseZump");
  }
  all.insert(all.end(), inputs.extraArgs.begin(), inputs.extraArgs.end());
  all.insert(all.end(), inputs.commandLineArgs.begin(), inputs.commandLineArgs.end());
  all.insert(all.end(), inputs.toggles.begin(), inputs.toggles.end());
  if (inputs.host.has_value()) {
    all.push_back("-NaloClientPort=" + inputs.host->port);
    all.push_back("-NaloClientAuthToken=" + inputs.host->token);
    line.secrets.push_back(inputs.host->token);
  }
  return line;
}

std::string ClientCommandLine::Redacted() const {
  return RedactedArguments(arguments, secrets);
}

std::string RedactedArguments(const std::vector<std::string>& arguments,
                              const std::vector<std::string>& secrets) {
  std::string line;
  for (const std::string& argument : arguments) {
    std::string shown = argument;
    for (const std::string& secret : secrets) {
      if (secret.empty()) {
        continue;
      }
      for (std::size_t at = shown.find(secret); at != std::string::npos;
           at = shown.find(secret, at + kRedactedMark.size())) {
        shown.replace(at, secret.size(), kRedactedMark);
      }
    }
    if (!line.empty()) {
      line += ' ';
    }
    line += shown;
  }
  return line;
}

bool HostAllowsZump(const std::vector<std::string>& hostArgs) {
  return std::find(hostArgs.begin(), hostArgs.end(), Wire::kNoZumpArgument) == hostArgs.end();
}

std::vector<std::string> HostExtraClientArgs(const std::vector<std::string>& hostArgs,
                                             const BindingTypeRegistry& types) {
  for (const std::string& argument : hostArgs) {
    if (argument.starts_with(Wire::kExtraArgsOption)) {
      BindingResult parsed =
          ParseJson(std::string_view(argument).substr(Wire::kExtraArgsOption.size()));
      if (parsed.Failed()) {
        return {};
      }
      auto extra = detail::Convert<std::vector<std::string>>(parsed.Value(), types);
      return extra.HasFailure() ? std::vector<std::string>() : std::move(extra).Value();
    }
  }
  return {};
}

std::vector<std::string> ToggleArguments(const BindingProperty& toggles) {
  std::vector<std::string> arguments;
  if (toggles.Kind() != BindingKind::Structure) {
    return arguments;
  }
  for (const auto& member : toggles.Members()) {
    std::string toggle = "-" + std::string(member.name);
    if (member.value.Kind() == BindingKind::String && !member.value.StringValue().empty()) {
      toggle += "=" + std::string(member.value.StringValue());
    }
    arguments.push_back(std::move(toggle));
  }
  return arguments;
}

}  // namespace Nalo::Client::Gameflow
