#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "abi/HostValue.h"
#include "binding/BindingConvert.h"
#include "binding/BindingTypeRegistry.h"
#include "binding/Json.h"
#include "gameflow/Api/GameflowSession.h"
#include "gameflow/Api/LoginSession.h"
#include "gameflow/Api/PatcherProductState.h"
#include "gameflow/Api/Queue.h"
#include "gameflow/Api/RegionLocale.h"
#include "gameflow/Api/ReplaysSettings.h"
#include "gameflow/GameflowTypeRegistration.h"
#include "host/core/Host.h"
#include "host/peers/Peers.h"
#include "host/scenario/ValueMatch.h"
#include "plugin/LcdsClassNames.h"

namespace Nalo::Host {
namespace {

using ::testing::ElementsAre;

BindingProperty Json(std::string_view text) {
  BindingResult parsed = ParseJson(text);
  EXPECT_TRUE(parsed.Succeeded()) << text;
  return std::move(parsed.Value());
}

std::filesystem::path FreshFolder(std::string_view name) {
  std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
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
    seen.push_back(event.name + " " + event.eventType + " " + Describe(*event.Data()));
  }
  EXPECT_THAT(
      seen, ElementsAre(
                "OnJsonApiEvent_peer_v1_thing Create {\"n\":1}", "OnJsonApiEvent Create {\"n\":1}",
                "OnJsonApiEvent_peer_v1_thing Update {\"n\":2}", "OnJsonApiEvent Update {\"n\":2}",
                "OnJsonApiEvent_peer_v1_thing Delete null", "OnJsonApiEvent Delete null"));
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

TEST(DataStorePeer, ACorruptFileIsKeptBesideItAndTheStoreStartsEmpty) {
  const std::filesystem::path folder = FreshFolder("corrupt");
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = folder / "data-store.json";
  for (const std::string_view corrupt : {std::string_view("{broken"), std::string_view("[1]")}) {
    std::ofstream(file) << corrupt;
    Host host(InFolder(folder));
    ASSERT_EQ(host.LogLines().size(), 1u);
    EXPECT_THAT(host.LogLines()[0].text,
                ::testing::StartsWith("Couldn't read the data store file " + file.string()));
    EXPECT_THAT(host.LogLines()[0].text,
                ::testing::HasSubstr("it was kept as " + file.string() + ".corrupt-"));
    EXPECT_EQ(host.Request("GET", "/data-store/v1/install-settings/a").status, 404u);
    // The first write starts a new file; the corrupt one stays as it was.
    EXPECT_EQ(host.Request("POST", "/data-store/v1/install-settings/a", "1").status, 204u);
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("data-store.json.corrupt-")) {
        std::ifstream stream(entry.path());
        kept.emplace_back(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
        std::filesystem::remove(entry.path());
      }
    }
    EXPECT_THAT(kept, ::testing::ElementsAre(std::string(corrupt)));
  }
  std::filesystem::remove_all(folder);
}

TEST(DataStorePeer, TheFileAndAFolderMadeForItAreTheOwnersAlone) {
  const std::filesystem::path folder = FreshFolder("modes") / "state";
  const std::filesystem::path file = folder / "data-store.json";
  Host host(InFolder(folder));
  EXPECT_EQ(host.Request("POST", "/data-store/v1/install-settings/a", "1").status, 204u);
  using std::filesystem::perms;
  EXPECT_EQ(std::filesystem::status(folder).permissions() & perms::all, perms::owner_all);
  EXPECT_EQ(std::filesystem::status(file).permissions() & perms::all,
            perms::owner_read | perms::owner_write);
  std::filesystem::remove_all(folder.parent_path());
}

TEST(ResourcePeer, MutatorsStoreAndPublishAsDocumented) {
  struct Case {
    const char* what;
    void (*act)(Peers&);
    std::vector<std::string> published;  // event type and data, own-name events only
    std::optional<std::string> stored;   // JSON of the value left, or none
  };
  const Case cases[] = {
      {"seed then POST is an update",
       [](Peers& peers) {
         peers.SeedResource("/peer/v1/r", Json("1"));
         peers.SetResource("/peer/v1/r", Json("2"));
       },
       {"Update 2"},
       "2"},
      {"publish stores nothing",
       [](Peers& peers) { peers.PublishResource("/peer/v1/r", Json("3")); },
       {"Update 3"},
       std::nullopt},
      {"publish keeps the stored value",
       [](Peers& peers) {
         peers.SeedResource("/peer/v1/r", Json("1"));
         peers.PublishResource("/peer/v1/r", Json("3"));
       },
       {"Update 3"},
       "1"},
      {"delete of a missing value still publishes",
       [](Peers& peers) { peers.DeleteResource("/peer/v1/r"); },
       {"Delete null"},
       std::nullopt},
      {"set, delete, set again creates anew",
       [](Peers& peers) {
         peers.SetResource("/peer/v1/r", Json("1"));
         peers.DeleteResource("/peer/v1/r");
         peers.SetResource("/peer/v1/r", Json("4"));
       },
       {"Create 1", "Delete null", "Create 4"},
       "4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Host host;
    c.act(host.GetPeers());
    std::vector<std::string> seen;
    for (const PublishedEvent& event : host.PublishedEvents()) {
      if (event.name == "OnJsonApiEvent_peer_v1_r") {
        EXPECT_EQ(event.uri, "/peer/v1/r");
        EXPECT_EQ(event.senderHandle, 0u);
        seen.push_back(event.eventType + " " + Describe(*event.Data()));
      }
    }
    EXPECT_EQ(seen, c.published);
    const std::optional<BindingProperty> stored = host.GetPeers().Resource("/peer/v1/r");
    EXPECT_EQ(stored ? std::optional<std::string>(ToJson(*stored)) : std::nullopt, c.stored);
    const Response fetched = host.Request("GET", "/peer/v1/r");
    EXPECT_EQ(fetched.status, c.stored ? 200u : 404u);
  }
}

// Every request that reaches the peers is recorded with its answer's
// status, whether a fault, a canned answer or a peer answered it.
TEST(ResourcePeer, RequestsAreRecordedWithQueryValueAndStatus) {
  Host host;
  host.GetPeers().InjectFault("/peer/v1/f", 1, 500, "Broken.");
  host.GetPeers().SetAnswers("POST", "/peer/v1/c", {PeerAnswer{201, Json("1"), ""}});
  EXPECT_EQ(host.Request("GET", "/peer/v1/f").status, 500u);
  EXPECT_EQ(host.Request("PUT", "/peer/v1/a?x=1", "5").status, 204u);
  EXPECT_EQ(host.Request("GET", "/peer/v1/a").status, 200u);
  EXPECT_EQ(host.Request("POST", "/peer/v1/c?y", "{}").status, 201u);
  EXPECT_EQ(host.Request("POST", "/peer/v1/c", "[1").status, 400u);
  std::vector<std::string> seen;
  for (const PeerRequest& request : host.GetPeers().Requests()) {
    seen.push_back(request.method + " " + request.path + " " + Describe(request.value) + " " +
                   std::to_string(request.status));
  }
  EXPECT_THAT(seen, ElementsAre("GET /peer/v1/f null 500", "PUT /peer/v1/a?x=1 5 204",
                                "GET /peer/v1/a null 200", "POST /peer/v1/c?y {} 201",
                                "POST /peer/v1/c null 400"));
  EXPECT_FALSE(host.GetPeers().Resource("/peer/v1/c").has_value());
  // The query is not part of the stored path.
  EXPECT_FALSE(host.GetPeers().Resource("/peer/v1/a?x=1").has_value());
}

// Each row injects faults, then sends requests in order; the statuses seen
// show how faults count down, stop, are replaced or cleared, and that they
// match the exact path only.
TEST(FaultInjection, CountsDownPerExactPathThenStops) {
  struct Injection {
    const char* path;
    std::uint32_t count;
  };
  struct Case {
    const char* what;
    std::vector<Injection> injections;
    std::vector<const char*> requests;
    std::vector<std::uint32_t> statuses;
  };
  const Case cases[] = {
      {"counts down then stops",
       {{"/peer/v1/f", 2}},
       {"/peer/v1/f", "/peer/v1/f?q", "/peer/v1/f"},
       {503, 503, 200}},
      {"a later injection replaces what is left",
       {{"/peer/v1/f", 3}, {"/peer/v1/f", 1}},
       {"/peer/v1/f", "/peer/v1/f"},
       {503, 200}},
      {"a count of 0 clears the path",
       {{"/peer/v1/f", 3}, {"/peer/v1/f", 0}},
       {"/peer/v1/f"},
       {200}},
      {"sub-paths and siblings are not affected",
       {{"/peer/v1/f", 1}},
       {"/peer/v1/f/sub", "/peer/v1/g", "/peer/v1", "/peer/v1/f"},
       {404, 200, 404, 503}},
      {"the query is dropped from the injected path",
       {{"/peer/v1/f?x=1", 1}},
       {"/peer/v1/f?y=2", "/peer/v1/f"},
       {503, 200}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Host host;
    host.GetPeers().SeedResource("/peer/v1/f", Json("1"));
    host.GetPeers().SeedResource("/peer/v1/g", Json("1"));
    for (const Injection& injection : c.injections) {
      host.GetPeers().InjectFault(injection.path, injection.count, 503, "Down.");
    }
    std::vector<std::uint32_t> statuses;
    for (const char* path : c.requests) {
      const Response response = host.Request("GET", path);
      statuses.push_back(response.status);
      if (response.status == 503) {
        EXPECT_EQ(response.error, "Down.");
        EXPECT_EQ(response.reason, "Service Unavailable");
      }
    }
    EXPECT_EQ(statuses, c.statuses);
  }
}

TEST(DataStorePeer, WritesAtomicallyAndOnlyWhenSomethingChanged) {
  const std::filesystem::path folder = FreshFolder("atomic");
  const std::filesystem::path file = folder / "data-store.json";
  auto contents = [&file] {
    std::ifstream stream(file);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
  };
  Host host(InFolder(folder));
  // Nothing to remove: no file is written, not even an empty one.
  EXPECT_EQ(host.Request("DELETE", "/data-store/v1/install-settings/k").status, 404u);
  EXPECT_FALSE(std::filesystem::exists(file));

  struct Step {
    const char* method;
    const char* key;
    const char* body;
    std::uint32_t status;
    const char* file;  // the file's JSON after the step
  };
  const Step steps[] = {
      {"POST", "a", "1", 204, R"({"a":1})"},
      {"PUT", "b", R"({"x":[true]})", 204, R"({"a":1,"b":{"x":[true]}})"},
      {"PUT", "a", R"("two")", 204, R"({"a":"two","b":{"x":[true]}})"},
      {"DELETE", "b", "", 204, R"({"a":"two"})"},
      {"DELETE", "b", "", 404, R"({"a":"two"})"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.method) + " " + step.key);
    const Response response = host.Request(
        step.method, std::string("/data-store/v1/install-settings/") + step.key, step.body);
    EXPECT_EQ(response.status, step.status);
    EXPECT_EQ(ToJson(Json(contents())), step.file);
    EXPECT_FALSE(std::filesystem::exists(folder / "data-store.json.tmp"));
  }
  // A mutator of the peers reaches the file too, and publishes like a request;
  // other resources are not kept in it.
  host.GetPeers().SetResource("/peer/v1/not-stored", Json("1"));
  host.GetPeers().SetResource("/data-store/v1/install-settings/c", Json("3"));
  EXPECT_EQ(ToJson(Json(contents())), R"({"a":"two","c":3})");
  EXPECT_EQ(host.PublishedEvents().back().uri, "/data-store/v1/install-settings/c");
  std::filesystem::remove_all(folder);
}

TEST(LcdsRelay, EdgesOfTheAnswerTable) {
  Host host;
  Peers& peers = host.GetPeers();
  peers.SetLcdsAnswer("svc", "codeless",
                      {.typeName = {}, .body = {}, .failure = Failure("No code.")});
  peers.SetLcdsAnswer("svc", "failing",
                      {.typeName = {}, .body = {}, .failure = Failure(503, "No game.")});
  peers.SetLcdsAnswer("svc", "replaced", {.typeName = "t.Old", .body = Json("1"), .failure = {}});
  peers.SetLcdsAnswer("svc", "replaced", {.typeName = "t.New", .body = Json("2"), .failure = {}});
  struct Case {
    const char* body;
    std::uint32_t status;
    const char* text;  // the body on success, the error otherwise
  };
  const Case cases[] = {
      {R"(["svc","codeless",[]])", 500, "No code."},
      {R"(["svc","failing",[]])", 503, "No game."},
      {R"(["svc","replaced",[]])", 200, R"({"body":2,"typeName":"t.New"})"},
      {R"(["svc","replaced"])", 200, R"({"body":2,"typeName":"t.New"})"},
      {R"(["svc","missing"])", 404, "No answer is set for the LCDS call svc.missing."},
      {R"(["other","replaced",[]])", 404, "No answer is set for the LCDS call other.replaced."},
      {R"(["svc"])", 400,
       "An LCDS invocation takes a destination, a method and an array of arguments."},
      {R"(["svc",3,[]])", 400,
       "An LCDS invocation takes a destination, a method and an array of arguments."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const Response response = host.Request("POST", "/tav-login/v1/session/invoke", c.body);
    EXPECT_EQ(response.status, c.status);
    EXPECT_EQ(response.status == 200 ? response.bodyText : response.error, c.text);
  }
  // Refused calls are not recorded; those without an answer are.
  std::vector<std::string> calls;
  for (const LcdsCall& call : peers.LcdsCalls()) {
    calls.push_back(call.destination + "." + call.method + " " + Describe(call.arguments));
  }
  EXPECT_THAT(calls, ElementsAre("svc.codeless []", "svc.failing []", "svc.replaced []",
                                 "svc.replaced null", "svc.missing null", "other.replaced []"));
  // A GET of the relay's path is not an invocation.
  EXPECT_EQ(host.Request("GET", "/tav-login/v1/session/invoke").status, 404u);
  EXPECT_EQ(peers.LcdsCalls().size(), 6u);
  // A plugin sends the three as positional arguments rather than one body.
  const Response answered = host.RequestWithArgument("POST", "/tav-login/v1/session/invoke",
                                                     Json(R"(["svc","replaced",[1]])"));
  EXPECT_EQ(answered.bodyText, R"({"body":2,"typeName":"t.New"})");
  EXPECT_EQ(ToJson(peers.LcdsCalls().back().arguments), "[1]");
}

// --- Realistic peers -------------------------------------------------------------------------

// Converts `value` to T and back: a member that T doesn't know (a misspelt
// field name) is missing from the round trip.
template <class T>
std::optional<std::string> RoundTripMismatch(const BindingProperty& value,
                                             const BindingTypeRegistry& registry) {
  T native{};
  if (BindingResult converted = FromProperty(native, value, "<value>", registry);
      converted.Failed()) {
    return std::string(converted.ErrorMessage());
  }
  BindingResult back = ToProperty(native, registry);
  // Through a host value, where enumerators travel by name.
  const HostValue crossing = ToHostValue(back.Value(), registry);
  return Mismatch(value, FromHostValue(crossing.Record(), "<value>").Value(), MatchMode::Subset);
}

// The realistic values carry the gameflow's own field names and enumerator
// names: each converts to its type without losing a member.
TEST(RealisticPeers, ValuesSpeakTheGameflowDataModel) {
  BindingTypeRegistry registry;
  LcdsClassNames classNames;
  Client::Gameflow::RegisterGameflowTypes(registry, classNames);
  HostOptions options;
  options.peers = PeerSetup::Realistic;
  Host host(options);
  namespace Api = Client::Gameflow::Api;
  using Check = std::optional<std::string> (*)(const BindingProperty&, const BindingTypeRegistry&);
  const std::pair<std::string_view, Check> cases[] = {
      {"/tav-login/v1/session", &RoundTripMismatch<Api::LoginSession>},
      {"/patcher/v1/products/tavora/state", &RoundTripMismatch<Api::PatcherProductState>},
      {"/tav-game-queues/v1/queues", &RoundTripMismatch<std::vector<Api::Queue>>},
      {"/tav-game-queues/v1/custom", &RoundTripMismatch<std::vector<Api::Queue>>},
      {"/tav-game-queues/v1/game-type-config/1", &RoundTripMismatch<Api::QueueGameTypeConfig>},
      {"/tav-game-queues/v1/game-type-config/18", &RoundTripMismatch<Api::QueueGameTypeConfig>},
      {"/tav-maps/v1/map/11", &RoundTripMismatch<Api::GameflowGameMap>},
      {"/tav-maps/v2/map/11/TUTORIAL", &RoundTripMismatch<Api::GameflowGameMap>},
      {"/tav-maps/v2/map/12/BRIDGE/mutator", &RoundTripMismatch<Api::GameflowGameMap>},
      {"/naloclient/region-locale", &RoundTripMismatch<Api::RegionLocale>},
      {"/tav-settings/v1/local/tav-replays", &RoundTripMismatch<Api::ReplaysSettingsResource>},
      {"/naloclient/app-port", &RoundTripMismatch<std::uint16_t>},
      {"/naloclient/auth-token", &RoundTripMismatch<std::string>},
      {"/naloclient/command-line-args", &RoundTripMismatch<std::vector<std::string>>},
      {"/tav-login/v1/login-data-packet", nullptr},
      {"/tav-summoner/v1/current-summoner", nullptr},
      {"/naloclient/ux-crash-count", nullptr},
      {"/patcher/v1/products/tavora/paths", nullptr},
      {"/tav-platform-config/v1/namespaces/GameClientCmdLineToggles", nullptr},
  };
  for (const auto& [path, check] : cases) {
    SCOPED_TRACE(path);
    const Response response = host.Request("GET", path);
    ASSERT_EQ(response.status, 200u) << response.error;
    EXPECT_FALSE(response.body.IsEmpty());
    if (check != nullptr) {
      EXPECT_EQ(check(response.body, registry), std::nullopt);
    }
  }
  EXPECT_EQ(
      host.Request("GET", "/tav-maps/v2/map/12/BRIDGE/x").body.Find("gameMutator")->AsString(),
      "x");
  for (const std::string_view missing :
       {"/tav-maps/v1/map/99", "/tav-maps/v2/map/11", "/tav-maps/v1/map/11/CLASSIC",
        "/tav-game-queues/v1/game-type-config/7", "/tav-login/v1/login-in-game-creds"}) {
    SCOPED_TRACE(missing);
    EXPECT_EQ(host.Request("GET", missing).status, 404u);
  }
}

// After a plugin has initialised, the peers it subscribes to publish their
// values (Create, login first, queues last); a scenario's value replaces
// the default; announcing can be turned off.
TEST(RealisticPeers, AnnounceTheirValuesOnceThePluginHasInitialised) {
  for (const bool announce : {true, false}) {
    SCOPED_TRACE(announce);
    HostOptions options;
    options.peers = PeerSetup::Realistic;
    options.announcePeers = announce;
    Host host(options);
    host.GetPeers().SeedResource("/tav-game-queues/v1/custom", Json("[]"));
    ASSERT_FALSE(host.Load(FIXTURE_PLUGIN).HasFailure());
    std::vector<std::string> seen;
    for (const PublishedEvent& event : host.PublishedEvents()) {
      if (event.name != "OnJsonApiEvent") {
        seen.push_back(event.eventType + " " + event.uri);
      }
    }
    if (!announce) {
      EXPECT_THAT(seen, ::testing::IsEmpty());
      continue;
    }
    EXPECT_THAT(
        seen,
        ElementsAre("Create /tav-login/v1/session", "Create /tav-login/v1/login-data-packet",
                    "Create /patcher/v1/products/tavora/state", "Create /naloclient/ux-crash-count",
                    "Create /tav-game-queues/v1/queues", "Create /tav-game-queues/v1/custom"));
    EXPECT_EQ(Describe(*host.PublishedEvents()[10].Data()), "[]");
  }
}

// The patcher's and the host's actions are acknowledged and recorded but
// neither stored nor published; the corruption check answers the current
// product state.
TEST(RealisticPeers, ActionsAcknowledgeAndTheCorruptionCheckAnswersTheState) {
  HostOptions options;
  options.peers = PeerSetup::Realistic;
  Host host(options);
  for (const std::string_view action :
       {"/patcher/v1/products/tavora/stop-checking-request",
        "/patcher/v1/products/tavora/signal-start-patching-delayed", "/naloclient/ux-minimize",
        "/tav-game-settings/v1/reload-post-game"}) {
    SCOPED_TRACE(action);
    EXPECT_EQ(host.Request("POST", action).status, 204u);
    EXPECT_FALSE(host.GetPeers().Resource(action).has_value());
  }
  EXPECT_TRUE(host.PublishedEvents().empty());
  EXPECT_EQ(host.GetPeers().Requests().size(), 4u);

  const std::string_view check = "/patcher/v1/products/tavora/detect-corruption-request";
  EXPECT_EQ(host.Request("POST", check).body.Find("isCorrupted")->AsBool(), false);
  host.GetPeers().SetResource("/patcher/v1/products/tavora/state",
                              Json(R"({"action":"Idle","isCorrupted":true})"));
  EXPECT_EQ(Describe(host.Request("POST", check).body), R"({"action":"Idle","isCorrupted":true})");
}

}  // namespace
}  // namespace Nalo::Host
