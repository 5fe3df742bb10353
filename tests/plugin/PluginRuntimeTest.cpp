// The plugin runtime, driven through the real test plugin shared object and
// the stand-in core on virtual time.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "abi/HostValue.h"
#include "binding/BindingProperty.h"
#include "binding/Json.h"
#include "host/core/Host.h"
#include "host/peers/Peers.h"
#include "plugin/ModuleBase.h"
#include "plugin/RuntimeTypes.h"
#include "support/FailureMatchers.h"

namespace Nalo {
namespace {

using Host::CoreCall;
using Host::CoreEntry;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kPluginPath = NALO_TEST_PLUGIN_PATH;
constexpr std::string_view kPrefix = "/tav-testplugin/v1";

BindingProperty Json(std::string_view text) {
  return ParseJson(text).Value();
}

// Values compared as compact JSON: a number's signedness depends on its
// source, not on what a reader sees.
std::string JsonText(const BindingProperty& value) {
  return ToJson(value);
}

std::string Path(std::string_view rest) {
  return std::string(kPrefix) + std::string(rest);
}

// The failure message a route answered: routes send a failure with fields
// as its JSON text.
std::string ErrorMessage(const Host::Response& response) {
  BindingResult parsed = ParseJson(response.error);
  if (parsed.Succeeded() && parsed.Value().Find("message") != nullptr) {
    return std::string(parsed.Value().Find("message")->StringValue());
  }
  return response.error;
}

Host::HostOptions CoreOptions(std::uint32_t major, std::uint32_t minor, std::uint32_t patch) {
  Host::HostOptions options;
  options.coreMajor = major;
  options.coreMinor = minor;
  options.corePatch = patch;
  return options;
}

Host::ServiceProxyReply Reply(std::string uuid, std::string service, std::string method,
                              std::string payload) {
  Host::ServiceProxyReply reply;
  reply.uuid = std::move(uuid);
  reply.serviceName = std::move(service);
  reply.methodName = std::move(method);
  reply.payload = std::move(payload);
  return reply;
}

Host::LcdsAnswer Answer(std::string typeName, std::string_view body) {
  Host::LcdsAnswer answer;
  answer.typeName = std::move(typeName);
  answer.body = Json(body);
  return answer;
}

class PluginRuntime : public ::testing::Test {
 protected:
  explicit PluginRuntime(Host::HostOptions options = {}) : mHost(std::move(options)) {}

  void SetUp() override {
    ASSERT_THAT(mHost.Load(kPluginPath), Succeeded());
    mHost.ClearRecords();
  }

  Host::Response Call(std::string_view method, std::string_view rest, std::string_view body = {}) {
    return mHost.Request(method, Path(rest), body);
  }

  std::vector<std::string> Journal() {
    const Host::Response response = Call("GET", "/journal");
    std::vector<std::string> lines;
    for (const BindingProperty& line : response.body.Elements()) {
      lines.emplace_back(line.StringValue());
    }
    return lines;
  }

  // The calls the plugin made into the core of `entry` kind, as texts.
  std::vector<std::string> Calls(CoreEntry entry) const {
    std::vector<std::string> texts;
    for (const CoreCall& call : mHost.CoreCalls()) {
      if (call.entry == entry && call.pluginHandle != 0) {
        texts.push_back(call.text);
      }
    }
    return texts;
  }

  // Pump, wait and request calls in order, without the test's own requests.
  std::vector<std::string> WaitCalls() const {
    std::vector<std::string> texts;
    for (const CoreCall& call : mHost.CoreCalls()) {
      switch (call.entry) {
        case CoreEntry::BeginWait:
          texts.push_back("begin " + call.text);
          break;
        case CoreEntry::Pump:
          texts.emplace_back("pump");
          break;
        case CoreEntry::EndWait:
          texts.emplace_back("end");
          break;
        default:
          break;
      }
    }
    return texts;
  }

  std::vector<std::string> PluginLogLines(std::uint32_t level) const {
    std::vector<std::string> lines;
    for (const Host::LogLine& line : mHost.LogLines()) {
      if (line.pluginHandle != 0 && line.level == level) {
        lines.push_back(line.text);
      }
    }
    return lines;
  }

  void AdvanceSeconds(double seconds) {
    mHost.Advance(std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1e9)));
  }

  Host::Host mHost;
};

// --- Handshake ------------------------------------------------------------------------

TEST(PluginHandshake, CompatibleCoresLoadThePlugin) {
  struct Version {
    std::uint32_t major, minor, patch;
  };
  for (const Version version : {Version{18, 0, 0}, Version{18, 5, 0}, Version{18, 0, 7}}) {
    SCOPED_TRACE(std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
                 std::to_string(version.patch));
    Host::Host host(CoreOptions(version.major, version.minor, version.patch));
    ASSERT_THAT(host.Load(kPluginPath), Succeeded());
    EXPECT_THAT(host.PluginNames(), ElementsAre("tav-testplugin"));
  }
}

void LoadOnCore(std::uint32_t major, std::uint32_t minor, std::uint32_t patch) {
  Host::Host host(CoreOptions(major, minor, patch));
  // The export ends the process; the result is never seen.
  static_cast<void>(host.Load(kPluginPath));
}

TEST(PluginHandshakeDeathTest, IncompatibleCoreEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(LoadOnCore(17, 9, 9), "ALE-EECF0606");
  EXPECT_DEATH(LoadOnCore(19, 0, 0), "ALE-EECF0606");
}

// A host of its own: a second host loading the same shared object would find
// the first one's log target installed and leave logging as it is.
TEST(PluginInitialize, SubscribesTheServiceEventsAndLogsThroughTheCore) {
  Host::Host host;
  ASSERT_THAT(host.Load(kPluginPath), Succeeded());
  std::vector<std::string> subscriptions;
  for (const CoreCall& call : host.CoreCalls()) {
    if (call.entry == CoreEntry::Subscribe) {
      subscriptions.push_back(call.text + "/" + std::to_string(call.flags));
    }
  }
  EXPECT_THAT(subscriptions,
              ElementsAre("OnServiceProxyUuidEvent/1", "OnServiceProxyMethodEvent/1",
                          "OnServiceProxyAsyncEvent/1", "OnLcdsEvent_com_example_GameDTO/1"));

  // A runtime line reaches the core's log with its level.
  host.GetPeers().SendServiceProxyReply(Host::ServiceProxyKind::Async, Reply("", "svc", "m", ""));
  std::vector<std::string> errors;
  for (const Host::LogLine& line : host.LogLines()) {
    if (line.pluginHandle != 0 && line.level == NALO_LOG_ERROR) {
      errors.push_back(line.text);
    }
  }
  EXPECT_THAT(errors, ElementsAre("tav-testplugin: Could not find registered handler for async "
                                  "service proxy event svc.m"));
}

// --- Routes and publishing -------------------------------------------------------------

TEST_F(PluginRuntime, RoutesBindArgumentsAndPublishTheirResources) {
  const Host::Response posted = Call("POST", "/items", R"({"name":"a","count":2,"tags":["x"]})");
  EXPECT_EQ(posted.status, 204u) << posted.error;

  const Host::Response fetched = Call("GET", "/items/a");
  EXPECT_EQ(fetched.status, 200u);
  EXPECT_EQ(JsonText(fetched.body), R"({"count":2,"name":"a","tags":["x"]})");

  const Host::Response missing = Call("GET", "/items/b");
  EXPECT_EQ(missing.status, 404u);
  EXPECT_EQ(ErrorMessage(missing), "No item named b.");

  EXPECT_TRUE(Call("DELETE", "/items/a").Succeeded());

  // Nothing asked for the payloads yet: the host only kept their records.
  EXPECT_FALSE(mHost.PublishedEvents()[0].payload.IsRead());
  std::vector<std::string> events;
  for (const Host::PublishedEvent& event : mHost.PublishedEvents()) {
    events.push_back(event.name + " " + event.uri + " " + event.eventType);
  }
  EXPECT_THAT(
      events,
      ElementsAre("OnJsonApiEvent_tav-testplugin_v1_items /tav-testplugin/v1/items/a Create",
                  "OnJsonApiEvent /tav-testplugin/v1/items/a Create",
                  "OnJsonApiEvent_tav-testplugin_v1_items /tav-testplugin/v1/items/a Delete",
                  "OnJsonApiEvent /tav-testplugin/v1/items/a Delete"));
  EXPECT_EQ(JsonText(*mHost.PublishedEvents()[0].Data()), R"({"count":2,"name":"a","tags":["x"]})");
  EXPECT_TRUE(mHost.PublishedEvents()[2].Data() == nullptr ||
              mHost.PublishedEvents()[2].Data()->IsEmpty());
  // Each publication is read once by the host and shared by its two events.
  EXPECT_EQ(mHost.PublishedEvents()[0].payload, mHost.PublishedEvents()[1].payload);
  EXPECT_TRUE(mHost.PublishedEvents()[1].payload.IsRead());
  EXPECT_EQ(mHost.PublishedEvents()[2].payload, mHost.PublishedEvents()[3].payload);
  EXPECT_NE(mHost.PublishedEvents()[1].payload, mHost.PublishedEvents()[2].payload);
}

// The resource event's payload is built without copying the data into a
// Resource first; it must stay what converting that Resource gives, member
// for member and kind for kind.
TEST(ResourcePayload, IsTheConvertedResourceRecord) {
  BindingTypeRegistry registry;
  RegisterRuntimeTypes(registry);
  const auto describe = [](const NaloHostValue& record) {
    std::string text = std::to_string(record.kind) + ":";
    for (std::size_t i = 0; i < record.payload.object.count; ++i) {
      const NaloHostMember& member = record.payload.object.members[i];
      text += std::string(member.name) + "=" + std::to_string(member.value.kind) + ",";
    }
    return text + ToJson(FromHostValue(record, "payload").Value());
  };
  const struct {
    PluginResourceEventType type;
    const char* data;
  } cases[] = {
      {PluginResourceEventType::Create, R"({"phase":"Lobby","ids":[1,-2,3.5],"n":{"b":true}})"},
      {PluginResourceEventType::Update, R"("text")"},
      {PluginResourceEventType::Delete, nullptr},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.data == nullptr ? "empty" : each.data);
    const BindingProperty data = each.data == nullptr ? BindingProperty() : Json(each.data);
    const HostValue expected =
        ToHostValue(ToProperty(Resource{"/a/v1/b", each.type, data}, registry).Value(), registry);
    MaybeType<Failure, HostValue> built =
        detail::ResourcePayload("/a/v1/b", each.type, data, registry);
    ASSERT_TRUE(built.HasValue());
    EXPECT_EQ(describe(built.Value().Record()), describe(expected.Record()));
  }
}

// --- Subscriptions and delivery --------------------------------------------------------

TEST_F(PluginRuntime, SubscriptionsAreCountedPerEventName) {
  Call("POST", "/unsubscribe?uri=/peer/v1/item");  // never subscribed: changes nothing
  Call("POST", "/subscribe?uri=/peer/v1/item");
  Call("POST", "/subscribe?uri=/peer/v1/item/deeper");  // the same event name
  Call("POST", "/unsubscribe?uri=/peer/v1/item");
  EXPECT_THAT(Calls(CoreEntry::Unsubscribe), IsEmpty());
  Call("POST", "/unsubscribe?uri=/peer/v1/item");
  EXPECT_THAT(Calls(CoreEntry::Subscribe), ElementsAre("OnJsonApiEvent_peer_v1_item"));
  EXPECT_THAT(Calls(CoreEntry::Unsubscribe), ElementsAre("OnJsonApiEvent_peer_v1_item"));

  mHost.GetPeers().SetResource("/peer/v1/item", Json(R"({"name":"x","count":1})"));
  EXPECT_THAT(Journal(), IsEmpty());
}

TEST_F(PluginRuntime, ResourceEventsReachTypedExactAndPatternHandlers) {
  Call("POST", "/subscribe?uri=/peer/v1/item");
  Call("POST", "/subscribe?uri=/peer/v1/things");
  Host::Peers& peers = mHost.GetPeers();
  peers.SetResource("/peer/v1/item", Json(R"({"name":"x","count":3})"));
  peers.SetResource("/peer/v1/item", Json(R"({"name":"x","count":4})"));
  peers.SetResource("/peer/v1/item", Json(R"("not an item")"));  // doesn't convert: skipped
  peers.PublishResource("peer/v1/item", Json(R"({"name":"y","count":5})"));  // no leading "/"
  peers.DeleteResource("/peer/v1/item");
  peers.SetResource("/peer/v1/things/a", Json("1"));
  peers.SetResource("/peer/v1/things/b", Json("2"));
  peers.SetResource("/peer/v1/things/b/c", Json("3"));  // "*" stops at "/"
  peers.DeleteResource("/peer/v1/things/a");

  EXPECT_THAT(Journal(),
              ElementsAre("item /peer/v1/item Create x/3", "item /peer/v1/item Update x/4",
                          "item /peer/v1/item Update y/5", "item /peer/v1/item Delete -",
                          "exact /peer/v1/things/a Create 1", "pattern /peer/v1/things/a Create",
                          "pattern /peer/v1/things/b Create", "exact /peer/v1/things/a Delete -",
                          "pattern /peer/v1/things/a Delete"));
}

TEST_F(PluginRuntime, LcdsMessagesRunAsTasks) {
  mHost.GetPeers().PushLcds("com.example.GameDTO", Json(R"({"gameId":7,"gameState":"START"})"));
  mHost.GetPeers().PushLcds("com.example.GameDTO", Json(R"("not a game")"));  // dropped
  EXPECT_THAT(Journal(), ElementsAre("lcds game 7 START"));
  std::vector<std::string> tasks;
  for (const CoreCall& call : mHost.CoreCalls()) {
    if (call.entry == CoreEntry::PostTask && call.pluginHandle != 0) {
      tasks.push_back(call.text + " " + std::to_string(call.delaySeconds));
    }
  }
  EXPECT_THAT(tasks, ElementsAre("Event: OnLcdsEvent (com.example.GameDTO) 0.000000",
                                 "Event: OnLcdsEvent (com.example.GameDTO) 0.000000"));
}

TEST_F(PluginRuntime, ServiceProxyRepliesWaitForTheirRequest) {
  Host::Peers& peers = mHost.GetPeers();
  peers.SendServiceProxyReply(Host::ServiceProxyKind::Uuid, Reply("a1", "", "", "one"));
  Call("POST", "/service-proxy/pending?key=a1");
  Call("POST", "/service-proxy/pending?key=svc.m");
  EXPECT_THAT(Journal(), IsEmpty());  // pairing runs only when a reply arrives

  // The next reply's pass pairs the stored a1 (first in key order) and stops,
  // leaving svc.m for a later pass.
  peers.SendServiceProxyReply(Host::ServiceProxyKind::Method, Reply("", "svc", "m", "two"));
  EXPECT_THAT(Journal(), ElementsAre("proxy a1 one"));
  EXPECT_EQ(Call("GET", "/service-proxy/stored").body.AsUnsigned(), 1u);
  EXPECT_THAT(PluginLogLines(NALO_LOG_ALWAYS),
              ElementsAre("tav-testplugin: Fulfilled service proxy request: a1"));

  peers.SendServiceProxyReply(Host::ServiceProxyKind::Uuid, Reply("z9", "", "", "three"));
  EXPECT_THAT(Journal(), ElementsAre("proxy a1 one", "proxy svc.m two"));
  EXPECT_EQ(Call("GET", "/service-proxy/stored").body.AsUnsigned(), 1u);  // z9 waits
}

// --- Requests ---------------------------------------------------------------------------

TEST_F(PluginRuntime, TypedRequestsReadAndConvertTheBody) {
  mHost.GetPeers().SeedResource("/peer/v1/item", Json(R"({"name":"n","count":9,"tags":[]})"));
  const Host::Response item = Call("GET", "/fetch-item?path=/peer/v1/item");
  EXPECT_EQ(JsonText(item.body), R"({"count":9,"name":"n","tags":[]})") << item.error;

  const Host::Response put = Call("POST", "/put-item?path=/peer/v1/other", R"({"name":"p"})");
  EXPECT_TRUE(put.Succeeded()) << put.error;
  ASSERT_TRUE(mHost.GetPeers().Resource("/peer/v1/other").has_value());
  EXPECT_EQ(JsonText(*mHost.GetPeers().Resource("/peer/v1/other")),
            R"({"count":0,"name":"p","tags":[]})");
}

TEST_F(PluginRuntime, RequestFailuresNameTheMethodAndUrl) {
  mHost.GetPeers().InjectFault("/peer/v1/item", 1, 404, "Nothing here.");
  const Host::Response missing = Call("GET", "/fetch?path=/peer/v1/item");
  EXPECT_EQ(missing.status, 404u);
  EXPECT_EQ(ErrorMessage(missing), "Error response for GET /peer/v1/item: Nothing here.");

  mHost.GetPeers().SeedResource("/peer/v1/list", Json("[1,2]"));
  const Host::Response wrongShape = Call("GET", "/fetch-item?path=/peer/v1/list");
  EXPECT_EQ(wrongShape.status, 500u);
  EXPECT_EQ(ErrorMessage(wrongShape),
            "Error converting response for GET /peer/v1/list: Couldn't assign value to '<result>' "
            "of type TavTestpluginItem because the input not a structure.");

  const Host::Response notJson = Call("GET", "/fetch-fake?text=not%20json");
  EXPECT_EQ(ErrorMessage(notJson),
            "Error reading streamed response for GET /peer/v1/fake: Error: Invalid value. at "
            "offset 1.");
  const Host::Response unreadable = Call("GET", "/fetch-fake?text=x&failRead=true");
  EXPECT_EQ(ErrorMessage(unreadable),
            "Error reading streamed response for GET /peer/v1/fake: Stream read error");
  // The stream is closed once whether reading worked or not.
  EXPECT_THAT(Journal(), ElementsAre("fake stream closed", "fake stream closed"));
}

class StreamedPluginRuntime : public PluginRuntime {
 protected:
  StreamedPluginRuntime() : PluginRuntime(Options()) {}
  static Host::HostOptions Options() {
    Host::HostOptions options;
    options.streamPieceSize = 10;
    return options;
  }
};

TEST_F(StreamedPluginRuntime, ShortPiecesYieldToTheCoreBetweenReads) {
  // 32 characters of JSON text: pieces of 10, 10, 10 and 2 bytes.
  mHost.GetPeers().SeedResource("/peer/v1/text", Json(R"("abcdefghijklmnopqrstuvwxyz1234")"));
  const Host::Response text = Call("GET", "/fetch?path=/peer/v1/text");
  EXPECT_EQ(text.body, Json(R"("abcdefghijklmnopqrstuvwxyz1234")")) << text.error;
  EXPECT_THAT(WaitCalls(), ElementsAre("begin Wait: yield", "pump", "end", "begin Wait: yield",
                                       "pump", "end", "begin Wait: yield", "pump", "end"));
}

// --- LCDS ---------------------------------------------------------------------------------

TEST_F(PluginRuntime, LcdsCallsTagArgumentsAndCheckTheReplyClass) {
  Host::Peers& peers = mHost.GetPeers();
  peers.SetLcdsAnswer("gameService", "getGame",
                      Answer("com.example.GameDTO", R"({"gameId":5,"gameState":"IN_PROGRESS",
                                                        "players":[{"name":"p1"}]})"));
  const Host::Response game = Call("GET", "/lcds/game?id=5");
  EXPECT_EQ(game.body, Json(R"({"gameId":5,"gameState":"IN_PROGRESS","players":[{"name":"p1"}]})"))
      << game.error;
  ASSERT_EQ(peers.LcdsCalls().size(), 1u);
  EXPECT_EQ(peers.LcdsCalls()[0].destination, "gameService");
  EXPECT_EQ(peers.LcdsCalls()[0].method, "getGame");
  // The query type has no class name, its nested participant has; a plain
  // text is sent as it is.
  EXPECT_EQ(peers.LcdsCalls()[0].arguments,
            Json(R"([{"gameId":5,"requester":{"__class":"com.example.Participant","name":"tester"}},
                     "plain"])"));

  peers.SetLcdsAnswer("gameService", "getGame", Answer("com.example.Other", R"({"gameId":"x"})"));
  EXPECT_EQ(ErrorMessage(Call("GET", "/lcds/game?id=5")),
            "Expected 'com.example.GameDTO' as LCDS response for gameService.getGame, but got "
            "'com.example.Other'");

  // The body is shown with its keys and tokens redacted, at any depth.
  peers.SetLcdsAnswer("gameService", "getGame",
                      Answer("com.example.GameDTO", R"({"gameId":"x","encryptionKey":"s3cret",
                                                        "players":[{"authToken":"t0ken"}]})"));
  EXPECT_EQ(ErrorMessage(Call("GET", "/lcds/game?id=5")),
            R"(Couldn't convert LCDS DTO TestLcdsGameDTO to C++ from {"encryptionKey":"<redacted>",)"
            R"("gameId":"x","players":[{"authToken":"<redacted>"}]})");

  Host::LcdsAnswer refusal;
  refusal.failure = Failure(403, "Refused.");
  peers.SetLcdsAnswer("gameService", "ack", refusal);
  const Host::Response refused = Call("POST", "/lcds/ack?text=hi");
  EXPECT_EQ(refused.status, 403u);
  EXPECT_EQ(ErrorMessage(refused),
            "Error response for POST /tav-login/v1/session/invoke: Refused.");
}

// --- Await, tasks and timers ---------------------------------------------------------------

TEST_F(PluginRuntime, AwaitPumpsOnlyWhileTheFutureIsNotReady) {
  EXPECT_TRUE(Call("GET", "/await?pumps=0").Succeeded());
  EXPECT_THAT(WaitCalls(), IsEmpty());

  EXPECT_TRUE(Call("GET", "/await?pumps=3").Succeeded());
  EXPECT_THAT(
      WaitCalls(),
      ElementsAre("begin Wait: future<Nalo::MaybeType<Nalo::Failure, Nalo::BindingProperty>>",
                  "pump", "pump", "pump", "end"));
}

void AwaitBrokenPromise() {
  // After Initialize the plugin logs only to the core; the host echoes its
  // lines to standard error, where the death test reads the report.
  Host::HostOptions options;
  options.logEcho = [](std::string_view line) { std::cerr << line << std::endl; };
  Host::Host host(options);
  ASSERT_THAT(host.Load(kPluginPath), Succeeded());
  host.Request("GET", Path("/await-broken"));
}

TEST(PluginRuntimeDeathTest, AwaitOnABrokenPromiseEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(AwaitBrokenPromise(), "ALE-6D828C10");
}

TEST_F(PluginRuntime, TasksRunOnceInDeadlineThenPostingOrder) {
  Call("POST", "/tasks?label=late&delay=2");
  Call("POST", "/tasks?label=first&delay=1");
  Call("POST", "/tasks?label=second&delay=1");
  Call("POST", "/tasks?label=past&delay=-5");
  // Never inside PostTask: the past task ran after the route returned.
  EXPECT_THAT(Journal(), ElementsAre("task past"));
  std::vector<double> delays;
  for (const CoreCall& call : mHost.CoreCalls()) {
    if (call.entry == CoreEntry::PostTask && call.text == "past") {
      delays.push_back(call.delaySeconds);
    }
  }
  EXPECT_THAT(delays, ElementsAre(0.0));
  AdvanceSeconds(0.9);
  EXPECT_THAT(Journal(), ElementsAre("task past"));
  AdvanceSeconds(5);
  EXPECT_THAT(Journal(), ElementsAre("task past", "task first", "task second", "task late"));
}

TEST_F(PluginRuntime, ATaskThatThrowsIsLoggedAndTheNextOneRuns) {
  Call("POST", "/tasks?label=bad&delay=1&mode=throw");
  Call("POST", "/tasks?label=good&delay=1");
  AdvanceSeconds(1);
  EXPECT_THAT(Journal(), ElementsAre("task good"));
  EXPECT_THAT(PluginLogLines(NALO_LOG_ERROR),
              ElementsAre("tav-testplugin: a task ended with an exception: the task bad failed"));
}

TEST_F(PluginRuntime, TimersRepeatUntilSetAgainOrRemoved) {
  Call("POST", "/timers/t?interval=2");
  Call("POST", "/timers/t?interval=5");  // voids the 2-second schedule
  AdvanceSeconds(4.9);
  EXPECT_THAT(Journal(), IsEmpty());
  AdvanceSeconds(0.2);
  EXPECT_THAT(Journal(), ElementsAre("timer t"));
  AdvanceSeconds(5);
  EXPECT_THAT(Journal(), ElementsAre("timer t", "timer t"));

  Call("DELETE", "/timers/t");
  AdvanceSeconds(10);
  EXPECT_THAT(Journal(), ElementsAre("timer t", "timer t"));
  EXPECT_THAT(PluginLogLines(NALO_LOG_WARN),
              ElementsAre("tav-testplugin: Couldn't find timer named t"));
}

TEST_F(PluginRuntime, ATimerCallableMayReplaceOrRemoveItsOwnTimer) {
  Call("POST", "/timers/r?interval=1&mode=reset-self");
  Call("POST", "/timers/x?interval=1&mode=remove-self");
  AdvanceSeconds(1.05);
  EXPECT_THAT(Journal(), ElementsAre("timer r", "timer x"));
  AdvanceSeconds(1.9);  // the new 2-second schedule of r is not due yet; x is gone
  EXPECT_THAT(Journal(), ElementsAre("timer r", "timer x"));
  AdvanceSeconds(0.2);
  AdvanceSeconds(2);
  EXPECT_THAT(Journal(), ElementsAre("timer r", "timer x", "timer r again", "timer r again"));
  EXPECT_THAT(PluginLogLines(NALO_LOG_WARN), IsEmpty());
}

// A removed timer's firing that the core still holds stays void even when a
// timer of the same name is set again before it comes; only the removal of
// a timer with nothing set in its place is logged.
TEST_F(PluginRuntime, AnOldFiringOfATimerSetAgainAfterRemovalDoesNothing) {
  Call("POST", "/timers/t?interval=1");
  AdvanceSeconds(0.5);
  Call("DELETE", "/timers/t");
  Call("POST", "/timers/t?interval=2");  // due at 2.5
  AdvanceSeconds(0.6);                   // the old firing comes at 1
  EXPECT_THAT(Journal(), IsEmpty());
  AdvanceSeconds(1.45);
  EXPECT_THAT(Journal(), ElementsAre("timer t"));
  AdvanceSeconds(2);
  EXPECT_THAT(Journal(), ElementsAre("timer t", "timer t"));
  EXPECT_THAT(PluginLogLines(NALO_LOG_WARN), IsEmpty());
  Call("DELETE", "/timers/t");
  AdvanceSeconds(5);
  EXPECT_THAT(PluginLogLines(NALO_LOG_WARN),
              ElementsAre("tav-testplugin: Couldn't find timer named t"));
}

// A timer keeps one task record and one label: firing it allocates nothing.
TEST_F(PluginRuntime, ATimersFiringsAllocateNothing) {
  Call("POST", "/timers/q?interval=1&mode=quiet");
  AdvanceSeconds(1.05);
  const auto allocations = [this] {
    const auto words = mHost.MemoryStatistics("tav-testplugin");
    return words.has_value() ? (std::uint64_t{(*words)[7]} << 32) | (*words)[6] : 0;
  };
  const std::uint64_t before = allocations();
  AdvanceSeconds(10);
  EXPECT_EQ(allocations(), before);
  const std::vector<std::string> posts = Calls(CoreEntry::PostTask);
  // Set, then posted again after each of 11 firings.
  EXPECT_EQ(std::count(posts.begin(), posts.end(), "Timer: q"), 12);
}

// A timer that is always due would keep the core at one instant: its
// interval is refused where it is set, and an earlier timer of the name
// stays. A task that keeps posting itself is stopped by the host's clock.
TEST_F(PluginRuntime, TimersThatWouldNeverLetGoAreRefusedAndTheClockIsBounded) {
  Call("POST", "/timers/t?interval=1");
  for (const std::string_view interval : {"0", "-1", "1e-12", "nan"}) {
    SCOPED_TRACE(interval);
    const Host::Response response = Call("POST", "/timers/t?interval=" + std::string(interval));
    EXPECT_EQ(response.status, 400u);
    EXPECT_THAT(response.error, ::testing::HasSubstr("The timer t needs an interval above 0 "
                                                     "seconds, not " +
                                                     std::string(interval) + "."));
  }
  AdvanceSeconds(1.05);
  EXPECT_THAT(Journal(), ElementsAre("timer t"));
  EXPECT_FALSE(mHost.TakeStall().has_value());

  Call("POST", "/tasks?label=spin&delay=0&mode=repost");
  const std::optional<std::string> stall = mHost.TakeStall();
  ASSERT_TRUE(stall.has_value());
  EXPECT_THAT(*stall, ::testing::HasSubstr("the last of them \"spin\""));
  EXPECT_EQ(mHost.LogLines().back().text, *stall);  // the host's own ERROR line
  AdvanceSeconds(1);                                // the chain is over, the timer goes on
  EXPECT_THAT(Journal(), ElementsAre("timer t", "timer t"));
}

// In virtual time the plugin reads the host's clocks: a delay posted at t
// runs at exactly t + d, and the wall clock moves with virtual time from
// the one the host sets.
TEST_F(PluginRuntime, ThePluginsClocksFollowTheHostsVirtualTime) {
  const auto clocks = [this] {
    const Host::Response response = Call("GET", "/clock");
    return std::pair(response.body.Elements()[0].AsUnsigned(),
                     response.body.Elements()[1].AsUnsigned());
  };
  AdvanceSeconds(1.25);
  EXPECT_EQ(clocks(),
            std::pair(std::uint64_t{1'250'000'000}, Host::kDefaultWallClockAtStart + 1'250));
  Call("POST", "/tasks?label=d&delay=2.5&mode=timed");
  Call("POST", "/tasks?label=e&delay=0.002&mode=timed");
  AdvanceSeconds(3);
  EXPECT_THAT(Journal(), ElementsAre("task e at 1252000000", "task d at 3750000000"));

  mHost.SetWallClock(1'800'000'000'000);
  EXPECT_EQ(clocks().second, 1'800'000'000'000u);
  AdvanceSeconds(60);
  EXPECT_EQ(clocks(), std::pair(std::uint64_t{64'250'000'000}, std::uint64_t{1'800'000'060'000}));
}

// A plugin that waits for what never comes ends the process with a line
// naming the wait, instead of hanging whatever runs it.
TEST(PluginRuntimeDeathTest, AWaitThatNeverEndsEndsTheProcess) {
  EXPECT_EXIT(
      {
        Host::HostOptions options;
        options.waitLimit = std::chrono::milliseconds(50);
        Host::Host host(options);
        static_cast<void>(host.Load(kPluginPath));
        host.Request("GET", "/tav-testplugin/v1/await?pumps=4000000000");
      },
      ::testing::ExitedWithCode(3),
      "The plugin tav-testplugin has waited more than 50 ms \\(\"Wait: future<.*>\"\\) for "
      "something that never comes");
}

TEST_F(PluginRuntime, NothingRunsAfterTheTablesAreShutDown) {
  Call("POST", "/subscribe?uri=/peer/v1/item");
  Call("POST", "/tasks?label=pending&delay=1");
  Call("POST", "/timers/t?interval=1");
  Call("POST", "/shutdown-tables");
  EXPECT_THAT(Calls(CoreEntry::Unsubscribe),
              ::testing::IsSupersetOf({"OnJsonApiEvent_peer_v1_item", "OnServiceProxyUuidEvent",
                                       "OnLcdsEvent_com_example_GameDTO"}));
  AdvanceSeconds(3);
  mHost.GetPeers().SetResource("/peer/v1/item", Json(R"({"name":"x"})"));
  EXPECT_THAT(Journal(), IsEmpty());
  EXPECT_THAT(PluginLogLines(NALO_LOG_WARN), IsEmpty());
}

// --- Telemetry and memory ------------------------------------------------------------------

TEST_F(PluginRuntime, TelemetryPostsTheEventAndCarriesFailures) {
  EXPECT_TRUE(Call("POST", "/telemetry/a.b", R"({"delay":3})").Succeeded());
  ASSERT_EQ(mHost.GetPeers().Telemetry().size(), 1u);
  EXPECT_EQ(mHost.GetPeers().Telemetry()[0].name, "a.b");
  EXPECT_EQ(mHost.GetPeers().Telemetry()[0].data, Json(R"({"delay":3})"));

  mHost.GetPeers().InjectFault("/telemetry/v1/events/a.b", 1, 503, "Busy.");
  const Host::Response failed = Call("POST", "/telemetry/a.b", R"({})");
  EXPECT_EQ(failed.status, 503u);
  EXPECT_EQ(ErrorMessage(failed), "Error response for POST /telemetry/v1/events/a.b: Busy.");
}

TEST_F(PluginRuntime, MemoryStatisticsCountThePluginsAllocations) {
  const BindingProperty probe = Call("GET", "/memory-probe").body;
  // One block of at least 100 usable bytes, allocated and freed.
  EXPECT_GE(probe.Find("bytesAllocated")->AsUnsigned(), 100u);
  EXPECT_LT(probe.Find("bytesAllocated")->AsUnsigned(), 100u + 32u);
  EXPECT_EQ(probe.Find("bytesFreed")->AsUnsigned(), probe.Find("bytesAllocated")->AsUnsigned());
  EXPECT_EQ(probe.Find("allocations")->AsUnsigned(), 1u);
  EXPECT_EQ(probe.Find("frees")->AsUnsigned(), 1u);

  const auto words = mHost.MemoryStatistics("tav-testplugin");
  ASSERT_TRUE(words.has_value());
  ASSERT_EQ(words->size(), 14u);
  const auto counter = [&](std::size_t index) {
    return (std::uint64_t{(*words)[2 * index + 1]} << 32) | (*words)[2 * index];
  };
  EXPECT_GT(counter(3), 0u);                       // allocations
  EXPECT_GE(counter(2), counter(4));               // bytes allocated >= bytes freed
  EXPECT_GE(counter(0), counter(2) - counter(4));  // peak >= in use
  EXPECT_EQ((*words)[12], 0u);
  EXPECT_EQ((*words)[13], 0u);

  // The JSON writer's buffers are counted too, not only the text it returns.
  const BindingProperty json = Call("GET", "/memory-probe/json?length=50000").body;
  const std::uint64_t textLength = json.Find("textLength")->AsUnsigned();
  EXPECT_EQ(textLength, 100002u);
  EXPECT_GE(json.Find("bytesAllocated")->AsUnsigned(), 2 * textLength);
}

}  // namespace
}  // namespace Nalo
