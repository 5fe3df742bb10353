#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "binding/Json.h"
#include "host/Host.h"
#include "host/Peers.h"
#include "host/ValueMatch.h"

namespace Nalo::Host {
namespace {

using ::testing::ElementsAre;

BindingProperty Json(std::string_view text) {
  BindingResult parsed = ParseJson(text);
  EXPECT_TRUE(parsed.Succeeded()) << text;
  return std::move(parsed.Value());
}

std::filesystem::path FreshFolder(std::string_view name) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("nalo-host-" + std::to_string(getpid()) + "-" + std::string(name));
  std::filesystem::remove_all(folder);
  return folder;
}

HostOptions InFolder(const std::filesystem::path& folder) {
  HostOptions options;
  options.stateFolder = folder;
  return options;
}

struct NameCase {
  std::string_view uri;
  std::string_view name;
};
constexpr NameCase kNameCases[] = {
    {"/tav-gameflow/v1/session", "OnJsonApiEvent_tav-gameflow_v1_session"},
    {"/tav-gameflow/v1/session/extra/deeper", "OnJsonApiEvent_tav-gameflow_v1_session"},
    {"tav-gameflow/v1/session", "OnJsonApiEvent_tav-gameflow_v1_session"},
    {"//a//b", "OnJsonApiEvent_a_b"},
    {"/tav-platform-config/v1/namespaces/A/B/C",
     "OnJsonApiEvent_tav-platform-config_v1_namespaces_A_B"},
    {"/", "OnJsonApiEvent"},
};

TEST(EventNames, DerivedFromUrisAndTypeNames) {
  for (const NameCase& c : kNameCases) {
    SCOPED_TRACE(c.uri);
    EXPECT_EQ(ResourceEventName(c.uri), c.name);
  }
  EXPECT_EQ(LcdsEventName("com.example.GameDTO"), "OnLcdsEvent_com_example_GameDTO");
}

TEST(ResourcePeer, VerbsStoreAndPublishCreateUpdateDelete) {
  Host host;
  const Response missing = host.Request("GET", "/peer/v1/thing/a");
  EXPECT_EQ(missing.status, 404u);
  EXPECT_EQ(missing.error, "No value at /peer/v1/thing/a.");

  EXPECT_EQ(host.Request("POST", "/peer/v1/thing/a", R"({"n":1})").status, 204u);
  EXPECT_EQ(host.Request("PUT", "/peer/v1/thing/a?x=1", R"({"n":2})").status, 204u);
  const Response found = host.Request("GET", "/peer/v1/thing/a");
  EXPECT_EQ(found.status, 200u);
  EXPECT_EQ(found.bodyText, R"({"n":2})");
  EXPECT_EQ(host.Request("DELETE", "/peer/v1/thing/a").status, 204u);
  EXPECT_EQ(host.Request("DELETE", "/peer/v1/thing/a").status, 404u);

  std::vector<std::string> seen;
  for (const PublishedEvent& event : host.PublishedEvents()) {
    seen.push_back(event.name + " " + event.eventType + " " + Describe(*event.payload.Find("data")));
  }
  EXPECT_THAT(seen, ElementsAre("OnJsonApiEvent_peer_v1_thing Create {\"n\":1}",
                                "OnJsonApiEvent Create {\"n\":1}",
                                "OnJsonApiEvent_peer_v1_thing Update {\"n\":2}",
                                "OnJsonApiEvent Update {\"n\":2}",
                                "OnJsonApiEvent_peer_v1_thing Delete null",
                                "OnJsonApiEvent Delete null"));
}

TEST(ResourcePeer, BadBodiesAndMethodsAreRefused) {
  Host host;
  const Response unreadable = host.Request("POST", "/peer/v1/x", "{nope");
  EXPECT_EQ(unreadable.status, 400u);
  EXPECT_THAT(unreadable.error, ::testing::StartsWith("The request body can't be read: Error: "));
  EXPECT_EQ(host.Request("PATCH", "/peer/v1/x").error, "PATCH is not supported at /peer/v1/x.");
  EXPECT_EQ(host.Request("FETCH", "/peer/v1/x").error, "Unknown method FETCH.");
  // YAML bodies are read by their content type.
  EXPECT_EQ(host.Request("POST", "/peer/v1/y", "a: 1\n", "application/x-yaml").status, 204u);
  EXPECT_EQ(host.Request("GET", "/peer/v1/y").bodyText, R"({"a":1})");
}

TEST(DataStorePeer, ValuesSurviveARestartOfTheHost) {
  const std::filesystem::path folder = FreshFolder("restart");
  {
    Host host(InFolder(folder));
    EXPECT_EQ(host.Request("POST", "/data-store/v1/install-settings/gameflow-patcher-lock",
                           "1700000000000")
                  .status,
              204u);
    EXPECT_EQ(host.Request("POST", "/data-store/v1/install-settings/gameflow-process-info", R"("")")
                  .status,
              204u);
    host.GetPeers().SetResource("/peer/v1/not-stored", Json("1"));
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "data-store.json.tmp"));
  Host restarted(InFolder(folder));
  EXPECT_EQ(restarted.Request("GET", "/data-store/v1/install-settings/gameflow-patcher-lock").bodyText,
            "1700000000000");
  EXPECT_EQ(restarted.Request("GET", "/data-store/v1/install-settings/gameflow-process-info").bodyText,
            R"("")");
  EXPECT_EQ(restarted.Request("GET", "/peer/v1/not-stored").status, 404u);
  EXPECT_EQ(restarted.Request("DELETE", "/data-store/v1/install-settings/gameflow-patcher-lock").status,
            204u);
  Host again(InFolder(folder));
  EXPECT_EQ(again.Request("GET", "/data-store/v1/install-settings/gameflow-patcher-lock").status, 404u);
  std::filesystem::remove_all(folder);
}

TEST(DataStorePeer, AnUnreadableFileIsReportedInTheLog) {
  const std::filesystem::path folder = FreshFolder("corrupt");
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "data-store.json") << "{broken";
  Host host(InFolder(folder));
  ASSERT_EQ(host.LogLines().size(), 1u);
  EXPECT_THAT(host.LogLines()[0].text,
              ::testing::StartsWith("Couldn't read the data store file " +
                                    (folder / "data-store.json").string() + ": Error: "));
  std::filesystem::remove_all(folder);
}

TEST(LcdsRelay, AnswersFromTheTableAndRecordsCalls) {
  Host host;
  host.GetPeers().SetLcdsAnswer("gameService", "createTutorialGame",
                                {.typeName = "com.example.Game", .body = Json(R"({"id":5})"), .failure = {}});
  host.GetPeers().SetLcdsAnswer("gameService", "retrieveInProgressGameInfo",
                                {.typeName = {}, .body = {}, .failure = Failure(500, "No game.")});
  const Response answered = host.RequestWithArgument(
      "POST", "/tav-login/v1/session/invoke", Json(R"(["gameService","createTutorialGame",[1]])"));
  EXPECT_EQ(answered.status, 200u);
  EXPECT_EQ(answered.bodyText, R"({"body":{"id":5},"typeName":"com.example.Game"})");

  const Response failed = host.Request("POST", "/tav-login/v1/session/invoke",
                                       R"(["gameService","retrieveInProgressGameInfo",[]])");
  EXPECT_EQ(failed.status, 500u);
  EXPECT_EQ(failed.error, "No game.");
  const Response unknown =
      host.Request("POST", "/tav-login/v1/session/invoke", R"(["gameService","other",[]])");
  EXPECT_EQ(unknown.status, 404u);
  EXPECT_EQ(unknown.error, "No answer is set for the LCDS call gameService.other.");
  EXPECT_EQ(host.Request("POST", "/tav-login/v1/session/invoke", "[1]").status, 400u);

  const auto& calls = host.GetPeers().LcdsCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].method, "createTutorialGame");
  EXPECT_EQ(ToJson(calls[0].arguments), "[1]");
}

TEST(HostPeers, TelemetryCommandLineAndFaults) {
  HostOptions options;
  options.commandLine = {"--no-zump", "--x=1"};
  Host host(options);
  EXPECT_EQ(host.Request("GET", "/naloclient/command-line-args").bodyText, R"(["--no-zump","--x=1"])");
  EXPECT_EQ(host.Request("POST", "/telemetry/v1/events/a.b", R"({"x":1})").status, 204u);
  ASSERT_EQ(host.GetPeers().Telemetry().size(), 1u);
  EXPECT_EQ(host.GetPeers().Telemetry()[0].name, "a.b");
  EXPECT_EQ(ToJson(host.GetPeers().Telemetry()[0].data), R"({"x":1})");

  host.GetPeers().InjectFault("/naloclient/app-port", 2, 503, "Port not open.");
  host.GetPeers().SeedResource("/naloclient/app-port", Json("2999"));
  for (int i = 0; i < 2; ++i) {
    const Response faulty = host.Request("GET", "/naloclient/app-port?x");
    EXPECT_EQ(faulty.status, 503u);
    EXPECT_EQ(faulty.error, "Port not open.");
  }
  EXPECT_EQ(host.Request("GET", "/naloclient/app-port").bodyText, "2999");
  // Seeding publishes nothing; telemetry and the command line neither.
  EXPECT_TRUE(host.PublishedEvents().empty());
}

}  // namespace
}  // namespace Nalo::Host
