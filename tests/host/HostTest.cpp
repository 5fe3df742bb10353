// The host driving a real shared object: the C fixture plugin.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "binding/Json.h"
#include "host/core/Host.h"
#include "host/core/src/PluginLibrary.h"
#include "host/peers/Peers.h"

namespace Nalo::Host {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> FixtureLines(const Host& host) {
  std::vector<std::string> lines;
  for (const LogLine& line : host.LogLines()) {
    if (line.text.starts_with("fixture: ")) {
      lines.push_back(line.text.substr(9));
    }
  }
  return lines;
}

std::vector<std::string> Entries(const Host& host, CoreEntry entry) {
  std::vector<std::string> texts;
  for (const CoreCall& call : host.CoreCalls()) {
    if (call.entry == entry) {
      texts.push_back(call.text);
    }
  }
  return texts;
}

BindingProperty Text(std::string_view text) {
  BindingProperty value;
  value.SetString(text);
  return value;
}

struct RefusalCase {
  const char* path;
  std::string_view message;
};

TEST(HostLoading, RefusesObjectsThatAreNoCompletePlugin) {
  const RefusalCase cases[] = {
      {FIXTURE_NO_EXPORT_PLUGIN, "has no export \"load_<short name>\"; it is not a plugin."},
      {FIXTURE_INCOMPLETE_PLUGIN,
       "left its registration record incomplete: the route description is missing."},
      {"/nonexistent/libnothing.so", "Couldn't open the plugin /nonexistent/libnothing.so: "},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.path);
    Host host;
    auto loaded = host.Load(c.path);
    ASSERT_TRUE(loaded.HasFailure());
    EXPECT_EQ(loaded.GetFailure().Code(), 500u);
    EXPECT_THAT(std::string(loaded.GetFailure().Message()), HasSubstr(c.message));
    EXPECT_TRUE(host.PluginNames().empty());
  }
}

// Truncated copies of a plugin: the search for the export reads only what is
// there. Copies too short for their headers are refused by the loader; longer
// ones are not handed to it, since the system loader maps segments beyond the
// end of a file and faults on them.
TEST(HostLoading, ReadsTruncatedObjectsSafely) {
  std::ifstream source(FIXTURE_PLUGIN, std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(source)),
                          std::istreambuf_iterator<char>());
  ASSERT_GT(image.size(), 4096u);
  EXPECT_THAT(detail::ExportedFunctions(FIXTURE_PLUGIN, "load_"), ElementsAre("load_hostfixture"));
  const std::string path = ::testing::TempDir() + "libtruncated.so";
  for (const std::size_t length : {std::size_t{0}, std::size_t{16}, std::size_t{64},
                                   image.size() / 2, image.size() - 40, image.size() - 1}) {
    SCOPED_TRACE(length);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(image.data(), static_cast<std::streamsize>(length));
    const std::vector<std::string> names = detail::ExportedFunctions(path, "load_");
    EXPECT_LE(names.size(), 1u);
    if (length <= 64) {
      EXPECT_THAT(names, ::testing::IsEmpty());
      Host host;
      auto loaded = host.Load(path);
      ASSERT_TRUE(loaded.HasFailure());
      EXPECT_EQ(loaded.GetFailure().Code(), 500u);
    }
  }
  std::remove(path.c_str());
}

TEST(HostLoading, HandshakeOffersTheConfiguredCoreVersion) {
  HostOptions newer;
  newer.coreMinor = 5;
  Host host(newer);
  ASSERT_FALSE(host.Load(FIXTURE_PLUGIN).HasFailure());
  EXPECT_THAT(host.PluginNames(), ElementsAre("hostfixture"));
  EXPECT_THAT(FixtureLines(host), ElementsAre("initialized"));
  EXPECT_EQ(host.MemoryStatistics("hostfixture")->at(13), 13u);
  EXPECT_THAT(Entries(host, CoreEntry::Subscribe),
              ElementsAre("OnJsonApiEvent_peer_v1_thing", "OnLcdsEvent_com_example_Game"));
}

TEST(HostLoadingDeathTest, AnIncompatibleCoreEndsTheProcessInsideTheExport) {
  HostOptions older;
  older.coreMajor = 17;
  EXPECT_DEATH(
      {
        Host host(older);
        static_cast<void>(host.Load(FIXTURE_PLUGIN));
      },
      "ALE-EECF0606");
}

class HostWithFixture : public ::testing::Test {
 protected:
  void Load(HostOptions options = {}) {
    mHost = std::make_unique<Host>(std::move(options));
    ASSERT_FALSE(mHost->Load(FIXTURE_PLUGIN).HasFailure());
  }
  Host& TheHost() { return *mHost; }

 private:
  std::unique_ptr<Host> mHost;
};

TEST_F(HostWithFixture, RequestsReachThePluginsRoutesOrThePeers) {
  Load();
  const Response echoed = TheHost().Request("POST", "/hostfixture/v1/echo", "hello");
  EXPECT_EQ(echoed.status, 200u);
  EXPECT_EQ(echoed.body.StringValue(), "hello");
  const Response unknown = TheHost().Request("GET", "/hostfixture/v1/nothing");
  EXPECT_EQ(unknown.status, 404u);
  EXPECT_EQ(unknown.error, "Invalid function");
  // Not the plugin's: the resource peer answers.
  EXPECT_EQ(TheHost().Request("GET", "/hostfixture2/v1/echo").error,
            "No value at /hostfixture2/v1/echo.");
}

TEST_F(HostWithFixture, ResponseBodiesArriveInPiecesAndThePluginYieldsBetweenThem) {
  HostOptions options;
  options.streamPieceSize = 5;
  Load(options);
  TheHost().GetPeers().SeedResource("/peer/v1/thing", Text("abcdefghijkl"));  // 14 bytes of JSON
  const Response fetched = TheHost().Request("GET", "/hostfixture/v1/fetch?/peer/v1/thing");
  EXPECT_EQ(fetched.body.StringValue(), "3:\"abcdefghijkl\"");
  EXPECT_THAT(Entries(TheHost(), CoreEntry::BeginWait), ElementsAre("Wait: yield", "Wait: yield"));
  EXPECT_EQ(Entries(TheHost(), CoreEntry::Pump).size(), 2u);
  EXPECT_EQ(Entries(TheHost(), CoreEntry::EndWait).size(), 2u);
  EXPECT_THAT(Entries(TheHost(), CoreEntry::Request), ElementsAre("GET /peer/v1/thing"));
}

TEST_F(HostWithFixture, EventsFanOutToSubscribersOnly) {
  Load();
  Peers& peers = TheHost().GetPeers();
  peers.SetResource("/peer/v1/thing/a", Text("1"));
  peers.SetResource("/peer/v1/thing/a", Text("2"));
  peers.SetResource("/peer/v1/other", Text("3"));
  peers.DeleteResource("/peer/v1/thing/a");
  peers.PushLcds("com.example.Game", Text("{}"));
  peers.PushLcds("com.example.Other", Text("{}"));
  EXPECT_THAT(
      FixtureLines(TheHost()),
      ElementsAre("initialized", "event OnJsonApiEvent_peer_v1_thing /peer/v1/thing/a Create",
                  "event OnJsonApiEvent_peer_v1_thing /peer/v1/thing/a Update",
                  "event OnJsonApiEvent_peer_v1_thing /peer/v1/thing/a Delete",
                  "event OnLcdsEvent_com_example_Game com.example.Game "));
}

// The fixture builds every publication in the same stack block: a record
// at the same address is read again unless what it holds is the same.
TEST_F(HostWithFixture, ARecordAtTheAddressOfTheLastOneIsReadForWhatItHolds) {
  Load();
  for (const char* body : {"first", "other", "other", ""}) {
    EXPECT_EQ(TheHost().Request("POST", "/hostfixture/v1/publish", body).status, 204u);
  }
  std::vector<std::string> data;
  for (const PublishedEvent& event : TheHost().PublishedEvents()) {
    EXPECT_EQ(event.name, "OnJsonApiEvent_hostfixture_v1_value");
    EXPECT_EQ(event.uri, "/hostfixture/v1/value");
    EXPECT_EQ(event.senderHandle, 1u);
    ASSERT_NE(event.Data(), nullptr);
    data.push_back(event.eventType + " " + std::string(event.Data()->StringValue()));
  }
  EXPECT_THAT(data, ElementsAre("Create first", "Create other", "Create other", "Create "));
}

TEST_F(HostWithFixture, AWaitThatFindsNothingDueLetsVirtualTimePass) {
  Load();
  const Response woke = TheHost().Request("GET", "/hostfixture/v1/wait");
  EXPECT_EQ(woke.body.StringValue(), "woke");
  EXPECT_EQ(TheHost().NowNanoseconds(), 10'000'000'000u);
  EXPECT_THAT(Entries(TheHost(), CoreEntry::BeginWait), ElementsAre("Wait: future<fixture>"));
}

TEST_F(HostWithFixture, ShutdownCancelsThePluginsTasks) {
  Load();
  EXPECT_EQ(TheHost().Request("POST", "/hostfixture/v1/later?5").status, 204u);
  TheHost().Shutdown();
  EXPECT_EQ(TheHost().PendingTaskCount(), 0u);
  EXPECT_THAT(Entries(TheHost(), CoreEntry::Unsubscribe),
              ElementsAre("OnJsonApiEvent_peer_v1_thing", "OnLcdsEvent_com_example_Game"));
  EXPECT_EQ(TheHost().Request("GET", "/hostfixture/v1/echo").status, 404u);
}

TEST_F(HostWithFixture, FaultsAnswerForThePluginsRoutesTooWithoutReachingThePlugin) {
  Load();
  TheHost().GetPeers().InjectFault("/hostfixture/v1/echo", 1, 500, "Plugin down.");
  const Response faulty = TheHost().Request("POST", "/hostfixture/v1/echo", "hello");
  EXPECT_EQ(faulty.status, 500u);
  EXPECT_EQ(faulty.error, "Plugin down.");
  EXPECT_TRUE(Entries(TheHost(), CoreEntry::Request).empty());
  EXPECT_TRUE(TheHost().GetPeers().Requests().empty());
  EXPECT_EQ(TheHost().Request("POST", "/hostfixture/v1/echo", "again").body.StringValue(), "again");
}

}  // namespace
}  // namespace Nalo::Host
