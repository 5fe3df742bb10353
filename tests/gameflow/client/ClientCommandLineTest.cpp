// The game client's command line as a function of what the launch gathered:
// the game's arguments in each server form, the order of the rest, and the
// secrets kept out of the logged line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/BindingTypeRegistry.h"
#include "gameflow/client/ClientCommandLine.h"

namespace Nalo::Client::Gameflow {
namespace {

using Args = std::vector<std::string>;

TEST(GameClientArgs, NameTheGameServerOrTheObserverServer) {
  LCDS::PlayerCredentialsDto player;
  player.gameId = 7;
  player.serverIp = "10.1.2.3";
  player.serverPort = 5100;
  player.encryptionKey = "key";
  LCDS::PlayerCredentialsDto observer = player;
  observer.observer = true;
  observer.observerEncryptionKey = "obs";
  LCDS::PlayerCredentialsDto viaObserverServer;
  viaObserverServer.gameId = 9;
  viaObserverServer.observer = true;
  viaObserverServer.observerServerIp = "10.9.9.9";
  viaObserverServer.observerServerPort = 8088;
  viaObserverServer.observerEncryptionKey = "obs";
  EXPECT_EQ(GameClientArgs(player, 2411, "ST1", "/highlights"),
            (Args{"8394", "TavoraClient.exe", "/path", "10.1.2.3 5100 key 2411", "-PlayerID=2411",
                  "-GameID=7"}));
  EXPECT_EQ(GameClientArgs(observer, 2411, "ST1", ""),
            (Args{"8394", "TavoraClient.exe", "/path", "spectator 10.1.2.3 5100 obs 7 2411",
                  "-PlayerID=2411", "-GameID=7"}));
  EXPECT_EQ(GameClientArgs(viaObserverServer, 2411, "ST1", "/highlights"),
            (Args{"8394", "TavoraClient.exe", "/path", "spectator 10.9.9.9:8088 obs 9 ST1",
                  "-HighlightsPath=/highlights", "-PlayerID=2411", "-GameID=9"}));
}

TEST(ClientCommandLine, AddsTheRestInOrderAndKeepsTheSecretsOutOfTheLog) {
  const ClientCommandLine line = BuildClientCommandLine(
      {.gameArgs = {"8394", "10.1.2.3 5100 key 2411"},
       .extraArgs = {"-Extra"},
       .commandLineArgs = {"-FromHost"},
       .toggles = {"-Toggle=1"},
       .host = ClientCommandLineInputs::HostCredentials{.port = "51234", .token = "tok"},
       .keys = {"key", ""}});
  EXPECT_EQ(line.arguments,
            (Args{"8394", "10.1.2.3 5100 key 2411", "-UseZump", "-Extra", "-FromHost", "-Toggle=1",
                  "-NaloClientPort=51234", "-NaloClientAuthToken=tok"}));
  EXPECT_EQ(line.Redacted(),
            "8394 10.1.2.3 5100 <redacted> 2411 -UseZump -Extra -FromHost -Toggle=1 "
            "-NaloClientPort=51234 -NaloClientAuthToken=<redacted>");
  // A watch's client gets neither the host's port nor its token.
  EXPECT_EQ(BuildClientCommandLine({.gameArgs = {"8394"}, .useZump = false}).arguments,
            Args{"8394"});
}

TEST(RedactedArguments, EverySecretIsMarkedWhereverItStands) {
  const Args arguments = {"8394", "10.0.0.1 5100 key 42", "-NaloClientAuthToken=tok", "keykey",
                          "-Other=x"};
  EXPECT_EQ(RedactedArguments(arguments, {"key", "", "tok"}),
            "8394 10.0.0.1 5100 <redacted> 42 -NaloClientAuthToken=<redacted> "
            "<redacted><redacted> -Other=x");
  // A secret that the mark contains is not searched for again inside it.
  EXPECT_EQ(RedactedArguments({"da"}, {"da"}), "<redacted>");
  EXPECT_EQ(RedactedArguments({"red"}, {"red"}), "<redacted>");
}

TEST(HostCommandLine, SaysWhetherToUseZumpAndWhichArgumentsToAdd) {
  const BindingTypeRegistry types;
  EXPECT_TRUE(HostAllowsZump({"--other", "--no-zump=1"}));
  EXPECT_FALSE(HostAllowsZump({"--other", "--no-zump"}));
  struct Case {
    Args hostArgs;
    Args extra;
  };
  const Case cases[] = {
      {{"--x", R"(--extra-game-client-args=["-A", "-B=1"])"}, {"-A", "-B=1"}},
      // Only the first option counts.
      {{R"(--extra-game-client-args=["-A"])", R"(--extra-game-client-args=["-B"])"}, {"-A"}},
      {{"--extra-game-client-args=[-A"}, {}},
      {{"--extra-game-client-args=[1]"}, {}},
      {{"--extra-game-client-args"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hostArgs.back());
    EXPECT_EQ(HostExtraClientArgs(c.hostArgs, types), c.extra);
  }
}

TEST(ToggleArguments, ATextValueFollowsTheNameOtherValuesDoNot) {
  BindingProperty toggles;
  toggles.member("Plain").SetBool(true);
  toggles.member("Valued").SetString("v");
  toggles.member("Empty").SetString("");
  EXPECT_EQ(ToggleArguments(toggles), (Args{"-Empty", "-Plain", "-Valued=v"}));
  EXPECT_EQ(ToggleArguments(BindingProperty()), Args{});
}

}  // namespace
}  // namespace Nalo::Client::Gameflow
